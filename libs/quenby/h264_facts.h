// SPDX-License-Identifier: GPL-2.0-or-later
// The records of H.264 pictures: the decoder parses the stream, so they are taken from each
// decoded frame; temporal references count the pictures shown since the last reset.
#pragma once

#include "video_decoder.h"

namespace quillion::quenby {

class H264Facts final : public decoder::PictureFacts {
 public:
  bool takeHeader(const std::uint8_t* data, std::uint32_t size) override;
  AVCodecID codec() const override { return AV_CODEC_ID_H264; }
  bool codedOrder() const override { return false; }
  bool describesUnits() const override { return false; }
  std::optional<decoder::PictureRecords> describe(const std::uint8_t*, std::uint32_t) override {
    return std::nullopt;
  }
  decoder::PictureRecords fromFrame(const AVFrame& frame) override;
  void restart() override;

 private:
  std::uint32_t shown_ = 0;
  decoder_sequence_info sequence_{};
};

}  // namespace quillion::quenby
