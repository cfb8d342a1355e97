// SPDX-License-Identifier: GPL-2.0-or-later
// The CDDB match table and the data filter table of a layout window.
#include "layout/window_tables.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "support/gui_test_env.h"

using namespace quillion;

namespace {

class WindowTablesTest : public test::GuiTest {};

TEST_F(WindowTablesTest, CddbCandidatesShowArtistAndAlbumAndNothingForAMissingKey) {
  CddbMatchTableModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(model.rowCount(), 0);
  model.setCandidates({
      {{QStringLiteral("DiscChoiceArtist"), QStringLiteral("Ana")},
       {QStringLiteral("DiskChoiceTitle"), QStringLiteral("First")}},
      {{QStringLiteral("DiskChoiceTitle"), QStringLiteral("Untitled artist")}},
  });
  ASSERT_EQ(model.rowCount(), 2);
  ASSERT_EQ(model.columnCount(), 2);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Artist"));
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Album"));
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("Ana"));
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("First"));
  EXPECT_FALSE(model.data(model.index(1, 0)).isValid());
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral("Untitled artist"));
  EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).isValid());
}

TEST_F(WindowTablesTest, TheFilterTableShowsOnlyTheUsersExtensions) {
  DataFilterTableModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  struct Case {
    QStringList list;
    QStringList rows;
  };
  const Case cases[] = {
      {{}, {}},
      {{QStringLiteral("All")}, {}},
      {{QStringLiteral("All"), QStringLiteral("Edit...")}, {}},
      {{QStringLiteral("All"), QStringLiteral("doc"), QStringLiteral("txt"),
        QStringLiteral("Edit...")},
       {QStringLiteral("doc"), QStringLiteral("txt")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list.join(QLatin1Char(',')).toStdString());
    model.setFilterList(c.list);
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) rows << model.data(model.index(r, 0)).toString();
    EXPECT_EQ(rows, c.rows);
  }
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("FileTypes"));
}

TEST_F(WindowTablesTest, AnEditedExtensionThatExistsGetsTheSmallestFreeNumber) {
  DataFilterTableModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.setFilterList({QStringLiteral("All"), QStringLiteral("doc"), QStringLiteral("txt"),
                       QStringLiteral("txt1"), QStringLiteral("???"), QStringLiteral("Edit...")});
  QSignalSpy edited(&model, &DataFilterTableModel::filterListEdited);
  struct Case {
    int row;
    QString text;
    QString stored;
  };
  const Case cases[] = {
      {3, QStringLiteral("pdf"), QStringLiteral("pdf")},
      {3, QStringLiteral("txt"), QStringLiteral("txt2")},  // "txt" and "txt1" are taken
      {0, QStringLiteral("doc"), QStringLiteral("doc")},   // its own entry does not count
      {1, QStringLiteral("All"), QStringLiteral("All1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    ASSERT_TRUE(model.setData(model.index(c.row, 0), c.text));
    EXPECT_EQ(model.data(model.index(c.row, 0)).toString(), c.stored);
    EXPECT_EQ(edited.takeLast().at(0).toStringList(), model.filterList());
  }
  EXPECT_EQ(model.filterList(), (QStringList{QStringLiteral("All"), QStringLiteral("doc"),
                                             QStringLiteral("All1"), QStringLiteral("txt1"),
                                             QStringLiteral("txt2"), QStringLiteral("Edit...")}));
  EXPECT_FALSE(model.setData(model.index(4, 0), QStringLiteral("x")));
  EXPECT_FALSE(model.setData(model.index(0, 0), QStringLiteral("x"), Qt::DisplayRole));
}

}  // namespace
