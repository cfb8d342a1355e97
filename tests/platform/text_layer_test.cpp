// SPDX-License-Identifier: GPL-2.0-or-later
// Text conversion and normalisation, checked against Python's own codecs and Unicode
// tables as the independent reference.
#include <gtest/gtest.h>

#include "platform/text/normalization.h"
#include "platform/text/text_encoding.h"
#include "tests/platform/test_support.h"

using namespace quillion;
using namespace quillion::testing;

namespace {

const char* const kSamples[] = {
    "plain ASCII 123",
    "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e",     // Café crème brûlée
    "\xC3\x85ngstr\xC3\xB6m \xE2\x84\xA2 \xC2\xA9 \xE2\x80\xA0",  // Ångström ™ © †
    "e\xCC\x81 a\xCC\x8A",                                     // e + acute, a + ring
    "\xEF\xAC\x81 ligature",                                   // ﬁ
    "\xED\x95\x9C\xEA\xB8\x80",                                // 한글 (Hangul)
    "emoji \xF0\x9F\x98\x80",                                  // 😀, a surrogate pair
};

std::string pythonHex(const std::string& program, const std::string& utf8) {
  int status = -1;
  const std::string out =
      run("python3 -c " + quoted("import sys,unicodedata\ns=bytes.fromhex(sys.argv[1]).decode()\n" +
                                 program) +
              " " + hexOf(utf8),
          &status);
  return status == 0 ? out : "python failed";
}

std::string bytesOf(const std::u16string& units) {
  std::string bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u >> 8);
    bytes += static_cast<char>(u & 0xFF);
  }
  return bytes;
}

}  // namespace

TEST(TextEncoding, Utf16AndMacRomanMatchPythonCodecs) {
  if (!haveTool("python3")) GTEST_SKIP() << "python3 is missing";
  std::unique_ptr<TextConverter> toBE, toRoman, fromRoman;
  ASSERT_EQ(TextConverter::create(TextEncoding::utf8, TextEncoding::utf16BE, toBE), kNoErr);
  ASSERT_EQ(TextConverter::create(TextEncoding::utf8, TextEncoding::macRoman, toRoman), kNoErr);
  ASSERT_EQ(TextConverter::create(TextEncoding::macRoman, TextEncoding::utf8, fromRoman), kNoErr);
  for (const char* sample : kSamples) {
    std::string be, roman, back;
    ASSERT_EQ(toBE->convert(sample, be), kNoErr) << sample;
    EXPECT_EQ(hexOf(be), pythonHex("sys.stdout.write(s.encode('utf-16-be').hex())", sample));
    ASSERT_EQ(toRoman->convert(sample, roman), kNoErr) << sample;
    EXPECT_EQ(hexOf(roman),
              pythonHex("sys.stdout.write(s.encode('mac_roman','replace').hex())", sample))
        << sample;
    ASSERT_EQ(fromRoman->convert(roman, back), kNoErr);
    if (roman.find('?') == std::string::npos) {
      EXPECT_EQ(back, sample);
    }
  }
}

TEST(TextEncoding, RefusesInvalidInputInsteadOfGuessing) {
  const std::string invalid[] = {
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xED\xA0\x80",      // a surrogate written as UTF-8
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "abc\xC3",           // cut in the middle of a character
      "\xFF\xFE",          // bytes that never occur
      "\x80x",             // a lone continuation byte
  };
  for (const std::string& text : invalid) {
    EXPECT_FALSE(isValidUtf8(text)) << hexOf(text);
    std::u16string units = u"stale";
    EXPECT_EQ(utf8ToUtf16(text, units), kErrBadArgument) << hexOf(text);
    EXPECT_TRUE(units.empty());
  }
  EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF itself
  std::string utf8;
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)), utf8), kErrBadArgument);
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"a", utf8), kErrBadArgument);
}

TEST(TextEncoding, UnmappableCharactersBecomeQuestionMarks) {
  std::unique_ptr<TextConverter> toRoman;
  ASSERT_EQ(TextConverter::create(TextEncoding::utf8, TextEncoding::macRoman, toRoman), kNoErr);
  std::string roman;
  ASSERT_EQ(toRoman->convert("a\xE2\x82\xAC" "b\xF0\x9F\x98\x80" "c\xD0\x96", roman), kNoErr);
  // The euro sign exists in Mac Roman (0xDB); the emoji and the Cyrillic letter do not.
  EXPECT_EQ(hexOf(roman), "61db623f633f");
}

TEST(Normalization, AgreesWithPythonUnicodedata) {
  if (!haveTool("python3")) GTEST_SKIP() << "python3 is missing";
  for (const char* sample : kSamples) {
    std::u16string units, composed, decomposed;
    ASSERT_EQ(utf8ToUtf16(sample, units), kNoErr);
    ASSERT_EQ(normalizeUtf16(units, NormalForm::composed, composed), kNoErr);
    ASSERT_EQ(normalizeUtf16(units, NormalForm::decomposed, decomposed), kNoErr);
    EXPECT_EQ(hexOf(bytesOf(composed)),
              pythonHex("sys.stdout.write(unicodedata.normalize('NFC',s).encode('utf-16-be').hex())",
                        sample))
        << sample;
    EXPECT_EQ(hexOf(bytesOf(decomposed)),
              pythonHex("sys.stdout.write(unicodedata.normalize('NFD',s).encode('utf-16-be').hex())",
                        sample))
        << sample;
  }
  std::u16string out;
  EXPECT_EQ(normalizeUtf16(std::u16string(1, char16_t(0xDBFF)), NormalForm::composed, out),
            kErrBadArgument);
}
