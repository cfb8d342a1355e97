// SPDX-License-Identifier: GPL-2.0-or-later
// Where drives come from. Device control asks each source for the drives present at start
// and then for events whenever the source's file descriptor becomes readable: udev for the
// machine's own drives, and any other source (the emulated drives of the tests) that
// implements the same interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/device/drive_backend.h"

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

}  // namespace quillion
