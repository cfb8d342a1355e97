// SPDX-License-Identifier: GPL-2.0-or-later
// The data window's model, DVD-Video mode and layout file. The burn road is in
// data_win_burn.cpp.
#include "documents/data_win_ctlr.h"

#include <QComboBox>
#include <QMainWindow>
#include <QTreeView>
#include <cstdlib>
#include <limits>

#include "framework/cfmt.h"
#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "framework/sheet_host.h"
#include "layout/data_layout_ctlr.h"
#include "quillion/TNCMap.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

constexpr char kVideoFolder[] = "VIDEO_TS";
constexpr char kAudioFolder[] = "AUDIO_TS";

// The layout's tree as a tree map; empty when the tree cannot be written.
QByteArray treeMapOf(FS_Tree* tree) {
  void* buffer = nullptr;
  std::int32_t size = 0;
  QByteArray map;
  if (tree && TNC_FSTreeToTreeMap(tree, &buffer, &size) == kNoErr && size > 0)
    map = QByteArray(static_cast<const char*>(buffer), size);
  std::free(buffer);
  return map;
}

}  // namespace

DataWinCtlr::DataWinCtlr(const LayoutKind& kind)
    : BaseLayoutWinCtlr(kind), model_(std::make_unique<DataLayoutCtlr>()) {}

DataWinCtlr::~DataWinCtlr() {
  // The job reads the layout's tree and the spanned part: it ends before they go.
  abandonJob();
  span_.reset();
  // The view lets go of the model before the model goes.
  if (QAbstractItemView* view = dataLayoutView()) view->setModel(nullptr);
}

FS_Tree* DataWinCtlr::layoutTree() const {
  return model_->treeData();
}

void DataWinCtlr::setFormatType(unsigned format) {
  layoutState().fileFormat = static_cast<int>(format);
  // The pop-up follows, or the next refresh would take its old choice back.
  syncDataControlsWithState();
  spanningFormatChanged();
}

std::unique_ptr<QMainWindow> DataWinCtlr::makeWindow() {
  std::unique_ptr<QMainWindow> window = BaseLayoutWinCtlr::makeWindow();
  if (auto* view = qobject_cast<QTreeView*>(dataLayoutView())) {
    installDataSource(model_.get());
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDefaultDropAction(Qt::CopyAction);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->expandToDepth(0);
  }
  return window;
}

void DataWinCtlr::windowDidLoad() {
  setUpDiscSpanning();
  // The preferred format first; a layout file that the base then loads brings its own.
  const int preferred = defaults().intValue(QString::fromLatin1(VUKDataCDFormatKey));
  if (preferred != kDVDVideoFormat && dataFormatRow(static_cast<std::uint32_t>(preferred)))
    setFormatType(static_cast<unsigned>(preferred));
  BaseLayoutWinCtlr::windowDidLoad();
  model_->reloadData();
  if (auto* view = qobject_cast<QTreeView*>(dataLayoutView())) view->expandToDepth(0);
  spanningWindowLoaded();
}

QString DataWinCtlr::windowTitleForDocumentDisplayName(const QString& displayName) const {
  return cfmt(QStringLiteral("%@ - %@"), guiText("Data CD Title"), displayName);
}

// ---- DVD-Video mode ----

void DataWinCtlr::setAsVideoTSDoc() {
  videoTS_ = true;
  setFormatType(kDVDVideoFormat);
  if (currentLayoutType() == kLayoutData) model_->setIsDVDVideo(true);
  checkDVDMovieFormat();
  layoutState().discSpan = false;
  model_->setDiscSpanningOn(false);
  if (span_) span_->disableForVideoTS();
}

FS_Node* DataWinCtlr::rootChildTitled(const char* title) const {
  FS_Tree* tree = layoutTree();
  FS_Node* root = tree ? GetRootTreeNode(tree) : nullptr;
  if (!root) return nullptr;
  const std::uint32_t n = NumNodeChildren(tree, root);
  for (std::uint32_t i = 0; i < n; ++i) {
    FS_Node* child = TreeNodeAtIndex(tree, root, i);
    if (child && std::string_view(GetTitleNode(child)) == title) return child;
  }
  return nullptr;
}

bool DataWinCtlr::addRootFolder(const char* title) {
  FS_Tree* tree = layoutTree();
  FS_Node* root = tree ? GetRootTreeNode(tree) : nullptr;
  if (!root || rootChildTitled(title)) return false;
  FS_Node* folder = initNode(nullptr, title, nullptr, false);
  if (!folder) return false;
  SetIsExpandedNode(folder, true);
  if (AddTreeNode(tree, folder, root) != kNoErr) {
    // A sibling whose title differs only in case holds the name.
    termNode(folder);
    return false;
  }
  return true;
}

void DataWinCtlr::checkDVDMovieFormat() {
  if (formatType() != kDVDVideoFormat) return;
  bool added = addRootFolder(kVideoFolder);
  added = addRootFolder(kAudioFolder) || added;
  if (!added) return;
  const void* sender = dataLayoutView();
  NotificationCenter& center = NotificationCenter::instance();
  center.post(QString::fromLatin1(VUK_FilesAddedNotification), sender);
  center.post(QString::fromLatin1(VUK_LayoutChangedNotification), sender);
  model_->reloadData();
  if (auto* view = qobject_cast<QTreeView*>(dataLayoutView())) view->expandToDepth(0);
}

// ---- layout file ----

void DataWinCtlr::loadLayout(const LayoutFileIO& file) {
  BaseLayoutWinCtlr::loadLayout(file);
  layoutLoaded_ = true;
  const QByteArray map = layoutState().treeMap;
  if (!map.isEmpty()) {
    // Only a map that reads back whole becomes the layout: a damaged one would attach
    // nodes where they never were, or lose them without a word.
    FS_Tree* tree = nullptr;
    const bool fits = map.size() <= std::numeric_limits<std::int32_t>::max();
    if (fits && TNC_TreeMapToFSTreeWhole(map.constData(), static_cast<std::int32_t>(map.size()),
                                         &tree) == kNoErr) {
      model_->setTreeData(tree);
    } else {
      layoutLoaded_ = false;
      layoutState().treeMap.clear();
      sheets().alert(QStringLiteral("Invalid Layout File"),
                     QStringLiteral("Not A Valid Layout File!"));
    }
  }
  if (formatType() == kDVDVideoFormat && currentLayoutType() == kLayoutData)
    model_->setIsDVDVideo(true);
  model_->setDiscSpanningOn(discSpanningOn());
  selectSavedDestination();
  model_->reloadData();
  spanningLayoutLoaded();
}

void DataWinCtlr::selectSavedDestination() {
  const LayoutState& s = layoutState();
  setImageWriterPath(kCDImageWriterRef, s.destination.imagePath);
  setImageWriterPath(kISOImageWriterRef, s.destinationIsoPath);
  DeviceListManager* list = devices();
  DriveBar* bar = driveBar();
  if (!list || !bar) return;
  std::uint32_t ref = kNoDestination;
  if (!s.destination.vendor.isEmpty() || !s.destination.model.isEmpty()) {
    const int index = list->indexOfDriveByMatch(s.destination.vendor, s.destination.model,
                                                s.destination.version, false);
    if (index >= 0) ref = list->getDeviceRefByIndex(index);
  } else if (s.destination.imagePath.isEmpty() && !s.destinationIsoPath.isEmpty()) {
    ref = kISOImageWriterRef;
  } else if (!s.destination.imagePath.isEmpty()) {
    ref = kCDImageWriterRef;
  }
  QComboBox* popup = bar->layoutDstDriveButton;
  if (const int item = popup->findData(ref); ref != kNoDestination && item >= 0)
    popup->setCurrentIndex(item);
  LayoutUpdateDrive();
}

void DataWinCtlr::saveLayout(LayoutFileIO& file) {
  LayoutState& s = layoutState();
  s.treeMap = treeMapOf(layoutTree());
  // Each image writer's file under its own key, so an ISO destination survives a reload.
  const std::uint32_t ref = burnSettings().dstDriveRef;
  s.destination = LayoutDevice{};
  s.destinationIsoPath.clear();
  if (ref == kCDImageWriterRef) {
    s.destination.imagePath = cdImageWriterPath();
  } else if (ref == kISOImageWriterRef) {
    s.destinationIsoPath = ISOImageWriterPath();
  } else if (DeviceListManager* list = devices(); list && isRealDriveRef(ref)) {
    const int index = list->getIndexOfDeviceByRef(ref);
    s.destination =
        LayoutDevice{list->vendorOfDriveByIndex(index), list->modelOfDriveByIndex(index),
                     list->versionOfDriveByIndex(index), QStringLiteral("")};
  }
  BaseLayoutWinCtlr::saveLayout(file);
}

}  // namespace quillion
