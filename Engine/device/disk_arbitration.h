// SPDX-License-Identifier: GPL-2.0-or-later
// Mounting and unmounting the volumes of a drive's medium. Requests name the medium by its
// device name without "/dev/" ("sr0") and wait for the answer: 0 done without dissent,
// 5 refused or impossible, 1102 no session. Who does the work is a VolumeManager: the
// system's (udisks2 over D-Bus, or umount2 for root without udisks), or one registered by
// another device source (the emulated drives keep their own mount table).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillion {

inline constexpr int kDiskArbOk = 0;
inline constexpr int kDiskArbDissent = 5;
inline constexpr int kDiskArbNoSession = 1102;

// Option bits of the unmount requests.
inline constexpr std::uint32_t kUnmountForce = 8;
inline constexpr std::uint32_t kUnmountVolumeOnly = 4;
inline constexpr std::uint32_t kUnmountForEject = 2;

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

// Made by the platform layer at CNDiskArbInit; null when the system offers no way to
// unmount (no udisks and not root).
std::unique_ptr<VolumeManager> makeSystemVolumeManager();

// Other sources register their managers for the names they own.
void addVolumeManager(std::shared_ptr<VolumeManager> manager);
void removeVolumeManager(const VolumeManager* manager);

// The volumes of the named medium are unmounted when this answers true (a name nobody owns
// has nothing mounted that we could see).
[[nodiscard]] bool unmountWholeDisk(std::string_view name);

}  // namespace quillion

int CNDiskArbInit();
int CNDiskArbRequestMount_auto(const char* bsdName);
int CNDiskArbUnmountRequest_async_auto(const char* bsdName, std::uint32_t options);
int CNDiskArbUnmountAndEjectRequest_async_auto(const char* bsdName, std::uint32_t options);
