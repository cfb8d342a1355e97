// SPDX-License-Identifier: GPL-2.0-or-later
// The sheet that edits the data filter list: the user's file extensions between "All" and
// "Edit...", shared by every window through the settings and written at every change. Adding
// puts one placeholder "???" before the last entry and starts editing it; closing takes an
// unedited placeholder out again. The window rebuilds its filter pop-up whenever the list
// changes.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QDialog;
class QPushButton;
class QTableView;

namespace quillion {

class Defaults;
class DataFilterTableModel;

inline constexpr char kDataFilterPlaceholder[] = "???";

class DataFilterEditor : public QObject {
  Q_OBJECT

 public:
  // Reads the list from `defaults`; a missing or damaged list is the registered default.
  DataFilterEditor(Defaults& defaults, QWidget* parent);
  ~DataFilterEditor() override;

  // "All", the extensions, "Edit...".
  const QStringList& dataFilterArray() const;

  QDialog* dataFilterPanel() const { return panel_.get(); }
  QTableView* dataFilterView() const { return view_; }
  DataFilterTableModel* tableModel() const { return model_; }
  QPushButton* dataFilterAddButton() const { return addButton_; }
  QPushButton* dataFilterRemoveButton() const { return removeButton_; }
  QPushButton* dataFilterCloseButton() const { return closeButton_; }

  // Adds the placeholder unless one is there, then edits it.
  void dataFilterAdd();
  // Removes the extension of the selected row; without a selection it only deselects.
  void dataFilterRemove();
  // What closing the sheet does to the list: an unedited placeholder goes.
  void closeEditing();

 signals:
  // The list changed and was saved.
  void listChanged();

 private:
  void setList(QStringList list);
  void save();
  void deselect();
  void updateRemoveButton();
  void reloadFromDefaults(const QString& key);

  Defaults& defaults_;
  std::unique_ptr<QDialog> panel_;
  QTableView* view_ = nullptr;
  DataFilterTableModel* model_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  bool saving_ = false;
};

}  // namespace quillion
