// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/quantizer.h"

#include <array>
#include <cmath>

#include "mp3enc/scalefactors.h"

namespace quillion::mp3enc {
namespace {

constexpr int kTableSize = kLargestQuantised + 1;

std::array<float, kTableSize> makePow43() {
  std::array<float, kTableSize> t{};
  for (int i = 0; i < kTableSize; ++i)
    t[static_cast<std::size_t>(i)] =
        static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
  return t;
}

}  // namespace

// Built by the first caller under the language's guard for statics, however many encoders
// start at once.
const float* pow4_3_tab() {
  static const std::array<float, kTableSize> table = makePow43();
  return table.data();
}

float quantizerScale(int step) {
  return std::exp2(-3.0f * static_cast<float>(step) / 16.0f);
}

void calcExpSpec_NoOpt(const float* spectrum, float* expSpec, int lines) {
  for (int i = 0; i < lines; ++i) expSpec[i] = std::pow(std::fabs(spectrum[i]), 0.75f);
}

int quantizeExpSpecLines_NoOpt(const float* spectrum, const float* expSpec, int lines, int step,
                               std::int32_t* quantised) {
  const float factor = quantizerScale(step);
  int largest = 0;
  for (int i = 0; i < lines; ++i) {
    const int magnitude = quantizedMagnitude(expSpec[i] * factor + kQuantizerRounding);
    quantised[i] = spectrum[i] < 0 ? -magnitude : magnitude;
    if (magnitude > largest) largest = magnitude;
  }
  return largest;
}

int quantizeLines_NoOpt(const float* spectrum, int lines, int step, std::int32_t* quantised) {
  const float factor = quantizerScale(step);
  int largest = 0;
  for (int i = 0; i < lines; ++i) {
    const float a = std::fabs(spectrum[i]);
    const float e = std::sqrt(a) * std::sqrt(std::sqrt(a));
    const int magnitude = quantizedMagnitude(e * factor + kQuantizerRounding);
    quantised[i] = spectrum[i] < 0 ? -magnitude : magnitude;
    if (magnitude > largest) largest = magnitude;
  }
  return largest;
}

int calcStepsize(const GranuleChannel& g, int band, bool isShort) {
  const int shift = g.scalefac_scale + 1;
  if (isShort) {
    const int window = band % 3;
    const int sbg = 8 * g.subblock_gain[window];
    if (band < 36) return sbg + (g.scalefactors[band] << shift);
    return sbg;
  }
  if (band > 20) return 0;
  const int pre = g.preflag ? preEmphasisTab[band] : 0;
  return (g.scalefactors[band] + pre) << shift;
}

int mp3QuantizeSpectrum(const float* spectrum, const float* expSpec, const int* offsets,
                        int bandCount, const int* scalefactors, const GranuleChannel& g,
                        std::int32_t* quantised) {
  (void)pow4_3_tab();
  const bool isShort = g.block_type == 2;
  int largest = 0;
  for (int b = 0; b < bandCount; ++b) {
    const int from = offsets[b], lines = offsets[b + 1] - offsets[b];
    if (scalefactors[b] == kNoScf) {
      for (int i = 0; i < lines; ++i) quantised[from + i] = 0;
      continue;
    }
    const int step = g.global_gain - calcStepsize(g, b, isShort);
    const int m =
        quantizeExpSpecLines(spectrum + from, expSpec + from, lines, step, quantised + from);
    if (m > largest) largest = m;
  }
  for (int i = offsets[bandCount]; i < kGranuleLines; ++i) quantised[i] = 0;
  return largest;
}

void mp3InvQuantizeSpectrum(const std::int32_t* quantised, const int* offsets, int bandCount,
                            const int* scalefactors, const GranuleChannel& g, float* spectrum) {
  const float* p43 = pow4_3_tab();
  const bool isShort = g.block_type == 2;
  for (int b = 0; b < bandCount; ++b) {
    const float step =
        std::exp2(static_cast<float>(g.global_gain - calcStepsize(g, b, isShort)) / 4.0f);
    for (int i = offsets[b]; i < offsets[b + 1]; ++i) {
      const int q = quantised[i];
      const int m = q < 0 ? -q : q;
      const float v = scalefactors[b] == kNoScf || m > kLargestQuantised ? 0.0f : p43[m] * step;
      spectrum[i] = q < 0 ? -v : v;
    }
  }
  for (int i = offsets[bandCount]; i < kGranuleLines; ++i) spectrum[i] = 0.0f;
}

}  // namespace quillion::mp3enc
