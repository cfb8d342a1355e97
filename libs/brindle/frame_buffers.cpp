// SPDX-License-Identifier: GPL-2.0-or-later
#include "frame_buffers.h"

#include <array>
#include <cstddef>

#include "gop_buffers.h"
#include "resources.h"
#include "session.h"

namespace quillion::brindle {
namespace frame_buffers_detail {

constexpr std::array<FourccLayout, 13> kFourccs{{
    {MPEG_IN_FOURCC_I420, FrameLayout::Planar420, 0, false},
    {MPEG_IN_FOURCC_YV12, FrameLayout::Planar420, 0, false},
    {MPEG_IN_FOURCC_YUY2, FrameLayout::Packed, 2, false},
    {MPEG_IN_FOURCC_YUYV, FrameLayout::Packed, 2, false},
    {MPEG_IN_FOURCC_UYVY, FrameLayout::Packed, 2, false},
    {MPEG_IN_FOURCC_YuYv, FrameLayout::Packed, 2, false},
    {MPEG_IN_FOURCC_BGR3, FrameLayout::Packed, 3, true},
    {MPEG_IN_FOURCC_BGR4, FrameLayout::Packed, 4, false},
    {MPEG_IN_FOURCC_BGRA, FrameLayout::Packed, 4, false},
    {MPEG_IN_FOURCC_R32C, FrameLayout::Packed, 4, false},
    {MPEG_IN_FOURCC_R555, FrameLayout::Packed, 2, true},
    {MPEG_IN_FOURCC_R565, FrameLayout::Packed, 2, true},
    {MPEG_IN_FOURCC_VUYA, FrameLayout::Packed, 4, false},
}};

void takeMpeg1Values(mpeg_in_info* record) {
  record->progressive_sequence = 1;
  record->chroma_format = 1;
  record->matrix_coefficients = 5;
  record->picture_structure = 3;
  record->frame_pred_frame_dct = 1;
  record->progressive_frame = 1;
}

int allocPictureBuffers(mpeg_in_info* record, bool splitMode);

}  // namespace frame_buffers_detail

using namespace frame_buffers_detail;

std::optional<FourccLayout> fourcc_layout(std::uint32_t fourcc) {
  for (const FourccLayout& f : kFourccs)
    if (f.fourcc == fourcc) return f;
  return std::nullopt;
}

std::uint32_t packed_stride(const FourccLayout& layout, std::uint32_t width) {
  const std::uint32_t row = layout.bytesPerPixel * width;
  return layout.strideRoundedDown ? (row + 3) & ~3u : row;
}

std::uint32_t default_fourcc(std::uint32_t options) {
  if ((options & 3u) == 3u) return (options & 8u) ? MPEG_IN_FOURCC_BGR3 : MPEG_IN_FOURCC_BGRA;
  if ((options & 3u) == 1u) return MPEG_IN_FOURCC_YV12;
  return 0;
}

int alloc_frame_buffers(mpeg_in_info* record, bool splitMode) {
  if (!record->mpeg2) takeMpeg1Values(record);
  if (allocPictureBuffers(record, splitMode) != 0) return 1;
  if (record->priv->use_all_frames && Alloc_Gop_Buffers(record) != 0) {
    free_frame_buffers(record);
    return 1;
  }
  return 0;
}

int frame_buffers_detail::allocPictureBuffers(mpeg_in_info* record, bool splitMode) {
  mpeg_in_private* p = record->priv;
  if (splitMode || p->external_frame_buffer) return 0;
  const auto layout = fourcc_layout(record->fourcc);
  if (!layout) {
    report_error(record, "Unsupported fourcc type: 0x%08X", record->fourcc);
    return 1;
  }
  const std::size_t w = record->width;
  const std::size_t h = record->height;
  if (layout->layout == FrameLayout::Planar420) {
    const std::size_t luma = w * h;
    const std::size_t chroma = (w / 2) * (h / 2);
    const bool vFirst = record->fourcc == MPEG_IN_FOURCC_YV12;
    for (int i = 0; i < 2; ++i) {
      auto* base = static_cast<std::uint8_t*>(session_malloc(record, luma + 2 * chroma));
      if (!base) {
        report_error(record, "pic_buffer[%d][0] malloc failed", i);
        free_frame_buffers(record);
        return 1;
      }
      p->pictures[i].planes[0] = base;
      p->pictures[i].planes[vFirst ? 2 : 1] = base + luma;
      p->pictures[i].planes[vFirst ? 1 : 2] = base + luma + chroma;
    }
    record->plane_row_bytes = static_cast<std::uint32_t>(w);
    record->plane_rows = static_cast<std::uint32_t>(h);
    record->chroma_row_bytes = static_cast<std::uint32_t>(w / 2);
    record->chroma_rows = static_cast<std::uint32_t>(h / 2);
    return 0;
  }
  const std::uint32_t stride = packed_stride(*layout, record->width);
  for (int i = 0; i < 2; ++i) {
    auto* base = static_cast<std::uint8_t*>(session_malloc(record, std::size_t{stride} * h));
    if (!base) {
      report_error(record, "pic_buffer[%d] malloc failed", i);
      free_frame_buffers(record);
      return 1;
    }
    p->pictures[i].planes[0] = base;
  }
  record->stride = stride;
  return 0;
}

void free_frame_buffers(mpeg_in_info* record) {
  for (picture_buffer& b : record->priv->pictures) {
    session_free(record, b.planes[0]);
    b = picture_buffer{};
  }
  Free_Gop_Buffers(record);
}

}  // namespace quillion::brindle
