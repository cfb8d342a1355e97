// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/burn_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "framework/xdg_paths.h"
#include "quillion/GU.h"
#include "shell/device_list_manager.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

constexpr char kCR = '\r';

bool isImage(std::uint32_t ref) {
  return ref == DeviceListManager::kImageRef || ref == DeviceListManager::kIsoImageRef;
}

// A drive text by the index of `ref`; "N/A" for the pseudo-drives and unknown drives.
template <typename Fn>
QString driveText(const DeviceListManager* list, std::uint32_t ref, Fn fn) {
  if (isImage(ref) || !list) return QStringLiteral("N/A");
  const int index = list->getIndexOfDeviceByRef(ref);
  return index < 0 ? QStringLiteral("N/A") : fn(*list, index);
}

QString yesNo(bool on) {
  return on ? QStringLiteral("YES") : QStringLiteral("NO");
}

void put(std::FILE* file, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  (void)GU_Log_Write(file, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void line(std::FILE* file, const QString& text = QString()) {
  put(file, text + QLatin1Char(kCR));
}

}  // namespace

BurnLogFacts BurnLogFacts::fromSystem(std::uint32_t driveDatabaseVersion) {
  BurnLogFacts f;
  f.processorType = ZEBUtils::processorType();
  f.numberOfProcessors = ZEBUtils::numberOfProcessors();
  f.processorSpeed = ZEBUtils::processorClockSpeedInMhz();
  f.totalMemory = ZEBUtils::totalMemory();
  f.memoryAvailable = ZEBUtils::memoryAvailable();
  f.systemVersion = ZEBUtils::systemVersion();
  f.applicationVersion = ZEBUtils::VUK_Version();
  f.driveDatabaseVersion =
      driveDatabaseVersion ? QString::number(driveDatabaseVersion) : QStringLiteral("Unknown");
  f.now = [] { return QDateTime::currentDateTime().toString(Qt::TextDate); };
  return f;
}

namespace BurnLog {

QString vendorName(const DeviceListManager* list, std::uint32_t ref) {
  if (ref == DeviceListManager::kImageRef) return QStringLiteral("Image Writer");
  if (ref == DeviceListManager::kIsoImageRef) return QStringLiteral("ISO Writer");
  return driveText(list, ref,
                   [](const DeviceListManager& l, int i) { return l.vendorOfDriveByIndex(i); });
}

QString modelName(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref,
                   [](const DeviceListManager& l, int i) { return l.modelOfDriveByIndex(i); });
}

QString firmwareVersion(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref, [](const DeviceListManager& l, int i) { return l.driveFirmware(i); });
}

QString cacheSize(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref,
                   [](const DeviceListManager& l, int i) { return l.driveCacheSize(i); });
}

QString deviceInterface(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref,
                   [](const DeviceListManager& l, int i) { return l.driveInterface(i); });
}

QString bufferUnderrunSupport(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref, [](const DeviceListManager& l, int i) {
    return yesNo(l.driveSupportBurnProof(i));
  });
}

QString overburnSupport(const DeviceListManager* list, std::uint32_t ref) {
  return driveText(list, ref, [](const DeviceListManager& l, int i) {
    return yesNo(l.driveSupportOverburn(i));
  });
}

void writeLogFileHeader(std::FILE* file, const DeviceListManager* list, std::uint32_t ref,
                        const BurnLogFacts& facts) {
  if (!file) return;
  line(file);
  line(file);
  line(file, QStringLiteral("=============== BEGIN OF LOG ==============="));
  line(file, QStringLiteral("< System Info >"));
  line(file, QStringLiteral("Processor Type: ") + facts.processorType);
  line(file, QStringLiteral("Number of Processors: ") + facts.numberOfProcessors);
  line(file, QStringLiteral("Processor Speed: ") + facts.processorSpeed);
  line(file, QStringLiteral("System Memory: ") + facts.totalMemory);
  line(file, QStringLiteral("Memory Available: ") + facts.memoryAvailable);
  line(file, QStringLiteral("Operating System: ") + facts.systemVersion);
  // No media framework version to report on this system.
  line(file, QStringLiteral("QuickTime Version: Unknown"));
  line(file, QStringLiteral("Language: English"));
  line(file);
  line(file, QStringLiteral("< Quillion Info >"));
  line(file, QStringLiteral("Version Number: ") + facts.applicationVersion);
  line(file, QStringLiteral("Drive Database Version: ") + facts.driveDatabaseVersion);
  line(file);
  line(file, QStringLiteral("< Drive Information >"));
  line(file, QStringLiteral("Vendor: ") + vendorName(list, ref));
  line(file, QStringLiteral("Model: ") + modelName(list, ref));
  line(file, QStringLiteral("Firmware Version: ") + firmwareVersion(list, ref));
  line(file, QStringLiteral("Cache Size: ") + cacheSize(list, ref));
  line(file,
       QStringLiteral("Buffer Underrun Protection(BUP): ") + bufferUnderrunSupport(list, ref));
  line(file, QStringLiteral("Overburn Support: ") + overburnSupport(list, ref));
  line(file, QStringLiteral("Interface: ") + deviceInterface(list, ref));
  line(file);
  line(file, QStringLiteral("Started Burn Process: ") + facts.now());
  std::fflush(file);
}

void writeToLogFile(std::FILE* file, const QString& message) {
  if (!file) return;
  put(file, message);
}

void writeLogFileEnd(std::FILE* file, int result, const QString& time, const QString& errorTitle,
                     const QString& errorMsg, const BurnLogFacts& facts) {
  if (!file) return;
  const bool explained = result == kBurnFailed && !errorTitle.isEmpty() && !errorMsg.isEmpty();
  const QString verdict = result == kBurnSuccessful  ? QStringLiteral("Successful")
                          : result == kBurnCancelled ? QStringLiteral("Cancelled")
                                                     : QStringLiteral("Error(s) Occurred");
  line(file, QStringLiteral("Burn Result: ") + verdict);
  if (explained) {
    line(file, errorTitle);
    line(file, QStringLiteral("Error Msg: ") + errorMsg);
    line(file, QStringLiteral("Time Elapsed: ") + time);
  } else {
    line(file, QStringLiteral("Time Elapsed: ") + time);
    line(file);
  }
  line(file, QStringLiteral("Finished Burn Process: ") + facts.now());
  line(file);
  line(file, QStringLiteral("=============== END OF LOG ==============="));
  line(file);
  line(file);
  std::fflush(file);
}

QString burnLogPath() {
  return userStateDir() + QStringLiteral("/vuklog.txt");
}

bool appendLogFile(const QString& temporaryLog, const QString& logPath) {
  QFile source(temporaryLog);
  if (!source.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = source.readAll();
  source.close();
  QDir().mkpath(QFileInfo(logPath).absolutePath());
  const int fd = ::open(QFile::encodeName(logPath).constData(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  const bool whole = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  // The temporary log goes only once its lines are safely in the burn log.
  if (whole) QFile::remove(temporaryLog);
  return whole;
}

}  // namespace BurnLog
}  // namespace quillion
