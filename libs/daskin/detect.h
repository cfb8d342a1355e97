// SPDX-License-Identifier: GPL-2.0-or-later
// What the opened data hold: detection of the container, then the probes that list its
// programs and streams into the context.
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

// True with the tables filled; false after "Unknown file type" (or a probe's message).
[[nodiscard]] bool detectFileType(Context& ctx);

// Stream kind of an MPEG stream_type, looking into the descriptors where the type leaves it
// open (the private-data type 0x06).
std::uint32_t classifyStreamType(std::uint32_t streamType, const std::uint8_t* descriptors,
                                 std::uint32_t length);
// Stream kind of a private stream 1 sub-stream id, 0 for ids that are not listed.
std::uint32_t classifySubStream(std::uint8_t sub);

// Frees the descriptor buffers and clears the program and stream tables.
void clearPrograms(Context& ctx);

}  // namespace quillion::daskin
