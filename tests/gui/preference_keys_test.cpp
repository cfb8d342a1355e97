// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/preference_keys.h"

#include <QSet>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class PreferenceKeysTest : public GuiTest {
 protected:
  void SetUp() override {
    defaults = std::make_unique<Defaults>(test::makeTempDir(QStringLiteral("prefs")) +
                                          QStringLiteral("/quillion.conf"));
    registerPreferenceDefaults(*defaults);
  }
  test::ScopedBuiltInMessages messages;
  std::unique_ptr<Defaults> defaults;
};

TEST_F(PreferenceKeysTest, TableHoldsEveryKeyOnceAndRegistersTwentyFive) {
  QSet<QString> constants, keys;
  int registered = 0;
  for (const PreferenceKey& k : preferenceKeys()) {
    constants.insert(QLatin1String(k.constant));
    keys.insert(QLatin1String(k.key));
    registered += k.registered ? 1 : 0;
  }
  EXPECT_EQ(preferenceKeys().size(), 29u);
  EXPECT_EQ(constants.size(), 29);
  EXPECT_EQ(keys.size(), 29) << "two constants share a key string";
  EXPECT_EQ(registered, 25);
  EXPECT_EQ(registeredPreferenceDefaults().size(), 25);
}

TEST_F(PreferenceKeysTest, AFreshUserReadsTheRegisteredDefaults) {
  EXPECT_EQ(defaults->intValue(VUKCacheSizeKey), 2048);
  EXPECT_EQ(defaults->intValue(VUKDataCDFormatKey), 514);
  EXPECT_EQ(defaults->intValue(VUKOverburnSecKey), 30);
  EXPECT_EQ(defaults->intValue(VUKMP3BitRateKey), 128);
  EXPECT_EQ(defaults->intValue(VUKMP3ChannelKey), 2);
  EXPECT_TRUE(defaults->boolValue(VUKVerifyDataKey));
  EXPECT_TRUE(defaults->boolValue(VUKUseCDDBKey));
  EXPECT_TRUE(defaults->boolValue(VUKAudioSwapToHDKey));
  EXPECT_FALSE(defaults->boolValue(VUKSkipSplashBoolKey));
  EXPECT_FALSE(defaults->boolValue(VUKAutoRunMP3Key));
  EXPECT_EQ(defaults->stringList(VUKDataFilterKey),
            (QStringList{QStringLiteral("All"), QStringLiteral("doc"), QStringLiteral("txt"),
                         Msg::gui(QStringLiteral("Edit..."))}));
  EXPECT_EQ(preferenceColor(*defaults, VUKTextColor), QColor(Qt::black));
  EXPECT_EQ(preferenceColor(*defaults, VUKBorderColor), QColor(Qt::red));
  EXPECT_EQ(preferenceColor(*defaults, VUKFillColor), QColor(Qt::blue));
}

TEST_F(PreferenceKeysTest, UnregisteredKeysReadNoZeroOrAbsentUntilWritten) {
  EXPECT_FALSE(defaults->value(VUKOverburnKey).isValid());
  EXPECT_FALSE(defaults->boolValue(VUKOverburnKey));
  EXPECT_EQ(defaults->intValue(VUKTestSrcPromptKey), 0);
  EXPECT_TRUE(defaults->stringList(VUKArrayOfUnselectedDrivesKey).isEmpty());

  ASSERT_TRUE(defaults->set(VUKOverburnKey, true));
  ASSERT_TRUE(defaults->set(VUKArrayOfUnselectedDrivesKey, QStringList{QStringLiteral("Backup")}));
  ASSERT_TRUE(setPreferenceColor(*defaults, VUKFillColor, QColor(0x12, 0x34, 0x56)));
  Defaults reread(defaults->filePath());
  registerPreferenceDefaults(reread);
  EXPECT_TRUE(reread.boolValue(VUKOverburnKey));
  EXPECT_EQ(reread.stringList(VUKArrayOfUnselectedDrivesKey),
            QStringList{QStringLiteral("Backup")});
  EXPECT_EQ(preferenceColor(reread, VUKFillColor), QColor(0x12, 0x34, 0x56));
}

TEST_F(PreferenceKeysTest, KeyStringsAreTheOnesSettingsFilesHold) {
  // A changed key string silently loses every user's setting.
  EXPECT_STREQ(VUKCacheSizeKey, "Cache Size Button");
  EXPECT_STREQ(VUKOverburnKey, "Overburn Enable/Disable Switch");
  EXPECT_STREQ(VUKMP3QualityKey, "MP3 Encoding: Quality Setting");
  EXPECT_STREQ(VUKUseCDDBKey, "CDDB Checking Switch");
  EXPECT_STREQ(VUKDataFilterKey, "Data Filter List");
  EXPECT_STREQ(VUKAudioSwapToHDKey, "Swap Audio Tracks To Harddrive");
}

}  // namespace
