// SPDX-License-Identifier: GPL-2.0-or-later
// The Apple partition map in front of every HFS and HFS Plus volume the producers build:
// a driver descriptor map, an entry for the map itself and one for the volume, which
// begins 36 sectors of 512 bytes into the image.
#pragma once

#include <cstdint>
#include <span>

namespace quillion::hfs {

inline constexpr std::uint32_t kMapSectorBytes = 512;
inline constexpr std::uint32_t kVolumeStartSector = 36;
inline constexpr std::uint32_t kVolumeOffsetBytes = kVolumeStartSector * kMapSectorBytes;  // 18432

enum class VolumeKind : std::uint16_t { hfs = 0, hfsPlus = 1 };  // the map's device id

// Writes the map for an image of `imageSectors` 512-byte sectors into the image's first
// 18432 bytes; everything after the two entries is zero. False when the image is too small
// to hold a volume after the map.
[[nodiscard]] bool writeApplePartitionMap(std::uint32_t imageSectors, VolumeKind kind,
                                          std::span<std::uint8_t, kVolumeOffsetBytes> out);

}  // namespace quillion::hfs
