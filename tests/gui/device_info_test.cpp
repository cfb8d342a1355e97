// SPDX-License-Identifier: GPL-2.0-or-later
// The drive information panel over two emulated drives, one the drive database knows and one
// that describes itself: what the pop-up offers, the eleven rows, the speeds' source, the
// database version, and a picture of the panel as a person sees it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTableView>
#include <set>

#include "device_environment.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "shell/device_info_controller.h"
#include "shell/device_list_manager.h"
#include "shell/drive_database.h"
#include "shell/notification_names.h"
#include "support/gui_test_env.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::GuiTest;

namespace {

class DeviceInfoPanel : public GuiTest {
 protected:
  void SetUp() override {
    for (const auto& [model, preset] :
         {std::pair{"KNOWN WRITER", "cd-writer"}, std::pair{"NEW WRITER", "dvd-writer"}}) {
      auto config = *DriveConfig::preset(preset);
      config.name = config.product = model;
      EmulatedBus::instance().plug(config);
    }
    env_.start();
    DriveDatabase db;
    db.version = 12;
    DriveRecord known;
    known.vendor = "QUILLION";
    known.model = "KNOWN WRITER";
    known.cap.dwCDRSpeedFlag = 0x1554;
    known.cap.dwRWSpeedFlag = 0x16;
    known.cap.bBurnProof = 1;
    db.records = {known};
    databasePath_ = quillion::test::makeTempDir("panel-bdb") + "/Vede32.bdb";
    QFile file(databasePath_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(encodeDriveDatabase(db));
    file.close();
    list_ = std::make_unique<DeviceListManager>(databasePath_,
                                                [](QObject*, std::function<void()> fn) { fn(); });
  }

  DeviceEnvironment env_;
  QString databasePath_;
  std::unique_ptr<DeviceListManager> list_;
};

}  // namespace

TEST_F(DeviceInfoPanel, ShowsTheChosenDrivesRowsAndWhereItsSpeedsCameFrom) {
  DeviceInfoController panel(*list_, 12);
  const int knownIndex = list_->getIndexOfDeviceByRef(DeviceEnvironment::refOf("KNOWN WRITER"));
  const int newIndex = list_->getIndexOfDeviceByRef(DeviceEnvironment::refOf("NEW WRITER"));
  const QStringList titles = panel.driveTitles();
  ASSERT_EQ(titles.size(), 2) << "the image writers are not drives to describe";
  EXPECT_TRUE(titles.contains(QStringLiteral("%1. QUILLION KNOWN WRITER").arg(knownIndex + 1)));
  EXPECT_TRUE(titles.contains(QStringLiteral("%1. QUILLION NEW WRITER").arg(newIndex + 1)));
  EXPECT_EQ(panel.databaseVersionText(), "12");
  EXPECT_EQ(panel.statusText(), Msg::gui("Drive Ready"));

  panel.chooseDrive(
      titles.indexOf(QStringLiteral("%1. QUILLION KNOWN WRITER").arg(knownIndex + 1)));
  EXPECT_EQ(panel.deviceRef(), DeviceEnvironment::refOf("KNOWN WRITER"));
  EXPECT_EQ(panel.valueForKey("CD-R Speed"), "4, 8, 12, 16, 20, 24");
  EXPECT_EQ(panel.valueForKey("DVD-/+R Speed"), "N/A") << "an empty mask";
  EXPECT_EQ(panel.valueForKey("Buffer Underrun Protection"), Msg::gui("Yes String"));
  EXPECT_EQ(panel.valueForKey("Cache Size"), "2 MB");
  EXPECT_EQ(panel.ddsText(), Msg::gui("Off String"));

  panel.chooseDrive(titles.indexOf(QStringLiteral("%1. QUILLION NEW WRITER").arg(newIndex + 1)));
  EXPECT_EQ(panel.valueForKey("CD-R Speed"), "2, 4, 8, 12") << "as the drive reports them";
  EXPECT_EQ(panel.valueForKey("DVD-/+R Speed"), "1, 2, 4");
  EXPECT_EQ(panel.valueForKey("BD-R/RE Support"), Msg::gui("No String"));
  EXPECT_EQ(panel.valueForKey("Interface"), "atapi");
  EXPECT_EQ(panel.ddsText(), Msg::gui("On String"));

  // Eleven rows, none of which can be selected.
  auto* table = panel.findChild<QTableView*>();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->model()->rowCount(), 11);
  for (int row = 0; row < 11; ++row) {
    EXPECT_EQ(table->model()->index(row, 0).data().toString(),
              DeviceInfoController::rowKeys()[row]);
    EXPECT_FALSE(table->model()->flags(table->model()->index(row, 1)) & Qt::ItemIsSelectable);
  }
  EXPECT_EQ(table->selectionMode(), QAbstractItemView::NoSelection);

  // A newer database and a busy drive show at once.
  panel.setCurrentBDBVersion(13);
  EXPECT_EQ(panel.databaseVersionText(), "13");
  list_->updateStatus(panel.deviceRef(), kDriveBurning);
  NotificationCenter::instance().post(VUK_DeviceStatusChangedNotification);
  EXPECT_EQ(panel.statusText(), Msg::gui("Drive Burning"));
  list_->updateStatus(panel.deviceRef(), 9);
  NotificationCenter::instance().post(VUK_DeviceStatusChangedNotification);
  EXPECT_EQ(panel.statusText(), Msg::gui("Drive Burning")) << "an unknown status leaves the text";
}

TEST_F(DeviceInfoPanel, TheChosenDriveStaysWhenAnotherGoes) {
  DeviceInfoController panel(*list_, 12);
  const std::uint32_t fresh = DeviceEnvironment::refOf("NEW WRITER");
  panel.chooseDrive(panel.driveTitles().indexOf(list_->titleOfDrive(fresh, false)));
  ASSERT_EQ(panel.deviceRef(), fresh);
  list_->attachToEngine();
  EmulatedBus::instance().unplug("KNOWN WRITER");
  DeviceEnvironment::pump();
  EXPECT_EQ(panel.driveTitles().size(), 1);
  EXPECT_EQ(panel.deviceRef(), fresh);
  EXPECT_EQ(panel.valueForKey("CD-R Speed"), "2, 4, 8, 12");
  list_->detachFromEngine();
}

TEST_F(DeviceInfoPanel, APictureOfThePanelShowsItsRows) {
  DeviceInfoController panel(*list_, 12);
  panel.resize(480, 440);
  panel.show();
  quillion::test::processEvents();
  const QString png = quillion::test::screenshotPath("drive-information.png");
  ASSERT_TRUE(panel.grab().save(png, "PNG"));
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 4u) << "the panel drew text and a table";
  // The value column is drawn in its own colour: some pixels are brownish.
  bool brown = false;
  for (int y = 0; y < image.height() && !brown; ++y)
    for (int x = image.width() / 2; x < image.width() && !brown; ++x) {
      const QColor c = image.pixelColor(x, y);
      brown = c.red() > c.blue() + 40 && c.green() < c.red() && c.red() > 60;
    }
  EXPECT_TRUE(brown) << "no value text in the table";
  panel.hide();
}
