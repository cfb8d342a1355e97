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

// A base of more than 8 characters keeps its first 5 and last 2 around a '~'; a number
// is appended or written over the end of the first 8.
std::string numberedBase(std::string base, const std::string& number) {
  if (base.size() > 8) base = base.substr(0, 5) + '~' + base.substr(base.size() - 2);
  if (base.size() + number.size() <= 8) return base + number;
  return base.substr(0, 8 - number.size()) + number;
}

std::string isoFileName(const std::string& d, const std::string& number) {
  const auto split = d.rfind('_');
  if (split != std::string::npos) {
    const std::string extension = d.substr(split + 1, 3);
    return numberedBase(d.substr(0, split), number) + '.' + extension;
  }
  std::string t = d + number;
  if (t.size() <= 8) return t + '.';
  t = d.substr(0, 11 - number.size()) + number;
  return t.substr(0, 8) + '.' + t.substr(8);
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
  std::string d(name);
  std::transform(d.begin(), d.end(), d.begin(), dChar);
  if (isFolder) return put(d.substr(0, 8 - digits.size()) + digits, out);
  std::string result = isoFileName(d, digits);
  if (withVersion) result += ";1";
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

std::uint16_t CS_ULong_To_Chars(std::uint32_t value, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string digits = std::to_string(value);
  if (digits.size() + 1 > size) {
    buffer[0] = '\0';
    return 0;
  }
  return put(digits, buffer);
}
