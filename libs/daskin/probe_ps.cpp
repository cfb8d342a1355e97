// SPDX-License-Identifier: GPL-2.0-or-later
// Probes of MPEG-1 system and MPEG-2 program streams, and of "AV" packet streams.
#include "detect_internal.h"
#include "readers.h"

namespace quillion::daskin::detail {

namespace {

// The program stream map (13818-1 2.5.4): the program's stream list is rebuilt from it.
// True when the map listed a stream.
bool readStreamMap(Context& ctx, BitReader& r, std::uint32_t length, bool& failed) {
  const std::uint64_t end = r.position() + length;
  ProgramRecord& program = ctx.programs[0];
  for (int i = 0; i < program.info.streams; ++i) {
    ctx.services.release(program.streams[i].info.descriptors);
    program.streams[i] = StreamRecord{};
  }
  program.info.streams = 0;
  r.skipBits(16);  // current_next, version, marker bits
  const std::uint32_t infoLength = r.get(16);
  if (r.position() + infoLength > end) return false;
  ctx.services.release(program.info.descriptors);
  program.info.descriptors = copyBytes(ctx, r, infoLength, failed);
  program.info.descriptor_length = program.info.descriptors ? infoLength : 0;
  if (failed) return false;
  std::uint32_t mapLength = r.get(16);
  while (mapLength >= 4 && !r.end() && r.position() + 4 <= end) {
    const std::uint32_t type = r.get(8);
    const auto id = static_cast<std::uint8_t>(r.get(8));
    const std::uint32_t esInfo = r.get(16);
    mapLength -= 4;
    if (esInfo > mapLength || r.position() + esInfo > end) break;
    std::uint8_t* descriptors = copyBytes(ctx, r, esInfo, failed);
    if (failed) return false;
    mapLength -= esInfo;
    stream_info_struct* s =
        addStream(ctx, 0, type, classifyStreamType(type, descriptors, esInfo), 0, id, 0);
    if (!s) {
      ctx.services.release(descriptors);
      break;
    }
    s->descriptors = descriptors;
    s->descriptor_length = descriptors ? esInfo : 0;
  }
  if (r.position() < end) r.skipBytes(end - r.position());  // the CRC
  return program.info.streams > 0;
}

// Steps over a private stream 1 header to its sub-stream id; answers the header bytes taken.
std::uint32_t skipPesHeader(BitReader& r, bool mpeg1) {
  if (!mpeg1) {
    r.skipBits(16);
    const std::uint32_t h = r.get(8);
    r.skipBytes(h);
    return 3 + h;
  }
  std::uint32_t n = 0;
  while (n < 16 && r.show(8) == 0xFF) {
    r.skipBits(8);
    ++n;
  }
  if ((r.show(8) & 0xC0) == 0x40) {
    r.skipBits(16);
    n += 2;
  }
  const std::uint32_t b = r.show(8);
  const std::uint32_t stamp = (b & 0xF0) == 0x20 ? 5 : (b & 0xF0) == 0x30 ? 10 : 1;
  r.skipBytes(stamp);
  return n + stamp;
}

// A program stream map that listed AC-3 under private stream 1 names no sub-stream: the
// first private packets of AC-3 sub-streams not yet taken supply them.
void bindMappedAc3(Context& ctx, BitReader& r, bool mpeg1) {
  ProgramRecord& program = ctx.programs[0];
  auto unbound = [&]() -> stream_info_struct* {
    for (int i = 0; i < program.info.streams; ++i) {
      stream_info_struct& s = program.streams[i].info;
      if (s.stream_id == 0xBD && s.kind == DEMUX_KIND_AC3 && s.sub_stream_id == 0) return &s;
    }
    return nullptr;
  };
  if (!unbound() || !r.restart()) return;
  Parser& p = r.parser();
  while (stream_info_struct* s = unbound()) {
    std::uint32_t code = 0;
    if (findStartCode(p, code) != Step::Delivered) return;
    if (code != 0x1BD) continue;
    const std::uint32_t length = r.get(16);
    const std::uint32_t header = skipPesHeader(r, mpeg1);
    const auto sub = static_cast<std::uint8_t>(r.get(8));
    if (sub >= 0x80 && sub <= 0x87 && !seenStream(ctx, 0xBD, sub)) {
      s->sub_stream_id = sub;
      ctx.privateSubStreams = true;
    }
    if (length > header + 1) r.skipBytes(length - header - 1);
  }
}

}  // namespace

int probeProgramStream(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  Parser& p = r.parser();
  int type = 0;
  bool mapped = false;
  while (!mapped && r.position() < budget) {
    std::uint32_t code = 0;
    const Step step = findStartCode(p, code);
    if (step == Step::Error) return kProbeReadError;
    if (step == Step::End) break;
    const auto id = static_cast<std::uint8_t>(code);
    if (id == 0xBA) {
      const std::uint32_t v = r.get(32);
      const bool mpeg1 = (v & 0xF1000100) == 0x21000100;
      const bool mpeg2 = (v & 0xC4000400) == 0x44000400;
      if (!mpeg1 && !mpeg2) continue;
      if (type == 0) type = (v >> 28) == 2 ? kMpeg1System : kProgramStream;
      r.skipBits(32);
      if (!mpeg1) {
        r.skipBits(8);
        r.skipBytes(r.get(8) & 7);
      }
      continue;
    }
    if (type == 0 || code < 0x1BB) continue;
    const std::uint32_t length = r.get(16);
    const std::uint64_t next = r.position() + length;
    if (id == 0xBC && type == kProgramStream) {
      bool failed = false;
      mapped = readStreamMap(ctx, r, length, failed);
      if (failed) return 1;
    } else if (id >= 0xC0 && id <= 0xEF) {
      if (!seenStream(ctx, id, 0))
        (void)addStream(ctx, 0, 0, id >= 0xE0 ? DEMUX_KIND_VIDEO : DEMUX_KIND_MPEG_AUDIO, 0, id, 0);
    } else if (id == 0xBF && type == kProgramStream && ctx.vobMode) {
      // A video object file's navigation packets are listed as the two copies they give.
      addNavigationStreams(ctx);
    } else if (id == 0xBD && length > 0) {
      (void)skipPesHeader(r, type == kMpeg1System);
      const auto sub = static_cast<std::uint8_t>(r.get(8));
      const std::uint32_t kind = classifySubStream(sub);
      if (kind != DEMUX_KIND_NONE && !seenStream(ctx, 0xBD, sub))
        (void)addStream(ctx, 0, 0, kind, 0, 0xBD, sub);
    }
    if (r.failed()) return kProbeReadError;
    if (r.position() < next) r.skipBytes(next - r.position());
    if (stopScan(ctx, false)) break;
  }
  if (r.failed()) return kProbeReadError;
  bindMappedAc3(ctx, r, type == kMpeg1System);
  if (r.failed()) return kProbeReadError;
  if (ctx.programs[0].info.streams == 0) {
    ctx.services.error("No elementary streams found");
    return 1;
  }
  ctx.fileInfo.programs = 1;
  ctx.fileInfo.system_stream_type = type;
  return 0;
}

int probeAvStream(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  bool audio = false;
  bool video = false;
  while (!(audio && video) && r.position() < budget && !r.end()) {
    if (r.show(16) != 0x4156) {
      r.skipBits(8);
      continue;
    }
    r.skipBits(16);
    const std::uint32_t type = r.get(8);
    r.skipBits(24);
    const std::uint32_t length = r.get(16);
    std::uint32_t used = 0;
    if (type == 2 && !audio) {
      const std::uint32_t first = r.get(32);
      used = 4;
      audio = addStream(ctx, 0, 0, DEMUX_KIND_MPEG_AUDIO, 2, static_cast<std::uint8_t>(first), 0) !=
              nullptr;
    } else if (type == 1 && !video) {
      video = addStream(ctx, 0, 2, DEMUX_KIND_VIDEO, 1, 0xE0, 0) != nullptr;
    }
    if (length > used) r.skipBytes(length - used);
  }
  if (r.failed()) return kProbeReadError;
  if (ctx.programs[0].info.streams == 0) {
    ctx.services.error("No elementary streams found");
    return 1;
  }
  ctx.fileInfo.programs = 1;
  ctx.fileInfo.system_stream_type = kAvStream;
  return 0;
}

}  // namespace quillion::daskin::detail
