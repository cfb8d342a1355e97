// SPDX-License-Identifier: GPL-2.0-or-later
// The session tab of a data window's options drawer: the table of the sessions on the disc
// in the destination drive, read again when the destination or its disc changes, the import
// and remove buttons and the choice of where an import goes. The list is read only while the tab
// shows a ready drive; the import button follows the table's selection and the disc's state, the
// remove button the items imported through it.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>

#include "layout/session_import_ctlr.h"
#include "layout/session_table.h"

class QAbstractItemView;
class QButtonGroup;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace quillion {

class DataLayoutCtlr;

// The tab's controls, built into the drawer's session page.
struct SessionTabPanel {
  QTableView* ISO9660_sessionLayout = nullptr;
  QPushButton* ISO9660_importButton = nullptr;
  QPushButton* ISO9660_removeImportButton = nullptr;
  // Button ids: 0 into a folder of its own, 1 merged into the disc.
  QButtonGroup* ISO9660_importToSwitch = nullptr;
  QRadioButton* importToFolderCell = nullptr;
  QRadioButton* importToDiscCell = nullptr;

  static SessionTabPanel build(QWidget* page);
};

class SessionTabCtlr : public QObject {
  Q_OBJECT

 public:
  // What the window knows now of its drawer and destination; asked anew at every read and
  // every change of the table's selection (the disc may have changed meanwhile).
  using StateSource = std::function<SessionTabState()>;
  using DriveSource = std::function<std::uint32_t()>;

  SessionTabCtlr(QWidget* page, DataLayoutCtlr* layout, QAbstractItemView* outline,
                 StateSource state, DriveSource drive, QObject* parent = nullptr);
  ~SessionTabCtlr() override;

  // The outline's model now; its drags alone are taken from the table. Null: no imports.
  void setLayout(DataLayoutCtlr* layout);
  // Reads the session list anew when the drawer shows this tab with a ready drive.
  void updateISO9660SessionInfo();
  // The drawer is about to open: the buttons show the selection and the imports.
  void drawerWillOpen();

  const SessionTabPanel& panel() const { return panel_; }
  SessionTableModel& table() { return table_; }
  const SessionImportCtlr& imports() const { return *imports_; }
  bool importToFolder() const { return imports_->importToFolder(); }
  // The outcome of the last import through the button.
  const SessionImportOutcome& lastImport() const { return lastImport_; }

 private:
  int selectedRow() const;
  void selectionChanged();
  void importSelected();
  void removeImports();
  void showButtonStates();

  SessionTabPanel panel_;
  QPointer<QTableView> view_;
  SessionTableModel table_;
  std::unique_ptr<SessionImportCtlr> imports_;
  DataLayoutCtlr* layout_ = nullptr;
  QPointer<QAbstractItemView> outline_;
  StateSource state_;
  DriveSource drive_;
  SessionImportOutcome lastImport_;
  bool reading_ = false;
};

}  // namespace quillion
