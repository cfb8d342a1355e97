// SPDX-License-Identifier: GPL-2.0-or-later
// Every step of a pack walk moves at least four bytes on and never past the pack's end, so a
// hostile file (lengths past the pack or the file, start codes at the very end, empty
// packets) ends the walk instead of looping or reading out of bounds.
#include "DPMs/mpeg/mpeg_pack_walk.h"

#include <algorithm>

#include "quillion/MU.h"

namespace quillion::mpeg {
namespace {

bool isAudio(std::uint8_t id) {
  return id >= 0xC0 && id <= 0xDF;
}
bool isVideo(std::uint8_t id) {
  return id >= 0xE0 && id <= 0xEF;
}
// The system header and every stream id from the program stream map on (private streams,
// navigation data, padding, audio, video and the rest) carry a 16-bit length. Walking over
// all of them by length, not only over audio, video and padding, gives a DVD navigation or
// AC-3 pack its true length and keeps look-alike start codes in their payload from being
// taken for packets.
bool hasLength(std::uint8_t id) {
  return id == kSystemHeader || id >= kProgramStreamMap;
}

// The 33-bit time stamp of a packet header field that begins at `at`: 4 + 15 + 15 bits, each
// group followed by a marker bit.
std::uint64_t timeStampAt(ByteView& view, std::uint64_t at) {
  const std::uint64_t high = (view.at(at) >> 1) & 0x07;
  const std::uint64_t middle = view.be16(at + 1) >> 1;
  const std::uint64_t low = view.be16(at + 3) >> 1;
  return high << 30 | middle << 15 | low;
}

// Looks for an I picture whose header starts in the video packet at `packet` with payload
// ending at `packetEnd`; its time is the packet's presentation time stamp.
bool findIPicture(ByteView& view, std::uint64_t packet, std::uint64_t packetEnd, double* seconds) {
  const std::int64_t picture = view.findStartCode(static_cast<std::int64_t>(packet + 4),
                                                  kPictureStart, true, nullptr, packetEnd);
  if (picture < 0) return false;
  const auto at = static_cast<std::uint64_t>(picture);
  // The coding type lies in byte 5 of the picture header, which must be in this packet.
  if (at + 6 > packetEnd) return false;
  if (((view.at(at + 5) >> 3) & 0x07) != 1) return false;
  // The packet's header must carry a presentation time stamp (MPEG-2 flags, byte 7).
  if (packet + 14 > packetEnd || (view.at(packet + 7) & 0x80) == 0) return false;
  *seconds = static_cast<double>(timeStampAt(view, packet + 9)) / 90000.0;
  return true;
}

}  // namespace

std::int64_t findNextMPEGMarker(ByteView& view, std::int64_t position, std::uint8_t id,
                                std::uint8_t* found, bool forward) {
  return view.findStartCode(position, id, forward, found);
}

std::int64_t findNextPack(ByteView& view, std::int64_t position, bool wantIPicture,
                          PackInfo* pack) {
  if (!pack) return -1;
  *pack = PackInfo{};
  const std::int64_t start = view.findStartCode(position, kPackStart, true, nullptr);
  if (start < 0) return -1;
  const auto packStart = static_cast<std::uint64_t>(start);
  const std::int64_t next = view.findStartCode(start + 4, kPackStart, true, nullptr);
  const std::uint64_t packEnd =
      next >= 0 ? static_cast<std::uint64_t>(next) : packStart + kLastPackBytes;

  std::uint64_t length = 0;
  std::uint64_t cursor = packStart + 4;
  for (;;) {
    std::uint8_t id = 0;
    const std::int64_t code =
        view.findStartCode(static_cast<std::int64_t>(cursor), kAnyId, true, &id);
    if (code < 0 || static_cast<std::uint64_t>(code) >= packEnd) break;
    const auto at = static_cast<std::uint64_t>(code);
    if (hasLength(id)) {
      const std::uint64_t packetEnd = at + 6 + view.be16(at + 4);
      length = packetEnd - packStart;
      cursor = packetEnd;
      if (isAudio(id)) pack->audio = true;
      if (isVideo(id) || id == kPaddingStream) pack->videoOrPadding = true;
      if (id == kSystemHeader) pack->systemHeader = true;
      if (isVideo(id) && wantIPicture && !pack->iPicture)
        pack->iPicture = findIPicture(view, at, packetEnd, &pack->iSeconds);
    } else if (id == kSequenceEnd || id == kProgramEnd) {
      length = at + 4 - packStart;
      cursor = at + 4;
      pack->endCode = true;
    } else {
      cursor = at + 4;
    }
  }
  if (length == 0) {
    length = packEnd - packStart;
  } else if (!pack->endCode) {
    // Bytes between the last packet and the next pack (stuffing that fills a sector) still
    // belong to this pack, so that the packs handed out together equal the file. A longer
    // gap is damage, not stuffing: it stays out, and the walk goes on at the next pack.
    const std::uint64_t boundary = next >= 0 ? packEnd : std::min(packEnd, view.size());
    if (boundary - packStart > length && boundary - packStart <= kMU_MaxPackBytes)
      length = boundary - packStart;
  }
  pack->start = start;
  pack->length = length;
  pack->unknown = !pack->audio && !pack->videoOrPadding && !pack->systemHeader && !pack->endCode;
  return start;
}

}  // namespace quillion::mpeg
