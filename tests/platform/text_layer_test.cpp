// SPDX-License-Identifier: GPL-2.0-or-later
// Text conversion and normalisation, checked against Python's own codecs and Unicode
// tables as the independent reference.
#include <gtest/gtest.h>

#include <vector>

#include "platform/text/normalization.h"
#include "platform/text/text_encoding.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::test;

namespace {

const char* const kSamples[] = {
    "plain ASCII 123",
    "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9\x65",           // Café crème brûlée
    "\xC3\x85ngstr\xC3\xB6m \xE2\x84\xA2 \xC2\xA9 \xE2\x80\xA0",  // Ångström ™ © †
    "e\xCC\x81 a\xCC\x8A",                                        // e + acute, a + ring
    "\xEF\xAC\x81 ligature",                                      // ﬁ
    "\xED\x95\x9C\xEA\xB8\x80",                                   // 한글 (Hangul)
    "emoji \xF0\x9F\x98\x80",                                     // 😀, a surrogate pair
};

// One line per sample: `program` applied to s, the sample, written as hex.
std::vector<std::string> pythonHexLines(const std::string& program) {
  std::vector<std::string> argv = {
      "python3", "-c",
      "import sys,unicodedata\nfor h in sys.argv[1:]:\n s=bytes.fromhex(h).decode()\n"
      " print((" +
          program + ").hex())"};
  for (const char* sample : kSamples) argv.push_back(hexOf(sample));
  const ToolResult python = runTool(argv, {.separateErrors = true});
  const std::string& out = python.output;
  const int status = python.exitCode;
  std::vector<std::string> lines;
  std::string line;
  for (char c : out) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  EXPECT_EQ(status, 0);
  lines.resize(std::size(kSamples), "python failed");
  return lines;
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
  QUILLION_REQUIRE_TOOL("python3");
  std::unique_ptr<TextConverter> toBE, toRoman, fromRoman;
  ASSERT_EQ(TextConverter::create(TextEncoding::utf8, TextEncoding::utf16BE, toBE), kNoErr);
  ASSERT_EQ(TextConverter::create(TextEncoding::utf8, TextEncoding::macRoman, toRoman), kNoErr);
  ASSERT_EQ(TextConverter::create(TextEncoding::macRoman, TextEncoding::utf8, fromRoman), kNoErr);
  const auto utf16 = pythonHexLines("s.encode('utf-16-be')");
  const auto roman = pythonHexLines("s.encode('mac_roman','replace')");
  for (std::size_t i = 0; i < std::size(kSamples); ++i) {
    std::string be, mac, back;
    ASSERT_EQ(toBE->convert(kSamples[i], be), kNoErr) << kSamples[i];
    EXPECT_EQ(hexOf(be), utf16[i]) << kSamples[i];
    ASSERT_EQ(toRoman->convert(kSamples[i], mac), kNoErr) << kSamples[i];
    EXPECT_EQ(hexOf(mac), roman[i]) << kSamples[i];
    ASSERT_EQ(fromRoman->convert(mac, back), kNoErr);
    if (mac.find('?') == std::string::npos) {
      EXPECT_EQ(back, kSamples[i]);
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
  ASSERT_EQ(toRoman->convert("a\xE2\x82\xAC"
                             "b\xF0\x9F\x98\x80"
                             "c\xD0\x96",
                             roman),
            kNoErr);
  // The euro sign exists in Mac Roman (0xDB); the emoji and the Cyrillic letter do not.
  EXPECT_EQ(hexOf(roman), "61db623f633f");
}

TEST(Normalization, AgreesWithPythonUnicodedata) {
  QUILLION_REQUIRE_TOOL("python3");
  const auto nfc = pythonHexLines("unicodedata.normalize('NFC',s).encode('utf-16-be')");
  const auto nfd = pythonHexLines("unicodedata.normalize('NFD',s).encode('utf-16-be')");
  for (std::size_t i = 0; i < std::size(kSamples); ++i) {
    std::u16string units, composed, decomposed;
    ASSERT_EQ(utf8ToUtf16(kSamples[i], units), kNoErr);
    ASSERT_EQ(normalizeUtf16(units, NormalForm::composed, composed), kNoErr);
    ASSERT_EQ(normalizeUtf16(units, NormalForm::decomposed, decomposed), kNoErr);
    EXPECT_EQ(hexOf(bytesOf(composed)), nfc[i]) << kSamples[i];
    EXPECT_EQ(hexOf(bytesOf(decomposed)), nfd[i]) << kSamples[i];
  }
  std::u16string out;
  EXPECT_EQ(normalizeUtf16(std::u16string(1, char16_t(0xDBFF)), NormalForm::composed, out),
            kErrBadArgument);
}
