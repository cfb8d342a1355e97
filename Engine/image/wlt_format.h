// SPDX-License-Identifier: GPL-2.0-or-later
// The native image file's header (extension "wlt") as plain records, and its byte layout:
// 93,774 bytes, little-endian, at offset 0 of the file. Records are encoded and decoded
// field by field; nothing is ever cast over the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quillion/status.h"

inline constexpr std::uint32_t kWltMagic = 0xCD77CD88u;
inline constexpr std::size_t kWltHeaderBytes = 93'774;
inline constexpr std::size_t kWltMaxSessions = 99;
inline constexpr std::size_t kWltMaxTracks = 99;
// The largest stored block: 2,352 bytes of a raw sector and its 96 bytes of subchannel.
inline constexpr std::uint32_t kWltMaxBlockSize = 2'448;

// WLTSESSION: one session of the image.
struct WLTSESSION {
  std::uint16_t firstTrack = 0;  // tracks are numbered from 1 through the whole file
  std::uint16_t trackCount = 0;
  std::uint8_t sessionAtOnce = 0;  // 1 when the session was written session at once
  std::uint8_t marker = 0;         // 1 in every session the writer layer records
  std::uint16_t sessionType = 0;   // 0 audio, 1 Mode 1 data, 2 CD-ROM XA, 3 CD-I
  std::uint8_t closeDisc = 0;      // 1 when the disc was to be closed
  std::int32_t startBlock = 0;     // negative when lead-in CD-Text precedes the session
};

// WLTTRACK: one track of the image. Its data is `dataLength` bytes at `dataOffset` of the file.
struct WLTTRACK {
  std::uint16_t number = 0;     // 1-based, in file order
  std::uint16_t trackType = 0;  // 0 CD-DA, 1 Mode 1, 3 Mode 2 Form 1, 4 Mode 2 Form 2, 5 formless
  std::uint16_t typeExtra = 0;  // the word after the type; 0 as written
  std::uint32_t blockSize = 0;  // bytes per stored block
  std::array<std::uint8_t, 16> info{};  // the writer layer's track information record
  std::uint16_t pregap = 0;             // blocks
  std::uint32_t startBlock = 0;
  std::uint64_t dataLength = 0;
  std::uint64_t dataOffset = 0;
};

struct WltHeader {
  std::uint32_t created = 0;  // seconds since 1 January 1970
  std::uint16_t sessionCount = 0;
  std::array<WLTSESSION, kWltMaxSessions> sessions{};
  std::uint16_t trackCount = 0;
  std::array<WLTTRACK, kWltMaxTracks> tracks{};
  std::uint32_t cdTextOffset = 0;  // 0 = none
  std::uint32_t cdTextLength = 0;
};

namespace quillion::wlt {

// The header's 93,774 bytes; the writer leaves the short data forms of each track zero.
std::vector<std::uint8_t> encode(const WltHeader& header);

// Reads a header of at least kWltHeaderBytes; empty when the magic is not the native one.
// A track whose short data offset or length is non-zero is read with that value.
std::optional<WltHeader> decode(std::span<const std::uint8_t> bytes);

// Checks a decoded header against the file it came from: counts within 99; sessions that
// share the tracks out in order, every track in exactly one; tracks numbered from 1 in file
// order, each of whole blocks of 1 to kWltMaxBlockSize bytes; every track's data and the
// CD-Text block inside the file after the header and apart from each other. kNoErr, or
// kErrImageMagic for a header that cannot describe this file.
[[nodiscard]] EngineStatus validate(const WltHeader& header, std::uint64_t fileSize);

}  // namespace quillion::wlt
