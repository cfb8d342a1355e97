// SPDX-License-Identifier: GPL-2.0-or-later
// Which block device a file lives on, and whether that device holds a CD: the file's device
// number is followed through sysfs to the device's name, and udev's record of the device says
// what medium is in it (the ID_CDROM_MEDIA_* properties its cdrom_id helper sets).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillion {

struct PathMedium {
  std::string device;     // the whole disk's name, "sr0"
  bool cdMedium = false;  // a CD (pressed, recordable or rewritable); false for DVD and BD
};

// The roots the lookup reads; tests point them at folders of their own.
struct DeviceDatabaseRoots {
  std::filesystem::path sysDevBlock = "/sys/dev/block";  // "MAJ:MIN" links to the devices
  std::filesystem::path udevData = "/run/udev/data";     // "bMAJ:MIN" property records
};

// The medium of the block device `path` lives on; nullopt when the file cannot be reached or
// lives on no block device sysfs knows.
std::optional<PathMedium> mediumOfPath(const std::filesystem::path& path,
                                       const DeviceDatabaseRoots& roots = {});

// Whether udev's record (its "E:KEY=VALUE" lines) says the medium in the device is a CD.
bool udevRecordSaysCd(std::string_view record);

}  // namespace quillion
