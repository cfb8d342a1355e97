// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_descriptors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DPMs/base/disc_bytes.h"

namespace quillion::iso {
namespace {

constexpr char kStandardId[] = "CD001";
constexpr char kXAMarker[] = "CD-XA001";
constexpr std::uint32_t kXAMarkerAt = 1024;

void header(std::uint8_t* block, std::uint8_t type) {
  std::memset(block, 0, kSectorBytes);
  block[0] = type;
  std::memcpy(block + 1, kStandardId, 5);
  block[6] = 1;
}

// A text field of d- or a-characters: spaces, with the converted text over them.
void charField(std::uint8_t* at, std::size_t room, std::size_t maxChars, const std::string& text,
               std::uint16_t (*convert)(const char*, char*, std::uint32_t)) {
  std::memset(at, ' ', room);
  std::string buffer(maxChars + 1, '\0');
  const std::uint16_t n =
      convert(text.c_str(), buffer.data(), static_cast<std::uint32_t>(maxChars + 1));
  std::memcpy(at, buffer.data(), n);
}

// A Joliet text field: UCS-2 big-endian spaces, with the converted text over them.
void unicodeField(std::uint8_t* at, std::size_t bytes, const std::string& text,
                  CS_UCRef converter) {
  for (std::size_t i = 0; i + 1 < bytes; i += 2) putBE16(at + i, 0x0020);
  if (bytes % 2 != 0) at[bytes - 1] = ' ';
  CS_UniStr units;
  if (text.empty() || CS_UC_To_JolietStr(converter, text.c_str(), &units, 0, false) != kNoErr)
    return;
  const std::size_t n = std::min<std::size_t>(units.length, bytes / 2);
  // Never half of a surrogate pair at the end of the field.
  const std::size_t keep = (n > 0 && n < units.length && units.unicode[n - 1] >= 0xD800 &&
                            units.unicode[n - 1] <= 0xDBFF)
                               ? n - 1
                               : n;
  for (std::size_t i = 0; i < keep; ++i)
    putBE16(at + 2 * i, static_cast<std::uint16_t>(units.unicode[i]));
}

void treeFields(std::uint8_t* block, const IsoTreeFields& tree, const IsoVolumeDates& dates,
                bool xa) {
  putBoth32(block + 80, tree.volumeSpaceBlocks);
  putBoth16(block + 120, 1);
  putBoth16(block + 124, 1);
  putBoth16(block + 128, kSectorBytes);
  putBoth32(block + 132, tree.pathTableBytes);
  putLE32(block + 140, tree.lPathTableLBA);
  putBE32(block + 148, tree.mPathTableLBA);
  WriteDirectory(block + 156, tree.root, IsoRecordOptions{}, true);
  Date2MyString(&dates.creation, dates.gmtOffset, block + 813);
  Date2MyString(&dates.modification, dates.gmtOffset, block + 830);
  Date2MyString(dates.expiration ? &*dates.expiration : nullptr, dates.gmtOffset, block + 847);
  Date2MyString(dates.effective ? &*dates.effective : nullptr, dates.gmtOffset, block + 864);
  block[881] = 1;
  if (xa) std::memcpy(block + kXAMarkerAt, kXAMarker, 8);
}

}  // namespace

void Date2MyString(const std::tm* date, std::int8_t gmtOffset, std::uint8_t* out) {
  if (date == nullptr) {
    std::memset(out, '0', 16);
    out[16] = 0;
    return;
  }
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00",
                std::clamp(date->tm_year + 1900, 0, 9999), std::clamp(date->tm_mon + 1, 0, 99),
                std::clamp(date->tm_mday, 0, 99), std::clamp(date->tm_hour, 0, 99),
                std::clamp(date->tm_min, 0, 99), std::clamp(date->tm_sec, 0, 99));
  std::memcpy(out, digits, 16);
  out[16] = static_cast<std::uint8_t>(gmtOffset);
}

void CreatePVD(std::uint8_t* block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa) {
  header(block, 1);
  charField(block + 8, 32, 31, withSystem ? texts.system : std::string(), CS_To_A_Chars_Set);
  charField(block + 40, 32, 31, texts.volume, CS_To_D_Chars_Set);
  charField(block + 190, 128, 128, texts.volumeSet, CS_To_D_Chars_Set);
  charField(block + 318, 128, 128, texts.publisher, CS_To_A_Chars_Set);
  charField(block + 446, 128, 128, texts.preparer, CS_To_A_Chars_Set);
  std::memset(block + 574, ' ', 813 - 574);
  treeFields(block, tree, dates, xa);
}

void CreateSVD(std::uint8_t* block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa, CS_UCRef converter) {
  header(block, 2);
  unicodeField(block + 8, 32, withSystem ? texts.system : std::string(), converter);
  unicodeField(block + 40, 32, texts.volume, converter);
  block[88] = '%';
  block[89] = '/';
  block[90] = '@';
  unicodeField(block + 190, 128, texts.volumeSet, converter);
  unicodeField(block + 318, 128, texts.publisher, converter);
  unicodeField(block + 446, 128, texts.preparer, converter);
  unicodeField(block + 574, 128, std::string(), converter);
  unicodeField(block + 702, 37, std::string(), converter);
  unicodeField(block + 739, 37, std::string(), converter);
  unicodeField(block + 776, 37, std::string(), converter);
  treeFields(block, tree, dates, xa);
}

void CreateVDT(std::uint8_t* block) {
  header(block, 255);
}

}  // namespace quillion::iso
