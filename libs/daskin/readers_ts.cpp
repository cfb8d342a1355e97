// SPDX-License-Identifier: GPL-2.0-or-later
// Readers of transport streams (188-byte packets, or 192 with a 4-byte prefix) and of "AV"
// packet streams. Both carry PES packets cut into the payloads of small packets; each
// payload piece of a bound stream becomes one chunk.
#include <algorithm>
#include <cstring>

#include "io.h"
#include "readers.h"

namespace quillion::daskin {

namespace {

constexpr std::uint32_t kTsPacket = 188;

bool isPesStart(const std::uint8_t* d, std::uint32_t n) {
  return n >= 6 && d[0] == 0 && d[1] == 0 && d[2] == 1;
}

// Stream ids whose packets carry no PES header (ISO/IEC 13818-1, 2.4.3.7).
bool headerless(std::uint8_t id) {
  switch (id) {
    case 0xBC:
    case 0xBE:
    case 0xBF:
    case 0xF0:
    case 0xF1:
    case 0xF2:
    case 0xF8:
    case 0xFF:
      return true;
    default:
      return false;
  }
}

// The read position is at the first payload byte of a packet whose payload starts a PES
// packet. Steps past the PES header; answers the bytes of PES payload the stream is owed
// (-1 unbounded) and how many of the `n` payload bytes remain, or false to drop the payload.
bool startPes(Parser& p, std::uint32_t n, std::int64_t& owed, std::uint32_t& remaining) {
  const std::uint8_t* d = cursor(p);
  if (!isPesStart(d, n)) return false;
  const std::uint32_t length = be16(d + 4);
  std::uint32_t header = 6;
  p.pts = kNoTime;
  if (!headerless(d[3])) {
    PesHeader h;
    if (parseMpeg2Pes(d + 4, n - 4, h) != PesParse::Ok) return false;
    header = 4 + h.headerBytes;
    p.pts = h.pts;
  }
  if (header > n) return false;
  owed = length == 0 ? -1 : std::int64_t{length} + 6 - header;
  (void)skipBytes(p, header);
  remaining = n - header;
  return true;
}

// Hands the first n payload bytes (no more than the PES is owed) to the stream; `sent` tells
// whether there was anything to hand.
Step deliverPiece(Context& ctx, Parser& p, const Route& route, std::int64_t& owed, std::uint32_t n,
                  bool first, demux_chunk_info* chunk, bool& sent) {
  const std::int64_t take = owed < 0 ? n : std::min<std::int64_t>(owed, n);
  // The whole PES payload, not this piece of it (an AES3 chunk reports it).
  if (first) p.payloadLength = owed < 0 ? n : owed;
  if (owed > 0) owed -= take;
  sent = take > 0;
  if (!sent) return Step::Delivered;
  p.curProgram = route.program;
  p.curStream = route.stream;
  p.bytesLeft = take;
  return sendDownstream(ctx, p, route.program, route.stream, first, chunk);
}

// Moves to where the next packet begins (past what the last one still held).
Step toNextPacket(Parser& p) {
  if (p.position < p.nextPacket) return skipBytes(p, p.nextPacket - p.position);
  return p.error ? Step::Error : Step::Delivered;
}

}  // namespace

Step readTransportStream(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  if (p.error) return Step::Error;
  if (p.bytesLeft > 0) return sendDownstream(ctx, p, p.curProgram, p.curStream, false, chunk);
  const auto prefix = static_cast<std::uint32_t>(ctx.tsPrefix);
  const std::uint32_t stride = kTsPacket + prefix;
  for (;;) {
    if (p.atEnd) return Step::End;
    if (const Step r = toNextPacket(p); r != Step::Delivered) return r;
    const std::uint32_t have = ensure(p, stride);
    if (have < stride) {
      if (p.error) return Step::Error;
      (void)skipBytes(p, have);
      p.atEnd = true;
      return Step::End;
    }
    const std::uint8_t* d = cursor(p) + prefix;
    if (d[0] != 0x47) {
      // Lost sync: go on at the next sync byte.
      const auto* sync =
          static_cast<const std::uint8_t*>(std::memchr(d + 1, 0x47, have - prefix - 1));
      const std::uint32_t step = sync ? static_cast<std::uint32_t>(sync - d) : have - prefix;
      p.nextPacket = p.position + step;
      continue;
    }
    const std::uint64_t packetStart = p.position + prefix;
    p.nextPacket = p.position + stride;
    const std::uint32_t pid = (d[1] & 0x1Fu) << 8 | d[2];
    const Route route = p.byPid[pid];
    if (!route.bound || (d[1] & 0x80) != 0) continue;
    const bool unitStart = (d[1] & 0x40) != 0;
    const std::uint32_t control = (d[3] >> 4) & 3u;
    const auto counter = static_cast<std::int8_t>(d[3] & 0x0F);
    std::uint32_t payloadStart = 4;
    if (control & 2u) {
      // An adaptation field longer than the packet can hold is corrupt.
      if (d[4] > 183) continue;
      payloadStart = 5u + d[4];
    }
    if (!(control & 1u) || payloadStart >= kTsPacket) continue;
    // A repeated packet has the counter of the last payload-carrying packet of its PID
    // (ISO/IEC 13818-1, 2.4.3.3).
    if (p.lastCounter[pid] == counter) continue;
    p.lastCounter[pid] = counter;
    (void)skipBytes(p, prefix + payloadStart);
    p.packPosition = packetStart;
    std::uint32_t n = kTsPacket - payloadStart;
    bool first = false;
    if (unitStart) {
      if (!startPes(p, n, p.owed[pid], n)) {
        p.owed[pid] = 0;
        continue;
      }
      first = true;
    } else if (p.owed[pid] == 0) {
      p.pts = kNoTime;
      continue;  // no PES begun on this PID since positioning
    } else {
      p.pts = kNoTime;
    }
    bool sent = false;
    const Step r = deliverPiece(ctx, p, route, p.owed[pid], n, first, chunk, sent);
    if (sent || r != Step::Delivered) return r;
  }
}

Step readAvPackets(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  if (p.error) return Step::Error;
  if (p.bytesLeft > 0) return sendDownstream(ctx, p, p.curProgram, p.curStream, false, chunk);
  for (;;) {
    if (p.atEnd) return Step::End;
    if (const Step r = toNextPacket(p); r != Step::Delivered) return r;
    std::uint32_t have = ensure(p, 12);
    if (have < 8) {
      if (p.error) return Step::Error;
      (void)skipBytes(p, have);
      p.atEnd = true;
      return Step::End;
    }
    const std::uint8_t* d = cursor(p);
    if (d[0] != 'A' || d[1] != 'V') {
      const auto* a = static_cast<const std::uint8_t*>(std::memchr(d + 1, 'A', have - 1));
      p.nextPacket = p.position + (a ? static_cast<std::uint32_t>(a - d) : have);
      continue;
    }
    // Record: "AV", stream number, packet counter, a byte passed over, flags (bit 4: a
    // 32-bit 90 kHz time stamp follows for video), 16-bit payload length.
    const std::uint8_t stream = d[2];
    const auto counter = static_cast<std::int16_t>(d[3]);
    const std::uint8_t flags = d[5];
    std::uint32_t length = be16(d + 6);
    const std::uint64_t recordStart = p.position;
    p.nextPacket = p.position + 8 + length;
    const Route route = p.byPid[stream];
    if (!route.bound) continue;
    if (p.avLastCounter[stream] >= 1 && p.avLastCounter[stream] == counter) continue;
    p.avLastCounter[stream] = counter;
    std::uint32_t header = 8;
    std::int64_t stamp = kNoTime;
    if ((flags & 0x10) && stream == 1) {
      if (length < 4 || have < 12) continue;
      stamp = static_cast<std::int64_t>(std::uint32_t{d[8]} << 24 | std::uint32_t{d[9]} << 16 |
                                        std::uint32_t{d[10]} << 8 | d[11]) *
              300;
      header = 12;
      length -= 4;
    }
    (void)skipBytes(p, header);
    if (stream != 2) {
      // Video records carry the elementary stream itself.
      if (stamp != kNoTime || (flags & 3u)) p.packPosition = recordStart;
      p.pts = stamp;
      std::int64_t whole = length;
      bool sent = false;
      const Step r = deliverPiece(ctx, p, route, whole, length, true, chunk, sent);
      if (sent || r != Step::Delivered) return r;
      continue;
    }
    // Audio records carry PES packets cut into pieces, as transport packets do.
    std::uint32_t n = length;
    bool first = false;
    have = ensure(p, std::min<std::uint32_t>(n, kTsPacket + 72));
    if (n > 0 && isPesStart(cursor(p), std::min(n, have))) {
      if (!startPes(p, std::min(n, have), p.avOwed[stream], n)) continue;
      n = length - static_cast<std::uint32_t>(p.position - (recordStart + header));
      p.packPosition = recordStart;
      first = true;
    } else if (p.avOwed[stream] == 0) {
      continue;
    } else {
      p.pts = kNoTime;
    }
    bool sent = false;
    const Step r = deliverPiece(ctx, p, route, p.avOwed[stream], n, first, chunk, sent);
    if (sent || r != Step::Delivered) return r;
  }
}

}  // namespace quillion::daskin
