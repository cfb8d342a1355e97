// SPDX-License-Identifier: GPL-2.0-or-later
// Disk arbitration requests over the emulated drives' mount table: every request waits for
// its answer, and a refusal comes back as a dissent.
#include <gtest/gtest.h>

#include "device/disk_arbitration.h"
#include "device_environment.h"

using namespace quillion;
using namespace quillion::emu;

TEST(DiskArbitration, RequestsWaitForTheirAnswer) {
  DeviceEnvironment env;
  auto drive = env.plug("arb");
  drive->load(env.blankDisc("arb", 0x1A, 1000));
  const int session = CNDiskArbInit();
  EXPECT_EQ(CNDiskArbInit(), session) << "one session";

  EXPECT_EQ(CNDiskArbRequestMount_auto(nullptr), kDiskArbDissent);
  EXPECT_EQ(CNDiskArbUnmountRequest_async_auto(nullptr, 9), kDiskArbDissent);
  EXPECT_EQ(CNDiskArbRequestMount_auto("quillion-emu/none"), kDiskArbDissent);

  EXPECT_EQ(CNDiskArbRequestMount_auto("quillion-emu/arb"), kDiskArbOk);
  EXPECT_TRUE(drive->mounted());
  drive->setUnmountRefused(true);
  EXPECT_EQ(CNDiskArbUnmountRequest_async_auto("quillion-emu/arb", 9), kDiskArbDissent);
  EXPECT_EQ(CNDiskArbUnmountAndEjectRequest_async_auto("quillion-emu/arb", 8), kDiskArbDissent);
  EXPECT_TRUE(drive->mounted());
  drive->setUnmountRefused(false);
  EXPECT_EQ(CNDiskArbUnmountRequest_async_auto("quillion-emu/arb", 4 | 2), kDiskArbOk);
  EXPECT_FALSE(drive->mounted());
  EXPECT_EQ(CNDiskArbUnmountRequest_async_auto("quillion-emu/arb", 0), kDiskArbOk) << "nothing mounted";

  (void)drive->unload();
  EXPECT_EQ(CNDiskArbRequestMount_auto("quillion-emu/arb"), kDiskArbDissent) << "no medium to mount";
}
