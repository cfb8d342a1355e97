// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/bit_buffer.h"

namespace quillion::mp3enc {

void BitBufferDelete::operator()(BitBuffer* b) const noexcept { mp3DeleteBitBuffer(b); }

BitBuffer* mp3CreateBitBuffer(std::uint32_t bits) {
  if (bits == 0) return nullptr;
  const std::uint32_t wordCount = (bits + 15) / 16;
  auto* buffer = new (std::nothrow) BitBuffer;
  if (!buffer) return nullptr;
  buffer->words = makeAlignedArray<std::uint16_t>(wordCount);
  if (!buffer->words) {
    delete buffer;
    return nullptr;
  }
  buffer->capacityBits = wordCount * 16;
  return buffer;
}

void mp3DeleteBitBuffer(BitBuffer* buffer) { delete buffer; }

std::uint32_t mp3WriteBits(BitBuffer* buffer, std::uint32_t value, std::uint32_t n) {
  if (!buffer || n == 0 || n > 32) return 0;
  if (buffer->capacityBits - buffer->bitsAvail < n) {
    buffer->overrun = true;
    return 0;
  }
  for (std::uint32_t left = n; left > 0;) {
    const std::uint32_t word = buffer->writeBit / 16;
    const std::uint32_t offset = buffer->writeBit % 16;
    const std::uint32_t take = left < 16 - offset ? left : 16 - offset;
    const std::uint32_t chunk = (value >> (left - take)) & ((1u << take) - 1u);
    const std::uint32_t shift = 16 - offset - take;
    const std::uint32_t mask = ((1u << take) - 1u) << shift;
    buffer->words[word] = static_cast<std::uint16_t>((buffer->words[word] & ~mask) | (chunk << shift));
    buffer->writeBit = (buffer->writeBit + take) % buffer->capacityBits;
    left -= take;
  }
  buffer->bitsAvail += n;
  buffer->bitCount += n;
  return n;
}

std::uint32_t mp3ReadBits(BitBuffer* buffer, std::uint32_t n) {
  if (!buffer || n == 0 || n > 32 || buffer->bitsAvail < n) return 0;
  std::uint32_t value = 0;
  for (std::uint32_t left = n; left > 0;) {
    const std::uint32_t word = buffer->readBit / 16;
    const std::uint32_t offset = buffer->readBit % 16;
    const std::uint32_t take = left < 16 - offset ? left : 16 - offset;
    const std::uint32_t chunk = (buffer->words[word] >> (16 - offset - take)) & ((1u << take) - 1u);
    value = take == 32 ? chunk : (value << take) | chunk;
    buffer->readBit = (buffer->readBit + take) % buffer->capacityBits;
    left -= take;
  }
  buffer->bitsAvail -= n;
  return value;
}

std::uint32_t mp3ReadBytes(BitBuffer* buffer, std::uint8_t* out, std::uint32_t n) {
  if (!buffer || !out) return 0;
  std::uint32_t taken = 0;
  while (taken < n && buffer->bitsAvail >= 8) out[taken++] = static_cast<std::uint8_t>(mp3ReadBits(buffer, 8));
  return taken;
}

std::uint32_t mp3ByteAlign(BitBuffer* buffer) {
  if (!buffer) return 0;
  const std::uint32_t pad = static_cast<std::uint32_t>((8 - buffer->bitCount % 8) % 8);
  return pad ? mp3WriteBits(buffer, 0, pad) : 0;
}

std::uint32_t mp3GetBitsAvail(const BitBuffer* buffer) { return buffer ? buffer->bitsAvail : 0; }
std::uint64_t mp3GetBitcnt(const BitBuffer* buffer) { return buffer ? buffer->bitCount : 0; }

}  // namespace quillion::mp3enc
