// SPDX-License-Identifier: GPL-2.0-or-later
// Mounting and unmounting the volumes of a drive's medium. Requests name the medium by its
// device name without "/dev/" ("sr0") and wait for the answer (kDiskArbOk, kDiskArbDissent,
// kDiskArbNoSession). The work goes to the VolumeManager that owns the name: one registered
// by another device source, else the system's.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/device/volume_manager.h"

namespace quillion {

// Option bits of the unmount requests.
inline constexpr std::uint32_t kUnmountForce = 8;
inline constexpr std::uint32_t kUnmountVolumeOnly = 4;
inline constexpr std::uint32_t kUnmountForEject = 2;

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
