// SPDX-License-Identifier: GPL-2.0-or-later
// Bits of a byte buffer, most significant first, with Exp-Golomb codes. It reads H.264
// payloads, so it drops emulation-prevention bytes (00 00 03) as it goes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::corvel {

class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size);

  std::uint32_t bit();
  // n from 0 to 32.
  std::uint32_t bits(int n);
  std::uint32_t ue();
  std::int32_t se();
  // Set once a bit was asked for beyond the buffer (it reads as 0).
  bool ended() const { return ended_; }

 private:
  void refill();

  const std::uint8_t* at_;
  const std::uint8_t* end_;
  std::uint64_t cache_ = 0;  // valid bits at the top of the low 32 bits' window
  int valid_ = 0;
  int consumedInByte_ = 0;  // bits taken since the last byte boundary
  bool ended_ = false;
};

}  // namespace quillion::corvel
