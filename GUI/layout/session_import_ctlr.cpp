// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/session_import_ctlr.h"

#include "layout/data_layout_ctlr.h"
#include "layout/session_table.h"
#include "quillion/GDT.h"
#include "shell/zeb_utils.h"

namespace quillion {

SessionImportCtlr::SessionImportCtlr(SessionTableModel* table, DataLayoutCtlr* layout,
                                     QObject* parent)
    : QObject(parent), table_(table), layout_(layout) {}

void SessionImportCtlr::setButtons(bool importOn, bool removeOn) {
  if (importOn == importEnabled_ && removeOn == removeImportEnabled_) return;
  importEnabled_ = importOn;
  removeImportEnabled_ = removeOn;
  emit buttonsChanged();
}

void SessionImportCtlr::updateSessionInfo(const SessionTabState& tab) {
  if (!tab.hasDrawer || tab.driveStatus != 0 || !tab.drawerOpenOrOpening ||
      tab.selectedTab != QLatin1String(kSessionTabIdentifier))
    return;
  table_->clear();
  if (tab.discState == kGDT_DiscClosed) {
    setButtons(false, removeImportEnabled_);
    return;
  }
  // A mounted disc would keep the drive from us; the disc stays in the tray.
  (void)ZEBUtils::unmountDiskWithRef(drive_, false);
  (void)table_->readSessions(drive_);
}

void SessionImportCtlr::sessionSelectionChanged(int selectedRow, std::uint8_t discState) {
  if (discState == kGDT_DiscClosed) {
    setButtons(false, removeImportEnabled_);
    table_->clear();
    return;
  }
  setButtons(table_->sessionAt(selectedRow) != nullptr, removeImportEnabled_);
}

SessionImportOutcome SessionImportCtlr::importSession(int selectedRow) {
  SessionImportOutcome outcome;
  // The row is looked up in the list the table holds now, never trusted as an index.
  const TNC_ISO9660Session* session = table_->sessionAt(selectedRow);
  if (session == nullptr || layout_ == nullptr) {
    outcome.status = kErrBadArgument;
    return outcome;
  }
  (void)ZEBUtils::unmountDiskWithRef(table_->drive(), false);
  FS_Tree* imported = nullptr;
  outcome.status = TNC_ISO9660SessionToFSTree(session, &imported);
  if (outcome.status != kNoErr || imported == nullptr) {
    if (imported != nullptr) termTree(imported);
    if (outcome.status == kNoErr) outcome.status = kErrFileAccess;
    return outcome;
  }
  unsigned clashes = 0;
  outcome =
      layout_->importSession(imported, sessionVolumeName(*session), importToFolder_, &clashes);
  if (outcome.status == kNoErr) {
    hasImportedData_ = true;
    setButtons(importEnabled_, true);
  }
  return outcome;
}

EngineStatus SessionImportCtlr::removeImport() {
  const EngineStatus status =
      layout_ ? layout_->removeImportedItems() : EngineStatus{kErrBadArgument};
  hasImportedData_ = false;
  setButtons(importEnabled_, false);
  return status;
}

}  // namespace quillion
