// SPDX-License-Identifier: GPL-2.0-or-later
// DVD LPCM carries 16-bit samples most significant byte first. SMPTE 302M sends each sample
// least significant bit first, followed by its validity, user, channel-status and framing
// bits; every pair of channels of one sampling instant is one packed group. The eight-channel
// element gives every channel a 4-byte word (least significant byte first) whatever the
// channel count, laid out like an AES3 subframe: the channel number in bits 0-2 where the
// preamble would be, the block-start flag in bit 3, the 24-bit audio field in bits 4-27 with
// the sample's most significant bit at bit 27, and the validity, user, channel-status and
// parity bits 28-31 left clear. The planar layout holds one plane per channel, samples least
// significant byte first.
#include "packing.h"

#include <array>
#include <cstring>

namespace quillion::gantrel {
namespace {

constexpr std::array<std::uint8_t, 256> makeBitReversal() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (int b = 0; b < 8; ++b)
      if (v & (1u << b)) r |= 0x80u >> b;
    table[v] = static_cast<std::uint8_t>(r);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> kBitReversal = makeBitReversal();

// The `bits`-bit value with its bit order reversed.
std::uint32_t reverseBits(std::uint32_t value, int bits) {
  const std::uint32_t r = static_cast<std::uint32_t>(kBitReversal[value & 0xFF]) << 24 |
                          static_cast<std::uint32_t>(kBitReversal[(value >> 8) & 0xFF]) << 16 |
                          static_cast<std::uint32_t>(kBitReversal[(value >> 16) & 0xFF]) << 8 |
                          kBitReversal[value >> 24];
  return r >> (32 - bits);
}

// One input sample as an unsigned value of 16 or 24 bits.
std::uint32_t readSample(const std::uint8_t* p, int bytes, bool msbFirst) {
  if (bytes == 2)
    return msbFirst ? (std::uint32_t{p[0]} << 8 | p[1]) : (std::uint32_t{p[1]} << 8 | p[0]);
  return msbFirst ? (std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2])
                  : (std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
}

bool blockStart(std::uint64_t sampleFrame) {
  return sampleFrame % kAes3BlockFrames == 0;
}

std::uint32_t packLpcm(const FrameFormat& f, const FrameEntry& e, const std::uint8_t* in,
                       std::uint8_t* out) {
  if (f.msbFirst) {
    std::memcpy(out, in, e.inputBytes);
  } else {
    for (std::uint32_t i = 0; i + 1 < e.inputBytes; i += 2) {
      out[i] = in[i + 1];
      out[i + 1] = in[i];
    }
  }
  return e.outputBytes;
}

std::uint32_t pack302M(const FrameFormat& f, const FrameEntry& e, std::uint64_t firstFrame,
                       const std::uint8_t* in, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(e.outputBytes >> 8);
  out[1] = static_cast<std::uint8_t>(e.outputBytes);
  out[2] = static_cast<std::uint8_t>(((f.channels - 1) >> 1) << 6);
  out[3] = static_cast<std::uint8_t>(f.quantization << 4);
  // Bits per sample on the wire, and how far the input sample is shifted down to them.
  const int bits = f.quantization == 0 ? 16 : f.quantization == 1 ? 20 : 24;
  const int drop = f.sampleBytes * 8 - bits;
  const int pairBits = 2 * (bits + 4);
  std::uint8_t* o = out + 4;
  for (std::uint32_t s = 0; s < e.samples; ++s) {
    const std::uint8_t firstGroup =
        blockStart(firstFrame + s) ? kGroupBlockStart : kGroupFirstSample;
    for (int c = 0; c + 1 < f.channels; c += 2) {
      const std::uint64_t a = readSample(in + c * f.sampleBytes, f.sampleBytes, f.msbFirst) >> drop;
      const std::uint64_t b =
          readSample(in + (c + 1) * f.sampleBytes, f.sampleBytes, f.msbFirst) >> drop;
      // The pair in sending order, first bit highest: sample, group, sample, group.
      std::uint64_t wire = reverseBits(static_cast<std::uint32_t>(a), bits);
      wire = wire << 4 | firstGroup;
      wire = wire << bits | reverseBits(static_cast<std::uint32_t>(b), bits);
      wire = wire << 4 | kGroupSecondSample;
      for (int shift = pairBits - 8; shift >= 0; shift -= 8)
        *o++ = static_cast<std::uint8_t>(wire >> shift);
    }
    in += f.inputBytesPerSampleFrame;
  }
  return e.outputBytes + 4;
}

std::uint32_t packAes3Element(const FrameFormat& f, const FrameEntry& e, PackPosition where,
                              const std::uint8_t* in, std::uint8_t* out) {
  const bool fiveFrameCycle = f.frameRateCode == 4 || f.frameRateCode == 7;
  out[0] = static_cast<std::uint8_t>(fiveFrameCycle ? where.cycleIndex + 1 : 0);
  out[1] = static_cast<std::uint8_t>(e.samples);
  out[2] = static_cast<std::uint8_t>(e.samples >> 8);
  // Every channel that carries samples is marked.
  out[3] = static_cast<std::uint8_t>((1u << f.channels) - 1);
  // 20-bit audio leaves the four lowest bits of the field (the auxiliary bits) clear.
  const std::uint32_t audioMask = f.quantization == 1 ? 0xFFFFF0u : 0xFFFFFFu;
  std::uint8_t* o = out + 4;
  std::memset(o, 0, e.outputBytes);
  for (std::uint32_t s = 0; s < e.samples; ++s) {
    const bool start = blockStart(where.sampleFramesBefore + s);
    for (int c = 0; c < f.channels; ++c) {
      const std::uint32_t v =
          readSample(in + c * f.sampleBytes, f.sampleBytes, f.msbFirst) & audioMask;
      const std::uint32_t word =
          v << 4 | (start && c == 0 ? 8u : 0u) | static_cast<std::uint32_t>(c);
      std::uint8_t* w = o + 4 * c;
      w[0] = static_cast<std::uint8_t>(word);
      w[1] = static_cast<std::uint8_t>(word >> 8);
      w[2] = static_cast<std::uint8_t>(word >> 16);
      w[3] = static_cast<std::uint8_t>(word >> 24);
    }
    in += f.inputBytesPerSampleFrame;
    o += 32;
  }
  return e.outputBytes + 4;
}

std::uint32_t packPlanar(const FrameFormat& f, const FrameEntry& e, const std::uint8_t* in,
                         std::uint8_t* out) {
  const std::uint32_t plane = e.samples * static_cast<std::uint32_t>(f.sampleBytes);
  for (int c = 0; c < f.channels; ++c) {
    std::uint8_t* o = out + plane * static_cast<std::uint32_t>(c);
    const std::uint8_t* p = in + c * f.sampleBytes;
    for (std::uint32_t s = 0; s < e.samples; ++s) {
      const std::uint32_t v = readSample(p, f.sampleBytes, f.msbFirst);
      for (int b = 0; b < f.sampleBytes; ++b) *o++ = static_cast<std::uint8_t>(v >> (8 * b));
      p += f.inputBytesPerSampleFrame;
    }
  }
  return e.outputBytes;
}

}  // namespace

void buildStreamHeader(const pcm_a_settings& s, std::int32_t sampleRate, std::int32_t frameRateCode,
                       std::uint8_t header[kStreamHeaderBytes]) {
  std::memset(header, 0, kStreamHeaderBytes);
  if (s.audio_layer == kLayoutLpcm) {
    std::memcpy(header, "LPCM", 4);
    header[4] = static_cast<std::uint8_t>(
        (s.mute_flag & 1) << 7 | (s.quantization & 3) << 5 | (s.channel_count_code & 7) << 2 |
        (s.emphasis != 0 ? 2 : 0) | (sampleRate != 48000 ? 1 : 0));
    header[5] = static_cast<std::uint8_t>(s.dynamic_range);
    return;
  }
  std::memcpy(header, "AES3", 4);
  header[4] = static_cast<std::uint8_t>(s.audio_layer);
  header[5] = static_cast<std::uint8_t>((frameRateCode - 1) << 5 | (s.quantization & 3) << 3 |
                                        (s.channel_count_code & 7));
}

std::uint32_t packFrame(const FrameFormat& f, const FrameEntry& e, PackPosition where,
                        const std::uint8_t* in, std::uint8_t* out) {
  switch (f.layout) {
    case kLayoutLpcm:
      return packLpcm(f, e, in, out);
    case kLayout302M:
      return pack302M(f, e, where.sampleFramesBefore, in, out);
    case kLayoutAes3Element:
      return packAes3Element(f, e, where, in, out);
    default:
      return packPlanar(f, e, in, out);
  }
}

}  // namespace quillion::gantrel
