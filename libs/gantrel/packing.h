// SPDX-License-Identifier: GPL-2.0-or-later
// The bytes of each output layout: the 8-byte stream header and one packed frame.
#pragma once

#include <cstdint>

#include "frame_format.h"
#include "gantrel.h"

namespace quillion::gantrel {

// AES3 sample frames form blocks of 192; the first of each block is flagged in the packing.
inline constexpr std::uint64_t kAes3BlockFrames = 192;

// The 4-bit group sent after each sample of a 302M pair, first bit in the high bit: after the
// first sample of a block's first sampling instant, after any other first sample, and after
// every second sample.
inline constexpr std::uint8_t kGroupBlockStart = 0x9;
inline constexpr std::uint8_t kGroupFirstSample = 0x8;
inline constexpr std::uint8_t kGroupSecondSample = 0x8;

void buildStreamHeader(const pcm_a_settings& settings, std::int32_t sampleRate,
                       std::int32_t frameRateCode, std::uint8_t header[kStreamHeaderBytes]);

struct PackPosition {
  int cycleIndex = 0;                // 0..4, the frame's place in the five-frame cycle
  std::uint64_t sampleFramesBefore;  // sampling instants packed before this frame
};

// Packs one frame of `entry.inputBytes` input bytes into `out` (frame header included);
// returns the bytes to write.
std::uint32_t packFrame(const FrameFormat& format, const FrameEntry& entry, PackPosition where,
                        const std::uint8_t* in, std::uint8_t* out);

}  // namespace quillion::gantrel
