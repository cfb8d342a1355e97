// SPDX-License-Identifier: GPL-2.0-or-later
// CRC-32 of MPEG-2 systems (polynomial 0x04C11DB7, initial value all ones, no reflection, no
// final inversion), from a table built at compile time so that no instance shares mutable
// state with another.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillion::mpeg {

inline constexpr std::array<std::uint32_t, 256> kCrc32Table = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}();

constexpr std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrc32Table[(crc >> 24) ^ data[i]];
  return crc;
}

}  // namespace quillion::mpeg
