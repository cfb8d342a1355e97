// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin's three ways of reading (the system, the caller's I/O callbacks, the split
// callbacks), small buffers, sleep and wake, and a growing input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;
using namespace quillion::test::daskin;

// The caller's side of caller I/O and split mode: a file held in memory, handles that are
// no descriptors, and counts of what the library asked for.
struct MemoryInput {
  std::vector<std::uint8_t> bytes;
  std::uint64_t visible = 0;  // what the input holds so far
  std::uint64_t at = 0;
  int opens = 0;
  int closes = 0;
  int seeks = 0;

  static MemoryInput* of(void* c) { return static_cast<MemoryInput*>(c); }
  static intptr_t open(void* c, const char*) {
    ++of(c)->opens;
    return 1000 + of(c)->opens;  // far from any descriptor of the process
  }
  static int32_t seek(void* c, intptr_t, uint32_t lo, uint32_t hi) {
    MemoryInput* m = of(c);
    ++m->seeks;
    const std::uint64_t to = std::uint64_t{hi} << 32 | lo;
    if (to > m->visible) return -1;
    m->at = to;
    return 0;
  }
  static int32_t read(void* c, intptr_t, void* dst, int32_t n) {
    MemoryInput* m = of(c);
    const std::uint64_t k =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(n), m->visible - m->at);
    std::memcpy(dst, m->bytes.data() + m->at, k);
    m->at += k;
    return static_cast<int32_t>(k);
  }
  static void close(void* c, intptr_t) { ++of(c)->closes; }
  static int32_t splitSeek(void* c, uint32_t lo, uint32_t hi) { return seek(c, 0, lo, hi); }
  static int32_t splitRead(void* c, void* dst, int32_t n) { return read(c, 0, dst, n); }

  demux_settings callerIo() {
    demux_settings s{};
    s.caller_io = 1;
    s.io_open = open;
    s.io_seek = seek;
    s.io_read = read;
    s.io_close = close;
    s.io_context = this;
    s.data_size = visible;
    return s;
  }
  demux_settings split() {
    demux_settings s{};
    s.split_mode = 1;
    s.split_seek = splitSeek;
    s.split_read = splitRead;
    s.split_context = this;
    s.data_size = visible;
    return s;
  }
};

bool sameChunks(const Pulled& a, const Pulled& b) {
  if (a.bytes != b.bytes || a.chunks.size() != b.chunks.size()) return false;
  for (std::size_t i = 0; i < a.chunks.size(); ++i) {
    if (a.chunks[i].pts != b.chunks[i].pts ||
        a.chunks[i].data_position != b.chunks[i].data_position ||
        a.chunks[i].pack_position != b.chunks[i].pack_position ||
        a.chunks[i].length != b.chunks[i].length)
      return false;
  }
  return true;
}

class DaskinIo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    if (!quillion::test::toolAvailable("ffmpeg")) return;
    const std::vector<std::string> in = {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25",
                                         "-f", "lavfi", "-i", "sine=r=48000",
                                         "-t", "1"};
    auto ts = in;
    ts.insert(ts.end(),
              {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts", dir_->file("in.ts").string()});
    ffmpeg(ts);
    // Packs of 60,000 bytes: skipping one unbound packet leaps far past a small buffer.
    auto big = in;
    big.insert(big.end(), {"-c:v", "mpeg1video", "-b:v", "3M", "-c:a", "mp2", "-packetsize",
                           "60000", "-f", "mpeg", dir_->file("big.mpg").string()});
    ffmpeg(big);
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { QUILLION_REQUIRE_TOOL("ffmpeg"); }
  static TempDir* dir_;
};
TempDir* DaskinIo::dir_ = nullptr;

TEST_F(DaskinIo, CallerIoAndSplitGiveTheSameChunksAsFiles) {
  for (const char* name : {"in.ts", "big.mpg"}) {
    SCOPED_TRACE(name);
    const auto file = dir_->file(name);
    Demux system;
    ASSERT_EQ(system.open(file), 0);
    const auto listing = system.streams();
    MemoryInput memory{readFile(file)};
    memory.visible = memory.bytes.size();
    {
      Demux caller(memory.callerIo());
      ASSERT_EQ(caller.open(file), 0);
      Demux split(memory.split());
      ASSERT_EQ(mpegDemuxOpen(split.ctx(), 0, nullptr), 0);
      EXPECT_EQ(caller.streams().size(), listing.size());
      EXPECT_EQ(split.streams().size(), listing.size());
      for (const auto& s : listing) {
        const Pulled reference = system.pullStream(s.program, s.stream);
        ASSERT_TRUE(reference.ended);
        ASSERT_FALSE(reference.bytes.empty());
        EXPECT_TRUE(sameChunks(caller.pullStream(s.program, s.stream), reference));
        EXPECT_TRUE(sameChunks(split.pullStream(s.program, s.stream), reference));
      }
    }
    // Every handle the library opened was closed again.
    EXPECT_GT(memory.opens, 0);
    EXPECT_EQ(memory.opens, memory.closes);
  }
}

// Long skips over unbound packets with the smallest buffer land where they should: the
// audio comes out as ffmpeg copies it.
TEST_F(DaskinIo, SmallBuffersSkipAnyDistance) {
  const auto file = dir_->file("big.mpg");
  const auto ref = dir_->file("big.mp2");
  ASSERT_TRUE(
      ffmpeg({"-i", file.string(), "-map", "0:a", "-c", "copy", "-f", "mp2", ref.string()}));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  for (const auto& s : d.streams()) {
    if (s.info.kind != DEMUX_KIND_MPEG_AUDIO) continue;
    const Pulled pulled = d.pullStream(s.program, s.stream, 1);  // raised to the smallest size
    EXPECT_TRUE(pulled.ended);
    EXPECT_TRUE(pulled.bytes == readFile(ref));
    return;
  }
  FAIL() << "no audio stream listed";
}

// Sleep closes the handle and wake opens it again; delivery goes on at the same byte, in
// every mode, whatever the caller's handles are.
TEST_F(DaskinIo, SleepThenWakeGoesOnAtTheSameByte) {
  const auto file = dir_->file("in.ts");
  MemoryInput memory{readFile(file)};
  memory.visible = memory.bytes.size();
  enum class Mode { System, CallerIo, Split };
  for (const Mode mode : {Mode::System, Mode::CallerIo, Mode::Split}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const demux_settings settings = mode == Mode::CallerIo ? memory.callerIo()
                                    : mode == Mode::Split  ? memory.split()
                                                           : demux_settings{};
    TestStream s;  // outlives the demuxer, which hands its record back when freed
    Demux d(settings);
    ASSERT_EQ(mpegDemuxOpen(d.ctx(), 0, mode == Mode::Split ? nullptr : file.c_str()), 0);
    const Pulled whole = d.pullStream(0, 0, 8192);
    const int parser = d.bind(0, 0, s, 8192);
    ASSERT_NE(parser, 0);
    Pulled resumed;
    for (int i = 0; i < 40; ++i) {
      demux_chunk_info c{};
      ASSERT_EQ(s.pull(c), 0);
      ASSERT_EQ(c.end, 0);
      resumed.bytes.insert(resumed.bytes.end(), c.data, c.data + c.length);
    }
    const int opensBefore = memory.opens;
    EXPECT_EQ(mpegDemuxSleepParser(d.ctx(), parser), 0);
    // Another reader moves the caller's input meanwhile.
    memory.at = 0;
    EXPECT_EQ(mpegDemuxWakeParser(d.ctx(), parser), 0);
    if (mode == Mode::CallerIo) {
      EXPECT_EQ(memory.opens, opensBefore + 1);
    }
    const Pulled rest = pullAll(s);
    ASSERT_TRUE(rest.ended);
    resumed.bytes.insert(resumed.bytes.end(), rest.bytes.begin(), rest.bytes.end());
    EXPECT_TRUE(resumed.bytes == whole.bytes);
  }
}

TEST_F(DaskinIo, AGrowingInputReportsItsNewSize) {
  const auto file = dir_->file("in.ts");
  MemoryInput memory{readFile(file)};
  memory.visible = memory.bytes.size() / 2 / 188 * 188;
  // Streams outlive the demuxer, which hands their records back when freed.
  TestStream s;
  Demux d(memory.callerIo());
  ASSERT_EQ(d.open(file), 0);
  EXPECT_EQ(d.fileInfo().size, memory.visible);
  const demux_parser_settings ps{};
  const int parser = mpegDemuxNewParser(d.ctx(), &ps);
  ASSERT_NE(parser, 0);
  EXPECT_EQ(mpegDemuxUpdateFilesize(d.ctx(), parser, 0, 0), 1);
  EXPECT_EQ(d.messages.errors.back(), "Invalid 0 file size");
  memory.visible = memory.bytes.size();
  EXPECT_EQ(mpegDemuxUpdateFilesize(d.ctx(), parser, static_cast<std::uint32_t>(memory.visible), 0),
            0);
  EXPECT_EQ(d.fileInfo().size, memory.bytes.size());
  // The parser now reads to the new end: all the audio arrives.
  demux_stream_settings ss{};
  ss.stream = 1;
  ss.output = &s.bs;
  ASSERT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 0);
  ASSERT_EQ(mpegDemuxSeek(d.ctx(), parser, 0, 0), 0);
  Demux full;
  ASSERT_EQ(full.open(file), 0);
  EXPECT_EQ(pullAll(s).bytes, full.pullStream(0, 1).bytes);
}

}  // namespace
