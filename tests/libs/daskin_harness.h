// SPDX-License-Identifier: GPL-2.0-or-later
// Drives Daskin the way its caller does: a context with collected messages, parsers that
// pull one stream each through a byte stream of chunk size 0, or receive copies through a
// byte stream with a chunk size; and fixtures made by ffmpeg at test time.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bufstream.h"
#include "daskin.h"
#include "tests/support/generated_file.h"
#include "tests/support/test_support.h"

namespace quillion::test::daskin {

// Messages the library printed, collected through the application pointer.
struct Messages {
  std::vector<std::string> errors;
  int allocations = 0;
  int releases = 0;
  bool has(const std::string& text) const {
    for (const auto& e : errors)
      if (e == text) return true;
    return false;
  }
};

__attribute__((format(printf, 2, 3))) inline void collectError(void* app, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  static_cast<Messages*>(app)->errors.emplace_back(text);
}
inline void* countedMalloc(void* app, size_t n) {
  ++static_cast<Messages*>(app)->allocations;
  return std::malloc(n);
}
inline void countedFree(void* app, void* block) {
  if (block) ++static_cast<Messages*>(app)->releases;
  std::free(block);
}
inline void* servicesOf(void* /*app*/, const char* name) {
  if (std::strcmp(name, "err_printf_ex") == 0) return reinterpret_cast<void*>(&collectError);
  if (std::strcmp(name, "malloc_ex") == 0) return reinterpret_cast<void*>(&countedMalloc);
  if (std::strcmp(name, "free_ex") == 0) return reinterpret_cast<void*>(&countedFree);
  return nullptr;
}

// A byte stream that only stands in for the caller's: chunk size as chosen, copies appended
// to `bytes`, chunk records collected.
struct TestStream {
  bufstream bs{};
  std::uint32_t chunk = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<demux_chunk_info> chunks;
  int foreignCalls = 0;  // auxinfo calls that reached the stream's own slot

  explicit TestStream(std::uint32_t chunkSize = 0) : chunk(chunkSize) {
    bs.chunksize = [](bufstream* b) { return self(b)->chunk; };
    bs.copybytes = [](bufstream* b, std::uint8_t* p, std::uint32_t n) {
      self(b)->bytes.insert(self(b)->bytes.end(), p, p + n);
      return n;
    };
    bs.auxinfo = ownAuxinfo;
    bs.implementation = this;
  }
  TestStream(const TestStream&) = delete;
  TestStream& operator=(const TestStream&) = delete;

  static TestStream* self(bufstream* b) { return static_cast<TestStream*>(b->implementation); }
  static int32_t ownAuxinfo(bufstream* b, uint32_t, uint32_t id, void* data, uint32_t size) {
    TestStream* s = self(b);
    if (id == DEMUX_CHUNK_INFO_ID && size == sizeof(demux_chunk_info)) {
      s->chunks.push_back(*static_cast<demux_chunk_info*>(data));
      return 0;
    }
    ++s->foreignCalls;
    return 0;
  }
  // One pull; -1 when the pull failed.
  int pull(demux_chunk_info& out) {
    return bs.auxinfo(&bs, 0, DEMUX_CHUNK_INFO_ID, &out, sizeof out);
  }
};

struct Pulled {
  std::vector<std::uint8_t> bytes;
  std::vector<demux_chunk_info> chunks;  // data pointers cleared
  bool ended = false;
  bool failed = false;
};

// Pulls every chunk from a stream already bound in pull mode.
inline Pulled pullAll(TestStream& s, std::size_t maxChunks = 2000000) {
  Pulled out;
  for (std::size_t i = 0; i < maxChunks; ++i) {
    demux_chunk_info c{};
    if (s.pull(c) != 0) {
      out.failed = true;
      break;
    }
    if (c.end) {
      out.ended = true;
      break;
    }
    out.bytes.insert(out.bytes.end(), c.data, c.data + c.length);
    c.data = nullptr;
    out.chunks.push_back(c);
  }
  return out;
}

struct StreamListing {
  int program = 0;
  int stream = 0;
  stream_info_struct info{};
};

class Demux {
 public:
  explicit Demux(const demux_settings& settings = {}) {
    ctx_ = mpegDemuxNew(servicesOf, &messages, &settings);
  }
  ~Demux() {
    if (ctx_) mpegDemuxFree(ctx_);
  }
  Demux(const Demux&) = delete;
  Demux& operator=(const Demux&) = delete;

  demux_context* ctx() const { return ctx_; }
  int open(const std::filesystem::path& path) { return mpegDemuxOpen(ctx_, 0, path.c_str()); }
  file_info_struct fileInfo() const {
    file_info_struct f{};
    EXPECT_EQ(mpegDemuxGetFileInfo(ctx_, &f), 0);
    return f;
  }
  std::vector<StreamListing> streams() const {
    std::vector<StreamListing> out;
    const file_info_struct f = fileInfo();
    for (int p = 0; p < f.programs; ++p) {
      program_info_struct pi{};
      EXPECT_EQ(mpegDemuxGetProgramInfo(ctx_, &pi, p), 0);
      for (int s = 0; s < pi.streams; ++s) {
        StreamListing l{p, s, {}};
        EXPECT_EQ(mpegDemuxGetStreamInfo(ctx_, &l.info, p, s), 0);
        out.push_back(l);
      }
    }
    return out;
  }
  // A parser with one stream bound to `out`; 0 on failure.
  int bind(int program, int stream, TestStream& out, std::int32_t bufferSize = 0) {
    demux_parser_settings ps{};
    ps.buffer_size = bufferSize;
    const int parser = mpegDemuxNewParser(ctx_, &ps);
    if (parser == 0) return 0;
    demux_stream_settings ss{};
    ss.program = program;
    ss.stream = stream;
    ss.output = &out.bs;
    if (mpegDemuxAddStream(ctx_, parser, &ss) != 0) return 0;
    if (mpegDemuxSeek(ctx_, parser, 0, 0) != 0) return 0;
    return parser;
  }
  Pulled pullStream(int program, int stream, std::int32_t bufferSize = 0) {
    TestStream s;
    const int parser = bind(program, stream, s, bufferSize);
    EXPECT_NE(parser, 0);
    if (parser == 0) return {};
    Pulled out = pullAll(s);
    mpegDemuxFreeParser(ctx_, parser);
    return out;
  }

  Messages messages;

 private:
  demux_context* ctx_ = nullptr;
};

// Runs ffmpeg with the arguments (after "-v error -y"); fails the test when it fails.
inline bool ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  const ToolResult r = quillion::test::runGenerator(argv);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return r.exitCode == 0;
}

// Lines of `ffprobe -v error <args> -of csv=p=0 file`.
inline std::vector<std::string> ffprobeLines(const std::vector<std::string>& args,
                                             const std::filesystem::path& file) {
  std::vector<std::string> argv{"ffprobe", "-v", "error"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"-of", "csv=p=0", file.string()});
  const std::string text = toolOutput(argv);
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line =
        text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty()) lines.push_back(line);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return lines;
}

inline std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t comma = line.find(',', at);
    out.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return out;
}

}  // namespace quillion::test::daskin
