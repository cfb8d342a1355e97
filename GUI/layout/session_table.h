// SPDX-License-Identifier: GPL-2.0-or-later
// The session table of a data layout window: one row per session with a volume on the disc
// in the destination drive, as read when the session tab was last shown. Rows are dragged to
// the window's outline, which alone takes them.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "quillion/TNC.h"

namespace quillion {

class SessionTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kSessionColumn = 0, kTitleColumn = 1, kDateColumn = 2, kColumnCount = 3 };

  explicit SessionTableModel(QObject* parent = nullptr);

  // Reads the session list of the disc in `drive` anew; a failed read leaves no list.
  EngineStatus readSessions(std::uint32_t drive);
  // Forgets the list: the table shows nothing until the next read.
  void clear();
  bool hasSessionInfo() const { return hasInfo_; }
  std::uint16_t numSessions() const { return static_cast<std::uint16_t>(sessions_.size()); }
  std::uint32_t drive() const { return drive_; }
  // The record of a row; null for a row the list does not have.
  const TNC_ISO9660Session* sessionAt(int row) const;

  // The data layout model of the same window, the only one that takes the rows' drags.
  void setDropTargetId(std::uint64_t modelId) { targetModelId_ = modelId; }

  // "%b %d, %Y", at most 15 characters.
  static QString dateText(const std::tm& date);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;

 private:
  std::vector<TNC_ISO9660Session> sessions_;
  bool hasInfo_ = false;
  std::uint32_t drive_ = 0;
  std::uint64_t targetModelId_ = 0;
};

}  // namespace quillion
