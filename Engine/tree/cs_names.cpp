// SPDX-License-Identifier: GPL-2.0-or-later
// The byte forms of names: ISO9660 d- and a-characters, 8.3 and long names, short HFS
// names, and the decimal form of a number.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "quillion/CS.h"
#include "tree/name_units.h"

namespace {

bool isLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool isUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

char dChar(char c) {
  if (isLower(c)) return static_cast<char>(c - 'a' + 'A');
  return isUpper(c) || isDigit(c) ? c : '_';
}

char aChar(char c) {
  static constexpr std::string_view kKept = " \"!%&'()*+,-./:;<=>?_";
  if (isLower(c)) return static_cast<char>(c - 'a' + 'A');
  if (isUpper(c) || isDigit(c) || kKept.find(c) != std::string_view::npos) return c;
  return '_';
}

std::uint16_t mapInto(const char* text, char* out, std::uint32_t size, char (*map)(char)) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  if (text == nullptr) return 0;
  const std::size_t n = std::min<std::size_t>({std::strlen(text), size - 1, 0xFFFF});
  std::transform(text, text + n, out, map);
  out[n] = '\0';
  return static_cast<std::uint16_t>(n);
}

std::string numberText(std::uint32_t number) {
  return number == 0 ? std::string() : std::to_string(number);
}

std::uint16_t put(const std::string& text, char* out) {
  std::memcpy(out, text.c_str(), text.size() + 1);
  return static_cast<std::uint16_t>(text.size());
}

std::string dCharsOf(std::string_view name) {
  std::string d(name);
  std::transform(d.begin(), d.end(), d.begin(), dChar);
  return d;
}

// A base of more than 8 characters keeps its first 5 and last 2 around a '~'.
std::string shortBase(std::string base) {
  if (base.size() > 8) base = base.substr(0, 5) + '~' + base.substr(base.size() - 2);
  return base;
}

char base36Digit(std::uint32_t value) {
  return static_cast<char>(value < 10 ? '0' + value : 'A' + (value - 10));
}

// Serial 0 to 35 in one digit, the next 36^2 in two, and so on.
std::string serialCode(std::uint64_t serial) {
  std::size_t width = 1;
  std::uint64_t span = 36;
  while (serial >= span) {
    serial -= span;
    ++width;
    span *= 36;
  }
  std::string code(width, '0');
  for (std::size_t i = width; i-- > 0; serial /= 36)
    code[i] = base36Digit(static_cast<std::uint32_t>(serial % 36));
  return code;
}

}  // namespace

std::uint16_t CS_To_D_Chars_Set(const char* text, char* out, std::uint32_t size) {
  return mapInto(text, out, size, dChar);
}

std::uint16_t CS_To_A_Chars_Set(const char* text, char* out, std::uint32_t size) {
  return mapInto(text, out, size, aChar);
}

std::uint16_t CS_To_ISO_8_3_Name(const char* name, char* out, std::uint32_t number, bool isFolder,
                                 bool withVersion) {
  if (out == nullptr) return 0;
  out[0] = '\0';
  if (name == nullptr || *name == '\0') return 0;
  const std::string digits = numberText(number);
  if (digits.size() > 8) return 0;
  std::string result = quillion::iso83Name(quillion::iso83Stem(name, isFolder), digits);
  if (withVersion && !isFolder) result += ";1";
  return put(result, out);
}

std::uint16_t CS_To_ISO_Romeo(const char* name, char* out, bool withVersion, std::uint32_t size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  if (name == nullptr) return 0;
  std::string result(name);
  std::replace_if(
      result.begin(), result.end(),
      [](char c) { return std::string_view("*/:;?\\").find(c) != std::string_view::npos; }, '_');
  if (withVersion) result += ";1";
  result.resize(quillion::utf8PrefixBytes(result, std::min<std::size_t>(size - 1, 0xFFFF)));
  return put(result, out);
}

std::int16_t CS_TruncateFileName(const char* name, char* out, std::uint32_t number,
                                 std::uint32_t maxLength) {
  if (name == nullptr || *name == '\0' || out == nullptr) return -1;
  const std::string_view text(name);
  if (text.size() <= maxLength) {
    put(std::string(text), out);
    return 0;
  }
  const std::string digits = numberText(number);
  if (digits.size() > 6) return -1;
  const std::string suffix = digits.empty() ? std::string() : '~' + digits;
  // The extension: a '.' among the last five characters, never the first character.
  std::size_t extensionLength = 0;
  for (std::size_t k = 1; k <= 5 && k < text.size(); ++k) {
    if (text[text.size() - k] == '.') {
      extensionLength = k;
      break;
    }
  }
  if (extensionLength > maxLength || maxLength - extensionLength < suffix.size()) return -1;
  const std::size_t headBytes = maxLength - extensionLength - suffix.size();
  const std::string head(text.substr(0, quillion::utf8PrefixBytes(text, headBytes)));
  put(head + suffix + std::string(text.substr(text.size() - extensionLength)), out);
  return 0;
}

namespace quillion {

Iso83Stem iso83Stem(std::string_view name, bool isFolder) {
  const std::string d = dCharsOf(name);
  Iso83Stem stem;
  if (isFolder) {
    stem.kind = Iso83Stem::Kind::folder;
    stem.base = d.substr(0, 8);
    return stem;
  }
  // Any character outside the d-set, not only a dot, can start the extension.
  const auto split = d.rfind('_');
  if (split != std::string::npos) {
    stem.kind = Iso83Stem::Kind::split;
    stem.base = shortBase(d.substr(0, split));
    stem.extension = d.substr(split + 1, 3);
    return stem;
  }
  stem.kind = Iso83Stem::Kind::plain;
  stem.base = d.substr(0, 11);
  return stem;
}

std::string iso83Name(const Iso83Stem& stem, const std::string& digits) {
  switch (stem.kind) {
    case Iso83Stem::Kind::folder:
      return stem.base.substr(0, 8 - digits.size()) + digits;
    case Iso83Stem::Kind::split: {
      const std::string base = stem.base.size() + digits.size() <= 8
                                   ? stem.base + digits
                                   : stem.base.substr(0, 8 - digits.size()) + digits;
      return base + '.' + stem.extension;
    }
    case Iso83Stem::Kind::plain:
      break;
  }
  std::string t = stem.base + digits;
  if (t.size() <= 8) return t + '.';
  t = stem.base.substr(0, 11 - digits.size()) + digits;
  return t.substr(0, 8) + '.' + t.substr(8);
}

std::string iso83SerialName(const Iso83Stem& stem, std::uint32_t serial) {
  const std::string code = '~' + serialCode(serial);
  const auto head = [&code](const std::string& part) {
    return part.substr(0, 8 - code.size()) + code;
  };
  switch (stem.kind) {
    case Iso83Stem::Kind::folder:
      return head(stem.base);
    case Iso83Stem::Kind::split:
      return head(stem.base) + '.' + stem.extension;
    case Iso83Stem::Kind::plain:
      break;
  }
  const std::string extension = stem.base.size() > 8 ? stem.base.substr(8) : std::string();
  return head(stem.base.substr(0, 8)) + '.' + extension;
}

std::string utf8FromLatin1(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace quillion

std::uint16_t CS_ULong_To_Chars(std::uint32_t value, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string digits = std::to_string(value);
  if (digits.size() + 1 > size) {
    buffer[0] = '\0';
    return 0;
  }
  return put(digits, buffer);
}
