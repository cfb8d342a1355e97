// SPDX-License-Identifier: GPL-2.0-or-later
// The MMC utilities against the emulated drive: waits in virtual time, the format-capacity
// search (which reads for real and never drops a lock it did not take), speed setting and the
// vendor WRITE CONTINUE identification.
#include <gtest/gtest.h>

#include <cerrno>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

using namespace quillion;
using namespace quillion::emu;
using namespace std::chrono_literals;

namespace {

class MmcUtils : public ::testing::Test {
protected:
  std::uint32_t start(const std::string& name, const std::optional<Medium>& disc, DriveConfig config) {
    config.name = name;
    config.product = name;
    drive_ = EmulatedBus::instance().plug(config);
    if (disc) drive_->load(*disc);
    env_.start();
    const std::uint32_t ref = DeviceEnvironment::refOf(name);
    (void)MMC_TestUnitReady(ref, nullptr);
    drive_->clearLog();
    return ref;
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
};

}  // namespace

TEST_F(MmcUtils, WaitTestUnitReadySleepsOutTheSpinUpInVirtualTime) {
  auto config = *DriveConfig::preset("dvd-writer");
  config.spinUp = 3500ms;
  const auto ref = start("slow", std::nullopt, config);
  drive_->load(env_.blankDisc("slow", 0x11, 2'295'104));
  (void)MMC_TestUnitReady(ref, nullptr);  // unit attention
  const auto before = env_.clock().elapsed();
  EXPECT_EQ(MMC_WaitTestUnitReady(ref, 20), 1);
  EXPECT_GE(env_.clock().elapsed() - before, 3s);
  EXPECT_LE(env_.clock().elapsed() - before, 5s);

  drive_->addFault({.opcode = 0x00, .action = FaultAction::CheckCondition, .key = 2, .asc = 4, .ascq = 1});
  EXPECT_EQ(MMC_WaitTestUnitReady(ref, 5), 0) << "tries run out";
  drive_->clearFaults();
  (void)drive_->unload();
  EXPECT_EQ(MMC_WaitTestUnitReady(ref, 5), 1) << "no medium ends the wait at once";
  EXPECT_EQ(MMC_WaitTestUnitReady(0xFFFFFFFF, 5), 0);
  EXPECT_EQ(MMC_WaitTestUnitReady(ref + 50, 5), 0);
}

TEST_F(MmcUtils, WaitDiscInfoReady) {
  const auto ref = start("w", env_.blankDisc("w", 0x11, 2'295'104), *DriveConfig::preset("dvd-writer"));
  EXPECT_EQ(MMC_Util_WaitDiscInfoReady(ref, 10, 1), kNoErr);
  EXPECT_EQ(MMC_Util_WaitDiscInfoReady(ref, 0, 1), kErrPlatformCannotServe) << "no attempt made";
  drive_->addFault({.opcode = 0x51, .action = FaultAction::CheckCondition, .key = 2, .asc = 4, .ascq = 8});
  const auto before = env_.clock().elapsed();
  EXPECT_EQ(MMC_Util_WaitDiscInfoReady(ref, 30, 2), kErrCheckCondition);
  EXPECT_EQ(env_.clock().elapsed() - before, 30s);
}

TEST_F(MmcUtils, SearchFormatCapacityReadsAndKeepsTheCallersLock) {
  auto disc = env_.blankDisc("plus", 0x1A, 2'295'104);
  const auto ref = start("plus", disc, *DriveConfig::preset("dvd-writer"));
  std::uint32_t out[2] = {};
  EXPECT_EQ(MMC_Util_SearchFormatCapacity(ref, 0x26, nullptr, true), kErrUtilNoOutput);

  ASSERT_EQ(DC_LockDevice(ref, true), kNoErr);
  ASSERT_EQ(MMC_Util_SearchFormatCapacity(ref, 0x26, out, true), kNoErr);
  EXPECT_EQ(out[0], 2'295'104u);
  EXPECT_EQ(out[1] >> 26, 0x26u);
  EXPECT_EQ(drive_->open(true), -EBUSY) << "a query must not release a lock it did not take";
  EXPECT_EQ(MMC_Util_SearchFormatCapacity(ref, 0x13, out, true), kErrUtilNoOutput) << "no such format type";
  ASSERT_EQ(MMC_Util_SearchFormatCapacity(ref, 255, out, true), kNoErr);
  EXPECT_EQ(out[0], 2'295'104u);
  EXPECT_EQ(out[1] & 0x03000000u, 0x01000000u) << "unformatted";
  EXPECT_EQ(DC_LockDevice(ref, false), kNoErr);

  // Without the interface the drive is taken and read through the held access, for real.
  drive_->clearLog();
  ASSERT_EQ(MMC_Util_SearchFormatCapacity(ref, 0x26, out, false), kNoErr);
  EXPECT_EQ(out[0], 2'295'104u);
  const auto log = drive_->log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().cdb[0], 0x23);
  EXPECT_TRUE(log.back().exclusive);
  EXPECT_EQ(DC_LockDevice(ref, false), kNoErr);

  (void)drive_->unload();
  EXPECT_EQ(MMC_Util_SearchFormatCapacity(ref, 255, out, true), kErrUtilNoOutput) << "no medium";
}

TEST_F(MmcUtils, DvdSpeedChoosesTheMatchingDescriptor) {
  const auto ref = start("dvdr", env_.blankDisc("dvdr", 0x11, 2'295'104), *DriveConfig::preset("dvd-writer"));
  std::uint16_t set = 0;
  ASSERT_EQ(MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 8, &set), kNoErr);
  EXPECT_EQ(set, 8);
  const auto log = drive_->log();
  ASSERT_GE(log.size(), 2u);
  const auto& cdSpeed = log[log.size() - 3].cdb[0] == 0xBB ? log[log.size() - 3] : log[log.size() - 2];
  const auto& streaming = log.back();
  ASSERT_EQ(streaming.cdb[0], 0xB6);
  ASSERT_EQ(streaming.dataOut.size(), 28u);
  EXPECT_EQ(be::get32(streaming.dataOut, 20), 11080u) << "write size of the 8x descriptor";
  EXPECT_EQ(be::get32(streaming.dataOut, 8), 2'295'103u) << "end LBA of the chosen descriptor";
  EXPECT_EQ(cdSpeed.cdb[0], 0xBB);
  EXPECT_EQ(be::get16(cdSpeed.cdb, 4), 11080u);

  ASSERT_EQ(MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 12, &set), kNoErr);
  EXPECT_EQ(set, 8) << "an unavailable speed falls back to the highest offered";
  ASSERT_EQ(MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 4, &set), kNoErr);
  EXPECT_EQ(set, 4);
  EXPECT_EQ(MMC_Util_SetReadWriteSpeed(0, 1, 1, &set), kErrUtilNoOutput);
}

TEST_F(MmcUtils, CdSpeedIsSentInKilobytesPerSecond) {
  const auto ref = start("cdrw", env_.blankDisc("cdrw", 0x0A, 359'846), *DriveConfig::preset("cd-writer"));
  std::uint16_t set = 77;
  ASSERT_EQ(MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 16, &set), kNoErr);
  EXPECT_EQ(set, 77) << "not written for CD media";
  const auto sent = drive_->log().back();
  ASSERT_EQ(sent.cdb[0], 0xBB);
  EXPECT_EQ(be::get16(sent.cdb, 2), 0xFFFFu);
  EXPECT_EQ(be::get16(sent.cdb, 4), 16u * 177);
}

TEST_F(MmcUtils, WriteContinueDrivesAreKnownByTheirInquiryIdentity) {
  struct Case {
    const char* vendor;
    const char* product;
    bool expected;
  };
  const Case cases[] = {
      {"SONY", "CD-RW  CRX140E", true},  {"SONY", "CD-RW  CRX10U 2", true}, {"SONY", "CD-RW  CRX175A1", true},
      {"SONY", "CD-RW CRX140E", false},  {"SONI", "CD-RW  CRX140E", false}, {"SONY", "DVD RW DRU-800A", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    auto config = *DriveConfig::preset("cd-writer");
    config.name = "id" + std::to_string(n++);
    config.vendor = c.vendor;
    config.product = c.product;
    EmulatedBus::instance().plug(config);
  }
  env_.start();
  DC_Device* list = nullptr;
  const std::uint16_t count = DC_GetConnectedDeviceList(&list);
  ASSERT_EQ(count, std::size(cases));
  for (std::uint16_t i = 0; i < count; ++i) {
    const auto& c = *std::find_if(std::begin(cases), std::end(cases), [&](const Case& k) {
      return std::string(k.product).substr(0, 16) == list[i].model && std::string(k.vendor) == list[i].vendor;
    });
    EXPECT_EQ(MMC_isSONYWriteContinueDrive(list[i].ref), c.expected) << c.product;
  }
  std::free(list);
  EXPECT_FALSE(MMC_isSONYWriteContinueDrive(0));
  EXPECT_FALSE(MMC_isSONYWriteContinueDrive(0xFFFFFFFE));
}
