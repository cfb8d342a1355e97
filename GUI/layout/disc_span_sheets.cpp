// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/disc_span_sheets.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "framework/cfmt.h"
#include "framework/messages.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

QString spanText(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

QPushButton* spanButton(const char* key, const char* name, QWidget* parent) {
  auto* b = new QPushButton(spanText(key), parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

QLabel* spanField(const char* name, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  return l;
}

}  // namespace

// ---- the disc-size list ----

void fillDiscSizeList(QComboBox* list, const std::vector<span::DiscSize>& sizes) {
  list->clear();
  for (const span::DiscSize& s : sizes)
    list->addItem(QString::fromStdString(s.title), QVariant::fromValue(s.blocks));
  if (!sizes.empty()) list->setCurrentIndex(0);
}

std::uint32_t selectedDiscSize(const QComboBox* list) {
  const int at = list->currentIndex();
  return at < 0 ? 0 : list->itemData(at).toUInt();
}

std::vector<std::uint32_t> discSizesOf(const QComboBox* list) {
  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < list->count(); ++i) sizes.push_back(list->itemData(i).toUInt());
  return sizes;
}

bool selectDiscSize(QComboBox* list, std::uint32_t blocks) {
  const int at = list->findData(QVariant::fromValue(blocks));
  if (at < 0) return false;
  list->setCurrentIndex(at);
  return true;
}

// ---- the warning sheet ----

void LargeFilesTable::setRows(std::vector<span::LargeFiles::Row> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int LargeFilesTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LargeFilesTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant LargeFilesTable::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  const auto& row = rows_[static_cast<std::size_t>(index.row())];
  if (index.column() == kFileNameColumn) return QString::fromStdString(row.title);
  if (index.column() == kSizeColumn) return ZEBUtils::bytesToString(row.bytes);
  return {};
}

QVariant LargeFilesTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  if (section == kFileNameColumn) return spanText("FileName");
  if (section == kSizeColumn) return spanText("Size");
  return {};
}

LargeFilesSheet::LargeFilesSheet(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("warningPanel"));
  auto* layout = new QVBoxLayout(this);
  text_ = spanField("warningTextField", this);
  text_->setWordWrap(true);
  table_ = new LargeFilesTable(this);
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("warningFileList"));
  view_->setModel(table_);
  view_->horizontalHeader()->setSectionResizeMode(LargeFilesTable::kFileNameColumn,
                                                  QHeaderView::Stretch);
  view_->verticalHeader()->hide();
  view_->setSelectionMode(QAbstractItemView::NoSelection);
  ok_ = spanButton("OK", "warningOKButton", this);
  cancel_ = spanButton("Cancel", "warningCancelButton", this);
  continue_ = spanButton("Continue", "warningContinueButton", this);
  layout->addWidget(text_);
  layout->addWidget(view_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  buttons->addWidget(continue_);
  buttons->addWidget(ok_);
  layout->addLayout(buttons);
  const auto dismiss = [this] {
    if (onDismiss_) onDismiss_();
  };
  connect(ok_, &QPushButton::clicked, this, dismiss);
  connect(cancel_, &QPushButton::clicked, this, dismiss);
  connect(continue_, &QPushButton::clicked, this, [this] {
    if (onContinue_) onContinue_();
  });
}

void LargeFilesSheet::prepare(Reason reason, const span::LargeFiles& files) {
  reason_ = reason;
  const bool onlyOk = reason == Reason::kFilesWontFit;
  text_->setText(spanText(reason == Reason::kFilesWontFit ? "Files won't fit"
                          : reason == Reason::kRemoveLargeFiles
                              ? "Remove Large Files"
                              : "Remove Large Files Before Burning"));
  table_->setRows(files.rows());
  ok_->setVisible(onlyOk);
  cancel_->setVisible(!onlyOk);
  continue_->setVisible(!onlyOk);
  (onlyOk ? ok_ : continue_)->setDefault(true);
}

// ---- the insert-disc sheet ----

QString insertDiscStatusText(const span::StatusText& text) {
  const QString format = Msg::gui(QString::fromStdString(text.key));
  return text.megabytes ? cfmt(format, *text.megabytes) : format;
}

InsertDiscSheet::InsertDiscSheet(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("insertDiscPanel"));
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(spanText("Insert Next Disc"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);
  auto* form = new QFormLayout;
  currentDisc_ = spanField("insertDiscCurrentDiscTextField", this);
  items_ = spanField("insertDiscItemsTextField", this);
  size_ = spanField("insertDiscSizeTextField", this);
  minSize_ = spanField("insertDiscMinDiscSizeTextField", this);
  form->addRow(spanText("Span Disc Number"), currentDisc_);
  form->addRow(spanText("Span Items Left"), items_);
  form->addRow(spanText("Span Size Left"), size_);
  form->addRow(spanText("Span Minimum Disc Size"), minSize_);
  layout->addLayout(form);
  status_ = spanField("insertDiscSizeStatusTextField", this);
  status_->setWordWrap(true);
  layout->addWidget(status_);
  cancel_ = spanButton("Cancel", "insertDiscCancelButton", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (onCancel_) onCancel_();
  });
}

void InsertDiscSheet::prepare(std::uint32_t discID, const span::Remainder& left) {
  const QString mb = QStringLiteral("%1 MB");
  currentDisc_->setText(QString::number(discID));
  items_->setText(QString::number(left.files));
  size_->setText(mb.arg(span::blocksToMegabytes(left.blocks)));
  minSize_->setText(mb.arg(span::blocksToMegabytes(left.biggestBlocks)));
  status_->setText(spanText("Insert Blank Media"));
}

void InsertDiscSheet::showStatus(const span::StatusText& text) {
  status_->setText(insertDiscStatusText(text));
}

}  // namespace quillion
