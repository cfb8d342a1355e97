// SPDX-License-Identifier: GPL-2.0-or-later
// The drive's own speed record over emulated drives of several speeds, with and without an
// erasable disc, and the references it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "device_environment.h"
#include "quillion/GDT.h"

using namespace quillion;
using namespace quillion::emu;

namespace {

// A writer whose capabilities page reports `writeKBps` as its maximum write speed.
std::shared_ptr<EmulatedDrive> plugWriter(std::uint32_t writeKBps, bool rewritable) {
  auto config = *DriveConfig::preset("cd-writer");
  config.name = config.product = "speedy";
  config.speeds = {{359'846, writeKBps, writeKBps}};
  if (!rewritable) config.writable = {0x09};
  return EmulatedBus::instance().plug(config);
}

}  // namespace

TEST(DriveSpeedRecord, MasksFollowTheReportedSpeedAndTheDiscInTheDrive) {
  struct Case {
    const char* name;
    std::uint32_t writeKBps;
    bool rewritable;
    std::uint16_t discProfile;  // 0: no disc
    std::uint32_t cdr, rw;
    std::uint8_t highSpeed;
  };
  const Case cases[] = {
      {"40x, no disc", 40 * 176, true, 0, 0x111154, 0x74, 1},
      {"40x, CD-RW in", 40 * 176, true, 0x0A, 0x5111154, 0x111514, 1},
      {"40x, CD-R in", 40 * 176, true, 0x09, 0x111154, 0x74, 1},
      {"8x, no disc", 8 * 176, true, 0, 0x16, 0x6, 0},
      {"8x, CD-RW in: fast for that disc", 8 * 176, true, 0x0A, 0x56, 0x16, 1},
      {"1x writes RW: the capability bit", 176, true, 0, 0x1, 0x1, 0},
      {"24x CD-R only", 24 * 176, false, 0, 0x1554, 0, 1},
      {"62x is no row of the table", 62 * 176, true, 0, 0x56, 0x16, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceEnvironment env;
    auto drive = plugWriter(c.writeKBps, c.rewritable);
    if (c.discProfile) drive->load(env.blankDisc("speedy", c.discProfile, 359'847));
    env.start();
    const std::uint32_t ref = DeviceEnvironment::refOf("speedy");
    ASSERT_NE(ref, 0u);
    GDT_DriveSpeedRecord record;
    std::memset(&record, 0xEE, sizeof record);
    ASSERT_EQ(GDT_GetDriveInfoByDDS(ref, &record), kNoErr);
    EXPECT_EQ(record.cdrSpeedMask, c.cdr);
    EXPECT_EQ(record.rwSpeedMask, c.rw);
    EXPECT_EQ(record.highSpeed, c.highSpeed);
    for (std::uint32_t word : record.reserved) EXPECT_EQ(word, 0u);
  }
}

TEST(DriveSpeedRecord, ReservedReferencesAndAMissingRecordAreRefused) {
  DeviceEnvironment env;
  env.plug("writer", "cd-writer");
  env.start();
  GDT_DriveSpeedRecord record{};
  for (std::uint32_t ref : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu})
    EXPECT_EQ(GDT_GetDriveInfoByDDS(ref, &record), kErrBadArgument) << ref;
  EXPECT_EQ(GDT_GetDriveInfoByDDS(DeviceEnvironment::refOf("writer"), nullptr), kErrBadArgument);
}

TEST(DriveSpeedRecord, ADriveThatIsGoneLeavesAnEmptyRecord) {
  DeviceEnvironment env;
  env.start();
  GDT_DriveSpeedRecord record;
  std::memset(&record, 0xEE, sizeof record);
  EXPECT_EQ(GDT_GetDriveInfoByDDS(12345, &record), kNoErr);
  EXPECT_EQ(record.cdrSpeedMask, 0u);
  EXPECT_EQ(record.rwSpeedMask, 0u);
  EXPECT_EQ(record.highSpeed, 0);
}
