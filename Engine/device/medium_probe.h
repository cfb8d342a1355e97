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

namespace quillion {

inline constexpr std::size_t kProbeHeadBytes = 65536;
inline constexpr std::uint32_t kProbeMaxDescriptorSectors = 16;

// Reads `out.size()` bytes at byte `offset` of the medium; false when it cannot.
using MediumReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// The largest size the structures describe, in 2048-byte blocks (rounded up), no more than
// `mediumBlocks`; 0 when none is recognised or the head cannot be read.
std::uint64_t probeUsedBlocks(const MediumReader& read, std::uint64_t mediumBlocks);

}  // namespace quillion
