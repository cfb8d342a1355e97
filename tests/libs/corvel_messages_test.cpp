// SPDX-License-Identifier: GPL-2.0-or-later
// Every failure of a running job, made to happen by construction: inputs that end before
// their first units, an output that refuses one kind of pack, an allocator that refuses the
// scan-offset buffer, a payload reader that ends early. Each gives its exact message and
// result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

const std::vector<std::string> kMessagesVideo = {
    "-f",   "lavfi",      "-i",   "testsrc=size=352x288:rate=25:duration=0.4",
    "-c:v", "mpeg1video", "-b:v", "1150k",
    "-f",   "mpeg1video"};
const std::vector<std::string> kMessagesMpeg2Video = {
    "-f",   "lavfi",      "-i",   "testsrc=size=480x576:rate=25:duration=0.4",
    "-c:v", "mpeg2video", "-b:v", "2000k",
    "-f",   "mpeg2video"};
const std::vector<std::string> kMessagesAudio = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=44100:d=0.4", "-c:a", "mp2", "-b:a",
    "224k", "-f",    "mp2"};

mpeg_m_settings messagesPreset(std::int32_t p) {
  mpeg_m_settings s{};
  mpegOutMuxDefaults(&s, p);
  return s;
}

// One job into a memory output: New, InitFileBS, AddFile per input, run, Done, Free.
struct JobResult {
  std::vector<std::int32_t> added;
  std::int32_t run = -1;
};

JobResult runJob(const mpeg_m_settings& settings, const std::vector<EsInput>& inputs,
                 MemoryOutput& out, mpeg_get_rc getRc = collectingRc) {
  JobResult r;
  mpeg_m_muxer* mux = mpegOutMuxNew(getRc, &settings);
  EXPECT_NE(mux, nullptr);
  if (!mux) return r;
  EXPECT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  for (const EsInput& in : inputs) {
    stream_settings s{};
    s.kind = in.kind;
    r.added.push_back(mpegOutMuxAddFile(mux, &s, in.path.c_str(), in.bitRate));
  }
  r.run = mpegOutMux(mux);
  EXPECT_EQ(mpegOutMuxDone(mux, r.run != 0 ? 1 : 0), 0);
  mpegOutMuxFree(mux);
  return r;
}

// The stream id of the first packet after the pack header (and the system header when the
// pack carries one), or 0 when the write is no whole pack.
std::uint8_t firstPacketId(const std::uint8_t* p, std::uint32_t n) {
  if (n < 24 || p[3] != 0xBA) return 0;
  std::size_t at = (p[4] & 0xC0) == 0x40 ? 14 + (p[13] & 7) : 12;
  if (p[at + 3] == 0xBB) at += 6 + ((std::size_t{p[at + 4]} << 8) | p[at + 5]);
  return at + 4 <= n ? p[at + 3] : 0;
}

std::vector<std::uint8_t> cutAt(const std::vector<std::uint8_t>& bytes, std::size_t size) {
  return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)};
}

std::size_t firstPictureStart(const std::vector<std::uint8_t>& es) {
  const std::uint8_t code[4] = {0, 0, 1, 0};
  return static_cast<std::size_t>(std::search(es.begin(), es.end(), code, code + 4) - es.begin());
}

std::vector<std::uint8_t> timedSubpicture(std::uint64_t time, std::uint8_t fill) {
  std::vector<std::uint8_t> out;
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(time >> (8 * i)));
  const std::uint8_t unit[] = {0x00, 0x0C, 0x00, 0x06, fill, fill,
                               0x00, 0x00, 0x00, 0x06, 0x01, 0xFF};
  out.insert(out.end(), std::begin(unit), std::end(unit));
  return out;
}

// LPCM with its producer header: 16-bit stereo at 48 kHz, `frames` frames of 320 bytes.
std::vector<std::uint8_t> lpcmStream(int frames) {
  std::vector<std::uint8_t> out = {'L', 'P', 'C', 'M', 0x04, 0x80, 0, 0};
  out.resize(out.size() + 320u * static_cast<std::size_t>(frames), 0x11);
  return out;
}

// Inputs that end before their first units: the run stops with the message and the result
// of the kind that could not start.
TEST(CorvelMessages, FirstUnitsThatCannotBeRead) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kMessagesVideo);
  const auto audio = makeEs(dir, "a.mp2", kMessagesAudio);
  const std::vector<std::uint8_t> videoBytes = readFile(video);
  // The sequence header and group, but no picture.
  writeFile(dir.file("nopicture.m1v"), cutAt(videoBytes, firstPictureStart(videoBytes)));
  // A whole header for the analysis, not a whole frame (731 bytes at 224 kbit/s).
  writeFile(dir.file("short.mp2"), cutAt(readFile(audio), 200));
  writeFile(dir.file("one.lpcm"), lpcmStream(1));
  writeFile(dir.file("two.lpcm"), lpcmStream(2));
  // Raw subpicture units: a length that claims more than the file holds.
  writeFile(dir.file("short.sub"), {0x00, 0x40, 0x00, 0x00, 0x11, 0x11});

  struct Case {
    const char* what;
    std::int32_t preset;
    std::vector<EsInput> inputs;
    std::int32_t result;
    const char* message;
  };
  const Case cases[] = {
      {"video",
       0,
       {{dir.file("nopicture.m1v"), STREAM_KIND_VIDEO, 1150000}},
       1,
       "M021:Unable to read from video units."},
      {"subpicture",
       2,
       {{audio, STREAM_KIND_AUDIO, 0}, {dir.file("short.sub"), STREAM_KIND_SUBPICTURE, 0}},
       32,
       "M021:Unable to read from subpic units."},
      {"audio",
       0,
       {{dir.file("short.mp2"), STREAM_KIND_AUDIO, 0}},
       2,
       "M022:Unable to read from audio units"},
      {"pcm",
       2,
       {{dir.file("one.lpcm"), STREAM_KIND_AUDIO, 0}},
       2,
       "M023:Unable to read from PCM audio units"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    printed().clear();
    MemoryOutput out;
    const JobResult r = runJob(messagesPreset(c.preset), c.inputs, out);
    EXPECT_EQ(r.added, std::vector<std::int32_t>(c.inputs.size(), 0));
    EXPECT_EQ(r.run, c.result);
    EXPECT_EQ(printed().errors, std::vector<std::string>{c.message});
    EXPECT_TRUE(out.bytes.empty());
  }
  // Two PCM frames are enough.
  printed().clear();
  MemoryOutput out;
  const JobResult r =
      runJob(messagesPreset(2), {{dir.file("two.lpcm"), STREAM_KIND_AUDIO, 0}}, out);
  EXPECT_EQ(r.run, 0);
  EXPECT_TRUE(printed().errors.empty());
}

// An output that refuses one kind of pack: the job fails with the writer's message.
TEST(CorvelMessages, RefusedPacks) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kMessagesVideo);
  const auto audio = makeEs(dir, "a.mp2", kMessagesAudio);
  std::vector<std::uint8_t> subpictures;
  for (int i = 0; i < 3; ++i) {
    const auto unit = timedSubpicture(2700000u * static_cast<std::uint64_t>(i), 0x22);
    subpictures.insert(subpictures.end(), unit.begin(), unit.end());
  }
  writeFile(dir.file("s.sub"), subpictures);
  const EsInput v{video, STREAM_KIND_VIDEO, 1150000};
  const EsInput a{audio, STREAM_KIND_AUDIO, 0};
  const EsInput sp{dir.file("s.sub"), STREAM_KIND_SUBPICTURE | 8u, 0};

  struct Case {
    const char* what;
    std::int32_t preset;
    std::vector<EsInput> inputs;
    std::uint8_t refusedId;  // first packet of the refused pack
    const char* message;
  };
  const Case cases[] = {
      {"video", 0, {v, a}, 0xE0, "M027:Unable to write a video pack to program file"},
      {"audio", 0, {v, a}, 0xC0, "M028:Unable to write an audio pack to program file"},
      {"subpicture", 2, {v, sp}, 0xBD, "M028:Unable to write a subpic pack to program file"},
      {"padding", 0, {v, a}, 0xBE, "M029:Unable to write a padding pack to program file"},
      {"stream map", 2, {v, a}, 0xBC, "M029:Unable to write a PSM pack to program file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    printed().clear();
    MemoryOutput out;
    out.refuse = [&c](const std::uint8_t* p, std::uint32_t n) {
      return firstPacketId(p, n) == c.refusedId;
    };
    const JobResult r = runJob(messagesPreset(c.preset), c.inputs, out);
    EXPECT_EQ(r.run, 16);
    EXPECT_EQ(printed().errors, std::vector<std::string>{c.message});
  }
  // The last pack: Done still finishes, after the message.
  printed().clear();
  MemoryOutput out;
  out.refuse = [](const std::uint8_t* p, std::uint32_t n) {
    return n >= 4 && p[n - 4] == 0 && p[n - 3] == 0 && p[n - 2] == 1 && p[n - 1] == 0xB9;
  };
  const JobResult r = runJob(messagesPreset(2), {v, a}, out);
  EXPECT_EQ(r.run, 0);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"M026:Unable to write the last pack to program file"});
}

void* scanBufferRefused(std::size_t bytes) {
  // The staging ring of the scan offsets is the only allocation of this size.
  return bytes >= 3145728 ? nullptr : std::malloc(bytes);
}

void* refusingAllocatorRc(const char* name) {
  const std::string n = name;
  if (n == "malloc") return reinterpret_cast<void*>(scanBufferRefused);
  if (n == "free") return reinterpret_cast<void*>(std::free);
  return collectingRc(name);
}

TEST(CorvelMessages, ScanOffsetBufferRefused) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kMessagesMpeg2Video);
  const mpeg_m_settings svcd = messagesPreset(3);
  mpeg_m_muxer* mux = mpegOutMuxNew(refusingAllocatorRc, &svcd);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  printed().clear();
  EXPECT_EQ(mpegOutMuxAddFile(mux, &s, video.c_str(), 2000000), 16);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"M032:Unable to allocate memory for SVCD offsets buffer"});
  // The refused input left nothing behind.
  printed().clear();
  EXPECT_EQ(mpegOutMux(mux), 16);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"M003:No input filenames were specified"});
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
}

// The payload reader ends before the units the scan found: the job stops at the first
// pack it cannot fill.
TEST(CorvelMessages, PayloadReaderEndsEarly) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kMessagesVideo);
  const std::vector<std::uint8_t> bytes = readFile(video);
  writeFile(dir.file("half.m1v"), cutAt(bytes, bytes.size() / 2));
  const mpeg_m_settings settings = messagesPreset(0);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  bufstream* es = open_file_buf_read(dir.file("half.m1v").c_str(), 131328, nullptr);
  bufstream* units = open_file_buf_read(video.c_str(), 32768, nullptr);
  ASSERT_NE(es, nullptr);
  ASSERT_NE(units, nullptr);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFileBS(mux, &s, es, units, 1150000), 0);
  printed().clear();
  EXPECT_EQ(mpegOutMux(mux), 16);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"M034:Error reading from the file or fifo input."});
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
  (void)close_file_buf(es, 1);
  (void)close_file_buf(units, 1);
}

}  // namespace
}  // namespace quillion::test::corvel
