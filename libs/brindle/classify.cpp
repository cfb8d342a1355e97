// SPDX-License-Identifier: GPL-2.0-or-later
#include "classify.h"

namespace quillion::brindle {
namespace classify_detail {

bool svcdConforms(const mpeg_in_info* s) {
  const std::uint32_t gopLimit = s->frame_rate_code == 3 ? 15 : 18;
  return s->anchor_distance <= 3 && s->profile == 4 && s->level == 8 &&
         s->progressive_sequence == 0 &&
         (s->aspect_ratio_information == 2 || s->aspect_ratio_information == 3) &&
         s->vbv_buffer_size_value <= 112 && s->gop_length <= gopLimit;
}

bool dvdConforms(const mpeg_in_info* s) {
  const std::uint32_t w = s->width;
  const std::uint32_t h = s->height;
  const std::uint32_t code = s->frame_rate_code;
  if (code == 3 && !(s->gop_length <= 15 && (h == 576 || h == 288))) return false;
  if (code == 4 && !(s->gop_length <= 18 && (h == 480 || h == 240))) return false;
  if (s->profile != 4 && s->profile != 5) return false;
  if (s->level != 8) return false;
  if (h == 240 && !s->progressive_sequence) return false;
  if (s->aspect_ratio_information != 2 && s->aspect_ratio_information != 3) return false;
  if (s->aspect_ratio_information == 3 && w == 352) return false;
  if (s->bit_rate > 9800000.0) return false;
  const bool full = (w == 704 || w == 720) && h >= 480;
  const bool half = w == 352 && h <= 288;
  if (!full && !half) return false;
  if (s->sequence_display_extension_seen) {
    // Colour primaries and transfer characteristics: 4 or 6 at 25 frames/s, 5 otherwise.
    const bool pal = code == 3;
    const auto colourOk = [pal](std::uint32_t v) { return pal ? (v == 4 || v == 6) : v == 5; };
    if (!colourOk(s->colour_primaries) || !colourOk(s->transfer_characteristics)) return false;
    if (s->matrix_coefficients != 5 && s->matrix_coefficients != 6) return false;
    if (s->display_vertical_size != h) return false;
    const std::uint32_t dw = s->display_horizontal_size;
    if (w == 352 ? !(dw == 352 || dw == 360) : !(dw == 720 || dw == 540)) return false;
  }
  if (s->picture_display_extension_seen) {
    const std::int32_t limit = w == 720 ? 1440 : 1312;
    for (int i = 0; i < 3; ++i) {
      const std::int32_t hOff = s->frame_centre_horizontal_offset[i];
      if (hOff < -limit || hOff > limit) return false;
      if (s->frame_centre_vertical_offset[i] != 0) return false;
    }
  }
  return true;
}

std::uint32_t mpeg2Broadcast(const mpeg_in_info* s, std::uint32_t code) {
  const std::uint32_t w = s->width;
  const std::uint32_t h = s->height;
  const std::uint32_t rate = s->frame_rate_code;
  const double br = s->bit_rate;
  if (w == 720) {
    if (((h == 480 && rate == 4) || (h == 576 && rate == 3)) && s->profile == 4 && s->level == 8 &&
        br == 12000000.0)
      code = 9;
    if (((h == 512 && rate == 4) || (h == 608 && rate == 3)) && s->profile == 7 && s->level == 8 &&
        s->chroma_format == 2 && s->gop_length == 1 && s->anchor_distance == 1) {
      const bool mxf = s->system_stream_type == 6;
      if (br == 25000000.0)
        code = mxf ? 28 : 20;
      else if (br == 30000000.0)
        code = mxf ? 29 : 21;
      else if (br == 40000000.0)
        code = mxf ? 30 : 22;
      else if (br == 50000000.0)
        code = mxf ? 31 : 23;
    }
    return code;
  }
  if (w == 1280 && h == 720 && s->profile == 4 && (s->level == 6 || s->level == 4) &&
      s->progressive_sequence == 1 && s->aspect_ratio_information == 3)
    return br <= 19850000.0 ? 18 : 10;
  const bool vbr = s->vbv_delay == 0xFFFF;
  if (w == 1440 && h == 1080 && s->profile == 4 && s->aspect_ratio_information == 3) {
    if (s->system_stream_type == 5) {
      const auto whole = static_cast<std::uint64_t>(br);
      if (whole == 25000000 && !vbr) return 32;
      if (whole == 35000000 && vbr) return 34;
      if (whole == 17500000 && vbr) return 33;
      return code;
    }
    return br == 25000000.0 ? 19 : 10;
  }
  if (w == 1440 && h == 540 && s->profile == 4 && s->aspect_ratio_information == 3 &&
      s->system_stream_type == 5) {
    const auto whole = static_cast<std::uint64_t>(br);
    if (whole == 12500000 && !vbr) return 35;
    if (whole == 17500000 && vbr) return 37;
    if (whole == 8750000 && vbr) return 36;
    return code;
  }
  if (w == 1920 && h == 1080 && s->profile == 4 && (s->level == 6 || s->level == 4) &&
      s->aspect_ratio_information == 3)
    return 10;
  return code;
}

std::uint32_t videoStage(const mpeg_in_info* s) {
  if (!s->video_available) return 0;
  if (!s->mpeg2) {
    const bool vcdSize =
        (s->height == 240 && (s->frame_rate_code == 4 || s->frame_rate_code == 1)) ||
        (s->height == 288 && s->frame_rate_code == 3);
    return s->constrained_parameters_flag && s->width == 352 && s->bit_rate <= 1151929.0 && vcdSize
               ? 1
               : 0;
  }
  std::uint32_t code = 2;
  if (s->width == 480 && ((s->height == 480 && s->frame_rate_code == 4) ||
                          (s->height == 576 && s->frame_rate_code == 3)))
    return svcdConforms(s) ? 3 : 2;
  if (s->frame_rate_code == 3 || s->frame_rate_code == 4) code = dvdConforms(s) ? 4 : 2;
  if (code == 2) code = mpeg2Broadcast(s, code);
  return code;
}

bool layerTwoBitRateOk(const mpeg_in_info* s, std::uint32_t monoLow, std::uint32_t monoHigh) {
  const std::uint32_t index = s->audio_bit_rate_index;
  if (s->audio_mode == 3) return index >= monoLow && index <= monoHigh;
  return index > 3;
}

std::uint32_t audioStage(const mpeg_in_info* s, std::uint32_t code) {
  switch (code) {
    case 1:
      return s->audio_layer == 2 && (s->audio_mode == 0 || s->audio_mode == 3) &&
                     s->audio_bit_rate_index == 11 && s->sample_rate == 44100
                 ? 1
                 : 0;
    case 3:
      return s->audio_layer == 2 && s->audio_protection_bit == 0 && s->audio_emphasis == 0 &&
                     s->sample_rate == 44100 && layerTwoBitRateOk(s, 1, 10)
                 ? 3
                 : 2;
    case 4:
      if (s->audio_stream_count == 0) return 4;
      return s->audio_layer == 2 && s->audio_protection_bit == 0 && s->audio_emphasis == 0 &&
                     s->audio_private_bit == 0 && s->sample_rate == 48000 && s->audio_mode != 2 &&
                     layerTwoBitRateOk(s, 4, 10)
                 ? 4
                 : 2;
    case 9:
      return s->audio_layer == 2 && s->audio_bit_rate_index == 12 && s->audio_emphasis == 0 &&
                     s->audio_private_bit == 0 && s->sample_rate == 48000
                 ? 9
                 : 2;
    case 18:
    case 19:
      return s->audio_stream_count == 0 ? 10 : code;
    default:
      return code;
  }
}

std::uint32_t systemStage(const mpeg_in_info* s, std::uint32_t code) {
  const std::uint32_t type = s->system_stream_type;
  switch (code) {
    case 1:
      return type == 1 ? 1 : 0;
    case 3:
    case 4:
      return type == 2 ? code : 2;
    case 9:
    case 10:
    case 18:
    case 19:
      return type == 3 ? code : 2;
    default:
      return code;
  }
}

}  // namespace classify_detail

using namespace classify_detail;

std::uint32_t stream_type_code(const mpeg_in_info* s) {
  std::uint32_t code = videoStage(s);
  if (s->video_available && s->audio_available) {
    code = audioStage(s, code);
    code = systemStage(s, code);
  }
  return code;
}

void classify_stream(mpeg_in_info* record) {
  record->stream_type_code = stream_type_code(record);
}

}  // namespace quillion::brindle
