// SPDX-License-Identifier: GPL-2.0-or-later
// The lower-case table of HFS Plus names. The format froze it from Unicode 2.0: within the
// blocks it covers (Latin, Greek, Cyrillic, Armenian, Georgian, letterlike symbols, full-
// width forms) a character folds to its simple lower-case form, never from outside ASCII
// into ASCII; the format controls that only hint at layout are ignorable and fold to 0;
// U+0000 folds to 0xFFFF so that it sorts last instead of vanishing. The table is built
// once from ICU's character data, restricted to the characters Unicode 2.0 had.
#include <unicode/uchar.h>

#include <array>
#include <memory>

#include "DPMs/hfs/catalog_keys.h"

namespace quillion::hfs {
namespace {

constexpr std::array<std::uint8_t, 8> kFoldedBlocks = {0x00, 0x01, 0x03, 0x04,
                                                       0x05, 0x10, 0x21, 0xFF};

bool inUnicode2(UChar32 c) {
  UVersionInfo age{};
  u_charAge(c, age);
  return age[0] != 0 && (age[0] < 2 || (age[0] == 2 && age[1] == 0));
}

bool ignorable(std::uint16_t u) {
  return (u >= 0x200C && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) ||
         (u >= 0x206A && u <= 0x206F) || u == 0xFEFF;
}

std::unique_ptr<std::array<std::uint16_t, 0x10000>> buildTable() {
  auto table = std::make_unique<std::array<std::uint16_t, 0x10000>>();
  for (std::uint32_t u = 0; u < 0x10000; ++u) (*table)[u] = static_cast<std::uint16_t>(u);
  for (std::uint8_t block : kFoldedBlocks) {
    for (std::uint32_t low = 0; low < 0x100; ++low) {
      const auto c = static_cast<UChar32>(block << 8 | low);
      if (!inUnicode2(c)) continue;
      const UChar32 lower = u_tolower(c);
      if (lower == c || lower > 0xFFFF || (c >= 0x80 && lower < 0x80)) continue;
      (*table)[static_cast<std::uint16_t>(c)] = static_cast<std::uint16_t>(lower);
    }
  }
  // Georgian capitals had the ordinary Georgian letters as their lower case in Unicode 2.0;
  // later versions gave them other small letters, which the format never followed.
  for (std::uint16_t u = 0x10A0; u <= 0x10C5; ++u)
    (*table)[u] = static_cast<std::uint16_t>(u + 0x30);
  for (std::uint32_t u = 0; u < 0x10000; ++u)
    if (ignorable(static_cast<std::uint16_t>(u))) (*table)[u] = 0;
  (*table)[0] = 0xFFFF;
  return table;
}

}  // namespace

std::uint16_t hfsPlusFoldedUnit(std::uint16_t unit) {
  static const auto table = buildTable();
  return (*table)[unit];
}

}  // namespace quillion::hfs
