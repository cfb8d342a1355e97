// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/session_tab.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>
#include <utility>

#include "framework/messages.h"
#include "layout/data_layout_ctlr.h"

namespace quillion {

namespace session_tab_detail {

template <typename W, typename... Args>
W* sessionTabWidget(const char* name, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)...);
  w->setObjectName(QLatin1String(name));
  return w;
}

QString sessionTabText(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

}  // namespace session_tab_detail

using namespace session_tab_detail;

SessionTabPanel SessionTabPanel::build(QWidget* page) {
  SessionTabPanel p;
  auto* column = qobject_cast<QVBoxLayout*>(page->layout());
  if (column == nullptr) column = new QVBoxLayout(page);
  p.ISO9660_sessionLayout = sessionTabWidget<QTableView>("ISO9660_sessionLayout");
  p.ISO9660_sessionLayout->setSelectionBehavior(QAbstractItemView::SelectRows);
  p.ISO9660_sessionLayout->setSelectionMode(QAbstractItemView::SingleSelection);
  p.ISO9660_sessionLayout->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Rows are dragged to the outline of the same window, never dropped here.
  p.ISO9660_sessionLayout->setDragEnabled(true);
  p.ISO9660_sessionLayout->setDragDropMode(QAbstractItemView::DragOnly);
  p.ISO9660_sessionLayout->setDefaultDropAction(Qt::CopyAction);
  p.ISO9660_sessionLayout->verticalHeader()->hide();
  p.ISO9660_sessionLayout->horizontalHeader()->setStretchLastSection(true);
  column->addWidget(p.ISO9660_sessionLayout, 1);

  p.importToFolderCell =
      sessionTabWidget<QRadioButton>("importToFolderCell", sessionTabText("Import Into Folder"));
  p.importToDiscCell =
      sessionTabWidget<QRadioButton>("importToDiscCell", sessionTabText("Import Into Disc"));
  p.ISO9660_importToSwitch = new QButtonGroup(page);
  p.ISO9660_importToSwitch->setObjectName(QStringLiteral("ISO9660_importToSwitch"));
  p.ISO9660_importToSwitch->addButton(p.importToFolderCell, 0);
  p.ISO9660_importToSwitch->addButton(p.importToDiscCell, 1);
  p.importToFolderCell->setChecked(true);
  column->addWidget(p.importToFolderCell);
  column->addWidget(p.importToDiscCell);

  auto* buttons = new QHBoxLayout;
  p.ISO9660_importButton =
      sessionTabWidget<QPushButton>("ISO9660_importButton", sessionTabText("Import Session"));
  p.ISO9660_removeImportButton = sessionTabWidget<QPushButton>(
      "ISO9660_removeImportButton", sessionTabText("Remove Imported Items"));
  p.ISO9660_importButton->setEnabled(false);
  p.ISO9660_removeImportButton->setEnabled(false);
  buttons->addStretch(1);
  buttons->addWidget(p.ISO9660_removeImportButton);
  buttons->addWidget(p.ISO9660_importButton);
  column->addLayout(buttons);
  return p;
}

SessionTabCtlr::SessionTabCtlr(QWidget* page, DataLayoutCtlr* layout, QAbstractItemView* outline,
                               StateSource state, DriveSource drive, QObject* parent)
    : QObject(parent),
      panel_(SessionTabPanel::build(page)),
      imports_(std::make_unique<SessionImportCtlr>(&table_, nullptr)),
      outline_(outline),
      state_(std::move(state)),
      drive_(std::move(drive)) {
  view_ = panel_.ISO9660_sessionLayout;
  setLayout(layout);
  panel_.ISO9660_sessionLayout->setModel(&table_);
  connect(panel_.ISO9660_sessionLayout->selectionModel(), &QItemSelectionModel::selectionChanged,
          this, &SessionTabCtlr::selectionChanged);
  // A list read anew leaves nothing selected, and the view says nothing of it.
  connect(&table_, &QAbstractItemModel::modelReset, this, [this] {
    imports_->selectionCleared();
    showButtonStates();
  });
  connect(panel_.ISO9660_importButton, &QPushButton::clicked, this,
          &SessionTabCtlr::importSelected);
  connect(panel_.ISO9660_removeImportButton, &QPushButton::clicked, this,
          &SessionTabCtlr::removeImports);
  connect(panel_.ISO9660_importToSwitch, &QButtonGroup::idClicked, this,
          [this](int id) { imports_->toggleImportDestination(id); });
  connect(imports_.get(), &SessionImportCtlr::buttonsChanged, this,
          &SessionTabCtlr::showButtonStates);
}

SessionTabCtlr::~SessionTabCtlr() {
  // The view lets go of the table before the table goes.
  if (QTableView* view = view_.data()) view->setModel(nullptr);
}

void SessionTabCtlr::setLayout(DataLayoutCtlr* layout) {
  layout_ = layout;
  imports_->setLayout(layout);
  table_.setDropTargetId(layout ? layout->dragTargetId() : 0);
}

int SessionTabCtlr::selectedRow() const {
  const QItemSelectionModel* selection = panel_.ISO9660_sessionLayout->selectionModel();
  if (selection == nullptr) return -1;
  const QModelIndexList rows = selection->selectedRows();
  return rows.size() == 1 ? rows.front().row() : -1;
}

void SessionTabCtlr::updateISO9660SessionInfo() {
  // Asking for the window's state refreshes the disc's information, whose notification
  // comes back here: the read under way already sees that disc.
  if (reading_) return;
  const QScopedValueRollback<bool> reading(reading_, true);
  imports_->setDestinationDrive(drive_());
  imports_->updateSessionInfo(state_());
  showButtonStates();
}

void SessionTabCtlr::drawerWillOpen() {
  selectionChanged();
}

void SessionTabCtlr::selectionChanged() {
  // The disc is looked at again: one found complete takes the list and the import away.
  imports_->sessionSelectionChanged(selectedRow(), state_().discState);
  showButtonStates();
}

void SessionTabCtlr::importSelected() {
  lastImport_ = imports_->importSession(selectedRow());
  if (lastImport_.status != kNoErr || layout_ == nullptr) return;
  if (auto* tree = qobject_cast<QTreeView*>(outline_.data())) tree->expand(layout_->index(0, 0));
}

void SessionTabCtlr::removeImports() {
  if (outline_) outline_->clearSelection();
  (void)imports_->removeImport();
}

void SessionTabCtlr::showButtonStates() {
  panel_.ISO9660_importButton->setEnabled(imports_->importEnabled());
  panel_.ISO9660_removeImportButton->setEnabled(imports_->removeImportEnabled());
}

}  // namespace quillion
