// SPDX-License-Identifier: GPL-2.0-or-later
// The mounted volumes of a disk, from /proc/self/mountinfo and the block devices in sysfs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillion {

struct MountEntry {
  std::string source;  // "/dev/sr0"
  std::string target;  // "/media/user/DISC"
};

// Parses the text of a mountinfo file (proc(5)), octal escapes undone.
std::vector<MountEntry> parseMountInfo(std::string_view text);
std::vector<MountEntry> readMountTable(const std::filesystem::path& file = "/proc/self/mountinfo");

// Block device names in sysfs: the disk a partition belongs to (the name itself for a whole
// disk, empty when there is no such device) and the partitions of a disk.
std::string wholeDiskInSysfs(std::string_view name, const std::filesystem::path& sysBlock = "/sys/class/block");
std::vector<std::string> partitionsInSysfs(std::string_view disk,
                                           const std::filesystem::path& sysBlock = "/sys/class/block");

// The entries whose source is the named device or one of `also`.
std::vector<MountEntry> mountsOf(const std::vector<MountEntry>& table, std::string_view name,
                                 const std::vector<std::string>& also = {});

}  // namespace quillion
