// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/bit_mux.h"

#include <cstring>

namespace quillion::mp3enc {
namespace {

constexpr std::uint32_t kHeaderBytes = 4;
constexpr std::uint32_t kCrcBytes = 2;

// Writes the oldest frame; main bytes beyond what the buffer holds become zero (flush).
std::size_t emitOldest(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc, std::uint8_t* out) {
  const BitMux::Slot slot = mux->slots[mux->readSlot];
  const std::uint32_t hdsiBytes = slot.hdsiBits / 8;
  const std::uint32_t mainBytes = slot.mainBits / 8;
  std::uint8_t* p = out;
  mp3ReadBytes(hdsi, p, kHeaderBytes);
  std::uint32_t sideStart = kHeaderBytes;
  if (crc) {
    (void)mp3ReadBits(hdsi, 16);  // the placeholder
    sideStart += kCrcBytes;
  }
  mp3ReadBytes(hdsi, p + sideStart, hdsiBytes - sideStart);
  if (crc) {
    std::uint32_t reg = kCrc16Init;
    reg = mp3CrcAdvance(kCrc16Polynomial, 0x8000, reg, p[2]);
    reg = mp3CrcAdvance(kCrc16Polynomial, 0x8000, reg, p[3]);
    for (std::uint32_t i = sideStart; i < hdsiBytes; ++i) reg = mp3CrcAdvance(kCrc16Polynomial, 0x8000, reg, p[i]);
    p[kHeaderBytes] = static_cast<std::uint8_t>(reg >> 8);
    p[kHeaderBytes + 1] = static_cast<std::uint8_t>(reg);
  }
  const std::uint32_t got = mp3ReadBytes(main, p + hdsiBytes, mainBytes);
  std::memset(p + hdsiBytes + got, 0, mainBytes - got);
  mux->frameLengths.push_back(hdsiBytes + mainBytes);
  ++mux->framesEmitted;
  mux->bytesEmitted += hdsiBytes + mainBytes;
  mux->readSlot = (mux->readSlot + 1) % kMuxSlots;
  --mux->held;
  return hdsiBytes + mainBytes;
}

long emitReady(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc, std::uint8_t* out,
               std::size_t outCapacity, bool flushing) {
  std::size_t produced = 0;
  while (mux->held > 0) {
    const BitMux::Slot& slot = mux->slots[mux->readSlot];
    if (!flushing && mp3GetBitsAvail(main) < slot.mainBits) break;
    if (mp3GetBitsAvail(hdsi) < slot.hdsiBits) break;
    if ((slot.hdsiBits + slot.mainBits) / 8 > outCapacity - produced) break;
    produced += emitOldest(mux, hdsi, main, crc, out + produced);
  }
  return static_cast<long>(produced);
}

}  // namespace

void mp3InitBitMux(BitMux* mux) {
  if (mux) *mux = BitMux{};
}

long mp3ComposeMuxFrames(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc, std::uint32_t hdsiBits,
                         std::uint32_t mainBits, std::uint8_t* out, std::size_t outCapacity) {
  if (!mux || !hdsi || !main || (!out && outCapacity > 0)) return -1;
  if (mux->held == kMuxSlots) return -1;
  mux->slots[mux->writeSlot] = {hdsiBits, mainBits};
  mux->writeSlot = (mux->writeSlot + 1) % kMuxSlots;
  ++mux->held;
  return emitReady(mux, hdsi, main, crc, out, outCapacity, false);
}

long mp3FlushMuxFrames(BitMux* mux, BitBuffer* hdsi, BitBuffer* main, bool crc, std::uint8_t* out,
                       std::size_t outCapacity) {
  if (!mux || !hdsi || !main || (!out && outCapacity > 0)) return -1;
  return emitReady(mux, hdsi, main, crc, out, outCapacity, true);
}

std::uint32_t mp3CrcAdvance(std::uint32_t polynomial, std::uint32_t mask, std::uint32_t reg, std::uint8_t byte) {
  const std::uint32_t width = (mask << 1) - 1;
  for (int bit = 7; bit >= 0; --bit) {
    const bool dataBit = (byte >> bit) & 1u;
    const bool topBit = (reg & mask) != 0;
    reg = topBit != dataBit ? (reg << 1) ^ polynomial : reg << 1;
    reg &= width;
  }
  return reg;
}

}  // namespace quillion::mp3enc
