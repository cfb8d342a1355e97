// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up and shut-down over emulated drives, the command line's documents, playlists from
// a music library, and quitting: refused while a drive is erased, and every drive given back.
#include "shell/app_controller.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "device_environment.h"
#include "documents/layout_document.h"
#include "framework/defaults.h"
#include "framework/document.h"
#include "framework/document_controller.h"
#include "framework/notification_center.h"
#include "layout/layout_services.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"
#include "shell/application.h"
#include "shell/burn_log.h"
#include "shell/device_info_controller.h"
#include "shell/device_list_manager.h"
#include "shell/drive_database_updater.h"
#include "shell/erase_controller.h"
#include "shell/notification_names.h"
#include "shell/playlist_import.h"
#include "shell/preference_controller.h"
#include "shell/preference_keys.h"
#include "shell/start_window.h"
#include "shell/temp_folder_mgr.h"
#include "support/gui_test_env.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::GuiTest;

namespace {

class Launching : public GuiTest {
 protected:
  std::shared_ptr<EmulatedDrive> plug(const std::string& model) {
    auto config = *DriveConfig::preset("dvd-writer");
    config.name = config.product = model;
    return EmulatedBus::instance().plug(config);
  }

  // Device control is started by the controller itself: the environment only sets the drives
  // up and puts the virtual clock in place.
  DeviceEnvironment env_;
  Application app_{quillion::test::makeTempDir("app-settings") + "/quillion.conf"};
};

}  // namespace

TEST_F(Launching, BringsUpTheDriveListAndFollowsDrivesComingAndGoing) {
  plug("FIRST");
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  ASSERT_NE(controller.deviceList(), nullptr);
  ASSERT_NE(controller.tempFolders(), nullptr);
  EXPECT_EQ(controller.deviceList()->numberOfAllDrives(), 4);
  EXPECT_TRUE(app_.documents().documents().empty()) << "no untitled document of its own";
  ASSERT_NE(controller.startWindow(), nullptr);
  EXPECT_TRUE(controller.startWindow()->isVisible());
  EXPECT_TRUE(controller.startWindow()->splashVisible());

  int updates = 0;
  QObject watcher;
  NotificationCenter::instance().observe(&watcher, VUK_DeviceListUpdated,
                                         NotificationCenter::AnySender,
                                         [&](const Notification&) { ++updates; });
  plug("SECOND");
  DeviceEnvironment::pump();
  EXPECT_EQ(controller.deviceList()->numberOfAllDrives(), 5);
  EmulatedBus::instance().unplug("FIRST");
  DeviceEnvironment::pump();
  EXPECT_EQ(controller.deviceList()->numberOfAllDrives(), 4);
  EXPECT_EQ(updates, 2);
  EXPECT_GE(controller.deviceList()->getIndexOfDeviceByRef(DeviceEnvironment::refOf("SECOND")), 0);
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(Launching, ADocumentNamedOnTheCommandLineOpensAlone) {
  AppController controller(app_);
  Document* made = app_.documents().openUntitledDocumentOfType("Audio CD");
  ASSERT_NE(made, nullptr);
  const QString path = quillion::test::makeTempDir("cmdline") + "/mix.qlaudio";
  ASSERT_TRUE(made->writeToFile(path, made->fileType()));
  made->close();
  quillion::test::processEvents();
  ASSERT_TRUE(app_.documents().documents().empty());

  ASSERT_TRUE(controller.launch({path}));
  ASSERT_EQ(app_.documents().documents().size(), 1u) << "no untitled document beside it";
  EXPECT_FALSE(controller.startWindow()->isVisible());
  EXPECT_FALSE(controller.startWindow()->splashVisible());
  EXPECT_EQ(app_.documents().documents().front()->fileType(), "Audio CD");
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(Launching, WithTheSplashSkippedTheStartWindowComesAlone) {
  ASSERT_TRUE(app_.defaults().set(VUKSkipSplashBoolKey, true));
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  EXPECT_TRUE(controller.startWindow()->isVisible());
  EXPECT_FALSE(controller.startWindow()->splashVisible());
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(Launching, QuittingIsRefusedWhileErasingAndGivesEveryDriveBack) {
  auto drive = plug("HELD");
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  const std::uint32_t ref = DeviceEnvironment::refOf("HELD");
  ASSERT_EQ(GDT_ReserveDrive(ref, true), kNoErr);
  EXPECT_EQ(drive->open(true), -EBUSY) << "held by the application";

  controller.beginErasing();
  EXPECT_FALSE(controller.shouldTerminate());
  EXPECT_TRUE(controller.deviceControlRunning());
  EXPECT_NE(controller.deviceList(), nullptr) << "nothing was released";
  EXPECT_EQ(drive->open(true), -EBUSY);

  controller.endErasing();
  controller.releaseDrives();
  const int handle = drive->open(true);
  EXPECT_GT(handle, 0) << "the drive was given back";
  if (handle > 0) drive->close(handle);
  EXPECT_TRUE(controller.shouldTerminate());
  EXPECT_FALSE(controller.deviceControlRunning());
  EXPECT_EQ(controller.deviceList(), nullptr);
  EXPECT_EQ(test::connectedDevices().size(), 0u) << "device control stopped";
}

TEST_F(Launching, TheApplicationQuitsOnlyWhenNoDriveIsErased) {
  AppController controller(app_);
  app_.setQuitGuard([&controller] { return controller.numberOfDrivesErasing() == 0; });
  ASSERT_TRUE(controller.launch({}));
  ASSERT_NE(app_.documents().openUntitledDocumentOfType("Data CD"), nullptr);
  controller.beginErasing();
  app_.quit();
  quillion::test::processEvents();
  EXPECT_EQ(app_.documents().documents().size(), 1u) << "quit refused: the window stays";
  controller.endErasing();
  EXPECT_TRUE(controller.shouldTerminate());
}

// ---------------------------------------------------------------------------------------------
// Playlists.

namespace {

const std::vector<NamedVolume> kVolumes = {{"Macintosh HD", "/"}, {"Backup", "/media/user/Backup"}};

}  // namespace

TEST(PlaylistImport, ColonPathsBecomeLocalPaths) {
  struct Case {
    const char* colon;
    std::optional<QString> path;
  };
  const Case cases[] = {
      {"Macintosh HD:Users:x:a.mp3", QString("/Users/x/a.mp3")},
      {"Macintosh HD:Music:a.mp3", QString("/Music/a.mp3")},
      {"Backup:Music:b.mp3", QString("/media/user/Backup/Music/b.mp3")},
      {"Elsewhere:c.mp3", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(convertColonPath(c.colon, kVolumes), c.path) << c.colon;
}

TEST(PlaylistImport, TextPlaylistsEndLinesWithCROnly) {
  const QString header = "Name\tArtist\tLocation\r";
  const QString rows =
      "One\tBand\tMacintosh HD:Music:1.mp3\r"
      "Two\t\tBackup:2.mp3\r"
      "Three\tBand\tMacintosh HD:3.mp3";  // no final CR: dropped
  const auto playlist = parseTXTPlaylist(header + rows, kVolumes);
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->size(), 2u);
  EXPECT_EQ((*playlist)[0].name, "One");
  EXPECT_EQ((*playlist)[0].artist, "Band");
  EXPECT_EQ((*playlist)[0].location, "/Music/1.mp3");
  EXPECT_EQ((*playlist)[1].artist, "");
  EXPECT_EQ((*playlist)[1].location, "/media/user/Backup/2.mp3");

  EXPECT_FALSE(
      parseTXTPlaylist("Name\tArtist\r"
                       "One\tBand\r",
                       kVolumes))
      << "no Location column";
  EXPECT_FALSE(
      parseTXTPlaylist("Name\tArtist\tLocation\nOne\tBand\tMacintosh HD:a.mp3\n", kVolumes))
      << "LF alone ends no line";
  // An Artist column last in the row is never read; a track on an unknown volume is left out.
  const auto artistLast = parseTXTPlaylist(
      "Name\tLocation\tArtist\r"
      "One\tMacintosh HD:1.mp3\tBand\r"
      "Two\tNowhere:2.mp3\tBand\r",
      kVolumes);
  ASSERT_TRUE(artistLast);
  ASSERT_EQ(artistLast->size(), 1u);
  EXPECT_EQ((*artistLast)[0].artist, "");
}

TEST(PlaylistImport, XmlPlaylistsTakeTheFirstPlaylistsItemsInOrder) {
  const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>Tracks</key><dict>
    <key>10</key><dict><key>Name</key><string>Ten</string><key>Artist</key><string>A</string>
      <key>Location</key><string>file:///music/ten%20x.mp3</string></dict>
    <key>11</key><dict><key>Name</key><string>Eleven</string>
      <key>Location</key><string>file:///music/11.mp3</string></dict>
    <key>12</key><dict><key>Name</key><string>Twelve</string>
      <key>Location</key><string>file:///music/12.mp3</string></dict>
  </dict>
  <key>Playlists</key><array>
    <dict><key>Playlist Items</key><array>
      <dict><key>Track ID</key><integer>11</integer></dict>
      <dict><key>Track ID</key><integer>10</integer></dict>
      <dict><key>Track ID</key><integer>99</integer></dict>
    </array></dict>
    <dict><key>Playlist Items</key><array>
      <dict><key>Track ID</key><integer>12</integer></dict>
    </array></dict>
  </array>
</dict></plist>)";
  const auto playlist = parseXMLPlaylist(xml);
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->size(), 2u);
  EXPECT_EQ((*playlist)[0].name, "Eleven");
  EXPECT_EQ((*playlist)[0].artist, "");
  EXPECT_EQ((*playlist)[1].name, "Ten");
  EXPECT_EQ((*playlist)[1].location, "/music/ten x.mp3");
  EXPECT_EQ((*playlist)[1].artist, "A");

  EXPECT_FALSE(
      parseXMLPlaylist("<plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>"))
      << "no playlists";
  EXPECT_FALSE(parseXMLPlaylist("not a property list"));
}

TEST_F(Launching, DriveFilesAddedToTheFolderComeAndGoWhileTheApplicationRuns) {
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  ASSERT_EQ(controller.deviceList()->numberOfAllDrives(), 3);
  // Waits for device control's descriptor, then delivers what arrived: the watcher thread
  // has reported the change by then.
  const auto deliverNextChange = [] {
    pollfd fd{deviceEventFd(), POLLIN, 0};
    const int ready = ::poll(&fd, 1, 30000);
    DeviceEnvironment::pump();
    return ready == 1;
  };
  const auto drivePath = env_.folder() / "appeared.drive";
  DeviceEnvironment::pump();  // nothing older is waiting
  {
    const auto temporary = env_.folder() / "appeared.tmp";
    test::writeFile(temporary, std::string_view("preset = cd-writer\nproduct = APPEARED\n"));
    std::filesystem::rename(temporary, drivePath);
  }
  ASSERT_TRUE(deliverNextChange());
  EXPECT_EQ(controller.deviceList()->numberOfAllDrives(), 4);
  EXPECT_GE(controller.deviceList()->getIndexOfDeviceByRef(DeviceEnvironment::refOf("APPEARED")),
            0);

  DeviceEnvironment::pump();
  std::filesystem::remove(drivePath);
  ASSERT_TRUE(deliverNextChange());
  EXPECT_EQ(controller.deviceList()->numberOfAllDrives(), 3);
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(Launching, ThePanelsAreSingleInstances) {
  plug("PANEL");
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  DeviceInfoController* info = controller.showDeviceInfoPanel();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(controller.showDeviceInfoPanel(), info);
  EXPECT_EQ(info->driveTitles().size(), 1);
  PreferenceController* prefs = controller.showPreferencePanel();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(controller.showPreferencePanel(), prefs);
  EXPECT_NE(controller.showDBUpdaterPanel(), nullptr);
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(Launching, TheMenuShowsTheSharedErasePanelAndQuittingWaitsWhileItErases) {
  plug("FIRST");
  AppController controller(app_);
  ASSERT_TRUE(controller.launch({}));
  const std::shared_ptr<EraseController> eraser = layoutServices().eraser;
  ASSERT_TRUE(eraser) << "one panel for the menu and every window";
  controller.showErasePanel();
  EXPECT_TRUE(eraser->window()->isVisible());
  EXPECT_EQ(eraser->deviceRef(), DeviceEnvironment::refOf("FIRST"));
  emit eraser->eraseStarted();
  EXPECT_EQ(controller.numberOfDrivesErasing(), 1);
  emit eraser->eraseFinished(0);
  EXPECT_EQ(controller.numberOfDrivesErasing(), 0);
}

TEST_F(Launching, HooksForLaterPanelsAndTheBurnLogActions) {
  int erase = 0, discInfo = 0, cddb = 0;
  std::vector<QUrl> opened;
  AppController controller(app_, {[&] { ++erase; }, [&] { ++discInfo; }, [&] { ++cddb; },
                                  [&](const QUrl& url) {
                                    opened.push_back(url);
                                    return true;
                                  }});
  ASSERT_TRUE(controller.launch({}));
  EXPECT_EQ(cddb, 1) << "the lookup client starts with the application";
  controller.showErasePanel();
  controller.showDiscInfoPanel();
  EXPECT_EQ(erase, 1);
  EXPECT_EQ(discInfo, 1);

  qputenv("XDG_STATE_HOME", quillion::test::makeTempDir("log-state").toUtf8());
  const QString log = BurnLog::burnLogPath();
  EXPECT_TRUE(controller.clearLogFile()) << "nothing to remove is no failure";
  EXPECT_TRUE(controller.viewLogFile());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.front(), QUrl::fromLocalFile(log)) << "a missing log is made empty, then shown";
  EXPECT_TRUE(QFileInfo(log).isFile());
  EXPECT_EQ(QFileInfo(log).size(), 0);
  QDir().mkpath(QFileInfo(log).absolutePath());
  {
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x\r");
  }
  EXPECT_TRUE(controller.clearLogFile());
  EXPECT_FALSE(QFileInfo::exists(log));
  qunsetenv("XDG_STATE_HOME");
  EXPECT_TRUE(controller.shouldTerminate());
}
