// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/text/text_encoding.h"

#include <bit>
#include <cerrno>
#include <cstring>

namespace quillion {
namespace {

const char* iconvName(TextEncoding e) {
  switch (e) {
    case TextEncoding::macRoman:
      return "MACINTOSH";
    case TextEncoding::utf8:
      return "UTF-8";
    case TextEncoding::utf16BE:
      return "UTF-16BE";
    case TextEncoding::utf16Native:
      return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  }
  return "UTF-8";
}

bool isUtf16(TextEncoding e) {
  return e == TextEncoding::utf16BE || e == TextEncoding::utf16Native;
}

std::size_t utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool isHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

std::u16string unitsFromBytes(std::string_view bytes, TextEncoding e) {
  std::u16string units(bytes.size() / 2, u'\0');
  const bool bigEndian = e == TextEncoding::utf16BE || (e == TextEncoding::utf16Native &&
                                                        std::endian::native == std::endian::big);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return units;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8SequenceLength(lead);
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    if (n >= 3) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if (lead == 0xE0 && second < 0xA0) return false;   // overlong
      if (lead == 0xED && second >= 0xA0) return false;  // surrogate
      if (lead == 0xF0 && second < 0x90) return false;   // overlong
      if (lead == 0xF4 && second >= 0x90) return false;  // above U+10FFFF
    }
    i += n;
  }
  return true;
}

bool isValidUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHighSurrogate(text[i])) {
      if (i + 1 >= text.size() || !isLowSurrogate(text[i + 1])) return false;
      ++i;
    } else if (isLowSurrogate(text[i])) {
      return false;
    }
  }
  return true;
}

TextConverter::~TextConverter() {
  ::iconv_close(cd_);
}

EngineStatus TextConverter::create(TextEncoding from, TextEncoding to,
                                   std::unique_ptr<TextConverter>& out) {
  out.reset();
  iconv_t cd = ::iconv_open(iconvName(to), iconvName(from));
  if (cd == reinterpret_cast<iconv_t>(-1)) return kErrOutOfMemory;
  out.reset(new TextConverter(cd, from, to));
  return kNoErr;
}

bool TextConverter::validInput(std::string_view input) const {
  switch (from_) {
    case TextEncoding::macRoman:
      return true;
    case TextEncoding::utf8:
      return isValidUtf8(input);
    case TextEncoding::utf16BE:
    case TextEncoding::utf16Native:
      return input.size() % 2 == 0 && isValidUtf16(unitsFromBytes(input, from_));
  }
  return false;
}

// Width of the (valid) input character at `at`, to step over one that the target lacks.
std::size_t TextConverter::characterBytes(const char* at, std::size_t left) const {
  if (from_ == TextEncoding::utf8) return utf8SequenceLength(static_cast<unsigned char>(*at));
  if (isUtf16(from_)) {
    const std::u16string first = unitsFromBytes(std::string_view(at, 2), from_);
    return isHighSurrogate(first[0]) && left >= 4 ? 4 : 2;
  }
  return 1;
}

void TextConverter::appendReplacement(std::string& out) const {
  if (!isUtf16(to_)) {
    out += '?';
    return;
  }
  const bool bigEndian = to_ == TextEncoding::utf16BE || std::endian::native == std::endian::big;
  out += bigEndian ? std::string("\0?", 2) : std::string("?\0", 2);
}

EngineStatus TextConverter::convert(std::string_view input, std::string& out) {
  out.clear();
  if (!validInput(input)) return kErrBadArgument;
  ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  std::string buffer(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outAt = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t r = ::iconv(cd_, &in, &inLeft, &outAt, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    if (errno != EILSEQ) return kErrBadArgument;  // a cut character: validInput lets none by
    const std::size_t skip = characterBytes(in, inLeft);
    in += skip;
    inLeft -= skip;
    appendReplacement(out);
  }
  return kNoErr;
}

namespace {

EngineStatus convertOnce(TextEncoding from, TextEncoding to, std::string_view input,
                         std::string& out) {
  out.clear();
  std::unique_ptr<TextConverter> converter;
  if (const EngineStatus s = TextConverter::create(from, to, converter); s != kNoErr) return s;
  return converter->convert(input, out);
}

}  // namespace

EngineStatus utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  std::string bytes;
  if (const EngineStatus s =
          convertOnce(TextEncoding::utf8, TextEncoding::utf16Native, text, bytes);
      s != kNoErr)
    return s;
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return kNoErr;
}

EngineStatus utf16ToUtf8(std::u16string_view text, std::string& out) {
  const std::string_view bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  return convertOnce(TextEncoding::utf16Native, TextEncoding::utf8, bytes, out);
}

}  // namespace quillion
