// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting the wanted part out of each whole sector read from a source, in place: `count`
// sectors of `sectorBytes` become `count` blocks of `blockBytes` taken from `offset` of each.
// The blocks move towards the start of the buffer, so the copy never overtakes its source.
#pragma once

#include <cstdint>
#include <cstring>

namespace quillion {

inline void cutSectors(std::uint8_t* buffer, std::uint32_t count, std::uint32_t sectorBytes,
                       std::uint32_t offset, std::uint32_t blockBytes) {
  if (sectorBytes == blockBytes && offset == 0) return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::memmove(buffer + std::size_t{i} * blockBytes,
                 buffer + std::size_t{i} * sectorBytes + offset, blockBytes);
  }
}

}  // namespace quillion
