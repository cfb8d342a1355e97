// SPDX-License-Identifier: GPL-2.0-or-later
// What the Corvel suites share: a `get_rc` that collects what the library prints and
// answers yield from a script, elementary streams made by ffmpeg, and a file-mode job run
// the way a caller runs one.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bufstream.h"
#include "corvel.h"
#include "tests/support/test_support.h"

namespace quillion::test::corvel {

struct Printed {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  std::vector<std::string> infos;
  std::vector<std::string> progress;
  int yields = 0;
  int stopAtYield = 0;  // the yield of this number (from 1) asks to stop
  void clear() { *this = Printed{}; }
};

Printed& printed();
void* collectingRc(const char* name);
bool anyStartsWith(const std::vector<std::string>& lines, const std::string& prefix);

struct EsInput {
  std::filesystem::path path;
  std::uint32_t kind = STREAM_KIND_VIDEO;
  std::int32_t bitRate = 0;
  std::uint8_t streamId = 0;
};

// Makes an elementary stream with ffmpeg: `args` are the arguments between the inputs
// and the output name.
std::filesystem::path makeEs(const TempDir& dir, const std::string& name,
                             const std::vector<std::string>& args);

struct MuxOutcome {
  bool created = false;
  std::int32_t init = -1;
  std::vector<std::int32_t> added;
  std::int32_t run = -1;
  std::int32_t done = -1;
};

// New, InitFile, AddFile per input, one run, Done and Free.
MuxOutcome muxFiles(const mpeg_m_settings& settings, const std::vector<EsInput>& inputs,
                    const std::filesystem::path& out, mpeg_get_rc getRc = collectingRc);

// An output stream in memory that keeps the notices the multiplexer sends beside the data.
struct MemoryOutput {
  MemoryOutput();
  bufstream* stream() { return &record; }
  struct Notice {
    std::uint32_t code;
    std::vector<std::uint8_t> data;
  };
  bufstream record{};
  // Writes this answers true for are refused (nothing taken).
  std::function<bool(const std::uint8_t* data, std::uint32_t size)> refuse;
  // Called while a notice is handled, when its data (and what it points at) is still valid.
  std::function<void(std::uint32_t code, const std::uint8_t* data, std::uint32_t size)> onNotice;
  std::vector<std::uint8_t> bytes;
  std::vector<Notice> notices;
};

struct ProbedPacket {
  std::string mediaType;
  int streamIndex = 0;
  double pts = -1;  // seconds; -1 when none
  double dts = -1;
  std::int64_t size = 0;
};
std::vector<ProbedPacket> probePackets(const std::filesystem::path& file);

}  // namespace quillion::test::corvel
