// SPDX-License-Identifier: GPL-2.0-or-later
// The used size of a medium, measured from the volume structures at its start: an Apple
// partition map, an HFS or HFS Plus volume header, an ISO 9660 primary volume descriptor,
// and a UDF partition found through the anchor when a UDF volume recognition sequence follows
// the ISO descriptors. All sizes come from the disc, so every product is 64-bit and the UDF
// descriptor sequence is read only as far as a bound.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "quillion/status.h"

namespace quillion {

inline constexpr std::size_t kProbeHeadBytes = 65536;
inline constexpr std::uint32_t kProbeMaxDescriptorSectors = 16;

// Reads `out.size()` bytes at byte `offset` of the medium; false when it cannot.
using MediumReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// What the structures at the start of a medium say.
struct MediumProbe {
  std::uint64_t blocks = 0;   // the largest size described, in 2048-byte blocks (rounded up)
  std::uint32_t found = 0;    // 100h partition map, HFS or HFS Plus; 10h UDF; 1 ISO 9660 without UDF
};

inline constexpr std::uint32_t kProbeFoundHfs = 0x100;
inline constexpr std::uint32_t kProbeFoundUdf = 0x10;
inline constexpr std::uint32_t kProbeFoundIso = 0x1;

// The size is no more than `mediumBlocks`; nothing is found when the head cannot be read.
MediumProbe probeMedium(const MediumReader& read, std::uint64_t mediumBlocks);
inline std::uint64_t probeUsedBlocks(const MediumReader& read, std::uint64_t mediumBlocks) {
  return probeMedium(read, mediumBlocks).blocks;
}

// The medium in a drive, measured through its device node: its size in 2048-byte blocks (0
// without a medium) and what its structures describe. kErrNoDrive for an unknown reference.
[[nodiscard]] EngineStatus measureDriveMedium(std::uint32_t ref, std::uint64_t& mediumBlocks, MediumProbe& probe);

}  // namespace quillion
