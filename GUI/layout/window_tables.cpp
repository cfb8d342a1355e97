// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/window_tables.h"

#include "framework/cfmt.h"

namespace quillion {

CddbMatchTableModel::CddbMatchTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void CddbMatchTableModel::setCandidates(QList<QVariantMap> candidates) {
  beginResetModel();
  candidates_ = std::move(candidates);
  endResetModel();
}

int CddbMatchTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(candidates_.size());
}

int CddbMatchTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CddbMatchTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole || index.row() >= candidates_.size()) return {};
  const QVariantMap& candidate = candidates_.at(index.row());
  const char* key = index.column() == kArtistColumn ? kCddbChoiceArtistKey : kCddbChoiceTitleKey;
  // A candidate without the key shows nothing.
  return candidate.value(QString::fromLatin1(key));
}

QVariant CddbMatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == kArtistColumn) return QStringLiteral("Artist");
  if (section == kAlbumColumn) return QStringLiteral("Album");
  return {};
}

DataFilterTableModel::DataFilterTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void DataFilterTableModel::setFilterList(QStringList list) {
  beginResetModel();
  list_ = std::move(list);
  endResetModel();
}

int DataFilterTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || list_.size() <= 2) return 0;
  return static_cast<int>(list_.size() - 2);
}

int DataFilterTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant DataFilterTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return list_.at(index.row() + 1);
}

QVariant DataFilterTableModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section != 0) return {};
  return QStringLiteral("FileTypes");
}

Qt::ItemFlags DataFilterTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool DataFilterTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.row() >= rowCount()) return false;
  const int entry = index.row() + 1;
  const QString text = value.toString();
  const auto takenElsewhere = [&](const QString& candidate) {
    for (int i = 0; i < list_.size(); ++i)
      if (i != entry && list_.at(i) == candidate) return true;
    return false;
  };
  QString stored = text;
  for (int k = 1; takenElsewhere(stored); ++k) stored = cfmt(QStringLiteral("%@%d"), text, k);
  list_[entry] = stored;
  emit dataChanged(index, index);
  emit filterListEdited(list_);
  return true;
}

}  // namespace quillion
