// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class DefaultsTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    path = test::makeTempDir(QStringLiteral("defaults")) + QStringLiteral("/sub/quillion.conf");
  }
  QByteArray fileText() const {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QString path;
};

TEST_F(DefaultsTest, StandardFileFollowsXdgConfigHome) {
  qputenv("XDG_CONFIG_HOME", (test::tempRoot() + QStringLiteral("/elsewhere")).toUtf8());
  EXPECT_EQ(Defaults::standardFilePath(),
            test::tempRoot() + QStringLiteral("/elsewhere/quillion/quillion.conf"));
  qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
  EXPECT_EQ(Defaults::standardFilePath(),
            qEnvironmentVariable("HOME") + QStringLiteral("/.config/quillion/quillion.conf"));
}

TEST_F(DefaultsTest, RegisteredValuesShowUntilSetAndAreNeverWritten) {
  Defaults d(path);
  d.registerDefaults(
      {{QStringLiteral("Cache Size Button"), 2048}, {QStringLiteral("Verify Data Switch"), true}});
  EXPECT_EQ(d.intValue(QStringLiteral("Cache Size Button")), 2048);
  EXPECT_TRUE(d.boolValue(QStringLiteral("Verify Data Switch")));
  EXPECT_FALSE(d.isStored(QStringLiteral("Cache Size Button")));
  EXPECT_FALSE(d.value(QStringLiteral("Not Registered")).isValid());
  EXPECT_FALSE(d.boolValue(QStringLiteral("Not Registered")));
  EXPECT_EQ(d.intValue(QStringLiteral("Not Registered")), 0);

  ASSERT_TRUE(d.set(QStringLiteral("Verify Data Switch"), false));
  EXPECT_FALSE(d.boolValue(QStringLiteral("Verify Data Switch")));
  EXPECT_FALSE(fileText().contains("Cache")) << "registered defaults stay out of the file";
}

TEST_F(DefaultsTest, EveryChangeIsOnDiskAtOnceAndReadByANewInstance) {
  Defaults d(path);
  ASSERT_TRUE(d.set(QStringLiteral("Cache Size Button"), 4096));
  // Synced before set() returned: the file already holds the value.
  EXPECT_TRUE(fileText().contains("Cache%20Size%20Button=4096")) << fileText().constData();
  ASSERT_TRUE(d.set(QStringLiteral("Overburn Enable/Disable Switch"), true));
  ASSERT_TRUE(d.set(QStringLiteral("MP3 Encoding: Quality Setting"), 2));
  ASSERT_TRUE(d.set(QStringLiteral("Data Filter List"),
                    QStringList{QStringLiteral("All"), QStringLiteral("doc")}));

  Defaults again(path);
  EXPECT_EQ(again.intValue(QStringLiteral("Cache Size Button")), 4096);
  EXPECT_TRUE(again.boolValue(QStringLiteral("Overburn Enable/Disable Switch")));
  EXPECT_EQ(again.intValue(QStringLiteral("MP3 Encoding: Quality Setting")), 2);
  EXPECT_EQ(again.stringList(QStringLiteral("Data Filter List")),
            (QStringList{QStringLiteral("All"), QStringLiteral("doc")}));
}

TEST_F(DefaultsTest, ValuesWrittenByAnEarlierRunReadBackWithTheirTypes) {
  // The forms the INI writer leaves on disk, as a later process finds them (untyped text).
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "[General]\n"
      "Cache%20Size%20Button=4096\n"
      "Verify%20Data%20Switch=false\n"
      "One%20Entry=doc\n"
      "Data%20Filter%20List=@Invalid()\n"
      "Two%20Entries=All, doc\n");
  f.close();
  Defaults d(path);
  d.registerDefaults({{QStringLiteral("Data Filter List"), QStringList{QStringLiteral("All")}},
                      {QStringLiteral("Verify Data Switch"), true}});
  EXPECT_EQ(d.intValue(QStringLiteral("Cache Size Button")), 4096);
  EXPECT_FALSE(d.boolValue(QStringLiteral("Verify Data Switch")));
  EXPECT_EQ(d.stringList(QStringLiteral("One Entry")), QStringList{QStringLiteral("doc")});
  EXPECT_EQ(d.stringList(QStringLiteral("Two Entries")),
            (QStringList{QStringLiteral("All"), QStringLiteral("doc")}));
  EXPECT_TRUE(d.stringList(QStringLiteral("Data Filter List")).isEmpty())
      << "a list the user emptied must not turn back into the registered one";
}

TEST_F(DefaultsTest, ChangedIsSignalledOnlyWhenTheValueChanges) {
  Defaults d(path);
  d.registerDefaults({{QStringLiteral("Volume Balancing Switch"), false}});
  QSignalSpy spy(&d, &Defaults::changed);
  d.set(QStringLiteral("Volume Balancing Switch"), false);  // same as the default
  EXPECT_EQ(spy.count(), 0);
  d.set(QStringLiteral("Volume Balancing Switch"), true);
  d.set(QStringLiteral("Volume Balancing Switch"), true);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("Volume Balancing Switch"));
  d.remove(QStringLiteral("Volume Balancing Switch"));  // back to the registered false
  EXPECT_EQ(spy.count(), 2);
  EXPECT_FALSE(d.boolValue(QStringLiteral("Volume Balancing Switch")));
}

TEST_F(DefaultsTest, AFileThatCannotBeWrittenIsReported) {
  const QString blocker =
      test::makeTempDir(QStringLiteral("blocked")) + QStringLiteral("/plain-file");
  QFile f(blocker);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  Defaults d(blocker + QStringLiteral("/quillion.conf"));  // its folder is a file
  EXPECT_FALSE(d.set(QStringLiteral("Cache Size Button"), 1024));
}

TEST_F(DefaultsTest, SharedInstanceIsTheInstalledOne) {
  Defaults mine(path);
  Defaults::setShared(&mine);
  EXPECT_EQ(&Defaults::shared(), &mine);
  Defaults::setShared(nullptr);
  EXPECT_NE(&Defaults::shared(), &mine);
}

}  // namespace
