// SPDX-License-Identifier: GPL-2.0-or-later
// Sense parsing and sense texts, checked against sg_decode_sense (sg3-utils) as the
// independent reader of the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

#include "device/sense.h"
#include "quillion/SCS.h"
#include "tests/support/test_support.h"

using namespace quillion;
using quillion::test::runTool;
using quillion::test::toolAvailable;

namespace {

std::string text(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  MMC_SenseData s{key, asc, ascq};
  char buffer[kSCS_TextCapacity];
  SCS_GetStringFromSense(&s, buffer);
  return buffer;
}



std::string decodeLine(const std::vector<std::uint8_t>& sense, const std::string& label) {
  std::vector<std::string> argv = {"sg_decode_sense"};
  char hex[3];
  for (auto b : sense) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    argv.emplace_back(hex);
  }
  const std::string out = runTool(argv, {.environment = {{"LC_ALL", "C"}}}).output;
  const auto at = out.find(label);
  if (at == std::string::npos) return {};
  const auto end = out.find('\n', at);
  std::string line = out.substr(at + label.size(), end - at - label.size());
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// Our texts write the standard's " - " as ", " (sentence style); case is not compared.
std::string normalised(std::string s) {
  for (std::size_t at; (at = s.find(" - ")) != std::string::npos;) s.replace(at, 3, ", ");
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST(SenseText, EdgeCasesWordForWord) {
  EXPECT_EQ(text(0, 0, 0), "No Sense code.");
  EXPECT_EQ(text(5, 0x24, 0), "((05h, 24h, 00h), Illegal Request, Invalid field in CDB)");
  EXPECT_EQ(text(5, 0x99, 0), "((05h, 99h, 00h), Illegal Request, )");
  EXPECT_EQ(text(0x0F, 0x3A, 0), "((0fh, 3ah, 00h), Unknown Sense Code, Medium not present)");
  EXPECT_EQ(text(0, 0, 1), "((00h, 00h, 01h), No Sense, Filemark detected)");
  EXPECT_EQ(text(2, 0x04, 0x08), "((02h, 04h, 08h), Not Ready, Logical unit not ready, long write in progress)");
  EXPECT_EQ(text(2, 0x3A, 0x02), "((02h, 3ah, 02h), Not Ready, Medium not present, tray open)");
  EXPECT_EQ(text(6, 0x29, 0x01), "((06h, 29h, 01h), Unit Attention, Power on occured)");
  EXPECT_EQ(text(0x0C, 0xBF, 0x00), "((0ch, bfh, 00h), Equal (now obsolete), Loss of streaming)");
  EXPECT_EQ(text(3, 0x73, 0x06), "((03h, 73h, 06h), Medium Error, Program memory area is (almost) full)");

  char buffer[kSCS_TextCapacity] = "stale";
  SCS_GetStringFromSense(nullptr, buffer);
  EXPECT_STREQ(buffer, "");
  SCS_GetStringFromSense(nullptr, nullptr);  // does nothing
}

TEST(SenseText, KeyNames) {
  const char* names[] = {"No Sense",      "Recovered Error", "Not Ready",       "Medium Error",
                         "Hardware Error", "Illegal Request", "Unit Attention",  "Data Protect",
                         "Blank Check",   "Vendor-Specific", "Copy Aborted",    "Aborted Command",
                         "Equal (now obsolete)", "Volume Overflow", "Miscompare", "Unknown Sense Code"};
  for (std::uint8_t key = 0; key < 16; ++key) {
    EXPECT_NE(text(key, 0x3A, 0).find(std::string(", ") + names[key] + ", "), std::string::npos) << int{key};
  }
  EXPECT_NE(text(0x20, 0x3A, 0).find("Unknown Sense Code"), std::string::npos);
}

TEST(SenseText, DescriptionsAgreeWithSgDecodeSense) {
  QUILLION_REQUIRE_TOOL("sg_decode_sense");
  // Pairs whose wording the system keeps apart from the standard's table.
  const std::vector<std::uint16_t> ownWording = {0x2901, 0x5500, 0x5501, 0x5A00, 0x5DFF,
                                                 0x6F05, 0x7306, 0xB900, 0xBF00};
  int described = 0, compared = 0;
  for (int asc = 0; asc < 256; ++asc) {
    for (int ascq = 0; ascq < 256; ++ascq) {
      const std::string ours = text(5, static_cast<std::uint8_t>(asc), static_cast<std::uint8_t>(ascq));
      const std::string description = ours.substr(ours.find("Illegal Request, ") + 17);
      if (description == ")") continue;
      ++described;
      const auto pair = static_cast<std::uint16_t>(asc << 8 | ascq);
      if (std::find(ownWording.begin(), ownWording.end(), pair) != ownWording.end()) continue;
      const std::string theirs =
          decodeLine({0x70, 0, 5, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, static_cast<std::uint8_t>(asc),
                      static_cast<std::uint8_t>(ascq), 0, 0, 0, 0},
                     "Additional sense: ");
      if (theirs.empty()) continue;  // a code the tool has no text for
      ++compared;
      EXPECT_EQ(normalised(description.substr(0, description.size() - 1)), normalised(theirs))
          << std::hex << asc << '/' << ascq;
    }
  }
  EXPECT_EQ(described, 394);
  EXPECT_GE(compared, 380);
}

TEST(SenseParse, FixedAndDescriptorFormatsAgreeWithSgDecodeSense) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    MMC_SenseData expected;
    std::optional<std::uint64_t> information;
  };
  const std::vector<Case> cases = {
      {{0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0}, {5, 0x24, 0}, std::nullopt},
      {{0xF0, 0, 0x03, 0, 0, 0x01, 0x2C, 0x0a, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0}, {3, 0x11, 0}, 300},
      {{0x71, 0, 0x03, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x0C, 0x09, 0, 0, 0, 0}, {3, 0x0C, 9}, std::nullopt},
      {{0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}, {5, 0x24, 0}, std::nullopt},
      {{0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x2C}, {3, 0x11, 0}, 300},
      {{0x73, 0x06, 0x28, 0x00, 0, 0, 0, 0}, {6, 0x28, 0}, std::nullopt},
  };
  const bool tool = toolAvailable("sg_decode_sense");
  for (const auto& c : cases) {
    const auto parsed = parseSense(c.bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->data.key, c.expected.key);
    EXPECT_EQ(parsed->data.code, c.expected.code);
    EXPECT_EQ(parsed->data.qualifier, c.expected.qualifier);
    EXPECT_EQ(parsed->information, c.information);
    if (!tool) continue;
    const std::string ours = text(parsed->data.key, parsed->data.code, parsed->data.qualifier);
    const std::string key = decodeLine(c.bytes, "Sense key: ");
    EXPECT_NE(normalised(ours).find(normalised(key)), std::string::npos) << ours << " vs " << key;
  }
  EXPECT_FALSE(parseSense(std::vector<std::uint8_t>{0x00, 0x05, 0x24}));
  EXPECT_FALSE(parseSense(std::vector<std::uint8_t>{0x70}));
  // A fixed-format buffer cut before the ASC reports no ASC rather than reading past it.
  const auto cut = parseSense(std::vector<std::uint8_t>{0x70, 0, 0x02, 0, 0, 0, 0, 0x0a});
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->data.key, 2);
  EXPECT_EQ(cut->data.code, 0);
}

TEST(SenseParse, CommandStatusNeverCallsAFailureSuccess) {
  ScsiResult notDelivered;
  MMC_SenseData sense{};
  EXPECT_EQ(commandStatus(notDelivered, &sense), kErrTransport);
  ScsiResult busy;
  busy.delivered = true;
  busy.scsiStatus = kScsiBusy;
  EXPECT_EQ(commandStatus(busy, &sense), kErrCheckCondition);
  ScsiResult good;
  good.delivered = true;
  EXPECT_EQ(commandStatus(good, &sense), kNoErr);
}
