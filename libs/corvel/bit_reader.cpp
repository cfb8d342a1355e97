// SPDX-License-Identifier: GPL-2.0-or-later
#include "bit_reader.h"

namespace quillion::corvel {

BitReader::BitReader(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {
  refill();
}

// Keeps more than 24 bits in the cache while bytes remain; bits are held left-aligned in the
// low 32 bits' span of a 64-bit word.
void BitReader::refill() {
  while (valid_ <= 24 && at_ < end_) {
    cache_ |= std::uint64_t{*at_++} << (56 - valid_);
    valid_ += 8;
  }
}

std::uint32_t BitReader::bit() {
  // On a byte boundary with 00 00 03 next, the 03 is not part of the payload.
  if (consumedInByte_ == 0 && valid_ >= 24 && (cache_ >> 40) == 0x000003) {
    const std::uint64_t top = cache_ & 0xFFFF000000000000ull;
    cache_ = top | ((cache_ << 8) & 0x0000FFFFFFFFFFFFull);
    valid_ -= 8;
    refill();
  }
  if (valid_ == 0) {
    ended_ = true;
    return 0;
  }
  const std::uint32_t b = static_cast<std::uint32_t>(cache_ >> 63);
  cache_ <<= 1;
  --valid_;
  consumedInByte_ = (consumedInByte_ + 1) & 7;
  refill();
  return b;
}

std::uint32_t BitReader::bits(int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 1) | bit();
  return v;
}

std::uint32_t BitReader::ue() {
  int zeros = 0;
  while (bit() == 0) {
    if (ended_ || ++zeros > 31) {
      ended_ = true;
      return 0;
    }
  }
  return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + bits(zeros));
}

std::int32_t BitReader::se() {
  const std::uint64_t c = std::uint64_t{ue()} + 1;
  if (c == 1) return 0;
  const auto half = static_cast<std::int32_t>(c / 2);
  return (c % 2 == 0) ? half : -half;
}

}  // namespace quillion::corvel
