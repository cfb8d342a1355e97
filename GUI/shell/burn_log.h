// SPDX-License-Identifier: GPL-2.0-or-later
// The burn log: one block per burn (header, the lines written during the burn, end block),
// first into a temporary log file that the burn job also writes into, then appended to
// $XDG_STATE_HOME/quillion/vuklog.txt. Lines end with CR alone; texts are written as UTF-8.
#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace quillion {

class DeviceListManager;

// The outside facts a header states. fromSystem() asks the machine; tests give their own.
struct BurnLogFacts {
  QString processorType, numberOfProcessors, processorSpeed, totalMemory, memoryAvailable;
  QString systemVersion, applicationVersion;
  QString driveDatabaseVersion;  // "%d", or "Unknown"
  std::function<QString()> now;  // the current date as text
  static BurnLogFacts fromSystem(std::uint32_t driveDatabaseVersion);
};

enum BurnResult { kBurnSuccessful = 0, kBurnCancelled = 1, kBurnFailed = 2 };

namespace BurnLog {

// Drive texts of the header; the image pseudo-drives have their own names and "N/A".
QString vendorName(const DeviceListManager* list, std::uint32_t ref);
QString modelName(const DeviceListManager* list, std::uint32_t ref);
QString firmwareVersion(const DeviceListManager* list, std::uint32_t ref);
QString cacheSize(const DeviceListManager* list, std::uint32_t ref);
QString deviceInterface(const DeviceListManager* list, std::uint32_t ref);
QString bufferUnderrunSupport(const DeviceListManager* list, std::uint32_t ref);
QString overburnSupport(const DeviceListManager* list, std::uint32_t ref);

// The three writers do nothing for a null file.
void writeLogFileHeader(std::FILE* file, const DeviceListManager* list, std::uint32_t ref,
                        const BurnLogFacts& facts);
void writeToLogFile(std::FILE* file, const QString& message);
void writeLogFileEnd(std::FILE* file, int result, const QString& time, const QString& errorTitle,
                     const QString& errorMsg, const BurnLogFacts& facts);

QString burnLogPath();  // $XDG_STATE_HOME/quillion/vuklog.txt
// Appends the temporary log to the burn log at `logPath` (made when missing), flushes it to
// disk and deletes the temporary log. False, with the temporary log kept, when it could not.
bool appendLogFile(const QString& temporaryLog, const QString& logPath = burnLogPath());

}  // namespace BurnLog
}  // namespace quillion
