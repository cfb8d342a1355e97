// SPDX-License-Identifier: GPL-2.0-or-later
// Session at once on a CD: per session the cue sheet the drive is sent (8-byte entries of
// SEND CUE SHEET) and the producers that deliver every block the cue sheet describes, from the
// first pregap to the end of the last track, the gaps included as zero blocks.
//
// Times in the cue sheet count frames (1/75 s) from 00:00:00 at the first pregap of the disc,
// so that a track's index 1 at block a lies at a + 150.
#pragma once

#include <cstdint>

#include "burn/job/sessions.h"
#include "quillion/status.h"

namespace quillion::burn {

inline constexpr std::size_t kCueEntryBytes = 8;

// CTL/ADR of an entry.
inline constexpr std::uint8_t kCueAudio = 0x01;
inline constexpr std::uint8_t kCueData = 0x41;
// Track numbers of the lead-in and the lead-out.
inline constexpr std::uint8_t kCueLeadIn = 0x00;
inline constexpr std::uint8_t kCueLeadOut = 0xAA;
// Data forms.
inline constexpr std::uint8_t kFormAudioTrack = 0x00;
inline constexpr std::uint8_t kFormAudioLeadInOut = 0x01;
inline constexpr std::uint8_t kFormMode1Track = 0x10;
inline constexpr std::uint8_t kFormMode1LeadInOut = 0x14;
inline constexpr std::uint8_t kFormXATrack = 0x20;
inline constexpr std::uint8_t kFormXALeadInOut = 0x24;
inline constexpr std::uint8_t kFormLeadInCDText = 0x41;

enum class CueBuilder { Audio, Data, Copy };

// The builder of a session: the copy builder for copies and Video CD movies, else the data
// builder when the session begins with a data track, else the audio builder.
CueBuilder cueBuilderFor(const BurnJob& job, const Session& session);

// Each replaces the session's cue sheet, SAO list and gaps, and sets its blocks to the sum of
// the list. kErrOutOfMemory when a gap cannot be made: the cue sheet would then describe
// blocks nobody delivers. kErrBadArgument for a session without tracks or producers.
[[nodiscard]] EngineStatus PrepareAudioCDCueSheet(Session& session, bool leadInCDText);
[[nodiscard]] EngineStatus PrepareDataCDCueSheet(Session& session, bool leadInCDText);
[[nodiscard]] EngineStatus PrepareCopyCDCueSheet(Session& session, bool leadInCDText);

// Every session of the job, each with its builder; the lead-in CD-Text flag for the first
// session when the job holds a lead-in CD-Text block and writes to drives.
[[nodiscard]] EngineStatus buildCueSheets(BurnJob& job);

}  // namespace quillion::burn
