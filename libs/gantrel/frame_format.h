// SPDX-License-Identifier: GPL-2.0-or-later
// How the input is cut into frames and how large each frame is, per output layout: fixed
// 1/600 s frames for DVD LPCM, one frame per video frame (in a cycle of five, so that 29.97
// and 59.94 frames per second come out even) for the AES3 layouts.
#pragma once

#include <cstdint>

#include "gantrel.h"

namespace quillion::gantrel {

enum Layout : std::int32_t {
  kLayoutLpcm = 4,
  kLayout302M = 10,
  kLayoutAes3Element = 11,
  kLayoutPlanar = 12,
};

inline constexpr int kCycleLength = 5;
inline constexpr std::uint32_t kStreamHeaderBytes = 8;

struct FrameEntry {
  std::uint32_t samples = 0;      // per channel
  std::uint32_t inputBytes = 0;   // all channels
  std::uint32_t outputBytes = 0;  // all channels, without the frame header
  std::uint64_t halfTicks = 0;    // duration in half 27 MHz ticks (29.97 has half ticks)
};

struct FrameFormat {
  std::int32_t layout = 0;
  int channels = 0;
  int sampleBytes = 0;  // bytes of one input sample of one channel: 2 or 3
  int quantization = 0;
  bool msbFirst = false;
  std::int32_t frameRateCode = 0;
  std::uint32_t inputBytesPerSampleFrame = 0;
  std::uint32_t outputBytesPerSampleFrame = 0;
  std::uint32_t frameHeaderBytes = 0;
  FrameEntry cycle[kCycleLength];
  std::uint32_t largestInputBytes = 0;
  std::uint32_t largestFrameBytes = 0;  // output bytes plus the frame header
};

// True for the frame-rate codes the AES3 layouts can be framed to.
bool validFrameRateCode(std::int32_t frameRateCode);

// Builds the format of checked settings; false when the frame-rate code does not fit.
bool buildFrameFormat(const pcm_a_settings& settings, std::int32_t sampleRate,
                      std::int32_t frameRateCode, bool msbFirst, FrameFormat& format);

}  // namespace quillion::gantrel
