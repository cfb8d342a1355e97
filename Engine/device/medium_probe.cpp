// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/medium_probe.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/byte_order.h"

namespace quillion {
namespace {

constexpr std::uint64_t kBlock = 2048;

std::uint64_t blocksOf(std::uint64_t bytes) {
  return (bytes + kBlock - 1) / kBlock;
}

bool hasText(std::span<const std::uint8_t> b, std::size_t at, const char* text) {
  const std::size_t n = std::strlen(text);
  return at + n <= b.size() && std::memcmp(b.data() + at, text, n) == 0;
}

// Apple partition map driver descriptor (block 0): block size x block count.
std::uint64_t partitionMapBlocks(std::span<const std::uint8_t> h) {
  if (!hasText(h, 0, "ER")) return 0;
  return blocksOf(std::uint64_t{be::get16(h, 2)} * be::get32(h, 4));
}

// HFS Plus volume header at 1024: block size (offset 40) x total blocks (offset 44).
std::uint64_t hfsPlusBlocks(std::span<const std::uint8_t> h) {
  if (!hasText(h, 1024, "H+")) return 0;
  return blocksOf(std::uint64_t{be::get32(h, 1064)} * be::get32(h, 1068));
}

// HFS master directory block at 1024: allocation blocks (offset 18) x their size (offset 20).
std::uint64_t hfsBlocks(std::span<const std::uint8_t> h) {
  if (!hasText(h, 1024, "BD")) return 0;
  return blocksOf(std::uint64_t{be::get16(h, 1042)} * be::get32(h, 1044));
}

// ECMA-119 8.4: volume space size (BE half at 84) x logical block size (BE half at 130).
std::uint64_t isoBlocks(std::span<const std::uint8_t> h) {
  constexpr std::size_t kPvd = 32768;
  if (h.size() < kPvd + 2048 || h[kPvd] != 1 || !hasText(h, kPvd + 1, "CD001")) return 0;
  return blocksOf(std::uint64_t{be::get32(h, kPvd + 84)} * be::get16(h, kPvd + 130));
}

// After the ISO descriptors, the first that is not "CD001" ends the set; a "BEA01" there
// starts a UDF volume recognition sequence (ECMA-167 2/9.2).
bool udfFollowsIso(std::span<const std::uint8_t> h) {
  for (std::size_t at = 34816; at < 53248 && at + 6 <= h.size(); at += 2048) {
    if (hasText(h, at + 1, "CD001")) continue;
    return h[at] == 0 && hasText(h, at + 1, "BEA01");
  }
  return false;
}

// ECMA-167 3/10.2 anchor at sector 256 -> main volume descriptor sequence; the end of the
// largest partition (3/10.5: start at 188, length at 192, in sectors).
std::uint64_t udfPartitionEnd(const MediumReader& read) {
  std::vector<std::uint8_t> sector(kBlock);
  if (!read(256 * kBlock, sector) || le::get16(sector, 0) != 2) return 0;
  const std::uint64_t length = le::get32(sector, 16);
  const std::uint64_t location = le::get32(sector, 20);
  const std::uint64_t sectors =
      std::min<std::uint64_t>(length / kBlock, kProbeMaxDescriptorSectors);
  std::uint64_t end = 0;
  for (std::uint64_t i = 0; i < sectors; ++i) {
    if (!read((location + i) * kBlock, sector)) break;
    const std::uint16_t tag = le::get16(sector, 0);
    if (tag == 5)
      end = std::max(end, std::uint64_t{le::get32(sector, 188)} + le::get32(sector, 192));
    if (tag == 8) break;  // terminating descriptor
  }
  return end;
}

}  // namespace

MediumProbe probeMedium(const MediumReader& read, std::uint64_t mediumBlocks) {
  MediumProbe probe;
  std::vector<std::uint8_t> head(kProbeHeadBytes);
  if (!read(0, head)) return probe;
  const std::uint64_t hfs =
      std::max({partitionMapBlocks(head), hfsPlusBlocks(head), hfsBlocks(head)});
  if (hfs) probe.found |= kProbeFoundHfs;
  std::uint64_t used = hfs;
  const std::uint64_t iso = isoBlocks(head);
  used = std::max(used, iso);
  const std::uint64_t udf = iso && udfFollowsIso(head) ? udfPartitionEnd(read) : 0;
  if (udf) {
    used = udf;
    probe.found |= kProbeFoundUdf;
  } else if (iso) {
    probe.found |= kProbeFoundIso;
  }
  probe.blocks = std::min(used, mediumBlocks);
  return probe;
}

}  // namespace quillion
