// SPDX-License-Identifier: GPL-2.0-or-later
// The application's start and end around the documents: device control and the device list
// model while launching, the temporary folders, the single instances of the panels, playlist
// import, and quitting, which is refused while a drive is being erased and otherwise gives
// back every drive before device control stops.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>

class QMenuBar;

namespace quillion {

class AboutPanel;
class Application;
class DBUpdaterWindowController;
class DeviceInfoController;
class DeviceListManager;
class TempFolderMgr;
class TTLayoutWinCtlr;
class PreferenceController;

// The interface-kit level passed to device control: from 664 on it answers the performance
// queries itself instead of falling back to raw commands.
inline constexpr double kInterfaceKitVersion = 1000;
inline constexpr char kTempFolderName[] = "ZEBVUK_TEMPDIR_1456AHG";

class AppController : public QObject {
  Q_OBJECT

 public:
  struct Hooks {
    // Panels of later parts of the interface; absent until they exist.
    std::function<void()> showErasePanel;
    std::function<void()> showDiscInfoPanel;
    std::function<void()> startCddbClient;
    // Hands an address to the desktop (its browser, or the viewer of a file); the desktop's
    // own opener when empty.
    std::function<bool(const QUrl&)> openUrl;
  };

  explicit AppController(Application& app, Hooks hooks = {}, QObject* parent = nullptr);
  ~AppController() override;

  // Device control, the device list (with every disc read once), the temporary folders, then
  // the documents named on the command line, or, when there are none, the start window (after
  // the splash panel unless the user skips it).
  bool launch(const QStringList& documents);

  // Quitting: false, and nothing changes, while a drive is being erased. Otherwise every drive
  // is given back, device control stops and the shell's objects go; then true.
  bool shouldTerminate();
  void releaseDrives();

  void beginErasing() { ++numberOfDrivesErasing_; }
  void endErasing() {
    if (numberOfDrivesErasing_ > 0) --numberOfDrivesErasing_;
  }
  int numberOfDrivesErasing() const { return numberOfDrivesErasing_; }

  DeviceListManager* deviceList() const { return devices_.get(); }
  TempFolderMgr* tempFolders() const { return tempFolders_.get(); }
  TTLayoutWinCtlr* startWindow() const { return layoutCtlr_.get(); }
  // The "New" command: the start window again.
  void newDocument();
  bool deviceControlRunning() const { return running_; }

  DeviceInfoController* showDeviceInfoPanel();
  PreferenceController* showPreferencePanel();
  // Panels of later parts of the interface, through the hooks given at construction.
  void showErasePanel();
  void showDiscInfoPanel();
  // The burn log: opened with the desktop's viewer (made empty when missing), or removed.
  bool viewLogFile();
  bool clearLogFile();
  DBUpdaterWindowController* showDBUpdaterPanel();
  // The About panel, filled afresh each time: the version, the drive database's version
  // (empty when the drive information cannot be had) and the credit line.
  AboutPanel* showAbout();
  // Opens the web page of a menu action (web_pages.h) in the browser; false, opening
  // nothing, when the action is unknown or its page has no usable address.
  bool openWebPage(const QString& action);
  // Reads the playlist at `path` into a new audio layout; false (with an alert) when it is
  // none.
  bool importPlaylist(const QString& path);

 private:
  void addMenus(QMenuBar* bar);
  bool openUrl(const QUrl& url) const;

  Application& app_;
  Hooks hooks_;
  std::unique_ptr<DeviceListManager> devices_;
  std::unique_ptr<TempFolderMgr> tempFolders_;
  std::unique_ptr<TTLayoutWinCtlr> layoutCtlr_;
  std::unique_ptr<PreferenceController> preferences_;
  QPointer<DeviceInfoController> deviceInfo_;
  QPointer<DBUpdaterWindowController> dbUpdater_;
  QPointer<AboutPanel> about_;
  int numberOfDrivesErasing_ = 0;
  bool running_ = false;
};

}  // namespace quillion
