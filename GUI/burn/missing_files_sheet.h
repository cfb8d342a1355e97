// SPDX-License-Identifier: GPL-2.0-or-later
// The missing-files sheet: one row per file the check could not find. Browse points the
// selected row at another file, Delete takes the selected rows out of the layout, and the
// last button gives the burn up ("Cancel") or, once nothing is missing, goes on ("OK").
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "burn/missing_files.h"

class QListWidget;
class QPushButton;

namespace quillion::burn {

struct MissingFilesSheetHooks {
  // The file to use instead of `missingPath`; empty when the user cancelled the choice.
  std::function<QString(const QString& missingPath)> chooseFile;
  // A node now names a new file: its model sets the node up again and posts its notification.
  std::function<void(FS_Node* node, LayoutModel owner)> relinked;
  // Nodes left the layout: the views reload and the layout counts as changed.
  std::function<void()> layoutChanged;
};

class MissingFilesSheet : public QDialog {
  Q_OBJECT

 public:
  MissingFilesSheet(MissingFilesList list, MissingFilesSheetHooks hooks, QWidget* parent = nullptr);

  const MissingFilesList& list() const { return list_; }
  QListWidget* table() const { return table_; }
  QPushButton* browseButton() const { return browse_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* cancelButton() const { return cancel_; }

  void missingFilesBrowse();
  void missingFilesDelete();
  // Ends the sheet: Accepted (go on with list().nextSizing()) once the list is empty,
  // Rejected (the burn is given up) while files are missing.
  void missingFilesCancel();

 private:
  void reload();
  void updateButtons();

  MissingFilesList list_;
  MissingFilesSheetHooks hooks_;
  QListWidget* table_;
  QPushButton* browse_;
  QPushButton* delete_;
  QPushButton* cancel_;
};

}  // namespace quillion::burn
