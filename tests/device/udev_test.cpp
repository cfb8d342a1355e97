// SPDX-License-Identifier: GPL-2.0-or-later
// The udev path of device control under umockdev: a mocked USB optical drive is found with
// its INQUIRY strings and "USB2", and udev's add, change and remove events reach the
// callbacks on the device thread. Runs under umockdev-wrapper (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <poll.h>
#include <umockdev.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "quillion/DC.h"
#include "device_list.h"

namespace {

std::vector<std::string>* g_calls = nullptr;

class UdevPath : public ::testing::Test {
protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || std::string(preload).find("umockdev") == std::string::npos) GTEST_SKIP() << "not running under umockdev-wrapper";
    testbed_ = umockdev_testbed_new();
    ::unsetenv("QUILLION_EMULATED_DRIVES");
    ::unsetenv("QUILLION_SYSTEM_DRIVES");
    g_calls = &calls_;
  }
  void TearDown() override {
    DC_Term();
    g_calls = nullptr;
    if (testbed_) g_object_unref(testbed_);
  }

  // A USB 2.0 bridge with a SCSI optical drive behind it, as sysfs shows one.
  std::string addUsbDrive(const char* name) {
    gchar* usb = umockdev_testbed_add_device(testbed_, "usb", (std::string("usb-") + name).c_str(), nullptr,
                                             "speed", "480", nullptr, "DEVTYPE", "usb_device", nullptr);
    gchar* scsi = umockdev_testbed_add_device(testbed_, "scsi", (std::string("0:0:0:") + name).c_str(), usb,
                                              "vendor", "ACME    ", "model", "SUPERMULTI DVD  ", "rev", "1.02",
                                              nullptr, "DEVTYPE", "scsi_device", nullptr);
    gchar* block = umockdev_testbed_add_device(testbed_, "block", name, scsi, nullptr, "DEVNAME",
                                               (std::string("/dev/") + name).c_str(), "DEVTYPE", "disk", "ID_CDROM",
                                               "1", "ID_BUS", "usb", nullptr);
    std::string path = block;
    g_free(block);
    g_free(scsi);
    g_free(usb);
    return path;
  }

  // Waits (bounded) until device control has something to deliver, then delivers it.
  static void deliver() {
    pollfd p{quillion::deviceEventFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    ASSERT_EQ(quillion::pumpDeviceEvents(), kNoErr);
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::string> calls_;
};


}  // namespace

TEST_F(UdevPath, FindsAMockedUsbDriveWithItsIdentity) {
  addUsbDrive("sr0");
  // A disk that is not optical is not a drive.
  gchar* disk = umockdev_testbed_add_device(testbed_, "block", "sda", nullptr, nullptr, "DEVNAME", "/dev/sda",
                                            "DEVTYPE", "disk", nullptr);
  g_free(disk);
  ASSERT_EQ(DC_Init(1000), kNoErr);
  const auto list = quillion::test::connectedDevices();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_STREQ(list[0].interface, "USB2");
  EXPECT_STREQ(list[0].vendor, "ACME");
  EXPECT_STREQ(list[0].model, "SUPERMULTI DVD");
  EXPECT_STREQ(list[0].rev, "1.02");
  EXPECT_EQ(list[0].RWCapability, kDC_MMCDevice);
  // The test bed has no device node behind the drive: commands fail as for a vanished drive.
  EXPECT_EQ(list[0].cacheSizeInKB, 0u);
  EXPECT_EQ(MMC_TestUnitReady(list[0].ref, nullptr), kErrNoDrive);
}

TEST_F(UdevPath, HotPlugEventsReachTheCallbacks) {
  ASSERT_EQ(DC_Init(1000), kNoErr);
  ASSERT_EQ(DC_InstallListUpdateCallback([](void*) { g_calls->push_back("list"); }, nullptr), kNoErr);
  ASSERT_EQ(DC_InstallDiscChangedCallback(
                [](void*, std::uint32_t ref, bool) { g_calls->push_back(ref ? "disc" : "disc:0"); }, nullptr),
            kNoErr);
  EXPECT_TRUE(quillion::test::connectedDevices().empty());

  const std::string syspath = addUsbDrive("sr1");
  umockdev_testbed_uevent(testbed_, syspath.c_str(), "add");
  deliver();
  EXPECT_EQ(calls_, std::vector<std::string>{"list"});
  ASSERT_EQ(quillion::test::connectedDevices().size(), 1u);

  umockdev_testbed_uevent(testbed_, syspath.c_str(), "change");
  deliver();
  EXPECT_EQ(calls_.back(), "disc");

  umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
  deliver();
  EXPECT_EQ(calls_.back(), "list");
  EXPECT_TRUE(quillion::test::connectedDevices().empty());
}
