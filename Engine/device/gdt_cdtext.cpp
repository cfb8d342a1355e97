// SPDX-License-Identifier: GPL-2.0-or-later
// CD-Text from the lead-in (READ TOC format 5): the disc's and each track's title, performer,
// songwriter, composer and arranger.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "device/cd_text.h"
#include "device/gdt_support.h"
#include "quillion/GDT.h"

using namespace quillion;

namespace {

constexpr std::uint32_t kCdTextReplyBytes = 36724;
constexpr std::size_t kPackBytes = 18;
constexpr std::uint8_t kFirstTextPack = 0x80;  // title; then performer, songwriter, composer, arranger
constexpr std::uint8_t kSizeInfoPack = 0x8F;

// Stores one string for a track and pack type; tracks outside the table are dropped, since the
// pack's track number comes from the disc.
void store(char* table, std::uint32_t entries, std::uint32_t track, std::uint8_t type, const std::string& text) {
  if (track >= entries) return;
  char* slot = table + track * kGDT_CDTextEntryBytes + (type - kFirstTextPack) * kGDT_CDTextStringBytes;
  const std::size_t n = std::min<std::size_t>(text.size(), kGDT_CDTextStringBytes - 1);
  std::memcpy(slot, text.data(), n);
  slot[n] = '\0';
}

}  // namespace

std::optional<std::vector<char>> quillion::cdTextTable(std::span<const std::uint8_t> reply, std::uint32_t entries) {
  const std::size_t sent = std::min<std::size_t>(reply.size(), 2u + be::get16(reply, 0));
  if (sent <= 4) return std::nullopt;  // a header only: the disc has no CD-Text
  // Whole packs, each of a type 80h-8Fh. A drive that takes the format only from the old
  // position in byte 9 (which has no room for format 5) answers with the TOC instead: no
  // CD-Text then.
  if ((sent - 4) % kPackBytes != 0) return std::nullopt;
  for (std::size_t at = 4; at + kPackBytes <= sent; at += kPackBytes)
    if ((reply[at] & 0xF0) != 0x80) return std::nullopt;

  std::vector<char> table(std::size_t{entries} * kGDT_CDTextEntryBytes, '\0');
  std::string pending;
  std::uint8_t pendingType = 0;
  for (std::size_t at = 4; at + kPackBytes <= sent; at += kPackBytes) {
    const std::uint8_t type = reply[at];
    if (type == kSizeInfoPack) break;
    if (type < kFirstTextPack || type >= kFirstTextPack + kGDT_CDTextStrings) continue;
    if (type != pendingType) pending.clear();
    pendingType = type;
    // The track of the pack's first character; a string that ends moves on to the next track.
    std::uint32_t track = reply[at + 1] & 0x7F;
    for (std::size_t i = 4; i < 16; ++i) {
      const char c = static_cast<char>(reply[at + i]);
      if (c != '\0') {
        if (pending.size() < kGDT_CDTextStringBytes) pending.push_back(c);
        continue;
      }
      store(table.data(), entries, track, type, pending);
      pending.clear();
      ++track;
    }
  }
  return table;
}

EngineStatus GDT_CDTEXTInfo(std::uint32_t ref, char** table, std::uint32_t* entries) {
  if (!gdt::namesDrive(ref) || !table || !entries || DC_MacX_IsPureReader(ref)) return kErrBadArgument;
  *table = nullptr;
  *entries = 0;
  std::vector<std::uint8_t> reply(kCdTextReplyBytes);
  MMC_SenseData sense{};
  if (gdt::readToc(ref, 5, true, 0, reply, &sense) != kNoErr) return kNoErr;
  if (!cdTextTable(reply, 1)) return kNoErr;

  GDT_DiscInfo* info = nullptr;
  if (GDT_GetDiscInfo(ref, &info, &sense) != kNoErr) return kErrPlatformCannotServe;
  const std::uint32_t count = info->trackCount + 1u;
  std::free(info);
  const auto decoded = cdTextTable(reply, count);
  char* out = static_cast<char*>(std::malloc(decoded->size()));
  if (!out) return kErrOutOfMemory;
  std::memcpy(out, decoded->data(), decoded->size());
  *table = out;
  *entries = count;
  return kNoErr;
}
