// SPDX-License-Identifier: GPL-2.0-or-later
// The limits a sized layout must keep before its burn is offered: room at an image file's
// folder, room on the disc (with or without the overburn margin) and the size limits of
// the chosen file system. Pure functions over plain numbers.
#pragma once

#include <cstdint>
#include <optional>

namespace quillion::burn {

// An image file needs this much more free space than its own size.
inline constexpr std::uint64_t kImageSpareBytes = 10'485'760;
// An HFS volume, with the same spare room, may not pass this size.
inline constexpr std::uint64_t kHfsLimitBytes = 716'800'000;
// The largest file an ISO9660 volume records: 4 GiB in 2,048-byte blocks.
inline constexpr std::uint32_t kIso9660FileLimitBlocks = 2'097'152;

inline constexpr unsigned kFormatHfs = 1;
inline constexpr unsigned kFormatIso9660Bits = 0xF00;

constexpr bool imageHasRoom(std::uint64_t freeBytes, std::uint64_t imageBytes) {
  return freeBytes > imageBytes + kImageSpareBytes;
}

// Both the byte size and the block size of the layout, each with the spare room.
constexpr bool hfsSizeFits(std::uint64_t bytes, std::uint32_t blocks) {
  return bytes + kImageSpareBytes <= kHfsLimitBytes &&
         std::uint64_t{blocks} * 2048 + kImageSpareBytes <= kHfsLimitBytes;
}

constexpr bool iso9660FileFits(std::uint32_t biggestFileBlocks) {
  return biggestFileBlocks <= kIso9660FileLimitBlocks;
}

enum class DiscRoom {
  Enough,            // the free blocks hold the layout
  OnlyWithOverburn,  // it fits only into the overburn margin: the user is asked
  NotEnough,
};

// `overburnMargin` is set when overburning is switched on and the drive can do it.
constexpr DiscRoom discRoom(std::uint32_t freeBlocks, std::uint32_t neededBlocks,
                            std::optional<std::uint32_t> overburnMargin) {
  if (freeBlocks >= neededBlocks) return DiscRoom::Enough;
  if (overburnMargin && std::uint64_t{freeBlocks} + *overburnMargin >= neededBlocks)
    return DiscRoom::OnlyWithOverburn;
  return DiscRoom::NotEnough;
}

}  // namespace quillion::burn
