// SPDX-License-Identifier: GPL-2.0-or-later
// Probe of transport streams: packet size, the program association table, the program map
// tables, and a scan of PES starts when no table lists anything.
#include <limits>

#include "detect_internal.h"
#include "ts_sections.h"

namespace quillion::daskin::detail {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::uint32_t sectionWord(const PsiSection& s, std::uint32_t at) {
  return static_cast<std::uint32_t>(s.bytes[at] << 8 | s.bytes[at + 1]);
}

// A section in the long form (13818-1 2.4.4.10) of the table, whole and with a good CRC;
// anything else is passed over as damaged.
bool sound(const PsiSection& s, std::uint32_t tableId, std::uint32_t shortest) {
  return s.tableId() == tableId && (s.bytes[1] & 0x80) != 0 && s.size >= shortest && s.crcHolds();
}

// The program association table (13818-1 2.4.4.3): its programs become the program list.
void readAssociation(BitReader& r, std::uint64_t budget) {
  Context& ctx = r.context();
  SectionReader sections(r, budget, 0);
  PsiSection s;
  int expected = 0;
  int last = 0;
  while (expected <= last && sections.next(s)) {
    if (!sound(s, 0, 12)) continue;
    const int number = s.bytes[6];
    if (number != expected) continue;
    if (expected == 0) last = s.bytes[7];
    const std::uint32_t entries = (s.size - 12) / 4;
    for (std::uint32_t i = 0; i < entries && ctx.fileInfo.programs < kMaxPrograms; ++i) {
      program_info_struct& info = ctx.programs[ctx.fileInfo.programs].info;
      info.program_number = sectionWord(s, 8 + 4 * i);
      info.pmt_pid = sectionWord(s, 10 + 4 * i) & 0x1FFF;
      ++ctx.fileInfo.programs;
    }
    ++expected;
  }
}

// The streams of one map section, already checked whole.
bool takeProgramMap(Context& ctx, int index, const PsiSection& s, bool& failed) {
  ProgramRecord& program = ctx.programs[index];
  const std::uint32_t end = s.size - 4;  // the CRC follows the last stream entry
  const std::uint32_t infoLength = sectionWord(s, 10) & 0xFFF;
  if (12 + infoLength > end) return false;
  program.info.section_syntax_indicator = static_cast<std::uint8_t>(s.bytes[1] >> 7);
  program.info.pcr_pid = sectionWord(s, 8) & 0x1FFF;
  program.info.descriptors = copyDescriptors(ctx, s.bytes + 12, infoLength, failed);
  program.info.descriptor_length = program.info.descriptors ? infoLength : 0;
  if (failed) return false;
  std::uint32_t at = 12 + infoLength;
  while (at + 5 <= end) {
    const std::uint32_t type = s.bytes[at];
    const std::uint32_t pid = sectionWord(s, at + 1) & 0x1FFF;
    const std::uint32_t esInfo = sectionWord(s, at + 3) & 0xFFF;
    at += 5;
    if (at + esInfo > end) break;
    std::uint8_t* descriptors = copyDescriptors(ctx, s.bytes + at, esInfo, failed);
    if (failed) return false;
    at += esInfo;
    const std::uint32_t kind = classifyStreamType(type, descriptors, esInfo);
    const std::uint8_t id = kind == DEMUX_KIND_AC3 || kind == DEMUX_KIND_AES3 ? 0xBD : 0;
    stream_info_struct* stream = addStream(ctx, index, type, kind, pid, id, 0);
    if (!stream) {
      ctx.services.release(descriptors);
      break;
    }
    stream->descriptors = descriptors;
    stream->descriptor_length = descriptors ? esInfo : 0;
  }
  return true;
}

// One program's map (13818-1 2.4.4.8), read from the start of the data: the first whole
// section of its PID that belongs to the program, however many packets it spans.
bool readProgramMap(BitReader& r, int index, bool& failed) {
  Context& ctx = r.context();
  // From the first packet's sync byte, behind the prefix of 192-byte packets.
  if (!r.seek(static_cast<std::uint64_t>(ctx.tsPrefix))) return false;
  const program_info_struct& info = ctx.programs[index].info;
  SectionReader sections(r, kUnlimited, info.pmt_pid);
  PsiSection s;
  while (sections.next(s)) {
    if (!sound(s, 2, 16) || s.bytes[6] != 0 || sectionWord(s, 3) != info.program_number) continue;
    return takeProgramMap(ctx, index, s, failed);
  }
  return false;
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
    r.context().tsPrefix = static_cast<int>(size - kTsPacket);
    if (!r.seek(at)) return kProbeReadError;
    return probeTransportStream(r, budget) == 0 ? 0 : 2;
  }
  return 3;
}

}  // namespace quillion::daskin::detail
