// SPDX-License-Identifier: GPL-2.0-or-later
// The registry of device control: one entry per connected drive, named by a handle that is
// never reused, and the two callback registries. Entries are reference-counted: a command
// that found an entry finishes with it even if the drive goes meanwhile; later look-ups of
// the reference find nothing (-1171).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/handle_table.h"
#include "platform/device/drive_backend.h"
#include "quillion/DC.h"

namespace quillion {

struct DriveEntry {
  explicit DriveEntry(std::shared_ptr<DriveBackend> b) : backend(std::move(b)) {}

  const std::shared_ptr<DriveBackend> backend;
  DC_Device device{};  // written before the entry is published, read-only afterwards

  // One command at a time per drive; guards the lock state below.
  std::mutex mutex;
  bool locked = false;                   // DC_LockDevice holds exclusive access
  std::unique_ptr<ScsiTransport> held;   // that access while locked
  std::atomic<bool> gone{false};         // the drive has left the registry

  // Counts signals that the medium may have changed (a device event, a unit attention for a
  // new medium or a reset, a report of no medium). Whoever reads the disc compares it with
  // the count it last checked the disc at, and reads the capacity and TOC again when they
  // differ: some drives keep the old disc's capacity until asked.
  std::atomic<std::uint32_t> mediumSignals{1};
  std::atomic<std::uint32_t> mediumChecked{0};
};

// Process-wide, so that a reference is never handed out twice, not even across DC_Term and
// a later DC_Init.
HandleTable<DriveEntry>& driveTable();

std::shared_ptr<DriveEntry> findDrive(std::uint32_t ref);
// Like findDrive, but only drives that take commands.
std::shared_ptr<DriveEntry> findCommandDrive(std::uint32_t ref);

// The interface version given to DC_Init.
double appKitVersion();

// Callback registries, keyed by the function: one entry per function, called in key order.
void callListUpdateCallbacks();
void callDiscChangedCallbacks(std::uint32_t ref, bool flag);

// Runs `work` on the device-control thread at its next pump; false when device control is
// not running.
bool postToDeviceThread(std::function<void()> work);
// Hands a worker thread to device control, which joins it at DC_Term.
void adoptWorker(std::thread worker);

}  // namespace quillion
