// SPDX-License-Identifier: GPL-2.0-or-later
// Text conversion between the encodings names are kept in: UTF-8 (titles), UTF-16 in
// either byte order (Joliet, UDF, HFS Plus) and Mac Roman (HFS), over iconv. Input that is
// not valid in its encoding is refused rather than guessed at, so a broken name never
// reaches a disc; a character the target cannot hold becomes '?'.
#pragma once

#include <iconv.h>

#include <memory>
#include <string>
#include <string_view>

#include "quillion/status.h"

namespace quillion {

enum class TextEncoding { macRoman, utf8, utf16BE, utf16Native };

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);
// Every surrogate is part of a pair.
bool isValidUtf16(std::u16string_view text);

class TextConverter {
 public:
  TextConverter(const TextConverter&) = delete;
  TextConverter& operator=(const TextConverter&) = delete;
  ~TextConverter();

  // kErrOutOfMemory when the system offers no such conversion.
  [[nodiscard]] static EngineStatus create(TextEncoding from, TextEncoding to,
                                           std::unique_ptr<TextConverter>& out);

  // Bytes in, bytes out. kErrBadArgument for input that is not valid in `from`.
  [[nodiscard]] EngineStatus convert(std::string_view input, std::string& out);

 private:
  TextConverter(iconv_t cd, TextEncoding from, TextEncoding to) : cd_(cd), from_(from), to_(to) {}
  [[nodiscard]] bool validInput(std::string_view input) const;
  std::size_t characterBytes(const char* at, std::size_t left) const;
  void appendReplacement(std::string& out) const;

  iconv_t cd_;
  TextEncoding from_;
  TextEncoding to_;
};

// Convenience forms of the two conversions titles need most.
[[nodiscard]] EngineStatus utf8ToUtf16(std::string_view text, std::u16string& out);
[[nodiscard]] EngineStatus utf16ToUtf8(std::u16string_view text, std::string& out);

}  // namespace quillion
