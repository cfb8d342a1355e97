// SPDX-License-Identifier: GPL-2.0-or-later
// The CRC of CD-Text packs: CRC-16 with polynomial 0x1021, MSB first, initial value 0 and
// no final XOR. The lead-in builder stores the one's complement of it, high byte first, in
// the last two bytes of each 18-byte pack.
//
// The table is a compile-time constant, so InitCRC and DeinitCRC have nothing to build or
// free: two burns that make lead-ins at once cannot pull the table from under each other.
#pragma once

#include <cstddef>
#include <cstdint>

// 0; kept for the builder's calling order.
int InitCRC();
void DeinitCRC();
// The CRC of `count` bytes with its two bytes swapped, so that storing the value in the
// machine's little-endian order puts its high byte first.
std::uint16_t ComputeCRC(const std::uint8_t* data, std::size_t count);

namespace quillion {
// The CRC itself, unswapped.
std::uint16_t cdTextCrc(const std::uint8_t* data, std::size_t count);
}  // namespace quillion
