// SPDX-License-Identifier: GPL-2.0-or-later
// Decoded audio as the caller takes it: signed 16-bit samples, interleaved, in one channel for
// a mono stream and two for everything else (more channels are mixed down). Samples that do
// not fit the caller's area wait for the next one.
#pragma once

#include <cstdint>
#include <vector>

#include "decoder_plugin.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwrContext;

namespace quillion::decoder {

class SampleWriter {
 public:
  SampleWriter() = default;
  ~SampleWriter();
  SampleWriter(const SampleWriter&) = delete;
  SampleWriter& operator=(const SampleWriter&) = delete;

  // Converts a frame into waiting samples; false when it cannot be converted.
  bool take(const AVFrame& frame);
  // Moves waiting samples into the area from `written` on; answers the bytes moved.
  std::uint32_t deliver(const decoder_audio_area& area, std::uint32_t written);
  bool waiting() const { return at_ < pending_.size(); }
  void clear();

 private:
  SwrContext* converter_ = nullptr;
  AVChannelLayout input_{};
  int inputFormat_ = -1;
  int inputRate_ = 0;
  std::vector<std::uint8_t> pending_;
  std::size_t at_ = 0;
};

}  // namespace quillion::decoder
