// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin's detection and packet readers over arbitrary data, read through the caller-I/O or
// the split callbacks. The input also chooses the parser's buffer size, the probe settings,
// which streams are bound (pulled or copied), and a position to seek to; runs are capped.
// Every chunk must lie inside the data, and a pulled chunk's bytes must be the data's.
//
// With mode bit 2 the data are a DVD information file instead: its tables are read for a
// title, program chain and angle chosen by the input, and the cells chosen must lie in the
// file's own description of them.
//
// Input: mode byte (bit 0 split mode, bit 1 a ".vob" name, bit 2 an IFO file, bit 3 its
// menu), buffer size byte, stop mode byte, budget byte, stream choice byte, seek fraction
// byte, then the data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bufstream.h"
#include "daskin.h"
#include "fuzz_support.h"
#include "ifo_tables.h"

namespace {

using quillion::fuzz::check;

struct Memory {
  const std::uint8_t* data = nullptr;
  std::uint64_t size = 0;
  std::uint64_t at = 0;
};

intptr_t memOpen(void* /*context*/, const char* /*name*/) {
  return 7;
}
int32_t memSeek(void* context, intptr_t handle, uint32_t low, uint32_t high) {
  check(handle == 7, "a handle the open did not give");
  auto* m = static_cast<Memory*>(context);
  const std::uint64_t to = std::uint64_t{high} << 32 | low;
  if (to > m->size) return -1;
  m->at = to;
  return 0;
}
int32_t memRead(void* context, intptr_t handle, void* dst, int32_t n) {
  check(handle == 7, "a handle the open did not give");
  check(n > 0, "a read of nothing");
  auto* m = static_cast<Memory*>(context);
  const std::uint64_t left = m->size - m->at;
  const auto k = static_cast<std::uint32_t>(
      left < static_cast<std::uint64_t>(n) ? left : static_cast<std::uint64_t>(n));
  std::memcpy(dst, m->data + m->at, k);
  m->at += k;
  return static_cast<int32_t>(k);
}
void memClose(void* /*context*/, intptr_t handle) {
  check(handle == 7, "a handle the open did not give");
}
int32_t splitSeek(void* context, uint32_t low, uint32_t high) {
  return memSeek(context, 7, low, high);
}
int32_t splitRead(void* context, void* dst, int32_t n) {
  return memRead(context, 7, dst, n);
}

void* noServices(void* /*app*/, const char* /*name*/) {
  return nullptr;
}

struct Sink {
  bufstream bs{};
  std::uint32_t chunk = 0;
  std::uint64_t total = 0;
  const Memory* memory = nullptr;
};
Sink* sinkOf(bufstream* b) {
  return static_cast<Sink*>(b->implementation);
}

void checkChunk(const demux_chunk_info& c, const Memory& m, bool pulled) {
  check(c.end == 0, "an end mark inside the run");
  check(c.extra_count <= sizeof c.extra, "more extra bytes than the record holds");
  check(c.data_position <= m.size && c.length <= m.size - c.data_position,
        "a chunk beyond the data");
  if (pulled && c.length > 0)
    check(std::memcmp(c.data, m.data + c.data_position, c.length) == 0,
          "pulled bytes that are not the data's");
}

void checkNavigation(void* context, const std::uint8_t* copy, std::int32_t length) {
  check(length == 60 || length == 546, "a navigation copy of another size");
  check(static_cast<const Memory*>(context)->size >= static_cast<std::uint64_t>(length),
        "a copy longer than the data");
  volatile std::uint8_t sum = 0;
  for (std::int32_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + copy[i]);
}

// The IFO tables of the data: a cell list of the counted length, each cell's range in
// order, and at least one angle.
void readIfo(const std::uint8_t* data, std::size_t size, bool menu, std::uint8_t title,
             std::uint8_t angle) {
  using namespace quillion::daskin;
  IfoFacts facts;
  const auto bytes = static_cast<std::uint32_t>(size);
  if (readIfoFacts(data, bytes, menu, facts) != IfoStatus::Ok) return;
  check(facts.streamCount >= 1 && facts.streams[0].id == 0xE0, "no video stream first");
  CellChoice choice;
  choice.title = title % 4;
  choice.unit = title / 4 % 4;
  choice.angle = angle % 10;
  int angles = 1;
  const int count = selectCells(data, bytes, facts, choice, nullptr, 0, angles);
  if (count <= 0) return;
  std::vector<DvdCell> cells(static_cast<std::size_t>(count));
  angles = 1;
  check(selectCells(data, bytes, facts, choice, cells.data(), count, angles) == count,
        "the filling pass chose another number of cells");
  check(angles >= 1, "no angle");
  for (const DvdCell& c : cells) {
    check(c.first % 2048 == 0 && c.last % 2048 == 2047, "a cell that is not whole sectors");
    check(c.chain < bytes, "a program chain outside the file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint8_t mode = in.u8();
  const std::uint8_t bufferChoice = in.u8();
  const std::uint8_t stopMode = in.u8();
  const std::uint8_t budget = in.u8();
  const std::uint8_t streamChoice = in.u8();
  const std::uint8_t seekFraction = in.u8();
  const auto rest = in.rest();
  Memory memory{rest.data(), rest.size(), 0};
  if (memory.size == 0) return 0;
  if (mode & 4) {
    readIfo(memory.data, memory.size, (mode & 8) != 0, streamChoice, seekFraction);
    return 0;
  }

  demux_settings settings{};
  settings.probe_stop_mode = stopMode % 9;
  settings.probe_budget_mib = budget % 3;
  settings.data_size = memory.size;
  if (mode & 1) {
    settings.split_mode = 1;
    settings.split_seek = splitSeek;
    settings.split_read = splitRead;
    settings.split_context = &memory;
  } else {
    settings.caller_io = 1;
    settings.io_open = memOpen;
    settings.io_seek = memSeek;
    settings.io_read = memRead;
    settings.io_close = memClose;
    settings.io_context = &memory;
  }
  demux_context* ctx = mpegDemuxNew(noServices, nullptr, &settings);
  check(ctx != nullptr, "no context");
  // A ".vob" name makes the readers follow DVD navigation packets.
  if (mpegDemuxOpen(ctx, 0, (mode & 2) ? "fuzz.vob" : "fuzz.mpg") == 0) {
    file_info_struct info{};
    check(mpegDemuxGetFileInfo(ctx, &info) == 0, "no file information");
    check(info.size == memory.size, "a size that is not the data's");
    check(info.programs >= 0 && info.programs <= 32, "program count out of range");
    demux_parser_settings ps{};
    ps.pci_callback = checkNavigation;
    ps.dsi_callback = checkNavigation;
    ps.callback_context = &memory;
    ps.buffer_size = bufferChoice < 128 ? 0 : (bufferChoice - 127) * 64;
    int bound = 0;
    std::vector<Sink> sinks(4);
    for (int p = 0; p < info.programs && bound < 4; ++p) {
      program_info_struct pi{};
      check(mpegDemuxGetProgramInfo(ctx, &pi, p) == 0, "no program information");
      for (int s = 0; s < pi.streams && bound < 4; ++s) {
        if (!((streamChoice >> (bound * 2)) & 1)) continue;
        Sink& sink = sinks[static_cast<std::size_t>(bound++)];
        sink.memory = &memory;
        sink.chunk = ((streamChoice >> (bound * 2 - 1)) & 1) ? 4096 : 0;
        sink.bs.implementation = &sink;
        sink.bs.chunksize = [](bufstream* b) { return sinkOf(b)->chunk; };
        sink.bs.copybytes = [](bufstream* b, std::uint8_t*, std::uint32_t n) {
          sinkOf(b)->total += n;
          return n;
        };
        sink.bs.auxinfo = [](bufstream* b, uint32_t, uint32_t id, void* rec,
                             uint32_t n) -> int32_t {
          check(id == DEMUX_CHUNK_INFO_ID && n == sizeof(demux_chunk_info), "a foreign notice");
          checkChunk(*static_cast<demux_chunk_info*>(rec), *sinkOf(b)->memory, false);
          return 0;
        };
        const int parser = mpegDemuxNewParser(ctx, &ps);
        check(parser > 0, "no parser");
        demux_stream_settings ss{};
        ss.program = p;
        ss.stream = s;
        ss.output = &sink.bs;
        if (mpegDemuxAddStream(ctx, parser, &ss) != 0) continue;
        const std::uint64_t to = memory.size * seekFraction / 256;
        if (mpegDemuxSeek(ctx, parser, static_cast<uint32_t>(to),
                          static_cast<uint32_t>(to >> 32)) != 0)
          continue;
        for (int step = 0; step < 4000; ++step) {
          if (sink.chunk == 0) {
            demux_chunk_info c{};
            if (sink.bs.auxinfo(&sink.bs, 0, DEMUX_CHUNK_INFO_ID, &c, sizeof c) != 0 || c.end)
              break;
            checkChunk(c, memory, true);
          } else if (mpegDemuxPush(ctx, parser) < 0) {
            break;
          }
        }
        check(sink.total <= memory.size * 2, "more bytes copied than the data could hold");
        mpegDemuxFreeParser(ctx, parser);
      }
    }
  }
  mpegDemuxFree(ctx);
  return 0;
}
