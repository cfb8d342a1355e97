// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/disk_arbitration.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device/system_volumes.h"

namespace quillion {
namespace {

// One request at a time: each caller sees the answer to its own request only.
struct Session {
  std::mutex mutex;
  bool open = false;
  std::shared_ptr<VolumeManager> system;
  std::vector<std::shared_ptr<VolumeManager>> others;

  std::shared_ptr<VolumeManager> managerFor(std::string_view name) const {
    for (const auto& m : others)
      if (m->owns(name)) return m;
    if (system && system->owns(name)) return system;
    return nullptr;
  }
};

Session& session() {
  static Session s;
  return s;
}

int unmountRequest(const char* bsdName, std::uint32_t options) {
  if (!bsdName || !*bsdName) return kDiskArbDissent;
  auto& s = session();
  std::lock_guard lock(s.mutex);
  auto manager = s.managerFor(bsdName);
  if (!manager) return kDiskArbDissent;
  const bool volumeOnly = (options & kUnmountVolumeOnly) && !(options & kUnmountForEject);
  const std::string target = volumeOnly ? std::string(bsdName) : manager->wholeDiskOf(bsdName);
  if (target.empty()) return kDiskArbDissent;
  return manager->unmount(target, (options & kUnmountForce) != 0) == kDiskArbOk ? kDiskArbOk : kDiskArbDissent;
}

}  // namespace

void addVolumeManager(std::shared_ptr<VolumeManager> manager) {
  if (!manager) return;
  auto& s = session();
  std::lock_guard lock(s.mutex);
  s.others.push_back(std::move(manager));
}

void removeVolumeManager(const VolumeManager* manager) {
  auto& s = session();
  std::lock_guard lock(s.mutex);
  std::erase_if(s.others, [&](const auto& m) { return m.get() == manager; });
}

bool unmountWholeDisk(std::string_view name) {
  if (name.empty()) return true;
  {
    auto& s = session();
    std::lock_guard lock(s.mutex);
    if (!s.managerFor(name)) return true;
  }
  return unmountRequest(std::string(name).c_str(), 0) == kDiskArbOk;
}

}  // namespace quillion

using namespace quillion;

int CNDiskArbInit() {
  auto& s = session();
  std::lock_guard lock(s.mutex);
  if (s.open) return kDiskArbOk;
  s.system = makeSystemVolumeManager();
  // Emulated or other registered managers still serve without a system session.
  s.open = s.system != nullptr;
  return s.open ? kDiskArbOk : kDiskArbNoSession;
}

int CNDiskArbRequestMount_auto(const char* bsdName) {
  if (!bsdName || !*bsdName) return kDiskArbDissent;
  auto& s = session();
  std::lock_guard lock(s.mutex);
  auto manager = s.managerFor(bsdName);
  if (!manager) return kDiskArbDissent;
  // A whole disk is mounted with all its volumes, a partition alone (the manager knows which).
  return manager->mount(bsdName) == kDiskArbOk ? kDiskArbOk : kDiskArbDissent;
}

int CNDiskArbUnmountRequest_async_auto(const char* bsdName, std::uint32_t options) {
  return unmountRequest(bsdName, options);
}

int CNDiskArbUnmountAndEjectRequest_async_auto(const char* bsdName, std::uint32_t options) {
  return unmountRequest(bsdName, options | kUnmountForEject);
}
