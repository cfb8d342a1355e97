// SPDX-License-Identifier: GPL-2.0-or-later
// The controls of disc spanning in the data window: the disc-size list (each item's data is
// the size of one disc in 2048-byte blocks), the sheet that lists files too large for one
// disc, and the sheet that asks for the next disc between two parts of a spanned burn.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <cstdint>
#include <functional>
#include <vector>

#include "burn/disc_span.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace quillion {

// ---- the disc-size list ----

// Replaces the items of `list` with `sizes`, in order, and selects the first.
void fillDiscSizeList(QComboBox* list, const std::vector<span::DiscSize>& sizes);
// The size of the selected item in blocks; 0 without a selection.
std::uint32_t selectedDiscSize(const QComboBox* list);
// The sizes of every item, in list order.
std::vector<std::uint32_t> discSizesOf(const QComboBox* list);
// Selects the item of `blocks`; false, and nothing changes, when no item has that size.
bool selectDiscSize(QComboBox* list, std::uint32_t blocks);

// ---- the warning sheet ----

// The rows of the warning table: columns "FileName" and "Size" (the bytes as the interface
// shows sizes).
class LargeFilesTable final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kFileNameColumn = 0, kSizeColumn = 1 };
  using QAbstractTableModel::QAbstractTableModel;

  void setRows(std::vector<span::LargeFiles::Row> rows);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<span::LargeFiles::Row> rows_;
};

class LargeFilesSheet final : public QDialog {
  Q_OBJECT

 public:
  enum class Reason {
    kFilesWontFit,                // spanning switched on: only OK
    kRemoveLargeFiles,            // a new size or a drop: Cancel or Continue
    kRemoveLargeFilesBeforeBurn,  // the disc in the drive: Cancel or Continue
  };

  explicit LargeFilesSheet(QWidget* parent = nullptr);

  // Fills the text, the table and the buttons for `reason`.
  void prepare(Reason reason, const span::LargeFiles& files);
  Reason reason() const { return reason_; }

  // OK and Cancel dismiss the sheet, Continue removes the files; the window decides.
  void setOnDismiss(std::function<void()> fn) { onDismiss_ = std::move(fn); }
  void setOnContinue(std::function<void()> fn) { onContinue_ = std::move(fn); }

  LargeFilesTable* table() const { return table_; }
  QTableView* warningFileList() const { return view_; }
  QLabel* warningTextField() const { return text_; }
  QPushButton* warningOKButton() const { return ok_; }
  QPushButton* warningCancelButton() const { return cancel_; }
  QPushButton* warningContinueButton() const { return continue_; }

 private:
  Reason reason_ = Reason::kFilesWontFit;
  LargeFilesTable* table_;
  QTableView* view_;
  QLabel* text_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* continue_;
  std::function<void()> onDismiss_;
  std::function<void()> onContinue_;
};

// ---- the insert-disc sheet ----

class InsertDiscSheet final : public QDialog {
  Q_OBJECT

 public:
  explicit InsertDiscSheet(QWidget* parent = nullptr);

  // The disc to insert next and what is left for it and later discs.
  void prepare(std::uint32_t discID, const span::Remainder& left);
  // The status line: a "GUIMsgs" text, the size request filled with its megabytes.
  void showStatus(const span::StatusText& text);

  void setOnCancel(std::function<void()> fn) { onCancel_ = std::move(fn); }

  QLabel* insertDiscCurrentDiscTextField() const { return currentDisc_; }
  QLabel* insertDiscMinDiscSizeTextField() const { return minSize_; }
  QLabel* insertDiscItemsTextField() const { return items_; }
  QLabel* insertDiscSizeTextField() const { return size_; }
  QLabel* insertDiscSizeStatusTextField() const { return status_; }
  QPushButton* insertDiscCancelButton() const { return cancel_; }

 private:
  QLabel* currentDisc_;
  QLabel* minSize_;
  QLabel* items_;
  QLabel* size_;
  QLabel* status_;
  QPushButton* cancel_;
  std::function<void()> onCancel_;
};

// The text of a status line of the insert-disc sheet.
QString insertDiscStatusText(const span::StatusText& text);

}  // namespace quillion
