// SPDX-License-Identifier: GPL-2.0-or-later
// Every MMC builder's command block, compared byte for byte with the layouts of MMC-5 and
// SPC-3, as the drive receives it (cut to the opcode group's length).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "device_environment.h"
#include "quillion/MMC.h"

using namespace quillion;
using namespace quillion::emu;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct BuilderCase {
  const char* name;
  std::function<EngineStatus(std::uint32_t ref, std::uint8_t* buffer)> call;
  Bytes expected;  // what reaches the drive
  std::uint32_t timeoutMs;
  std::size_t transferBytes;
};

class Builders : public ::testing::Test {
protected:
  void SetUp() override {
    drive_ = env_.plug("writer");
    drive_->load(env_.blankDisc("writer", 0x1A, 100000));
    env_.start();
    ref_ = DeviceEnvironment::refOf("writer");
    ASSERT_NE(ref_, 0u);
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

const std::vector<BuilderCase>& cases() {
  static const std::vector<BuilderCase> all = {
      {"TestUnitReady", [](auto r, auto*) { return MMC_TestUnitReady(r, nullptr); }, {0x00, 0, 0, 0, 0, 0}, 30000, 0},
      {"FormatUnit", [](auto r, auto* b) { return MMC_FormatUnit(r, b, 12, nullptr); },
       {0x04, 0x11, 0, 0, 0, 0}, 100000, 12},
      {"Inquiry", [](auto r, auto* b) { return MMC_Inquiry(r, b, 96, nullptr); }, {0x12, 0, 0, 0, 96, 0}, 30000, 96},
      {"InquiryCappedAt255", [](auto r, auto* b) { return MMC_Inquiry(r, b, 300, nullptr); },
       {0x12, 0, 0, 0, 255, 0}, 30000, 255},
      {"Load", [](auto r, auto*) { return MMC_Load(r, true, nullptr); }, {0x1B, 1, 0, 0, 3, 0}, 30000, 0},
      {"StartUnit", [](auto r, auto*) { return MMC_StartUnit(r, false, nullptr); }, {0x1B, 0, 0, 0, 1, 0}, 30000, 0},
      {"Eject", [](auto r, auto*) { return MMC_Eject(r, true, nullptr); }, {0x1B, 1, 0, 0, 2, 0}, 15000, 0},
      {"LockDrive", [](auto r, auto*) { return MMC_LockDrive(r, true, nullptr); }, {0x1E, 0, 0, 0, 1, 0}, 30000, 0},
      {"ReadFormatCapacities", [](auto r, auto* b) { return MMC_ReadFormatCapacities(r, b, 252, nullptr); },
       {0x23, 0, 0, 0, 0, 0, 0, 0, 252, 0}, 30000, 252},
      {"WriteSectors", [](auto r, auto* b) { return MMC_WriteSectors(r, 0x12345678, b, 2048, 32, nullptr); },
       {0x2A, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 32, 0}, 600000, 65536},
      {"SynchronizeCache", [](auto r, auto*) { return MMC_SynchronizeCache(r, nullptr); },
       {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
      {"GetConfiguration", [](auto r, auto* b) { return MMC_GetConfiguration(r, 2, 0x002F, b, 1024, nullptr); },
       {0x46, 2, 0x00, 0x2F, 0, 0, 0, 0x04, 0x00, 0}, 30000, 1024},
      {"GetTocLba", [](auto r, auto* b) { return MMC_GetTOC(r, b, 804, 0, 1, false, nullptr); },
       {0x43, 0, 0, 0, 0, 0, 1, 0x03, 0x24, 0}, 30000, 804},
      // Formats 1 and 2 also sit in byte 9's top bits, where ATAPI-era drives read them.
      {"GetTocFullMsf", [](auto r, auto* b) { return MMC_GetTOC(r, b, 1024, 2, 1, true, nullptr); },
       {0x43, 2, 2, 0, 0, 0, 1, 0x04, 0x00, 0x80}, 30000, 1024},
      {"GetTocCdText", [](auto r, auto* b) { return MMC_GetTOC(r, b, 36724, 5, 0, false, nullptr); },
       {0x43, 0, 5, 0, 0, 0, 0, 0x8F, 0x74, 0}, 30000, 36724},
      {"GetDiscInfo", [](auto r, auto* b) { return MMC_GetDiscInfo(r, b, 34, nullptr); },
       {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 10000, 34},
      {"GetTrackInfo", [](auto r, auto* b) { return MMC_GetTrackInfo(r, 0xFF, b, 28, nullptr); },
       {0x52, 1, 0, 0, 0, 0xFF, 0, 0, 28, 0}, 30000, 28},
      {"ReserveTrack", [](auto r, auto*) { return MMC_ReserveTrack(r, 0x01020304, nullptr); },
       {0x53, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0}, 300000, 0},
      {"ModeSelect10", [](auto r, auto* b) { return MMC_ModeSelect10(r, 60, b, nullptr); },
       {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 30000, 60},
      {"ModeSense10", [](auto r, auto* b) { return MMC_ModeSense10(r, 0x2A, 2, 64, b, nullptr); },
       {0x5A, 0, 0xAA, 0, 0, 0, 0, 0, 64, 0}, 30000, 64},
      {"CloseSessionTrack", [](auto r, auto*) { return MMC_CloseSessionTrack(r, 2, 3, true, nullptr); },
       {0x5B, 1, 2, 0, 0, 3, 0, 0, 0, 0}, 0, 0},
      {"GetBufferCaps", [](auto r, auto* b) { return MMC_GetBufferCaps(r, b, 12, nullptr); },
       {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 30000, 12},
      {"SendCueSheet", [](auto r, auto* b) { return MMC_SendCueSheet(r, b, 0x010203, nullptr); },
       {0x5D, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0}, 30000, 0x010203},
      {"Blank", [](auto r, auto*) { return MMC_Blank(r, 0x11, nullptr); },
       {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 30000, 0},
      {"GetPerformance", [](auto r, auto* b) { return MMC_GetPerformance(r, b, 328, 0x10, 0x11223344, 20, 3, nullptr); },
       {0xAC, 0x10, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 20, 3, 0}, 30000, 328},
      {"ReadDVDStructure",
       [](auto r, auto* b) { return MMC_ReadDVDStructure(r, b, 2052, 0xA0B0C0D0, 1, 0x11, 0x40, 0x05, nullptr); },
       {0xAD, 0, 0xA0, 0xB0, 0xC0, 0xD0, 1, 0x11, 0x08, 0x04, 0x40, 0x05}, 30000, 2052},
      {"SetReadWriteSpeed_DVD",
       [](auto r, auto*) { return MMC_SetReadWriteSpeed_DVD(r, 0x10, 0, 2000000, 11080, 5540, nullptr); },
       {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 30000, 28},
      {"SetReadWriteSpeed", [](auto r, auto*) { return MMC_SetReadWriteSpeed(r, 0xFFFF, 1385, nullptr); },
       {0xBB, 0, 0xFF, 0xFF, 0x05, 0x69, 0, 0, 0, 0, 0, 0}, 30000, 0},
      {"ReadCD", [](auto r, auto* b) { return MMC_ReadCD(r, 0x04, 0xF8, 0x00010203, 0x000102, b, 2352, nullptr); },
       {0xBE, 0x04, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x02, 0xF8, 0, 0}, 30000, 2352},
      {"SendDVDStructure", [](auto r, auto* b) { return MMC_SendDVDStructure(r, b, 20, 0x0F, 0x80, nullptr); },
       {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 20, 0x80, 0}, 30000, 20},
      {"WriteContinue", [](auto r, auto* b) { return MMC_WriteContinue(r, 77, b, 2352, 27, nullptr); },
       {0xE1, 0, 0, 0, 0, 0, 0x00, 0x00, 0xF8, 0x10, 0, 0}, 30000, 63504},
  };
  return all;
}

}  // namespace

TEST_F(Builders, SendTheStandardsCommandBytes) {
  std::vector<std::uint8_t> buffer(0x020000, 0);
  for (const auto& c : cases()) {
    SCOPED_TRACE(c.name);
    drive_->clearLog();
    (void)c.call(ref_, buffer.data());
    const auto log = drive_->log();
    ASSERT_FALSE(log.empty());
    const auto& sent = log.back();
    EXPECT_EQ(sent.cdb, c.expected);
    EXPECT_EQ(sent.timeout.count(), c.timeoutMs ? c.timeoutMs : std::chrono::milliseconds(std::chrono::hours(4)).count());
    EXPECT_EQ(sent.transferBytes, c.transferBytes);
  }
}

TEST_F(Builders, StreamingDescriptorCarriesSpeedsAndFixedTimes) {
  ASSERT_EQ(MMC_SetReadWriteSpeed_DVD(ref_, 0x18, 5, 2000000, 11080, 5540, nullptr), kNoErr);
  const auto sent = drive_->log().back();
  const Bytes expected = {0x18, 0, 0, 0, 0, 0, 0, 5, 0, 0x1E, 0x84, 0x80, 0, 0, 0x2B, 0x48,
                          0, 0, 0x03, 0xE8, 0, 0, 0x15, 0xA4, 0, 0, 0x03, 0xE8};
  EXPECT_EQ(sent.dataOut, expected);
}

TEST_F(Builders, CourtesyCommandsGoFirstAndNeverDecideTheResult) {
  // TEST UNIT READY before READ FORMAT CAPACITIES fails, the command itself succeeds.
  drive_->addFault({.opcode = 0x00, .action = FaultAction::CheckCondition, .key = 2, .asc = 4, .ascq = 1});
  drive_->clearLog();
  std::array<std::uint8_t, 12> reply{};
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_ReadFormatCapacities(ref_, reply.data(), reply.size(), &sense), kNoErr);
  EXPECT_EQ(sense.key, 0);
  const auto log = drive_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].cdb[0], 0x00);
  EXPECT_EQ(log[1].cdb[0], 0x23);
}

TEST_F(Builders, OversizedWritesAreRefusedBeforeAnythingIsSent) {
  drive_->clearLog();
  MMC_SenseData sense{1, 2, 3};
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, nullptr, 2048, 0x10000, &sense), kErrBadArgument);
  EXPECT_EQ(MMC_WriteContinue(ref_, 0, nullptr, 0x10000, 0x10000, &sense), kErrBadArgument);
  EXPECT_TRUE(drive_->log().empty());
  EXPECT_EQ(MMC_SendOPC(ref_, &sense), kNoErr);
  EXPECT_TRUE(drive_->log().empty());
}
