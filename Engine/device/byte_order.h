// SPDX-License-Identifier: GPL-2.0-or-later
// Big-endian fields of command blocks and drive replies. Reads past the end of the span
// answer 0, so a short reply never reads outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillion::be {

inline std::uint32_t get(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0u);
  return v;
}
inline std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(get(b, at, 2));
}
inline std::uint32_t get24(std::span<const std::uint8_t> b, std::size_t at) { return get(b, at, 3); }
inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) { return get(b, at, 4); }

inline void put(std::span<std::uint8_t> b, std::size_t at, std::size_t width, std::uint32_t v) {
  for (std::size_t i = 0; i < width; ++i) {
    if (at + i < b.size()) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
  }
}
inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) { put(b, at, 2, v); }
inline void put24(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) { put(b, at, 3, v); }
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) { put(b, at, 4, v); }

}  // namespace quillion::be
