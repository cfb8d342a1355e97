// SPDX-License-Identifier: GPL-2.0-or-later
// Delivery of payload to the caller's byte streams, the start-code search and PES headers:
// the parts every packet reader shares.
#include <algorithm>
#include <cstring>

#include "io.h"
#include "readers.h"

namespace quillion::daskin {

namespace {

std::int64_t pesTimeStamp(const std::uint8_t* t) {
  // 33 bits spread over five bytes with marker bits (ISO/IEC 13818-1, 2.4.3.7).
  const std::uint64_t v = (std::uint64_t{(t[0] >> 1) & 0x07u} << 30) | (std::uint64_t{t[1]} << 22) |
                          (std::uint64_t{t[2]} >> 1 << 15) | (std::uint64_t{t[3]} << 7) |
                          (std::uint64_t{t[4]} >> 1);
  return static_cast<std::int64_t>(v) * 300;
}

// How many private-stream header bytes follow the sub-stream id of each kind, and the flags
// the chunk then carries.
struct PrivateHeader {
  std::uint32_t bytes;
  std::uint32_t flags;
};
PrivateHeader privateHeaderOf(std::uint32_t kind) {
  switch (kind) {
    case DEMUX_KIND_AC3:
    case DEMUX_KIND_SUB_88:
    case DEMUX_KIND_SUB_90:
      return {3, 1};
    case DEMUX_KIND_LPCM:
      return {6, 3};
    case DEMUX_KIND_SUBPICTURE:
      return {0, 1};
    default:
      return {0, 0};
  }
}

bool readInto(Parser& p, std::uint8_t* dst, std::uint32_t n) {
  if (ensure(p, n) < n) return false;
  std::memcpy(dst, cursor(p), n);
  p.readIndex += n;
  p.position += n;
  return true;
}

}  // namespace

PesParse parseMpeg2Pes(const std::uint8_t* p, std::uint32_t have, PesHeader& out) {
  if (have < 5) return PesParse::Short;
  out.length = static_cast<std::uint32_t>(p[0] << 8 | p[1]);
  if ((p[2] & 0xC0) != 0x80) return PesParse::NotPes;
  const std::uint32_t h = p[4];
  // A header that does not fit in its own packet is corrupt: its payload length would be
  // negative.
  if (out.length != 0 && 3 + h > out.length) return PesParse::NotPes;
  if (have < 5 + h) return PesParse::Short;
  out.pts = kNoTime;
  if (p[3] & 0x80) {
    if (h < 5) return PesParse::NotPes;
    out.pts = pesTimeStamp(p + 5);
  }
  out.headerBytes = 5 + h;
  return PesParse::Ok;
}

PesParse parseMpeg1Pes(const std::uint8_t* p, std::uint32_t have, PesHeader& out) {
  if (have < 3) return PesParse::Short;
  out.length = static_cast<std::uint32_t>(p[0] << 8 | p[1]);
  std::uint32_t i = 2;
  // Up to 16 stuffing bytes (ISO/IEC 11172-1, 2.4.3.3).
  while (i < have && i < 18 && p[i] == 0xFF) ++i;
  if (i >= have) return PesParse::Short;
  if ((p[i] & 0xC0) == 0x40) {
    i += 2;  // STD buffer scale and size
    if (i >= have) return PesParse::Short;
  }
  out.pts = kNoTime;
  const std::uint8_t b = p[i];
  std::uint32_t stamp = 0;
  if ((b & 0xF0) == 0x20) {
    stamp = 5;
  } else if ((b & 0xF0) == 0x30) {
    stamp = 10;
  } else if (b == 0x0F) {
    stamp = 1;
  } else {
    return PesParse::NotPes;
  }
  if (out.length != 0 && i + stamp > out.length + 2) return PesParse::NotPes;
  if (have < i + stamp) return PesParse::Short;
  if (stamp > 1) out.pts = pesTimeStamp(p + i);
  out.headerBytes = i + stamp;
  return PesParse::Ok;
}

Step findStartCode(Parser& p, std::uint32_t& code) {
  for (;;) {
    if (p.error) return Step::Error;
    const std::uint32_t have = ensure(p, 4);
    if (have < 4) {
      if (p.error) return Step::Error;
      (void)skipBytes(p, have);
      p.atEnd = true;
      return Step::End;
    }
    const std::uint8_t* d = cursor(p);
    // Look for the 0x01 of 00 00 01 xx; the byte after it must be in the buffer too.
    std::uint32_t j = 2;
    while (j + 1 < have) {
      const auto* one = static_cast<const std::uint8_t*>(std::memchr(d + j, 0x01, have - 1 - j));
      if (!one) break;
      j = static_cast<std::uint32_t>(one - d);
      if (d[j - 1] == 0 && d[j - 2] == 0) {
        code = 0x00000100u | d[j + 1];
        p.readIndex += j + 2;
        p.position += j + 2;
        return Step::Delivered;
      }
      ++j;
    }
    // Keep the last three bytes: a start code may straddle the refill.
    p.readIndex += have - 3;
    p.position += have - 3;
  }
}

Step sendDownstream(Context& ctx, Parser& p, int program, int stream, bool withHeader,
                    demux_chunk_info* chunk) {
  StreamRecord& s = ctx.programs[program].streams[stream];
  if (!s.output) {
    const Step r = skipBytes(p, static_cast<std::uint64_t>(std::max<std::int64_t>(p.bytesLeft, 0)));
    p.bytesLeft = 0;
    return r;
  }
  if (p.bytesLeft < 1) {
    ctx.services.error("send_downstream, invalid packet_len %d", static_cast<int>(p.bytesLeft));
    return Step::Error;
  }
  demux_chunk_info c{};
  c.pts = p.pts;
  c.pack_position = p.packPosition;
  p.pts = kNoTime;  // later chunks of the same packet carry no time stamp
  if (withHeader) {
    if (s.info.kind == DEMUX_KIND_AES3) {
      if (p.bytesLeft < 4 || !readInto(p, c.extra, 4)) return p.error ? Step::Error : Step::End;
      c.flags = 1;
      c.extra_count = 4;
      c.aes3_length = static_cast<std::uint32_t>(p.payloadLength - 4);
      p.bytesLeft -= 4;
    } else if (s.info.sub_stream_id != 0 && s.info.stream_id == 0xBD) {
      const PrivateHeader h = privateHeaderOf(s.info.kind);
      if (h.flags != 0) {
        if (p.bytesLeft < h.bytes || !readInto(p, c.extra + 1, h.bytes))
          return p.error ? Step::Error : Step::End;
        c.flags = h.flags;
        c.extra[0] = s.info.sub_stream_id;
        c.extra_count = static_cast<std::uint8_t>(h.bytes + 1);
        p.bytesLeft -= h.bytes;
      }
    }
  }
  c.data_position = p.position;
  if (p.bytesLeft == 0) return Step::Delivered;

  if (s.chunkSize == 0) {
    const std::uint32_t have =
        ensure(p, static_cast<std::uint32_t>(std::min<std::int64_t>(p.bytesLeft, 32)));
    if (have == 0) {
      if (p.error) return Step::Error;
      p.atEnd = true;
      return Step::End;
    }
    const auto length = static_cast<std::uint32_t>(std::min<std::int64_t>(p.bytesLeft, have));
    c.data = cursor(p);
    c.length = length;
    p.pendingAdvance = length;
    p.bytesLeft -= length;
    if (chunk && s.pullParser == &p) {
      *chunk = c;
      p.chunkFilled = true;
    }
    return Step::Delivered;
  }

  std::uint32_t total = 0;
  while (p.bytesLeft > 0) {
    const std::uint32_t have = ensure(p, 1);
    if (have == 0) {
      if (p.error) return Step::Error;
      p.atEnd = true;
      break;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(p.bytesLeft, have));
    if (s.output->copybytes(s.output, const_cast<std::uint8_t*>(cursor(p)), n) != n) {
      p.error = true;
      ctx.services.error("Unable to copy %d bytes to stream bufstream", static_cast<int>(n));
      return Step::Error;
    }
    p.readIndex += n;
    p.position += n;
    p.bytesLeft -= n;
    total += n;
  }
  if (total == 0) return p.atEnd ? Step::End : Step::Delivered;
  c.length = total;
  if (s.output->auxinfo(s.output, 0, DEMUX_CHUNK_INFO_ID, &c, sizeof c) != 0) return Step::Error;
  return Step::Delivered;
}

Step sendNavCopy(Context& ctx, Parser& p, const Route& route, const std::uint8_t* bytes,
                 std::uint32_t count, std::uint64_t dataPosition, demux_chunk_info* chunk) {
  StreamRecord& s = ctx.programs[route.program].streams[route.stream];
  if (!s.output) return Step::Delivered;
  demux_chunk_info c{};
  c.pts = kNoTime;
  c.pack_position = p.packPosition;
  c.data_position = dataPosition;
  c.length = count;
  if (s.chunkSize == 0) {
    // The copy stays in the parser until its next navigation packet.
    c.data = bytes;
    if (chunk && s.pullParser == &p) {
      *chunk = c;
      p.chunkFilled = true;
    }
    return Step::Delivered;
  }
  if (s.output->copybytes(s.output, const_cast<std::uint8_t*>(bytes), count) != count) {
    p.error = true;
    ctx.services.error("Unable to copy %d bytes to stream bufstream", static_cast<int>(count));
    return Step::Error;
  }
  if (s.output->auxinfo(s.output, 0, DEMUX_CHUNK_INFO_ID, &c, sizeof c) != 0) return Step::Error;
  return Step::Delivered;
}

Step sendUntilStartCode(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  const std::uint32_t have = ensure(p, 32);
  if (have == 0) {
    p.unbounded = false;
    if (p.error) return Step::Error;
    p.atEnd = true;
    return Step::End;
  }
  // The packet ends at the next 00 00 01 of its own stream id; the last three bytes wait for
  // the next refill unless the data end there.
  const std::uint8_t* d = cursor(p);
  const bool last = bufferReachesFileEnd(p);
  std::uint32_t n = last ? have : (have > 3 ? have - 3 : 0);
  for (std::uint32_t i = 0; i + 3 < have; ++i) {
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(d + i, 0, have - 3 - i));
    if (!zero) break;
    i = static_cast<std::uint32_t>(zero - d);
    if (d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == p.curStreamId) {
      n = i;
      p.unbounded = false;
      break;
    }
  }
  if (n == 0) {
    if (p.unbounded && !last) {
      // Fewer than four bytes at hand and more to come: the marker may straddle them.
      (void)ensure(p, have + 1);
    }
    return Step::Delivered;
  }
  p.bytesLeft = n;
  return sendDownstream(ctx, p, p.curProgram, p.curStream, false, chunk);
}

}  // namespace quillion::daskin
