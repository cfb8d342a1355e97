// SPDX-License-Identifier: GPL-2.0-or-later
// Name conversion: ISO9660 8.3 and character sets, Joliet, short HFS names, the decimal
// form, and the UTF-16 converters (normalisation checked against Python's tables).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/text/text_encoding.h"
#include "quillion/CS.h"
#include "tests/support/test_support.h"
#include "tree/name_units.h"

using namespace quillion::test;

namespace {

std::u16string unitsOf(const CS_UniStr& s) {
  return std::u16string(s.unicode, s.length);
}

std::string utf8Of(const CS_UniStr& s) {
  std::string out;
  EXPECT_EQ(quillion::utf16ToUtf8(unitsOf(s), out), kNoErr);
  return out;
}

bool isDChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// An ISO9660 level-1 file name: 1..8 d-characters (or ~), '.', 0..3 d-characters.
bool isLevel1FileName(const std::string& name) {
  const auto dot = name.find('.');
  if (dot == std::string::npos || dot > 8 || name.size() - dot - 1 > 3) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (i != dot && !isDChar(name[i]) && name[i] != '~') return false;
  return true;
}

class Converter {
 public:
  explicit Converter(double version = 663) {
    CS_UC_SetAPKitVersion(version);
    std::uint32_t encoding = kCS_EncodingUTF8;
    ref_ = CS_UC_Init(&encoding);
    CS_UC_SetAPKitVersion(663);
  }
  ~Converter() { CS_UC_Term(&ref_); }
  CS_UCRef ref() const { return ref_; }

  std::string joliet(const std::string& text, std::uint32_t number,
                     EngineStatus* status = nullptr) {
    CS_UniStr out;
    const EngineStatus s = CS_UC_To_JolietStr(ref_, text.c_str(), &out, number, false);
    if (status) *status = s;
    return utf8Of(out);
  }

 private:
  CS_UCRef ref_ = nullptr;
};

}  // namespace

TEST(IsoNames, EightThreeTable) {
  struct Case {
    const char* name;
    std::uint32_t number;
    bool folder;
    bool version;
    const char* expected;
  };
  const Case cases[] = {
      {"readme.txt", 0, false, false, "README.TXT"},
      {"readme.txt", 0, false, true, "README.TXT;1"},
      {"readme.txt", 3, false, false, "README3.TXT"},
      {"my long filename.html", 0, false, false, "MY_LO~ME.HTM"},
      {"photos", 12, true, false, "PHOTOS12"},
      {"photos", 0, true, true, "PHOTOS"},
      {"a very long folder name", 0, true, false, "A_VERY_L"},
      {"photos", 0, false, false, "PHOTOS."},
      {"verylongname", 0, false, false, "VERYLONG.NAM"},
      {"verylongname", 5, false, false, "VERYLONG.NA5"},
      {"archive.tar.gz", 0, false, false, "ARCHI~AR.GZ"},
      {"longbasename.txt", 42, false, false, "LONGB~42.TXT"},
      {"h\xC3\xA9llo.txt", 0, false, false, "H__LLO.TXT"},
      {"", 0, false, false, ""},
  };
  for (const Case& c : cases) {
    char out[kCS_ISO83NameBytes];
    const std::uint16_t n = CS_To_ISO_8_3_Name(c.name, out, c.number, c.folder, c.version);
    EXPECT_STREQ(out, c.expected) << c.name << " #" << c.number;
    EXPECT_EQ(n, std::string(c.expected).size()) << c.name;
  }
  char out[kCS_ISO83NameBytes];
  EXPECT_EQ(CS_To_ISO_8_3_Name(nullptr, out, 0, false, false), 0);
  EXPECT_EQ(CS_To_ISO_8_3_Name("x", out, 123456789, true, false), 0) << "9 digits cannot fit";
}

// The producers retry a clash with 1, 2, ... 999: every attempt must give a distinct,
// well-formed name.
TEST(IsoNames, ClashNumbersGiveDistinctLevel1Names) {
  for (const char* name : {"readme.txt", "a much longer document name.html", "x", "noext"}) {
    std::set<std::string> seen;
    for (std::uint32_t n = 0; n <= 999; ++n) {
      char out[kCS_ISO83NameBytes];
      CS_To_ISO_8_3_Name(name, out, n, false, false);
      EXPECT_TRUE(isLevel1FileName(out)) << name << " #" << n << " -> " << out;
      EXPECT_TRUE(seen.insert(out).second) << name << " #" << n << " repeats " << out;
    }
  }
}

TEST(IsoNames, CharacterSetsAndLongNames) {
  char out[64];
  EXPECT_EQ(CS_To_D_Chars_Set("Hello, World! #1 \xC3\xA9", out, sizeof out), 19);
  EXPECT_STREQ(out, "HELLO__WORLD___1___");
  EXPECT_EQ(CS_To_A_Chars_Set("Hello, World! #1 @[x]\xC3\xA9", out, sizeof out), 23);
  EXPECT_STREQ(out, "HELLO, WORLD! _1 __X___");
  EXPECT_EQ(CS_To_D_Chars_Set("abcdef", out, 4), 3);
  EXPECT_STREQ(out, "ABC");
  EXPECT_EQ(CS_To_D_Chars_Set("", out, sizeof out), 0);
  EXPECT_EQ(CS_To_A_Chars_Set(nullptr, out, sizeof out), 0);
  EXPECT_EQ(CS_To_D_Chars_Set("abc", out, 0), 0);

  EXPECT_EQ(CS_To_ISO_Romeo("a*b/c:d;e?f\\g", out, true, sizeof out), 15);
  EXPECT_STREQ(out, "a_b_c_d_e_f_g;1");
  EXPECT_EQ(CS_To_ISO_Romeo("\xC3\xA9\xC3\xA9", out, false, 4), 2) << "never half a character";
  EXPECT_STREQ(out, "\xC3\xA9");
}

TEST(DecimalText, FitsOrWritesNothing) {
  char buffer[8] = "junk";
  EXPECT_EQ(CS_ULong_To_Chars(12345, buffer, 5), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(CS_ULong_To_Chars(12345, buffer, 6), 5);
  EXPECT_STREQ(buffer, "12345");
  EXPECT_EQ(CS_ULong_To_Chars(0, buffer, 2), 1);
  EXPECT_STREQ(buffer, "0");
  EXPECT_EQ(CS_ULong_To_Chars(7, nullptr, 2), 0);
}

TEST(TruncateFileName, Table) {
  struct Case {
    const char* name;
    std::uint32_t number;
    std::uint32_t max;
    std::int16_t result;
    const char* expected;
  };
  const Case cases[] = {
      {"A very long file name.doc", 12, 31, 0, "A very long file name.doc"},
      {"A very long file name.doc", 12, 20, 0, "A very long f~12.doc"},
      {"A very long file name.doc", 0, 20, 0, "A very long file.doc"},
      {"abcdefghijklmnopqrstuvwxyz", 7, 10, 0, "abcdefgh~7"},
      {".profile_settings_file", 3, 10, 0, ".profile~3"},
      {"abcdefghij.doc", 123456, 8, -1, ""},
      {"abcdefghij.doc", 1234567, 12, -1, ""},
      {"", 1, 31, -1, ""},
      // 15 two-byte characters cut to at most 9 bytes: four whole characters.
      {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 0, 9, 0,
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
  };
  for (const Case& c : cases) {
    char out[64] = "";
    EXPECT_EQ(CS_TruncateFileName(c.name, out, c.number, c.max), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_STREQ(out, c.expected) << c.name;
    }
  }
  char out[8];
  EXPECT_EQ(CS_TruncateFileName(nullptr, out, 0, 7), -1);
  EXPECT_EQ(CS_TruncateFileName("abc", nullptr, 0, 7), -1);
}

TEST(TruncateFileName, HfsClashNumbersStayDistinctWithin31Bytes) {
  const std::string name = "Quarterly report with a rather long title.docx";
  std::set<std::string> seen;
  for (std::uint32_t n = 0; n <= 999; ++n) {
    char out[32];
    ASSERT_EQ(CS_TruncateFileName(name.c_str(), out, n, 31), 0);
    EXPECT_LE(std::string(out).size(), 31u);
    EXPECT_EQ(std::string(out).substr(std::string(out).size() - 5), ".docx");
    EXPECT_TRUE(seen.insert(out).second) << out;
  }
}

TEST(Joliet, Table) {
  Converter c;
  ASSERT_NE(c.ref(), nullptr);
  const std::string a66(66, 'a');
  struct Case {
    std::string text;
    std::uint32_t number;
    std::string expected;
  };
  const Case cases[] = {
      {a66 + ".txt", 0, std::string(60, 'a') + ".txt"},
      // Numbered: the base gives way so that the name stays within 64 units.
      {a66 + ".txt", 2, std::string(59, 'a') + "2.txt"},
      {"a:b?c", 0, "a_b_c"},
      {"star*semi;back\\slash/tab\t", 0, "star_semi_back_slash_tab_"},
      {"readme.txt", 999, "readme999.txt"},
      {std::string(70, 'b'), 12, std::string(62, 'b') + "12"},
      {"noext", 5, "noext5"},
      {".hidden", 4, "4.hidden"},
      // An extension that leaves no room for a base is cut like any other text.
      {"a." + std::string(70, 'x'), 0, "a." + std::string(62, 'x')},
      {"a." + std::string(70, 'x'), 3, "3." + std::string(62, 'x')},
      // A cut never leaves half a surrogate pair.
      {std::string(63, 'a') + "\xF0\x9F\x98\x80"
                              "x",
       0, std::string(63, 'a')},
  };
  for (const Case& k : cases) {
    EngineStatus status = -1;
    EXPECT_EQ(c.joliet(k.text, k.number, &status), k.expected) << k.text << " #" << k.number;
    EXPECT_EQ(status, kNoErr);
  }
}

TEST(Joliet, ClashNumbersStayWithin64UnitsAndDistinct) {
  Converter c;
  for (const std::string& name :
       {std::string(66, 'a') + ".txt", std::string(64, 'q'), std::string("short.doc")}) {
    std::set<std::string> seen;
    for (std::uint32_t n = 0; n <= 999; ++n) {
      CS_UniStr out;
      ASSERT_EQ(CS_UC_To_JolietStr(c.ref(), name.c_str(), &out, n, false), kNoErr);
      EXPECT_LE(out.length, kCS_JolietMaxUnits) << name << " #" << n;
      EXPECT_TRUE(seen.insert(utf8Of(out)).second) << name << " #" << n;
    }
  }
}

TEST(Joliet, BadInputGivesAnEmptyNameAndAStatus) {
  Converter c;
  const std::string invalid[] = {"", "bad\xC3", "\xFF\xFE name", "over\xC0\xAFlong"};
  for (const std::string& text : invalid) {
    CS_UniStr out;
    out.length = 9;
    EXPECT_EQ(CS_UC_To_JolietStr(c.ref(), text.c_str(), &out, 0, false), kErrBadArgument);
    EXPECT_EQ(out.length, 0) << hexOf(text);
  }
  CS_UniStr out;
  EXPECT_EQ(CS_UC_To_JolietStr(nullptr, "x", &out, 0, false), kErrBadArgument);
  EXPECT_EQ(CS_UC_To_JolietStr(c.ref(), "x", nullptr, 0, false), kErrBadArgument);
  EXPECT_EQ(CS_UC_To_JolietStr(c.ref(), "x", &out, 12345678, false), kErrBadArgument);
}

// Converters made for version 620 decompose, later ones compose; Python's unicodedata is
// the reference for both forms.
TEST(Normalisation, FollowsTheInterfaceVersion) {
  QUILLION_REQUIRE_TOOL("python3");
  const std::string text = "Caf\xC3\xA9 A\xCC\x8A \xED\x95\x9C.txt";  // "Café Å 한.txt"
  for (const auto& [version, form] : {std::pair{620.0, "NFD"}, std::pair{663.0, "NFC"}}) {
    Converter c(version);
    CS_UniStr udf;
    ASSERT_EQ(CS_UC_To_UDF_UnicodeStr(c.ref(), text.c_str(), &udf), kNoErr);
    const ToolResult python =
        runTool({"python3", "-c",
                 "import sys,unicodedata\nsys.stdout.write(unicodedata.normalize(sys.argv[1],"
                 "bytes.fromhex(sys.argv[2]).decode()))",
                 form, hexOf(text)},
                {.separateErrors = true});
    ASSERT_EQ(python.exitCode, 0) << python.errors;
    const std::string& expected = python.output;
    EXPECT_EQ(utf8Of(udf), expected) << form;
    EXPECT_EQ(c.joliet(text, 0), expected) << form;
  }
}

TEST(UnicodeConverter, RoundTripsAndLimits) {
  UnicodeConverter utf8;
  std::uint32_t encoding = kCS_EncodingUTF8;
  ASSERT_TRUE(utf8.Init(&encoding));
  CS_UniStr units;
  ASSERT_EQ(utf8.ToUnicodeStr("Gr\xC3\xBC\xC3\x9F"
                              "e",
                              &units, false),
            kNoErr);
  EXPECT_EQ(unitsOf(units), u"Grüße");
  char back[16];
  ASSERT_EQ(utf8.FromUnicodeStr(&units, back, sizeof back), kNoErr);
  EXPECT_STREQ(back,
               "Gr\xC3\xBC\xC3\x9F"
               "e");
  ASSERT_EQ(utf8.FromUnicodeStr(&units, back, 5), kNoErr);
  EXPECT_STREQ(back, "Gr\xC3\xBC") << "cut before the character that does not fit";

  ASSERT_EQ(utf8.ToUnicodeStr(std::string(300, 'a').c_str(), &units, false), kNoErr);
  EXPECT_EQ(units.length, 255);
  ASSERT_EQ(utf8.ToUDFUnicodeStr(std::string(300, 'a').c_str(), &units), kNoErr);
  EXPECT_EQ(units.length, 127);
  EXPECT_EQ(utf8.ToUnicodeStr("bad\xC3", &units, false), kErrBadArgument);
  EXPECT_EQ(units.length, 0);
  utf8.Term();
  EXPECT_EQ(utf8.ToUnicodeStr("x", &units, false), kErrBadArgument) << "after Term";

  UnicodeConverter roman;
  encoding = kCS_EncodingMacRoman;
  ASSERT_TRUE(roman.Init(&encoding));
  ASSERT_EQ(roman.ToUnicodeStr("Gr\x9F\xA7"
                               "e",
                               &units, false),
            kNoErr);
  EXPECT_EQ(unitsOf(units), u"Grüße");
  ASSERT_EQ(roman.FromUnicodeStr(&units, back, sizeof back), kNoErr);
  EXPECT_STREQ(back,
               "Gr\x9F\xA7"
               "e");
}

TEST(UnicodeConverter, EncodingChoice) {
  std::uint32_t system = kCS_EncodingSystemDefault;
  CS_UCRef ref = CS_UC_Init(&system);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(system, kCS_EncodingUTF8) << "the system's encoding is written back";
  CS_UC_Term(&ref);
  EXPECT_EQ(ref, nullptr);
  CS_UC_Term(&ref);
  CS_UC_Term(nullptr);

  ref = CS_UC_Init(nullptr);
  EXPECT_NE(ref, nullptr);
  CS_UC_Term(&ref);
  std::uint32_t unknown = 0x1234;
  EXPECT_EQ(CS_UC_Init(&unknown), nullptr);
}

// After the 999 decimal numbers a level-1 name takes '~' and a base-36 serial over the end
// of its 8-character part; the serial widens when a width is used up.
TEST(IsoSerialNames, SerialsWidenOverTheEightCharacters) {
  using quillion::iso83SerialName;
  using quillion::iso83Stem;
  const auto folder = iso83Stem("photos", true);
  EXPECT_EQ(iso83SerialName(folder, 0), "PHOTOS~0");
  EXPECT_EQ(iso83SerialName(folder, 35), "PHOTOS~Z");
  EXPECT_EQ(iso83SerialName(folder, 36), "PHOTO~00");
  EXPECT_EQ(iso83SerialName(folder, 36 + 1295), "PHOTO~ZZ");
  EXPECT_EQ(iso83SerialName(folder, 36 + 1296), "PHOT~000");
  EXPECT_EQ(iso83SerialName(folder, 0xFFFFFFFFu).size(), 8u);
  EXPECT_EQ(iso83SerialName(iso83Stem("readme.txt", false), 0), "README~0.TXT");
  EXPECT_EQ(iso83SerialName(iso83Stem("longnamewithoutdot", false), 0), "LONGNA~0.WIT");
  EXPECT_EQ(iso83SerialName(iso83Stem("ab", false), 1), "AB~1.");
  // Every serial of the first three widths is a different name.
  std::set<std::string> names;
  const auto stem = iso83Stem("file_0001.dat", false);
  for (std::uint32_t serial = 0; serial < 36 + 1296 + 46656; ++serial)
    names.insert(iso83SerialName(stem, serial));
  EXPECT_EQ(names.size(), 36u + 1296u + 46656u);
}

// The decimal names come from the stem exactly as from the title.
TEST(IsoSerialNames, StemsGiveTheDecimalNamesOfTheirTitles) {
  for (const char* title :
       {"readme.txt", "my long filename.html", "photos", "abcdefghijklmno", "file_0101.dat", "x"}) {
    for (const bool folder : {false, true}) {
      for (const std::uint32_t n : {0u, 3u, 12u, 999u}) {
        char out[kCS_ISO83NameBytes];
        const std::uint16_t length = CS_To_ISO_8_3_Name(title, out, n, folder, false);
        EXPECT_EQ(quillion::iso83Name(quillion::iso83Stem(title, folder),
                                      n == 0 ? std::string() : std::to_string(n)),
                  std::string(out, length))
            << title << " " << n;
      }
    }
  }
}

TEST(IsoSerialNames, Latin1ReadingKeepsEveryByte) {
  EXPECT_EQ(quillion::utf8FromLatin1("caf\xE9.txt"), "caf\xC3\xA9.txt");
  EXPECT_EQ(quillion::utf8FromLatin1("\xFF\x80" "a"),
            "\xC3\xBF\xC2\x80"
            "a");
  EXPECT_TRUE(quillion::isValidUtf8(quillion::utf8FromLatin1("\xE9\xE8\xFC")));
}
