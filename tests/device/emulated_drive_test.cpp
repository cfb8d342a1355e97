// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated drive itself, against the standards and outside readers: INQUIRY read back by
// sg_inq, allocation-length truncation, unit attentions, and a disc written through the
// engine, dumped and extracted by xorriso and compared file by file with its source.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::emu;
namespace fs = std::filesystem;
using quillion::test::readText;
using quillion::test::runTool;

namespace {




class EmulatedDriveTest : public ::testing::Test {
protected:
  std::uint32_t start(std::optional<Medium> disc, const std::string& preset = "dvd-writer") {
    drive_ = env_.plug("emu", preset);
    if (disc) drive_->load(std::move(*disc));
    env_.start();
    const std::uint32_t ref = DeviceEnvironment::refOf("emu");
    drive_->clearLog();
    return ref;
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
};

}  // namespace

TEST_F(EmulatedDriveTest, InquiryReadsBackWithSgInq) {
  QUILLION_REQUIRE_TOOL("sg_inq");
  const auto ref = start(std::nullopt);
  std::array<std::uint8_t, 96> inquiry{};
  ASSERT_EQ(MMC_Inquiry(ref, inquiry.data(), inquiry.size(), nullptr), kNoErr);
  const auto hexFile = env_.folder() / "inq.hex";
  {
    std::ofstream out(hexFile);
    for (std::uint8_t b : inquiry) out << std::hex << int{b} << ' ';
  }
  const std::string decoded = runTool({"sg_inq", "--inhex=" + hexFile.string()}).output;
  EXPECT_NE(decoded.find("Vendor identification: QUILLION"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("Product identification: emu"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("Product revision level: 1.00"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("PDT=5"), std::string::npos) << decoded;
}

TEST_F(EmulatedDriveTest, LengthFieldsDescribeEverythingWhileTheTransferIsCut) {
  const auto ref = start(env_.blankDisc("emu", 0x11, 2'295'104));
  (void)MMC_TestUnitReady(ref, nullptr);
  std::array<std::uint8_t, 48> track{};
  track.fill(0xEE);
  ASSERT_EQ(MMC_GetTrackInfo(ref, 0xFF, track.data(), 28, nullptr), kNoErr);
  EXPECT_EQ(be::get16(track, 0), 0x002Eu) << "the whole block's length, though 28 bytes were asked";
  EXPECT_EQ(track[28], 0xEE) << "nothing beyond the allocation length is written";
  EXPECT_EQ(track[7] & 0x01, 1) << "next writable address valid on the invisible track";
  EXPECT_EQ(be::get32(track, 12), 0u);
}

TEST_F(EmulatedDriveTest, UnitAttentionOnceAfterALoadButNotForExemptCommands) {
  const auto ref = start(std::nullopt);
  drive_->load(env_.blankDisc("emu", 0x11, 2'295'104));
  // Raw blocks, so that no courtesy TEST UNIT READY takes the attention first.
  std::array<std::uint8_t, 96> buffer{};
  const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 36};
  const std::uint8_t config[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, 8};
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref, inquiry, 12, buffer.data(), 36, kDC_DataIn, 1000, nullptr), kNoErr);
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref, config, 12, buffer.data(), 8, kDC_DataIn, 1000, nullptr), kNoErr)
      << "exempt (MMC-5 4.1.6)";
  EXPECT_EQ(be::get16(buffer, 6), 0x0011u) << "current profile DVD-R";
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_TestUnitReady(ref, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 0x06);
  EXPECT_EQ(sense.code, 0x28);
  EXPECT_EQ(MMC_TestUnitReady(ref, &sense), kNoErr) << "reported once";
}

TEST_F(EmulatedDriveTest, SequentialMediaTakeWritesOnlyAtTheNextWritableAddress) {
  const auto ref = start(env_.blankDisc("emu", 0x11, 2'295'104));
  (void)MMC_TestUnitReady(ref, nullptr);
  std::vector<std::uint8_t> blocks(16 * 2048, 7);
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_WriteSectors(ref, 16, blocks.data(), 2048, 16, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.code, 0x21);
  EXPECT_EQ(sense.qualifier, 0x02);
  EXPECT_EQ(MMC_WriteSectors(ref, 0, blocks.data(), 2048, 16, &sense), kNoErr);
  const std::uint8_t write16[12] = {0x2A, 0, 0, 0, 0, 16, 0, 0, 16};
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref, write16, 12, blocks.data(), 15 * 2048, kDC_DataOut, 1000, &sense),
            kErrCheckCondition)
      << "a data phase shorter than the blocks announced";
  EXPECT_EQ(MMC_CloseSessionTrack(ref, 2, 0, false, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.code, 0x72) << "a session with an incomplete track does not close";
  EXPECT_EQ(MMC_CloseSessionTrack(ref, 1, 1, false, &sense), kNoErr);
  EXPECT_EQ(MMC_CloseSessionTrack(ref, 2, 0, false, &sense), kNoErr);
  EXPECT_EQ(MMC_WriteSectors(ref, 16, blocks.data(), 2048, 16, &sense), kErrCheckCondition) << "a complete disc";
}

TEST_F(EmulatedDriveTest, ReadOnlyDriveAndMediaRefuseWrites) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  const auto ref = start(env_.blankDisc("emu", 0x11, 2'295'104), "reader");
  (void)MMC_TestUnitReady(ref, nullptr);
  std::vector<std::uint8_t> block(2048);
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_WriteSectors(ref, 0, block.data(), 2048, 1, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 5);
  EXPECT_EQ(sense.code, 0x20);
}

TEST_F(EmulatedDriveTest, DiscWrittenThroughTheEngineExtractsWithXorriso) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("xorriso");
  const fs::path src = env_.folder() / "src";
  fs::create_directories(src / "docs");
  std::ofstream(src / "readme.txt") << "a disc written by the emulated drive\n";
  {
    std::ofstream big(src / "docs" / "big.bin", std::ios::binary);
    for (int i = 0; i < 200000; ++i) big.put(static_cast<char>(i * 7));
  }
  const fs::path iso = env_.folder() / "in.iso";
  ASSERT_EQ(
      runTool({"genisoimage", "-quiet", "-R", "-J", "-o", iso.string(), src.string()}).exitCode, 0);
  const std::string image = readText(iso);
  ASSERT_EQ(image.size() % 2048, 0u);

  const auto ref = start(env_.blankDisc("emu", 0x11, 2'295'104));
  ASSERT_EQ(MMC_WaitTestUnitReady(ref, 20), 1);
  ASSERT_EQ(DC_LockDevice(ref, true), kNoErr);
  const auto blocks = static_cast<std::uint32_t>(image.size() / 2048);
  for (std::uint32_t lba = 0; lba < blocks; lba += 32) {
    const std::uint32_t n = std::min(32u, blocks - lba);
    MMC_SenseData sense{};
    ASSERT_EQ(MMC_WriteSectors(ref, lba, image.data() + std::size_t{lba} * 2048, 2048, n, &sense), kNoErr) << lba;
  }
  ASSERT_EQ(MMC_SynchronizeCache(ref, nullptr), kNoErr);
  ASSERT_EQ(MMC_CloseSessionTrack(ref, 1, 1, false, nullptr), kNoErr);
  ASSERT_EQ(MMC_CloseSessionTrack(ref, 2, 0, false, nullptr), kNoErr);
  ASSERT_EQ(DC_LockDevice(ref, false), kNoErr);

  // The medium folder reopens as the same disc, and dumps for outside readers.
  const auto reopened = Medium::load(env_.folder() / "emu.medium");
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->status(), DiscStatus::Complete);
  const fs::path dump = env_.folder() / "dump.iso";
  ASSERT_TRUE(reopened->dumpIso(dump));
  const fs::path out = env_.folder() / "out";
  ASSERT_EQ(
      runTool({"xorriso", "-indev", dump.string(), "-osirrox", "on", "-extract", "/", out.string()})
          .exitCode,
      0);
  EXPECT_EQ(readText(out / "readme.txt"), readText(src / "readme.txt"));
  EXPECT_EQ(readText(out / "docs" / "big.bin"), readText(src / "docs" / "big.bin"));

  // The command log beside the disc names every command with its answer.
  const std::string log = readText(env_.folder() / "emu.medium" / "commands.log");
  EXPECT_NE(log.find("5b 00 02"), std::string::npos);
}

TEST_F(EmulatedDriveTest, CdDumpReadsBackWithBchunkAndCdInfo) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("bchunk");
  QUILLION_REQUIRE_TOOL("cd-info");
  const fs::path src = env_.folder() / "src";
  fs::create_directories(src);
  std::ofstream(src / "track.txt") << std::string(50000, 'c');
  const fs::path iso = env_.folder() / "in.iso";
  ASSERT_EQ(runTool({"genisoimage", "-quiet", "-o", iso.string(), src.string()}).exitCode, 0);
  const std::string image = readText(iso);

  const auto ref = start(env_.blankDisc("emu", 0x09, 359'846), "cd-writer");
  ASSERT_EQ(MMC_WaitTestUnitReady(ref, 20), 1);
  const auto blocks = static_cast<std::uint32_t>(image.size() / 2048);
  ASSERT_EQ(MMC_WriteSectors(ref, 0, image.data(), 2048, blocks, nullptr), kNoErr);
  ASSERT_EQ(MMC_CloseSessionTrack(ref, 1, 1, false, nullptr), kNoErr);
  ASSERT_EQ(MMC_CloseSessionTrack(ref, 2, 0, false, nullptr), kNoErr);

  const fs::path cue = env_.folder() / "dump.cue";
  ASSERT_TRUE(drive_->withMedium([&](Medium& m) { ASSERT_TRUE(m.dumpBinCue(cue)); }));
  EXPECT_EQ(readText(cue),
            "FILE \"dump.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  const std::string info =
      runTool({"cd-info", "--no-device-info", "--no-disc-mode", "--cue-file", cue.string()}).output;
  EXPECT_NE(info.find("1: 00:02:00  000000 data"), std::string::npos) << info;
  // bchunk takes the user data out of the raw sectors again: the image, then the zeros the
  // drive padded the track with to its 4 seconds, then its 2 run-out blocks.
  ASSERT_EQ(runTool({"bchunk", "dump.bin", "dump.cue", "back"}, {.workingDirectory = env_.folder()})
                .exitCode,
            0);
  const std::string back = readText(env_.folder() / "back01.iso");
  ASSERT_EQ(back.size(), 302u * 2048);
  EXPECT_EQ(back.substr(0, image.size()), image);
  EXPECT_EQ(back.find_first_not_of('\0', image.size()), std::string::npos);
}

TEST_F(EmulatedDriveTest, AtipOfABlankCdRw) {
  const auto ref = start(env_.blankDisc("emu", 0x0A, 359'846), "cd-writer");
  (void)MMC_TestUnitReady(ref, nullptr);
  std::array<std::uint8_t, 28> atip{};
  ASSERT_EQ(MMC_GetTOC(ref, atip.data(), atip.size(), 4, 0, false, nullptr), kNoErr);
  EXPECT_EQ(be::get16(atip, 0), 26u);
  EXPECT_EQ(atip[6] & 0x40, 0x40) << "CD-RW";
  EXPECT_EQ(atip[8], 97);
  // 359,846 blocks + 150 = 79:59:71
  EXPECT_EQ(atip[12], 79);
  EXPECT_EQ(atip[13], 59);
  EXPECT_EQ(atip[14], 71);
  std::array<std::uint8_t, 4> text{};
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_GetTOC(ref, text.data(), text.size(), 5, 0, false, &sense), kErrCheckCondition)
      << "a blank disc has no TOC to read";
}

TEST_F(EmulatedDriveTest, PowerOnResetIsReportedOnce) {
  const auto ref = start(env_.blankDisc("emu", 0x11, 2'295'104));
  (void)MMC_TestUnitReady(ref, nullptr);
  drive_->addFault({.opcode = 0x00, .toCall = 1, .action = FaultAction::Reset});
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_TestUnitReady(ref, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 6);
  EXPECT_EQ(sense.code, 0x29);
  EXPECT_EQ(MMC_TestUnitReady(ref, &sense), kNoErr);
}

// MMC-5 6.22.3 and 6.27.3, as drives answer for a DVD+RW never formatted: the disc is blank
// with one session, and its one track is blank, starts at block 0 and has the whole capacity
// free, asked by number, as the incomplete track or by session.
TEST_F(EmulatedDriveTest, AnUnformattedRandomWritableDiscHasOneBlankTrackOverItsCapacity) {
  struct Case {
    const char* name;
    std::uint16_t profile;
    const char* preset;
    std::uint32_t capacity;
  };
  const Case cases[] = {{"DVD+RW", 0x1A, "dvd-writer", 2'295'104},
                        {"BD-RE", 0x43, "bd-writer", 12'219'392}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ref = start(env_.blankDisc("emu", c.profile, c.capacity), c.preset);
    (void)MMC_TestUnitReady(ref, nullptr);
    std::array<std::uint8_t, 34> disc{};
    ASSERT_EQ(MMC_GetDiscInfo(ref, disc.data(), disc.size(), nullptr), kNoErr);
    EXPECT_EQ(disc[2] & 0x03, 0) << "blank";
    EXPECT_EQ(disc[4], 1) << "one session";
    EXPECT_EQ(disc[5], 1);
    EXPECT_EQ(disc[6], 1);
    for (const std::uint8_t track : {std::uint8_t{1}, std::uint8_t{0xFF}}) {
      SCOPED_TRACE(int{track});
      std::array<std::uint8_t, 48> info{};
      ASSERT_EQ(MMC_GetTrackInfo(ref, track, info.data(), info.size(), nullptr), kNoErr);
      EXPECT_EQ(be::get16(info, 0), 0x002Eu);
      EXPECT_EQ(info[2], 1) << "track 1";
      EXPECT_EQ(info[3], 1) << "session 1";
      EXPECT_EQ(info[6] & 0x40, 0x40) << "blank";
      EXPECT_EQ(info[7] & 0x01, 0) << "no next writable address on a random-writable disc";
      EXPECT_EQ(be::get32(info, 8), 0u) << "track start";
      EXPECT_EQ(be::get32(info, 16), c.capacity) << "free blocks";
      EXPECT_EQ(be::get32(info, 24), c.capacity) << "track size";
    }
    // By session (address type 10b) the same track.
    const std::uint8_t bySession[12] = {0x52, 0x02, 0, 0, 0, 1, 0, 0, 48};
    std::array<std::uint8_t, 48> info{};
    ASSERT_EQ(DC_ExecuteMMCCmd_Sync(ref, bySession, 12, info.data(), 48, kDC_DataIn, 1000, nullptr),
              kNoErr);
    EXPECT_EQ(be::get32(info, 16), c.capacity);
    // READ FORMAT CAPACITIES: the current descriptor is of an unformatted disc.
    std::array<std::uint8_t, 252> list{};
    ASSERT_EQ(MMC_ReadFormatCapacities(ref, list.data(), list.size(), nullptr), kNoErr);
    EXPECT_EQ(list[8] & 0x03, 1) << "unformatted";
    EXPECT_EQ(be::get32(list, 4), c.capacity);
    env_.stop();
    EmulatedBus::instance().reset();
  }
}
