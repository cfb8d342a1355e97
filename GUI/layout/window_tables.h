// SPDX-License-Identifier: GPL-2.0-or-later
// Two small tables of a layout window besides the session table: the CDDB match table,
// which shows the albums a disc lookup found when there was more than one, and the data
// filter table of the filter editor, which shows and edits the user's file extensions.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QVariantMap>

namespace quillion {

// Keys of a CDDB candidate album, as the lookup client fills them.
inline constexpr char kCddbChoiceArtistKey[] = "DiscChoiceArtist";
inline constexpr char kCddbChoiceTitleKey[] = "DiskChoiceTitle";

class CddbMatchTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kArtistColumn = 0, kAlbumColumn = 1, kColumnCount = 2 };

  explicit CddbMatchTableModel(QObject* parent = nullptr);

  void setCandidates(QList<QVariantMap> candidates);
  const QList<QVariantMap>& candidates() const { return candidates_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  QList<QVariantMap> candidates_;
};

// The data filter list is: entry 0 "All", the user's extensions, and last "Edit...". The
// table shows and edits only the extensions, row r standing for entry r + 1.
class DataFilterTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit DataFilterTableModel(QObject* parent = nullptr);

  void setFilterList(QStringList list);
  const QStringList& filterList() const { return list_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Stores the text at the row's entry; a text another entry already has gets the smallest
  // number from 1 appended that makes it unique.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 signals:
  // The list changed by an edit: the window rebuilds its pop-up and saves the list.
  void filterListEdited(const QStringList& list);

 private:
  QStringList list_;
};

}  // namespace quillion
