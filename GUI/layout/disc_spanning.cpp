// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/disc_spanning.h"

#include <QDir>
#include <QHBoxLayout>
#include <QStandardItemModel>
#include <chrono>

#include "burn/layout_codes.h"
#include "framework/messages.h"
#include "framework/save_panel.h"
#include "framework/sheet_host.h"
#include "quillion/DSPN.h"
#include "quillion/FS.h"
#include "shell/device_list_manager.h"

namespace quillion {

namespace {

constexpr std::chrono::seconds kNextDiscPoll{1};

QString spanningText(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

// Enables each item of `popup` by `enabled` of the item's data (a number).
void enableSpanPopUpItems(QComboBox* popup, const std::function<bool(std::uint32_t)>& enabled) {
  auto* items = popup ? qobject_cast<QStandardItemModel*>(popup->model()) : nullptr;
  if (!items) return;
  for (int i = 0; i < popup->count(); ++i)
    if (QStandardItem* item = items->item(i))
      item->setEnabled(enabled(popup->itemData(i).toUInt()));
}

}  // namespace

void DiscSizePopUp::showPopup() {
  if (aboutToShow) aboutToShow();
  QComboBox::showPopup();
}

DiscSpanControls::DiscSpanControls(const std::vector<span::DiscSize>& sizes, QWidget* window)
    : widget(new QWidget(window)) {
  widget->setObjectName(QStringLiteral("discSpanBox"));
  auto* row = new QHBoxLayout(widget);
  row->setContentsMargins(0, 0, 0, 0);
  discSpanSwitch = new QCheckBox(spanningText("Disc Spanning"), widget);
  discSpanSwitch->setObjectName(QStringLiteral("discSpanSwitch"));
  discSpanList = new DiscSizePopUp(widget);
  discSpanList->setObjectName(QStringLiteral("discSpanList"));
  fillDiscSizeList(discSpanList, sizes);
  discSpanNumber = new QLabel(widget);
  discSpanNumber->setObjectName(QStringLiteral("discSpanNumber"));
  discSpanText = new QLabel(widget);
  discSpanText->setObjectName(QStringLiteral("discSpanText"));
  discSpanSaveLogButton = new QPushButton(spanningText("Save Span Log"), widget);
  discSpanSaveLogButton->setObjectName(QStringLiteral("discSpanSaveLogButton"));
  discSpanSaveLogButton->setEnabled(false);
  discSpanSaveLogButton->hide();
  row->addWidget(discSpanSwitch);
  row->addWidget(discSpanList);
  row->addWidget(discSpanNumber);
  row->addWidget(discSpanText);
  row->addStretch();
  row->addWidget(discSpanSaveLogButton);
}

void DiscSpanning::TreeDeleter::operator()(FS_Tree* tree) const {
  termTree(tree);
}

DiscSpanning::DiscSpanning(QWidget* window, SheetHost& sheets, DiscSpanHooks hooks,
                           const std::vector<span::DiscSize>& sizes)
    : window_(window),
      sheets_(sheets),
      hooks_(std::move(hooks)),
      controls_(sizes, window),
      warning_(std::make_unique<LargeFilesSheet>(window)),
      insertDisc_(std::make_unique<InsertDiscSheet>(window)) {
  warning_->setOnDismiss([this] { dismissWarningPanel(); });
  warning_->setOnContinue([this] { removeFilesAndContinue(); });
  insertDisc_->setOnCancel([this] { cancelSpanDisc(); });
  if (auto* list = dynamic_cast<DiscSizePopUp*>(controls_.discSpanList.data()))
    list->aboutToShow = [this] { validateDiscSizeItems(); };
  QObject::connect(controls_.discSpanSwitch, &QCheckBox::clicked, controls_.widget,
                   [this] { enableDiscSpan(); });
  QObject::connect(controls_.discSpanList, &QComboBox::activated, controls_.widget,
                   [this] { changeDiscSpanList(); });
  QObject::connect(controls_.discSpanSaveLogButton, &QPushButton::clicked, controls_.widget,
                   [this] { discSpanSaveLog(); });
}

DiscSpanning::~DiscSpanning() {
  waitForDiscSpanTimer_.stop();
  // The controls call into this object: they go with it, not later with the window.
  delete controls_.widget.data();
}

bool DiscSpanning::isOn() const {
  return controls_.discSpanSwitch->isChecked();
}

std::uint32_t DiscSpanning::selectedSize() const {
  return selectedDiscSize(controls_.discSpanList);
}

QString DiscSpanning::treeTitle() const {
  const char* title = GetTreeTitle(hooks_.layoutTree());
  return QString::fromUtf8(title ? title : "");
}

void DiscSpanning::setSwitch(bool on) {
  controls_.discSpanSwitch->setChecked(on);
}

// ---- counts ----

void DiscSpanning::estimate(std::uint32_t capacity) {
  span::Estimate e = span::estimateDiscs(hooks_.layoutTree(), capacity, hooks_.formatType());
  numDiscsRequired_ = e.discs;
  largeFiles_ = std::move(e.tooBig);
}

void DiscSpanning::getSpanDiscInfo() {
  largeFiles_.reset();
  biggestFileSizeIn2kBlks_ = 0;
  estimate(selectedSize());
  biggestFileSizeIn2kBlks_ = span::biggestFileBlocks(hooks_.layoutTree(), hooks_.formatType());
}

void DiscSpanning::showCount() {
  controls_.discSpanNumber->setText(QString::number(numDiscsRequired_));
  controls_.discSpanText->setText(spanningText("Disc(s)"));
}

void DiscSpanning::hideCount() {
  controls_.discSpanNumber->clear();
  controls_.discSpanText->clear();
}

void DiscSpanning::awake() {
  if (isOn()) {
    controls_.discSpanList->setEnabled(true);
    getSpanDiscInfo();
    showCount();
  } else {
    controls_.discSpanList->setEnabled(false);
    hideCount();
  }
  curSelectedDiscSizeIn2kBlks_ = lastSelectedDiscSizeIn2kBlks_ = selectedSize();
}

void DiscSpanning::toggleFormat() {
  if (!span::formatAllowsSpanning(hooks_.formatType())) {
    const bool wasOn = isOn();
    controls_.discSpanSwitch->setChecked(false);
    controls_.discSpanSwitch->setEnabled(false);
    controls_.discSpanList->setEnabled(false);
    hideCount();
    // The model stops flagging new nodes as well: nothing would clear the flags.
    if (wasOn) hooks_.setModelSpanning(false);
    return;
  }
  controls_.discSpanSwitch->setEnabled(true);
  if (isOn()) {
    getSpanDiscInfo();
    showCount();
  }
}

void DiscSpanning::disableForVideoTS() {
  const bool wasOn = isOn();
  for (QWidget* w :
       std::initializer_list<QWidget*>{controls_.discSpanSwitch, controls_.discSpanList}) {
    w->setEnabled(false);
    w->hide();
  }
  controls_.discSpanSwitch->setChecked(false);
  hideCount();
  if (wasOn) hooks_.setModelSpanning(false);
}

void DiscSpanning::enableDiscSpan() {
  if (isOn()) {
    getSpanDiscInfo();
    QComboBox* list = controls_.discSpanList;
    const int earlier = list->currentIndex();
    const auto holds = [&](std::uint32_t blocks) {
      (void)selectDiscSize(list, blocks);
      estimate(blocks);
      return largeFiles_.empty();
    };
    const auto found =
        span::searchDiscSize(discSizesOf(list), static_cast<std::size_t>(earlier), holds);
    if (!found) {
      controls_.discSpanSwitch->setChecked(false);
      list->setCurrentIndex(earlier);
      estimate(selectedSize());
      controls_.discSpanList->setEnabled(false);
      hideCount();
      openWarning(LargeFilesSheet::Reason::kFilesWontFit);
    } else {
      list->setCurrentIndex(static_cast<int>(*found));
      curSelectedDiscSizeIn2kBlks_ = lastSelectedDiscSizeIn2kBlks_ = selectedSize();
      list->setEnabled(true);
      showCount();
      if (isImageWriterRef(hooks_.destinationRef())) hooks_.leaveImageWriter();
    }
  } else {
    controls_.discSpanList->setEnabled(false);
    hideCount();
  }
  hooks_.setModelSpanning(isOn());
}

void DiscSpanning::changeDiscSpanList() {
  curSelectedDiscSizeIn2kBlks_ = selectedSize();
  getSpanDiscInfo();
  if (largeFiles_.empty()) {
    lastSelectedDiscSizeIn2kBlks_ = curSelectedDiscSizeIn2kBlks_;
    showCount();
    return;
  }
  curSelectedDiscSizeIn2kBlks_ = lastSelectedDiscSizeIn2kBlks_;
  openWarning(LargeFilesSheet::Reason::kRemoveLargeFiles);
}

bool DiscSpanning::discSizeItemEnabled(std::uint32_t blocks) {
  if (!isOn() || blocks == 0) return true;
  // Asked while a menu opens: the window's own large-files list stays as it is.
  return span::estimateDiscs(hooks_.layoutTree(), blocks, hooks_.formatType()).tooBig.empty();
}

void DiscSpanning::validateDiscSizeItems() {
  enableSpanPopUpItems(controls_.discSpanList,
                       [this](std::uint32_t blocks) { return discSizeItemEnabled(blocks); });
}

bool DiscSpanning::destinationItemEnabled(std::uint32_t ref) const {
  return !isOn() || !isImageWriterRef(ref);
}

bool DiscSpanning::formatItemEnabled(unsigned format) const {
  return !isOn() || span::formatAllowsSpanning(format);
}

void DiscSpanning::validateWindowItems(QComboBox* destinations, QComboBox* formats) const {
  enableSpanPopUpItems(destinations,
                       [this](std::uint32_t ref) { return destinationItemEnabled(ref); });
  enableSpanPopUpItems(formats, [this](std::uint32_t format) { return formatItemEnabled(format); });
}

void DiscSpanning::itemsRemoved() {
  if (!isOn()) return;
  getSpanDiscInfo();
  showCount();
}

bool DiscSpanning::filesDroppedInLayout() {
  if (!isOn()) return false;
  hooks_.refreshOutline();
  getSpanDiscInfo();
  if (!largeFiles_.empty()) {
    openWarning(LargeFilesSheet::Reason::kRemoveLargeFiles);
    return true;
  }
  (void)fstree_ResetAllTempNodes(hooks_.layoutTree(), false);
  showCount();
  return true;
}

// ---- the warning sheet ----

void DiscSpanning::openWarning(LargeFilesSheet::Reason reason) {
  warning_->prepare(reason, largeFiles_);
  // A drop that cannot be asked about is not kept: the answer would have been needed.
  if (!sheets_.beginSheet(warning_.get()) && reason == LargeFilesSheet::Reason::kRemoveLargeFiles)
    dismissWarningPanel();
}

void DiscSpanning::closeWarning() {
  if (sheets_.currentSheet() == warning_.get()) sheets_.endSheet(warning_.get(), 0);
}

void DiscSpanning::dismissWarningPanel() {
  FS_Tree* tree = hooks_.layoutTree();
  (void)fstree_RemoveAllTempNodes(tree);
  (void)selectDiscSize(controls_.discSpanList, curSelectedDiscSizeIn2kBlks_);
  getSpanDiscInfo();
  hooks_.refreshOutline();
  if (isOn()) showCount();
  closeWarning();
}

void DiscSpanning::removeFilesAndContinue() {
  FS_Tree* tree = hooks_.layoutTree();
  for (FS_Node* node : largeFiles_.nodes()) (void)RemoveTreeNode(tree, node, true);
  largeFiles_.reset();
  // What is left of a drop is taken: a later Cancel must not remove it.
  (void)fstree_ResetAllTempNodes(tree, false);
  if (warning_->reason() == LargeFilesSheet::Reason::kRemoveLargeFiles)
    curSelectedDiscSizeIn2kBlks_ = lastSelectedDiscSizeIn2kBlks_ = selectedSize();
  getSpanDiscInfo();
  hooks_.refreshOutline();
  if (isOn()) showCount();
  closeWarning();
}

// ---- a spanned burn ----

bool DiscSpanning::prepareSpannedBurn(std::uint32_t freeBlocks) {
  largeFiles_.reset();
  estimate(freeBlocks);
  if (!largeFiles_.empty()) {
    curSelectedDiscSizeIn2kBlks_ = selectedSize();
    openWarning(LargeFilesSheet::Reason::kRemoveLargeFilesBeforeBurn);
    hooks_.endRefusedBurn();
    return false;
  }
  discID_ = 1;
  remainder_ = {};
  spanned_ = false;
  running_ = true;
  part_.reset();
  dspn_Start(hooks_.layoutTree());
  return true;
}

FS_Tree* DiscSpanning::treeForDisc(std::uint32_t freeBlocks) {
  FS_Tree* tree = hooks_.layoutTree();
  const unsigned format = hooks_.formatType();
  if (discID_ == 1 && span::estimateDiscs(tree, freeBlocks, format).discs == 1) {
    remainder_ = {};
    return tree;
  }
  span::Remainder left;
  FS_Tree* part = dspn_NextTree(tree, discID_, format, freeBlocks, &left.files, &left.blocks,
                                &left.biggestBlocks);
  remainder_ = left;
  part_.reset(part);
  if (part == nullptr) return nullptr;
  spanned_ = true;
  const QString title = treeTitle();
  (void)SetTreetitle(part, span::partTitle(title.toStdString(), discID_).c_str());
  return part;
}

bool DiscSpanning::burnCompleted(bool success) {
  if (running_ && success && isOn() && remainder_.files != 0) {
    ++discID_;
    hooks_.finishPart();
    const std::uint32_t ref = hooks_.destinationRef();
    if (isRealDriveRef(ref)) {
      hooks_.setDriveStatus(ref, kDriveBusy);
      hooks_.eject(ref);
    }
    insertDiscStatus_ = span::InsertDiscStatus::kNoDisc;
    insertDisc_->prepare(discID_, remainder_);
    (void)sheets_.beginSheet(insertDisc_.get());
    startWaitForDiscSpanTimer();
    return true;
  }
  const bool offerLog = running_ && success && isOn() && spanned_;
  if (QPushButton* saveLog = controls_.discSpanSaveLogButton) {
    saveLog->setEnabled(offerLog);
    saveLog->setVisible(offerLog);
  }
  if (running_) dspn_Stop();
  running_ = false;
  return false;
}

// ---- the wait for the next disc ----

void DiscSpanning::startWaitForDiscSpanTimer() {
  waitForDiscSpanTimer_.start(kNextDiscPoll, [this] { waitForDiscSpanProgressFunction(); });
}

void DiscSpanning::stopWaitForDiscSpanTimer() {
  waitForDiscSpanTimer_.stop();
}

void DiscSpanning::waitForDiscSpanProgressFunction() {
  std::optional<span::WaitingDisc> disc;
  if (const auto d = hooks_.destinationDisc())
    disc = span::WaitingDisc{d->discStatus, d->freeBlocks};
  const std::uint32_t biggest = remainder_.biggestBlocks;
  span::NextDiscStep step = span::nextDiscStep(disc, biggest, insertDiscStatus_);
  // A disc that holds the biggest file may still be too small once its file system is
  // reckoned in: when no part fits it, it is refused as a disc too small.
  if (step.action == span::NextDiscAction::kBurn && treeForDisc(disc->freeBlocks) == nullptr) {
    step.action = span::NextDiscAction::kEject;
    step.status = span::InsertDiscStatus::kTooSmall;
    step.text = span::StatusText{"Please Insert Size Disc", span::blocksToMegabytes(biggest)};
  }
  insertDiscStatus_ = step.status;
  if (step.text) insertDisc_->showStatus(*step.text);
  const std::uint32_t ref = hooks_.destinationRef();
  switch (step.action) {
    case span::NextDiscAction::kBurn:
      stopWaitForDiscSpanTimer();
      if (window_ && window_->isMinimized()) window_->showNormal();
      if (sheets_.currentSheet() == insertDisc_.get()) sheets_.endSheet(insertDisc_.get(), 1);
      hooks_.setDriveStatus(ref, kDriveBurning);
      hooks_.startNextBurn();
      break;
    case span::NextDiscAction::kEject:
      hooks_.unmountAndEject(ref);
      break;
    case span::NextDiscAction::kKeepWaiting:
      break;
  }
}

void DiscSpanning::cancelSpanDisc() {
  stopWaitForDiscSpanTimer();
  if (sheets_.currentSheet() == insertDisc_.get()) sheets_.endSheet(insertDisc_.get(), 0);
  hooks_.endRefusedBurn();
  hooks_.unmountAndEject(hooks_.destinationRef());
  running_ = false;
  dspn_Stop();
}

// ---- the log ----

EngineStatus DiscSpanning::writeLog(const QString& path) const {
  return span::writeSpanLog(hooks_.layoutTree(), path.toStdString(), treeTitle().toStdString());
}

void DiscSpanning::discSpanSaveLog() {
  SavePanelRequest request;
  request.requiredType = QStringLiteral("txt");
  request.canHideExtension = true;
  request.directory = QDir::homePath();
  request.fileName = QStringLiteral("%1.txt").arg(spanningText("Log File"));
  SavePanel& panel = savePanel_ ? *savePanel_ : SavePanel::platform();
  (void)panel.beginSheet(sheets_, request, [this](int returnCode, const QString& path) {
    if (returnCode != SavePanel::kOK || path.isEmpty()) return;
    if (writeLog(path) != kNoErr)
      (void)sheets_.alert(QStringLiteral("Log Not Saved"), QStringLiteral("Log Not Saved Message"));
  });
}

}  // namespace quillion
