// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux layer's own decisions, without a drive: how an SG_IO answer and an open() error
// become statuses, the interface text from udev, the mount table and udisks object paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "device/sense.h"
#include "platform/device/linux_drive.h"
#include "platform/device/mount_table.h"
#include "platform/device/sg_io_transport.h"
#include "platform/device/udev_source.h"
#include "platform/device/udisks.h"
#include "tests/support/test_support.h"

using namespace quillion;
namespace fs = std::filesystem;

TEST(SgIo, AnswersBecomeStatuses) {
  const std::uint8_t sense[] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0};
  struct Case {
    const char* name;
    int rc, error;
    std::uint8_t status;
    std::uint16_t host, driver;
    std::uint8_t senseLength;
    EngineStatus expected;
  };
  const Case cases[] = {
      {"good", 0, 0, 0x00, 0, 0, 0, kNoErr},
      {"check condition", 0, 0, 0x02, 0, kDriverSense, sizeof sense, kErrCheckCondition},
      {"sense flagged by the driver only", 0, 0, 0x00, 0, kDriverSense, sizeof sense, kErrCheckCondition},
      {"ioctl failed (device gone)", -1, ENODEV, 0x00, 0, 0, 0, kErrTransport},
      {"host adapter timed out", 0, 0, 0x00, kHostTimeOut, 0, 0, kErrTransport},
      {"device disconnected", 0, 0, 0x00, kHostNoConnect, 0, 0, kErrTransport},
      {"driver timeout", 0, 0, 0x00, 0, kDriverTimeout, 0, kErrTransport},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScsiResult r = interpretSgIo(c.rc, c.error, c.status, c.host, c.driver, 0, sense, c.senseLength);
    MMC_SenseData parsed{};
    EXPECT_EQ(commandStatus(r, &parsed), c.expected);
    if (c.expected == kErrCheckCondition) {
      EXPECT_EQ(parsed.code, 0x24);
    }
  }
}

TEST(SgIo, ANodeThatIsNoScsiDeviceFailsAsTransport) {
  auto transport = SgIoTransport(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const std::uint8_t tur[6] = {};
  ScsiRequest request;
  request.cdb = tur;
  request.timeout = std::chrono::seconds(1);
  const ScsiResult r = transport.execute(request);
  EXPECT_FALSE(r.delivered);
  EXPECT_NE(r.sysError, 0);
  EXPECT_EQ(commandStatus(r, nullptr), kErrTransport);
}

TEST(LinuxDrive, OpenErrorsMapToStatuses) {
  EXPECT_EQ(openFailure(EBUSY).status, kErrExclusiveAccess);
  EXPECT_FALSE(openFailure(EBUSY).retryable) << "held elsewhere: no 15 s of retries";
  EXPECT_EQ(openFailure(ENOENT).status, kErrNoDrive);
  EXPECT_EQ(openFailure(ENXIO).status, kErrNoDrive);
  EXPECT_TRUE(openFailure(EAGAIN).retryable);
  EXPECT_EQ(openFailure(EACCES).status, kErrTransport);

  DriveIdentity id;
  id.devNode = "/dev/quillion-no-such-drive";
  LinuxDrive drive(id);
  EXPECT_EQ(drive.open(AccessMode::Shared).status, kErrNoDrive);
  std::uint64_t bytes = 1;
  EXPECT_EQ(drive.mediumBytes(bytes), kErrNoDrive);
}

TEST(Udev, InterfaceTexts) {
  EXPECT_EQ(interfaceTextFor("usb", false, 480), "USB2");
  EXPECT_EQ(interfaceTextFor("usb", false, 12), "USB");
  EXPECT_EQ(interfaceTextFor("usb", false, 5000), "USB");
  EXPECT_EQ(interfaceTextFor("ata", true, 0), "SATA");
  EXPECT_EQ(interfaceTextFor("ata", false, 0), "ATAPI");
  EXPECT_EQ(interfaceTextFor("scsi", false, 0), "SCSI");
  EXPECT_EQ(interfaceTextFor("ieee1394", false, 0), "FireWire");
  EXPECT_EQ(interfaceTextFor("", false, 0), "Unknown");
}

TEST(MountTable, ParsesMountinfoWithEscapes) {
  const auto table = parseMountInfo(
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 11:0 / /media/user/MY\\040DISC ro,nosuid shared:9 master:2 - iso9660 /dev/sr0 ro\n"
      "41 22 11:1 / /media/user/second ro - udf /dev/sr0p1 ro\n"
      "garbage line\n");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1].source, "/dev/sr0");
  EXPECT_EQ(table[1].target, "/media/user/MY DISC");
  const auto mine = mountsOf(table, "sr0", {"sr0p1"});
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[1].target, "/media/user/second");
  EXPECT_TRUE(mountsOf(table, "sr1").empty());
}

TEST(MountTable, WholeDiskAndPartitionsFromSysfs) {
  const quillion::test::TempDir tmp;
  const fs::path& root = tmp.path();
  fs::create_directories(root / "devices" / "sr0" / "sr0p1");
  std::ofstream(root / "devices" / "sr0" / "sr0p1" / "partition") << "1\n";
  fs::create_directories(root / "class");
  fs::create_directory_symlink(root / "devices" / "sr0", root / "class" / "sr0");
  fs::create_directory_symlink(root / "devices" / "sr0" / "sr0p1", root / "class" / "sr0p1");
  EXPECT_EQ(wholeDiskInSysfs("sr0", root / "class"), "sr0");
  EXPECT_EQ(wholeDiskInSysfs("sr0p1", root / "class"), "sr0");
  EXPECT_EQ(wholeDiskInSysfs("sr9", root / "class"), "");
  EXPECT_EQ(wholeDiskInSysfs("../devices", root / "class"), "");
  EXPECT_EQ(partitionsInSysfs("sr0", root / "class"), std::vector<std::string>{"sr0p1"});
}

TEST(UDisks, ObjectPathsEscapeWhatDBusForbids) {
  EXPECT_EQ(udisksObjectPath("sr0"), "/org/freedesktop/UDisks2/block_devices/sr0");
  EXPECT_EQ(udisksObjectPath("dm-1"), "/org/freedesktop/UDisks2/block_devices/dm_2d1");
}
