// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/session_table.h"

#include <QMimeData>
#include <QStringList>
#include <ctime>

#include "layout/drag_payload.h"
#include "layout/session_drag.h"
#include "layout/session_import.h"

namespace quillion {

SessionTableModel::SessionTableModel(QObject* parent) : QAbstractTableModel(parent) {}

EngineStatus SessionTableModel::readSessions(std::uint32_t drive) {
  DiscSessions read = readDiscSessions(drive);
  beginResetModel();
  sessions_ = std::move(read.sessions);
  hasInfo_ = read.status == kNoErr;
  if (!hasInfo_) sessions_.clear();
  drive_ = drive;
  endResetModel();
  return read.status;
}

void SessionTableModel::clear() {
  beginResetModel();
  sessions_.clear();
  hasInfo_ = false;
  endResetModel();
}

const TNC_ISO9660Session* SessionTableModel::sessionAt(int row) const {
  if (!hasInfo_ || row < 0 || static_cast<std::size_t>(row) >= sessions_.size()) return nullptr;
  return &sessions_[static_cast<std::size_t>(row)];
}

QString SessionTableModel::dateText(const std::tm& date) {
  char text[16] = {};
  const std::size_t n = std::strftime(text, sizeof text, "%b %d, %Y", &date);
  return QString::fromUtf8(text, static_cast<qsizetype>(n));
}

int SessionTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !hasInfo_) return 0;
  return static_cast<int>(sessions_.size());
}

int SessionTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant SessionTableModel::data(const QModelIndex& index, int role) const {
  const TNC_ISO9660Session* session = index.isValid() ? sessionAt(index.row()) : nullptr;
  if (session == nullptr || role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kSessionColumn:
      return static_cast<int>(session->sessionNumber);
    case kTitleColumn:
      return sessionVolumeName(*session);
    case kDateColumn:
      return dateText(session->date);
    default:
      return {};
  }
}

QVariant SessionTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kSessionColumn:
      return QStringLiteral("Session");
    case kTitleColumn:
      return QStringLiteral("Title");
    case kDateColumn:
      return QStringLiteral("Date");
    default:
      return {};
  }
}

Qt::ItemFlags SessionTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList SessionTableModel::mimeTypes() const {
  return {QString::fromLatin1(kSessionImportMimeType)};
}

QMimeData* SessionTableModel::mimeData(const QModelIndexList& indexes) const {
  SessionDrag drag;
  drag.drive = drive_;
  drag.targetModelId = targetModelId_;
  // One entry per row, in the order the view gives, whatever columns were selected.
  for (const QModelIndex& index : indexes) {
    if (!index.isValid() || index.model() != this || sessionAt(index.row()) == nullptr) continue;
    bool seen = false;
    for (const int row : drag.rows) seen = seen || row == index.row();
    if (!seen) drag.rows.push_back(index.row());
  }
  if (drag.rows.empty() || drive_ == 0) return nullptr;
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kSessionImportMimeType), encodeSessionDrag(drag));
  return data;
}

Qt::DropActions SessionTableModel::supportedDragActions() const {
  return Qt::CopyAction;
}

}  // namespace quillion
