// SPDX-License-Identifier: GPL-2.0-or-later
// Data tree editing of the layout window base: the data outline's buttons and clicks, the
// format pop-up, the options drawer, the file-properties sheet, the totals under the outline,
// the offer to take over an earlier session after a drop, and the data filter.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <ctime>

#include "burn/layout_codes.h"
#include "burn/progress_model.h"
#include "framework/cfmt.h"
#include "framework/defaults.h"
#include "framework/notification_center.h"
#include "framework/open_panel.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/data_edit_panels.h"
#include "layout/data_filter_editor.h"
#include "layout/data_layout_ctlr.h"
#include "layout/session_import.h"
#include "layout/session_tab.h"
#include "quillion/TNC.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace data_edit_detail {

// Bytes of one second of audio on a CD: 75 blocks of 2,048 bytes.
constexpr std::int64_t kBytesPerCdSecond = 153600;

// A node's date as asctime writes it, without its line feed; "" without a date.
QString nodeDateText(const std::tm* date) {
  if (date == nullptr) return {};
  std::tm copy = *date;
  QString text = QString::fromLatin1(std::asctime(&copy));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text;
}

QTreeView* asTreeView(QAbstractItemView* view) {
  return qobject_cast<QTreeView*>(view);
}

}  // namespace data_edit_detail

using namespace data_edit_detail;

// ---- wiring ----

void BaseLayoutWinCtlr::buildDataEditPanels(QMainWindow* window, QLayout* layout) {
  dataBar_ = DataLayoutBar::build(layout->parentWidget(), kind_.formatType != 0);
  layout->addWidget(dataBar_->box);
  // MP3 layouts have options of their own.
  if (kind_.layoutType != kLayoutMP3) optionsDrawer_ = DataOptionsDrawer::build(window);
  fpSheet_ = FilePropertiesSheet::build(window);
}

void BaseLayoutWinCtlr::wireDataEditing() {
  QAbstractItemView* view = dataLayoutView_.data();
  if (view == nullptr || !dataBar_) return;
  dataFilterType_ = guiText("All");
  dataFilterEditor_ = std::make_unique<DataFilterEditor>(defaults(), window());
  connect(dataFilterEditor_.get(), &DataFilterEditor::listChanged, this,
          &BaseLayoutWinCtlr::rebuildDataFilterPopup);
  connect(dataFilterEditor_->dataFilterCloseButton(), &QPushButton::clicked, this,
          &BaseLayoutWinCtlr::dataFilterClose);

  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Names are edited by a second click on a selected row, never by the view on its own.
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setDragEnabled(true);
  view->setAcceptDrops(true);
  view->setDropIndicatorShown(true);
  connect(view, &QAbstractItemView::clicked, this, [this] { singleDataAction(); });
  connect(view, &QAbstractItemView::doubleClicked, this, [this] { doubleDataAction(); });

  const bool picture = QLatin1String(kind_.typeName) == QLatin1String("Picture CD");
  connect(dataBar_->newButton, &QPushButton::clicked, this, &BaseLayoutWinCtlr::DLnewDataItem);
  connect(dataBar_->addDataTrackButton, &QPushButton::clicked, this, [this, picture] {
    if (picture)
      DLaddPictureItem();
    else
      DLaddDataItem();
  });
  connect(dataBar_->removeDataTrackButton, &QPushButton::clicked, this,
          &BaseLayoutWinCtlr::DLremoveDataItem);
  connect(dataBar_->dataOptionsButton, &QPushButton::clicked, this,
          &BaseLayoutWinCtlr::DLtoggleDataOptions);
  if (dataBar_->formatButton)
    connect(dataBar_->formatButton, &QComboBox::activated, this, [this] { toggleFormat(); });
  QComboBox* filters = dataBar_->dataFilterButton;
  connect(filters, &QComboBox::activated, this,
          [this, filters](int index) { dataFilterChange(filters->itemText(index)); });

  if (DataOptionsDrawer* d = optionsDrawer_.get()) {
    connect(d->ISO9660_cdromXASwitch, &QCheckBox::clicked, this,
            &BaseLayoutWinCtlr::DLtoggleCDXAMode);
    connect(d->ISO9660_addAppleExtSwitch, &QCheckBox::clicked, this,
            &BaseLayoutWinCtlr::DLtoggleAppleExt);
    const std::pair<QLineEdit*, IsoNameField> fields[] = {
        {d->ISO9660_volumeSetNameField, IsoNameField::kVolumeSet},
        {d->ISO9660_systemNameField, IsoNameField::kSystem},
        {d->ISO9660_publisherNameField, IsoNameField::kPublisher},
        {d->ISO9660_preparerNameField, IsoNameField::kPreparer},
    };
    for (const auto& [edit, field] : fields)
      connect(edit, &QLineEdit::editingFinished, this,
              [this, field = field] { DLtextDidEndEditing(field); });
    wireSessionTab();
  }
  connect(fpSheet_->FPOkButton, &QPushButton::clicked, this, &BaseLayoutWinCtlr::FPOkAction);
  connect(fpSheet_->FPCancelButton, &QPushButton::clicked, this,
          &BaseLayoutWinCtlr::FPCancelAction);
  rebuildDataFilterPopup();
}

void BaseLayoutWinCtlr::wireSessionTab() {
  DataOptionsDrawer* d = optionsDrawer_.get();
  if (d == nullptr || sessionTab_) return;
  const auto state = [this] {
    DataOptionsDrawer* drawer = optionsDrawer_.get();
    SessionTabState s;
    s.hasDrawer = drawer != nullptr;
    s.drawerOpenOrOpening = drawer && drawer->isOpen();
    s.selectedTab = drawer ? drawer->selectedTabIdentifier() : QString();
    // Only a drive holds sessions; the image writers never count as ready here.
    const std::uint32_t ref = settings_.dstDriveRef;
    if (isRealDriveRef(ref)) {
      refreshDiscInfo();
      if (DeviceListManager* list = devices()) s.driveStatus = list->statusOfDevice(ref);
    }
    s.discState = discInfo_ ? discInfo_->discStatus : 0;
    return s;
  };
  sessionTab_ =
      std::make_unique<SessionTabCtlr>(d->sessionTab, dataSource(), dataLayoutView_.data(), state,
                                       [this] { return settings_.dstDriveRef; });
  // Showing the tab reads the disc's sessions.
  connect(d->ISO9660_iso9660TabView, &QTabWidget::currentChanged, sessionTab_.get(),
          &SessionTabCtlr::updateISO9660SessionInfo);
}

void BaseLayoutWinCtlr::syncDataControlsWithState() {
  if (!dataBar_) return;
  // A format the pop-up does not offer leaves it without a choice; the refresh then falls
  // back to HFS Plus.
  if (QComboBox* formats = dataBar_->formatButton)
    formats->setCurrentIndex(formats->findData(formatType()));
  selectSavedDataFilter();
  if (DataOptionsDrawer* d = optionsDrawer_.get()) {
    d->ISO9660_volumeSetNameField->setText(state_.volumeSetName);
    d->ISO9660_systemNameField->setText(state_.systemName);
    d->ISO9660_publisherNameField->setText(state_.publisherName);
    d->ISO9660_preparerNameField->setText(state_.preparerName);
    d->ISO9660_cdromXASwitch->setChecked(state_.writeXA);
    d->ISO9660_addAppleExtSwitch->setChecked(state_.appendAppleExtension);
  }
  DLrefreshData();
}

DataLayoutCtlr* BaseLayoutWinCtlr::dataSource() const {
  const QAbstractItemView* view = dataLayoutView_.data();
  return view ? qobject_cast<DataLayoutCtlr*>(view->model()) : nullptr;
}

void BaseLayoutWinCtlr::installDataSource(DataLayoutCtlr* model) {
  QAbstractItemView* view = dataLayoutView_.data();
  if (view == nullptr || model == nullptr) return;
  view->setModel(model);
  model->setNotificationSender(view);
  if (sessionTab_) sessionTab_->setLayout(model);
  if (!dataFilterType_.isEmpty()) model->setNewFilter(dataFilterType_);
  model->setFolderReplacesDisc(defaults().boolValue(QString::fromLatin1(VUKFolderReplaceCDKey)));
  if (firstTreeRef_) model->setTreeData(firstTreeRef_.release());
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &BaseLayoutWinCtlr::outlineViewSelectionDidChange);
  // The refresh reads the format from the pop-up: it must show the layout's first.
  syncDataControlsWithState();
}

void BaseLayoutWinCtlr::postFromDataView(const char* name) {
  if (const QAbstractItemView* view = dataLayoutView_.data())
    NotificationCenter::instance().post(QString::fromLatin1(name), view);
}

// ---- the tree ----

FS_Tree* BaseLayoutWinCtlr::DLgetDataTreeRef() const {
  if (DataLayoutCtlr* model = dataSource()) return model->treeData();
  return firstTreeRef_.get();
}

void BaseLayoutWinCtlr::DLloadNewDataTree(FS_Tree* tree) {
  if (tree == nullptr) return;
  if (DataLayoutCtlr* model = dataSource())
    model->setTreeData(tree);
  else
    firstTreeRef_.reset(tree);
  DLrefreshData();
}

std::vector<FS_Node*> BaseLayoutWinCtlr::selectedDataNodes() const {
  std::vector<FS_Node*> nodes;
  DataLayoutCtlr* model = dataSource();
  const QAbstractItemView* view = dataLayoutView_.data();
  const QItemSelectionModel* selection = model && view ? view->selectionModel() : nullptr;
  if (selection == nullptr) return nodes;
  for (const QModelIndex& index : selection->selectedRows())
    if (FS_Node* node = model->nodeForIndex(index)) nodes.push_back(node);
  return nodes;
}

FS_Node* BaseLayoutWinCtlr::insertionPoint() const {
  FS_Tree* tree = DLgetDataTreeRef();
  const std::vector<FS_Node*> selected = selectedDataNodes();
  if (selected.empty()) return tree ? GetRootTreeNode(tree) : nullptr;
  FS_Node* node = selected.front();
  return IsFolderNode(node) ? node : GetParentNode(node);
}

void BaseLayoutWinCtlr::DLnewDataItem() {
  DataLayoutCtlr* model = dataSource();
  if (model == nullptr) return;
  FS_Node* parent = insertionPoint();
  if (model->newFolder(parent, guiText("New Folder String")) == nullptr) return;
  postFromDataView(VUK_LayoutChangedNotification);
  if (QTreeView* tree = asTreeView(dataLayoutView_)) tree->expand(model->indexForNode(parent));
  DLrefreshData();
}

void BaseLayoutWinCtlr::DLaddDataItem() {
  QStringList types;
  if (dataFilterType_ != guiText("All")) {
    const QString f = dataFilterType_;
    types = {QString(), f, f.left(3), f.toLower(), f.left(3).toLower()};
  }
  runOpenPanel(types);
}

void BaseLayoutWinCtlr::DLaddPictureItem() {
  runOpenPanel({QString(), QStringLiteral("jpg")});
}

void BaseLayoutWinCtlr::runOpenPanel(const QStringList& types) {
  if (dataSource() == nullptr) return;
  OpenPanel& panel = openPanel_ ? *openPanel_ : OpenPanel::platform();
  OpenPanelRequest request;
  request.directory = QDir::homePath();
  request.types = types;
  (void)panel.beginSheet(sheets(), request, [this](int code, const QStringList& paths) {
    DLopenDataPanelDidEnd(code, paths);
  });
}

void BaseLayoutWinCtlr::DLopenDataPanelDidEnd(int returnCode, const QStringList& paths) {
  DataLayoutCtlr* model = dataSource();
  if (returnCode != OpenPanel::kOK || model == nullptr || paths.isEmpty()) return;
  theFilePath_ = paths.last();
  model->setFolderReplacesDisc(defaults().boolValue(QString::fromLatin1(VUKFolderReplaceCDKey)));
  // Added as a drop of the same paths: a file the filter refuses is skipped alone, and the
  // paths after it are still added.
  model->addPaths(paths, insertionPoint());
  DLrefreshData();
}

void BaseLayoutWinCtlr::DLremoveDataItem() {
  DataLayoutCtlr* model = dataSource();
  if (model == nullptr) return;
  QAbstractItemView* view = dataLayoutView_.data();
  if (view == nullptr) return;
  const std::vector<FS_Node*> nodes = selectedDataNodes();
  view->clearSelection();
  const std::size_t removed = model->removeNodes(nodes);
  // Every removal changes the document, the disc's own included.
  if (removed > 0) postFromDataView(VUK_LayoutChangedNotification);
  for (std::size_t i = 0; i < removed; ++i) postFromDataView(VUK_FilesRemovedNotification);
  view->clearSelection();
  dataBar_->removeDataTrackButton->setEnabled(false);
  DLrefreshData();
}

// ---- totals and format ----

void BaseLayoutWinCtlr::DLrefreshData() {
  if (dataLayoutView_.isNull() || !dataBar_) return;
  FS_Tree* tree = DLgetDataTreeRef();
  std::uint32_t folders = 0;
  std::uint32_t files = 0;
  std::uint64_t dataBytes = 0;
  std::uint64_t rsrcBytes = 0;
  if (tree != nullptr) (void)TreeInfo(tree, &folders, &files, &dataBytes, &rsrcBytes, true);
  totals_.totalSize = dataBytes + rsrcBytes;
  totals_.totalSizeStr = ZEBUtils::bytesToString(totals_.totalSize);
  totals_.totalFilesFolders = std::uint64_t{folders} + files;
  totals_.totalFilesFoldersStr = QString::number(totals_.totalFilesFolders);
  dataBar_->totalSizeField->setText(totals_.totalSizeStr);
  dataBar_->totalFilesField->setText(totals_.totalFilesFoldersStr + guiText("Items String"));
  if (DataLayoutCtlr* model = dataSource(); model && NumNodes(tree) != 0) {
    if (QTreeView* view = asTreeView(dataLayoutView_)) view->expand(model->index(0, 0));
  }
  const auto size = static_cast<std::int64_t>(totals_.totalSize);
  if (kind_.layoutType == kLayoutCDExtra) {
    const std::int64_t seconds = size / kBytesPerCdSecond + totalTimeInSeconds_;
    dataBar_->totalSizeTextField->setText(
        cfmt(QStringLiteral("%@: %@"), guiText("Total"),
             QString::fromStdString(secondsToTimeString(seconds))));
  } else if (kind_.layoutType == kLayoutMixedMode) {
    // In 64 bits: a long audio list must not wrap the sum.
    const std::int64_t bytes = std::int64_t{totalTimeInSeconds_} * kBytesPerCdSecond + size;
    dataBar_->totalSizeTextField->setText(cfmt(
        QStringLiteral("%@: %@"), guiText("Total"),
        ZEBUtils::bytesToString(static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0)))));
  }
  toggleFormat();
}

void BaseLayoutWinCtlr::toggleFormat() {
  // A window without the pop-up keeps the format its kind burns with.
  QComboBox* formats = dataBar_ ? dataBar_->formatButton : nullptr;
  if (formats == nullptr) return;
  if (formats->currentIndex() < 0) {
    state_.fileFormat = static_cast<int>(kFormatHFSPlus);
  } else if (const unsigned tag = formats->currentData().toUInt(); tag != formatType()) {
    postFromDataView(VUK_LayoutChangedNotification);
    state_.fileFormat = static_cast<int>(tag);
  }
  const FormatControls c = formatControlsFor(formatType(), kind_.layoutType);
  DataOptionsDrawer* d = optionsDrawer_.get();
  if (c.closeDrawer && d) d->close();
  dataBar_->dataOptionsButton->setEnabled(c.optionsButtonEnabled);
  if (!c.closeDrawer && d) {
    if (c.selectSessionTab) d->ISO9660_iso9660TabView->setCurrentIndex(1);
    d->ISO9660_cdromXASwitch->setEnabled(c.xaEnabled);
    if (c.xaForcedOff) {
      d->ISO9660_cdromXASwitch->setChecked(false);
      state_.writeXA = false;
    }
    d->ISO9660_addAppleExtSwitch->setEnabled(c.appleExtEnabled);
    for (QLineEdit* edit : {d->ISO9660_volumeSetNameField, d->ISO9660_systemNameField,
                            d->ISO9660_publisherNameField, d->ISO9660_preparerNameField})
      edit->setEnabled(c.namesEnabled);
  }
  DataLayoutCtlr* model = kind_.layoutType == kLayoutData ? dataSource() : nullptr;
  if (c.dvdVideo) {
    if (model) model->setIsDVDVideo(true);
    checkDVDMovieFormat();
    return;
  }
  if (model) model->setIsDVDVideo(false);
}

// ---- the options drawer ----

void BaseLayoutWinCtlr::DLtoggleDataOptions() {
  DataOptionsDrawer* d = optionsDrawer_.get();
  if (d == nullptr) return;
  if (d->isOpen()) {
    d->close();
    return;
  }
  if (isRealDriveRef(settings_.dstDriveRef)) refreshDiscInfo();
  if (sessionTab_) sessionTab_->drawerWillOpen();
  d->open();
  if (sessionTab_) sessionTab_->updateISO9660SessionInfo();
}

void BaseLayoutWinCtlr::DLtoggleCDXAMode() {
  if (!optionsDrawer_) return;
  state_.writeXA = optionsDrawer_->ISO9660_cdromXASwitch->isChecked();
  postFromDataView(VUK_LayoutChangedNotification);
}

void BaseLayoutWinCtlr::DLtoggleAppleExt() {
  if (!optionsDrawer_) return;
  state_.appendAppleExtension = optionsDrawer_->ISO9660_addAppleExtSwitch->isChecked();
  postFromDataView(VUK_LayoutChangedNotification);
}

void BaseLayoutWinCtlr::DLtextDidEndEditing(IsoNameField field) {
  DataOptionsDrawer* d = optionsDrawer_.get();
  if (d == nullptr) return;
  QLineEdit* edit = nullptr;
  QString* stored = nullptr;
  switch (field) {
    case IsoNameField::kVolumeSet:
      edit = d->ISO9660_volumeSetNameField;
      stored = &state_.volumeSetName;
      break;
    case IsoNameField::kSystem:
      edit = d->ISO9660_systemNameField;
      stored = &state_.systemName;
      break;
    case IsoNameField::kPublisher:
      edit = d->ISO9660_publisherNameField;
      stored = &state_.publisherName;
      break;
    case IsoNameField::kPreparer:
      edit = d->ISO9660_preparerNameField;
      stored = &state_.preparerName;
      break;
  }
  if (edit == nullptr || stored == nullptr) return;
  const QString text = edit->text();
  // Characters, not UTF-16 units: a character outside the basic plane counts once.
  if (static_cast<std::size_t>(text.toUcs4().size()) <= isoNameLimit(field)) {
    if (text != *stored) {
      postFromDataView(VUK_LayoutChangedNotification);
      *stored = text;
    }
    return;
  }
  edit->clear();
  (void)sheets().alert(QStringLiteral("String Too Long Title"), QStringLiteral("String Too Long"));
}

// ---- outline clicks and the file-properties sheet ----

void BaseLayoutWinCtlr::outlineViewSelectionDidChange() {
  const QAbstractItemView* view = dataLayoutView_.data();
  const QItemSelectionModel* selection = view ? view->selectionModel() : nullptr;
  if (!dataBar_ || selection == nullptr) return;
  dataBar_->removeDataTrackButton->setEnabled(selection->hasSelection());
}

void BaseLayoutWinCtlr::singleDataAction() {
  QAbstractItemView* view = dataLayoutView_.data();
  if (!dataBar_ || dataSource() == nullptr || view == nullptr || !view->selectionModel()) return;
  const QModelIndexList rows = view->selectionModel()->selectedRows();
  dataBar_->removeDataTrackButton->setEnabled(!rows.isEmpty());
  if (rows.isEmpty()) {
    lastRowSelected_ = QPersistentModelIndex();
    return;
  }
  const QModelIndex clicked = view->currentIndex().siblingAtColumn(0);
  if (rows.size() == 1 && clicked.isValid() && lastRowSelected_ == clicked) view->edit(clicked);
  lastRowSelected_ = clicked;
}

void BaseLayoutWinCtlr::doubleDataAction() {
  DataLayoutCtlr* model = dataSource();
  const std::vector<FS_Node*> selected = selectedDataNodes();
  if (model == nullptr || !fpSheet_ || selected.empty()) return;
  FS_Node* node = selected.front();
  FilePropertiesSheet& s = *fpSheet_;
  s.FPTitleField->setText(QString::fromUtf8(GetTitleNode(node)));
  const QIcon icon = model->data(model->indexForNode(node), Qt::DecorationRole).value<QIcon>();
  s.FPIconView->setPixmap(icon.pixmap(32, 32));
  s.FPCreatedField->setText(nodeDateText(creationDate(node)));
  s.FPModifiedField->setText(nodeDateText(modifiedDate(node)));
  const char* kind = IsShortcutNode(node) ? "Shortcut Node"
                     : IsFolderNode(node) ? "Folder Node"
                                          : "File Node";
  s.FPKindField->setText(guiText(kind));
  if (IsFolderNode(node)) {
    std::uint32_t folders = 0;
    std::uint32_t files = 0;
    std::uint64_t dataBytes = 0;
    std::uint64_t rsrcBytes = 0;
    (void)GetChildrenInfoNode(node, &folders, &files, &dataBytes, &rsrcBytes, true);
    s.FPSizeField->setText(ZEBUtils::bytesToString(dataBytes + rsrcBytes) +
                           cfmt(QStringLiteral(", %d %@ / %d %@"), files, guiText("Files Node"),
                                folders, guiText("Folders Node")));
  } else {
    s.FPSizeField->setText(
        ZEBUtils::bytesToString(dataActualSizeNode(node) + rsrcActualSizeNode(node)) +
        cfmt(QStringLiteral(" ( %@ %@ )"),
             ZEBUtils::bytesToString(dataSizeNode(node) + rsrcSizeNode(node)),
             guiText("Actual Size")));
  }
  const bool imported = IsISO9660ImportItem(node);
  s.FPOriginalField->setText(imported ? guiText("Imported String")
                                      : QString::fromUtf8(GetFullPathNameNode(node)));
  s.FPOriginalField->setStyleSheet(imported ? QStringLiteral("color: red")
                                            : QStringLiteral("color: black"));
  (void)sheets().beginSheet(s.dialog.get());
}

void BaseLayoutWinCtlr::FPOkAction() {
  DataLayoutCtlr* model = dataSource();
  const std::vector<FS_Node*> selected = selectedDataNodes();
  if (model != nullptr && !selected.empty()) {
    FS_Node* node = selected.front();
    const QString title = fpSheet_->FPTitleField->text();
    // The model renames and tells the document; a name a sibling holds is refused and the
    // node keeps its own.
    if (title != QString::fromUtf8(GetTitleNode(node)))
      (void)model->setData(model->indexForNode(node), title, Qt::EditRole);
  }
  sheets().endSheet(fpSheet_->dialog.get(), 1);
}

void BaseLayoutWinCtlr::FPCancelAction() {
  if (fpSheet_) sheets().endSheet(fpSheet_->dialog.get(), 0);
}

// ---- notifications ----

void BaseLayoutWinCtlr::updateItemsInfo() {
  DLrefreshData();
  if (QTreeView* view = asTreeView(dataLayoutView_)) view->resizeColumnToContents(0);
}

void BaseLayoutWinCtlr::NotEnoughSpace() {
  (void)sheets().alert(QStringLiteral("Not Enough Space"),
                       QStringLiteral("Not Enough Cache Space"));
}

void BaseLayoutWinCtlr::filesDroppedInLayout() {
  if (isRealDriveRef(settings_.dstDriveRef)) refreshDiscInfo();
  ImportOfferFacts facts;
  if (discInfo_) {
    facts.hasDisc = true;
    facts.mediumClass = discInfo_->isDVD;
    facts.dvdKind = discInfo_->dvdKind;
    facts.fileSystems = discInfo_->fileSystems;
    facts.discStatus = discInfo_->discStatus;
    facts.trackCount = discInfo_->trackCount;
  }
  facts.formatType = formatType();
  // A list the session tab read counts as read: the disc's sessions are on show already.
  facts.sessionsRead = sessionListRead_ || (sessionTab_ && sessionTab_->table().hasSessionInfo());
  facts.sheetAttached = sheets().hasAttachedSheet();
  if (!offersSessionImport(facts)) return;
  (void)sheets().alert(QStringLiteral("Import Previous Session Title"),
                       QStringLiteral("Import Previous Session Text"),
                       {QStringLiteral("OK"), QStringLiteral("Cancel")},
                       [this](int button) { didDropFileEndSheet(button == 0 ? 1 : 0); });
}

void BaseLayoutWinCtlr::didDropFileEndSheet(int returnCode) {
  if (returnCode != 1) return;
  const std::uint32_t drive = settings_.dstDriveRef;
  (void)ZEBUtils::unmountDiskWithRef(drive, false);
  const DiscSessions disc = readDiscSessions(drive);
  // Read once: the offer is not made again until the session list is freed.
  sessionListRead_ = true;
  if (disc.status != kNoErr || disc.sessions.empty()) return;
  FS_Tree* imported = nullptr;
  if (TNC_ISO9660SessionToFSTree(&disc.sessions.front(), &imported) != kNoErr ||
      imported == nullptr) {
    if (imported != nullptr) termTree(imported);
    return;
  }
  DataLayoutCtlr* model = dataSource();
  if (model == nullptr) {
    termTree(imported);
    return;
  }
  unsigned clashes = 0;
  // The session tab's choice of destination, where the window has the tab.
  const bool toFolder = sessionTab_ ? sessionTab_->importToFolder() : importToFolder_;
  (void)model->importSession(imported, sessionVolumeName(disc.sessions.front()), toFolder,
                             &clashes);
  if (QTreeView* view = asTreeView(dataLayoutView_)) view->expand(model->index(0, 0));
}

// ---- the data filter ----

void BaseLayoutWinCtlr::rebuildDataFilterPopup() {
  if (!dataBar_ || !dataFilterEditor_) return;
  QComboBox* popup = dataBar_->dataFilterButton;
  const QStringList& list = dataFilterEditor_->dataFilterArray();
  const QSignalBlocker quiet(popup);
  popup->clear();
  popup->addItems(list);
  // The edit entry stands apart from the filters.
  if (list.size() > 1) popup->insertSeparator(static_cast<int>(list.size()) - 1);
  popup->setCurrentIndex(std::max(0, popup->findText(dataFilterType_)));
}

void BaseLayoutWinCtlr::dataFilterChange(const QString& title) {
  if (title == guiText("Edit...")) {
    if (dataFilterEditor_) (void)sheets().beginSheet(dataFilterEditor_->dataFilterPanel());
    return;
  }
  dataFilterType_ = title;
  if (dataBar_) state_.dataFilterIndex = std::max(0, dataBar_->dataFilterButton->findText(title));
  if (DataLayoutCtlr* model = dataSource()) model->setNewFilter(title);
}

void BaseLayoutWinCtlr::selectSavedDataFilter() {
  QComboBox* popup = dataBar_ ? dataBar_->dataFilterButton : nullptr;
  if (popup == nullptr) return;
  // The index a layout file saved, when it still names a filter of the list (not the
  // separator or the edit entry); the pop-up and the model's filter move together, since a
  // pop-up showing a filter the drops do not use would mislead.
  const int index = state_.dataFilterIndex;
  const QString title = index >= 0 && index < popup->count() ? popup->itemText(index) : QString();
  if (title.isEmpty() || title == guiText("Edit...")) {
    state_.dataFilterIndex = 0;
    return;
  }
  {
    const QSignalBlocker quiet(popup);
    popup->setCurrentIndex(index);
  }
  dataFilterType_ = title;
  if (DataLayoutCtlr* model = dataSource()) model->setNewFilter(title);
}

void BaseLayoutWinCtlr::dataFilterAdd() {
  if (dataFilterEditor_) dataFilterEditor_->dataFilterAdd();
}

void BaseLayoutWinCtlr::dataFilterRemove() {
  if (dataFilterEditor_) dataFilterEditor_->dataFilterRemove();
}

void BaseLayoutWinCtlr::dataFilterClose() {
  if (!dataFilterEditor_) return;
  sheets().endSheet(dataFilterEditor_->dataFilterPanel(), 1);
  dataFilterEditor_->closeEditing();
  dataFilterType_ = guiText("All");
  state_.dataFilterIndex = 0;
  if (dataBar_) dataBar_->dataFilterButton->setCurrentIndex(0);
  // The pop-up now says "All": the outline's model filters by it too.
  if (DataLayoutCtlr* model = dataSource()) model->setNewFilter(dataFilterType_);
}

}  // namespace quillion
