// SPDX-License-Identifier: GPL-2.0-or-later
// Split output: a file that has grown to the split size (or whose caller asked for a new
// segment) ends before the next I picture of the first video input. The other inputs then
// send what belongs before that picture, the file is closed with its end, and the next one
// opens with the system headers and index headers of a fresh stream.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

bool splitDue(const mpeg_m_muxer& mux);
// A unit that must wait for the next file: the first video input's I picture when a split is
// due, any other input's unit at or past the split time while the file is finished.
bool belongsToNextFile(const mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit);
// At the start of a step: begins finishing the file when the first video input is about to
// begin the I picture that opens the next, and closes it once every input has caught up.
// 0, or 16 after a message.
std::int32_t advanceSplit(mpeg_m_muxer& mux);

}  // namespace quillion::corvel
