// SPDX-License-Identifier: GPL-2.0-or-later
// The flat entry points of command execution and of holding a drive.
#include <system_error>
#include <thread>
#include <vector>

#include "device/command_runner.h"
#include "device/device_registry.h"
#include "quillion/DC.h"

using namespace quillion;

EngineStatus DC_ExecuteMMCCmd_Sync(std::uint32_t ref, const std::uint8_t* cdb,
                                   std::uint8_t cdbLength, void* buffer, std::uint32_t length,
                                   DC_DataInOut direction, std::uint32_t timeoutMs,
                                   MMC_SenseData* sense) {
  if (sense) *sense = {};
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  if (!cdb || cdbLength == 0) return kErrBadArgument;
  const CommandSpec spec{std::span(cdb, cdbLength), buffer, length, direction, timeoutMs};
  return runCommand(*entry, spec, sense);
}

EngineStatus DC_ExecuteMMCCmd_Async(std::uint32_t ref, const std::uint8_t* cdb,
                                    std::uint8_t cdbLength, void* buffer, std::uint32_t length,
                                    DC_DataInOut direction, DC_CommandDoneProc done,
                                    void* userData) {
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  if (!cdb || cdbLength == 0 || cdbLength > 16) return kErrBadArgument;
  // The worker owns a copy of the block and a reference to the entry, so neither the caller's
  // block nor the drive's departure can pull them away mid-command.
  std::vector<std::uint8_t> block(cdb, cdb + cdbLength);
  try {
    std::thread worker(
        [entry, block = std::move(block), buffer, length, direction, done, userData] {
          // An asynchronous command names no time: it may be a format or a close of many minutes.
          const CommandSpec spec{block, buffer, length, direction, timeoutMs(CommandKind::NoLimit)};
          MMC_SenseData sense{};
          std::uint64_t moved = 0;
          const EngineStatus status = runCommand(*entry, spec, &sense, &moved);
          if (done)
            postToDeviceThread(
                [done, sense, moved, userData, status] { done(&sense, moved, userData, status); });
        });
    adoptWorker(std::move(worker));
  } catch (const std::system_error&) {
    return kErrCommandStart;
  }
  return kNoErr;
}

EngineStatus DC_LockDevice(std::uint32_t ref, bool lock) {
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  return lockDrive(*entry, lock);
}
