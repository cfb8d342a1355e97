// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/missing_files_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "framework/messages.h"

namespace quillion::burn {

MissingFilesSheet::MissingFilesSheet(MissingFilesList list, MissingFilesSheetHooks hooks,
                                     QWidget* parent)
    : QDialog(parent), list_(std::move(list)), hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("missingFilesSheet"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Msg::gui(QStringLiteral("Missing Files")), this));
  table_ = new QListWidget(this);
  table_->setObjectName(QStringLiteral("missingFilesView"));
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(table_);
  auto* buttons = new QHBoxLayout;
  browse_ = new QPushButton(Msg::gui(QStringLiteral("Browse")), this);
  delete_ = new QPushButton(Msg::gui(QStringLiteral("Delete")), this);
  cancel_ = new QPushButton(this);
  browse_->setObjectName(QStringLiteral("missingFilesBrowseButton"));
  delete_->setObjectName(QStringLiteral("missingFilesDeleteButton"));
  cancel_->setObjectName(QStringLiteral("missingFilesCancelButton"));
  buttons->addWidget(browse_);
  buttons->addWidget(delete_);
  buttons->addStretch();
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(browse_, &QPushButton::clicked, this, &MissingFilesSheet::missingFilesBrowse);
  connect(delete_, &QPushButton::clicked, this, &MissingFilesSheet::missingFilesDelete);
  connect(cancel_, &QPushButton::clicked, this, &MissingFilesSheet::missingFilesCancel);
  connect(table_, &QListWidget::itemSelectionChanged, this, &MissingFilesSheet::updateButtons);
  reload();
}

void MissingFilesSheet::reload() {
  table_->clear();
  for (std::size_t row = 0; row < list_.size(); ++row)
    table_->addItem(QString::fromStdString(list_.displayText(row)));
  cancel_->setText(Msg::gui(QString::fromLatin1(list_.closeButtonKey())));
  updateButtons();
}

void MissingFilesSheet::updateButtons() {
  const auto selected = static_cast<std::size_t>(table_->selectedItems().size());
  browse_->setEnabled(MissingFilesList::canBrowse(selected));
  delete_->setEnabled(MissingFilesList::canDelete(selected));
}

void MissingFilesSheet::missingFilesBrowse() {
  const QList<QListWidgetItem*> selected = table_->selectedItems();
  if (selected.size() != 1 || !hooks_.chooseFile) return;
  const auto row = static_cast<std::size_t>(table_->row(selected.front()));
  const QString chosen = hooks_.chooseFile(QString::fromStdString(list_.displayText(row)));
  if (chosen.isEmpty()) return;
  FS_Node* node = list_.node(row);
  LayoutModel owner = LayoutModel::Data;
  if (list_.relink(row, chosen.toStdString(), &owner) != kNoErr) return;
  if (hooks_.relinked) hooks_.relinked(node, owner);
  reload();
  // Nothing missing any more: the burn goes straight on.
  if (list_.empty()) missingFilesCancel();
}

void MissingFilesSheet::missingFilesDelete() {
  std::vector<std::size_t> rows;
  for (const QListWidgetItem* item : table_->selectedItems())
    rows.push_back(static_cast<std::size_t>(table_->row(item)));
  if (rows.empty()) return;
  (void)list_.remove(std::move(rows));
  if (hooks_.layoutChanged) hooks_.layoutChanged();
  reload();
}

void MissingFilesSheet::missingFilesCancel() {
  done(list_.empty() ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace quillion::burn
