// SPDX-License-Identifier: GPL-2.0-or-later
// The frame multiplexer: joins each frame's header and side information with its main
// data, which may have been written in earlier frames (the bit reservoir), and inserts the
// CRC-16 of the standard when error protection is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mp3enc/bit_buffer.h"

namespace quillion::mp3enc {

inline constexpr int kMuxSlots = 64;

struct BitMux {
  struct Slot {
    std::uint32_t hdsiBits = 0;  // header (and CRC placeholder) plus side information
    std::uint32_t mainBits = 0;  // the frame's share of main data
  };
  Slot slots[kMuxSlots];
  int readSlot = 0;
  int writeSlot = 0;
  int held = 0;                             // frames stored and not yet emitted
  std::uint64_t framesEmitted = 0;
  std::uint64_t bytesEmitted = 0;
  std::vector<std::uint32_t> frameLengths;  // bytes of every emitted frame, in order
};

void mp3InitBitMux(BitMux* mux);

// Queues a frame and emits every frame whose main data is complete, as far as outCapacity
// allows (what does not fit stays queued for the next call). Returns the bytes emitted, or
// -1 when the ring of slots is full or an argument is missing.
[[nodiscard]] long mp3ComposeMuxFrames(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc,
                                       std::uint32_t hdsiBits, std::uint32_t mainBits,
                                       std::uint8_t* out, std::size_t outCapacity);
// Emits every frame still held, with whatever main data remains and zero bytes for the
// rest. Returns the bytes emitted (frames that do not fit stay queued), or -1.
[[nodiscard]] long mp3FlushMuxFrames(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc,
                                     std::uint8_t* out, std::size_t outCapacity);

// Feeds one byte, most significant bit first, into a CRC register of the width that mask
// (the register's top bit) gives.
[[nodiscard]] std::uint32_t mp3CrcAdvance(std::uint32_t polynomial, std::uint32_t mask,
                                          std::uint32_t reg, std::uint8_t byte);

inline constexpr std::uint32_t kCrc16Polynomial = 0x8005;
inline constexpr std::uint32_t kCrc16Init = 0xFFFF;

}  // namespace quillion::mp3enc
