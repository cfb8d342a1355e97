// SPDX-License-Identifier: GPL-2.0-or-later
// Output picture formats (one table of the fourcc codes and their layouts) and the two
// internal picture buffers a session decodes into.
#pragma once

#include <cstdint>
#include <optional>

#include "brindle.h"

namespace quillion::brindle {

enum class FrameLayout { Planar420, Packed };

struct FourccLayout {
  std::uint32_t fourcc;
  FrameLayout layout;
  std::uint32_t bytesPerPixel;  // packed layouts
  bool strideRoundedDown;       // stride (bytes per row + 3) rounded down to a multiple of 4
};

// The layout of a supported fourcc, or nothing.
std::optional<FourccLayout> fourcc_layout(std::uint32_t fourcc);
// Bytes per row of a packed layout at this width.
std::uint32_t packed_stride(const FourccLayout& layout, std::uint32_t width);
// The fourcc option bits choose when the caller set none (0 keeps video undecoded).
std::uint32_t default_fourcc(std::uint32_t options);

// Allocates both picture buffers for the session's fourcc and picture size; 0, or 1 after a
// message. MPEG-1 video first takes the MPEG-2-only header fields' MPEG-1 values.
int alloc_frame_buffers(mpeg_in_info* record, bool splitMode);
void free_frame_buffers(mpeg_in_info* record);

}  // namespace quillion::brindle
