// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/base_layout_win_ctlr.h"

#include <QLabel>
#include <QMainWindow>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include "burn/thread_bridge.h"
#include "framework/cfmt.h"
#include "framework/defaults.h"
#include "framework/document.h"
#include "framework/messages.h"
#include "layout/data_edit_panels.h"
#include "layout/data_filter_editor.h"
#include "layout/data_layout_ctlr.h"
#include "layout/layout_services.h"
#include "layout/session_tab.h"
#include "quillion/GDT.h"
#include "quillion/GU.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

QAbstractItemView* addView(QAbstractItemView* view, const char* name, QLayout* layout) {
  view->setObjectName(QLatin1String(name));
  layout->addWidget(view);
  return view;
}

}  // namespace

DiscFacts DiscFacts::of(const GDT_DiscInfo& info) {
  return {info.freeBlocks,  info.usedBlocks, info.discState,   info.erasable,
          info.mediumClass, info.discKind,   info.fileSystems, info.trackCount};
}

// The notifications a layout window follows, each from the sender its role names. A role
// whose view this window lacks registers nothing: the view is never "any sender".
struct BaseLayoutWinCtlr::ObservedNotification {
  const char* name;
  SenderRole sender;
  void (*handler)(BaseLayoutWinCtlr* self, const Notification& n);
};

BaseLayoutWinCtlr::BaseLayoutWinCtlr(const LayoutKind& kind) : kind_(kind) {
  state_.fileFormat = static_cast<int>(kind.formatType);
  state_.writeXA = kind.useCDXAFormat;
  options_.useSAO = kind.useSAO;
}

BaseLayoutWinCtlr::~BaseLayoutWinCtlr() {
  NotificationCenter::instance().remove(this);
  burnTimer_.stop();
  cancelTimer_.stop();
  waitForDriveTimer_.stop();
  waitForThreadTimer_.stop();
  abandonJob();
  GU_Log_Close(job_.logRef);
}

void BaseLayoutWinCtlr::abandonJob() {
  finishVerification();
  // A window closed with a job still held: its threads end, are joined, and the job goes
  // with its log, so nothing the threads use outlives them.
  if (job_.runTimeSharedData) {
    job_.runTimeSharedData->bStop = true;
    for (std::uint16_t i = 0; i < std::max<std::uint16_t>(job_.runTimeSharedData->numDrives, 1);
         ++i)
      job_.runTimeSharedData->writers[i].bForceQuit = true;
  }
  deleteJob();
}

void BaseLayoutWinCtlr::setLayoutFile(const LayoutFileIO& file) {
  firstLayoutFile_ = file;
}

void BaseLayoutWinCtlr::loadLayout(const LayoutFileIO& file) {
  readLayoutState(file, kind_.keyGroups, state_);
}

void BaseLayoutWinCtlr::saveLayout(LayoutFileIO& file) {
  writeLayoutState(state_, kind_.keyGroups, file);
}

void BaseLayoutWinCtlr::loadPlayList(const Playlist&) {
  // The audio track model takes the playlist; no kind has that model yet.
}

void BaseLayoutWinCtlr::setImageReaderPath(const QString& path) {
  if (path.isNull()) return;
  cdImageReaderPath_ = path;
  // The image reader has no vendor, model or version: the path alone names it.
  state_.source = LayoutDevice{QString(), QString(), QString(), path};
}

QString BaseLayoutWinCtlr::windowTitleForDocumentDisplayName(const QString& displayName) const {
  return cfmt(QStringLiteral("%@ - %@"), Msg::gui(QString::fromLatin1(kind_.titleKey)),
              displayName);
}

void BaseLayoutWinCtlr::NeedToSaveDocument(const Notification& n) {
  const bool ours = n.sender != nullptr &&
                    (n.sender == dataLayoutView_.data() || n.sender == audioLayoutView_.data() ||
                     n.sender == vcdLayoutView_.data());
  if (!ours) return;
  setDocumentEdited(true);
  if (Document* doc = document()) doc->updateChangeCount(Document::Change::Done);
}

DeviceListManager* BaseLayoutWinCtlr::devices() const {
  return layoutServices().devices;
}

Defaults& BaseLayoutWinCtlr::defaults() const {
  Defaults* d = layoutServices().defaults;
  return d ? *d : Defaults::shared();
}

QString BaseLayoutWinCtlr::guiText(const char* key) const {
  return Msg::gui(QString::fromLatin1(key));
}

std::unique_ptr<QMainWindow> BaseLayoutWinCtlr::makeWindow() {
  auto window = std::make_unique<QMainWindow>();
  window->setObjectName(windowFile());
  auto* central = new QWidget(window.get());
  auto* layout = new QVBoxLayout(central);
  auto* heading = new QLabel(Msg::gui(QString::fromLatin1(kind_.titleKey)), central);
  QFont font = heading->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.4);
  heading->setFont(font);
  layout->addWidget(heading);
  if (kind_.views & kDataLayoutView) {
    dataLayoutView_ = addView(new QTreeView(central), "dataLayoutView", layout);
    buildDataEditPanels(window.get(), layout);
  }
  if (kind_.views & kAudioLayoutView)
    audioLayoutView_ = addView(new QTableView(central), "audioLayoutView", layout);
  if (kind_.views & kVcdLayoutView)
    vcdLayoutView_ = addView(new QTableView(central), "vcdLayoutView", layout);
  if (kind_.views == 0) layout->addStretch(1);
  // Every kind that writes has a destination; a window of kind 0 has nothing to burn.
  if (kind_.layoutType != kLayoutNone) {
    driveBar_ = DriveBar::build(central);
    layout->addWidget(driveBar_->box);
    burnOptions_ = BurnOptionsSheet::build(window.get());
    progress_ = ProgressSheet::build(window.get(), defaults());
    result_ = ResultSheet::build(window.get());
    wait_ = WaitSheet::build(window.get());
  }
  window->setCentralWidget(central);
  window->resize(720, 480);
  return window;
}

const void* BaseLayoutWinCtlr::senderFor(SenderRole role) const {
  switch (role) {
    case SenderRole::kAny:
      return NotificationCenter::AnySender;
    case SenderRole::kDataView:
      return dataLayoutView_.data();
    case SenderRole::kAudioView:
      return audioLayoutView_.data();
    case SenderRole::kMovieView:
      return vcdLayoutView_.data();
    case SenderRole::kDeviceList:
      return devices();
  }
  return nullptr;
}

void BaseLayoutWinCtlr::registerObservers() {
  static const ObservedNotification kObserved[] = {
      {VUK_DriveInfoUpdated, SenderRole::kDeviceList,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->deviceStatusDidChange(); }},
      {VUK_DeviceListUpdated, SenderRole::kAny,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->deviceListDidChange(); }},
      {VUK_DeviceStatusChangedNotification, SenderRole::kAny,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->deviceStatusDidChange(); }},
      {VUK_LayoutChangedNotification, SenderRole::kAny,
       [](BaseLayoutWinCtlr* self, const Notification& n) { self->NeedToSaveDocument(n); }},
      {VUK_DataRootNodeChangedNotification, SenderRole::kDataView,
       [](BaseLayoutWinCtlr* self, const Notification& n) { self->UpdateDocumentTitle(n); }},
      {VUK_FilesDroppedNotification, SenderRole::kDataView,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->filesDroppedInLayout(); }},
      {VUK_FilesAddedNotification, SenderRole::kDataView,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->updateItemsInfo(); }},
      {VUK_NoFreeSpaceNotification, SenderRole::kDataView,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->NotEnoughSpace(); }},
      {VUK_NoFreeSpaceNotification, SenderRole::kAudioView,
       [](BaseLayoutWinCtlr* self, const Notification&) { self->NotEnoughSpace(); }},
  };
  for (const ObservedNotification& o : kObserved) {
    const void* sender = senderFor(o.sender);
    if (!sender) continue;
    const auto handler = o.handler;
    NotificationCenter::instance().observe(
        this, QString::fromLatin1(o.name), sender,
        [this, handler](const Notification& n) { handler(this, n); });
  }
}

void BaseLayoutWinCtlr::windowDidLoad() {
  if (m_awoke) return;
  m_awoke = true;
  registerObservers();
  if (driveBar_) {
    wireSheets();
    deviceListDidChange();
  }
  wireDataEditing();
  if (firstLayoutFile_) loadLayout(*firstLayoutFile_);
  syncDataControlsWithState();
}

}  // namespace quillion
