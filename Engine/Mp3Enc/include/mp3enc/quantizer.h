// SPDX-License-Identifier: GPL-2.0-or-later
// Quantisation of one granule: the power-law quantiser, the noise it leaves, and the search
// for the global gain that meets a bit budget and a noise target. Scalefactors stay 0: the
// whole spectrum of a channel shares one step size.
#pragma once

#include <cstdint>

#include "mp3enc/bit_count.h"
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
// Quantises lines with a stored gain g (line step 2^(g/4) on the 16-bit scale) and returns the
// largest magnitude.
int quantizeLines(const float* spectrum, const float* expSpec, int lines, int gain,
                  std::int32_t* quantised);
// Squared error of the decoded lines against the spectrum (lines with a magnitude above the
// table count as their full energy).
[[nodiscard]] double quantNoise(const float* spectrum, const std::int32_t* quantised, int lines,
                                int gain);

// One channel of one granule as the quantiser sees it.
struct QuantInput {
  const float* spectrum = nullptr;  // 576 lines, 16-bit scale
  int lines = 576;                  // lines below the bandwidth; the rest are coded as 0
  double noiseTarget = 0.0;         // noise that needs no more bits
};

// Codes one channel with a stored gain: quantised lines, side information and
// part2_3_length. Returns the bits, or -1 when a line or the bits exceed what a granule holds.
int codeChannel(const BitCounter* counter, int rateSlot, const QuantInput& in, const float* expSpec,
                int gain, GranuleChannel* out);

// The gain for one channel: the largest one whose noise stays within the target, or the
// smallest one that fits the budget when that is larger. Returns the bits of the coded
// channel (0 for silence coded at the largest gain).
int quantizeChannel(const BitCounter* counter, int rateSlot, const QuantInput& in, int budget,
                    float* expSpecScratch, GranuleChannel* out);

// Bits the channel takes at the gain that meets its noise target (capped by the granule's
// limit), used to share a granule's budget between channels.
[[nodiscard]] int bitsForNoiseTarget(const BitCounter* counter, int rateSlot, const QuantInput& in,
                                     float* expSpecScratch, GranuleChannel* scratch);

}  // namespace quillion::mp3enc
