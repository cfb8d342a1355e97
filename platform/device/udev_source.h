// SPDX-License-Identifier: GPL-2.0-or-later
// Optical drives found through libudev: block devices with ID_CDROM=1 (CD, DVD and BD
// drives), followed through udev's add, remove and change events.
#pragma once

#include <memory>
#include <string_view>

#include "platform/device/device_source.h"

namespace quillion {

// Null when udev cannot be reached at all; a machine without drives gives an empty source.
std::unique_ptr<DeviceSource> makeUdevDeviceSource();

// The interface text of a drive from udev's ID_BUS, whether an ATA drive sits on SATA, and
// the speed of its USB device in Mbit/s (0 when not on USB): "USB", with "2" appended on a
// high-speed bus, "ATAPI", "SATA", "SCSI", "FireWire", or the bus name itself.
std::string interfaceTextFor(std::string_view bus, bool sata, unsigned usbSpeedMbps);

}  // namespace quillion
