// SPDX-License-Identifier: GPL-2.0-or-later
// The sheets of the burn preparation on a real (offscreen) window: the missing-files sheet
// with its buttons, the overburn question and the end of the DVD+RW question.
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <filesystem>

#include "burn/burn_prompts.h"
#include "burn/file_check.h"
#include "burn/missing_files_sheet.h"
#include "burn/qt_burn_executor.h"
#include "framework/sheet_host.h"
#include "quillion/FS.h"
#include "run_support.h"
#include "support/gui_test_env.h"

namespace fs = std::filesystem;
using namespace quillion::burn;
using quillion::test::GuiTest;

namespace {

class BurnSheets : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    source_ = dir_.path() / "source";
    quillion::test::writeFiles(source_, {{"a.txt", 1}, {"b.txt", 2}, {"c.txt", 3}});
    tree_ = quillion::test::treeFromFolder(source_);
    window_.show();
  }
  std::vector<FS_Node*> missingAfterRemoving(const std::vector<const char*>& names) {
    for (const char* n : names) fs::remove(source_ / n);
    const std::atomic<bool> cancel{false};
    return checkLayoutFiles(CheckRoutine::Tree, {tree_.get()}, cancel, nullptr).missing;
  }
  void select(MissingFilesSheet& sheet, const std::vector<int>& rows) {
    sheet.table()->clearSelection();
    for (int r : rows) sheet.table()->item(r)->setSelected(true);
  }

  quillion::test::TempDir dir_;
  fs::path source_;
  quillion::test::TreePtr tree_;
  QMainWindow window_;
  quillion::SheetHost host_{&window_};
};

TEST_F(BurnSheets, DeletingEveryMissingFileTurnsCancelIntoOkWhichGoesOn) {
  const auto missing = missingAfterRemoving({"a.txt", "c.txt"});
  ASSERT_EQ(missing.size(), 2u);
  int changed = 0;
  MissingFilesSheet sheet(MissingFilesList({tree_.get()}, missing), {{}, {}, [&] { ++changed; }},
                          &window_);
  int code = -1;
  ASSERT_TRUE(host_.beginSheet(&sheet, [&](int c) { code = c; }));
  ASSERT_EQ(sheet.table()->count(), 2);
  EXPECT_EQ(sheet.table()->item(0)->text().toStdString(), (source_ / "a.txt").string());
  EXPECT_EQ(sheet.cancelButton()->text(), QStringLiteral("Cancel"));
  EXPECT_FALSE(sheet.browseButton()->isEnabled());
  EXPECT_FALSE(sheet.deleteButton()->isEnabled());

  select(sheet, {0, 1});
  EXPECT_FALSE(sheet.browseButton()->isEnabled()) << "Browse takes exactly one row";
  EXPECT_TRUE(sheet.deleteButton()->isEnabled());
  sheet.deleteButton()->click();
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(sheet.table()->count(), 0);
  EXPECT_EQ(sheet.cancelButton()->text(), QStringLiteral("OK"));
  EXPECT_TRUE(host_.hasAttachedSheet()) << "the sheet stays open after Delete";
  std::uint32_t files = 0;
  ASSERT_EQ(TreeInfo(tree_.get(), nullptr, &files, nullptr, nullptr, true), kNoErr);
  EXPECT_EQ(files, 1u);

  sheet.cancelButton()->click();
  EXPECT_EQ(code, QDialog::Accepted);
  EXPECT_EQ(sheet.list().nextSizing(), SizingRoute::Data);
}

TEST_F(BurnSheets, CancelWithFilesStillMissingGivesTheBurnUp) {
  const auto missing = missingAfterRemoving({"b.txt"});
  MissingFilesSheet sheet(MissingFilesList({tree_.get()}, missing), {}, &window_);
  int code = -1;
  ASSERT_TRUE(host_.beginSheet(&sheet, [&](int c) { code = c; }));
  sheet.cancelButton()->click();
  EXPECT_EQ(code, QDialog::Rejected);
  EXPECT_EQ(sheet.list().size(), 1u) << "nothing was taken out of the layout";
}

TEST_F(BurnSheets, BrowsingTheLastMissingFileGoesStraightOn) {
  const auto missing = missingAfterRemoving({"c.txt"});
  quillion::test::writeFiles(dir_.path(), {{"found.txt", 3}});
  const QString found = QString::fromStdString((dir_.path() / "found.txt").string());
  int relinked = 0;
  QString offered;
  MissingFilesSheet sheet(MissingFilesList({tree_.get()}, missing),
                          {[&](const QString& path) {
                             offered = path;
                             return found;
                           },
                           [&](FS_Node*, LayoutModel owner) {
                             EXPECT_EQ(owner, LayoutModel::Data);
                             ++relinked;
                           },
                           {}},
                          &window_);
  int code = -1;
  ASSERT_TRUE(host_.beginSheet(&sheet, [&](int c) { code = c; }));
  select(sheet, {0});
  ASSERT_TRUE(sheet.browseButton()->isEnabled());
  sheet.browseButton()->click();
  EXPECT_EQ(offered.toStdString(), (source_ / "c.txt").string());
  EXPECT_EQ(relinked, 1);
  EXPECT_EQ(code, QDialog::Accepted);
  EXPECT_EQ(std::string(GetFullPathNameNode(missing[0])), found.toStdString());
  EXPECT_STREQ(GetTitleNode(missing[0]), "found.txt");
}

TEST_F(BurnSheets, TheOverburnQuestionCarriesTheAnswerOnce) {
  for (const bool accept : {true, false}) {
    OverburnPrompt prompt(&window_);
    int answers = 0;
    bool answer = !accept;
    askOverburn(host_, prompt, [&](bool a) {
      ++answers;
      answer = a;
    });
    ASSERT_EQ(host_.currentSheet(), &prompt);
    (accept ? prompt.okButton() : prompt.cancelButton())->click();
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(answer, accept);
    EXPECT_FALSE(host_.hasAttachedSheet());
  }
}

TEST_F(BurnSheets, TheOverburnQuestionIsDeclinedWhenAnotherSheetIsUp) {
  QDialog other;
  ASSERT_TRUE(host_.beginSheet(&other));
  OverburnPrompt prompt(&window_);
  int answers = 0;
  bool answer = true;
  askOverburn(host_, prompt, [&](bool a) {
    ++answers;
    answer = a;
  });
  EXPECT_EQ(answers, 1);
  EXPECT_FALSE(answer);
  EXPECT_FALSE(prompt.isVisible());
  host_.endSheet(&other, 0);
}

// The window's own runner: the walk runs off the main thread, its end arrives on it.
TEST_F(BurnSheets, TheWindowsRunnerChecksOnAWorkerAndAnswersOnTheMainThread) {
  fs::remove(source_ / "b.txt");
  quillion::WorkerRunner runner;
  WorkerRunnerExecutor executor(runner);
  std::vector<FS_Node*> missing;
  QThread* answeredOn = nullptr;
  bool ended = false;
  FileCheck check(executor, {{},
                             {},
                             {},
                             [&](std::vector<FS_Node*> m) {
                               missing = std::move(m);
                               answeredOn = QThread::currentThread();
                               ended = true;
                             },
                             [&] { ended = true; },
                             [&] { ended = true; }});
  ASSERT_TRUE(check.start(CheckRoutine::Tree, {tree_.get()}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 60'000));
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_STREQ(GetTitleNode(missing[0]), "b.txt");
  EXPECT_EQ(answeredOn, QCoreApplication::instance()->thread());
  EXPECT_EQ(runner.activeCount(), 0u);
}

TEST(DvdPlusRWQuestion, OneOpensTheOptionsAnythingElseGivesUp) {
  for (const int code : {1, 0, -1}) {
    int opened = 0, abandoned = 0;
    dvdPlusRWEndSheet(
        code, [&] { ++opened; }, [&] { ++abandoned; });
    EXPECT_EQ(opened, code == 1 ? 1 : 0) << code;
    EXPECT_EQ(abandoned, code == 1 ? 0 : 1) << code;
  }
}

}  // namespace
