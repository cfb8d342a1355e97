// SPDX-License-Identifier: GPL-2.0-or-later
// Running one command block on one registry entry: choosing the path (the held exclusive
// access, a fresh shared path for queries, a fresh exclusive path for anything that may change
// the medium), bounded retries for access, and the mapping of the transport's answer to a
// status and sense.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "device/command_timeouts.h"
#include "device/device_registry.h"
#include "quillion/DC.h"

namespace quillion {

// Attempts to obtain access before -1178, one second apart.
inline constexpr int kAccessAttempts = 15;

struct CommandSpec {
  std::span<const std::uint8_t> cdb;  // as the caller built it (its length is the caller's)
  void* buffer = nullptr;
  std::uint32_t length = 0;
  DC_DataInOut direction = kDC_NoData;
  std::uint32_t timeoutMs = 0;
};

// Command execution proper: uses the held access of a locked drive; otherwise opens a path
// for this one command (unmounting first, without force, when the command needs exclusive
// access) and closes it afterwards. `transferred` receives the bytes moved.
[[nodiscard]] EngineStatus runCommand(DriveEntry& entry, const CommandSpec& spec,
                                      MMC_SenseData* sense, std::uint64_t* transferred = nullptr);

// The query path of the DC_MacX family: -1 while the drive is locked (when `refuseWhenLocked`)
// or when exclusive access elsewhere keeps the query out; never unmounts.
[[nodiscard]] EngineStatus runQuery(DriveEntry& entry, const CommandSpec& spec,
                                    MMC_SenseData* sense, bool refuseWhenLocked);

// DC_LockDevice on an entry.
[[nodiscard]] EngineStatus lockDrive(DriveEntry& entry, bool lock);

// Records that the drive's medium may have changed (see DriveEntry::mediumSignals).
void noteMediumSignal(DriveEntry& entry);

// True while DC_LockDevice holds the drive.
bool isLocked(DriveEntry& entry);

// The medium's device name for disk arbitration ("sr0"); empty without a device node.
std::string mediumName(const DriveEntry& entry);

}  // namespace quillion
