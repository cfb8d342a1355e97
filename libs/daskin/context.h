// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin's private records: the context of one open file set, its parsers and the routing
// tables the packet readers consult. Plain data; the functions that work on them live in
// one file per job (io, probe_reader, detect, es_probes, binding, delivery, readers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bufstream.h"
#include "daskin.h"
#include "services.h"

namespace quillion::daskin {

inline constexpr int kMaxParsers = 64;
inline constexpr int kMaxPrograms = 32;
inline constexpr int kMaxStreams = 64;
inline constexpr std::size_t kMaxNameLength = 1023;
inline constexpr std::uint32_t kDefaultBufferSize = 1048576;
inline constexpr std::uint32_t kIfoBufferSize = 262144;
// The packet readers look this far ahead at a header (a PES header is at most 3 + 255 bytes
// behind its length field); a smaller caller buffer could not hold one header.
inline constexpr std::uint32_t kMinBufferSize = 4096;
inline constexpr std::int64_t kNoTime = -1;

enum SystemType : std::int32_t {
  kElementary = 0,
  kMpeg1System = 1,
  kProgramStream = 2,
  kTransportStream = 3,
  kAvStream = 4,
};

// What a reader call ended with.
enum class Step { Delivered = 0, Error = 1, End = 2 };

struct FileEntry {
  std::uint64_t first = 0;
  std::uint64_t size = 0;
  char* name = nullptr;  // owned, through the context's services
  std::int64_t timeOffset = 0;
  [[nodiscard]] std::uint64_t last() const { return first + size - 1; }
};

// One cell of a DVD title, menu or angle, in play order.
struct DvdCell {
  std::uint64_t duration = 0;  // 27 MHz
  std::uint64_t first = 0;     // first byte of the cell's first VOBU in the set
  std::uint64_t last = 0;      // last byte of its last VOBU
  std::uint64_t previousLastVobu = 0;
  std::uint64_t startTime = 0;  // on the title's time line, 27 MHz
  std::int64_t ptsOffset = 0;   // added to every time stamp read inside the cell
  std::uint32_t chain = 0;      // byte offset of its program chain in the IFO copy
  int fileIndex = -1;
};

struct FileBuffer {
  std::uint8_t* data = nullptr;
  std::uint32_t capacity = 0;
};

struct Route {
  std::uint8_t bound = 0;
  std::uint8_t program = 0;
  std::uint8_t stream = 0;
};

struct StreamRecord {
  stream_info_struct info{};
  bufstream* output = nullptr;
  std::uint32_t chunkSize = 0;
  struct Parser* pullParser = nullptr;  // the parser that took over the stream's slot
  // The slot and data word the stream had before a parser took it over, given back when
  // the binding ends.
  decltype(bufstream::auxinfo) savedAuxinfo = nullptr;
  void* savedWord = nullptr;
};

struct ProgramRecord {
  program_info_struct info{};
  StreamRecord streams[kMaxStreams];
};

struct Parser;
using Reader = Step (*)(struct Context&, Parser&, demux_chunk_info*);

struct Parser {
  struct Context* ctx = nullptr;
  int slot = 0;
  demux_parser_settings settings{};
  bool probing = false;
  FileBuffer buffer{};
  bool ownsBuffer = false;

  // I/O: the current file of the list and what the buffer holds of it.
  int fileIndex = 0;
  bool handleOpen = false;
  intptr_t handle = -1;
  std::uint64_t loadedOffset = 0;  // offset in the current file of buffer.data[0]
  std::uint32_t readIndex = 0;     // next unread byte of the buffer
  std::uint32_t endIndex = 0;      // end of the valid bytes
  // Where the caller's handle stands, so a seek is issued only when a read would land
  // elsewhere; unknown after an open or a wake.
  bool handleOffsetKnown = false;
  std::uint64_t handleOffset = 0;
  bool reseek = false;
  std::uint64_t position = 0;  // absolute position of buffer.data[readIndex]
  bool error = false;
  bool atEnd = false;
  bool asleep = false;

  // Delivery.
  std::uint32_t pendingAdvance = 0;
  std::int64_t pts = kNoTime;
  std::uint64_t packPosition = 0;
  std::int64_t bytesLeft = 0;
  std::int64_t payloadLength = 0;
  int curProgram = 0;
  int curStream = 0;
  std::uint8_t curStreamId = 0;
  bool chunkFilled = false;  // the last reader call filled the pull destination
  // Delivering a PES of length 0, which ends where the next PES of its stream begins.
  bool unbounded = false;
  // Transport streams: per PID, the last continuity counter (-1 none), whether that packet
  // carried a payload, and the PES bytes it still owes (-1 unbounded).
  std::int8_t lastCounter[8192];
  std::int64_t owed[8192];
  // "AV" streams: per stream number, as above.
  std::int16_t avLastCounter[256];
  std::int64_t avOwed[256];
  std::uint64_t nextPacket = 0;  // where the next transport or "AV" packet begins

  Route byPid[8192];
  Route byId[256];
  Route bySub[256];
  Route byNav[2];  // the navigation copies: presentation control (0), data search (1)
  StreamRecord* pullStream = nullptr;
  // Copies of the last DVD navigation packets.
  std::uint8_t pci[60] = {};
  std::uint8_t dsi[546] = {};
  // DVD sets: the cell being read, and the interleaved unit the last data search packet
  // announced (its category byte and the unit's last byte).
  int cell = 0;
  std::uint8_t dsiCategory = 0;
  std::uint64_t unitEnd = 0;
};

struct Context {
  mpeg::Services services;
  demux_settings settings{};
  bool open = false;
  char name[kMaxNameLength + 1] = {};
  FileEntry* files = nullptr;
  int fileCount = 0;
  std::uint64_t totalSize = 0;
  bool privateSubStreams = false;
  bool vobMode = false;         // a DVD video object file: navigation packets are read
  bool ifoMode = false;         // a DVD set opened through its IFO file: cells are followed
  std::uint8_t* ifo = nullptr;  // the IFO file's copy (services' memory)
  std::uint32_t ifoSize = 0;
  DvdCell* cells = nullptr;  // services' memory
  int cellCount = 0;
  bool pesOnly = false;
  bool unboundedVideo = false;
  int tsPrefix = 0;  // 0 or 4
  Parser* parsers[kMaxParsers] = {};
  int parserCount = 0;
  file_info_struct fileInfo{};
  ProgramRecord programs[kMaxPrograms];
  Reader reader = nullptr;
  FileBuffer* splitterBuffer = nullptr;
  std::uint64_t splitOffset = 0;  // where the split source stands
  bool splitOffsetKnown = false;
};

}  // namespace quillion::daskin
