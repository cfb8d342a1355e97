// SPDX-License-Identifier: GPL-2.0-or-later
// The two searches the scanner is built on: the next start code, and the analysis of the
// next pack (its length, what it carries, and the time of an I picture in it).
#pragma once

#include <cstdint>

#include "DPMs/mpeg/mpeg_byte_view.h"

namespace quillion::mpeg {

enum : std::uint8_t {
  kPictureStart = 0x00,
  kSequenceHeader = 0xB3,
  kSequenceEnd = 0xB7,
  kProgramEnd = 0xB9,
  kPackStart = 0xBA,
  kSystemHeader = 0xBB,
  kProgramStreamMap = 0xBC,
  kPaddingStream = 0xBE,
  kAnyId = 0xFF
};

// A pack that has no further pack start code after it is taken to be this long.
inline constexpr std::uint64_t kLastPackBytes = 4096;

struct PackInfo {
  std::int64_t start = -1;
  std::uint64_t length = 0;
  bool audio = false;           // an audio packet (ids C0-DF)
  bool videoOrPadding = false;  // a video packet (E0-EF) or padding (BE)
  bool systemHeader = false;
  bool endCode = false;
  bool unknown = false;  // none of the above
  bool iPicture = false;
  double iSeconds = 0;  // presentation time of the I picture's packet
};

// Position of the next 00 00 01 `id` from `position` (id kAnyId: any, reported in *found),
// searching forward or backward; -1 when there is none.
std::int64_t findNextMPEGMarker(ByteView& view, std::int64_t position, std::uint8_t id,
                                std::uint8_t* found, bool forward);

// Analyses the first pack at or after `position`; with `wantIPicture` it also looks for an I
// picture in the pack's video packets. Returns the pack's start (also in *pack) or -1.
std::int64_t findNextPack(ByteView& view, std::int64_t position, bool wantIPicture, PackInfo* pack);

}  // namespace quillion::mpeg
