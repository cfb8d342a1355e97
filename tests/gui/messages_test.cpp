// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/messages.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "framework/xdg_paths.h"
#include "quillion/status.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

TEST(StringTable, ParsesEntriesEscapesAndBadLines) {
  std::vector<int> bad;
  const StringTable t = StringTable::parse(
      QStringLiteral("# comment\r\n"
                     "OK=Okay\r\n"
                     "\n"
                     "Sum\\=Total=a=b\n"  // escaped '=' in the key, plain '=' in the text
                     "Two Lines=one\\ntwo\\t!\n"
                     "\\#Hash=not a comment\n"
                     " KB= KB \n"  // spaces belong to key and text
                     "no separator here\n"
                     "Empty=\n"),
      &bad);
  EXPECT_EQ(t.lookup(QStringLiteral("OK")), QStringLiteral("Okay"));
  EXPECT_EQ(t.lookup(QStringLiteral("Sum=Total")), QStringLiteral("a=b"));
  EXPECT_EQ(t.lookup(QStringLiteral("Two Lines")), QStringLiteral("one\ntwo\t!"));
  EXPECT_EQ(t.lookup(QStringLiteral("#Hash")), QStringLiteral("not a comment"));
  EXPECT_EQ(t.lookup(QStringLiteral(" KB")), QStringLiteral(" KB "));
  EXPECT_EQ(t.find(QStringLiteral("Empty")), QString());
  EXPECT_EQ(t.size(), 6);
  EXPECT_EQ(bad, std::vector<int>{8});
  EXPECT_EQ(t.lookup(QStringLiteral("Missing Key")), QStringLiteral("Missing Key"));
}

class MessagesTest : public GuiTest {
 protected:
  void TearDown() override {
    Msg::install(nullptr);
    GuiTest::TearDown();
  }
  void writeOverride(const char* table, const QByteArray& text) {
    QDir().mkpath(userDataDir());
    QFile f(userDataDir() + QLatin1Char('/') + QLatin1String(table) + QStringLiteral(".txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
};

TEST_F(MessagesTest, BuiltInTablesAnswerByKeyAndByNumber) {
  test::ScopedBuiltInMessages builtIn;
  EXPECT_EQ(Msg::gui(QStringLiteral("OK")), QStringLiteral("OK"));
  EXPECT_EQ(Msg::gui(QStringLiteral("Data CD Title")), QStringLiteral("Data Disc"));
  EXPECT_EQ(Msg::gui(QStringLiteral("No Such Key In Any Table")),
            QStringLiteral("No Such Key In Any Table"));

  EXPECT_EQ(Msg::engineError(kErrReserveTrack), QStringLiteral("Reserve Track Failed"));
  // A status carried in a wider unsigned field names the same entry.
  EXPECT_EQ(Msg::engineError(65536 - 1134), QStringLiteral("Reserve Track Failed"));
  EXPECT_EQ(Msg::engineError(-4242), QStringLiteral("-4242"))
      << "no entry: the number is the title";
}

TEST_F(MessagesTest, EngineErrorTableKeysAreStatusNumbers) {
  const StringTable t =
      StringTable::fromFile(QStringLiteral(":/quillion/strings/EngineErrorMsgs.txt"));
  EXPECT_GT(t.size(), 40);
  for (EngineStatus s : {kErrBadArgument, kErrNoDrive, kErrCheckCondition, kErrTreeDuplicateTitle,
                         kErrImageMagic, kErrCueData, kErrPlatformCannotServe})
    EXPECT_TRUE(t.find(QString::number(s)).has_value()) << s;
}

TEST_F(MessagesTest, UserFilesOverrideSingleEntries) {
  writeOverride("GUIMsgs", "OK=Okay\nNew Key=New Text\n");
  writeOverride("EngineErrorMsgs", "-1134=Track Could Not Be Reserved\n");
  // Nothing installed: the first use loads from $XDG_DATA_HOME/quillion.
  Msg::install(nullptr);
  EXPECT_EQ(Msg::gui(QStringLiteral("OK")), QStringLiteral("Okay"));
  EXPECT_EQ(Msg::gui(QStringLiteral("New Key")), QStringLiteral("New Text"));
  EXPECT_EQ(Msg::gui(QStringLiteral("Cancel")), QStringLiteral("Cancel")) << "other entries stay";
  EXPECT_EQ(Msg::engineError(-1134), QStringLiteral("Track Could Not Be Reserved"));
  EXPECT_EQ(Msg::engineError(-1171), QStringLiteral("Drive Not Found"));
}

}  // namespace

namespace {

// Every status the engine can answer, read from the header the engine itself compiles with,
// so a code added there without a title here fails at once.
std::vector<int> engineStatusCodes() {
  QFile header(QString::fromLocal8Bit(qgetenv("QUILLION_SOURCE_DIR")) +
               QStringLiteral("/Engine/include/quillion/status.h"));
  if (!header.open(QIODevice::ReadOnly)) return {};
  std::vector<int> codes;
  const QRegularExpression entry(QStringLiteral(R"(^\s*k\w+\s*=\s*(-\d+)\s*,)"));
  for (const QByteArray& line : header.readAll().split('\n')) {
    const auto match = entry.match(QString::fromUtf8(line));
    if (match.hasMatch()) codes.push_back(match.captured(1).toInt());
  }
  return codes;
}

}  // namespace

TEST_F(MessagesTest, EveryEngineStatusHasATitle) {
  test::ScopedBuiltInMessages builtIn;
  const std::vector<int> codes = engineStatusCodes();
  ASSERT_GT(codes.size(), 40u) << "status.h was not found or not parsed";
  for (int code : codes) {
    EXPECT_NE(Msg::engineError(code), QString::number(code)) << "no title for " << code;
  }
}
