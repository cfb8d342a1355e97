// SPDX-License-Identifier: GPL-2.0-or-later
// Readers of elementary streams, MPEG-1 system streams and MPEG-2 program streams.
#include <algorithm>
#include <cstring>

#include "io.h"
#include "readers.h"

namespace quillion::daskin {

namespace {

// Packets of a program stream that carry no PES header (ISO/IEC 13818-1, 2.4.3.7).
bool withoutPesHeader(std::uint8_t id, bool mpeg1) {
  if (mpeg1) return id == 0xBF;
  switch (id) {
    case 0xBC:
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

// The longest PES header either form can have behind its length field.
constexpr std::uint32_t kPesLookAhead = 2 + 3 + 255;

// A DVD navigation packet (private stream 2): the presentation control packet (sub-stream
// 0, 980 bytes) and the data search packet (sub-stream 1, 1,018 bytes) are copied, handed
// to the parser's callbacks and, when bound, to the copy's stream. A data search packet that
// opens an interleaved unit tells where the unit ends. The packet is passed over.
Step readNavigation(Context& ctx, Parser& p, std::uint32_t length, demux_chunk_info* chunk,
                    bool& sent) {
  sent = false;
  struct Kind {
    std::uint8_t sub;
    std::uint32_t length;
    std::uint8_t* copy;
    std::uint32_t size;
    demux_nav_fn callback;
  };
  const Kind kinds[] = {{0, 980, p.pci, sizeof p.pci, p.settings.pci_callback},
                        {1, 1018, p.dsi, sizeof p.dsi, p.settings.dsi_callback}};
  const Kind* taken = nullptr;
  const std::uint64_t copyPosition = p.position + 3;
  if (ensure(p, 3) >= 3) {
    for (const Kind& k : kinds) {
      if (cursor(p)[2] != k.sub || length != k.length) continue;
      if (ensure(p, 3 + k.size) < 3 + k.size) break;
      std::memcpy(k.copy, cursor(p) + 3, k.size);
      taken = &k;
    }
  }
  (void)skipBytes(p, 2u + length);
  if (!taken) return Step::Delivered;
  if (taken->sub == 1) {
    // The category byte of the seamless playback information (DSI byte 32): interleaved
    // unit (0x40) and its first VOBU (0x20); the unit's end address counts from this pack.
    p.dsiCategory = p.dsi[32];
    if ((p.dsiCategory & 0x60) == 0x60)
      p.unitEnd = (std::uint64_t{be32(p.dsi + 34)} + be32(p.dsi + 4)) * 2048 + 2047;
  }
  if (taken->callback)
    taken->callback(p.settings.callback_context, taken->copy,
                    static_cast<std::int32_t>(taken->size));
  const Route route = p.byNav[taken->sub];
  if (!route.bound) return Step::Delivered;
  sent = true;
  return sendNavCopy(ctx, p, route, taken->copy, taken->size, copyPosition, chunk);
}

// A time stamp on the set's time line: inside a DVD cell, shifted by the cell's offset.
std::int64_t onTimeLine(const Context& ctx, const Parser& p, std::int64_t pts) {
  if (pts == kNoTime || !ctx.ifoMode || ctx.cellCount == 0) return pts;
  return pts + ctx.cells[p.cell].ptsOffset;
}

Step deliverPacket(Context& ctx, Parser& p, const Route& route, std::int64_t payload,
                   demux_chunk_info* chunk) {
  p.curProgram = route.program;
  p.curStream = route.stream;
  p.bytesLeft = payload;
  p.payloadLength = payload;
  return sendDownstream(ctx, p, route.program, route.stream, true, chunk);
}

Step readSystemStream(Context& ctx, Parser& p, demux_chunk_info* chunk, bool mpeg1) {
  if (p.error) return Step::Error;
  if (p.bytesLeft > 0) return sendDownstream(ctx, p, p.curProgram, p.curStream, false, chunk);
  if (p.atEnd) return Step::End;
  if (p.unbounded) return sendUntilStartCode(ctx, p, chunk);
  for (;;) {
    if (!mpeg1) {
      if (const Step r = checkBoundaries(ctx, p); r != Step::Delivered) return r;
    }
    std::uint32_t code = 0;
    if (const Step r = findStartCode(p, code); r != Step::Delivered) {
      // A set of files goes on in the next one.
      if (r == Step::End && ctx.ifoMode && p.fileIndex + 1 < ctx.fileCount) {
        if (!positionParser(ctx, p, ctx.files[p.fileIndex + 1].first)) return Step::Error;
        continue;
      }
      return r;
    }
    const std::uint64_t start = p.position - 4;
    const auto id = static_cast<std::uint8_t>(code);
    if (code < 0x1BA) continue;
    if (id == 0xBA) {
      // Pack header: the marker bits tell MPEG-1 (11172-1, 2.4.3.2) from MPEG-2 (13818-1,
      // 2.5.3.3); a pack of the other form is not this stream's.
      const std::uint32_t have = ensure(p, 10);
      if (have < 8) continue;
      const std::uint32_t v = be32(cursor(p));
      if (mpeg1) {
        if ((v & 0xF1000100) != 0x21000100) continue;
        p.packPosition = start;
        (void)skipBytes(p, 8);
      } else {
        if ((v & 0xC4000400) != 0x44000400 || have < 10) continue;
        p.packPosition = start;
        (void)skipBytes(p, 10u + (cursor(p)[9] & 7u));
      }
      continue;
    }
    if (ensure(p, 2) < 2) continue;  // the search meets the end next
    const std::uint32_t length = be16(cursor(p));
    if (ctx.pesOnly) p.packPosition = start;
    if (id == 0xBB || id == 0xBE) {
      (void)skipBytes(p, 2u + length);
      continue;
    }
    if (id == 0xBF && !mpeg1 && (ctx.vobMode || ctx.ifoMode)) {
      bool sent = false;
      const Step r = readNavigation(ctx, p, length, chunk, sent);
      if (r != Step::Delivered || sent) return r;
      continue;
    }
    const Route route = p.byId[id];
    const bool privateOne = id == 0xBD && ctx.privateSubStreams;
    if (withoutPesHeader(id, mpeg1)) {
      if (!route.bound || length == 0) {
        (void)skipBytes(p, 2u + length);
        continue;
      }
      (void)skipBytes(p, 2);
      return deliverPacket(ctx, p, route, length, chunk);
    }
    if (!route.bound && !privateOne) {
      (void)skipBytes(p, 2u + length);
      continue;
    }
    if (length == 0) {
      // Only a stream of bare video PES packets may leave their length open.
      if (!ctx.unboundedVideo || !route.bound || id < 0xE0 || id > 0xEF) continue;
      const std::uint32_t have = ensure(p, kPesLookAhead);
      PesHeader h;
      const PesParse parsed =
          mpeg1 ? parseMpeg1Pes(cursor(p), have, h) : parseMpeg2Pes(cursor(p), have, h);
      if (parsed != PesParse::Ok) continue;
      p.pts = onTimeLine(ctx, p, h.pts);
      (void)skipBytes(p, h.headerBytes);
      p.curStreamId = id;
      p.curProgram = route.program;
      p.curStream = route.stream;
      p.unbounded = true;
      return sendUntilStartCode(ctx, p, chunk);
    }
    if (p.position + 2 + length > ctx.totalSize) {
      // A packet cut off by the end of the data: nothing after it can follow.
      p.atEnd = true;
      return Step::End;
    }
    const std::uint32_t have = std::min(ensure(p, std::min(kPesLookAhead, 2 + length)), 2 + length);
    PesHeader h;
    const PesParse parsed =
        mpeg1 ? parseMpeg1Pes(cursor(p), have, h) : parseMpeg2Pes(cursor(p), have, h);
    if (parsed != PesParse::Ok) {
      if (parsed == PesParse::Short && p.error) return Step::Error;
      continue;  // not a PES header after all: search on from here
    }
    p.pts = onTimeLine(ctx, p, h.pts);
    (void)skipBytes(p, h.headerBytes);
    std::int64_t payload = std::int64_t{length} + 2 - h.headerBytes;
    if (privateOne) {
      if (payload < 1) continue;
      const int sub = readByte(p);
      if (sub < 0) return p.error ? Step::Error : Step::End;
      --payload;
      const Route subRoute = p.bySub[sub];
      if (!subRoute.bound) {
        (void)skipBytes(p, static_cast<std::uint64_t>(payload));
        continue;
      }
      if (payload == 0) continue;
      return deliverPacket(ctx, p, subRoute, payload, chunk);
    }
    if (payload == 0) continue;
    return deliverPacket(ctx, p, route, payload, chunk);
  }
}

// Puts the read position at `position` inside cell `cell`.
Step jumpInSet(Context& ctx, Parser& p, std::uint64_t position, int cell) {
  if (position >= ctx.totalSize || !positionParser(ctx, p, position)) {
    p.error = false;
    p.atEnd = true;
    return Step::End;
  }
  p.cell = cell;
  return Step::Delivered;
}

}  // namespace

Step checkBoundaries(Context& ctx, Parser& p) {
  if (!ctx.ifoMode || ctx.cellCount == 0) return Step::Delivered;
  // A set of files: past the end of the current one, the next one is read.
  if (p.position > ctx.files[p.fileIndex].last() && p.fileIndex + 1 < ctx.fileCount) {
    if (!positionParser(ctx, p, ctx.files[p.fileIndex + 1].first)) return Step::Error;
  }
  const DvdCell& cell = ctx.cells[p.cell];
  // Bytes before the cell belong to other titles or angles.
  if (p.position < cell.first) return jumpInSet(ctx, p, cell.first, p.cell);
  if (p.position > cell.last) {
    if (p.cell + 1 >= ctx.cellCount) {
      p.atEnd = true;
      return Step::End;
    }
    const int next = p.cell + 1;
    if (ctx.cells[next].first != p.position) return jumpInSet(ctx, p, ctx.cells[next].first, next);
    p.cell = next;
    return Step::Delivered;
  }
  // The last VOBU of an interleaved unit (category bits 0x40 and 0x10) read: the angle goes on
  // at the next unit's start, which its data search packet gives relative to its own pack.
  if ((p.dsiCategory & 0x50) == 0x50 && p.position > p.unitEnd) {
    const std::uint32_t next = be32(p.dsi + 38);
    if (next >= 1) {
      const std::uint64_t sector = std::uint64_t{next} + be32(p.dsi + 4);
      const int at = p.cell;
      if (const Step r = jumpInSet(ctx, p, sector * 2048, at); r != Step::Delivered) return r;
      p.unitEnd = sector * 2048 + 2048;
    }
  }
  return Step::Delivered;
}

Step readElementary(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  if (p.error) return Step::Error;
  if (p.bytesLeft <= 0) {
    if (p.atEnd) return Step::End;
    p.packPosition = p.position;
    const std::uint32_t have = ensure(p, 32);
    if (have == 0) {
      if (p.error) return Step::Error;
      p.atEnd = true;
      return Step::End;
    }
    p.bytesLeft = have;
    p.pts = kNoTime;
  }
  return sendDownstream(ctx, p, 0, 0, false, chunk);
}

Step readMpeg1System(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  return readSystemStream(ctx, p, chunk, true);
}

Step readProgramStream(Context& ctx, Parser& p, demux_chunk_info* chunk) {
  return readSystemStream(ctx, p, chunk, false);
}

}  // namespace quillion::daskin
