// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/filter_bank.h"

#include <cmath>
#include <new>

#include "mp3enc/vector_math.h"

namespace quillion::mp3enc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Rotation tables filled once per process; several encoders may start on several threads.
struct Trig {
  float preLong[9][2];    // cos, sin of pi (4m + 1) / 72
  float postLong[9][2];   // cos, sin of pi m / 18, divided by 9: the long transform's scale
  float preShort[3][2];   // cos, sin of pi (4m + 1) / 24
  float postShort[3][2];  // cos, sin of pi m / 6, divided by 3
  float dctHalfSecant[6]
                     [16];  // 1 / (2 cos(pi (2k + 1) / 2N)) for N = 32, 16, 8, 4, 2 (row by log2 N)
  float windows[4][36];
};

Trig makeTrig() {
  Trig t{};
  for (int m = 0; m < 9; ++m) {
    t.preLong[m][0] = static_cast<float>(std::cos(kPi * (4 * m + 1) / 72));
    t.preLong[m][1] = static_cast<float>(std::sin(kPi * (4 * m + 1) / 72));
    t.postLong[m][0] = static_cast<float>(std::cos(kPi * m / 18) / 9);
    t.postLong[m][1] = static_cast<float>(std::sin(kPi * m / 18) / 9);
  }
  for (int m = 0; m < 3; ++m) {
    t.preShort[m][0] = static_cast<float>(std::cos(kPi * (4 * m + 1) / 24));
    t.preShort[m][1] = static_cast<float>(std::sin(kPi * (4 * m + 1) / 24));
    t.postShort[m][0] = static_cast<float>(std::cos(kPi * m / 6) / 3);
    t.postShort[m][1] = static_cast<float>(std::sin(kPi * m / 6) / 3);
  }
  for (int order = 1; order <= 5; ++order) {
    const int n = 1 << order;
    for (int k = 0; k < n / 2; ++k)
      t.dctHalfSecant[order][k] = static_cast<float>(0.5 / std::cos(kPi * (2 * k + 1) / (2 * n)));
  }
  for (int i = 0; i < 36; ++i) {
    const double longSin = std::sin(kPi / 36 * (i + 0.5));
    t.windows[0][i] = static_cast<float>(longSin);
    t.windows[1][i] = static_cast<float>(i < 18   ? longSin
                                         : i < 24 ? 1.0
                                         : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5))
                                                  : 0.0);
    t.windows[2][i] = static_cast<float>(i < 12 ? std::sin(kPi / 12 * (i + 0.5)) : 0.0);
    t.windows[3][i] = static_cast<float>(i < 6    ? 0.0
                                         : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5))
                                         : i < 18 ? 1.0
                                                  : longSin);
  }
  return t;
}

// Every transform reads the tables: the first use builds them under the language's guard for
// statics, and each later use costs one load, where a once-flag would cost a library call
// with thread-local bookkeeping on every transform.
const Trig& trig() {
  static const Trig t = makeTrig();
  return t;
}

// DCT-III of 2^order points, in place: the even inputs form a half-length DCT-III, the odd
// ones (each added to its predecessor) another, scaled by 1 / (2 cos) of their angle; the
// two halves then give outputs k and N - 1 - k by sum and difference.
void dctIII(float* x, int order) {
  const int n = 1 << order;
  if (n == 1) return;
  const int half = n / 2;
  float even[16], odd[16];
  for (int m = 0; m < half; ++m) {
    even[m] = x[2 * m];
    odd[m] = x[2 * m + 1] + (m > 0 ? x[2 * m - 1] : 0.0f);
  }
  dctIII(even, order - 1);
  dctIII(odd, order - 1);
  const float* secant = trig().dctHalfSecant[order];
  for (int k = 0; k < half; ++k) {
    const float o = odd[k] * secant[k];
    x[k] = even[k] + o;
    x[n - 1 - k] = even[k] - o;
  }
}

// The MDCT of n = 4q points (z already windowed) by folding to n/2 values, rotating them
// into q complex values, a q-point DFT and a rotation back; X_k carries the table's scale.
template <int Q>
void mdct(const float* z, const float (*pre)[2], const float (*post)[2], int (*dft)(float*),
          float* out) {
  constexpr int kHalf = 2 * Q;
  float u[kHalf];
  for (int n = 0; n < Q; ++n) u[n] = -z[3 * Q - 1 - n] - z[3 * Q + n];
  for (int n = Q; n < kHalf; ++n) u[n] = z[n - Q] - z[3 * Q - 1 - n];
  float v[2 * Q];
  for (int m = 0; m < Q; ++m) {
    const float re = u[2 * m], im = u[kHalf - 1 - 2 * m];
    v[2 * m] = re * pre[m][0] + im * pre[m][1];
    v[2 * m + 1] = im * pre[m][0] - re * pre[m][1];
  }
  dft(v);
  for (int m = 0; m < Q; ++m) {
    const float re = v[2 * m], im = v[2 * m + 1];
    out[2 * m] = re * post[m][0] + im * post[m][1];
    out[kHalf - 1 - 2 * m] = re * post[m][1] - im * post[m][0];
  }
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

void PolyPhaseDelete(PolyPhaseState* state) {
  delete state;
}

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
    float s[32];
    s[0] = y[16];
    for (int m = 1; m < 16; ++m) s[m] = y[16 - m] + y[16 + m];
    s[16] = y[0] + y[32];
    for (int m = 1; m < 16; ++m) s[16 + m] = y[32 + m] - y[64 - m];
    fct_iii(s);
    for (int sb = 0; sb < kSubbands; ++sb) {
      // Odd subbands are frequency-inverted; negating their odd slots turns them upright for the
      // MDCT.
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
  for (int sb = 0; sb < kSubbands; ++sb)
    copyFLOAT(transform + 36 * sb + 18, transform + 36 * sb, 18);
  return 0;
}

const float* mdctWindow(int blockType) {
  return trig().windows[blockType & 3];
}

int MdctTransform_LONG(const float* transform, float* spectrum, int blockType) {
  if (blockType != 0 && blockType != 1 && blockType != 3) return 0;
  const Trig& t = trig();
  const float* w = t.windows[blockType];
  for (int sb = 0; sb < kSubbands; ++sb) {
    float z[36];
    multFLOAT(transform + 36 * sb, w, z, 36);
    mdct<9>(z, t.preLong, t.postLong, cfft_9, spectrum + 18 * sb);
  }
  return 0;
}

int MdctTransform_SHORT(const float* transform, float* spectrum, int window) {
  if (window < 0 || window > 2) return 0;
  const Trig& t = trig();
  const float* w = t.windows[2];
  for (int sb = 0; sb < kSubbands; ++sb) {
    float z[12];
    multFLOAT(transform + 36 * sb + 6 + 6 * window, w, z, 12);
    mdct<3>(z, t.preShort, t.postShort, cfft_3, spectrum + 6 * sb);
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

int cfft_3(float* data) {
  constexpr float kSin60 = 0.866025404f;
  const float r0 = data[0], i0 = data[1], r1 = data[2], i1 = data[3], r2 = data[4], i2 = data[5];
  const float sumR = r1 + r2, sumI = i1 + i2;
  const float midR = r0 - 0.5f * sumR, midI = i0 - 0.5f * sumI;
  const float rotR = kSin60 * (i1 - i2), rotI = kSin60 * (r2 - r1);
  data[0] = r0 + sumR;
  data[1] = i0 + sumI;
  data[2] = midR + rotR;
  data[3] = midI + rotI;
  data[4] = midR - rotR;
  data[5] = midI - rotI;
  return 0;
}

int cfft_9(float* data) {
  // Three 3-point DFTs over the inputs n2, n2 + 3, n2 + 6, the twiddles e^(-2 pi i n2 k1 / 9),
  // then three 3-point DFTs across n2: output k1 + 3 k2.
  static constexpr float kTwiddle[5][2] = {{1.0f, 0.0f},
                                           {0.76604444f, -0.64278764f},    // 40 degrees
                                           {0.17364818f, -0.98480775f},    // 80 degrees
                                           {-0.5f, -0.8660254f},           // 120 degrees
                                           {-0.93969262f, -0.34202014f}};  // 160 degrees
  float inner[3][6];
  for (int n2 = 0; n2 < 3; ++n2) {
    for (int n1 = 0; n1 < 3; ++n1) {
      inner[n2][2 * n1] = data[2 * (3 * n1 + n2)];
      inner[n2][2 * n1 + 1] = data[2 * (3 * n1 + n2) + 1];
    }
    cfft_3(inner[n2]);
  }
  for (int k1 = 0; k1 < 3; ++k1) {
    float outer[6];
    for (int n2 = 0; n2 < 3; ++n2) {
      const float* w = kTwiddle[n2 * k1];
      const float re = inner[n2][2 * k1], im = inner[n2][2 * k1 + 1];
      outer[2 * n2] = re * w[0] - im * w[1];
      outer[2 * n2 + 1] = re * w[1] + im * w[0];
    }
    cfft_3(outer);
    for (int k2 = 0; k2 < 3; ++k2) {
      data[2 * (k1 + 3 * k2)] = outer[2 * k2];
      data[2 * (k1 + 3 * k2) + 1] = outer[2 * k2 + 1];
    }
  }
  return 0;
}

int fct_iii(float* data) {
  dctIII(data, 5);
  return 0;
}

}  // namespace quillion::mp3enc
