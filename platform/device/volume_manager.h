// SPDX-License-Identifier: GPL-2.0-or-later
// Whoever mounts and unmounts the volumes of a drive's medium: the system's (udisks2 over
// D-Bus, or umount2 for root without udisks), or one that another device source brings (the
// emulated drives keep their own mount table). Media are named by their device name without
// "/dev/" ("sr0"); every request waits for its answer.
#pragma once

#include <string>
#include <string_view>

namespace quillion {

// The answers of a request: done without dissent, refused or impossible, no session.
inline constexpr int kDiskArbOk = 0;
inline constexpr int kDiskArbDissent = 5;
inline constexpr int kDiskArbNoSession = 1102;

class VolumeManager {
 public:
  virtual ~VolumeManager() = default;
  virtual bool owns(std::string_view name) const = 0;
  // The whole disk a name belongs to (the name itself for a whole disk); empty when unknown.
  virtual std::string wholeDiskOf(std::string_view name) const = 0;
  // Unmounts (mounts) the volumes of `name`, of every partition when it is a whole disk,
  // and waits for the answer.
  [[nodiscard]] virtual int unmount(std::string_view name, bool force) = 0;
  [[nodiscard]] virtual int mount(std::string_view name) = 0;
};

}  // namespace quillion
