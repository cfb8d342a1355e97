// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/name_units.h"

#include <algorithm>
#include <bit>

#include "quillion/CS.h"

namespace quillion {
namespace {

bool isHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}

bool forbiddenInJoliet(char16_t u) {
  return u < 32 || u == u'*' || u == u'/' || u == u':' || u == u';' || u == u'?' || u == u'\\';
}

std::u16string digitsOf(std::uint32_t number) {
  const std::string text = std::to_string(number);
  return std::u16string(text.begin(), text.end());
}

}  // namespace

void cutUnits(std::u16string& units, std::size_t max) {
  if (units.size() <= max) return;
  std::size_t keep = max;
  if (keep > 0 && isHighSurrogate(units[keep - 1])) --keep;
  units.resize(keep);
}

std::size_t utf8PrefixBytes(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  if (!isValidUtf8(text)) return max;
  std::size_t keep = max;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return keep;
}

void cutBytesAtCharacter(std::string& bytes, std::size_t max, TextEncoding encoding) {
  if (bytes.size() <= max) return;
  switch (encoding) {
    case TextEncoding::macRoman:
      bytes.resize(max);
      return;
    case TextEncoding::utf8:
      bytes.resize(utf8PrefixBytes(bytes, max));
      return;
    case TextEncoding::utf16BE:
    case TextEncoding::utf16Native: {
      std::size_t keep = max / 2 * 2;
      if (keep >= 2) {
        const bool bigEndian =
            encoding == TextEncoding::utf16BE || std::endian::native == std::endian::big;
        const auto hi = static_cast<unsigned char>(bytes[keep - (bigEndian ? 2 : 1)]);
        if (hi >= 0xD8 && hi <= 0xDB) keep -= 2;
      }
      bytes.resize(keep);
      return;
    }
  }
}

EngineStatus makeJolietName(std::u16string units, std::uint32_t number, std::u16string& out) {
  out.clear();
  std::replace_if(units.begin(), units.end(), forbiddenInJoliet, u'_');
  std::size_t dot = units.rfind(u'.');
  if (units.size() > kCS_JolietMaxUnits) {
    // The extension is kept when it leaves room for at least one unit of the base.
    const bool keepExtension = dot != std::u16string::npos && dot != 0 && dot + 1 != units.size() &&
                               units.size() - dot < kCS_JolietMaxUnits;
    if (keepExtension) {
      const std::u16string extension = units.substr(dot);
      std::u16string base = units.substr(0, dot);
      cutUnits(base, kCS_JolietMaxUnits - extension.size());
      dot = base.size();
      units = base + extension;
    } else {
      cutUnits(units, kCS_JolietMaxUnits);
      if (dot != std::u16string::npos && dot >= units.size()) dot = std::u16string::npos;
    }
  }
  if (number != 0) {
    const std::u16string digits = digitsOf(number);
    if (digits.size() > 7) return kErrBadArgument;
    std::u16string base = dot == std::u16string::npos ? units : units.substr(0, dot);
    std::u16string extension = dot == std::u16string::npos ? std::u16string() : units.substr(dot);
    cutUnits(extension, kCS_JolietMaxUnits - digits.size());
    cutUnits(base, kCS_JolietMaxUnits - digits.size() - extension.size());
    units = base + digits + extension;
  }
  out = std::move(units);
  return kNoErr;
}

}  // namespace quillion
