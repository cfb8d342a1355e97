// SPDX-License-Identifier: GPL-2.0-or-later
// The About panel (version, drive database version, credit line) as one panel for the whole
// run, and the Internet menu's pages, each opened through the controller's opener.
#include "shell/about_panel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <set>

#include "device_environment.h"
#include "framework/document.h"
#include "framework/window_controller.h"
#include "shell/app_controller.h"
#include "shell/application.h"
#include "shell/device_info_controller.h"
#include "shell/drive_database.h"
#include "shell/web_pages.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class AboutAndWebPages : public GuiTest {
 protected:
  AboutAndWebPages() {
    hooks_.openUrl = [this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    };
  }
  ~AboutAndWebPages() override { QFile::remove(userDriveDatabasePath()); }

  // The user's copy of the drive database, which the application prefers to any other.
  static void installDatabase(std::uint32_t version) {
    DriveDatabase db;
    db.version = version;
    DriveRecord r;
    r.vendor = "QUILLION";
    r.model = "ABOUT WRITER";
    r.cap.dwCDRSpeedFlag = 0x1554;
    db.records = {r};
    ASSERT_TRUE(QDir().mkpath(QFileInfo(userDriveDatabasePath()).absolutePath()));
    QFile file(userDriveDatabasePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray bytes = encodeDriveDatabase(db);
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  emu::DeviceEnvironment env_;
  Application app_{quillion::test::makeTempDir("about-settings") + "/quillion.conf"};
  AppController::Hooks hooks_;
  std::vector<QUrl> opened_;
};

const char* const kWebActions[] = {
    "showZEBHomePage:",        "showVUKHomePage:",     "showZEBFAQPage:",
    "showSoftwareUpdatePage:", "showTechSupportPage:", "openOthersHomePage:",
    "openOthersSupportPage:",
};

}  // namespace

TEST_F(AboutAndWebPages, TheAboutPanelShowsVersionDatabaseAndCredit) {
  installDatabase(42);
  AppController controller(app_, hooks_);
  ASSERT_TRUE(controller.launch({}));
  AboutPanel* about = controller.showAbout();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->versionText(), QStringLiteral("v" QUILLION_PROJECT_VERSION));
  EXPECT_EQ(about->bdbVersionText(), QStringLiteral("BDB Version: 42"));
  const QString credit = about->creditText();
  for (const char* part : {"Quillion", "Copyright (C) the Quillion developers", "GPL-2.0-or-later"})
    EXPECT_TRUE(credit.contains(QLatin1String(part))) << credit.toStdString();
  EXPECT_TRUE(about->isVisible());
  EXPECT_TRUE(opened_.empty());

  // One panel for the run, filled afresh: a database update shows at the next opening.
  controller.showDeviceInfoPanel()->setCurrentBDBVersion(43);
  EXPECT_EQ(controller.showAbout(), about);
  EXPECT_EQ(about->bdbVersionText(), QStringLiteral("BDB Version: 43"));
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(AboutAndWebPages, WithoutTheDriveInformationTheDatabaseFieldIsEmpty) {
  installDatabase(42);
  AppController controller(app_, hooks_);  // never launched: no device list to describe
  AboutPanel* about = controller.showAbout();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->versionText(), QStringLiteral("v" QUILLION_PROJECT_VERSION));
  EXPECT_EQ(about->bdbVersionText(), QString());
  EXPECT_FALSE(about->creditText().isEmpty());
}

TEST_F(AboutAndWebPages, EachWebActionOpensItsOwnAddress) {
  AppController controller(app_, hooks_);
  std::set<QString> settingKeys;
  for (const char* action : kWebActions) {
    const WebPage* page = findWebPage(QString::fromLatin1(action));
    ASSERT_NE(page, nullptr) << action;
    EXPECT_TRUE(settingKeys.insert(QString::fromLatin1(page->settingKey)).second) << action;
    const QUrl url(QStringLiteral("https://pages.example.org/") + QLatin1String(action).chopped(1));
    ASSERT_TRUE(app_.defaults().set(QString::fromLatin1(page->settingKey), url.toString()));
    opened_.clear();
    EXPECT_TRUE(controller.openWebPage(QString::fromLatin1(action))) << action;
    ASSERT_EQ(opened_.size(), 1u) << action;
    EXPECT_EQ(opened_.front(), url) << action;
  }
  EXPECT_EQ(webPages().size(), std::size(kWebActions));
  opened_.clear();
  EXPECT_FALSE(controller.openWebPage(QStringLiteral("showNoSuchPage:")));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(AboutAndWebPages, APageWithoutAUsableAddressOpensNothing) {
  AppController controller(app_, hooks_);
  const WebPage& page = webPages().front();
  const QString action = QString::fromLatin1(page.action);
  const QString key = QString::fromLatin1(page.settingKey);
  struct Case {
    const char* setting;
    bool opens;
  };
  const Case cases[] = {
      {"not an address", false},
      {"mailto:someone", false},  // no host to browse to
      {"https://", false},
      {"  https://pages.example.org/home  ", true},  // blanks around are forgiven
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(app_.defaults().set(key, QString::fromLatin1(c.setting)));
    opened_.clear();
    EXPECT_EQ(controller.openWebPage(action), c.opens) << c.setting;
    EXPECT_EQ(opened_.size(), c.opens ? 1u : 0u) << c.setting;
  }
  // Without a setting the page falls back to the address the build names, if any.
  ASSERT_TRUE(app_.defaults().remove(key));
  opened_.clear();
  const bool builtIn = page.builtIn[0] != '\0';
  EXPECT_EQ(controller.openWebPage(action), builtIn);
  EXPECT_EQ(opened_.size(), builtIn ? 1u : 0u);
}

TEST_F(AboutAndWebPages, TheMenusOfEveryWindowCarryTheActions) {
  AppController controller(app_, hooks_);
  ASSERT_TRUE(controller.launch({}));
  Document* doc = app_.documents().openUntitledDocumentOfType(QStringLiteral("Data CD"));
  ASSERT_NE(doc, nullptr);
  QMenuBar* bar = doc->firstWindowController()->window()->menuBar();
  auto* internet = bar->findChild<QMenu*>(QStringLiteral("internetMenu"));
  ASSERT_NE(internet, nullptr);

  const WebPage& faq = *findWebPage(QStringLiteral("showZEBFAQPage:"));
  for (const char* action : kWebActions) {
    QAction* item = bar->findChild<QAction*>(QString::fromLatin1(action));
    ASSERT_NE(item, nullptr) << action;
    const WebPage* page = findWebPage(QString::fromLatin1(action));
    EXPECT_EQ(item->isEnabled(), page->builtIn[0] != '\0') << action << ": greyed without address";
  }
  const QUrl url(QStringLiteral("https://pages.example.org/faq"));
  ASSERT_TRUE(app_.defaults().set(QString::fromLatin1(faq.settingKey), url.toString()));
  emit internet->aboutToShow();
  QAction* item = bar->findChild<QAction*>(QStringLiteral("showZEBFAQPage:"));
  EXPECT_TRUE(item->isEnabled());
  item->trigger();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_.front(), url);

  QAction* aboutItem = bar->findChild<QAction*>(QStringLiteral("showAbout:"));
  ASSERT_NE(aboutItem, nullptr);
  aboutItem->trigger();
  AboutPanel* about = controller.showAbout();
  EXPECT_TRUE(about->isVisible());
  EXPECT_EQ(about->versionText(), QStringLiteral("v" QUILLION_PROJECT_VERSION));
  doc->close();
  EXPECT_TRUE(controller.shouldTerminate());
}

TEST_F(AboutAndWebPages, APictureOfThePanelShowsItsLinesCentred) {
  installDatabase(42);
  AppController controller(app_, hooks_);
  ASSERT_TRUE(controller.launch({}));
  AboutPanel* about = controller.showAbout();
  ASSERT_NE(about, nullptr);
  quillion::test::processEvents();
  const QString png = quillion::test::screenshotPath("about.png");
  ASSERT_TRUE(about->grab().save(png, "PNG"));
  const QImage image(png);
  ASSERT_FALSE(image.isNull());
  // Each band of rows holding dark pixels is one line of text (or the button); every band
  // has its ink about the middle of the panel.
  const auto inkBounds = [&image](int y) {
    std::pair<int, int> bounds{image.width(), -1};
    if (y >= image.height()) return bounds;
    for (int x = 0; x < image.width(); ++x)
      if (QColor(image.pixel(x, y)).lightness() < 100) {
        bounds.first = std::min(bounds.first, x);
        bounds.second = std::max(bounds.second, x);
      }
    return bounds;
  };
  int bands = 0;
  for (int y = 0; y < image.height();) {
    auto [left, right] = inkBounds(y++);
    if (right < 0) continue;
    for (auto next = inkBounds(y); next.second >= 0; next = inkBounds(++y)) {
      left = std::min(left, next.first);
      right = std::max(right, next.second);
    }
    ++bands;
    EXPECT_LE(std::abs((left + right) - image.width()), image.width() / 10)
        << "band " << bands << " from " << left << " to " << right << " of " << image.width();
  }
  EXPECT_GE(bands, 5) << "name, version, database version, credit and button";
  EXPECT_TRUE(controller.shouldTerminate());
}
