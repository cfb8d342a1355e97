// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated drive's CD sector coding against sectors vcdimager wrote: every Mode 2 Form 1
// sector of a Video CD image carries an EDC and RSPC parity that ours must reproduce.
#include <gtest/gtest.h>

#include <fstream>

#include "cd_sector.h"
#include "device_environment.h"
#include "quillion/MMC.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::runTool;
using quillion::test::TempDir;

TEST(CdSector, EdcAndParityMatchVcdimagerSectors) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("vcdxgen");
  QUILLION_REQUIRE_TOOL("vcdxbuild");
  TempDir tmp;
  const quillion::test::ToolOptions inTmp{.workingDirectory = tmp.path()};
  const auto clip =
      runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
               "testsrc=size=352x288:rate=25", "-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo",
               "-t", "1", "-target", "pal-vcd", "clip.mpg"},
              inTmp);
  ASSERT_EQ(clip.exitCode, 0) << clip.output;
  const auto description = runTool({"vcdxgen", "-t", "vcd2", "clip.mpg"}, inTmp);
  ASSERT_EQ(description.exitCode, 0) << description.output;
  const auto image = runTool({"vcdxbuild", "-p", "videocd.xml"}, inTmp);
  ASSERT_EQ(image.exitCode, 0) << image.output;
  std::ifstream bin(tmp.path() / "videocd.bin", std::ios::binary);
  RawSector sector{};
  int form1 = 0;
  while (bin.read(reinterpret_cast<char*>(sector.data()), sector.size())) {
    // Mode 2 sectors with the Form 2 bit clear in the subheader's submode (ECMA-130 14.5).
    if (sector[15] != 2 || (sector[18] & 0x20)) continue;
    ++form1;
    const std::uint32_t edc = cdEdc(std::span(sector).subspan(16, 2056));
    const std::uint32_t stored = sector[2072] | sector[2073] << 8 | sector[2074] << 16 |
                                 static_cast<std::uint32_t>(sector[2075]) << 24;
    ASSERT_EQ(edc, stored) << "sector " << form1;
    RawSector mine = sector;
    std::fill(mine.begin() + 12, mine.begin() + 16, std::uint8_t{0});  // Form 1 parity excludes the header
    std::fill(mine.begin() + 2076, mine.end(), std::uint8_t{0});
    cdEcc(mine);
    ASSERT_TRUE(std::equal(mine.begin() + 2076, mine.end(), sector.begin() + 2076)) << "sector " << form1;
  }
  EXPECT_GT(form1, 100);
}

TEST(CdSector, Mode1SectorLayout) {
  std::array<std::uint8_t, 2048> data{};
  data.fill(0x41);
  const RawSector s = mode1Sector(0, data);
  EXPECT_EQ(s[0], 0x00);
  EXPECT_EQ(s[1], 0xFF);
  EXPECT_EQ(s[10], 0xFF);
  EXPECT_EQ(s[11], 0x00);
  EXPECT_EQ(s[12], 0x00);  // 00:02:00 in BCD
  EXPECT_EQ(s[13], 0x02);
  EXPECT_EQ(s[14], 0x00);
  EXPECT_EQ(s[15], 0x01);
  EXPECT_EQ(s[16], 0x41);
  EXPECT_TRUE(std::all_of(s.begin() + 2068, s.begin() + 2076, [](std::uint8_t b) { return b == 0; }));
  const RawSector later = mode1Sector(4500 * 10 + 75 * 33 + 74 - 150, data);
  EXPECT_EQ(later[12], 0x10);
  EXPECT_EQ(later[13], 0x33);
  EXPECT_EQ(later[14], 0x74);
}

TEST(CdSector, ReadCdReturnsTheSelectedFieldsOfRecordedSectors) {
  DeviceEnvironment env;
  auto drive = env.plug("cd", "cd-writer");
  auto disc = env.blankDisc("cd", 0x09, 359'846);
  std::vector<std::uint8_t> data(4 * 2048);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
  ASSERT_TRUE(disc.write(0, 4, data.data()));
  drive->load(std::move(disc));
  env.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("cd");
  (void)MMC_TestUnitReady(ref, nullptr);

  std::vector<std::uint8_t> raw(2 * 2352);
  ASSERT_EQ(MMC_ReadCD(ref, 0x08, 0xF8, 1, 2, raw.data(), raw.size(), nullptr), kNoErr);
  const RawSector expected = mode1Sector(1, std::span<const std::uint8_t, 2048>(data.data() + 2048, 2048));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), raw.begin()));
  EXPECT_EQ(raw[2352 + 14], 0x02) << "the second sector is block 2: 00:02:02";

  std::vector<std::uint8_t> user(2048);
  ASSERT_EQ(MMC_ReadCD(ref, 0x00, 0x10, 3, 1, user.data(), user.size(), nullptr), kNoErr);
  EXPECT_TRUE(std::equal(user.begin(), user.end(), data.begin() + 3 * 2048));

  MMC_SenseData sense{};
  EXPECT_EQ(MMC_ReadCD(ref, 0x04, 0x10, 0, 1, user.data(), user.size(), &sense), kErrCheckCondition);
  EXPECT_EQ(sense.code, 0x64) << "expected CD-DA, found Mode 1";
  EXPECT_EQ(MMC_ReadCD(ref, 0x00, 0x88, 0, 1, raw.data(), raw.size(), &sense), kErrCheckCondition);
  EXPECT_EQ(sense.code, 0x24) << "sync and EDC without what lies between";
  EXPECT_EQ(MMC_ReadCD(ref, 0x00, 0x10, 4, 1, user.data(), user.size(), &sense), kErrCheckCondition);
  EXPECT_EQ(sense.code, 0x21) << "unrecorded block";
}
