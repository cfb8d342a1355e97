// SPDX-License-Identifier: GPL-2.0-or-later
// The session tab of a data layout window's options drawer, without its widgets: when the
// session table is read, when its import button may be used, the import of the selected
// session into the layout (as a folder of its own or merged into the disc), and the removal
// of every imported item. The window mirrors the two button states into its buttons.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

#include "layout/session_import.h"

namespace quillion {

class DataLayoutCtlr;
class SessionTableModel;

// The session tab's identifier in the drawer's tab view.
inline constexpr char kSessionTabIdentifier[] = "2";

// What the window knows about its drawer and destination drive when the list is to be read.
struct SessionTabState {
  bool hasDrawer = false;
  bool drawerOpenOrOpening = false;
  QString selectedTab;
  int driveStatus = -1;        // 0: ready
  std::uint8_t discState = 0;  // the cached disc description's state (1: complete)
};

class SessionImportCtlr : public QObject {
  Q_OBJECT

 public:
  SessionImportCtlr(SessionTableModel* table, DataLayoutCtlr* layout, QObject* parent = nullptr);

  void setDestinationDrive(std::uint32_t drive) { drive_ = drive; }
  // The layout imports go into; null leaves nothing to import into.
  void setLayout(DataLayoutCtlr* layout) { layout_ = layout; }

  // Reads the session list anew, only while the drawer shows the session tab and the
  // destination drive is ready; a complete disc gets no list and no import.
  void updateSessionInfo(const SessionTabState& tab);
  // The table's selection changed (`selectedRow` -1 for none), with the disc state read anew.
  void sessionSelectionChanged(int selectedRow, std::uint8_t discState);
  // The table lost its selection with a new list: nothing is there to import.
  void selectionCleared() { setButtons(false, removeImportEnabled_); }
  // Imports the session of the selected row. A row the list does not have, or a session
  // that yields no tree, imports nothing: the status says why.
  SessionImportOutcome importSession(int selectedRow);
  // Takes every imported item out of the layout.
  EngineStatus removeImport();
  // The destination matrix: tag 0 into a folder of its own, tag 1 merged into the disc.
  void toggleImportDestination(int tag) { importToFolder_ = tag == 0; }

  bool importToFolder() const { return importToFolder_; }
  bool hasImportedData() const { return hasImportedData_; }
  bool importEnabled() const { return importEnabled_; }
  bool removeImportEnabled() const { return removeImportEnabled_; }

 signals:
  void buttonsChanged();

 private:
  void setButtons(bool importOn, bool removeOn);

  SessionTableModel* table_;
  DataLayoutCtlr* layout_;
  std::uint32_t drive_ = 0;
  bool importToFolder_ = true;
  bool hasImportedData_ = false;
  bool importEnabled_ = false;
  bool removeImportEnabled_ = false;
};

}  // namespace quillion
