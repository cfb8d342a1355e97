// SPDX-License-Identifier: GPL-2.0-or-later
// Reads an elementary stream through a byte stream's request/confirm in whole windows, so
// start codes are found with memchr rather than a call per byte.
#pragma once

#include <cstdint>

struct bufstream;

namespace quillion::corvel {

class ByteScanner {
 public:
  explicit ByteScanner(bufstream* stream) : stream_(stream) {}

  // n bytes at the read position without taking them, or null when fewer remain.
  const std::uint8_t* peek(std::uint32_t n);
  // Takes n bytes; false when the stream had fewer.
  bool skip(std::uint32_t n);
  // Takes bytes up to the next 00 00 01 prefix (which stays); `taken` grows by the bytes
  // passed. False when the data ended first (everything left was taken).
  bool toStartCode(std::uint64_t& taken);
  std::uint64_t position() const { return position_; }

 private:
  bufstream* stream_;
  std::uint64_t position_ = 0;
};

}  // namespace quillion::corvel
