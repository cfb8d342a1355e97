// SPDX-License-Identifier: GPL-2.0-or-later
// The program and stream tables detection fills: classification and the records.
#include <cstring>

#include "detect.h"
#include "detect_internal.h"

namespace quillion::daskin {

std::uint32_t classifyStreamType(std::uint32_t streamType, const std::uint8_t* d,
                                 std::uint32_t length) {
  switch (streamType) {
    case 0x01:
    case 0x02:
    case 0x1B:
      return DEMUX_KIND_VIDEO;
    case 0x03:
    case 0x04:
    case 0x0F:
    case 0x11:
      return DEMUX_KIND_MPEG_AUDIO;
    case 0x81:
      return DEMUX_KIND_AC3;
    case 0x06:
      break;
    default:
      return DEMUX_KIND_NONE;
  }
  // Registration descriptor (tag 5) with "AC-3" or "BSSD", or the AC-3 descriptor (0x6A).
  std::uint32_t i = 0;
  while (d && i + 2 <= length) {
    const std::uint8_t tag = d[i];
    const std::uint32_t size = d[i + 1];
    if (i + 2 + size > length) break;
    if (tag == 0x6A) return DEMUX_KIND_AC3;
    if (tag == 0x05 && size >= 4) {
      if (std::memcmp(d + i + 2, "AC-3", 4) == 0) return DEMUX_KIND_AC3;
      if (std::memcmp(d + i + 2, "BSSD", 4) == 0) return DEMUX_KIND_AES3;
    }
    i += 2 + size;
  }
  return DEMUX_KIND_NONE;
}

std::uint32_t classifySubStream(std::uint8_t sub) {
  if (sub >= 0x80 && sub <= 0x87) return DEMUX_KIND_AC3;
  if (sub >= 0x88 && sub <= 0x8F) return DEMUX_KIND_SUB_88;
  if (sub >= 0x90 && sub <= 0x97) return DEMUX_KIND_SUB_90;
  if (sub >= 0xA0 && sub <= 0xA7) return DEMUX_KIND_LPCM;
  if (sub >= 0x20 && sub <= 0x3F) return DEMUX_KIND_SUBPICTURE;
  return DEMUX_KIND_NONE;
}

void clearPrograms(Context& ctx) {
  for (auto& program : ctx.programs) {
    for (auto& s : program.streams) {
      ctx.services.release(s.info.descriptors);
      s = StreamRecord{};
    }
    ctx.services.release(program.info.descriptors);
    program.info = program_info_struct{};
  }
}

namespace detail {

stream_info_struct* addStream(Context& ctx, int program, std::uint32_t streamType,
                              std::uint32_t kind, std::uint32_t pid, std::uint8_t id,
                              std::uint8_t sub) {
  program_info_struct& info = ctx.programs[program].info;
  if (info.streams >= kMaxStreams) return nullptr;
  stream_info_struct& s = ctx.programs[program].streams[info.streams++].info;
  s = stream_info_struct{};
  s.stream_type = streamType;
  s.kind = kind;
  s.pid = pid;
  s.stream_id = id;
  s.sub_stream_id = sub;
  if (sub != 0 && id == 0xBD) ctx.privateSubStreams = true;
  return &s;
}

void addNavigationStreams(Context& ctx) {
  for (std::uint8_t sub = 0; sub < 2; ++sub)
    if (!seenStream(ctx, 0xBF, sub)) (void)addStream(ctx, 0, 0, DEMUX_KIND_NONE, 0, 0xBF, sub);
}

bool seenStream(const Context& ctx, std::uint8_t id, std::uint8_t sub) {
  const ProgramRecord& program = ctx.programs[0];
  for (int i = 0; i < program.info.streams; ++i)
    if (program.streams[i].info.stream_id == id && program.streams[i].info.sub_stream_id == sub)
      return true;
  return false;
}

bool hasKind(const Context& ctx, std::uint32_t kind) {
  for (int i = 0; i < ctx.programs[0].info.streams; ++i)
    if (ctx.programs[0].streams[i].info.kind == kind) return true;
  return false;
}

bool hasAudio(const Context& ctx) {
  return hasKind(ctx, DEMUX_KIND_MPEG_AUDIO) || hasKind(ctx, DEMUX_KIND_AC3) ||
         hasKind(ctx, DEMUX_KIND_LPCM) || hasKind(ctx, DEMUX_KIND_SUB_88) ||
         hasKind(ctx, DEMUX_KIND_SUB_90);
}

bool stopScan(const Context& ctx, bool transport) {
  const int mode = ctx.settings.probe_stop_mode;
  const bool video = hasKind(ctx, DEMUX_KIND_VIDEO);
  const bool audio = hasAudio(ctx);
  switch (mode) {
    case 1:
      return video;
    case 2:
      return audio;
    case 3:
      return video && audio;
    case 4:
      return !transport && hasKind(ctx, DEMUX_KIND_SUBPICTURE);
    case 7:
      return !transport && video && audio && hasKind(ctx, DEMUX_KIND_SUBPICTURE);
    default:
      return false;
  }
}

std::uint64_t probeBudget(const Context& ctx) {
  const int mib = ctx.settings.probe_budget_mib;
  if (mib >= 1) return static_cast<std::uint64_t>(mib) * 1048576u;
  return ctx.settings.probe_stop_mode < 5 ? 2097152u : 104857600u;
}

namespace {

std::uint8_t* newDescriptorBuffer(Context& ctx, std::uint32_t n, bool& failed) {
  failed = false;
  if (n == 0) return nullptr;
  auto* out = static_cast<std::uint8_t*>(ctx.services.allocate(n));
  if (!out) {
    ctx.services.error("Unable to allocate %d bytes for a descriptor buffer", static_cast<int>(n));
    failed = true;
  }
  return out;
}

}  // namespace

std::uint8_t* copyBytes(Context& ctx, BitReader& r, std::uint32_t n, bool& failed) {
  std::uint8_t* out = newDescriptorBuffer(ctx, n, failed);
  if (out)
    for (std::uint32_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(r.get(8));
  return out;
}

std::uint8_t* copyDescriptors(Context& ctx, const std::uint8_t* bytes, std::uint32_t n,
                              bool& failed) {
  std::uint8_t* out = newDescriptorBuffer(ctx, n, failed);
  if (out) std::memcpy(out, bytes, n);
  return out;
}

}  // namespace detail

}  // namespace quillion::daskin
