// SPDX-License-Identifier: GPL-2.0-or-later
// The start window: every kind opens its layout, the pop-ups' choices, the hover drawer on a
// virtual clock, and a picture of the window with every kind's button.
#include "shell/start_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <set>

#include "documents/data_win_ctlr.h"
#include "documents/layout_document.h"
#include "documents/layout_document_kinds.h"
#include "framework/defaults.h"
#include "framework/document.h"
#include "framework/document_controller.h"
#include "framework/document_prompts.h"
#include "framework/messages.h"
#include "framework/repeating_timer.h"
#include "quillion/clock.h"
#include "shell/preference_keys.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class StartWindow : public GuiTest {
 protected:
  StartWindow() {
    registerPreferenceDefaults(defaults_);
    registerLayoutDocumentTypes(documents_);
  }
  ~StartWindow() override {
    for (Document* d : documents_.documents()) d->close();
    quillion::test::processEvents();
  }

  Defaults defaults_{quillion::test::makeTempDir("start-settings") + "/q.conf"};
  SheetPrompts prompts_;
  DocumentController documents_{prompts_};
  VirtualClock clock_;
  ManualTimerSource timers_{clock_};
  ScopedTimerSourceOverride timerGuard_{timers_};
  TTLayoutWinCtlr window_{documents_, defaults_};
};

}  // namespace

TEST_F(StartWindow, EveryKindOpensItsLayoutAndHidesTheWindow) {
  for (const StartKind& kind : startKinds()) {
    const QString type = QString::fromLatin1(kind.typeName);
    if (type.endsWith("Slide")) continue;  // no such layout is offered
    SCOPED_TRACE(kind.action);
    window_.show();
    Document* doc = window_.newLayout(QString::fromLatin1(kind.action));
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->fileType(), type);
    EXPECT_FALSE(window_.isVisible());
  }
  EXPECT_EQ(window_.newLayout("newNothing:"), nullptr);
}

TEST_F(StartWindow, ThePopUpsChoices) {
  EXPECT_EQ(window_.selectCustomCD(0), nullptr) << "the pop-up's own first item opens nothing";
  EXPECT_EQ(window_.selectVideoCD(0), nullptr);
  EXPECT_EQ(window_.selectCustomCD(1)->fileType(), "Mixed CD");
  EXPECT_EQ(window_.selectCustomCD(2)->fileType(), "CD Extra");
  EXPECT_EQ(window_.selectVideoCD(1)->fileType(), "VCD Movie");
  EXPECT_EQ(window_.selectVideoCD(2)->fileType(), "SVCD Movie");
  Document* videoTS = window_.selectVideoCD(3);
  ASSERT_NE(videoTS, nullptr);
  EXPECT_EQ(videoTS->fileType(), "Data CD");
  auto* data =
      dynamic_cast<DataWinCtlr*>(qobject_cast<LayoutDocument*>(videoTS)->layoutController());
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(data->isVideoTS());
  EXPECT_EQ(window_.videoPopUp()->currentIndex(), 0);
  EXPECT_EQ(window_.videoPopUp()->itemText(3), "VIDEO_TS");
}

TEST_F(StartWindow, TheDrawerDescribesTheKindAfterASecond) {
  window_.show();
  window_.mouseEntered(10);
  EXPECT_FALSE(window_.drawerOpen());
  timers_.advance(std::chrono::seconds(1));
  EXPECT_TRUE(window_.drawerOpen());
  EXPECT_EQ(window_.drawerTitle(), Msg::gui("MP3 CD String"));
  EXPECT_EQ(window_.drawerDescription(), Msg::gui("Full MP3 CD Description"));
  window_.mouseExited();
  EXPECT_FALSE(window_.drawerOpen());
  EXPECT_EQ(timers_.runningCount(), 0u);

  // From one button straight into the next: the timer keeps running.
  window_.mouseEntered(2);
  window_.mouseEntered(3);
  window_.mouseExited();
  EXPECT_EQ(timers_.runningCount(), 1u);
  timers_.advance(std::chrono::seconds(1));
  EXPECT_TRUE(window_.drawerOpen());
  EXPECT_EQ(window_.drawerTitle(), Msg::gui("Audio CD String"));
  window_.mouseExited();

  window_.setNoPopUpDrawer(true);
  EXPECT_TRUE(defaults_.boolValue(VUKNoPopUpDrawerKey));
  window_.mouseEntered(2);
  timers_.advance(std::chrono::seconds(3));
  EXPECT_FALSE(window_.drawerOpen()) << "the user turned the drawer off";
}

TEST_F(StartWindow, TheSplashDoesNotHoldUpTheEventLoop) {
  window_.showSplashWindow();  // returns at once
  EXPECT_TRUE(window_.splashVisible());
}

TEST_F(StartWindow, APictureShowsEveryKindsButton) {
  window_.resize(560, 260);
  window_.show();
  quillion::test::processEvents();
  const QString png = quillion::test::screenshotPath("start-window.png");
  ASSERT_TRUE(window_.grab().save(png, "PNG"));
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  // Every kind is reachable: a visible button, or an item of a visible pop-up.
  for (const StartKind& kind : startKinds()) {
    const QString type = QString::fromLatin1(kind.typeName);
    if (type.endsWith("Slide")) continue;
    QPushButton* button = window_.buttonFor(kind.action);
    ASSERT_NE(button, nullptr);
    const bool shown = button->isVisible() && !button->grab().isNull();
    const bool inPopUp = kind.hoverTag == 4 || kind.hoverTag == 8;
    EXPECT_TRUE(shown || inPopUp) << kind.action;
    if (shown) {
      EXPECT_EQ(button->text(), Msg::gui(type));
    }
  }
  EXPECT_TRUE(window_.mixedPopUp()->isVisible());
  EXPECT_TRUE(window_.videoPopUp()->isVisible());
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 4u);
}
