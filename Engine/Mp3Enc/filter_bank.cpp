// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/filter_bank.h"

#include <cmath>
#include <mutex>
#include <new>

#include "mp3enc/vector_math.h"

namespace quillion::mp3enc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Cosine tables filled once per process; several encoders may start on several threads.
struct Trig {
  float matrix[32][32];     // cos((2i+1) n pi / 64): the 32-point DCT-III
  float longCos[18][36];    // cos(pi/72 (2i+19)(2k+1)) / 9
  float shortCos[6][12];    // cos(pi/24 (2i+7)(2k+1)) / 3
  float windows[4][36];
};

const Trig& trig() {
  static std::once_flag once;
  static Trig t;
  std::call_once(once, [] {
    for (int i = 0; i < 32; ++i) {
      for (int n = 0; n < 32; ++n) t.matrix[i][n] = static_cast<float>(std::cos((2 * i + 1) * n * kPi / 64));
    }
    for (int k = 0; k < 18; ++k) {
      for (int i = 0; i < 36; ++i) {
        t.longCos[k][i] = static_cast<float>(std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1)) / 9);
      }
    }
    for (int k = 0; k < 6; ++k) {
      for (int i = 0; i < 12; ++i) {
        t.shortCos[k][i] = static_cast<float>(std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1)) / 3);
      }
    }
    for (int i = 0; i < 36; ++i) {
      const double longSin = std::sin(kPi / 36 * (i + 0.5));
      t.windows[0][i] = static_cast<float>(longSin);
      t.windows[1][i] = static_cast<float>(i < 18 ? longSin : i < 24 ? 1.0 : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5)) : 0.0);
      t.windows[2][i] = static_cast<float>(i < 12 ? std::sin(kPi / 12 * (i + 0.5)) : 0.0);
      t.windows[3][i] = static_cast<float>(i < 6 ? 0.0 : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : longSin);
    }
  });
  return t;
}

// 32-point DCT-III: S_i = sum of u_n cos((2i+1) n pi / 64).
void fctIII(const float* u, float* s) {
  const Trig& t = trig();
  for (int i = 0; i < 32; ++i) s[i] = dotFLOAT(t.matrix[i], u, 32);
}

}  // namespace

const float c_signal[8] = {0.85749293f, 0.88174200f, 0.94962865f, 0.98331459f,
                           0.99551782f, 0.99916056f, 0.99989920f, 0.99999316f};
const float c_alias[8] = {-0.51449576f, -0.47173197f, -0.31337745f, -0.18191320f,
                          -0.09457419f, -0.04096558f, -0.01419857f, -0.00369997f};

const PolyAnalyseFunc PolyAnalyse = PolyAnalyse_NoOpt;

int PolyPhaseNew(PolyPhaseState** state) {
  if (!state) return 1;
  *state = nullptr;
  auto* s = new (std::nothrow) PolyPhaseState;
  if (!s) return 1;
  s->history = makeAlignedArray<float>(512);
  s->window = makeAlignedArray<float>(512);
  if (!s->history || !s->window) {
    PolyPhaseDelete(s);
    return 1;
  }
  *state = s;
  return 0;
}

void PolyPhaseDelete(PolyPhaseState* state) { delete state; }

int PolyPhaseInit(PolyPhaseState* state) {
  if (!state || !state->history || !state->window) return 1;
  setFLOAT(0.0f, state->history.get(), 512);
  for (int i = 0; i < 512; ++i) state->window[i] = static_cast<float>(anaWindowTable()[i]);
  state->writePos = 0;
  return 0;
}

int PolyAnalyse_NoOpt(PolyPhaseState* state, const float* input, float* transform) {
  float* x = state->history.get();
  const float* c = state->window.get();
  for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
    // Newest sample first, so that sample k back sits at (writePos + k) mod 512.
    for (int i = 0; i < 32; ++i) x[state->writePos + i] = input[2 * (32 * slot + 31 - i)];
    float y[64];
    for (int k = 0; k < 64; ++k) {
      float sum = 0.0f;
      for (int j = 0; j < 8; ++j) {
        const int idx = k + 64 * j;
        sum += c[idx] * x[(state->writePos + idx) & 511];
      }
      y[k] = sum;
    }
    // Fold the 64 sums onto the 32 inputs of the DCT-III (Y_48 has weight 0).
    float u[32];
    u[0] = y[16];
    for (int m = 1; m < 16; ++m) u[m] = y[16 - m] + y[16 + m];
    u[16] = y[0] + y[32];
    for (int m = 1; m < 16; ++m) u[16 + m] = y[32 + m] - y[64 - m];
    float s[32];
    fctIII(u, s);
    for (int sb = 0; sb < kSubbands; ++sb) {
      // Odd subbands are frequency-inverted; negating their odd slots turns them upright for the MDCT.
      const bool invert = (sb & 1) && (slot & 1);
      transform[36 * sb + 18 + slot] = invert ? -s[sb] : s[sb];
    }
    state->writePos = (state->writePos - 32) & 511;
  }
  return 1;
}

int InitTransform(float* transform) {
  setFLOAT(0.0f, transform, kTransformFloats);
  return 0;
}

int ShiftTransformBuffer(float* transform) {
  for (int sb = 0; sb < kSubbands; ++sb) copyFLOAT(transform + 36 * sb + 18, transform + 36 * sb, 18);
  return 0;
}

const float* mdctWindow(int blockType) { return trig().windows[blockType & 3]; }

int MdctTransform_LONG(const float* transform, float* spectrum, int blockType) {
  if (blockType != 0 && blockType != 1 && blockType != 3) return 0;
  const Trig& t = trig();
  const float* w = t.windows[blockType];
  for (int sb = 0; sb < kSubbands; ++sb) {
    float z[36];
    for (int i = 0; i < 36; ++i) z[i] = transform[36 * sb + i] * w[i];
    for (int k = 0; k < 18; ++k) spectrum[18 * sb + k] = dotFLOAT(t.longCos[k], z, 36);
  }
  return 0;
}

int MdctTransform_SHORT(const float* transform, float* spectrum, int window) {
  if (window < 0 || window > 2) return 0;
  const Trig& t = trig();
  const float* w = t.windows[2];
  for (int sb = 0; sb < kSubbands; ++sb) {
    float z[12];
    for (int i = 0; i < 12; ++i) z[i] = transform[36 * sb + 6 + 6 * window + i] * w[i];
    for (int k = 0; k < 6; ++k) spectrum[6 * sb + k] = dotFLOAT(t.shortCos[k], z, 12);
  }
  return 0;
}

int AliasReduction(float* spectrum) {
  for (int sb = 0; sb < kSubbands - 1; ++sb) {
    for (int i = 0; i < 8; ++i) {
      float& lower = spectrum[18 * sb + 17 - i];
      float& upper = spectrum[18 * sb + 18 + i];
      const float lo = lower, up = upper;
      lower = c_signal[i] * lo + c_alias[i] * up;
      upper = c_signal[i] * up - c_alias[i] * lo;
    }
  }
  return 0;
}

}  // namespace quillion::mp3enc
