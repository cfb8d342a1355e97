// SPDX-License-Identifier: GPL-2.0-or-later
#include "audio_output.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libswresample/swresample.h>
}

namespace quillion::decoder {

SampleWriter::~SampleWriter() {
  swr_free(&converter_);
  av_channel_layout_uninit(&input_);
}

void SampleWriter::clear() {
  pending_.clear();
  at_ = 0;
}

bool SampleWriter::take(const AVFrame& frame) {
  if (frame.nb_samples <= 0 || frame.ch_layout.nb_channels <= 0 || frame.sample_rate <= 0)
    return false;
  const bool same = converter_ && inputFormat_ == frame.format && inputRate_ == frame.sample_rate &&
                    av_channel_layout_compare(&input_, &frame.ch_layout) == 0;
  if (!same) {
    swr_free(&converter_);
    av_channel_layout_uninit(&input_);
    if (av_channel_layout_copy(&input_, &frame.ch_layout) < 0) return false;
    AVChannelLayout out{};
    av_channel_layout_default(&out, frame.ch_layout.nb_channels == 1 ? 1 : 2);
    const int made = swr_alloc_set_opts2(&converter_, &out, AV_SAMPLE_FMT_S16, frame.sample_rate,
                                         &input_, static_cast<AVSampleFormat>(frame.format),
                                         frame.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    if (made < 0 || swr_init(converter_) < 0) {
      swr_free(&converter_);
      return false;
    }
    inputFormat_ = frame.format;
    inputRate_ = frame.sample_rate;
  }
  const int channels = frame.ch_layout.nb_channels == 1 ? 1 : 2;
  if (at_ == pending_.size()) clear();
  const std::size_t before = pending_.size();
  pending_.resize(before + static_cast<std::size_t>(frame.nb_samples) * 2u *
                               static_cast<std::size_t>(channels));
  std::uint8_t* out = pending_.data() + before;
  const int got =
      swr_convert(converter_, &out, frame.nb_samples,
                  const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
  if (got < 0) {
    pending_.resize(before);
    return false;
  }
  pending_.resize(before + static_cast<std::size_t>(got) * 2u * static_cast<std::size_t>(channels));
  return true;
}

std::uint32_t SampleWriter::deliver(const decoder_audio_area& area, std::uint32_t written) {
  if (!area.data || written >= area.size) return 0;
  const std::size_t n = std::min<std::size_t>(area.size - written, pending_.size() - at_);
  if (n == 0) return 0;
  std::memcpy(area.data + written, pending_.data() + at_, n);
  at_ += n;
  return static_cast<std::uint32_t>(n);
}

}  // namespace quillion::decoder
