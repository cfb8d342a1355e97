// SPDX-License-Identifier: GPL-2.0-or-later
// The shell's services: size texts, open-panel filters, system texts, error texts, the mount
// table, temporary folders shared by several instances, and the drive database file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <cstring>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "quillion/status.h"
#include "shell/drive_database.h"
#include "shell/error_manager.h"
#include "shell/mount_table.h"
#include "shell/preference_keys.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class ShellServices : public GuiTest {};

QString bytesText() {
  return Msg::gui(QStringLiteral("Byte(s)"));
}

}  // namespace

TEST_F(ShellServices, SizeTexts) {
  struct Case {
    std::uint64_t bytes;
    QString text;
  };
  const std::uint64_t GB = 1ull << 30, MB = 1ull << 20;
  const Case cases[] = {
      {0, "0" + bytesText()},
      {1023, "1023" + bytesText()},
      {1024, "1 KB"},
      {MB - 1, "1023 KB"},
      {MB, "1.0 MB"},
      {GB, "1.0 GB"},
      {1'610'612'736, "1.5 GB"},
      {GB + 949 * MB, "1.9 GB"},
      {GB + 950 * MB, "2.0 GB"},
      {4 * GB + 717 * MB, "4.7 GB"},
      {MB + 49 * 1024, "1.0 MB"},
      {MB + 50 * 1024, "1.1 MB"},
  };
  for (const Case& c : cases) EXPECT_EQ(ZEBUtils::bytesToString(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(bytesText(), QStringLiteral(" Byte(s)"))
      << "the table's text follows the number directly";
}

TEST_F(ShellServices, AudioVideoAndImageFilters) {
  const QString all = Msg::gui(QStringLiteral("All"));
  struct Case {
    const char* path;
    QString filter;
    bool audio;
    bool video;
  };
  const Case cases[] = {
      {"/m/a.WAV", all, true, false},    {"/m/a.aiff", all, true, false},
      {"/m/a.m4a", all, true, false},    {"/m/a.m4p", all, false, false},
      {"/m/a.m4p", "m4p", false, false}, {"/m/a.mpeg", all, false, true},
      {"/m/a.M2V", all, false, true},    {"/m/a.aif", "AIFF", true, true},
      {"/m/a.aiff", "AIFF", true, true}, {"/m/a.mp3", "AIFF", false, false},
      {"/m/a.mp", "mp", true, true},     {"/m/a.mp3", "mp", false, false},
      {"/m/noext", all, false, false},   {"/m/noext", "noe", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " / " + c.filter.toStdString());
    EXPECT_EQ(ZEBUtils::filterTest(c.path, c.filter), c.audio);
    EXPECT_EQ(ZEBUtils::filterVideoTest(c.path, c.filter), c.video);
  }
  const QStringList allAudio = ZEBUtils::audioFilterTypes(all);
  EXPECT_TRUE(allAudio.contains("AIFF") && allAudio.contains("m4a"));
  EXPECT_FALSE(allAudio.contains("m4p", Qt::CaseInsensitive));
  EXPECT_EQ(ZEBUtils::audioFilterTypes("AIFF"), (QStringList{"AIFF", "AIF", "aiff", "aif"}));
  EXPECT_EQ(ZEBUtils::audioFilterTypes("mp"), (QStringList{"mp"}));
  EXPECT_EQ(ZEBUtils::videoFilterTypes(all).size(), 8);
  for (const char* image : {"x.WLT", "x.iso", "x.toast", "x.cue", "x.img"})
    EXPECT_TRUE(ZEBUtils::imageFilterTest(image)) << image;
  EXPECT_FALSE(ZEBUtils::imageFilterTest("x.wav"));
  EXPECT_TRUE(ZEBUtils::audioNeedsConvert("x.M4A"));
  EXPECT_FALSE(ZEBUtils::audioNeedsConvert("x.mp3"));
  EXPECT_FALSE(ZEBUtils::audioNeedsConvert(QString()));
}

TEST_F(ShellServices, SystemTextsFromProcFiles) {
  const QByteArray cpuinfo =
      "processor\t: 0\nmodel name\t: Test CPU @ 2.0GHz\ncpu MHz\t\t: 1999.998\n";
  EXPECT_EQ(ZEBUtils::cpuModelFromCpuinfo(cpuinfo), "Test CPU @ 2.0GHz");
  EXPECT_EQ(ZEBUtils::cpuMhzFromCpuinfo(cpuinfo), "1999 Mhz");
  EXPECT_EQ(ZEBUtils::cpuModelFromCpuinfo("processor : 0\n"), "Unknown");
  const QByteArray meminfo = "MemTotal:       16303524 kB\nMemAvailable:    8000000 kB\n";
  EXPECT_EQ(ZEBUtils::meminfoKiB(meminfo, "MemTotal"), 16303524);
  EXPECT_EQ(ZEBUtils::meminfoKiB(meminfo, "SwapTotal"), -1);
  const QByteArray osRelease =
      "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n";
  EXPECT_EQ(ZEBUtils::osReleaseValue(osRelease, "PRETTY_NAME"), "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(ZEBUtils::osReleaseValue(osRelease, "ID"), "debian");
  EXPECT_EQ(ZEBUtils::osReleaseValue(osRelease, "VERSION"), "");
  // On this machine: the number of processors the system reports.
  EXPECT_EQ(ZEBUtils::numberOfProcessors(),
            QStringLiteral("%1 CPU(s)").arg(::sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_TRUE(ZEBUtils::totalMemory().endsWith(" MB"));
}

TEST_F(ShellServices, SmallRulesAndRefusals) {
  EXPECT_EQ(ZEBUtils::MSFToSectors(2, 3, 4), 2u * 4500 + 3 * 75 + 4);
  EXPECT_FALSE(ZEBUtils::LaunchApplicationByCreator("ttxt")) << "nothing was launched";
  EXPECT_FALSE(ZEBUtils::unmountDiskWithRef(0xFFFFFFFFu, true));
  EXPECT_FALSE(ZEBUtils::unmountDiskWithRef(0xFFFFFFFEu, false));
  EXPECT_FALSE(ZEBUtils::mountDiskWithRef(0xFFFFFFFEu));
  for (const char* name : {"sr0", "/dev/sr12"})
    EXPECT_TRUE(ZEBUtils::isDriveNodeName(name)) << name;
  for (const char* name : {"sr", "/dev/sda1", "disk", "../sr0", "/dev/sr0/x", ""}) {
    EXPECT_FALSE(ZEBUtils::isDriveNodeName(name)) << name;
    EXPECT_FALSE(ZEBUtils::unmountDisk(name)) << name;
  }
  const QString tmp = quillion::test::makeTempDir("free");
  EXPECT_GT(ZEBUtils::freeBytesAtPath(tmp), 0u);
  EXPECT_EQ(ZEBUtils::freeBytesAtPath(tmp + "/not/there"), 0u) << "no parent folder either";
  // A file not made yet is measured on its folder's volume (others write to it meanwhile).
  const std::uint64_t folderFree = ZEBUtils::freeBytesAtPath(tmp);
  const std::uint64_t fileFree = ZEBUtils::freeBytesAtPath(tmp + "/new-file");
  EXPECT_GT(fileFree, 0u);
  EXPECT_LT(fileFree > folderFree ? fileFree - folderFree : folderFree - fileFree, 256u << 20);
}

TEST_F(ShellServices, ErrorTexts) {
  MMC_SenseData sense{};
  sense.key = 0x05;
  sense.code = 0x24;
  QString title, message;
  ErrorManager::returnErrorStrings(65536 - 1134, sense, &title, &message);
  EXPECT_EQ(title, Msg::engineError(-1134));
  EXPECT_NE(title, "-1134") << "the reserve-track failure has a title";
  EXPECT_TRUE(message.startsWith("((05h, 24h, 00h)")) << message.toStdString();

  ErrorManager::returnErrorStrings(-4242, sense, &title, &message);
  EXPECT_EQ(title, "-4242");

  QString untouched = "keep";
  ErrorManager::returnErrorStrings(-1134, sense, &untouched, nullptr);
  EXPECT_EQ(untouched, "keep");
  ErrorManager::returnErrorStrings(-1134, sense, nullptr, &untouched);
  EXPECT_EQ(untouched, "keep");

  // Every status the engine defines has a title of its own.
  QFile header(qEnvironmentVariable("QUILLION_SOURCE_DIR") + "/Engine/include/quillion/status.h");
  ASSERT_TRUE(header.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(header.readAll());
  QRegularExpression value(QStringLiteral("= (-[0-9]+),"));
  int checked = 0;
  for (auto it = value.globalMatch(text); it.hasNext(); ++checked) {
    const int status = it.next().captured(1).toInt();
    EXPECT_NE(Msg::engineError(status), QString::number(status)) << status;
  }
  EXPECT_GT(checked, 40);
}

TEST_F(ShellServices, MountTableLines) {
  const QByteArray text =
      "22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
      "25 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 25 8:2 / /media/My\\040Disk rw,relatime - vfat /dev/sdb1 rw,fmask=0022\n"
      "31 25 11:0 / /media/cdrom ro,relatime - iso9660 /dev/sr0 ro\n"
      "32 25 8:3 / /srv rw - ext4 /dev/sda3 ro\n"
      "broken line\n"
      "33 25 8:4 / relative rw - ext4 /dev/sda4 rw\n"
      "34 25 8:5 / /x rw -\n";
  const auto mounts = parseMountInfo(text);
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[0].fsType, "proc");
  EXPECT_TRUE(isPseudoFileSystem(mounts[0].fsType));
  EXPECT_EQ(mounts[2].mountPoint, "/media/My Disk");
  EXPECT_FALSE(mounts[2].readOnly);
  EXPECT_TRUE(mounts[3].readOnly);
  EXPECT_TRUE(mounts[4].readOnly) << "a read-only super block";
  EXPECT_FALSE(isPseudoFileSystem("ext4"));
}

namespace {

// A machine of a few volumes, each a folder under one temporary root, with free space the
// test sets.
struct FakeVolumes {
  QString root = quillion::test::makeTempDir("volumes");
  std::map<QString, VolumeSpace> space;  // mount point -> space
  std::set<QString> readOnlyFolders;

  QString mountPoint(const QString& name) {
    const QString path = root + '/' + name;
    QDir().mkpath(path);
    return path;
  }
  TempFolderMgr::Environment environment(const QByteArray& mountInfo, const QString& cacheHome) {
    TempFolderMgr::Environment env;
    env.mountInfo = mountInfo;
    env.cacheHome = cacheHome;
    env.space = [this](const QString& path) -> std::optional<VolumeSpace> {
      const QString* best = nullptr;
      for (const auto& [mp, s] : space)
        if ((path == mp || path.startsWith(mp + '/')) && (!best || mp.size() > best->size()))
          best = &mp;
      if (!best) return std::nullopt;
      return space.at(*best);
    };
    env.writable = [this](const QString& path) { return !readOnlyFolders.count(path); };
    return env;
  }
};

QByteArray mountLine(int id, const QString& mountPoint, const char* type = "ext4",
                     const char* options = "rw") {
  return QStringLiteral("%1 1 8:%1 / %2 %3 - %4 /dev/x%1 rw\n")
      .arg(id)
      .arg(mountPoint, QLatin1String(options), QLatin1String(type))
      .toUtf8();
}

constexpr std::uint64_t kMB = 1u << 20;

}  // namespace

TEST_F(ShellServices, TemporaryVolumesAndTheFreeSpaceRule) {
  FakeVolumes fake;
  const QString home = fake.mountPoint("home");
  const QString big = fake.mountPoint("big");
  const QString cdrom = fake.mountPoint("cdrom");
  const QString proc = fake.mountPoint("proc");
  const QString full = fake.mountPoint("full");
  const QString locked = fake.mountPoint("locked");
  fake.space = {{home, {10 * kMB, 100 * kMB}}, {big, {50 * kMB, 100 * kMB}},
                {cdrom, {1 * kMB, 1 * kMB}},   {proc, {kMB, kMB}},
                {full, {0, 100 * kMB}},        {locked, {kMB, kMB}}};
  fake.readOnlyFolders.insert(locked);
  const QByteArray table = mountLine(1, big) + mountLine(2, home) +
                           mountLine(3, cdrom, "iso9660", "ro") + mountLine(4, proc, "proc") +
                           mountLine(5, full) + mountLine(6, locked);
  Defaults defaults(quillion::test::makeTempDir("tfm-settings") + "/q.conf");
  TempFolderMgr mgr("ZEBVUK_TEMPDIR_1456AHG", defaults, fake.environment(table, home + "/.cache"));

  ASSERT_EQ(mgr.availableVolumes(), (std::vector<int>{1, 2}))
      << "read-only, pseudo, full and locked left out";
  EXPECT_EQ(mgr.volumeName(1), home) << "the home volume comes first";
  EXPECT_EQ(mgr.volumeName(2), big);
  EXPECT_EQ(mgr.generateTempFolderPath(1), home + "/.cache/quillion/ZEBVUK_TEMPDIR_1456AHG");
  EXPECT_EQ(mgr.generateTempFolderPath(2), big + "/ZEBVUK_TEMPDIR_1456AHG");
  EXPECT_EQ(mgr.volumeName(0), "");
  EXPECT_EQ(mgr.freeSpaceInBytes(7), 0u);

  // 9.6 MB plus the 512 KB spare is more than the home volume's 10 MB: the next volume.
  const QString path = mgr.getTempFilePathBySize(9 * kMB + 600 * 1024);
  ASSERT_FALSE(path.isEmpty());
  EXPECT_TRUE(path.startsWith(big + "/ZEBVUK_TEMPDIR_1456AHG/")) << path.toStdString();
  EXPECT_TRUE(QFileInfo(path).isFile());
  EXPECT_EQ(QFileInfo(path).size(), 0);
  const QString small = mgr.getTempFilePathBySize(9 * kMB);
  EXPECT_TRUE(small.startsWith(home + "/.cache/quillion/")) << small.toStdString();
  EXPECT_TRUE(mgr.getTempFilePathBySize(60 * kMB).isEmpty()) << "no volume has room";

  // A desired name lands three levels below the base: own folder, random folder, name.
  const QString named = mgr.getTempFilePathBySize(kMB, "track 1.aiff");
  const QString rel = QDir(mgr.generateTempFolderPath(1)).relativeFilePath(named);
  EXPECT_EQ(rel.count('/'), 2) << rel.toStdString();
  EXPECT_TRUE(named.endsWith("/track 1.aiff"));
  EXPECT_TRUE(mgr.getTempFilePathBySize(kMB, "../escape").isEmpty());
  EXPECT_TRUE(mgr.isTemporaryPath(named));
  EXPECT_FALSE(mgr.isTemporaryPath(home + "/.cache/other"));

  // This process's folder is private.
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(small).absolutePath()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  mgr.markVolumeWithVID(1, false);
  EXPECT_TRUE(mgr.getTempFilePathBySize(kMB).startsWith(big)) << "an unselected volume is skipped";
  EXPECT_EQ(mgr.unselectedVolumesByName(), QStringList{home});
  mgr.updateVolumesWithUnselectedArray({home, big});
  EXPECT_TRUE(mgr.isVolumeSelected(1)) << "naming every volume leaves the first one selected";
  EXPECT_FALSE(mgr.isVolumeSelected(2));
}

TEST_F(ShellServices, InstancesSharingTheTemporaryFolderLoseNothing) {
  FakeVolumes fake;
  const QString home = fake.mountPoint("home");
  fake.space = {{home, {100 * kMB, 100 * kMB}}};
  const QByteArray table = mountLine(1, home);
  Defaults defaults(quillion::test::makeTempDir("tfm-settings2") + "/q.conf");
  const QString base = home + "/.cache/quillion/ZEBVUK_TEMPDIR_1456AHG";

  // Another running process's folder (the test's parent has a start time like ours), and one
  // of a process that has ended.
  QDir().mkpath(base);
  const QString startOfParent = [] {
    QFile f(QStringLiteral("/proc/%1/stat").arg(::getppid()));
    if (!f.open(QIODevice::ReadOnly)) return QString();
    const QByteArray s = f.readAll();
    return QString::fromLatin1(s.mid(s.lastIndexOf(')') + 2).split(' ').value(19));
  }();
  ASSERT_FALSE(startOfParent.isEmpty());
  const QString alive = base + QStringLiteral("/%1.%2.AbC123").arg(::getppid()).arg(startOfParent);
  QProcess finished;
  finished.start("true", {});
  ASSERT_TRUE(finished.waitForFinished());
  const qint64 deadPid = finished.processId() ? finished.processId() : 999999;
  const QString dead = base + QStringLiteral("/%1.12345.XyZ789").arg(deadPid);
  const QString reused =
      base + QStringLiteral("/%1.1.QqQ000").arg(::getppid());  // pid reused since
  const QString foreign = base + "/not-an-instance";
  for (const QString& d : {alive, dead, reused, foreign}) {
    ASSERT_TRUE(QDir().mkpath(d));
    ASSERT_TRUE(QFile(d + "/data").open(QIODevice::WriteOnly));
  }

  auto first = std::make_unique<TempFolderMgr>("ZEBVUK_TEMPDIR_1456AHG", defaults,
                                               fake.environment(table, home + "/.cache"));
  EXPECT_TRUE(QFileInfo::exists(alive + "/data")) << "a running instance keeps its files";
  EXPECT_FALSE(QFileInfo::exists(dead)) << "an ended process's folder is removed";
  EXPECT_FALSE(QFileInfo::exists(reused)) << "the pid now names another process";
  EXPECT_TRUE(QFileInfo::exists(foreign + "/data")) << "not made by an instance: left alone";

  const QString mine = first->getTempFilePathBySize(kMB);
  ASSERT_FALSE(mine.isEmpty());
  TempFolderMgr second("ZEBVUK_TEMPDIR_1456AHG", defaults,
                       fake.environment(table, home + "/.cache"));
  const QString theirs = second.getTempFilePathBySize(kMB);
  EXPECT_TRUE(QFileInfo::exists(mine)) << "a second instance's start removes nothing of the first";
  EXPECT_NE(QFileInfo(mine).absolutePath(), QFileInfo(theirs).absolutePath());
  first.reset();
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(mine).absolutePath()))
      << "the first removed its own folder";
  EXPECT_TRUE(QFileInfo::exists(theirs)) << "and nothing of the second";
  EXPECT_TRUE(QFileInfo::exists(alive + "/data"));
}

TEST_F(ShellServices, TheUnselectedListIsReadFromTheSettings) {
  FakeVolumes fake;
  const QString home = fake.mountPoint("home");
  const QString big = fake.mountPoint("big");
  fake.space = {{home, {100 * kMB, 100 * kMB}}, {big, {100 * kMB, 100 * kMB}}};
  Defaults defaults(quillion::test::makeTempDir("tfm-settings3") + "/q.conf");
  ASSERT_TRUE(defaults.set(VUKArrayOfUnselectedDrivesKey, QStringList{home}));
  TempFolderMgr mgr("T", defaults,
                    fake.environment(mountLine(1, home) + mountLine(2, big), home + "/.cache"));
  EXPECT_FALSE(mgr.isVolumeSelected(1));
  EXPECT_TRUE(mgr.isVolumeSelected(2));
}

// ---------------------------------------------------------------------------------------------
// The drive database file, written here byte by byte from the layout (not by the product's
// encoder), so that reader and encoder are each checked against the layout itself.
namespace {

struct RecordSpec {
  const char* vendor;
  const char* model;
  std::uint32_t cdrMask;
  std::uint32_t dvdrMask;
  std::uint8_t burnProof;
  std::uint16_t overburn;
};

QByteArray writeBdb(std::uint32_t version, const std::vector<RecordSpec>& records,
                    std::uint16_t format = 0x1000) {
  QByteArray out(140, '\0');
  const unsigned char magic[4] = {0x88, 0x88, 0xB7, 0xBD};
  std::memcpy(out.data(), magic, 4);
  out[4] = static_cast<char>(format & 0xFF);
  out[5] = static_cast<char>(format >> 8);
  for (int i = 0; i < 4; ++i) out[6 + i] = static_cast<char>(version >> (8 * i));
  for (std::size_t r = 0; r < records.size(); ++r) {
    QByteArray rec(129, '\0');
    rec[0] = r + 1 < records.size() ? 1 : 0;
    std::memcpy(rec.data() + 33, records[r].vendor, std::strlen(records[r].vendor));
    std::memcpy(rec.data() + 42, records[r].model, std::strlen(records[r].model));
    for (int i = 0; i < 11; ++i) rec[80 + i] = 1;
    for (int i = 0; i < 4; ++i) {
      rec[91 + i] = static_cast<char>(records[r].cdrMask >> (8 * i));
      rec[95 + i] = static_cast<char>(records[r].cdrMask >> (8 * i));
      rec[109 + i] = static_cast<char>(records[r].dvdrMask >> (8 * i));
    }
    rec[100] = static_cast<char>(records[r].burnProof);
    rec[121] = static_cast<char>(records[r].overburn);
    rec[125] = 1;
    out += rec;
  }
  return out;
}

}  // namespace

TEST_F(ShellServices, DriveDatabaseFilesAreReadWholeOrNotAtAll) {
  const QByteArray file =
      writeBdb(7, {{"PLEXTOR", "PX-716A", 0x1554, 0x3E, 1, 1}, {"", "BLANK VENDOR", 0x7, 0, 0, 0}});
  const auto db = parseDriveDatabase(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->version, 7u);
  ASSERT_EQ(db->records.size(), 2u);
  EXPECT_EQ(db->records[0].vendor, "PLEXTOR");
  EXPECT_EQ(db->records[0].model, "PX-716A");
  EXPECT_EQ(db->records[0].cap.dwCDRSpeedFlag, 0x1554u);
  EXPECT_EQ(db->records[0].cap.dwDVDRSpeedFlag, 0x3Eu);
  EXPECT_EQ(db->records[0].cap.bBurnProof, 1);
  EXPECT_EQ(db->records[0].cap.wOverburn, 1);
  EXPECT_EQ(db->records[0].cap.bSAO, 1);
  EXPECT_EQ(encodeDriveDatabase(*db), file) << "the encoder writes the same layout";

  // Reading stops after the record marked last, whatever follows.
  EXPECT_EQ(parseDriveDatabase(file + QByteArray(129, '\x01'))->records.size(), 2u);

  struct Bad {
    const char* name;
    QByteArray bytes;
  };
  QByteArray badMagic = file;
  badMagic[3] = 0;
  const Bad bad[] = {{"format 0FFFh", writeBdb(9, {{"A", "B", 1, 0, 0, 0}}, 0x0FFF)},
                     {"cut inside a record", file.left(140 + 129 + 50)},
                     {"header only, cut", file.left(100)},
                     {"wrong magic", badMagic}};
  for (const Bad& b : bad) EXPECT_FALSE(parseDriveDatabase(b.bytes)) << b.name;

  EXPECT_EQ(driveDatabaseVersion(file), 7u);
  EXPECT_EQ(driveDatabaseVersion(QByteArray()), 0u);
}

TEST_F(ShellServices, OnlyAWholeNewerDatabaseReplacesTheInstalledOne) {
  const QByteArray installed = writeBdb(7, {{"A", "B", 1, 0, 0, 0}});
  struct Case {
    const char* name;
    QByteArray download;
    bool update;
  };
  const Case cases[] = {
      {"7 over 7", writeBdb(7, {{"A", "B", 1, 0, 0, 0}}), false},
      {"8 over 7", writeBdb(8, {{"A", "B", 1, 0, 0, 0}}), true},
      {"6 over 7", writeBdb(6, {{"A", "B", 1, 0, 0, 0}}), false},
      {"format 0FFFh", writeBdb(8, {{"A", "B", 1, 0, 0, 0}}, 0x0FFF), false},
      {"truncated", writeBdb(8, {{"A", "B", 1, 0, 0, 0}}).left(200), false},
      {"empty", QByteArray(), false},
      {"an error page", QByteArray("<html>404</html>"), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(shouldUpdateDriveDatabase(installed, c.download), c.update) << c.name;
  EXPECT_TRUE(shouldUpdateDriveDatabase(QByteArray(), writeBdb(1, {{"A", "B", 1, 0, 0, 0}})))
      << "no installed file reads as version 0";
}

TEST_F(ShellServices, RecordsMatchByModelAndVendor) {
  DriveRecord record;
  record.vendor = "PLEXTOR";
  record.model = "PX-716A";
  EXPECT_TRUE(recordMatches(record, "PLEXTOR", "PX-716A"));
  EXPECT_FALSE(recordMatches(record, "PLEXTOR", "PX-716"));
  EXPECT_FALSE(recordMatches(record, "plextor", "PX-716A"));
  EXPECT_FALSE(recordMatches(record, " PLEX", "PX-716A"))
      << "a blank vendor matches only an empty one";
  record.vendor.clear();
  EXPECT_TRUE(recordMatches(record, " ", "PX-716A"));
  EXPECT_FALSE(recordMatches(record, "X", "PX-716A"));
  EXPECT_FALSE(recordMatches(record, nullptr, "PX-716A"));
}
