// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/quantizer.h"

#include <array>
#include <cmath>
#include <mutex>

#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {
namespace {

// Rounding offset of the power-law quantiser: it places the decision threshold where the
// error of the 4/3 expansion is balanced rather than at the midpoint.
constexpr float kRoundingOffset = 0.4054f;
constexpr int kTableSize = kLargestQuantised + 1;

std::array<float, kTableSize>& pow43Storage() {
  static std::array<float, kTableSize> table;
  return table;
}

// 2^(-3g/16) for every stored gain: the factor on |x|^(3/4).
float quantFactor(int gain) {
  return std::exp2(-3.0f * static_cast<float>(gain) / 16.0f);
}
// 2^(g/4): the decoder's line step.
double lineStep(int gain) {
  return std::exp2(static_cast<double>(gain) / 4.0);
}

// Long-block band bounds as the bit counter takes them.
const std::int16_t* longBounds(int rateSlot) {
  return kLongBandBounds[rateSlot];
}

// Side information for scalefactors that are all 0: every length 0, so they cost no bits.
void zeroScalefactors(GranuleChannel* out) {
  out->scalefac_compress = 0;
  out->preflag = 0;
  out->scalefac_scale = 0;
  for (int p = 0; p < 4; ++p) {
    out->partitionValues[p] = 0;
    out->slen[p] = 0;
  }
}

}  // namespace

const float* pow4_3_tab() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto& t = pow43Storage();
    for (int i = 0; i < kTableSize; ++i)
      t[static_cast<std::size_t>(i)] =
          static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
  });
  return pow43Storage().data();
}

void calcExpSpec(const float* spectrum, float* expSpec, int lines) {
  for (int i = 0; i < lines; ++i) expSpec[i] = std::pow(std::fabs(spectrum[i]), 0.75f);
}

int quantizeLines(const float* spectrum, const float* expSpec, int lines, int gain,
                  std::int32_t* quantised) {
  const float factor = quantFactor(gain);
  int largest = 0;
  for (int i = 0; i < lines; ++i) {
    const float scaled = expSpec[i] * factor + kRoundingOffset;
    // Keep the value representable: anything this large fails the 8191 check anyway.
    const int magnitude = scaled < 1.0e6f ? static_cast<int>(scaled) : 1000000;
    quantised[i] = spectrum[i] < 0 ? -magnitude : magnitude;
    if (magnitude > largest) largest = magnitude;
  }
  for (int i = lines; i < kGranuleLines; ++i) quantised[i] = 0;
  return largest;
}

double quantNoise(const float* spectrum, const std::int32_t* quantised, int lines, int gain) {
  const float* p43 = pow4_3_tab();
  const double step = lineStep(gain);
  double noise = 0.0;
  for (int i = 0; i < lines; ++i) {
    const int m = quantised[i] < 0 ? -quantised[i] : quantised[i];
    const double x = std::fabs(static_cast<double>(spectrum[i]));
    const double d = m <= kLargestQuantised ? x - step * p43[m] : x;
    noise += d * d;
  }
  return noise;
}

int codeChannel(const BitCounter* counter, int rateSlot, const QuantInput& in, const float* expSpec,
                int gain, GranuleChannel* out) {
  const int largest = quantizeLines(in.spectrum, expSpec, in.lines, gain, out->quantised);
  if (largest > kLargestQuantised) return -1;
  out->global_gain = gain;
  out->block_type = 0;
  out->mixed_block_flag = 0;
  zeroScalefactors(out);
  BitCountResult r;
  const int bits = dynBitCount(counter, out->quantised, 0, 22, longBounds(rateSlot), &r);
  if (bits < 0 || bits > kMaxGranuleBits) return -1;
  out->part2_3_length = bits;
  out->big_values = r.bigValues;
  out->count1 = r.count1;
  out->count1table_select = r.count1Table;
  out->region0_count = r.region0Count;
  out->region1_count = r.region1Count;
  for (int i = 0; i < 3; ++i) out->table_select[i] = r.table[i];
  return bits;
}

namespace {

// The largest gain whose noise stays within the target (the noise grows with the gain).
int gainForNoise(const QuantInput& in, const float* expSpec, std::int32_t* scratch) {
  int low = kSmallestGain, high = kLargestGain;
  quantizeLines(in.spectrum, expSpec, in.lines, high, scratch);
  if (quantNoise(in.spectrum, scratch, in.lines, high) <= in.noiseTarget) return high;
  while (high - low > 1) {
    const int mid = (low + high) / 2;
    quantizeLines(in.spectrum, expSpec, in.lines, mid, scratch);
    if (quantNoise(in.spectrum, scratch, in.lines, mid) <= in.noiseTarget)
      low = mid;
    else
      high = mid;
  }
  return low;
}

// The smallest gain whose coded channel fits the budget (the bits fall as the gain grows).
int gainForBudget(const BitCounter* counter, int rateSlot, const QuantInput& in,
                  const float* expSpec, int budget, GranuleChannel* scratch) {
  int low = kSmallestGain - 1, high = kLargestGain;
  while (high - low > 1) {
    const int mid = (low + high) / 2;
    const int bits = codeChannel(counter, rateSlot, in, expSpec, mid, scratch);
    if (bits >= 0 && bits <= budget)
      high = mid;
    else
      low = mid;
  }
  return high;
}

// Codes at gain, stepping the gain up while the bits exceed the budget (the bit count is not
// strictly monotonic in the gain); at the largest gain a channel that still does not fit
// is coded as silence.
int codeWithin(const BitCounter* counter, int rateSlot, const QuantInput& in, const float* expSpec,
               int gain, int budget, GranuleChannel* out) {
  for (int g = gain; g <= kLargestGain; ++g) {
    const int bits = codeChannel(counter, rateSlot, in, expSpec, g, out);
    if (bits >= 0 && bits <= budget) return bits;
  }
  static const float kZero[kGranuleLines] = {};
  QuantInput silent = in;
  silent.spectrum = kZero;
  return codeChannel(counter, rateSlot, silent, kZero, kLargestGain, out);
}

}  // namespace

int quantizeChannel(const BitCounter* counter, int rateSlot, const QuantInput& in, int budget,
                    float* expSpecScratch, GranuleChannel* out) {
  if (budget > kMaxGranuleBits) budget = kMaxGranuleBits;
  if (budget < 0) budget = 0;
  calcExpSpec(in.spectrum, expSpecScratch, in.lines);
  const int quality = gainForNoise(in, expSpecScratch, out->quantised);
  const int fit = gainForBudget(counter, rateSlot, in, expSpecScratch, budget, out);
  return codeWithin(counter, rateSlot, in, expSpecScratch, quality > fit ? quality : fit, budget,
                    out);
}

int bitsForNoiseTarget(const BitCounter* counter, int rateSlot, const QuantInput& in,
                       float* expSpecScratch, GranuleChannel* scratch) {
  calcExpSpec(in.spectrum, expSpecScratch, in.lines);
  const int quality = gainForNoise(in, expSpecScratch, scratch->quantised);
  for (int g = quality; g <= kLargestGain; ++g) {
    const int bits = codeChannel(counter, rateSlot, in, expSpecScratch, g, scratch);
    if (bits >= 0) return bits;
  }
  return 0;
}

}  // namespace quillion::mp3enc
