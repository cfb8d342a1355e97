// SPDX-License-Identifier: GPL-2.0-or-later
// The preferences window: every control writes its setting at once, the overburn fields
// clamp, the standard MP3 settings, the temporary volumes (one always stays ticked), the
// colours of every progress ring; and the ring and progress cell themselves.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTableWidget>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "shell/preference_controller.h"
#include "shell/preference_keys.h"
#include "shell/progress_views.h"
#include "shell/temp_folder_mgr.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class Preferences : public GuiTest {
 protected:
  Preferences() {
    registerPreferenceDefaults(defaults_);
    for (const char* name : {"home", "second"}) {
      const QString mount = root_ + '/' + name;
      QDir().mkpath(mount);
      mountInfo_ += QStringLiteral("%1 1 8:%1 / %2 rw - ext4 /dev/x rw\n")
                        .arg(mountInfo_.count('\n') + 1)
                        .arg(mount)
                        .toUtf8();
    }
  }
  std::unique_ptr<TempFolderMgr> makeVolumes() {
    TempFolderMgr::Environment env;
    env.mountInfo = mountInfo_;
    env.cacheHome = root_ + "/home/.cache";
    env.space = [](const QString&) {
      return std::optional<VolumeSpace>(VolumeSpace{100u << 20, 200u << 20});
    };
    env.writable = [](const QString&) { return true; };
    return std::make_unique<TempFolderMgr>("T", defaults_, env);
  }

  QString root_ = quillion::test::makeTempDir("pref-volumes");
  QByteArray mountInfo_;
  Defaults defaults_{quillion::test::makeTempDir("pref-settings") + "/quillion.conf"};
};

}  // namespace

TEST_F(Preferences, AFreshUserReadsTheDefaultsAndEveryVolumeIsUsed) {
  auto volumes = makeVolumes();
  PreferenceController prefs(defaults_, volumes.get());
  EXPECT_FALSE(defaults_.boolValue(VUKOverburnKey));
  EXPECT_EQ(defaults_.intValue(VUKTestSrcPromptKey), 0);
  EXPECT_FALSE(defaults_.isStored(VUKArrayOfUnselectedDrivesKey));
  EXPECT_FALSE(prefs.overburnMinField()->isEnabled());
  EXPECT_EQ(prefs.overburnSecField()->text(), "30");
  ASSERT_EQ(prefs.volumeTable()->rowCount(), 2);
  EXPECT_TRUE(prefs.volumeUsed(0));
  EXPECT_TRUE(prefs.volumeUsed(1));
  EXPECT_TRUE(
      prefs.volumeTable()->item(0, 1)->text().endsWith("(100.0 MB " + Msg::gui("Free") + ")"));
  EXPECT_FALSE(prefs.mp3QualityButton()->isEnabled()) << "the standard MP3 settings are on";
}

TEST_F(Preferences, OverburnFieldsClampAndStoreAtOnce) {
  PreferenceController prefs(defaults_, nullptr);
  prefs.setOverburn(true);
  EXPECT_TRUE(prefs.overburnMinField()->isEnabled());
  struct Case {
    QLineEdit* field;
    const char* key;
    const char* typed;
    int stored;
  };
  const Case cases[] = {{prefs.overburnMinField(), VUKOverburnMinKey, "120", 99},
                        {prefs.overburnSecField(), VUKOverburnSecKey, "60", 59},
                        {prefs.overburnFrameField(), VUKOverburnFrameKey, "75", 74},
                        {prefs.overburnFrameField(), VUKOverburnFrameKey, "74", 74},
                        {prefs.overburnSecField(), VUKOverburnSecKey, "12", 12}};
  for (const Case& c : cases) {
    c.field->setText(c.typed);
    prefs.overburnFieldEdited(c.field);
    EXPECT_EQ(c.field->text(), QString::number(c.stored)) << c.key << " " << c.typed;
    Defaults reread(defaults_.filePath());
    EXPECT_EQ(reread.intValue(c.key), c.stored) << "written to the file at once";
  }
  // A value still being typed when the window closes is stored too.
  prefs.overburnMinField()->setText("7");
  QCloseEvent close;
  QCoreApplication::sendEvent(&prefs, &close);
  EXPECT_EQ(defaults_.intValue(VUKOverburnMinKey), 7);
  EXPECT_TRUE(Defaults(defaults_.filePath()).boolValue(VUKOverburnKey));
}

TEST_F(Preferences, TheStandardMp3SettingsOverrideEarlierChoices) {
  PreferenceController prefs(defaults_, nullptr);
  prefs.setMp3EncDefault(false);
  EXPECT_TRUE(prefs.mp3BitrateButton()->isEnabled());
  prefs.setMp3Choice(prefs.mp3QualityButton(), VUKMP3QualityKey,
                     prefs.mp3QualityButton()->findData(9));
  prefs.setMp3Choice(prefs.mp3BitrateButton(), VUKMP3BitRateKey,
                     prefs.mp3BitrateButton()->findData(320));
  prefs.setMp3Choice(prefs.mp3ChannelButton(), VUKMP3ChannelKey,
                     prefs.mp3ChannelButton()->findData(1));
  EXPECT_EQ(defaults_.intValue(VUKMP3BitRateKey), 320);
  prefs.setMp3EncDefault(true);
  EXPECT_EQ(defaults_.intValue(VUKMP3QualityKey), 0);
  EXPECT_EQ(defaults_.intValue(VUKMP3BitRateKey), 128);
  EXPECT_EQ(defaults_.intValue(VUKMP3ChannelKey), 2);
  EXPECT_EQ(prefs.mp3BitrateButton()->currentData().toInt(), 128);
  EXPECT_FALSE(prefs.mp3BitrateButton()->isEnabled());
}

TEST_F(Preferences, OneVolumeAlwaysStaysTicked) {
  auto volumes = makeVolumes();
  PreferenceController prefs(defaults_, volumes.get());
  prefs.setUseAllAvailableVolumes(false);
  prefs.setVolumeUsed(1, false);
  EXPECT_FALSE(prefs.volumeUsed(1));
  EXPECT_EQ(defaults_.stringList(VUKArrayOfUnselectedDrivesKey),
            QStringList{volumes->volumeName(2)});
  prefs.setVolumeUsed(0, false);  // the last one ticked
  EXPECT_TRUE(prefs.volumeUsed(0)) << "the first row's volume is ticked again";
  EXPECT_FALSE(prefs.volumeUsed(1));
  EXPECT_TRUE(volumes->isVolumeSelected(1));

  prefs.setUseAllAvailableVolumes(true);
  EXPECT_FALSE(defaults_.isStored(VUKArrayOfUnselectedDrivesKey));
  EXPECT_TRUE(volumes->isVolumeSelected(2));
  EXPECT_TRUE(prefs.volumeUsed(1));
  EXPECT_FALSE(prefs.volumeTable()->item(1, 0)->flags() & Qt::ItemIsEnabled)
      << "drawn on and disabled";
}

TEST_F(Preferences, ColoursReachEveryProgressRing) {
  PreferenceController prefs(defaults_, nullptr);
  BurnCustomProgress elsewhere(defaults_);
  EXPECT_EQ(elsewhere.borderColor(), QColor(Qt::red));
  prefs.setColor(VUKFillColor, QColor(0x11, 0x22, 0x33));
  EXPECT_EQ(prefs.sampleProgressBar()->fillColor(), QColor(0x11, 0x22, 0x33))
      << "the sample at once";
  EXPECT_EQ(elsewhere.fillColor(), QColor(Qt::blue)) << "others when applied";
  prefs.applyColors();
  EXPECT_EQ(elsewhere.fillColor(), QColor(0x11, 0x22, 0x33));
  prefs.useDefaultColors();
  EXPECT_EQ(elsewhere.fillColor(), QColor(Qt::blue));
  EXPECT_EQ(preferenceColor(Defaults(defaults_.filePath()), VUKTextColor), QColor(Qt::black));
}

TEST(ProgressViews, SegmentsAndCancelledCells) {
  struct Case {
    int percentage, segments;
  };
  for (const Case c :
       {Case{0, 0}, Case{7, 0}, Case{8, 1}, Case{95, 11}, Case{96, 12}, Case{100, 12}, Case{-5, 0}})
    EXPECT_EQ(filledRingSegments(c.percentage), c.segments) << c.percentage;

  BurnCustomProgressCell cell;
  cell.setPercentage(40);
  cell.setStatusString("Writing");
  EXPECT_EQ(cell.percentage(), 40);
  cell.cancelAction();
  EXPECT_EQ(cell.percentage(), 0);
  EXPECT_EQ(cell.statusString(), Msg::gui("Cancelled"));
  EXPECT_TRUE(cell.indeterminate());
  cell.setPercentage(80);
  cell.setStatusString("Writing");
  EXPECT_EQ(cell.percentage(), 0) << "a cancelled drive keeps showing 0";
  EXPECT_EQ(cell.statusString(), Msg::gui("Cancelled"));
}
