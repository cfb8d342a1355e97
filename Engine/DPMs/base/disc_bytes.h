// SPDX-License-Identifier: GPL-2.0-or-later
// Writing and reading the integers of on-disc structures byte by byte, in the byte order
// each format fixes, so that no structure is ever cast onto a buffer.
#pragma once

#include <cstdint>

namespace quillion {

inline void putLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void putBE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

inline void putLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void putBE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

inline void putBE64(std::uint8_t* p, std::uint64_t v) {
  putBE32(p, static_cast<std::uint32_t>(v >> 32));
  putBE32(p + 4, static_cast<std::uint32_t>(v));
}

// ISO 9660's "both byte orders" fields: little-endian, then big-endian.
inline void putBoth16(std::uint8_t* p, std::uint16_t v) {
  putLE16(p, v);
  putBE16(p + 2, v);
}

inline void putBoth32(std::uint8_t* p, std::uint32_t v) {
  putLE32(p, v);
  putBE32(p + 4, v);
}

inline std::uint16_t getBE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

inline std::uint32_t getBE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline std::uint32_t getLE32(const std::uint8_t* p) {
  return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

}  // namespace quillion
