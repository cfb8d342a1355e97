// SPDX-License-Identifier: GPL-2.0-or-later
// The sources device control starts. The system source (udev) is always there; other
// sources join through a small registration seam, so that test support can put emulated
// drives beside the real ones without the engine knowing about them.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/device/device_source.h"

namespace quillion {

// Makes the source of emulated drives from the folder named by QUILLION_EMULATED_DRIVES.
using EmulatedSourceFactory =
    std::function<std::unique_ptr<DeviceSource>(const std::filesystem::path& folder)>;

// Test support installs its factory here (once, before DC_Init). Without one, the variable
// is ignored.
void setEmulatedSourceFactory(EmulatedSourceFactory factory);

// The sources DC_Init starts: udev unless QUILLION_SYSTEM_DRIVES is "0", then the emulated
// drives when QUILLION_EMULATED_DRIVES names a folder and a factory is installed.
std::vector<std::unique_ptr<DeviceSource>> makeDeviceSources();

}  // namespace quillion
