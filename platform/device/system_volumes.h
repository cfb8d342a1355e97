// SPDX-License-Identifier: GPL-2.0-or-later
// The system's volume manager: udisks2 when the daemon is there, else, for root, umount2 on
// the mount points listed in /proc/self/mountinfo.
#pragma once

#include <memory>

#include "platform/device/volume_manager.h"

namespace quillion {

// Null when the system offers no way to unmount (no udisks and not root).
std::unique_ptr<VolumeManager> makeSystemVolumeManager();

}  // namespace quillion
