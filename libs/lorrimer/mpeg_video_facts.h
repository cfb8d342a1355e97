// SPDX-License-Identifier: GPL-2.0-or-later
// The records of MPEG-1/2 coded pictures, read from each unit's own headers with the input
// library's header parser over a session of the plug-in's own.
#pragma once

#include "video_decoder.h"

struct mpeg_in_info;

namespace quillion::lorrimer {

class MpegVideoFacts final : public decoder::PictureFacts {
 public:
  MpegVideoFacts();
  ~MpegVideoFacts() override;
  MpegVideoFacts(const MpegVideoFacts&) = delete;
  MpegVideoFacts& operator=(const MpegVideoFacts&) = delete;

  bool valid() const { return session_ != nullptr; }
  bool takeHeader(const std::uint8_t* data, std::uint32_t size) override;
  AVCodecID codec() const override;
  bool codedOrder() const override { return true; }
  bool describesUnits() const override { return true; }
  std::optional<decoder::PictureRecords> describe(const std::uint8_t* unit,
                                                  std::uint32_t size) override;
  decoder::PictureRecords fromFrame(const AVFrame& frame) override;

  // The unit the session's parser reads (one chunk, then the end).
  const std::uint8_t* unit = nullptr;
  std::uint32_t unitSize = 0;
  bool delivered = false;

 private:
  // Reads the unit's headers of the mode asked for; 0 when found.
  int parse(const std::uint8_t* data, std::uint32_t size, int mode);
  decoder::PictureRecords records() const;

  mpeg_in_info* session_ = nullptr;
  bufstream source_{};
};

}  // namespace quillion::lorrimer
