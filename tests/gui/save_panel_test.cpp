// SPDX-License-Identifier: GPL-2.0-or-later
// The platform's save panel as a sheet of a window: what it starts with, the answer it gives
// on OK (the required extension added) and on Cancel, and its refusal while a sheet is up.
#include "framework/save_panel.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMainWindow>

#include "framework/sheet_host.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

TEST(RequiredType, IsAddedUnlessTheNameEndsWithIt) {
  const struct {
    const char* path;
    const char* type;
    const char* expected;
  } cases[] = {
      {"/a/b", "wlt", "/a/b.wlt"},       {"/a/b.wlt", "wlt", "/a/b.wlt"},
      {"/a/b.WLT", "wlt", "/a/b.WLT"},   {"/a/b.iso.wlt", "iso", "/a/b.iso.wlt.iso"},
      {"/a/bwlt", "wlt", "/a/bwlt.wlt"}, {"/a/b", "", "/a/b"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(withRequiredType(QString::fromLatin1(c.path), QString::fromLatin1(c.type)),
              QString::fromLatin1(c.expected))
        << c.path;
}

class PlatformSavePanel : public GuiTest {
 protected:
  PlatformSavePanel() { window_.show(); }
  QFileDialog* shownDialog() { return qobject_cast<QFileDialog*>(sheets_.currentSheet()); }

  QMainWindow window_;
  SheetHost sheets_{&window_};
  QString folder_ = quillion::test::makeTempDir("save-panel");
};

TEST_F(PlatformSavePanel, OKAnswersTheChosenPathWithTheRequiredType) {
  int code = -1;
  QString answer;
  SavePanelRequest request;
  request.prompt = QStringLiteral("Save Image");
  request.requiredType = QStringLiteral("wlt");
  request.directory = folder_;
  request.fileName = QStringLiteral("VUK_CDImage.wlt");
  ASSERT_TRUE(SavePanel::platform().beginSheet(sheets_, request, [&](int c, const QString& p) {
    code = c;
    answer = p;
  }));
  QFileDialog* dialog = shownDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("wlt"));
  EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("Save Image"));
  EXPECT_EQ(QDir::cleanPath(dialog->directory().absolutePath()), QDir::cleanPath(folder_));

  // A second panel is refused while this one is up.
  bool secondEnded = false;
  EXPECT_FALSE(SavePanel::platform().beginSheet(sheets_, request,
                                                [&](int, const QString&) { secondEnded = true; }));
  EXPECT_EQ(shownDialog(), dialog);

  dialog->selectFile(folder_ + QStringLiteral("/mine"));
  static_cast<QDialog*>(dialog)->accept();  // as its Save button
  quillion::test::processEvents();
  EXPECT_EQ(code, SavePanel::kOK);
  EXPECT_EQ(answer, folder_ + QStringLiteral("/mine.wlt"));
  EXPECT_FALSE(sheets_.hasAttachedSheet());
  EXPECT_FALSE(secondEnded);
}

TEST_F(PlatformSavePanel, CancelAnswersNoPath) {
  int code = -1;
  QString answer = QStringLiteral("unset");
  SavePanelRequest request;
  request.requiredType = QStringLiteral("iso");
  request.directory = folder_;
  ASSERT_TRUE(SavePanel::platform().beginSheet(sheets_, request, [&](int c, const QString& p) {
    code = c;
    answer = p;
  }));
  ASSERT_NE(shownDialog(), nullptr);
  shownDialog()->reject();
  quillion::test::processEvents();
  EXPECT_EQ(code, SavePanel::kCancel);
  EXPECT_TRUE(answer.isEmpty());
}
