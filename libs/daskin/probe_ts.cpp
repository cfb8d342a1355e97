// SPDX-License-Identifier: GPL-2.0-or-later
// Probe of transport streams: packet size, the program association table, the program map
// tables, and a scan of PES starts when no table lists anything.
#include <limits>

#include "detect_internal.h"

namespace quillion::daskin::detail {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kPacket = 188;

struct TsPayload {
  std::int32_t bytes = -1;  // payload bytes left in the packet, -1 at the budget or end
  bool unitStart = false;
  std::uint32_t pid = 0;
  std::uint64_t packetEnd = 0;
};

// The next packet of `pid` (any PID for kAnyPid) with a payload; the reader stands at its
// first payload byte (past the pointer field of a unit start when `pointer` is set).
constexpr std::uint32_t kAnyPid = 0x10000;
TsPayload nextTsPayload(BitReader& r, std::uint64_t budget, std::uint32_t pid, bool pointer) {
  TsPayload out;
  while (!r.end() && r.position() < budget) {
    if (r.show(8) != 0x47) {
      r.skipBits(8);
      continue;
    }
    const std::uint64_t start = r.position();
    const std::uint32_t header = r.get(32);
    out.packetEnd = start + kPacket;
    const std::uint32_t packetPid = (header >> 8) & 0x1FFF;
    const std::uint32_t control = (header >> 4) & 3;
    auto toNext = [&] {
      if (r.position() < out.packetEnd) r.skipBytes(out.packetEnd - r.position());
      r.skipBytes(static_cast<std::uint64_t>(r.context().tsPrefix));
    };
    if ((pid != kAnyPid && packetPid != pid) || !(control & 1)) {
      toNext();
      continue;
    }
    std::int32_t left = 184;
    if (control & 2) {
      const std::uint32_t length = r.get(8);
      if (length > 183) {
        toNext();
        continue;
      }
      r.skipBytes(length);
      left -= static_cast<std::int32_t>(length) + 1;
    }
    if (left <= 0) {
      toNext();
      continue;
    }
    out.unitStart = (header & 0x400000) != 0;
    out.pid = packetPid;
    if (out.unitStart && pointer) {
      const std::int32_t skip = static_cast<std::int32_t>(r.get(8));
      if (skip + 1 > left) {
        toNext();
        continue;
      }
      r.skipBytes(static_cast<std::uint32_t>(skip));
      left -= skip + 1;
    }
    out.bytes = left;
    return out;
  }
  out.bytes = -1;
  return out;
}

void skipRestOf(BitReader& r, const TsPayload& at) {
  if (r.position() < at.packetEnd) r.skipBytes(at.packetEnd - r.position());
  r.skipBytes(static_cast<std::uint64_t>(r.context().tsPrefix));
}

// The program association table (13818-1 2.4.4.3): its programs become the program list.
void readAssociation(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  int expected = -1;
  int last = 0;
  while (expected <= last) {
    const TsPayload at = nextTsPayload(r, budget, 0, true);
    if (at.bytes < 0) return;
    if (!at.unitStart) {
      skipRestOf(r, at);
      continue;
    }
    r.skipBits(8);  // table_id
    const std::uint32_t sectionLength = r.get(16) & 0xFFF;
    r.skipBits(24);  // transport_stream_id, version
    const int number = static_cast<int>(r.get(8));
    const int lastNumber = static_cast<int>(r.get(8));
    if (expected < 0) {
      if (number != 0) {
        skipRestOf(r, at);
        continue;
      }
      expected = 0;
      last = lastNumber;
    }
    if (number == expected) {
      std::uint32_t entries = sectionLength >= 9 ? (sectionLength - 9) / 4 : 0;
      const auto room = static_cast<std::uint32_t>(at.bytes > 8 ? (at.bytes - 8) / 4 : 0);
      if (entries > room) entries = room;
      for (std::uint32_t i = 0; i < entries && ctx.fileInfo.programs < kMaxPrograms; ++i) {
        program_info_struct& info = ctx.programs[ctx.fileInfo.programs].info;
        info.program_number = r.get(16);
        info.pmt_pid = r.get(16) & 0x1FFF;
        ++ctx.fileInfo.programs;
      }
      ++expected;
    }
    skipRestOf(r, at);
  }
}

// One program's map (13818-1 2.4.4.8), read from the start of the data.
bool readProgramMap(BitReader& r, int index, bool& failed) {
  Context& ctx = r.context();
  ProgramRecord& program = ctx.programs[index];
  // From the first packet's sync byte, behind the prefix of 192-byte packets.
  if (!r.seek(static_cast<std::uint64_t>(ctx.tsPrefix))) return false;
  for (;;) {
    const TsPayload at = nextTsPayload(r, kUnlimited, program.info.pmt_pid, true);
    if (at.bytes < 0) return false;
    if (!at.unitStart || at.bytes < 12) {
      skipRestOf(r, at);
      continue;
    }
    const std::uint32_t tableId = r.get(8);
    const std::uint32_t flags = r.get(16);
    const std::uint32_t sectionLength = flags & 0xFFF;
    r.skipBits(24);  // program_number, version
    const std::uint32_t number = r.get(8);
    r.skipBits(8);  // last_section_number
    if (tableId != 2 || number != 0 || sectionLength < 13) {
      skipRestOf(r, at);
      continue;
    }
    program.info.section_syntax_indicator = static_cast<std::uint8_t>(flags >> 15);
    program.info.pcr_pid = r.get(16) & 0x1FFF;
    const std::uint32_t infoLength = r.get(16) & 0xFFF;
    // What the packet holds of the section; a map that continues in a later packet is read
    // as far as this one goes.
    std::int64_t room = at.bytes - 12;
    if (infoLength > room) return false;
    program.info.descriptors = copyBytes(ctx, r, infoLength, failed);
    program.info.descriptor_length = program.info.descriptors ? infoLength : 0;
    if (failed) return false;
    room -= infoLength;
    std::int64_t left = static_cast<std::int64_t>(sectionLength) - 13 - infoLength;
    while (left >= 5 && room >= 5) {
      const std::uint32_t type = r.get(8);
      const std::uint32_t pid = r.get(16) & 0x1FFF;
      const std::uint32_t esInfo = r.get(16) & 0xFFF;
      left -= 5;
      room -= 5;
      if (esInfo > left || esInfo > room) break;
      std::uint8_t* descriptors = copyBytes(ctx, r, esInfo, failed);
      if (failed) return false;
      left -= esInfo;
      room -= esInfo;
      const std::uint32_t kind = classifyStreamType(type, descriptors, esInfo);
      const std::uint8_t id = kind == DEMUX_KIND_AC3 || kind == DEMUX_KIND_AES3 ? 0xBD : 0;
      stream_info_struct* s = addStream(ctx, index, type, kind, pid, id, 0);
      if (!s) {
        ctx.services.release(descriptors);
        break;
      }
      s->descriptors = descriptors;
      s->descriptor_length = descriptors ? esInfo : 0;
    }
    return true;
  }
}

int parseProgramMaps(BitReader& r) {
  Context& ctx = r.context();
  int streams = 0;
  for (int i = 0; i < ctx.fileInfo.programs; ++i) {
    if (ctx.programs[i].info.program_number == 0) continue;  // the network information entry
    bool failed = false;
    (void)readProgramMap(r, i, failed);
    if (failed) return 1;
    streams += ctx.programs[i].info.streams;
  }
  if (r.failed()) return kProbeReadError;
  if (streams == 0) return 1;
  ctx.fileInfo.system_stream_type = kTransportStream;
  return 0;
}

// Without tables: streams are listed from the PES packets that start in the payloads.
int scanPesStarts(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  ctx.fileInfo.programs = 1;
  ctx.programs[0].info = program_info_struct{};
  while (!stopScan(ctx, true)) {
    const TsPayload at = nextTsPayload(r, budget, kAnyPid, false);
    if (at.bytes < 0) break;
    if (at.unitStart && at.pid >= 16 && at.pid <= 8190 && at.bytes >= 9) {
      const std::uint32_t start = r.get(32);
      r.skipBits(16);
      const std::uint32_t flags = r.show(8);
      const std::uint32_t id = start & 0xFF;
      if ((start >> 8) == 1 && id >= 0xC0 && id <= 0xEF && (flags & 0xC0) == 0x80) {
        bool known = false;
        for (int i = 0; i < ctx.programs[0].info.streams; ++i)
          known = known || ctx.programs[0].streams[i].info.pid == at.pid;
        if (!known)
          (void)addStream(ctx, 0, 0, id >= 0xE0 ? DEMUX_KIND_VIDEO : DEMUX_KIND_MPEG_AUDIO, at.pid,
                          static_cast<std::uint8_t>(id), 0);
      }
    }
    skipRestOf(r, at);
  }
  if (r.failed()) return kProbeReadError;
  if (ctx.programs[0].info.streams == 0) {
    ctx.fileInfo.programs = 0;
    return 1;
  }
  ctx.fileInfo.system_stream_type = kTransportStream;
  return 0;
}

int probeTransportStream(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  ctx.fileInfo.programs = 0;
  readAssociation(r, budget);
  if (r.failed()) return kProbeReadError;
  // Where the table pass stopped; the map pass reads from the start.
  const std::uint64_t stopped = r.position();
  if (ctx.fileInfo.programs > 0) {
    const int maps = parseProgramMaps(r);
    if (maps != 1) return maps;
    clearPrograms(ctx);
    ctx.fileInfo.programs = 0;
  }
  // Without tables that list a stream, the packets after them are scanned for PES starts.
  if (!r.seek(stopped)) return kProbeReadError;
  const int scanned = scanPesStarts(r, budget);
  if (scanned == 1) ctx.services.error("No elementary streams found");
  return scanned;
}

}  // namespace

int checkTsSync(BitReader& r, std::uint64_t at, std::uint64_t budget) {
  if (!r.seek(at) || r.show(8) != 0x47) return r.failed() ? kProbeReadError : 1;
  for (const std::uint32_t size : {188u, 192u}) {
    if (!r.seek(at + size)) return kProbeReadError;
    if (r.show(8) != 0x47 || r.end()) continue;
    if (!r.seek(at + 2 * size)) return kProbeReadError;
    if (r.show(8) != 0x47 || r.end()) continue;
    r.context().tsPrefix = static_cast<int>(size - kPacket);
    if (!r.seek(at)) return kProbeReadError;
    return probeTransportStream(r, budget) == 0 ? 0 : 2;
  }
  return 3;
}

}  // namespace quillion::daskin::detail
