// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/app_controller.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "documents/layout_document.h"
#include "framework/document_controller.h"
#include "framework/messages.h"
#include "layout/layout_services.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"
#include "shell/about_panel.h"
#include "shell/application.h"
#include "shell/burn_log.h"
#include "shell/device_info_controller.h"
#include "shell/device_list_manager.h"
#include "shell/drive_database.h"
#include "shell/drive_database_updater.h"
#include "shell/erase_controller.h"
#include "shell/playlist_import.h"
#include "shell/preference_controller.h"
#include "shell/preference_keys.h"
#include "shell/start_window.h"
#include "shell/temp_folder_mgr.h"
#include "shell/web_pages.h"

namespace quillion {

namespace {

std::uint32_t installedDatabaseVersion() {
  QFile file(installedDriveDatabasePath());
  return file.open(QIODevice::ReadOnly) ? driveDatabaseVersion(file.read(kBdbHeaderBytes)) : 0;
}

}  // namespace

AppController::AppController(Application& app, Hooks hooks, QObject* parent)
    : QObject(parent), app_(app), hooks_(std::move(hooks)) {
  app_.setExtraMenus([this](QMenuBar* bar) { addMenus(bar); });
}

AppController::~AppController() {
  app_.setExtraMenus({});
  delete about_;
  // The panels read the device list: they go first.
  delete deviceInfo_;
  delete dbUpdater_;
  layoutCtlr_.reset();
  preferences_.reset();
  if (running_) {
    releaseDrives();
    layoutServices() = LayoutServices{};
    devices_.reset();
    DC_Term();
  }
}

bool AppController::launch(const QStringList& documents) {
  if (hooks_.startCddbClient) hooks_.startCddbClient();
  (void)DC_Init(kInterfaceKitVersion);
  running_ = true;
  devices_ = std::make_unique<DeviceListManager>(installedDriveDatabasePath());
  devices_->attachToEngine();
  devices_->checkDiskStatusProgress(0, true);  // every drive, read afresh
  tempFolders_ =
      std::make_unique<TempFolderMgr>(QString::fromLatin1(kTempFolderName), app_.defaults());
  // The layout windows burn with the shell's drives, settings and temporary folders.
  // One erase panel for the menu and every window; quitting waits while it erases.
  auto eraser = std::make_shared<EraseController>(devices_.get());
  connect(eraser.get(), &EraseController::eraseStarted, this, [this] { beginErasing(); });
  connect(eraser.get(), &EraseController::eraseFinished, this, [this] { endErasing(); });
  layoutServices() = LayoutServices{
      devices_.get(),     &app_.defaults(),
      tempFolders_.get(), [] { return BurnLogFacts::fromSystem(installedDatabaseVersion()); },
      QString(),          eraser};
  layoutCtlr_ = std::make_unique<TTLayoutWinCtlr>(app_.documents(), app_.defaults());
  preferences_ = std::make_unique<PreferenceController>(app_.defaults(), tempFolders_.get());
  preferences_->allowCDDBSwitch();
  // A document named on the command line opens without splash or start window.
  if (!documents.isEmpty()) return app_.start(documents);
  if (!app_.defaults().boolValue(VUKSkipSplashBoolKey)) layoutCtlr_->showSplashWindow();
  newDocument();
  return true;
}

void AppController::newDocument() {
  if (!layoutCtlr_) return;
  layoutCtlr_->stopTrackingTimer();
  layoutCtlr_->show();
  layoutCtlr_->raise();
}

void AppController::releaseDrives() {
  if (!devices_) return;
  for (int i = 0; i < devices_->numberOfAllDrives(); ++i) {
    const std::uint32_t ref = devices_->getDeviceRefByIndex(i);
    if (ref != DeviceListManager::kImageRef) (void)GDT_ReserveDrive(ref, false);
  }
}

bool AppController::shouldTerminate() {
  if (numberOfDrivesErasing_ != 0) return false;
  if (running_) {
    releaseDrives();
    devices_->detachFromEngine();
    DC_Term();
    running_ = false;
  }
  delete about_;
  delete deviceInfo_;
  delete dbUpdater_;
  layoutCtlr_.reset();
  layoutServices() = LayoutServices{};
  devices_.reset();
  preferences_.reset();
  tempFolders_.reset();
  return true;
}

DeviceInfoController* AppController::showDeviceInfoPanel() {
  if (!devices_) return nullptr;
  if (!deviceInfo_) deviceInfo_ = new DeviceInfoController(*devices_, installedDatabaseVersion());
  deviceInfo_->deviceListDidChange();
  deviceInfo_->show();
  deviceInfo_->raise();
  return deviceInfo_;
}

void AppController::showErasePanel() {
  if (hooks_.showErasePanel) return hooks_.showErasePanel();
  const std::shared_ptr<EraseController> eraser = layoutServices().eraser;
  if (!eraser || !devices_) return;
  // The first recorder, unless the panel is busy with its own.
  std::uint32_t first = 0;
  for (int i = 0; i < devices_->numberOfAllDrives() && first == 0; ++i) {
    const std::uint32_t ref = devices_->getDeviceRefByIndex(i);
    if (devices_->isSupportedDrive(i) && ref != DeviceListManager::kImageRef &&
        ref != DeviceListManager::kIsoImageRef)
      first = ref;
  }
  if (eraser->deviceRef() == 0) (void)eraser->setDeviceRef(first);
  eraser->showWindow();
}

void AppController::showDiscInfoPanel() {
  if (hooks_.showDiscInfoPanel) hooks_.showDiscInfoPanel();
}

bool AppController::viewLogFile() {
  const QString path = BurnLog::burnLogPath();
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile log(path);
  if (!log.exists() && !log.open(QIODevice::WriteOnly)) return false;
  log.close();
  return openUrl(QUrl::fromLocalFile(path));
}

bool AppController::clearLogFile() {
  const QString path = BurnLog::burnLogPath();
  return !QFileInfo::exists(path) || QFile::remove(path);
}

PreferenceController* AppController::showPreferencePanel() {
  if (!preferences_) return nullptr;
  preferences_->show();
  preferences_->raise();
  return preferences_.get();
}

DBUpdaterWindowController* AppController::showDBUpdaterPanel() {
  if (!dbUpdater_) {
    dbUpdater_ = new DBUpdaterWindowController(app_.defaults());
    connect(dbUpdater_, &DBUpdaterWindowController::finished, this,
            [this](UpdateOutcome outcome, std::uint32_t version) {
              if (outcome == UpdateOutcome::Updated && deviceInfo_)
                deviceInfo_->setCurrentBDBVersion(version);
            });
  }
  dbUpdater_->show();
  dbUpdater_->raise();
  return dbUpdater_;
}

AboutPanel* AppController::showAbout() {
  if (!about_) about_ = new AboutPanel;
  about_->setVersionText(QStringLiteral("v") + applicationVersion());
  // The drive information knows the database in use, also after an update.
  if (!deviceInfo_ && devices_)
    deviceInfo_ = new DeviceInfoController(*devices_, installedDatabaseVersion());
  about_->setBDBVersionText(deviceInfo_ ? QStringLiteral("BDB Version: ") +
                                              QString::number(deviceInfo_->getCurrentBDBVersion())
                                        : QString());
  about_->setCreditText(applicationCredit());
  if (const QScreen* screen = about_->screen()) {
    QRect frame = about_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    about_->move(frame.topLeft());
  }
  about_->show();
  about_->raise();
  about_->activateWindow();
  return about_;
}

bool AppController::openUrl(const QUrl& url) const {
  return hooks_.openUrl ? hooks_.openUrl(url) : QDesktopServices::openUrl(url);
}

namespace {

bool isUsableWebAddress(const QUrl& url) {
  return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty();
}

}  // namespace

bool AppController::openWebPage(const QString& action) {
  const WebPage* page = findWebPage(action);
  if (!page) return false;
  const QUrl url = webPageAddress(*page, app_.defaults());
  return isUsableWebAddress(url) && openUrl(url);
}

void AppController::addMenus(QMenuBar* bar) {
  QMenu* internet = bar->addMenu(Msg::gui(QStringLiteral("Internet")));
  internet->setObjectName(QStringLiteral("internetMenu"));
  for (const WebPage& page : webPages()) {
    const QString action = QString::fromLatin1(page.action);
    QAction* item = internet->addAction(Msg::gui(QString::fromLatin1(page.title)), this,
                                        [this, action] { openWebPage(action); });
    item->setObjectName(action);
  }
  // A page without an address cannot be opened: its item is greyed out rather than silent.
  const auto refresh = [this, internet] {
    for (QAction* item : internet->actions()) {
      const WebPage* page = findWebPage(item->objectName());
      if (page) item->setEnabled(isUsableWebAddress(webPageAddress(*page, app_.defaults())));
    }
  };
  refresh();
  connect(internet, &QMenu::aboutToShow, this, refresh);
  QMenu* help = bar->addMenu(Msg::gui(QStringLiteral("Help")));
  help->addAction(Msg::gui(QStringLiteral("About Quillion")), this, [this] { showAbout(); })
      ->setObjectName(QStringLiteral("showAbout:"));
}

bool AppController::importPlaylist(const QString& path) {
  QFile file(path);
  std::optional<Playlist> playlist;
  if (file.open(QIODevice::ReadOnly)) {
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == QLatin1String("txt"))
      playlist = parseTXTPlaylist(QString::fromUtf8(file.readAll()), mountedVolumes());
    else if (suffix == QLatin1String("xml"))
      playlist = parseXMLPlaylist(file.readAll());
    else
      return false;  // the panel offers only these two
  }
  if (!playlist) {
    auto* box =
        new QMessageBox(QMessageBox::Information, Msg::gui(QStringLiteral("Invalid Playlist")),
                        Msg::gui(QStringLiteral("Not A Valid Playlist!")), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("InvalidPlaylistAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
  }
  Document* doc = app_.documents().openUntitledDocumentOfType(QStringLiteral("Audio CD"));
  auto* layout = qobject_cast<AudioDoc*>(doc);
  if (!layout) return false;
  layout->loadPlayList(*playlist);
  return true;
}

}  // namespace quillion
