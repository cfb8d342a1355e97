// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/cd_text_crc.h"

#include <array>

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

}  // namespace

namespace quillion {

std::uint16_t cdTextCrc(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; data != nullptr && i < count; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFFu]);
  }
  return crc;
}

}  // namespace quillion

int InitCRC() {
  return 0;
}

void DeinitCRC() {}

std::uint16_t ComputeCRC(const std::uint8_t* data, std::size_t count) {
  const std::uint16_t crc = quillion::cdTextCrc(data, count);
  return static_cast<std::uint16_t>((crc >> 8) | (crc << 8));
}
