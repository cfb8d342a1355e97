// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/stereo_processing.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <new>

#include "mp3enc/psy_out.h"

namespace quillion::mp3enc {

namespace {

constexpr int kWindowLines = 192;
constexpr float kSilentEnergy = 1e-4f;
constexpr float kMsScale = 0.70710677f;

// MPEG-1 positions k = 0..6 divide the quarter circle: kL = sin(k pi / 12), kR = cos(k pi / 12).
// The lower rates use position 0 for the centre and pairs 2n - 1, 2n that attenuate one
// channel by 2^(-n/2) (the stream's intensity scale 1).
constexpr std::array<std::array<float, 2 * kIsPositions>, kIsClasses> buildAttTab() {
  std::array<std::array<float, 2 * kIsPositions>, kIsClasses> t{};
  constexpr double sines[7] = {
      0.0, 0.25881904510252074, 0.5, 0.7071067811865476, 0.8660254037844386, 0.9659258262890683,
      1.0};
  for (int k = 0; k <= 6; ++k) {
    t[0][k] = static_cast<float>(sines[k]);
    t[0][kIsPositions + k] = static_cast<float>(sines[6 - k]);
  }
  for (int c = 1; c < kIsClasses; ++c) {
    t[c][0] = 0.7071f;
    t[c][kIsPositions] = 0.7071f;
    double r = 1.0;
    for (int n = 1; n <= 15; ++n) {
      r *= 0.7071067811865476;  // 2^(-n/2)
      // 1 / sqrt(1 + r^2) by Newton's method, which a constant expression can evaluate.
      const double x = 1.0 + r * r;
      double inv = 1.0;
      for (int i = 0; i < 40; ++i) inv = inv * (1.5 - 0.5 * x * inv * inv);
      const auto small = static_cast<float>(r * inv), large = static_cast<float>(inv);
      t[c][2 * n - 1] = small;
      t[c][kIsPositions + 2 * n - 1] = large;
      t[c][2 * n] = large;
      t[c][kIsPositions + 2 * n] = small;
    }
  }
  return t;
}

// Positions of the lower rates as signed steps: 2n -> n, 2n - 1 -> -n.
int toSigned(int position) {
  if (position == 0) return 0;
  return position % 2 == 0 ? position / 2 : -(position + 1) / 2;
}
int fromSigned(int value) {
  if (value == 0) return 0;
  return value > 0 ? 2 * value : -2 * value - 1;
}

int lastBand(bool shortBlock) {
  return shortBlock ? kIsShortBands - 1 : kIsLongBands - 1;
}

int searchPosition(int rateClass, float energyL, float energyR, float cross) {
  const int count = rateClass == 0 ? 7 : kIsPositions;
  const float* kL = attTab[rateClass].data();
  const float* kR = kL + kIsPositions;
  float best = FLT_MAX;
  int position = 3;
  const float c = std::fabs(cross);
  for (int k = 0; k < count; ++k) {
    const float e = kL[k] * kL[k] * energyR - kL[k] * kR[k] * c + kR[k] * kR[k] * energyL;
    if (e < best) {
      best = e;
      position = k;
    }
  }
  return position;
}

int limitMove(int rateClass, int candidate, int previous) {
  if (rateClass == 0) return std::clamp(candidate, previous - 1, previous + 1);
  const int p = toSigned(previous);
  return fromSigned(std::clamp(toSigned(candidate), p - 4, p + 4));
}

// log2 of a product of factors >= 1. Each factor enters as mantissa and exponent, and the
// product is renormalised by 2^-58 whenever it passes 2^58, so that long products of large
// ratios (or a single ratio near the largest float) never overflow.
struct LogProduct {
  float value = 1.0f;
  int powers = 0;
  void multiply(float factor) {
    if (!(factor <= FLT_MAX)) factor = FLT_MAX;  // a zero threshold gives infinity
    int exponent = 0;
    value *= std::frexp(factor, &exponent);
    powers += exponent;
    while (value > 0x1p58f) {
      value *= 0x1p-58f;
      powers += 58;
    }
  }
  [[nodiscard]] double log2() const { return std::log2(static_cast<double>(value)) + powers; }
};

}  // namespace

const std::array<std::array<float, 2 * kIsPositions>, kIsClasses> attTab = buildAttTab();

const std::int8_t transTable[kIsClasses][kIsShortBands][2] = {
    {{0, 2},
     {3, 5},
     {5, 7},
     {7, 9},
     {9, 11},
     {11, 12},
     {13, 14},
     {14, 15},
     {15, 17},
     {17, 18},
     {18, 19},
     {19, 20},
     {20, 21}},
    {{0, 1},
     {2, 3},
     {4, 6},
     {6, 8},
     {8, 10},
     {10, 12},
     {12, 13},
     {13, 15},
     {15, 16},
     {16, 18},
     {18, 19},
     {19, 20},
     {20, 21}},
    {{0, 1},
     {2, 3},
     {4, 6},
     {6, 8},
     {8, 10},
     {10, 11},
     {11, 13},
     {13, 14},
     {14, 16},
     {16, 17},
     {18, 19},
     {19, 20},
     {20, 21}},
};

int CalcIntensityPositions(int rateClass, const float* left, const float* right,
                           const float* energyL, const float* energyR, const float* thrL,
                           const float* thrR, const int* bandOffsets, int firstBand, int endBand,
                           bool shortBlock, float errorFactor, const int* previous,
                           const IsBandResult& out) {
  const float* kLTab = attTab[rateClass].data();
  const float* kRTab = kLTab + kIsPositions;
  for (int b = firstBand; b < endBand; ++b) {
    float sum = 0.0f;
    for (int i = bandOffsets[b]; i < bandOffsets[b + 1]; ++i) sum += left[i] * right[i];
    const float c = 2.0f * sum;
    int position;
    if (b == lastBand(shortBlock) && b > firstBand) {
      // The top band has no scalefactor of its own: the stream repeats the one below.
      position = out.positions[b - 1];
    } else {
      if (energyL[b] < kSilentEnergy && energyR[b] < kSilentEnergy) {
        position = isNeutralPosition(rateClass);
      } else {
        position = searchPosition(rateClass, energyL[b], energyR[b], c);
        if (rateClass == 0) {
          if (position == 6 && energyR[b] > kSilentEnergy * energyL[b]) position = 5;
          if (position == 0 && energyL[b] > kSilentEnergy * energyR[b]) position = 1;
        }
      }
      position = limitMove(rateClass, position, previous[b]);
    }
    out.positions[b] = position;
    out.kL[b] = kLTab[position];
    out.kR[b] = kRTab[position];
    out.cross[b] = out.kL[b] * out.kR[b] * c;
  }
  int start = endBand;
  for (int b = endBand - 1; b >= firstBand; --b) {
    const float kL = out.kL[b], kR = out.kR[b];
    const float e = errorFactor * (kL * kL * energyR[b] + kR * kR * energyL[b] - out.cross[b]);
    if (kL * e > thrR[b] || kR * e > thrL[b]) break;
    start = b;
  }
  return start;
}

void AdaptIntensityPositions(int rateClass, int previousKind, int newKind, int* positions) {
  const bool wasShort = previousKind == 2, isShort = newKind == 2;
  if (wasShort == isShort) return;
  const auto& map = transTable[rateClass];
  const bool mpeg1 = rateClass == 0;
  auto value = [&](int p) { return mpeg1 ? p : toSigned(p); };
  auto stored = [&](int v) { return mpeg1 ? v : fromSigned(v); };
  if (isShort) {
    int result[kIsShortBands];
    for (int j = 0; j < kIsShortBands; ++j) {
      const int first = map[j][0], last = map[j][1];
      double sum = 0.0;
      for (int b = first; b <= last; ++b) sum += value(positions[b]);
      result[j] = static_cast<int>(std::trunc(sum / (last - first + 1) + 0.5));
    }
    for (int j = 0; j < kIsShortBands; ++j) positions[3 * j] = stored(result[j]);
    return;
  }
  int result[kIsLongBands];
  bool written[kIsLongBands] = {};
  for (int& r : result) r = value(isNeutralPosition(rateClass));
  for (int j = 0; j < kIsShortBands; ++j) {
    const int v = value(positions[3 * j + 2]);
    for (int b = map[j][0]; b <= map[j][1]; ++b) {
      // A long band that two short bands share takes the mean of both.
      result[b] = written[b] ? (result[b] + v) / 2 : v;
      written[b] = true;
    }
  }
  for (int b = 0; b < kIsLongBands; ++b) positions[b] = stored(result[b]);
}

void IsStereoProcessing(int rateClass, const StereoBands& s, const float* kR, const float* kL,
                        const float* cross, const int* isStart, int activeCount) {
  const int windows = s.windows;
  for (int w = 0; w < windows; ++w) {
    const int base = windows == 1 ? 0 : w * kWindowLines;
    for (int b = isStart[w]; b < activeCount; ++b) {
      const int idx = b * windows + w;
      const float l = kL[idx], r = kR[idx];
      const float h = rateClass == 0 ? 1.0f + 2.0f * l * r : std::max(r * r, l * l);
      const float gain = std::sqrt(h);
      for (int i = base + s.bandOffsets[b]; i < base + s.bandOffsets[b + 1]; ++i) {
        s.spectrumL[i] = (s.spectrumL[i] * l + s.spectrumR[i] * r) * gain;
        s.spectrumR[i] = 0.0f;
      }
      const float oldL = s.energyL[idx], oldR = s.energyR[idx];
      const float q = std::max(oldL / s.thrL[idx], oldR / s.thrR[idx]);
      s.energyL[idx] = (l * l * oldL + cross[idx] + r * r * oldR) * h;
      s.energyR[idx] = 0.0f;
      s.thrL[idx] = q > 0.0f ? s.energyL[idx] / q : 1.0f;
    }
  }
}

int MsStereoProcessing(const StereoBands& s, const float* midEnergy, const float* sideEnergy,
                       int* previous, int granule, const int* isStart, int bandsPerWindow) {
  const int windows = s.windows;
  LogProduct lr, ms;
  for (int w = 0; w < windows; ++w) {
    for (int b = 0; b < std::min(isStart[w], bandsPerWindow); ++b) {
      const int idx = b * windows + w;
      const float m = 1.5f * std::min(s.thrL[idx], s.thrR[idx]);
      lr.multiply(std::max(1.0f, s.energyL[idx] / s.thrL[idx]));
      lr.multiply(std::max(1.0f, s.energyR[idx] / s.thrR[idx]));
      ms.multiply(std::max(1.0f, midEnergy[idx] / m));
      ms.multiply(std::max(1.0f, sideEnergy[idx] / m));
    }
  }
  const double factor = *previous ? 1.14 : 0.94;
  const int decision = ms.log2() < factor * lr.log2() ? 1 : 0;
  // Both granules of a frame share one mode extension: the second keeps the first's choice.
  const int applied = granule == 0 ? decision : *previous;
  *previous = decision;
  if (!applied) return 0;
  for (int w = 0; w < windows; ++w) {
    const int base = windows == 1 ? 0 : w * kWindowLines;
    for (int b = 0; b < std::min(isStart[w], bandsPerWindow); ++b) {
      const int idx = b * windows + w;
      for (int i = base + s.bandOffsets[b]; i < base + s.bandOffsets[b + 1]; ++i) {
        const float l = s.spectrumL[i], r = s.spectrumR[i];
        s.spectrumL[i] = (l + r) * kMsScale;
        s.spectrumR[i] = (l - r) * kMsScale;
      }
      const float m = 1.5f * std::min(s.thrL[idx], s.thrR[idx]);
      s.energyL[idx] = midEnergy[idx];
      s.energyR[idx] = sideEnergy[idx];
      s.thrL[idx] = m;
      s.thrR[idx] = m;
    }
  }
  return 1;
}

void CalcBandEnergyMS_NoOpt(const float* left, const float* right, const int* offsets,
                            int bandCount, float* mid, float* side) {
  for (int b = 0; b < bandCount; ++b) {
    float m = 0.0f, d = 0.0f;
    for (int i = offsets[b]; i < offsets[b + 1]; ++i) {
      const float sum = left[i] + right[i], diff = left[i] - right[i];
      m += sum * sum;
      d += diff * diff;
    }
    mid[b] = 0.5f * m;
    side[b] = 0.5f * d;
  }
}

int CreateStereoPreProcessing(StereoPreProcessing** holder, int channels, std::int32_t bitrate,
                              std::int32_t sampleRate, int enable) {
  if (!holder) return 1;
  *holder = nullptr;
  if (!enable || channels < 2) return 0;
  if (bitrate <= 0 || sampleRate <= 0) return 1;
  auto* s = new (std::nothrow) StereoPreProcessing;
  if (!s) return 1;
  const auto rate = static_cast<float>(sampleRate), bits = static_cast<float>(bitrate);
  s->bitsPerGranule = bits * 576.0f / rate / static_cast<float>(channels);
  s->rise = rate / 128000.0f;
  s->fall = rate / 1600000.0f;
  s->scale = 2.4e10f / (bits * bits);
  s->gainA[0] = 1.0f;
  s->gainB[0] = 0.0f;
  for (int v = 1; v < kIsPositions; ++v) {
    const double a = std::pow(10.0, -0.5 * v / 20.0);
    s->gainA[v] = static_cast<float>(0.5 * (1.0 + a));
    s->gainB[v] = static_cast<float>(0.5 * (1.0 - a));
  }
  *holder = s;
  return 0;
}

void DeleteStereoPreProcessing(StereoPreProcessing* object) {
  delete object;
}

void AdvanceStereoPreStep1(StereoPreProcessing* s, int channels, float* pairs, int count) {
  if (!s || !s->enabled) return;
  s->sideToMid =
      0.1f * 10.0f * std::log10((s->sideSum + 1.0f) / (s->midSum + 1.0f)) + 0.9f * s->sideToMid;
  float g;
  if (s->sideToMid <= s->levelLow)
    g = 1.0f;
  else if (s->sideToMid > s->levelHigh)
    g = 0.0f;
  else
    g = (s->levelHigh - s->sideToMid) / (s->levelHigh - s->levelLow);
  const float demand = s->peDemand / s->bitsPerGranule * 1500.0f;
  float r = 0.0f;
  if (demand > s->demandLow) {
    const float x = (demand - s->demandLow) / (s->demandHigh - s->demandLow);
    r = x * x;
  }
  const float target = std::min(s->largestWidth, g * std::min(s->demandCap, r) * s->scale);
  s->width = std::max(s->width - s->fall, std::min(s->width + s->rise, target));
  if (s->fixedWidth != 0.0f) s->width = s->fixedWidth;
  if (channels != 2 || !pairs) return;
  const int i = std::clamp(static_cast<int>(s->width + 0.5f), 0, kIsPositions - 1);
  const float a = s->gainA[i], b = s->gainB[i];
  for (int n = 0; n < count; ++n) {
    const float l = pairs[2 * n], rr = pairs[2 * n + 1];
    pairs[2 * n] = a * l + b * rr;
    pairs[2 * n + 1] = b * l + a * rr;
  }
}

void AdvanceStereoPreStep2(const PsyOut* psy, StereoPreProcessing* s) {
  if (!psy || !s) return;
  float mid = 0.0f, side = 0.0f;
  for (int b = 0; b < psy->channel[0].sfbCnt; ++b) mid += psy->channel[0].msEnergy[b];
  for (int b = 0; b < psy->channel[1].sfbCnt; ++b) side += psy->channel[1].msEnergy[b];
  s->midSum = mid;
  s->sideSum = side;
  s->peDemand = 0.05f * (psy->peData.channel[0].pe + psy->peData.channel[1].pe);
}

}  // namespace quillion::mp3enc
