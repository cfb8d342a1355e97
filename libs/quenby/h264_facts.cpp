// SPDX-License-Identifier: GPL-2.0-or-later
#include "h264_facts.h"

namespace quillion::quenby {

bool H264Facts::takeHeader(const std::uint8_t* data, std::uint32_t size) {
  // The header must hold a sequence parameter set after a three-byte start code (a leading
  // zero byte of a four-byte code is part of the scan).
  for (std::uint32_t i = 0; data && i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1F) == 7)
      return true;
  return false;
}

void H264Facts::restart() {
  shown_ = 0;
}

decoder::PictureRecords H264Facts::fromFrame(const AVFrame& frame) {
  decoder::PictureRecords r;
  const auto width = static_cast<std::uint32_t>(frame.width);
  const auto height = static_cast<std::uint32_t>(frame.height);
  if (shown_ == 0 || width != sequence_.width || height != sequence_.height) {
    r.events |= DECODER_STATUS_SEQUENCE;
    sequence_ = decoder_sequence_info{};
    sequence_.width = width;
    sequence_.height = height;
  }
  r.sequence = sequence_;
  decoder_picture_info& p = r.picture;
  p.temporal_reference = shown_++;
  switch (frame.pict_type) {
    case AV_PICTURE_TYPE_I:
      p.picture_coding_type = 1;
      break;
    case AV_PICTURE_TYPE_P:
      p.picture_coding_type = 2;
      break;
    default:
      p.picture_coding_type = 3;
      break;
  }
  p.picture_coding_type_copy = p.picture_coding_type;
  p.picture_structure = 3;
  p.progressive_frame = frame.interlaced_frame ? 0 : 1;
  p.top_field_first = frame.top_field_first ? 1 : 0;
  p.repeat_first_field = frame.repeat_pict > 0 ? 1 : 0;
  return r;
}

}  // namespace quillion::quenby
