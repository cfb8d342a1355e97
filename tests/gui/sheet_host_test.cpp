// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/sheet_host.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMainWindow>
#include <QMessageBox>

#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class SheetHostTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window.show();
  }
  QMessageBox* visibleAlert() {
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
      if (box->isVisible()) return box;
    return nullptr;
  }
  QAbstractButton* button(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
      if (b->text() == text) return b;
    return nullptr;
  }
  QMainWindow window;
  SheetHost host{&window};
};

TEST_F(SheetHostTest, OneSheetAtATimeAndItIsWindowModal) {
  QDialog progress, other;
  int ended = 0, code = -99;
  ASSERT_TRUE(host.beginSheet(&progress, [&](int c) {
    ++ended;
    code = c;
  }));
  EXPECT_TRUE(host.hasAttachedSheet());
  EXPECT_EQ(host.currentSheet(), &progress);
  EXPECT_EQ(progress.windowModality(), Qt::WindowModal);
  EXPECT_TRUE(progress.isVisible());
  EXPECT_FALSE(host.beginSheet(&other)) << "a second sheet waits for the first";
  EXPECT_FALSE(other.isVisible());

  host.endSheet(&other, 5);  // not the attached sheet: nothing happens
  EXPECT_EQ(ended, 0);
  host.endSheet(&progress, 7);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(code, 7);
  EXPECT_FALSE(host.hasAttachedSheet());
  EXPECT_FALSE(progress.isVisible());
  progress.done(3);  // finishing it again does not call the old handler
  EXPECT_EQ(ended, 1);
}

TEST_F(SheetHostTest, AnEndHandlerMayBeginTheNextSheet) {
  QDialog first, second;
  ASSERT_TRUE(host.beginSheet(&first, [&](int) { EXPECT_TRUE(host.beginSheet(&second)); }));
  first.accept();
  EXPECT_EQ(host.currentSheet(), &second);
  second.reject();
  EXPECT_FALSE(host.hasAttachedSheet());
}

TEST_F(SheetHostTest, NoAlertWhileASheetIsAttached) {
  QDialog progress;
  ASSERT_TRUE(host.beginSheet(&progress));
  int answered = 0;
  EXPECT_FALSE(host.alert(QStringLiteral("Media Not Found"), QStringLiteral("Insert a disc"),
                          {QStringLiteral("OK")}, [&](int) { ++answered; }));
  EXPECT_EQ(visibleAlert(), nullptr);
  host.endSheet(&progress, 0);

  int pressed = -5;
  ASSERT_TRUE(host.alert(QStringLiteral("Media Not Found"), QStringLiteral("Insert a disc"),
                         {QStringLiteral("OK"), QStringLiteral("Cancel")}, [&](int b) {
                           ++answered;
                           pressed = b;
                         }));
  QMessageBox* box = visibleAlert();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QStringLiteral("Media Not Found")) << "a key without a text shows itself";
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  ASSERT_NE(button(box, QStringLiteral("Cancel")), nullptr);
  button(box, QStringLiteral("Cancel"))->click();
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(pressed, 1);
  EXPECT_FALSE(host.hasAttachedSheet());
}

}  // namespace
