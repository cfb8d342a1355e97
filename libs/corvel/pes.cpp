// SPDX-License-Identifier: GPL-2.0-or-later
#include "pes.h"

#include <cstring>

namespace quillion::corvel {
namespace {

void putStartCode(std::uint8_t* out, std::uint8_t code) {
  out[0] = 0;
  out[1] = 0;
  out[2] = 1;
  out[3] = code;
}

void putRate22(std::uint8_t* out, std::uint32_t rate) {
  out[0] = static_cast<std::uint8_t>((rate >> 15) | 0x80);
  out[1] = static_cast<std::uint8_t>(rate >> 7);
  out[2] = static_cast<std::uint8_t>(((rate & 0x7F) << 1) | 1);
}

std::size_t stampBytes(Stamps s) {
  return s == Stamps::ptsDts ? 10 : s == Stamps::pts ? 5 : 0;
}

}  // namespace

void encodeTime(std::uint8_t* out, std::uint64_t ticks27, std::uint8_t marker, bool mpeg1) {
  const std::uint64_t v = (mpeg1 ? (ticks27 + 2) / 300 : ticks27 / 300) & 0x1FFFFFFFFull;
  out[0] = static_cast<std::uint8_t>((marker << 4) | ((v >> 29) & 0x0E) | 1);
  out[1] = static_cast<std::uint8_t>(v >> 22);
  out[2] = static_cast<std::uint8_t>(((v >> 14) & 0xFE) | 1);
  out[3] = static_cast<std::uint8_t>(v >> 7);
  out[4] = static_cast<std::uint8_t>(((v << 1) & 0xFE) | 1);
}

std::uint64_t decodeTime(const std::uint8_t* in) {
  return (std::uint64_t{in[0] & 0x0Eu} << 29) | (std::uint64_t{in[1]} << 22) |
         (std::uint64_t{in[2] & 0xFEu} << 14) | (std::uint64_t{in[3]} << 7) | (in[4] >> 1);
}

void encodeScrMpeg2(std::uint8_t* out, std::uint64_t ticks27) {
  const std::uint64_t base = (ticks27 / 300) & 0x1FFFFFFFFull;
  const std::uint64_t ext = ticks27 % 300;
  out[0] = static_cast<std::uint8_t>(0x40 | ((base >> 27) & 0x38) | 0x04 | ((base >> 28) & 0x03));
  out[1] = static_cast<std::uint8_t>(base >> 20);
  out[2] = static_cast<std::uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03));
  out[3] = static_cast<std::uint8_t>(base >> 5);
  out[4] = static_cast<std::uint8_t>(((base << 3) & 0xF8) | 0x04 | ((ext >> 7) & 0x03));
  out[5] = static_cast<std::uint8_t>(((ext << 1) & 0xFE) | 1);
}

std::size_t packHeaderSize(const PackLayout& layout) {
  return layout.mpeg1 ? 12 : 14;
}

std::size_t buildPackHeader(std::uint8_t* out, const PackLayout& layout, std::uint64_t scr,
                            std::uint32_t muxRate) {
  putStartCode(out, 0xBA);
  if (layout.mpeg1) {
    encodeTime(out + 4, scr, kMarkerPts, true);
    putRate22(out + 9, muxRate);
    return 12;
  }
  encodeScrMpeg2(out + 4, scr);
  out[10] = static_cast<std::uint8_t>(muxRate >> 14);
  out[11] = static_cast<std::uint8_t>(muxRate >> 6);
  out[12] = static_cast<std::uint8_t>(((muxRate & 0x3F) << 2) | 3);
  out[13] = 0xF8;
  return 14;
}

std::size_t systemHeaderSize(std::size_t streamCount) {
  return 12 + 3 * streamCount;
}

std::size_t buildSystemHeader(std::uint8_t* out, const PackLayout& layout,
                              const SystemHeaderFields& f) {
  putStartCode(out, 0xBB);
  const std::size_t length = 6 + 3 * f.streamCount;
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length);
  putRate22(out + 6, f.rateBound);
  out[9] = static_cast<std::uint8_t>((f.audioBound << 2) | (f.fixedAndCsps & 3));
  out[10] = static_cast<std::uint8_t>((f.audioLock ? 0x80 : 0) | (f.videoLock ? 0x40 : 0) | 0x20 |
                                      (f.videoBound & 0x1F));
  out[11] = layout.mpeg1 ? 0xFF : 0x7F;
  std::uint8_t* e = out + 12;
  for (std::size_t i = 0; i < f.streamCount; ++i, e += 3) {
    const SystemStream& s = f.streams[i];
    e[0] = s.streamId;
    e[1] = static_cast<std::uint8_t>(0xC0 | (s.scale << 5) | ((s.size >> 8) & 0x1F));
    e[2] = static_cast<std::uint8_t>(s.size);
  }
  return 6 + length;
}

std::size_t buildPadding(std::uint8_t* out, const PackLayout& layout, std::size_t total,
                         std::size_t zeroTail) {
  putStartCode(out, 0xBE);
  const std::size_t length = total - 6;
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length);
  std::memset(out + 6, 0xFF, length);
  if (layout.mpeg1 && length > 0) out[6] = 0x0F;
  std::memset(out + total, 0, zeroTail);
  return total + zeroTail;
}

std::size_t pesHeaderSize(const PackLayout& layout, const PesHeader& h) {
  if (layout.mpeg1) {
    const std::size_t stamps =
        layout.vcd ? 10 : (h.stamps == Stamps::none ? 1 : stampBytes(h.stamps));
    return 6 + (h.stdFields ? 2 : 0) + stamps;
  }
  return 9 + stampBytes(h.stamps) + (h.stdFields ? 3 : 0);
}

std::size_t buildPesHeader(std::uint8_t* out, const PackLayout& layout, const PesHeader& h,
                           std::size_t stuffing, std::size_t bodyBytes) {
  putStartCode(out, h.streamId);
  const std::size_t headerBytes = pesHeaderSize(layout, h) + stuffing;
  const std::size_t length = headerBytes - 6 + bodyBytes;
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length);
  std::uint8_t* p = out + 6;
  if (layout.mpeg1) {
    std::size_t fill = stuffing;
    if (layout.vcd) fill += h.stamps == Stamps::none ? 9 : h.stamps == Stamps::pts ? 5 : 0;
    std::memset(p, 0xFF, fill);
    p += fill;
    if (h.stdFields) {
      *p++ = static_cast<std::uint8_t>(0x40 | (h.stdScale << 5) | ((h.stdSize >> 8) & 0x1F));
      *p++ = static_cast<std::uint8_t>(h.stdSize);
    }
    if (h.stamps == Stamps::pts) {
      encodeTime(p, h.pts, kMarkerPts, true);
      p += 5;
    } else if (h.stamps == Stamps::ptsDts) {
      encodeTime(p, h.pts, kMarkerPtsBeforeDts, true);
      encodeTime(p + 5, h.dts, kMarkerDts, true);
      p += 10;
    } else {
      *p++ = 0x0F;
    }
    return static_cast<std::size_t>(p - out);
  }
  *p++ = layout.svcd ? 0x81 : 0x80;
  const std::uint8_t ptsDtsFlags = h.stamps == Stamps::ptsDts ? 3 : h.stamps == Stamps::pts ? 2 : 0;
  *p++ = static_cast<std::uint8_t>((ptsDtsFlags << 6) | (h.stdFields ? 1 : 0));
  *p++ = static_cast<std::uint8_t>(headerBytes - 9);
  if (h.stamps == Stamps::pts) {
    encodeTime(p, h.pts, kMarkerPts, false);
    p += 5;
  } else if (h.stamps == Stamps::ptsDts) {
    encodeTime(p, h.pts, kMarkerPtsBeforeDts, false);
    encodeTime(p + 5, h.dts, kMarkerDts, false);
    p += 10;
  }
  if (h.stdFields) {
    *p++ = 0x1E;
    *p++ = static_cast<std::uint8_t>(0x40 | (h.stdScale << 5) | ((h.stdSize >> 8) & 0x1F));
    *p++ = static_cast<std::uint8_t>(h.stdSize);
  }
  std::memset(p, 0xFF, stuffing);
  p += stuffing;
  return static_cast<std::size_t>(p - out);
}

void encodeSectorTime(std::uint8_t* out, std::uint32_t pack) {
  const std::uint32_t minutes = pack / 4500;
  const std::uint32_t seconds = (pack / 75) % 60;
  const std::uint32_t frames = pack % 75;
  const auto bcd = [](std::uint32_t v) {
    return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10));
  };
  out[0] = bcd(minutes % 100);
  out[1] = static_cast<std::uint8_t>(bcd(seconds) | 0x80);
  out[2] = static_cast<std::uint8_t>(bcd(frames) | 0x80);
}

}  // namespace quillion::corvel
