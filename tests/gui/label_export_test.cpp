// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/label_export.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>

#include "quillion/AudioNodeInfo.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"
#include "tests/support/test_support.h"

using namespace quillion;

namespace {

// Wed Jun 30 21:49:08 1993
std::tm labelDate() {
  std::tm t{};
  t.tm_sec = 8;
  t.tm_min = 49;
  t.tm_hour = 21;
  t.tm_mday = 30;
  t.tm_mon = 5;
  t.tm_year = 93;
  t.tm_wday = 3;
  return t;
}

LabelLayout smallLayout(int kind) {
  LabelLayout l;
  l.layoutType = kind;
  l.discTitle = QString::fromUtf8("My Disc \xc3\xa9");
  l.created = labelDate();
  l.tracks = {{QStringLiteral("One"), 65}, {QStringLiteral("Two"), 600}};
  return l;
}

struct KindCase {
  int kind;
  const char* bytes;
};

class LabelKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(LabelKinds, WritesTheKindsLinesExactly) {
  const test::ScopedBuiltInMessages messages;
  EXPECT_EQ(labelExportText(smallLayout(GetParam().kind)), QByteArray(GetParam().bytes));
}

// Every line has the header's seven fields, ends with CR alone, and the date carries no
// line feed.
INSTANTIATE_TEST_SUITE_P(
    EveryKind, LabelKinds,
    ::testing::Values(
        KindCase{1,
                 "Title\tDate\tSize\tKind\tTime\tComments\tLocation\r"
                 "My Disc \xc3\xa9\tWed Jun 30 21:49:08 1993\t\t\t\t\t\r"},
        KindCase{5,
                 "Title\tDate\tSize\tKind\tTime\tComments\tLocation\r"
                 "My Disc \xc3\xa9\tWed Jun 30 21:49:08 1993\t\t\t\t\t\r"},
        KindCase{2,
                 "Track Title\tTrack Duration\tComposer\tKind\tTime\tComments\tLocation\r"
                 "One\t1:05\t\t\t\t\t\r"
                 "Two\t10:00\t\t\t\t\t\r"},
        KindCase{3,
                 "Title\tDate\tTrack Duration\tKind\tTime\tComments\tLocation\r"
                 "My Disc \xc3\xa9\tWed Jun 30 21:49:08 1993\t\t\t\t\t\r"
                 "One\t\t1:05\t\t\t\t\r"
                 "Two\t\t10:00\t\t\t\t\r"},
        KindCase{4,
                 "Track Title\tTrack Duration\tTrack Date\tKind\tTime\tComments\tLocation\r"
                 "One\t1:05\t\t\t\t\t\r"
                 "Two\t10:00\t\t\t\t\t\r"
                 "My Disc \xc3\xa9\t\tWed Jun 30 21:49:08 1993\t\t\t\t\r"},
        KindCase{10,
                 "Title\tDate\tSize\tKind\tTime\tComments\tLocation\r"
                 "New CD Label\t\t\t\t\t\t\r"},
        KindCase{6, ""}, KindCase{8, ""}, KindCase{12, ""}));

TEST(LabelExport, DatesPadTheDayWithABlankAsTheCLibraryDoes) {
  std::tm t{};
  t.tm_mday = 1;
  t.tm_mon = 11;
  t.tm_year = 126;
  t.tm_wday = 2;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(labelDateText(t), QByteArray("Tue Dec  1 07:05:09 2026"));
  char reference[64] = {};
  EXPECT_EQ(labelDateText(t) + '\n', QByteArray(asctime_r(&t, reference)));
}

TEST(LabelExport, DiscAndTracksComeFromTheTreeAndTheList) {
  FS_Tree* tree = initTree(initNode(nullptr, "Root", nullptr, false));
  ASSERT_EQ(SetTreetitle(tree, "Holiday"), kNoErr);
  const std::tm date = labelDate();
  SetCreationDate(GetRootTreeNode(tree), &date);
  FS_List* list = initList();
  FS_Node* track = initNode(nullptr, "Song", nullptr, false);
  auto* info = static_cast<AudioNodeInfo*>(std::calloc(1, sizeof(AudioNodeInfo)));
  info->lengthSeconds = 181;
  SetUserData(track, info);
  ASSERT_EQ(AppendItem(list, track), kNoErr);

  LabelLayout l;
  l.layoutType = 3;
  fillLabelDisc(l, tree);
  fillLabelTracks(l, list);
  EXPECT_EQ(labelExportText(l),
            QByteArray("Title\tDate\tTrack Duration\tKind\tTime\tComments\tLocation\r"
                       "Holiday\tWed Jun 30 21:49:08 1993\t\t\t\t\t\r"
                       "Song\t\t3:01\t\t\t\t\r"));
  termList(list);
  termTree(tree);
}

TEST(LabelExport, AFailedLaunchIsReportedAfterTheFileIsWritten) {
  test::TempDir dir;
  const QString path = QString::fromStdString(dir.file("disc.export").string());
  test::writeFile(dir.file("disc.export"), "old contents that must go");
  QString launched;
  const auto refuse = [&](const QString& p) {
    launched = p;
    return false;
  };
  EXPECT_EQ(exportLabel(path, smallLayout(2), refuse), LabelExportResult::LaunchFailed);
  EXPECT_EQ(launched, path);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), labelExportText(smallLayout(2)));

  const auto accept = [](const QString&) { return true; };
  EXPECT_EQ(exportLabel(path, smallLayout(8), accept), LabelExportResult::Done);
  EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(LabelExport, AFileThatCannotBeWrittenIsNotHandedOn) {
  test::TempDir dir;
  const QString path = QString::fromStdString(dir.file("missing/disc.export").string());
  bool launched = false;
  const auto launch = [&](const QString&) { return launched = true; };
  EXPECT_EQ(exportLabel(path, smallLayout(1), launch), LabelExportResult::WriteFailed);
  EXPECT_EQ(exportLabel(QString(), smallLayout(1), launch), LabelExportResult::WriteFailed);
  EXPECT_FALSE(launched);
}

}  // namespace
