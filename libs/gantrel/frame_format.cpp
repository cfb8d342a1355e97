// SPDX-License-Identifier: GPL-2.0-or-later
#include "frame_format.h"

#include <algorithm>

namespace quillion::gantrel {
namespace {

// Samples per channel of each frame of the cycle at 48 kHz, and each frame's duration in
// half ticks, by MPEG frame-rate code 1..8.
struct RateCycle {
  std::uint32_t samples[kCycleLength];
  std::uint64_t halfTicks[kCycleLength];
};

constexpr RateCycle kRateCycles[8] = {
    {{2002, 2002, 2002, 2002, 2002}, {2252250, 2252250, 2252250, 2252250, 2252250}},  // 23.976
    {{2000, 2000, 2000, 2000, 2000}, {2250000, 2250000, 2250000, 2250000, 2250000}},  // 24
    {{1920, 1920, 1920, 1920, 1920}, {2160000, 2160000, 2160000, 2160000, 2160000}},  // 25
    {{1602, 1601, 1602, 1601, 1602}, {1802250, 1801125, 1802250, 1801125, 1802250}},  // 29.97
    {{1600, 1600, 1600, 1600, 1600}, {1800000, 1800000, 1800000, 1800000, 1800000}},  // 30
    {{960, 960, 960, 960, 960}, {1080000, 1080000, 1080000, 1080000, 1080000}},       // 50
    {{801, 801, 800, 801, 801}, {901125, 901125, 900000, 901125, 901125}},            // 59.94
    {{800, 800, 800, 800, 800}, {900000, 900000, 900000, 900000, 900000}},            // 60
};

constexpr std::uint32_t kLpcmSamplesAt48k = 80;
constexpr std::uint64_t kLpcmHalfTicks = 90000;  // 1/600 s

// Output bytes of one channel pair in a 302M packet: two samples and two 4-bit groups.
std::uint32_t pairBytes302M(int quantization) {
  return quantization == 0 ? 5 : quantization == 1 ? 6 : 7;
}

}  // namespace

bool validFrameRateCode(std::int32_t frameRateCode) {
  return frameRateCode >= 1 && frameRateCode <= 8;
}

bool buildFrameFormat(const pcm_a_settings& settings, std::int32_t sampleRate,
                      std::int32_t frameRateCode, bool msbFirst, FrameFormat& f) {
  f = FrameFormat{};
  f.layout = settings.audio_layer;
  f.channels = settings.channel_count_code + 1;
  f.quantization = settings.quantization;
  f.sampleBytes = f.quantization == 0 ? 2 : 3;
  f.msbFirst = msbFirst;
  f.frameRateCode = frameRateCode;
  const auto channels = static_cast<std::uint32_t>(f.channels);
  const auto sampleBytes = static_cast<std::uint32_t>(f.sampleBytes);
  // At 96 kHz a frame keeps its duration and holds twice the samples.
  const std::uint32_t rateFactor = sampleRate == 96000 ? 2 : 1;

  f.inputBytesPerSampleFrame = sampleBytes * channels;
  switch (f.layout) {
    case kLayoutLpcm:
      f.outputBytesPerSampleFrame = f.inputBytesPerSampleFrame;
      break;
    case kLayout302M:
      // Every channel pair of a sampling instant is packed, one after the other.
      f.outputBytesPerSampleFrame = pairBytes302M(f.quantization) * (channels / 2);
      f.frameHeaderBytes = 4;
      break;
    case kLayoutAes3Element:
      f.outputBytesPerSampleFrame = 32;  // eight 4-byte channel words
      f.frameHeaderBytes = 4;
      break;
    default:
      f.outputBytesPerSampleFrame = f.inputBytesPerSampleFrame;
      break;
  }

  for (int i = 0; i < kCycleLength; ++i) {
    FrameEntry& e = f.cycle[i];
    if (f.layout == kLayoutLpcm) {
      e.samples = kLpcmSamplesAt48k * rateFactor;
      e.halfTicks = kLpcmHalfTicks;
    } else {
      if (!validFrameRateCode(frameRateCode)) return false;
      const RateCycle& c = kRateCycles[frameRateCode - 1];
      e.samples = c.samples[i] * rateFactor;
      e.halfTicks = c.halfTicks[i];
    }
    e.inputBytes = e.samples * f.inputBytesPerSampleFrame;
    e.outputBytes = e.samples * f.outputBytesPerSampleFrame;
    f.largestInputBytes = std::max(f.largestInputBytes, e.inputBytes);
    f.largestFrameBytes = std::max(f.largestFrameBytes, e.outputBytes + f.frameHeaderBytes);
  }
  return true;
}

}  // namespace quillion::gantrel
