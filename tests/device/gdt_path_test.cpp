// SPDX-License-Identifier: GPL-2.0-or-later
// Whether a file comes from a CD: files followed through a sysfs tree and a udev database
// made in the test (the file's own device number leads to a device of the test's choosing),
// whole disks and partitions, CD and DVD media; the cdda:// pseudo-paths; and the drive that
// holds the medium, found among emulated drives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

#include "device/path_on_cd.h"
#include "device_environment.h"
#include "quillion/GDT.h"

using namespace quillion;
using namespace quillion::emu;

namespace path_test {

class PathOnCd : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = temp_.file("track.aiff");
    test::writeFile(file_, "FORM");
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    number_ = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    roots_.sysDevBlock = temp_.file("sys/dev/block");
    roots_.udevData = temp_.file("run/udev/data");
    std::filesystem::create_directories(roots_.sysDevBlock);
    std::filesystem::create_directories(roots_.udevData);
  }

  // The file's device becomes `name` (a whole disk, or a partition `name`p1 of it) holding a
  // medium udev describes with `record`.
  void deviceIs(const std::string& name, bool partition, const std::string& record) {
    const auto disk = temp_.file("sys/devices/virtual/block") / name;
    std::filesystem::create_directories(disk);
    auto target = disk;
    std::string recordNumber = number_;
    if (partition) {
      target = disk / (name + "p1");
      std::filesystem::create_directories(target);
      test::writeFile(target / "partition", "1\n");
      recordNumber = "11:0";
      test::writeFile(disk / "dev", recordNumber + "\n");
    }
    std::filesystem::create_directory_symlink(target, roots_.sysDevBlock / number_);
    if (!record.empty()) test::writeFile(roots_.udevData / ("b" + recordNumber), record);
  }

  test::TempDir temp_;
  std::filesystem::path file_;
  std::string number_;
  DeviceDatabaseRoots roots_;
};

constexpr const char* kCdRecord =
    "S:cdrom\nE:ID_CDROM=1\nE:ID_CDROM_DVD=1\nE:ID_CDROM_MEDIA=1\nE:ID_CDROM_MEDIA_CD=1\n";
constexpr const char* kDvdRecord =
    "S:cdrom\nE:ID_CDROM=1\nE:ID_CDROM_DVD=1\nE:ID_CDROM_MEDIA=1\nE:ID_CDROM_MEDIA_DVD=1\n";

}  // namespace path_test

using namespace path_test;

TEST_F(PathOnCd, FilesAreOnACdWhenUdevSaysTheirDeviceHoldsOne) {
  struct Case {
    const char* what;
    bool partition;
    const char* record;
    bool onCd;
  };
  const Case cases[] = {
      {"CD in the drive", false, kCdRecord, true},
      {"a partition of a CD", true, kCdRecord, true},
      {"DVD in the drive", false, kDvdRecord, false},
      {"no record of the device", false, "", false},
      {"a written CD-R", false, "E:ID_CDROM=1\nE:ID_CDROM_MEDIA=1\nE:ID_CDROM_MEDIA_CD_R=1\n",
       true},
      {"a BD", false, "E:ID_CDROM=1\nE:ID_CDROM_MEDIA=1\nE:ID_CDROM_MEDIA_BD_RE=1\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(temp_.file("sys"));
    std::filesystem::remove_all(temp_.file("run"));
    SetUp();
    deviceIs("sr3", c.partition, c.record);
    std::uint32_t ref = 77;
    EXPECT_EQ(pathIsOnCd(file_.c_str(), &ref, roots_), c.onCd);
    EXPECT_EQ(ref, 0u) << "no connected drive holds sr3";
    const auto medium = mediumOfPath(file_, roots_);
    ASSERT_TRUE(medium);
    EXPECT_EQ(medium->device, "sr3");
  }
}

TEST_F(PathOnCd, FilesNoDeviceLeadsToAreNotOnACd) {
  std::uint32_t ref = 77;
  EXPECT_FALSE(pathIsOnCd(file_.c_str(), &ref, roots_)) << "sysfs knows no such device";
  EXPECT_EQ(ref, 0u);
  EXPECT_FALSE(pathIsOnCd(temp_.file("missing").c_str(), &ref, roots_));
  EXPECT_FALSE(pathIsOnCd(nullptr, &ref, roots_));
  EXPECT_FALSE(pathIsOnCd("", nullptr, roots_));
  // The system's own database: a temporary file lies on no CD.
  EXPECT_FALSE(GDT_IsPathFromCDROM(file_.c_str(), &ref));
}

TEST_F(PathOnCd, TheDriveHoldingTheMediumIsFound) {
  DeviceEnvironment env;
  auto drive = env.plug("holder", "reader");
  drive->load(env.blankDisc("holder", 0x09, 359'847));
  env.start();
  const std::uint32_t holder = DeviceEnvironment::refOf("holder");
  char node[256] = {};
  ASSERT_EQ(GDT_GetBSDPath(holder, node, sizeof node, true), kNoErr);
  // The kernel's name of the device: the last part of its node.
  const std::string name = std::filesystem::path(node).filename().string();
  ASSERT_FALSE(name.empty()) << node;

  deviceIs(name, false, kCdRecord);
  std::uint32_t ref = 0;
  EXPECT_TRUE(pathIsOnCd(file_.c_str(), &ref, roots_));
  EXPECT_EQ(ref, holder);

  ref = 0;
  EXPECT_TRUE(GDT_IsPathFromCDROM(("cdda://" + name + "/3").c_str(), &ref));
  EXPECT_EQ(ref, holder);
  ref = 0;
  EXPECT_TRUE(GDT_IsPathFromCDROM(("cdda:///dev/" + name + "/12").c_str(), &ref));
  EXPECT_EQ(ref, holder);
}

TEST(CddaPaths, PseudoPathsNameOneDeviceAndATrackOfACd) {
  struct Case {
    const char* path;
    bool onCd;
  };
  const Case cases[] = {
      {"cdda://sr0/3", true},  {"cdda:///dev/sr0/99", true}, {"cdda://sr0/01", true},
      {"cdda://sr0/0", false}, {"cdda://sr0/100", false},    {"cdda://sr0/", false},
      {"cdda://sr0", false},   {"cdda:///3", false},         {"cdda://a/b/3", false},
      {"cdda://sr0/x", false}, {"cdda://sr0/-1", false},     {"cdda:/sr0/3", false},
  };
  for (const Case& c : cases) {
    std::uint32_t ref = 55;
    EXPECT_EQ(GDT_IsPathFromCDROM(c.path, &ref), c.onCd) << c.path;
    EXPECT_EQ(ref, 0u) << c.path << ": no connected drive";
  }
}
