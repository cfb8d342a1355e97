// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting and shaping of converted names, shared by the converter functions.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/text_encoding.h"
#include "quillion/status.h"

namespace quillion {

// Keeps at most `max` units, never half of a surrogate pair.
void cutUnits(std::u16string& units, std::size_t max);

// Keeps at most `max` bytes of text in `encoding`, never part of a character.
void cutBytesAtCharacter(std::string& bytes, std::size_t max, TextEncoding encoding);

// Length of the longest prefix of `text` of at most `max` bytes that ends between two
// characters when `text` is UTF-8; `max` itself for other bytes.
std::size_t utf8PrefixBytes(std::string_view text, std::size_t max);

// The Joliet form of already normalised units: forbidden units replaced, cut to 64 units
// keeping the extension, and `number` (at most 7 digits) inserted before the extension
// with the base shortened so that the whole stays within 64 units.
[[nodiscard]] EngineStatus makeJolietName(std::u16string units, std::uint32_t number,
                                          std::u16string& out);

// The parts of a title that every numbered ISO9660 level-1 name of it is made from: two
// titles with equal stems get equal names for every number, so a producer can remember per
// stem how far its numbers have been used up.
struct Iso83Stem {
  enum class Kind : std::uint8_t { folder, split, plain };
  Kind kind = Kind::plain;
  // folder: the first 8 d-characters; split: the base before the last '_', shortened to
  // 8 as an unnumbered name shows it; plain: the first 11 d-characters.
  std::string base;
  std::string extension;  // split: at most 3 characters after the last '_'
  auto operator<=>(const Iso83Stem&) const = default;
};

// The stem of a non-empty name.
Iso83Stem iso83Stem(std::string_view name, bool isFolder);
// The name with `digits` (a decimal number, empty for none) worked in; no version suffix.
std::string iso83Name(const Iso83Stem& stem, const std::string& digits);
// The names after the 999 decimal ones: '~' and a serial in base 36 (0-9, A-Z) written
// over the end of the 8-character part, widening as the serials of a width run out, so a
// stem has more names than 32-bit serials count.
std::string iso83SerialName(const Iso83Stem& stem, std::uint32_t serial);

// The UTF-8 form of a name read as ISO 8859-1, every byte one character: the reading of a
// name that is not valid UTF-8, which keeps every byte and never makes two names one.
std::string utf8FromLatin1(std::string_view bytes);

}  // namespace quillion
