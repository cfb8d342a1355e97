// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting and shaping of converted names, shared by the converter functions.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace quillion
