// SPDX-License-Identifier: GPL-2.0-or-later
// Cue sheets of bin/cue images: the text read into plain records, and those records laid out
// over the one data file they describe. Both steps are pure, so every rule about what a cue
// may say is checked without touching a file. A cue is outside input: every number is
// bounded, every relation between tracks is checked against the data file's size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillion/status.h"

namespace quillion::cue {

// Cue times are minutes, seconds and frames of 1/75 s: two digits each.
inline constexpr std::uint32_t kMaxCueTime = 99 * 4500 + 59 * 75 + 74;
inline constexpr std::size_t kMaxTracks = 99;
// A cue sheet is a few kilobytes; anything far larger is not one.
inline constexpr std::size_t kMaxCueBytes = 1 << 20;

struct CueTrack {
  std::uint16_t number = 0;
  std::uint16_t mode = 0;               // 0 audio, 1 Mode 1, 2 Mode 2
  std::uint16_t sectorBytes = 0;        // bytes per sector in the data file: 2352 or 2048
  std::optional<std::uint32_t> index0;  // blocks from the start of the data file
  std::optional<std::uint32_t> index1;
  std::uint32_t pregap = 0;   // blocks not in the data file, before the track
  std::uint32_t postgap = 0;  // blocks not in the data file, after the track
};

struct CueSheet {
  std::string fileName;  // as written on the FILE line, letter case kept
  std::vector<CueTrack> tracks;
};

// Reads one item at the start of `text`: "INDEX nn mm:ss:ff", "PREGAP mm:ss:ff" or
// "POSTGAP mm:ss:ff" (keywords in any letter case). Answers the index number (0 for the
// gaps) and sets `blocks`, or -1 for anything else.
int stringToLBA(std::string_view text, std::uint32_t* blocks);

// Reads the cue text. kNoErr, or kErrCueParse for a cue this engine cannot burn: no FILE or
// more than one, a data file of another type than BINARY, a track type other than AUDIO,
// MODE1/2048, MODE1/2352, MODE2/2048 or MODE2/2352, track numbers not rising from 1 to 99,
// a track without INDEX 01, indexes out of order, or any malformed item.
[[nodiscard]] EngineStatus parseCueText(std::string_view text, CueSheet& out);

struct BinQ_Track {
  std::uint16_t mode = 0;
  std::uint16_t sectorBytes = 0;
  std::uint32_t start = 0;  // first block of the track in the session
  std::uint32_t blocks = 0;
  std::uint64_t fileOffset = 0;  // byte offset of the track's INDEX 01 in the data file
};

struct BinQ_Info {
  std::uint16_t audioTracks = 0;
  std::uint16_t mode1Tracks = 0;
  std::uint16_t mode2Tracks = 0;
  std::uint32_t totalBlocks = 0;
  std::vector<BinQ_Track> tracks;
};

// Lays the tracks out over a data file of `dataFileBytes`. kNoErr, kErrCueParse when the
// indexes do not describe tracks of at least one block each, or kErrCueData when the data
// file does not hold every track's sectors.
[[nodiscard]] EngineStatus layoutSession(const CueSheet& sheet, std::uint64_t dataFileBytes,
                                         BinQ_Info& out);

// BinQ_Session as bytes: a 16-byte header and one 24-byte entry per track, little-endian.
inline constexpr std::size_t kBinQHeaderBytes = 16;
inline constexpr std::size_t kBinQEntryBytes = 24;
std::vector<std::uint8_t> encodeSession(const BinQ_Info& info);

}  // namespace quillion::cue
