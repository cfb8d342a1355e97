// SPDX-License-Identifier: GPL-2.0-or-later
// The application comes up and its windows draw.
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QPixmap>
#include <set>

#include "framework/document.h"
#include "framework/messages.h"
#include "framework/window_controller.h"
#include "shell/application.h"
#include "shell/preference_keys.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class ApplicationTest : public GuiTest {
 protected:
  void SetUp() override {
    app = std::make_unique<Application>(test::makeTempDir(QStringLiteral("app")) +
                                        QStringLiteral("/quillion.conf"));
  }
  test::ScopedBuiltInMessages messages;
  std::unique_ptr<Application> app;
};

TEST_F(ApplicationTest, StartsWithADataLayoutAndItsDefaultsRegistered) {
  ASSERT_TRUE(app->start({}));
  ASSERT_EQ(app->documents().documents().size(), 1u);
  Document* d = app->documents().documents().front();
  EXPECT_EQ(d->fileType(), QStringLiteral("Data CD"));
  EXPECT_EQ(app->defaults().intValue(VUKCacheSizeKey), 2048);
  EXPECT_EQ(&Defaults::shared(), &app->defaults());

  std::set<QString> actions;
  QMainWindow* window = d->firstWindowController()->window();
  for (QAction* menu : window->menuBar()->actions())
    for (QAction* a : menu->menu()->actions()) actions.insert(a->text());
  for (const char* expected : {"New", "Open…", "Close", "Save", "Save As…", "Quit"})
    EXPECT_TRUE(actions.count(QString::fromUtf8(expected))) << expected;
}

TEST_F(ApplicationTest, AFileThatCannotOpenStillLeavesAWindowToWorkIn) {
  ASSERT_TRUE(app->start({test::tempRoot() + QStringLiteral("/does-not-exist.qlaudio")}));
  ASSERT_EQ(app->documents().documents().size(), 1u);
  EXPECT_EQ(app->documents().documents().front()->fileType(), QStringLiteral("Data CD"));
}

TEST_F(ApplicationTest, ALayoutWindowRendersSomething) {
  ASSERT_TRUE(app->start({}));
  QMainWindow* window = app->documents().documents().front()->firstWindowController()->window();
  window->resize(640, 420);
  test::processEvents();
  const QString png = test::makeTempDir(QStringLiteral("shot")) + QStringLiteral("/window.png");
  ASSERT_TRUE(window->grab().save(png, "PNG"));

  QImage image(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(640, 420));
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 2u) << "the window drew nothing but a flat surface";
}

}  // namespace
