// SPDX-License-Identifier: GPL-2.0-or-later
// The prompts as the user meets them: sheets on the document's window, answered here by
// clicking their buttons.
#include "framework/document_prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>

#include "documents/layout_document.h"
#include "documents/layout_document_kinds.h"
#include "framework/document_controller.h"
#include "framework/messages.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class SheetPromptsTest : public GuiTest {
 protected:
  void SetUp() override { registerLayoutDocumentTypes(controller); }
  static void press(QDialog* box, const QString& text) {
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
      if (b->text() == text) {
        b->click();
        return;
      }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
  }
  LayoutDocument* editedDocument(const char* type) {
    auto* d =
        static_cast<LayoutDocument*>(controller.openUntitledDocumentOfType(QLatin1String(type)));
    d->updateChangeCount(Document::Change::Done);
    return d;
  }

  test::ScopedBuiltInMessages messages;
  SheetPrompts prompts;
  DocumentController controller{prompts};
};

TEST_F(SheetPromptsTest, ClosingAnEditedWindowAsksOnItsSheet) {
  LayoutDocument* d = editedDocument("Data CD");
  QMainWindow* window = d->layoutController()->window();
  SheetHost& sheets = d->layoutController()->sheets();

  window->close();  // the window's close button
  ASSERT_TRUE(sheets.hasAttachedSheet());
  auto* box = qobject_cast<QMessageBox*>(sheets.currentSheet());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  EXPECT_TRUE(box->text().contains(QStringLiteral("Untitled")));
  EXPECT_FALSE(d->isClosed());

  press(box, QStringLiteral("Cancel"));
  EXPECT_FALSE(d->isClosed());
  EXPECT_TRUE(window->isVisible());

  window->close();
  press(sheets.currentSheet(), QStringLiteral("Don't Save"));
  EXPECT_TRUE(d->isClosed());
  EXPECT_FALSE(window->isVisible());
  test::processEvents();
  EXPECT_TRUE(controller.documents().empty());
}

TEST_F(SheetPromptsTest, SaveOnAnUntitledDocumentAsksForAPathOnTheSameWindow) {
  LayoutDocument* d = editedDocument("Audio CD");
  SheetHost& sheets = d->layoutController()->sheets();
  const QString dir = test::makeTempDir(QStringLiteral("prompts"));
  bool closed = false;
  d->tryClose([&](bool c) { closed = c; });
  press(sheets.currentSheet(), QStringLiteral("Save"));

  auto* dialog = qobject_cast<QFileDialog*>(sheets.currentSheet());
  ASSERT_NE(dialog, nullptr) << "the save question follows the first sheet";
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("qlaudio"));
  dialog->selectFile(dir + QStringLiteral("/songs.qlaudio"));
  static_cast<QDialog*>(dialog)->accept();  // what the dialog's Save button does
  EXPECT_TRUE(closed);
  EXPECT_TRUE(QFileInfo::exists(dir + QStringLiteral("/songs.qlaudio")));
}

TEST_F(SheetPromptsTest, AWindowBusyWithASheetDoesNotClose) {
  LayoutDocument* d = editedDocument("CD Copy");
  QDialog progress;
  ASSERT_TRUE(d->layoutController()->sheets().beginSheet(&progress));
  bool closed = true;
  d->tryClose([&](bool c) { closed = c; });
  EXPECT_FALSE(closed);
  EXPECT_EQ(d->layoutController()->sheets().currentSheet(), &progress);
  d->layoutController()->sheets().endSheet(&progress, 0);
}

TEST_F(SheetPromptsTest, AFileThatCannotOpenIsReportedWithoutAWindow) {
  const QString path = test::makeTempDir(QStringLiteral("bad")) + QStringLiteral("/x.qldata");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("garbage");
  f.close();
  EXPECT_EQ(controller.openDocumentWithContentsOfFile(path), nullptr);
  QMessageBox* shown = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) shown = box;
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->text(), Msg::gui(QStringLiteral("Invalid Layout File")));
  EXPECT_EQ(shown->informativeText(), Msg::gui(QStringLiteral("Not A Valid Layout File!")));
  shown->accept();
}

}  // namespace
