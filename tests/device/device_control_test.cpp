// SPDX-License-Identifier: GPL-2.0-or-later
// Device control over emulated drives: the device list, hot-plug and disc-changed callbacks,
// the callback registries, references that are never reused, and the folder of drive
// definitions named by QUILLION_EMULATED_DRIVES.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "common/handle_table.h"
#include "device_environment.h"
#include "device_list.h"
#include "quillion/DC.h"

using namespace quillion;
using namespace quillion::emu;

namespace {

struct Recorder {
  std::vector<std::string> calls;
};
Recorder* g_recorder = nullptr;

void listA(void* user) { g_recorder->calls.push_back("list:" + std::to_string(reinterpret_cast<std::uintptr_t>(user))); }
void listB(void*) { g_recorder->calls.push_back("listB"); }
void disc(void*, std::uint32_t ref, bool flag) {
  g_recorder->calls.push_back("disc:" + std::to_string(ref) + (flag ? ":1" : ":0"));
}

class DeviceControl : public ::testing::Test {
protected:
  void SetUp() override { g_recorder = &recorder_; }
  void TearDown() override { g_recorder = nullptr; }

  std::vector<std::string> take() { return std::exchange(recorder_.calls, {}); }

  Recorder recorder_;
  DeviceEnvironment env_;
};


}  // namespace

TEST_F(DeviceControl, DrivesComeAndGoWithTheirDiscs) {
  env_.start();
  ASSERT_EQ(DC_InstallListUpdateCallback(listA, nullptr), kNoErr);
  ASSERT_EQ(DC_InstallDiscChangedCallback(disc, nullptr), kNoErr);
  EXPECT_TRUE(quillion::test::connectedDevices().empty());

  auto drive = env_.plug("usbwriter");
  EXPECT_TRUE(take().empty()) << "nothing is delivered before the device thread pumps";
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"list:0"});
  const auto list = quillion::test::connectedDevices();
  ASSERT_EQ(list.size(), 1u);
  const std::uint32_t ref = list[0].ref;

  drive->load(env_.blankDisc("usbwriter", 0x11, 2'295'104));
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"disc:" + std::to_string(ref) + ":0"});

  (void)drive->unload();
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"disc:" + std::to_string(ref) + ":0"});

  EmulatedBus::instance().unplug("usbwriter");
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"list:0"});
  EXPECT_TRUE(quillion::test::connectedDevices().empty());
}

TEST_F(DeviceControl, ListedRecordDescribesTheDrive) {
  auto config = *DriveConfig::preset("dvd-writer");
  config.name = "described";
  config.vendor = "VENDORNAME";  // longer than its 8-character field
  config.product = "A PRODUCT NAME THAT IS LONG";
  config.revision = "1.2345";
  config.interfaceText = "USB2";
  config.bufferKB = 4096;
  EmulatedBus::instance().plug(config);
  EmulatedBus::instance().plug(*DriveConfig::preset("reader"));
  env_.start();
  const auto list = quillion::test::connectedDevices();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_LT(list[0].ref, list[1].ref) << "the list is in reference order";
  const auto& d = list[0].cacheSizeInKB == 4096 ? list[0] : list[1];
  EXPECT_EQ(d.RWCapability, kDC_MMCDevice);
  EXPECT_STREQ(d.interface, "USB2");
  EXPECT_STREQ(d.vendor, "VENDORNA");
  EXPECT_STREQ(d.model, "A PRODUCT NAME T");
  EXPECT_STREQ(d.rev, "1.23");
  EXPECT_EQ(d.cacheSizeInKB, 4096u);
  DC_DeviceCap zero{};
  EXPECT_EQ(std::memcmp(&d.deviceCap, &zero, sizeof zero), 0) << "capabilities are the drive database's job";
  EXPECT_FALSE(isReservedHandle(d.ref));
}

TEST_F(DeviceControl, CallbacksAreKeyedByFunction) {
  ASSERT_EQ(DC_InstallListUpdateCallback(listA, reinterpret_cast<void*>(7)), kNoErr);
  ASSERT_EQ(DC_InstallListUpdateCallback(listA, reinterpret_cast<void*>(8)), kNoErr);
  ASSERT_EQ(DC_InstallListUpdateCallback(listB, nullptr), kNoErr);
  EXPECT_EQ(DC_InstallListUpdateCallback(nullptr, nullptr), kErrBadArgument);
  env_.start();
  auto calls = take();
  const std::vector<std::string> expected =
      std::less<DC_ListUpdateProc>()(listA, listB) ? std::vector<std::string>{"list:7", "listB"}
                                                   : std::vector<std::string>{"listB", "list:7"};
  EXPECT_EQ(calls, expected) << "one entry per function, first user data kept, called in key order";
  DC_RemoveListUpdateCallback(listB);
  DC_RemoveListUpdateCallback(listB);
  env_.plug("x");
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"list:7"});
}

TEST_F(DeviceControl, MediumOfNoListedDriveRefreshesAll) {
  env_.start();
  ASSERT_EQ(DC_InstallDiscChangedCallback(disc, nullptr), kNoErr);
  EmulatedBus::instance().post({DeviceEvent::Kind::MediumChanged, "emulated:not-a-drive", nullptr});
  DeviceEnvironment::pump();
  EXPECT_EQ(take(), std::vector<std::string>{"disc:0:0"});
  DC_NotifyDiscChanged(42, true);
  EXPECT_EQ(take(), std::vector<std::string>{"disc:42:1"});
}

TEST_F(DeviceControl, ReferencesAreNeverReusedAcrossRestarts) {
  env_.plug("first");
  env_.start();
  const std::uint32_t first = DeviceEnvironment::refOf("first");
  ASSERT_NE(first, 0u);
  env_.stop();
  EXPECT_TRUE(quillion::test::connectedDevices().empty());
  EXPECT_EQ(MMC_TestUnitReady(first, nullptr), kErrNoDrive);
  env_.start();
  const std::uint32_t again = DeviceEnvironment::refOf("first");
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, first);
  EXPECT_EQ(MMC_TestUnitReady(first, nullptr), kErrNoDrive);
}

TEST_F(DeviceControl, DriveDefinitionsFolderIsReadAtStart) {
  const auto iso = env_.folder() / "disc.iso";
  {
    std::vector<char> blocks(20 * 2048, 'q');
    std::ofstream(iso, std::ios::binary).write(blocks.data(), static_cast<std::streamsize>(blocks.size()));
  }
  std::ofstream(env_.folder() / "bay.drive") << "# a reader with a pressed disc\npreset = reader\nvendor = ACME\n"
                                                "product = BAY READER\ninterface = SATA\nmedium = disc.iso\n"
                                                "medium-profile = DVD-ROM\n";
  std::ofstream(env_.folder() / "notes.txt") << "not a drive\n";
  env_.start();
  const auto list = quillion::test::connectedDevices();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_STREQ(list[0].vendor, "ACME");
  EXPECT_STREQ(list[0].model, "BAY READER");
  EXPECT_STREQ(list[0].interface, "SATA");
  std::array<std::uint8_t, 8> capacity{};
  const std::uint8_t readCapacity[12] = {0x25};
  (void)MMC_TestUnitReady(list[0].ref, nullptr);  // the unit attention of the loaded disc
  ASSERT_EQ(DC_ExecuteMMCCmd_Sync(list[0].ref, readCapacity, 12, capacity.data(), 8, kDC_DataIn, 1000, nullptr),
            kNoErr);
  EXPECT_EQ(capacity[3], 19) << "last block of a 20-block disc";
}

TEST_F(DeviceControl, SystemDrivesAreFoundCleanlyWithoutAnyDrive) {
  ::unsetenv("QUILLION_SYSTEM_DRIVES");
  ::unsetenv("QUILLION_EMULATED_DRIVES");
  env_.start();
  for (const auto& d : quillion::test::connectedDevices()) {
    EXPECT_FALSE(isReservedHandle(d.ref));
    EXPECT_NE(d.RWCapability, 0);
  }
  EXPECT_EQ(pumpDeviceEvents(), kNoErr);
}
