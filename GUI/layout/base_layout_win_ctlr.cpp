// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/base_layout_win_ctlr.h"

#include <QLabel>
#include <QMainWindow>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include "framework/cfmt.h"
#include "framework/document.h"
#include "framework/messages.h"
#include "shell/notification_names.h"

namespace quillion {

namespace {

QAbstractItemView* addView(QAbstractItemView* view, const char* name, QLayout* layout) {
  view->setObjectName(QLatin1String(name));
  layout->addWidget(view);
  return view;
}

}  // namespace

BaseLayoutWinCtlr::BaseLayoutWinCtlr(const LayoutKind& kind) : kind_(kind), useSAO_(kind.useSAO) {
  state_.fileFormat = static_cast<int>(kind.formatType);
  state_.writeXA = kind.useCDXAFormat;
}

BaseLayoutWinCtlr::~BaseLayoutWinCtlr() {
  NotificationCenter::instance().remove(this);
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
  if (kind_.views & kDataLayoutView)
    dataLayoutView_ = addView(new QTreeView(central), "dataLayoutView", layout);
  if (kind_.views & kAudioLayoutView)
    audioLayoutView_ = addView(new QTableView(central), "audioLayoutView", layout);
  if (kind_.views & kVcdLayoutView)
    vcdLayoutView_ = addView(new QTableView(central), "vcdLayoutView", layout);
  if (kind_.views == 0) layout->addStretch(1);
  window->setCentralWidget(central);
  window->resize(720, 480);
  return window;
}

void BaseLayoutWinCtlr::windowDidLoad() {
  if (m_awoke) return;
  m_awoke = true;
  // From any sender: the handler itself keeps to this window's views, so a view that this
  // kind of window lacks can never match.
  NotificationCenter::instance().observe(this, QString::fromLatin1(VUK_LayoutChangedNotification),
                                         NotificationCenter::AnySender,
                                         [this](const Notification& n) { NeedToSaveDocument(n); });
  if (firstLayoutFile_) loadLayout(*firstLayoutFile_);
}

}  // namespace quillion
