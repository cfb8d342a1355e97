// SPDX-License-Identifier: GPL-2.0-or-later
// Updating the drive database against a local HTTP server (python3 -m http.server): only a
// whole, valid, newer file replaces the user's copy, written beside it and renamed; the
// installed copy is never touched.
#include "shell/drive_database_updater.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <cstring>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "shell/drive_database.h"
#include "shell/preference_keys.h"
#include "support/gui_test_env.h"
#include "tests/support/test_support.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

QByteArray database(std::uint32_t version, std::uint16_t format = kBdbFormat) {
  DriveDatabase db;
  db.version = version;
  DriveRecord r;
  r.vendor = "QUILLION";
  r.model = "EMULATED CD-RW";
  r.cap.dwCDRSpeedFlag = 0x1554;
  db.records = {r};
  QByteArray bytes = encodeDriveDatabase(db);
  bytes[4] = static_cast<char>(format & 0xFF);
  bytes[5] = static_cast<char>(format >> 8);
  return bytes;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A port nothing listens on: bound, then closed again.
int closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return 9;
  const int port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

class DriveDatabaseUpdate : public GuiTest {
 protected:
  void SetUp() override {
    QUILLION_REQUIRE_TOOL("python3");
    served_ = quillion::test::makeTempDir("served");
    server_.setWorkingDirectory(served_);
    server_.setProcessChannelMode(QProcess::MergedChannels);
    // Port 0: the system picks a free one, which the server names on its first line.
    server_.start("python3", {"-u", "-m", "http.server", "--bind", "127.0.0.1", "0"});
    ASSERT_TRUE(server_.waitForStarted());
    QByteArray banner;
    while (!banner.contains('\n') && server_.waitForReadyRead(20000)) banner += server_.readAll();
    const int at = banner.indexOf(" port ");
    ASSERT_GE(at, 0) << banner.constData();
    port_ = banner.mid(at + 6).split(' ').value(0).toInt();
    ASSERT_GT(port_, 0);

    const QString root = quillion::test::makeTempDir("updater");
    installed_ = root + "/system/Vede32.bdb";
    user_ = root + "/user/quillion/Vede32.bdb";
    QDir().mkpath(root + "/system");
    writeBytes(installed_, database(7));
  }
  void TearDown() override {
    server_.kill();
    server_.waitForFinished();
    GuiTest::TearDown();
  }
  QString url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(name);
  }

  QProcess server_;
  QString served_, installed_, user_;
  int port_ = 0;
};

}  // namespace

TEST_F(DriveDatabaseUpdate, OnlyAWholeValidNewerFileReplacesTheUsersCopy) {
  writeBytes(served_ + "/v7.bdb", database(7));
  writeBytes(served_ + "/v8.bdb", database(8));
  writeBytes(served_ + "/format.bdb", database(9, 0x0FFF));
  writeBytes(served_ + "/cut.bdb", database(9).left(200));
  struct Case {
    const char* name;
    QString address;
    UpdateOutcome outcome;
  };
  const Case cases[] = {
      {"7 over 7", url("v7.bdb"), UpdateOutcome::AlreadyUpdated},
      {"format 0FFFh", url("format.bdb"), UpdateOutcome::AlreadyUpdated},
      {"truncated", url("cut.bdb"), UpdateOutcome::AlreadyUpdated},
      {"404", url("missing.bdb"), UpdateOutcome::NoData},
      {"no server", QStringLiteral("http://127.0.0.1:%1/v8.bdb").arg(closedPort()),
       UpdateOutcome::NoData},
      {"8 over 7", url("v8.bdb"), UpdateOutcome::Updated},
  };
  const QByteArray installedBefore = readBytes(installed_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Download download = downloadFile(c.address, std::stop_token());
    std::uint32_t version = 0;
    EXPECT_EQ(installDownloadedDatabase(download.data, installed_, user_, &version), c.outcome)
        << download.error.toStdString();
    if (c.outcome == UpdateOutcome::Updated) {
      EXPECT_EQ(version, 8u);
      EXPECT_EQ(readBytes(user_), database(8));
    } else {
      EXPECT_FALSE(QFileInfo::exists(user_)) << "nothing written";
    }
  }
  EXPECT_EQ(readBytes(installed_), installedBefore) << "the installed copy is never written";
  EXPECT_EQ(QDir(QFileInfo(user_).absolutePath()).entryList(QDir::Files), QStringList{"Vede32.bdb"})
      << "no temporary file left beside it";
  // The user's copy is now the one in use: 8 over 8 changes nothing.
  EXPECT_EQ(installDownloadedDatabase(database(8), user_, user_, nullptr),
            UpdateOutcome::AlreadyUpdated);
}

TEST_F(DriveDatabaseUpdate, TheWindowDownloadsOnAWorkerAndReportsOnTheMainThread) {
  writeBytes(served_ + "/v9.bdb", database(9));
  qputenv("XDG_DATA_HOME", QFileInfo(user_).absolutePath().section('/', 0, -2).toUtf8());
  Defaults defaults(quillion::test::makeTempDir("updater-settings") + "/q.conf");
  ASSERT_TRUE(defaults.set(VUKDriveDatabaseURLKey, url("v9.bdb")));
  DBUpdaterWindowController window(defaults);
  QSignalSpy finished(&window, &DBUpdaterWindowController::finished);
  window.updateDatabaseFile();
  EXPECT_TRUE(window.isRunning());
  EXPECT_EQ(window.message(), Msg::gui("Downloading BDB"));
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_EQ(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Updated);
  EXPECT_EQ(finished.at(0).at(1).toUInt(), 9u);
  EXPECT_EQ(window.message(), Msg::gui("BDB Updated Successfully"));
  EXPECT_EQ(readBytes(userDriveDatabasePath()), database(9));
  EXPECT_EQ(installedDriveDatabasePath(), userDriveDatabasePath())
      << "the update is the copy in use";
  qunsetenv("XDG_DATA_HOME");
}
