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

// i^(4/3) for i = 0..8191; built once per process, safe to call from any thread.
[[nodiscard]] const float* pow4_3_tab();

// |x|^(3/4) for each line.
void calcExpSpec(const float* spectrum, float* expSpec, int lines);
// Quantises lines of |x|^(3/4) at step (sign from spectrum); returns the largest magnitude.
int quantizeExpSpecLines(const float* spectrum, const float* expSpec, int lines, int step,
                         std::int32_t* quantised);

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
