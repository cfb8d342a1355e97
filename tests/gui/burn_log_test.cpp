// SPDX-License-Identifier: GPL-2.0-or-later
// The burn log's bytes: a whole block for an emulated drive and for the image writer, the
// end blocks of each result, the null file, and appending the temporary log to the user's.
#include "shell/burn_log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include "device_environment.h"
#include "quillion/GU.h"
#include "shell/device_list_manager.h"
#include "support/gui_test_env.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::GuiTest;

namespace {

BurnLogFacts fixedFacts() {
  BurnLogFacts f;
  f.processorType = "Test CPU";
  f.numberOfProcessors = "2 CPU(s)";
  f.processorSpeed = "1999 Mhz";
  f.totalMemory = "4096 MB";
  f.memoryAvailable = "1024";
  f.systemVersion = "Débian 12";  // not ASCII: written as its UTF-8 bytes
  f.applicationVersion = "0.1";
  f.driveDatabaseVersion = "3";
  int calls = 0;
  f.now = [calls]() mutable {
    return ++calls == 1 ? QString("Thu Dec 10 12:00:00 2026") : QString("later");
  };
  return f;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The expected header, written out line by line; "\r" ends each line.
QByteArray header(const char* driveLines) {
  return QByteArray(
             "\r\r=============== BEGIN OF LOG ===============\r< System Info >\r"
             "Processor Type: Test CPU\rNumber of Processors: 2 CPU(s)\r"
             "Processor Speed: 1999 Mhz\rSystem Memory: 4096 MB\rMemory Available: 1024\r"
             "Operating System: D\xC3\xA9"
             "bian 12\rQuickTime Version: Unknown\rLanguage: English\r\r"
             "< Quillion Info >\rVersion Number: 0.1\rDrive Database Version: 3\r\r"
             "< Drive Information >\r") +
         driveLines + "\rStarted Burn Process: Thu Dec 10 12:00:00 2026\r";
}

class BurnLogTest : public GuiTest {
 protected:
  QString dir_ = quillion::test::makeTempDir("burnlog");
};

}  // namespace

TEST_F(BurnLogTest, AWholeBlockForADrive) {
  DeviceEnvironment env;
  auto config = *DriveConfig::preset("cd-writer");
  config.name = config.product = "LOGGED";
  EmulatedBus::instance().plug(config);
  env.start();
  DeviceListManager list(QString(), [](QObject*, std::function<void()> fn) { fn(); });
  const std::uint32_t ref = DeviceEnvironment::refOf("LOGGED");
  const BurnLogFacts facts = fixedFacts();

  const QString path = dir_ + "/drive.log";
  std::FILE* file = GU_Log_Open(QFile::encodeName(path).constData());
  ASSERT_NE(file, nullptr);
  BurnLog::writeLogFileHeader(file, &list, ref, facts);
  BurnLog::writeToLogFile(file, "Writing track 1\r");
  BurnLog::writeLogFileEnd(file, kBurnFailed, "00:01:02", "Reserve Track Failed",
                           "((05h, 24h, 00h), x)", facts);
  GU_Log_Close(file);

  const QByteArray expected =
      header(
          "Vendor: QUILLION\rModel: LOGGED\rFirmware Version: 1.00\rCache Size: 2 MB\r"
          "Buffer Underrun Protection(BUP): YES\rOverburn Support: YES\rInterface: atapi\r") +
      "Writing track 1\r"
      "Burn Result: Error(s) Occurred\rReserve Track Failed\rError Msg: ((05h, 24h, 00h), x)\r"
      "Time Elapsed: 00:01:02\rFinished Burn Process: later\r\r"
      "=============== END OF LOG ===============\r\r\r";
  EXPECT_EQ(readAll(path), expected);
  EXPECT_FALSE(readAll(path).contains('\n')) << "never a line feed";
}

TEST_F(BurnLogTest, TheImageWritersAndTheEndOfEachResult) {
  EXPECT_EQ(BurnLog::vendorName(nullptr, DeviceListManager::kImageRef), "Image Writer");
  EXPECT_EQ(BurnLog::vendorName(nullptr, DeviceListManager::kIsoImageRef), "ISO Writer");
  for (auto text :
       {BurnLog::modelName, BurnLog::firmwareVersion, BurnLog::cacheSize, BurnLog::deviceInterface,
        BurnLog::bufferUnderrunSupport, BurnLog::overburnSupport})
    EXPECT_EQ(text(nullptr, DeviceListManager::kImageRef), "N/A");

  struct Case {
    int result;
    const char* title;
    const char* message;
    const char* end;
  };
  const Case cases[] = {
      {kBurnSuccessful, "", "", "Burn Result: Successful\rTime Elapsed: 5s\r\r"},
      {kBurnCancelled, "T", "M", "Burn Result: Cancelled\rTime Elapsed: 5s\r\r"},
      {kBurnFailed, "T", "", "Burn Result: Error(s) Occurred\rTime Elapsed: 5s\r\r"},
      {kBurnFailed, "T", "M",
       "Burn Result: Error(s) Occurred\rT\rError Msg: M\rTime Elapsed: 5s\r"},
  };
  for (const Case& c : cases) {
    const QString path = dir_ + QStringLiteral("/end%1%2.log").arg(c.result).arg(c.message);
    std::FILE* file = GU_Log_Open(QFile::encodeName(path).constData());
    ASSERT_NE(file, nullptr);
    BurnLogFacts facts = fixedFacts();
    facts.now = [] { return QString("now"); };
    BurnLog::writeLogFileEnd(file, c.result, "5s", c.title, c.message, facts);
    GU_Log_Close(file);
    EXPECT_EQ(readAll(path),
              QByteArray(c.end) +
                  "Finished Burn Process: now\r\r=============== END OF LOG ===============\r\r\r")
        << c.result << c.message;
  }

  // Without a file nothing is written, and nothing breaks.
  BurnLog::writeLogFileHeader(nullptr, nullptr, DeviceListManager::kImageRef, fixedFacts());
  BurnLog::writeToLogFile(nullptr, "x");
  BurnLog::writeLogFileEnd(nullptr, kBurnSuccessful, "", "", "", fixedFacts());
  EXPECT_TRUE(QDir(dir_).entryList(QDir::Files).size() == 4);
}

TEST_F(BurnLogTest, TheTemporaryLogIsAppendedThenRemoved) {
  qputenv("XDG_STATE_HOME", (dir_ + "/state").toUtf8());
  const QString logPath = BurnLog::burnLogPath();
  EXPECT_EQ(logPath, dir_ + "/state/quillion/vuklog.txt");
  const QString first = dir_ + "/t1.log", second = dir_ + "/t2.log";
  for (const auto& [path, text] :
       {std::pair{first, QByteArray("one\r")}, std::pair{second, QByteArray("two\r")}}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  EXPECT_TRUE(BurnLog::appendLogFile(first));
  EXPECT_TRUE(BurnLog::appendLogFile(second));
  EXPECT_EQ(readAll(logPath), "one\rtwo\r");
  EXPECT_FALSE(QFileInfo::exists(first));
  EXPECT_FALSE(QFileInfo::exists(second));
  EXPECT_FALSE(BurnLog::appendLogFile(dir_ + "/missing.log"));
  EXPECT_EQ(readAll(logPath), "one\rtwo\r");
  qunsetenv("XDG_STATE_HOME");
}
