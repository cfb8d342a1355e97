// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_descriptors.h"

#include <algorithm>
#include <cstdio>

#include "common/byte_order.h"

namespace quillion::iso {
namespace {

constexpr std::string_view kStandardId = "CD001";
constexpr std::string_view kXAMarker = "CD-XA001";
constexpr std::size_t kXAMarkerAt = 1024;

void header(IsoBlock block, std::uint8_t type) {
  std::ranges::fill(block, std::uint8_t{0});
  block[0] = type;
  std::ranges::copy(kStandardId, block.begin() + 1);
  block[6] = 1;
}

// A text field of d- or a-characters: spaces, with the converted text over them.
void charField(std::span<std::uint8_t> field, std::size_t maxChars, const std::string& text,
               std::uint16_t (*convert)(const char*, char*, std::uint32_t)) {
  std::ranges::fill(field, std::uint8_t{' '});
  std::string buffer(maxChars + 1, '\0');
  const std::uint16_t n =
      convert(text.c_str(), buffer.data(), static_cast<std::uint32_t>(maxChars + 1));
  std::copy_n(buffer.begin(), std::min<std::size_t>(n, field.size()), field.begin());
}

// A Joliet text field: UCS-2 big-endian spaces, with the converted text over them.
void unicodeField(std::span<std::uint8_t> field, const std::string& text, CS_UCRef converter) {
  const std::size_t bytes = field.size();
  for (std::size_t i = 0; i + 1 < bytes; i += 2) be::put16(field, i, 0x0020);
  if (bytes % 2 != 0) field[bytes - 1] = ' ';
  CS_UniStr units;
  if (text.empty() || CS_UC_To_JolietStr(converter, text.c_str(), &units, 0, false) != kNoErr)
    return;
  const std::size_t n = std::min<std::size_t>(units.length, bytes / 2);
  // Never half of a surrogate pair at the end of the field.
  const std::size_t keep = (n > 0 && n < units.length && units.unicode[n - 1] >= 0xD800 &&
                            units.unicode[n - 1] <= 0xDBFF)
                               ? n - 1
                               : n;
  for (std::size_t i = 0; i < keep; ++i) be::put16(field, 2 * i, units.unicode[i]);
}

void treeFields(IsoBlock block, const IsoTreeFields& tree, const IsoVolumeDates& dates, bool xa) {
  both::put32(block, 80, tree.volumeSpaceBlocks);
  both::put16(block, 120, 1);
  both::put16(block, 124, 1);
  both::put16(block, 128, kSectorBytes);
  both::put32(block, 132, tree.pathTableBytes);
  le::put32(block, 140, tree.lPathTableLBA);
  be::put32(block, 148, tree.mPathTableLBA);
  WriteDirectory(block, 156, tree.root, IsoRecordOptions{}, true);
  Date2MyString(&dates.creation, dates.gmtOffset, block.subspan<813, 17>());
  Date2MyString(&dates.modification, dates.gmtOffset, block.subspan<830, 17>());
  Date2MyString(dates.expiration ? &*dates.expiration : nullptr, dates.gmtOffset,
                block.subspan<847, 17>());
  Date2MyString(dates.effective ? &*dates.effective : nullptr, dates.gmtOffset,
                block.subspan<864, 17>());
  block[881] = 1;
  if (xa) std::ranges::copy(kXAMarker, block.begin() + kXAMarkerAt);
}

}  // namespace

void Date2MyString(const std::tm* date, std::int8_t gmtOffset, std::span<std::uint8_t, 17> out) {
  if (date == nullptr) {
    std::ranges::fill(out.first<16>(), std::uint8_t{'0'});
    out[16] = 0;
    return;
  }
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00",
                std::clamp(date->tm_year + 1900, 0, 9999), std::clamp(date->tm_mon + 1, 0, 99),
                std::clamp(date->tm_mday, 0, 99), std::clamp(date->tm_hour, 0, 99),
                std::clamp(date->tm_min, 0, 99), std::clamp(date->tm_sec, 0, 99));
  std::copy_n(digits, 16, out.begin());
  out[16] = static_cast<std::uint8_t>(gmtOffset);
}

void CreatePVD(IsoBlock block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa) {
  header(block, 1);
  charField(block.subspan<8, 32>(), 31, withSystem ? texts.system : std::string(),
            CS_To_A_Chars_Set);
  charField(block.subspan<40, 32>(), 31, texts.volume, CS_To_D_Chars_Set);
  charField(block.subspan<190, 128>(), 128, texts.volumeSet, CS_To_D_Chars_Set);
  charField(block.subspan<318, 128>(), 128, texts.publisher, CS_To_A_Chars_Set);
  charField(block.subspan<446, 128>(), 128, texts.preparer, CS_To_A_Chars_Set);
  std::ranges::fill(block.subspan<574, 813 - 574>(), std::uint8_t{' '});
  treeFields(block, tree, dates, xa);
}

void CreateSVD(IsoBlock block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa, CS_UCRef converter) {
  header(block, 2);
  unicodeField(block.subspan<8, 32>(), withSystem ? texts.system : std::string(), converter);
  unicodeField(block.subspan<40, 32>(), texts.volume, converter);
  block[88] = '%';
  block[89] = '/';
  block[90] = '@';
  unicodeField(block.subspan<190, 128>(), texts.volumeSet, converter);
  unicodeField(block.subspan<318, 128>(), texts.publisher, converter);
  unicodeField(block.subspan<446, 128>(), texts.preparer, converter);
  unicodeField(block.subspan<574, 128>(), std::string(), converter);
  unicodeField(block.subspan<702, 37>(), std::string(), converter);
  unicodeField(block.subspan<739, 37>(), std::string(), converter);
  unicodeField(block.subspan<776, 37>(), std::string(), converter);
  treeFields(block, tree, dates, xa);
}

void CreateVDT(IsoBlock block) {
  header(block, 255);
}

}  // namespace quillion::iso
