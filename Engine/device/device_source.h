// SPDX-License-Identifier: GPL-2.0-or-later
// Where drives come from. Device control asks each source for the drives present at start
// and then for events whenever the source's file descriptor becomes readable. The system
// source (udev) is always there; other sources join through a small registration seam, so
// that test support can put emulated drives beside the real ones without the engine knowing
// about them.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/drive_backend.h"

namespace quillion {

struct DeviceEvent {
  enum class Kind { DriveAdded, DriveRemoved, MediumChanged };
  Kind kind = Kind::MediumChanged;
  std::string key;                      // DriveIdentity::key; empty for a medium of no known drive
  std::shared_ptr<DriveBackend> drive;  // DriveAdded only
};

class DeviceSource {
public:
  virtual ~DeviceSource() = default;
  // The drives present now; from here on the source reports changes as events.
  virtual std::vector<std::shared_ptr<DriveBackend>> start() = 0;
  // Readable while events are pending; -1 for a source that never has events.
  virtual int eventFd() const = 0;
  // Takes the pending events (and clears the readiness of eventFd()).
  virtual std::vector<DeviceEvent> takeEvents() = 0;
};

// Makes the source of emulated drives from the folder named by QUILLION_EMULATED_DRIVES.
using EmulatedSourceFactory = std::function<std::unique_ptr<DeviceSource>(const std::filesystem::path& folder)>;

// Test support installs its factory here (once, before DC_Init). Without one, the variable
// is ignored.
void setEmulatedSourceFactory(EmulatedSourceFactory factory);

// The sources DC_Init starts: udev unless QUILLION_SYSTEM_DRIVES is "0", then the emulated
// drives when QUILLION_EMULATED_DRIVES names a folder and a factory is installed.
std::vector<std::unique_ptr<DeviceSource>> makeDeviceSources();

}  // namespace quillion
