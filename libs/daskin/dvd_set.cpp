// SPDX-License-Identifier: GPL-2.0-or-later
#include "dvd_set.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "detect_internal.h"
#include "ifo_tables.h"
#include "io.h"
#include "readers.h"

namespace quillion::daskin {

namespace {

constexpr std::uint32_t kLargestIfo = 64u << 20;

bool readIfoFile(Context& ctx) {
  std::FILE* f = std::fopen(ctx.name, "rb");
  if (!f) {
    ctx.services.error("IFO file not found");
    return false;
  }
  bool ok = false;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) != 0 || (size = std::ftell(f)) < 0) {
    ctx.services.error("Unable to seek to the end of IFO file");
  } else if (size < 2048) {
    ctx.services.error("IFO file is too small");
  } else if (static_cast<unsigned long>(size) > kLargestIfo) {
    ctx.services.error("Unknown IFO file");
  } else if (std::fseek(f, 0, SEEK_SET) != 0) {
    ctx.services.error("Unable to seek to the start of the IFO file");
  } else if (!(ctx.ifo = static_cast<std::uint8_t*>(
                   ctx.services.allocate(static_cast<std::size_t>(size))))) {
    ctx.services.error("Unable to allocate memory for the IFO file");
  } else if (std::fread(ctx.ifo, 1, static_cast<std::size_t>(size), f) !=
             static_cast<std::size_t>(size)) {
    ctx.services.error("Unable to read from the IFO file");
  } else {
    ctx.ifoSize = static_cast<std::uint32_t>(size);
    ok = true;
  }
  std::fclose(f);
  return ok;
}

// The name's folder (through its last '/' or '\'), and the title-set number of a
// VTS_NN_0.IFO file part; -1 when the file part does not carry one.
struct SetName {
  std::size_t folderLength = 0;
  int titleSet = -1;
};
SetName splitSetName(const char* name) {
  SetName out;
  for (std::size_t i = 0; name[i]; ++i)
    if (name[i] == '/' || name[i] == '\\') out.folderLength = i + 1;
  const char* file = name + out.folderLength;
  if (std::strlen(file) >= 6 && file[4] >= '0' && file[4] <= '9' && file[5] >= '0' &&
      file[5] <= '9')
    out.titleSet = (file[4] - '0') * 10 + (file[5] - '0');
  return out;
}

// Appends the set's VOB file `part` (0 the menu file, 1..9 the title files; -1 the video
// manager's), by its upper-case name as DVD folders hold it, else in lower case.
bool addVob(Context& ctx, const SetName& set, int part) {
  char upper[kMaxNameLength + 16];
  char lower[kMaxNameLength + 16];
  const int folder = static_cast<int>(set.folderLength);
  if (part < 0) {
    std::snprintf(upper, sizeof upper, "%.*sVIDEO_TS.VOB", folder, ctx.name);
    std::snprintf(lower, sizeof lower, "%.*svideo_ts.vob", folder, ctx.name);
  } else {
    std::snprintf(upper, sizeof upper, "%.*sVTS_%02d_%d.VOB", folder, ctx.name, set.titleSet, part);
    std::snprintf(lower, sizeof lower, "%.*svts_%02d_%d.vob", folder, ctx.name, set.titleSet, part);
  }
  std::uint64_t size = ctx.settings.data_size;
  const char* name = upper;
  if (!ctx.settings.caller_io) {
    if (!systemFileSize(upper, size)) {
      name = lower;
      if (!systemFileSize(lower, size)) return false;
    }
  }
  return appendFile(ctx, name, size);
}

bool listVobs(Context& ctx, const IfoFacts& facts, const SetName& set) {
  if (facts.kind == kVideoManager) {
    if (addVob(ctx, set, -1)) return true;
    ctx.services.error("Unable to get the file size of file %s", "VIDEO_TS.VOB");
    return false;
  }
  if (facts.kind == kTitleSetMenu) {
    if (addVob(ctx, set, 0)) return true;
    ctx.services.error("Unable to get the file size of file VTS_%02d_0.VOB", set.titleSet);
    return false;
  }
  if (!addVob(ctx, set, 1)) {
    ctx.services.error("Unable to get the file size of file VTS_%02d_1.VOB", set.titleSet);
    return false;
  }
  for (int part = 2; part <= 9 && addVob(ctx, set, part); ++part) {
  }
  std::uint64_t sectors = 0;
  for (int i = 0; i < ctx.fileCount; ++i) sectors += ctx.files[i].size / 2048;
  if (sectors + 1 < facts.lastVobuSector) {
    ctx.services.error("Not all VTS_%02d_*.VOB files were found", set.titleSet);
    return false;
  }
  return true;
}

void listSetStreams(Context& ctx, const IfoFacts& facts) {
  ctx.fileInfo.programs = 1;
  ctx.fileInfo.system_stream_type = kProgramStream;
  for (int i = 0; i < facts.streamCount; ++i) {
    const IfoStream& s = facts.streams[i];
    (void)detail::addStream(ctx, 0, 0, s.kind, 0, s.id, s.sub);
  }
  detail::addNavigationStreams(ctx);
}

// The presentation time of the cell's first VOBU, from the first presentation control
// packet inside the cell; false when the cell holds none.
bool firstPresentationTime(Context& ctx, Parser& p, const DvdCell& cell, std::int64_t& out) {
  if (!positionParser(ctx, p, cell.first)) return false;
  while (p.position <= cell.last) {
    std::uint32_t code = 0;
    if (findStartCode(p, code) != Step::Delivered) return false;
    if (code != 0x1BF || ensure(p, 3 + 60) < 3 + 60) continue;
    const std::uint8_t* d = cursor(p);
    if (be16(d) != 980 || d[2] != 0) continue;
    out = static_cast<std::int32_t>(be32(d + 3 + 12));
    return true;
  }
  return false;
}

// Fills the cells' file indexes, start times and time-stamp offsets through a parser of
// the set's files.
bool timeCells(Context& ctx) {
  void* memory = ctx.services.allocate(sizeof(Parser));
  if (!memory) {
    ctx.services.error("Unable to allocate %d bytes for parser", static_cast<int>(sizeof(Parser)));
    return false;
  }
  auto* p = new (memory) Parser{};
  const demux_parser_settings settings{};
  bool ok = initParser(ctx, *p, settings, false);
  std::uint64_t timeLine = 0;
  for (int i = 0; ok && i < ctx.cellCount; ++i) {
    DvdCell& cell = ctx.cells[i];
    for (int f = 0; f < ctx.fileCount && cell.fileIndex < 0; ++f)
      if (ctx.files[f].size > 0 && cell.first >= ctx.files[f].first &&
          cell.first <= ctx.files[f].last())
        cell.fileIndex = f;
    std::int64_t first = 0;
    ok = cell.fileIndex >= 0 && cell.last >= cell.first &&
         firstPresentationTime(ctx, *p, cell, first);
    if (!ok) break;
    if (i == 0) timeLine = static_cast<std::uint64_t>(first * 300);
    cell.startTime = timeLine;
    cell.ptsOffset = static_cast<std::int64_t>(timeLine) - first * 300;
    timeLine += cell.duration;
  }
  if (!ok) ctx.services.error("The cells of the IFO file do not lie in its VOB files");
  releaseParser(ctx, *p);
  p->~Parser();
  ctx.services.release(memory);
  return ok;
}

bool chooseCells(Context& ctx, const IfoFacts& facts) {
  CellChoice choice;
  const demux_settings& s = ctx.settings;
  choice.title = s.dvd_title >= 1 && s.dvd_title <= facts.titles ? s.dvd_title : 1;
  choice.unit = s.dvd_pgc >= 1 ? s.dvd_pgc : 1;
  choice.angle = s.dvd_angle >= 1 ? s.dvd_angle : 1;
  int ignored = 0;
  const int count = selectCells(ctx.ifo, ctx.ifoSize, facts, choice, nullptr, 0, ignored);
  if (count < 0) {
    ctx.services.error("Damaged IFO file");
    return false;
  }
  if (count == 0) {
    ctx.services.error("No cell to play in the IFO file");
    return false;
  }
  ctx.cells = static_cast<DvdCell*>(
      ctx.services.allocate(sizeof(DvdCell) * static_cast<std::size_t>(count)));
  if (!ctx.cells) {
    ctx.services.error("Unable to allocate memory for the cells");
    return false;
  }
  int angles = 1;
  ctx.cellCount = selectCells(ctx.ifo, ctx.ifoSize, facts, choice, ctx.cells, count, angles);
  ctx.fileInfo.dvd_angles = angles;
  return timeCells(ctx);
}

}  // namespace

bool openDvdSet(Context& ctx) {
  closeDvdSet(ctx);
  ctx.ifoMode = true;
  if (!readIfoFile(ctx)) return false;
  IfoFacts facts;
  const IfoStatus status = readIfoFacts(ctx.ifo, ctx.ifoSize, ctx.settings.dvd_menu != 0, facts);
  if (status != IfoStatus::Ok) {
    ctx.services.error("%s", ifoMessage(status));
    return false;
  }
  const SetName set = splitSetName(ctx.name);
  if (facts.kind != kVideoManager && set.titleSet < 0) {
    ctx.services.error("Unknown IFO file");
    return false;
  }
  ctx.fileInfo.dvd_titles = facts.titles;
  ctx.fileInfo.dvd_angles = 1;
  if (!listVobs(ctx, facts, set)) return false;
  listSetStreams(ctx, facts);
  return chooseCells(ctx, facts);
}

void closeDvdSet(Context& ctx) {
  ctx.services.release(ctx.ifo);
  ctx.services.release(ctx.cells);
  ctx.ifo = nullptr;
  ctx.ifoSize = 0;
  ctx.cells = nullptr;
  ctx.cellCount = 0;
  ctx.ifoMode = false;
}

int cellAt(const Context& ctx, std::uint64_t position) {
  for (int i = 0; i < ctx.cellCount; ++i)
    if (ctx.cells[i].last >= position) return i;
  return ctx.cellCount > 0 ? ctx.cellCount - 1 : 0;
}

}  // namespace quillion::daskin
