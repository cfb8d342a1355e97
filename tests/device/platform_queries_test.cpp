// SPDX-License-Identifier: GPL-2.0-or-later
// The DC_MacX queries over the same transport: their error pattern, the -1 answer while the
// drive is locked (without touching the drive), the tray, and the medium walk.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/DC.h"

using namespace quillion;
using namespace quillion::emu;

namespace {

class PlatformQueries : public ::testing::Test {
protected:
  void start(Medium medium, double version = 1000) {
    drive_ = env_.plug("writer");
    drive_->load(std::move(medium));
    env_.start(version);
    ref_ = DeviceEnvironment::refOf("writer");
    ASSERT_NE(ref_, 0u);
    (void)MMC_TestUnitReady(ref_, nullptr);
    drive_->clearLog();
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

}  // namespace

TEST_F(PlatformQueries, SharedErrorPattern) {
  start(env_.blankDisc("writer", 0x11, 2'295'104));
  std::array<std::uint8_t, 64> buffer{};
  MMC_SenseData sense{};
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref_ + 1, buffer.data(), buffer.size(), &sense), kErrNoDrive);
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref_, nullptr, 64, &sense), kErrBadArgument);
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref_, buffer.data(), 0, &sense), kErrBadArgument);
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref_, buffer.data(), 34, &sense), kNoErr);
  EXPECT_EQ(buffer[2] & 0x03, 0) << "a blank disc";
  drive_->addFault({.opcode = 0x52, .action = FaultAction::CheckCondition, .key = 5, .asc = 0x24, .ascq = 0});
  EXPECT_EQ(DC_MacX_ReadTrackInfo(ref_, 1, 0xFF, buffer.data(), 48, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 5);
  EXPECT_EQ(sense.code, 0x24);
}

TEST_F(PlatformQueries, LockedDriveAnswersMinusOneWithoutTouchingIt) {
  start(env_.blankDisc("writer", 0x11, 2'295'104));
  ASSERT_EQ(DC_LockDevice(ref_, true), kNoErr);
  drive_->clearLog();
  std::array<std::uint8_t, 64> buffer{};
  std::uint8_t tray = 9;
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref_, buffer.data(), 34, nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_TestUnitReady(ref_, nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_ModeSense10(ref_, 0x2A, 0, 64, buffer.data(), nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_ReadTOC(ref_, false, 0, 1, buffer.data(), 64, nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_ReadTrackInfo(ref_, 1, 1, buffer.data(), 48, nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_GetTrayState(ref_, &tray), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_SetTrayState(ref_, 1), kErrPlatformCannotServe);
  EXPECT_TRUE(drive_->log().empty());
  // The raw command goes through the held access instead; queries without the rule use it too.
  EXPECT_EQ(MMC_GetDiscInfo(ref_, buffer.data(), 34, nullptr), kNoErr);
  EXPECT_EQ(DC_MacX_GetConfiguration(ref_, 0, 0, buffer.data(), 64, nullptr), kNoErr);
  EXPECT_TRUE(drive_->log().back().exclusive);
  EXPECT_EQ(DC_LockDevice(ref_, false), kNoErr);
}

TEST_F(PlatformQueries, OldInterfaceVersionLeavesCapacitiesToTheRawCommand) {
  start(env_.blankDisc("writer", 0x1A, 100000), 600);
  std::array<std::uint8_t, 64> buffer{};
  EXPECT_EQ(DC_MacX_GetPerformance(ref_, 0, 0, 20, 3, buffer.data(), 64, nullptr), kErrPlatformCannotServe);
  EXPECT_EQ(DC_MacX_ReadFormatCapabilities(ref_, buffer.data(), 12, nullptr), kErrPlatformCannotServe);
  EXPECT_TRUE(drive_->log().empty());
}

TEST_F(PlatformQueries, TrayStateAndPureReaderAnswers) {
  start(env_.blankDisc("writer", 0x11, 2'295'104));
  std::uint8_t tray = 9;
  ASSERT_EQ(DC_MacX_GetTrayState(ref_, &tray), kNoErr);
  EXPECT_EQ(tray, 0);
  ASSERT_EQ(DC_MacX_SetTrayState(ref_, 1), kNoErr);
  ASSERT_EQ(DC_MacX_GetTrayState(ref_, &tray), kNoErr);
  EXPECT_EQ(tray, 1);
  EXPECT_EQ(drive_->log().back().cdb, (std::vector<std::uint8_t>{0x1B, 0, 0, 0, 2, 0}));
  ASSERT_EQ(DC_MacX_SetTrayState(ref_, 0), kNoErr);
  EXPECT_TRUE(drive_->hasMedium());

  EXPECT_FALSE(DC_MacX_IsPureReader(ref_));
  EXPECT_TRUE(DC_MacX_IsPureReader(ref_ + 100));
  EXPECT_TRUE(DC_MacX_IsPureReader(0));
  EXPECT_FALSE(DC_MacX_IsPureReader(0xFFFFFFFF));
}

TEST_F(PlatformQueries, PreventedEjectFailsTheTrayRequest) {
  start(env_.blankDisc("writer", 0x11, 2'295'104));
  ASSERT_EQ(MMC_LockDrive(ref_, true, nullptr), kNoErr);
  EXPECT_EQ(DC_MacX_SetTrayState(ref_, 1), kErrTransport);
  EXPECT_TRUE(drive_->hasMedium());
}

TEST_F(PlatformQueries, MediumWalkGivesPathTocAndUsedBlocks) {
  // A 4.7 GB DVD+RW holding a small HFS Plus volume: the used size is the volume's.
  auto disc = env_.blankDisc("writer", 0x1A, 2'295'104);
  disc.format();
  std::vector<std::uint8_t> head(4096, 0);
  head[1024] = 'H';
  head[1025] = '+';
  be::put32(head, 1064, 4096);   // block size
  be::put32(head, 1068, 25600);  // 100 MiB
  ASSERT_TRUE(disc.write(0, 2, head.data()));
  start(std::move(disc));

  char path[64];
  std::uint32_t blocks = 0;
  ASSERT_EQ(DC_MacX_GetTOCnBSDPath(ref_, nullptr, nullptr, path, sizeof path, true, &blocks), kNoErr);
  EXPECT_STREQ(path, "/dev/quillion-emu/writer");
  EXPECT_EQ(blocks, 100u * 1024 * 1024 / 2048);

  char tiny[11] = "untouched";
  EXPECT_EQ(DC_MacX_GetTOCnBSDPath(ref_, nullptr, nullptr, tiny, sizeof tiny, false, nullptr), kNoErr);
  EXPECT_STREQ(tiny, "") << "a path buffer of 11 bytes or less gets no path";
  EXPECT_EQ(DC_MacX_GetTOCnBSDPath(ref_ + 7, nullptr, nullptr, nullptr, 0, false, nullptr), kErrNoDrive);
}

TEST_F(PlatformQueries, MediumWalkOfACdReturnsTheFullToc) {
  auto disc = env_.blankDisc("writer", 0x09, 359'846);
  std::vector<std::uint8_t> data(2048 * 300, 0x5A);
  ASSERT_TRUE(disc.write(0, 300, data.data()));
  disc.closeSession();
  start(std::move(disc));
  std::uint8_t* toc = nullptr;
  std::uint32_t length = 0;
  std::uint32_t blocks = 77;
  ASSERT_EQ(DC_MacX_GetTOCnBSDPath(ref_, &toc, &length, nullptr, 0, false, &blocks), kNoErr);
  ASSERT_NE(toc, nullptr);
  EXPECT_EQ(length, 2u + be::get16(std::span(toc, length), 0));
  EXPECT_EQ(length, 4u + 4 * 11) << "A0, A1, A2 and one track";
  EXPECT_EQ(toc[4 + 2 * 11 + 3], 0xA2);
  EXPECT_EQ(toc[4 + 2 * 11 + 8], 0);    // lead-out at 300 + 150 frames = 00:06:00
  EXPECT_EQ(toc[4 + 2 * 11 + 9], 6);
  EXPECT_EQ(blocks, 77u) << "the size step is skipped when a TOC was returned";
  std::free(toc);
}

TEST_F(PlatformQueries, MountAndUnmountWaitForTheAnswer) {
  start(env_.blankDisc("writer", 0x1A, 100000));
  EXPECT_EQ(DC_MacX_MountMedia(ref_), 1);
  EXPECT_TRUE(drive_->mounted());
  drive_->setUnmountRefused(true);
  EXPECT_EQ(DC_MacX_UnmountMedia(ref_), 0) << "a dissent is reported, not hidden";
  EXPECT_TRUE(drive_->mounted());
  drive_->setUnmountRefused(false);
  EXPECT_EQ(DC_MacX_UnmountMedia(ref_), 1);
  EXPECT_FALSE(drive_->mounted());
  EXPECT_EQ(DC_MacX_UnmountMedia(ref_ + 5), 0);
}
