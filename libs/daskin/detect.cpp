// SPDX-License-Identifier: GPL-2.0-or-later
// Detection: the first test that fits the start of the data decides what it holds.
#include "detect.h"

#include <new>

#include "detect_internal.h"
#include "es_probes.h"
#include "io.h"

namespace quillion::daskin {

namespace {

using detail::kProbeReadError;

constexpr std::uint64_t kShortScan = 32768;

enum class Verdict { Found, Refused, Failed, Next };

// A stream of bare PES packets, told by its first packet (start code at the reader).
Verdict barePes(BitReader& r, std::uint32_t code) {
  Context& ctx = r.context();
  const bool video = code >= 0x1E0;
  r.skipBits(32);
  const std::uint32_t length = r.get(16);
  if (length == 0) {
    if (!video) return Verdict::Refused;
    ctx.unboundedVideo = true;
  }
  const std::uint32_t flags = r.get(8);
  if (r.failed()) return Verdict::Failed;
  clearPrograms(ctx);
  ctx.fileInfo.programs = 1;
  ctx.fileInfo.system_stream_type = (flags & 0x80) ? kProgramStream : kMpeg1System;
  (void)detail::addStream(ctx, 0, 0, video ? DEMUX_KIND_VIDEO : DEMUX_KIND_MPEG_AUDIO, 0,
                          static_cast<std::uint8_t>(code), 0);
  ctx.pesOnly = true;
  return Verdict::Found;
}

bool isAudioPes(std::uint32_t w) {
  return w >= 0x1C0 && w <= 0x1DF;
}
bool isVideoPes(std::uint32_t w) {
  return w >= 0x1E0 && w <= 0x1EF;
}

// AC-3 (A/52 5.3): two frames in a row, in either byte order, optionally each behind 16 bytes.
Verdict probeAc3(BitReader& r) {
  const std::uint32_t sync = r.show(16);
  std::uint64_t start = 0;
  if (sync != 0x0B77 && sync != 0x770B) {
    r.skipBytes(16);
    start = 16;
    const std::uint32_t later = r.show(16);
    if (later != 0x0B77 && later != 0x770B) return Verdict::Next;
  }
  const std::uint32_t word = r.get(16);
  const bool swapped = word == 0x770B;
  r.skipBits(16);  // crc1
  if (swapped) r.skipBits(8);
  const unsigned fscod = r.get(2);
  const unsigned frmsizecod = r.get(6);
  const int frame = ac3FrameLength(fscod, frmsizecod);
  if (frame < 0 || r.end()) return Verdict::Next;
  const std::uint64_t next = start + static_cast<std::uint64_t>(frame) + start;
  if (!r.seek(next)) return Verdict::Failed;
  if (r.get(16) != word) return Verdict::Next;
  r.skipBits(swapped ? 24 : 16);
  if (r.get(2) != fscod || r.end()) return Verdict::Next;
  recordElementary(r.context(), 0x81, DEMUX_KIND_AC3, 0xBD, 0x80);
  return Verdict::Found;
}

Verdict fromProbe(int result) {
  if (result == kFound) return Verdict::Found;
  if (result == kProbeReadError) return Verdict::Failed;
  return Verdict::Next;
}

// The last resort: an elementary stream found anywhere near the start.
Verdict scanElementary(BitReader& r, std::uint64_t budget) {
  struct Pass {
    std::uint64_t limit;
    int kind;
  };
  const Pass passes[] = {{kShortScan, 0}, {kShortScan, 1}, {budget, 2}, {budget, 3}};
  for (const Pass& pass : passes) {
    for (std::uint64_t at = 0; at < pass.limit; ++at) {
      if (!r.seek(at)) return Verdict::Failed;
      if (!r.more()) break;
      const std::uint32_t w = r.show(32);
      int result = kNotThis;
      switch (pass.kind) {
        case 0:
          result = (w >> 20) == 0xFFF ? probeMpegAudio(r, w) : kNotThis;
          break;
        case 1:
          result = (w >> 20) == 0xFFF ? probeAdts(r, w) : kNotThis;
          break;
        case 2:
          result = w == 0x1B3 ? probeMpegVideo(r, w, budget) : kNotThis;
          break;
        default:
          result = w == 1 ? probeH264(r, w) : kNotThis;
          break;
      }
      if (result == kFound) return Verdict::Found;
      if (r.failed()) return Verdict::Failed;
    }
  }
  // Nothing recognisable: one program without streams.
  clearPrograms(r.context());
  r.context().fileInfo.programs = 1;
  r.context().fileInfo.system_stream_type = kElementary;
  return Verdict::Found;
}

// Finds `match` at any position from the start within the limit; true with the reader there.
template <typename Match>
bool scanFor(BitReader& r, std::uint64_t limit, std::uint64_t from, Match match) {
  for (std::uint64_t at = from; at < limit; ++at) {
    if (!r.seek(at) || !r.more()) return false;
    if (match(r.show(32))) return true;
  }
  return false;
}

Verdict detectSteps(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  // Not MPEG at all: WAVE files and ID3v2-tagged MPEG audio.
  if (r.show(32) == 0x52494646) {
    r.skipBits(64);
    if (r.show(32) == 0x57415645) return Verdict::Refused;
  }
  if (!r.restart()) return Verdict::Failed;
  if ((r.show(32) >> 8) == 0x494433) {
    r.skipBits(24);
    const std::uint32_t major = r.get(8);
    const std::uint32_t minor = r.get(8);
    r.skipBits(8);
    const std::uint32_t size = r.get(32);
    if (major < 0xFF && minor < 0xFF && (size & 0x80808080) == 0 && !r.end())
      return Verdict::Refused;
  }
  if (!r.restart()) return Verdict::Failed;
  std::uint32_t w = r.show(32);
  if ((w >> 20) == 0xFFF) {
    if (probeMpegAudio(r, w) == kFound) return Verdict::Found;
    if (!r.restart()) return Verdict::Failed;
    if (probeAdts(r, w) == kFound) return Verdict::Found;
    if (!r.restart()) return Verdict::Failed;
  }
  if (const Verdict v = probeAc3(r); v != Verdict::Next) return v;
  if (!r.restart()) return Verdict::Failed;
  w = r.show(32);
  if (w == 0x1B3) {
    if (probeMpegVideo(r, w, budget) == kFound) return Verdict::Found;
    if (!r.restart()) return Verdict::Failed;
  }
  if (w == 0) {
    // Zero padding in front of a sequence header: the header's start code begins with the
    // last two zeros of the run.
    while (r.position() < budget && r.more() && r.show(8) == 0) r.skipBits(8);
    const std::uint64_t firstNonZero = r.position();
    if (r.show(16) == 0x01B3 && r.seek(firstNonZero - 2) &&
        probeMpegVideo(r, r.show(32), budget) == kFound)
      return Verdict::Found;
    if (!r.restart()) return Verdict::Failed;
  }
  if (w == 1) {
    if (probeH264(r, w) == kFound) return Verdict::Found;
    if (!r.restart()) return Verdict::Failed;
  }
  if (w == 0x1BA) {
    const int result = detail::probeProgramStream(r, budget);
    if (result != 1) return fromProbe(result);
    clearPrograms(ctx);
    if (!r.restart()) return Verdict::Failed;
  }
  if (isAudioPes(w) || isVideoPes(w)) return barePes(r, w);

  // (a), (b): a transport stream from the first byte, or behind a 4-byte prefix.
  for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{4}}) {
    if (!r.seek(at)) return Verdict::Failed;
    if (r.show(8) != 0x47) continue;
    const int sync = detail::checkTsSync(r, at, budget);
    if (sync == 0) return Verdict::Found;
    if (sync == 2) return Verdict::Failed;  // a transport stream once recognised stays one
  }
  // (c): "AV" records.
  if (!r.restart()) return Verdict::Failed;
  if (r.show(16) == 0x4156) {
    r.skipBits(16);
    const std::uint32_t type = r.get(8);
    if (type == 1 || type == 2) {
      r.skipBits(24);
      r.skipBytes(r.get(16));
      if (r.show(16) == 0x4156 && !r.end()) {
        if (!r.restart()) return Verdict::Failed;
        return fromProbe(detail::probeAvStream(r, budget));
      }
    }
  }
  // (d): a pack header further in.
  for (std::uint64_t from = 0;;) {
    if (!scanFor(r, budget, from, [](std::uint32_t v) { return v == 0x1BA; })) break;
    const std::uint64_t at = r.position();
    const int result = detail::probeProgramStream(r, budget);
    if (result != 1) return fromProbe(result);
    clearPrograms(ctx);
    from = at + 1;
  }
  if (r.failed()) return Verdict::Failed;
  // (e): a transport stream further in.
  for (std::uint64_t at = 0; at < kShortScan; ++at) {
    if (!r.seek(at) || !r.more()) break;
    if (r.show(8) != 0x47) continue;
    const int sync = detail::checkTsSync(r, at, budget);
    if (sync == 0) return Verdict::Found;
    if (sync == 2) return Verdict::Failed;
  }
  // (f), (g): bare PES packets further in.
  if (scanFor(r, budget, 0, isAudioPes)) return barePes(r, r.show(32));
  if (scanFor(r, budget, 0, isVideoPes)) return barePes(r, r.show(32));
  if (r.failed()) return Verdict::Failed;
  return scanElementary(r, budget);
}

}  // namespace

bool detectFileType(Context& ctx) {
  void* memory = ctx.services.allocate(sizeof(Parser));
  if (!memory) {
    ctx.services.error("Unable to allocate %d bytes for parser", static_cast<int>(sizeof(Parser)));
    return false;
  }
  auto* p = new (memory) Parser{};
  const demux_parser_settings settings{};
  Verdict verdict = Verdict::Failed;
  if (initParser(ctx, *p, settings, true)) {
    BitReader r(ctx, *p);
    if (r.restart()) verdict = detectSteps(r, detail::probeBudget(ctx));
    releaseParser(ctx, *p);
  }
  p->~Parser();
  ctx.services.release(memory);
  if (verdict == Verdict::Found) return true;
  if (verdict != Verdict::Next) ctx.services.error("Unknown file type");
  clearPrograms(ctx);
  return false;
}

}  // namespace quillion::daskin
