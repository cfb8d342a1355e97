// SPDX-License-Identifier: GPL-2.0-or-later
// What the multiplexer tells its output about the streams it writes: the index headers of
// the first video and audio inputs, an index record for every picture and audio frame that
// begins in a pack, the entry points of a Video CD, and, when the caller asks for them, the
// extended records of every unit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

// At the start of the job and of every further output file.
void sendIndexHeaders(mpeg_m_muxer& mux);
// After a pack of `in` was written: the records of the units that began in it, whose bytes
// are in `payload`.
void reportBegunUnits(mpeg_m_muxer& mux, const Input& in, std::uint64_t packStart,
                      const std::uint8_t* payload, std::size_t payloadSize);

}  // namespace quillion::corvel
