// SPDX-License-Identifier: GPL-2.0-or-later
// The multiplexing engine: the first units of every input, the time base of the job, and
// the step that writes one pack chosen by the buffer model and the inputs' time stamps.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

// 0, or 1 (video), 2 (audio) after the message of a first unit that could not be read.
std::int32_t readFirstUnits(mpeg_m_muxer& mux);
// 0, or 16 after a message.
std::int32_t setupTiming(mpeg_m_muxer& mux);
// 0 (a pack written, or nothing due in a variable-rate multiplex), or 16 after a message.
std::int32_t muxStep(mpeg_m_muxer& mux);
bool anyUnitPending(const mpeg_m_muxer& mux);
// Moves the clock of a variable-rate multiplex over the time nothing is due (the extra time
// the video pack writer found).
void vbrClockSkip(mpeg_m_muxer& mux);
// Writes the end of the program (unless the profile has none) and the underflow totals.
std::int32_t writeProgramEnd(mpeg_m_muxer& mux);
// Sends the index records still waiting.
void flushIndexRecords(mpeg_m_muxer& mux);

// Time stamps a picture's PES header gets, with the underflow warnings of the check.
Stamps checkVideoTimestamps(mpeg_m_muxer& mux, Input& in, std::uint64_t scr, std::uint64_t pts,
                            std::uint64_t dts, std::uint32_t pictureType);

// Moves a unit's times as read into the multiplex: the input's offset added, and the
// rebase of a split with clock reset taken off.
void placeInTime(const mpeg_m_muxer& mux, const Input& in, AccessUnit& unit);
// Takes the next access unit of an input into its current slot (time stamps moved by the
// input's offset); false when the input has none left.
bool advanceUnit(mpeg_m_muxer& mux, Input& in);
// Reads the unit after the current one ahead (kept for advanceUnit); false when none.
bool peekUnit(mpeg_m_muxer& mux, Input& in);

}  // namespace quillion::corvel
