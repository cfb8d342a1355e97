// SPDX-License-Identifier: GPL-2.0-or-later
// CD sectors as ECMA-130 lays them out: the 2352-byte Mode 1 sector a drive records for 2048
// bytes of user data, with its error detection code (EDC, 14.3) and the Reed-Solomon product
// code (RSPC, Annex A) over header, data and EDC.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quillion::emu {

inline constexpr std::size_t kRawSectorBytes = 2352;
using RawSector = std::array<std::uint8_t, kRawSectorBytes>;

// The 32-bit EDC of `bytes` (stored least significant byte first).
std::uint32_t cdEdc(std::span<const std::uint8_t> bytes);

// Fills the P and Q parity (bytes 2076-2351) of a sector from bytes 12-2075. For Mode 2
// Form 1 the caller zeroes the header first and puts it back afterwards (ECMA-130 14.5).
void cdEcc(RawSector& sector);

// Sync, header (MSF of the block address), user data, EDC, zero area and parity.
RawSector mode1Sector(std::int32_t lba, std::span<const std::uint8_t, 2048> userData);

}  // namespace quillion::emu
