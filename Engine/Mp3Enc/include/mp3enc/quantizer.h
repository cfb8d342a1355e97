// SPDX-License-Identifier: GPL-2.0-or-later
// The power-law quantiser of Layer III. A band's step s (in quarter steps of 2^(1/4) on the
// 16-bit scale) is the global gain less what its scalefactor, pre-emphasis and subblock gain
// take away; its lines become trunc((|x| / 2^(s/4))^(3/4) + 0.4054) with the sign of x.
#pragma once

#include <cstdint>

#include "mp3enc/granule_info.h"

namespace quillion::mp3enc {

inline constexpr int kLargestQuantised = 8191;
inline constexpr int kLargestGain = 105;    // stored gain; the header field 255
inline constexpr int kSmallestGain = -150;  // the header field 0
inline constexpr int kMaxGranuleBits = 4092;
// Rounding offset of the power-law quantiser: it places the decision threshold where the
// error of the 4/3 expansion is balanced rather than at the midpoint.
inline constexpr float kQuantizerRounding = 0.4054f;

// i^(4/3) for i = 0..8191; built once per process, safe to call from any thread.
[[nodiscard]] const float* pow4_3_tab();

// |x|^(3/4) for each line.
void calcExpSpec_NoOpt(const float* spectrum, float* expSpec, int lines);
using ExpSpecFunc = void (*)(const float*, float*, int);
extern ExpSpecFunc calcExpSpec;
// Quantises lines of |x|^(3/4) at step (sign from spectrum); returns the largest magnitude.
int quantizeExpSpecLines_NoOpt(const float* spectrum, const float* expSpec, int lines, int step,
                               std::int32_t* quantised);
using QuantizeExpSpecFunc = int (*)(const float*, const float*, int, int, std::int32_t*);
extern QuantizeExpSpecFunc quantizeExpSpecLines;
// The same quantisation from the lines themselves, for callers without |x|^(3/4) at hand.
int quantizeLines_NoOpt(const float* spectrum, int lines, int step, std::int32_t* quantised);
using QuantizeLinesFunc = int (*)(const float*, int, int, std::int32_t*);
extern QuantizeLinesFunc quantizeLines;

// 2^(-3 step / 16): what multiplies |x|^(3/4) at a quantiser step.
[[nodiscard]] float quantizerScale(int step);
// One quantised magnitude from a scaled |x|^(3/4); values past the 8191 limit saturate at a
// size every caller rejects.
[[nodiscard]] inline int quantizedMagnitude(float scaled) {
  return scaled < 1.0e6f ? static_cast<int>(scaled) : 1000000;
}

// What a band's scalefactor takes from the global gain, in quarter steps. Long blocks: band
// entries 0..21; short blocks: entries 3b + w.
int calcStepsize(const GranuleChannel& g, int band, bool isShort);

// The spectrum of one channel quantised with the side information and scalefactors of g
// (scalefactors of -9999 zero their bands); returns the largest magnitude.
int mp3QuantizeSpectrum(const float* spectrum, const float* expSpec, const int* bandOffsets,
                        int bandCount, const int* scalefactors, const GranuleChannel& g,
                        std::int32_t* quantised);
// The decoder's view of quantised lines, on the 16-bit scale.
void mp3InvQuantizeSpectrum(const std::int32_t* quantised, const int* bandOffsets, int bandCount,
                            const int* scalefactors, const GranuleChannel& g, float* spectrum);

}  // namespace quillion::mp3enc
