// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's one way to read and write integers of a fixed byte order: command blocks,
// drive replies, on-disc structures and image headers. Every access is checked against the
// span: a read past its end answers 0 for the missing bytes and a write past its end is
// dropped, so a short reply or a mis-sized field never touches memory outside the buffer.
// No structure is ever cast onto a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillion {

namespace be {

inline std::uint64_t get(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0u);
  return v;
}
inline std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(get(b, at, 2));
}
inline std::uint32_t get24(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(get(b, at, 3));
}
inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(get(b, at, 4));
}
inline std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) { return get(b, at, 8); }

inline void put(std::span<std::uint8_t> b, std::size_t at, std::size_t width, std::uint64_t v) {
  for (std::size_t i = 0; i < width; ++i) {
    if (at + i < b.size()) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
  }
}
inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 2, v); }
inline void put24(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 3, v); }
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 4, v); }
inline void put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 8, v); }

}  // namespace be

namespace le {

inline std::uint64_t get(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = width; i-- > 0;) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0u);
  return v;
}
inline std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(get(b, at, 2));
}
inline std::uint32_t get24(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(get(b, at, 3));
}
inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(get(b, at, 4));
}
inline std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) { return get(b, at, 8); }

inline void put(std::span<std::uint8_t> b, std::size_t at, std::size_t width, std::uint64_t v) {
  for (std::size_t i = 0; i < width; ++i) {
    if (at + i < b.size()) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}
inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 2, v); }
inline void put24(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 3, v); }
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 4, v); }
inline void put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { put(b, at, 8, v); }

}  // namespace le

// ISO 9660 7.2.3 and 7.3.3: a field recorded in both byte orders, little-endian first.
namespace both {

inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  le::put16(b, at, v);
  be::put16(b, at + 2, v);
}
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  le::put32(b, at, v);
  be::put32(b, at + 4, v);
}
// A reader of someone else's disc takes the little-endian half; the two disagree only on a
// damaged or hand-made volume, which `agree16`/`agree32` let a validator detect.
inline std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return le::get16(b, at);
}
inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return le::get32(b, at);
}
inline bool agree16(std::span<const std::uint8_t> b, std::size_t at) {
  return at + 4 <= b.size() && le::get16(b, at) == be::get16(b, at + 2);
}
inline bool agree32(std::span<const std::uint8_t> b, std::size_t at) {
  return at + 8 <= b.size() && le::get32(b, at) == be::get32(b, at + 4);
}

}  // namespace both

}  // namespace quillion
