// SPDX-License-Identifier: GPL-2.0-or-later
// A FIFO of bits over a ring of 16-bit words, filled most significant bit first. The frame
// writer keeps one for headers and side information and one for main data, which may be
// read out frames later than it was written (the bit reservoir).
#pragma once

#include <cstdint>
#include <memory>

#include "mp3enc/aligned_memory.h"

namespace quillion::mp3enc {

struct BitBuffer {
  AlignedArray<std::uint16_t> words;
  std::uint32_t capacityBits = 0;  // a whole number of words
  std::uint32_t writeBit = 0;      // next bit to write, from the ring's start
  std::uint32_t readBit = 0;       // next bit to read
  std::uint32_t bitsAvail = 0;     // written and not yet read
  std::uint64_t bitCount = 0;      // every bit ever written
  bool overrun = false;            // a write found the ring full; that write was dropped
};

struct BitBufferDelete {
  void operator()(BitBuffer* b) const noexcept;
};
using BitBufferPtr = std::unique_ptr<BitBuffer, BitBufferDelete>;

// Null when bits is 0 or memory runs out.
[[nodiscard]] BitBuffer* mp3CreateBitBuffer(std::uint32_t bits);
void mp3DeleteBitBuffer(BitBuffer* buffer);
[[nodiscard]] inline BitBufferPtr makeBitBuffer(std::uint32_t bits) {
  return BitBufferPtr(mp3CreateBitBuffer(bits));
}

// Appends the n (0..32) low bits of value, most significant first. Returns n, or 0 (and
// sets the overrun flag) when the ring has no room for them.
std::uint32_t mp3WriteBits(BitBuffer* buffer, std::uint32_t value, std::uint32_t n);
// Takes n (0..32) bits; bits not available read as 0 and are not consumed.
[[nodiscard]] std::uint32_t mp3ReadBits(BitBuffer* buffer, std::uint32_t n);
// Takes n whole bytes into out; returns the bytes taken.
std::uint32_t mp3ReadBytes(BitBuffer* buffer, std::uint8_t* out, std::uint32_t n);
// Writes zero bits up to the next byte boundary of the written total; returns the count.
std::uint32_t mp3ByteAlign(BitBuffer* buffer);
[[nodiscard]] std::uint32_t mp3GetBitsAvail(const BitBuffer* buffer);
[[nodiscard]] std::uint64_t mp3GetBitcnt(const BitBuffer* buffer);

}  // namespace quillion::mp3enc
