// SPDX-License-Identifier: GPL-2.0-or-later
// The system's volume manager: udisks2 when the daemon is there, else, for root, umount2 on
// the mount points listed in /proc/self/mountinfo. A forced request never becomes a lazy
// detach: that would report success while the device stays busy.
#include "platform/device/system_volumes.h"

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/device/mount_table.h"
#include "platform/device/udisks.h"

namespace quillion {
namespace {

class SystemVolumes final : public VolumeManager {
public:
  explicit SystemVolumes(std::unique_ptr<UDisksClient> udisks) : udisks_(std::move(udisks)) {}

  bool owns(std::string_view name) const override { return !wholeDiskOf(name).empty(); }

  std::string wholeDiskOf(std::string_view name) const override { return wholeDiskInSysfs(name); }

  int unmount(std::string_view name, bool force) override {
    const auto mounted = mountsOf(readMountTable(), name, partitionsOf(name));
    for (const auto& volume : mounted) {
      const std::string device = volume.source.substr(5);  // without "/dev/"
      const bool done = udisks_ ? udisks_->unmount(device)
                                : ::umount2(volume.target.c_str(), force ? MNT_FORCE : 0) == 0;
      if (!done) return kDiskArbDissent;
    }
    // Whatever answered, the medium counts as unmounted only when nothing of it is left.
    return mountsOf(readMountTable(), name, partitionsOf(name)).empty() ? kDiskArbOk : kDiskArbDissent;
  }

  int mount(std::string_view name) override {
    if (!udisks_) return kDiskArbDissent;  // root without udisks has no mount point to choose
    auto volumes = partitionsOf(name);
    if (volumes.empty()) volumes.emplace_back(name);
    const bool all = std::all_of(volumes.begin(), volumes.end(), [&](const std::string& v) { return udisks_->mount(v); });
    return all ? kDiskArbOk : kDiskArbDissent;
  }

private:
  std::vector<std::string> partitionsOf(std::string_view name) const {
    return wholeDiskOf(name) == name ? partitionsInSysfs(name) : std::vector<std::string>{};
  }

  std::unique_ptr<UDisksClient> udisks_;
};

}  // namespace

std::unique_ptr<VolumeManager> makeSystemVolumeManager() {
  auto udisks = UDisksClient::connect();
  if (!udisks && ::geteuid() != 0) return nullptr;
  return std::make_unique<SystemVolumes>(std::move(udisks));
}

}  // namespace quillion
