// SPDX-License-Identifier: GPL-2.0-or-later
// The device list model over emulated drives: the pseudo-drives, completion from the drive
// database or from the drive itself, drives coming and going, disc changes and their
// notifications, range checks, and the common speed of several drives.
#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <deque>
#include <thread>

#include "device_environment.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "shell/device_list_manager.h"
#include "shell/drive_database.h"
#include "shell/notification_names.h"
#include "support/gui_test_env.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::GuiTest;

namespace {

constexpr std::uint32_t kImage = DeviceListManager::kImageRef;
constexpr std::uint32_t kIso = DeviceListManager::kIsoImageRef;

// Delayed calls wait in a queue until the test runs them: the one-second wait by construction.
struct ManualDelay {
  std::deque<std::function<void()>> pending;
  DeviceListManager::Delay delay() {
    return [this](QObject*, std::function<void()> fn) { pending.push_back(std::move(fn)); };
  }
  void runAll() {
    while (!pending.empty()) {
      auto fn = std::move(pending.front());
      pending.pop_front();
      fn();
    }
  }
};

DeviceListManager::Delay atOnce() {
  return [](QObject*, std::function<void()> fn) { fn(); };
}

// Counts one notification's posts while alive.
struct PostCounter {
  QObject owner;
  int count = 0;
  explicit PostCounter(const char* name) {
    NotificationCenter::instance().observe(&owner, QString::fromLatin1(name),
                                           NotificationCenter::AnySender,
                                           [this](const Notification&) { ++count; });
  }
};

std::shared_ptr<EmulatedDrive> plugDrive(const std::string& model, const std::string& preset) {
  auto config = *DriveConfig::preset(preset);
  config.name = model;
  config.product = model;
  return EmulatedBus::instance().plug(config);
}

// A database that knows the model "KNOWN WRITER" of QUILLION as a 24x CD writer without DVD.
QString writeDatabase() {
  DriveDatabase db;
  db.version = 3;
  DriveRecord known;
  known.vendor = "QUILLION";
  known.model = "KNOWN WRITER";
  known.cap.dwCDRSpeedFlag = 0x1554;  // 4, 8, 12, 16, 20, 24
  known.cap.dwRWSpeedFlag = 0x16;
  known.cap.bBurnProof = 1;
  known.cap.wOverburn = 0;
  known.cap.bSAO = 1;
  DriveRecord other = known;
  other.vendor = "ELSEWHERE";
  other.model = "OTHER";
  db.records = {known, other};
  const QString path = quillion::test::makeTempDir("bdb") + "/Vede32.bdb";
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(encodeDriveDatabase(db)) < 0) return {};
  return path;
}

class DeviceList : public GuiTest {
 protected:
  DeviceEnvironment env_;
};

}  // namespace

TEST_F(DeviceList, WithoutDrivesOnlyTheThreePseudoDrives) {
  env_.start();
  DeviceListManager list(QString(), atOnce());
  ASSERT_EQ(list.numberOfAllDrives(), 3);
  EXPECT_EQ(list.numberOfSupportedDrives(), 2);
  EXPECT_EQ(list.indexOfCDImageReader(), 0);
  EXPECT_EQ(list.indexOfCDImageWriter(), 1);
  EXPECT_EQ(list.indexOfISOImageWriter(), 2);
  EXPECT_EQ(list.getIndexOfDeviceByRef(kImage), 0) << "the reader comes first";
  EXPECT_EQ(list.getIndexOfDeviceByRef(kIso), 2);
  EXPECT_EQ(list.getWriterRefByIndex(0), kImage);
  EXPECT_EQ(list.getWriterRefByIndex(1), kIso);
  EXPECT_EQ(list.getWriterRefByIndex(2), 0u);
  EXPECT_FALSE(list.isSupportedDrive(0));
  EXPECT_TRUE(list.isCDImageWriter(1));
  EXPECT_FALSE(list.driveSupportBD(1));
  EXPECT_EQ(list.vendorOfDriveByIndex(1), "");
  EXPECT_TRUE(list.items()[1].copyToHD);
  // Indexes and references outside the list answer nothing and change nothing.
  EXPECT_EQ(list.titleOfDriveByIndex(3, false), "");
  EXPECT_EQ(list.getDeviceRefByIndex(-1), 0u);
  EXPECT_EQ(list.getIndexOfDeviceByRef(77), -1);
  list.updateStatus(77, kDriveBurning);
  list.updateSelectedDrive(77, true);
  EXPECT_FALSE(list.OEM_anyDrivesInUse()) << "an unknown reference addressed no drive";
  EXPECT_EQ(list.numberOfDrivesSelected(), 0);
}

TEST_F(DeviceList, DrivesAreCompletedFromTheDatabaseOrByThemselves) {
  plugDrive("KNOWN WRITER", "cd-writer");
  plugDrive("NEW WRITER", "dvd-writer");
  plugDrive("BLU WRITER", "bd-writer");
  plugDrive("JUST READS", "reader");
  env_.start();
  const QString database = writeDatabase();
  ASSERT_FALSE(database.isEmpty());
  DeviceListManager list(database, atOnce());
  ASSERT_EQ(list.numberOfAllDrives(), 7);
  const int known = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("KNOWN WRITER"));
  const int fresh = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("NEW WRITER"));
  const int blu = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("BLU WRITER"));
  const int reader = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("JUST READS"));
  ASSERT_GE(known, 0);
  ASSERT_GE(fresh, 0);

  EXPECT_TRUE(list.driveInDatabase(known));
  EXPECT_FALSE(list.driveUsesDDS(known));
  EXPECT_EQ(list.driveCDRSpeedString(known), "4, 8, 12, 16, 20, 24");
  EXPECT_EQ(list.driveDVDRSpeedString(known), "N/A");
  EXPECT_FALSE(list.driveSupportOverburn(known));
  EXPECT_EQ(list.driveDDSSupportString(known), Msg::gui("Off String"));

  // 11080 KB/s is 62x, no row of the drive speed table: the table's catch-all masks.
  EXPECT_FALSE(list.driveInDatabase(fresh));
  EXPECT_TRUE(list.driveUsesDDS(fresh));
  EXPECT_EQ(list.driveCDRSpeed(fresh), 0x56u);
  EXPECT_EQ(list.driveCDRSpeedString(fresh), "2, 4, 8, 12");
  EXPECT_EQ(list.driveCDRWSpeed(fresh), 0x16u);
  EXPECT_EQ(list.driveDVDRSpeedString(fresh), "1, 2, 4") << "a DVD writer gets mask 7";
  EXPECT_TRUE(list.driveSupportBurnProof(fresh));
  EXPECT_EQ(list.driveDDSSupportString(fresh), Msg::gui("On String"));
  EXPECT_FALSE(list.driveSupportBD(fresh));
  EXPECT_TRUE(list.driveSupportBD(blu));

  // A reader writes nothing: no speeds asked, the default capabilities stay.
  EXPECT_FALSE(list.isSupportedDrive(reader) && list.driveUsesDDS(reader));

  EXPECT_EQ(list.titleOfDriveByIndex(known, false),
            QStringLiteral("%1. QUILLION KNOWN WRITER").arg(known + 1));
  EXPECT_EQ(list.titleOfDriveByIndex(known, true),
            QStringLiteral("%1. QUILLION KNOWN WRITER @ atapi").arg(known + 1));
  EXPECT_EQ(list.driveCacheSize(known), "2 MB") << "2048 KB / 1000";
  EXPECT_EQ(list.driveFirmware(known), "1.00");
}

TEST_F(DeviceList, DrivesComingAndGoingKeepTheOthersState) {
  plugDrive("FIRST", "cd-writer");
  env_.start();
  DeviceListManager list(writeDatabase(), atOnce());
  list.attachToEngine();
  const std::uint32_t first = DeviceEnvironment::refOf("FIRST");
  list.updateSelectedDrive(first, true);
  list.updateCopyToHDFlag(first, false);
  list.updateStatus(first, kDriveBusy);
  PostCounter updated(VUK_DeviceListUpdated);

  plugDrive("KNOWN WRITER", "dvd-writer");
  DeviceEnvironment::pump();
  EXPECT_EQ(updated.count, 1);
  ASSERT_EQ(list.numberOfAllDrives(), 5);
  const int known = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("KNOWN WRITER"));
  ASSERT_GE(known, 0);
  EXPECT_TRUE(list.driveInDatabase(known)) << "a new drive is looked up in the database";
  EXPECT_EQ(list.driveCDRSpeed(known), 0x1554u);

  EmulatedBus::instance().unplug("KNOWN WRITER");
  DeviceEnvironment::pump();
  EXPECT_EQ(updated.count, 2);
  ASSERT_EQ(list.numberOfAllDrives(), 4);
  EXPECT_TRUE(list.isDriveSelected(first));
  EXPECT_FALSE(list.getCopyToHDFlag(first));
  EXPECT_EQ(list.statusOfDevice(first), kDriveBusy);
  EXPECT_EQ(list.indexOfCDImageWriter(), list.indexOfCDImageReader() + 1);
  list.detachFromEngine();
}

TEST_F(DeviceList, ADiscInsertedIsAnnouncedOnceAndTheSameDiscAgainNotAtAll) {
  auto drive = plugDrive("WRITER", "dvd-writer");
  env_.start();
  ManualDelay delay;
  DeviceListManager list(QString(), delay.delay());
  list.attachToEngine();
  const std::uint32_t ref = DeviceEnvironment::refOf("WRITER");
  PostCounter infoUpdated(VUK_DriveInfoUpdated);

  drive->load(env_.blankDisc("WRITER", 0x09, 359'847));
  DeviceEnvironment::pump();
  EXPECT_EQ(infoUpdated.count, 0) << "the disc is read only after the wait";
  EXPECT_EQ(list.DDI_getDiscTypeEnum(ref), kDiscNone);
  ASSERT_FALSE(delay.pending.empty());
  delay.runAll();
  EXPECT_EQ(infoUpdated.count, 1);
  EXPECT_EQ(list.DDI_getDiscTypeEnum(ref), kDiscCDBlank);
  EXPECT_EQ(list.DDI_getTrayStatus(ref), 0);
  EXPECT_EQ(list.DDI_getDiscStatus(ref), kGDT_DiscBlank);
  EXPECT_GT(list.DDI_getFreeSpace(ref), 0u);

  auto medium = drive->unload();
  ASSERT_TRUE(medium);
  drive->load(std::move(*medium));
  DeviceEnvironment::pump();
  delay.runAll();
  EXPECT_EQ(infoUpdated.count, 1) << "the same disc again: nothing changed";
  EXPECT_TRUE(list.refreshDiscStateNow(ref, true) == false) << "even when read again";
  EXPECT_EQ(infoUpdated.count, 1);

  (void)drive->unload();
  DeviceEnvironment::pump();
  delay.runAll();
  (void)list.refreshDiscStateNow(ref, true);
  EXPECT_EQ(list.DDI_getTrayStatus(ref), 1);
  EXPECT_EQ(list.DDI_getDiscTypeEnum(ref), kDiscNone);
  EXPECT_EQ(list.DDI_getFreeSpace(ref), 0u);
  EXPECT_EQ(infoUpdated.count, 2) << "the disc went away";

  // While the drive burns, nothing is read; the windows hear of it all the same.
  drive->load(env_.blankDisc("WRITER2", 0x11, 2'295'104));
  list.updateStatus(ref, kDriveBurning);
  EXPECT_FALSE(list.refreshDiscStateNow(ref, false));
  EXPECT_EQ(infoUpdated.count, 3);
  EXPECT_EQ(list.DDI_getDiscTypeEnum(ref), kDiscNone);
  list.updateStatus(ref, kDriveReady);
  EXPECT_TRUE(list.refreshDiscStateNow(ref, false));
  EXPECT_EQ(list.DDI_getDiscTypeEnum(ref), kDiscDVDBlank);
  list.detachFromEngine();
}

TEST_F(DeviceList, DisablingClearsEveryOtherFlagAndOnlyRealWritersTakeIt) {
  plugDrive("A", "cd-writer");
  plugDrive("B", "cd-writer");
  plugDrive("R", "reader");
  env_.start();
  DeviceListManager list(QString(), atOnce());
  const std::uint32_t a = DeviceEnvironment::refOf("A"), b = DeviceEnvironment::refOf("B");
  list.updateSelectedDrive(a, true);
  list.updateSelectedDrive(b, true);
  list.updateDisabledDrive(a, true);
  EXPECT_TRUE(list.isDriveDisabled(a));
  EXPECT_FALSE(list.isDriveSelected(a));
  EXPECT_EQ(list.numberOfDrivesSelected(), 1);
  EXPECT_EQ(list.initBPDeviceList(), std::vector<std::uint32_t>{b});
  list.updateDisabledDrive(b, true);
  EXPECT_FALSE(list.isDriveDisabled(a)) << "at most one drive is disabled";
  list.updateDisabledDrive(kImage, true);
  for (const DeviceItem& item : list.items()) EXPECT_FALSE(item.disabled);
  list.updateDisabledDrive(DeviceEnvironment::refOf("R"), true);
  EXPECT_FALSE(list.isDriveDisabled(DeviceEnvironment::refOf("R"))) << "a reader writes nothing";
}

TEST_F(DeviceList, CommonSpeedOfSeveralDrives) {
  struct Case {
    const char* name;
    std::vector<MediaSpeed> speeds;
    std::vector<std::uint32_t> chosen;
    std::uint32_t maximum;
  };
  const Case cases[] = {
      {"16 and 10 from 4: both 10", {{4, 16}, {4, 10}}, {10, 10}, 16},
      {"a minimum of 12 stops the descent", {{12, 16}, {4, 10}}, {12, 10}, 16},
      {"odd steps: 15, 13, 11, 9", {{1, 15}, {1, 10}}, {9, 9}, 15},
      {"one drive", {{4, 24}}, {24}, 24},
      {"none", {}, {}, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::uint32_t> chosen;
    EXPECT_EQ(commonWriteSpeed(c.speeds, chosen), c.maximum) << c.name;
    EXPECT_EQ(chosen, c.chosen) << c.name;
  }
  // Any number of drives: no fixed-size arrays.
  std::vector<MediaSpeed> many(70, MediaSpeed{2, 8});
  many[69] = {2, 6};
  std::vector<std::uint32_t> chosen;
  (void)commonWriteSpeed(many, chosen);
  EXPECT_EQ(chosen, std::vector<std::uint32_t>(70, 6));

  plugDrive("A", "cd-writer");
  plugDrive("B", "cd-writer");
  env_.start();
  DeviceListManager list(QString(), atOnce());
  const std::uint32_t a = DeviceEnvironment::refOf("A"), b = DeviceEnvironment::refOf("B");
  list.updateSelectedDrive(a, true);
  list.updateSelectedDrive(b, true);
  list.multipleDeviceSetupMaxWriteSpeed([&](std::uint32_t ref) {
    return ref == a ? MediaSpeed{4, 16} : MediaSpeed{4, 10};
  });
  EXPECT_EQ(list.getMaxWriteSpeed(), 16u);
  EXPECT_EQ(list.getMaxSpeedOfDevice(a), 10u);
  EXPECT_EQ(list.getMaxSpeedOfDevice(b), 10u);
}

TEST_F(DeviceList, SpeedMaskTextsAndDiscTypeCodes) {
  EXPECT_EQ(DeviceListManager::speedMaskString(0, 31), "N/A");
  EXPECT_EQ(DeviceListManager::speedMaskString(0x7, 31), "1, 2, 4");
  EXPECT_EQ(DeviceListManager::speedMaskString(0xF, 31), "1, 2, 4, 6");
  EXPECT_EQ(DeviceListManager::speedMaskString(0x80000000u, 31), "62");
  EXPECT_EQ(DeviceListManager::speedMaskString(0x800, 10), "N/A") << "DVD masks stop at bit 10";

  struct Case {
    const char* name;
    std::uint8_t mediumClass, discKind, discType, discState;
    std::vector<std::uint16_t> modes;
    std::uint32_t one, whole;  // code from the one-drive refresh and from the whole-list one
  };
  const Case cases[] = {
      {"data", 0, 0, 0x00, 1, {8, 8}, kDiscCDData, kDiscCDData},
      {"XA data", 0, 0, 0x20, 1, {9}, kDiscCDXA, kDiscCDXA},
      {"audio", 0, 0, 0x00, 1, {0, 0}, kDiscCDAudio, kDiscCDAudio},
      {"mixed mode", 0, 0, 0x00, 1, {8, 0}, kDiscCDMixed, kDiscCDMixed},
      {"CD Extra", 0, 0, 0x20, 2, {0, 9}, kDiscCDExtra, kDiscCDExtra},
      {"CD-I", 0, 0, 0x10, 1, {9}, kDiscCDI, kDiscCDI},
      {"type FFh", 0, 0, 0xFF, 1, {8}, kDiscCDOther, kDiscCDOther},
      {"type 42h", 0, 0, 0x42, 1, {8}, kDiscCDOther, kDiscNone},
      {"blank CD", 0, 0, 0x00, 0, {}, kDiscCDBlank, kDiscCDBlank},
      {"DVD+R DL", 1, 6, 0, 2, {8}, kDiscDVDPlusRDL, kDiscDVDPlusRDL},
      {"DVD-R DL", 1, 8, 0, 1, {8}, kDiscDVDRDL, kDiscDVDRDL},
      {"BD-RE", 1, 11, 0, 1, {8}, kDiscBDRE, kDiscBDRE},
      {"kind 0", 1, 0, 0, 1, {8}, kDiscDVDOther, kDiscDVDOther},
      {"blank BD-R", 1, 10, 0, 0, {}, kDiscDVDBlank, kDiscDVDBlank},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes(sizeof(GDT_DiscInfo) + c.modes.size() * sizeof(GDT_OneTrack));
    auto* info = reinterpret_cast<GDT_DiscInfo*>(bytes.data());
    info->mediumClass = c.mediumClass;
    info->discKind = c.discKind;
    info->discType = c.discType;
    info->discState = c.discState;
    info->trackCount = static_cast<std::uint16_t>(c.modes.size());
    for (std::size_t i = 0; i < c.modes.size(); ++i) GDT_Tracks(info)[i].mode = c.modes[i];
    EXPECT_EQ(discTypeCodeOf(*info, false), c.one) << c.name;
    EXPECT_EQ(discTypeCodeOf(*info, true), c.whole) << c.name;
  }
}

TEST_F(DeviceList, TheShippedDatabaseKnowsTheEmulatedDrives) {
  const QString shipped =
      qEnvironmentVariable("QUILLION_BINARY_DIR") + "/share/quillion/Vede32.bdb";
  QFile file(shipped);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << shipped.toStdString();
  const auto db = parseDriveDatabase(file.readAll());
  ASSERT_TRUE(db);
  EXPECT_GE(db->version, 1u);
  for (const char* preset : {"cd-writer", "dvd-writer", "bd-writer"}) {
    const auto config = DriveConfig::preset(preset);
    const bool listed =
        std::any_of(db->records.begin(), db->records.end(), [&](const DriveRecord& r) {
          return recordMatches(r, config->vendor.c_str(), config->product.c_str());
        });
    EXPECT_TRUE(listed) << preset;
  }

  // A drive of the README's run, completed from the shipped file: 40x down to 4x.
  EmulatedBus::instance().plug(*DriveConfig::preset("cd-writer"));
  env_.start();
  DeviceListManager list(shipped, atOnce());
  const int index = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("EMULATED CD-RW"));
  ASSERT_GE(index, 0);
  EXPECT_TRUE(list.driveInDatabase(index));
  EXPECT_EQ(list.driveCDRSpeedString(index), "4, 8, 16, 24, 32, 40");
  EXPECT_EQ(list.driveDVDRSpeedString(index), "N/A");
}

TEST_F(DeviceList, AWorkersStatusChangeIsMadeOnTheMainThread) {
  plugDrive("EXTRACTING", "cd-writer");
  env_.start();
  DeviceListManager list(QString(), atOnce());
  const std::uint32_t ref = DeviceEnvironment::refOf("EXTRACTING");
  PostCounter statusChanged(VUK_DeviceStatusChangedNotification);
  std::thread worker([&] { list.postStatusFromAnyThread(ref, kDriveBusy); });
  worker.join();
  EXPECT_EQ(list.statusOfDevice(ref), kDriveReady) << "nothing changed on the worker's thread";
  EXPECT_EQ(statusChanged.count, 0);
  quillion::test::processEvents();
  EXPECT_EQ(list.statusOfDevice(ref), kDriveBusy);
  EXPECT_EQ(statusChanged.count, 1);
}

TEST_F(DeviceList, DrivesFoundByTheirTextsAndEjectedTogether) {
  auto a = plugDrive("MATCH A", "cd-writer");
  auto b = plugDrive("MATCH B", "cd-writer");
  a->load(env_.blankDisc("MATCH A", 0x09, 359'847));
  b->load(env_.blankDisc("MATCH B", 0x09, 359'847));
  env_.start();
  DeviceListManager list(QString(), atOnce());
  const int indexB = list.getIndexOfDeviceByRef(DeviceEnvironment::refOf("MATCH B"));
  EXPECT_EQ(list.indexOfDriveByMatch("QUILLION", "MATCH B", "1.00", false), indexB);
  EXPECT_EQ(list.indexOfDriveByMatch("QUILLION", "MATCH B", "9.99", false), -1);
  EXPECT_EQ(list.indexOfDriveByMatch(QString(), "MATCH B", "1.00", true),
            list.indexOfCDImageReader());
  EXPECT_EQ(list.indexOfDriveByMatch("QUILLION", QString(), "1.00", false),
            list.indexOfCDImageWriter() - 1);

  list.updateSelectedDrive(DeviceEnvironment::refOf("MATCH A"), true);
  list.multipleDeviceEject();
  EXPECT_TRUE(a->trayOpen()) << "a drive taking part";
  EXPECT_FALSE(b->trayOpen()) << "a drive left out";
}
