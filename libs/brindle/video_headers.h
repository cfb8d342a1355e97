// SPDX-License-Identifier: GPL-2.0-or-later
// MPEG-1/2 video headers read with the session's video stream parser: sequence headers, GOP
// headers and pictures with the extensions and user data that follow them. Every syntax
// element read is stored in the session's public record.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

enum class HeaderMode : int { Picture = 0, Sequence = 1, Gop = 2 };

// 0 when the header asked for was read, 1 at the end of the stream or on an error.
int Get_Next_Header(mpeg_in_info* session, HeaderMode mode);
// Reads the extension and user data start codes at the current position; returns the start
// code that ended them, left unconsumed in the window.
std::uint32_t Parse_Extensions(mpeg_in_info* session);

// Frames per second of a frame_rate_code (0.0 for a code without a rate).
double frame_rate_of_code(std::uint32_t code);

// The standard's zigzag scan: the raster position of the i-th coefficient.
extern const std::uint8_t kZigzag[64];
// The default intra quantiser matrix in raster order.
extern const std::uint8_t kDefaultIntraMatrix[64];

}  // namespace quillion::brindle
