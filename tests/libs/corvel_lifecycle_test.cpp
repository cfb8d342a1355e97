// SPDX-License-Identifier: GPL-2.0-or-later
// The life of a multiplexer instance and the refusals of its file-mode calls, each with the
// message the caller's printer receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

const std::vector<std::string> kShortVideo = {
    "-f",   "lavfi",      "-i",   "testsrc=size=352x288:rate=25:duration=0.4",
    "-c:v", "mpeg1video", "-b:v", "1150k",
    "-f",   "mpeg1video"};
const std::vector<std::string> kShortAudio = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=44100:d=0.4", "-c:a", "mp2", "-b:a",
    "224k", "-f",    "mp2"};

mpeg_m_settings presetOf(std::int32_t p) {
  mpeg_m_settings s{};
  mpegOutMuxDefaults(&s, p);
  return s;
}

stream_settings kindOf(std::uint32_t kind, std::uint8_t id = 0) {
  stream_settings s{};
  s.kind = kind;
  s.stream_id = id;
  return s;
}

// An instance that frees itself; Done first when a test left it initialised.
struct Muxer {
  explicit Muxer(const mpeg_m_settings& s) : mux(mpegOutMuxNew(collectingRc, &s)) {}
  ~Muxer() {
    if (mux) {
      (void)mpegOutMuxDone(mux, 1);
      mpegOutMuxFree(mux);
    }
  }
  mpeg_m_muxer* mux;
};

TEST(CorvelLifecycle, StreamSettingsIsPacked) {
  static_assert(sizeof(stream_settings) == 82);
  static_assert(sizeof(mpeg_m_settings) == 108);
  stream_settings s{};
  s.kind = STREAM_KIND_AUDIO;
  const auto* b = reinterpret_cast<const std::uint8_t*>(&s);
  EXPECT_EQ(b[16], 0x02);  // the kind word at offset 14, host order
}

TEST(CorvelLifecycle, NewRefusesTypesItCannotMultiplex) {
  mpeg_m_settings s = presetOf(2);
  s.mux_type = 38;
  printed().clear();
  EXPECT_EQ(mpegOutMuxNew(collectingRc, &s), nullptr);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"M057:Invalid mux type setting (38), range is 0 .. 37"});
}

TEST(CorvelLifecycle, CallsOnNothingFailQuietly) {
  printed().clear();
  EXPECT_EQ(mpegOutMux(nullptr), 16);
  EXPECT_EQ(mpegOutMuxDone(nullptr, 0), 16);
  EXPECT_EQ(mpegOutMuxInitFile(nullptr, nullptr, "x"), 16);
  EXPECT_EQ(mpegOutMuxAddFile(nullptr, nullptr, "x", 0), 16);
  mpegOutMuxFree(nullptr);
  mpegOutMuxAuxinfo(nullptr, 0, 0xF0040, nullptr, 0);
  EXPECT_TRUE(printed().errors.empty());
}

TEST(CorvelLifecycle, RefusalsCarryTheirMessages) {
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kShortVideo);
  writeFile(dir.file("foreign.bin"), patternBytes(4000));
  std::vector<std::uint8_t> truncated = readFile(video);
  truncated.resize(10);
  writeFile(dir.file("truncated.m1v"), truncated);
  const std::string missing = dir.file("missing.m1v").string();
  const std::string out = dir.file("out.mpg").string();
  const stream_settings videoKind = kindOf(STREAM_KIND_VIDEO);
  const stream_settings audioKind = kindOf(STREAM_KIND_AUDIO);

  Muxer m(presetOf(0));
  ASSERT_NE(m.mux, nullptr);
  struct Case {
    const char* what;
    std::int32_t (*call)(mpeg_m_muxer*, const std::string&, const std::string&, const Case&);
    std::string message;
  };
  printed().clear();
  EXPECT_EQ(mpegOutMuxInitFile(m.mux, nullptr, ""), 16);
  EXPECT_EQ(mpegOutMuxInitFile(m.mux, nullptr, nullptr), 16);
  EXPECT_EQ(mpegOutMuxInitFileBS(m.mux, nullptr, nullptr), 16);
  EXPECT_EQ(mpegOutMuxInitFile(m.mux, nullptr, dir.file("no/such/folder.mpg").c_str()), 16);
  EXPECT_EQ(printed().errors, (std::vector<std::string>{"M004:An output filename must be specified",
                                                        "M004:An output filename must be specified",
                                                        "M004:An output filename must be specified",
                                                        "M014:Unable to open program file"}));
  ASSERT_EQ(mpegOutMuxInitFile(m.mux, nullptr, out.c_str()), 0);

  struct AddCase {
    const stream_settings* settings;
    std::string name;
    std::int32_t bitRate;
    std::string message;
  };
  const AddCase adds[] = {
      {nullptr, video.string(), 0, "Invalid stream_settings parameter"},
      {&videoKind, "", 0, "Invalid input filename parameter"},
      {&videoKind, missing, 0, "M005:Unable to open video file"},
      {&audioKind, missing, 0, "M006:Unable to open audio file"},
      {&videoKind, dir.file("foreign.bin").string(), 0,
       "M009:Unable to get the first video header from file"},
      {&videoKind, dir.file("truncated.m1v").string(), 1150000,
       "M009:Unable to get the first video header from file"},
      // A variable-rate header needs the rate from the caller.
      {&videoKind, video.string(), 0, "M009:Unable to get the first video header from file"},
      {&audioKind, dir.file("foreign.bin").string(), 0,
       "M011:Unable to get the first audio header from file"},
      {&audioKind, video.string(), 0, "M011:Unable to get the first audio header from file"},
  };
  for (const AddCase& c : adds) {
    SCOPED_TRACE(c.message + " " + c.name);
    printed().clear();
    EXPECT_EQ(
        mpegOutMuxAddFile(m.mux, c.settings, c.name.empty() ? nullptr : c.name.c_str(), c.bitRate),
        16);
    EXPECT_EQ(printed().errors, std::vector<std::string>{c.message});
  }
  EXPECT_EQ(mpegOutMuxAddFileBS(m.mux, &videoKind, nullptr, nullptr, 0), 16);
  // Nothing was added, so there is nothing to multiplex.
  printed().clear();
  EXPECT_EQ(mpegOutMux(m.mux), 16);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"M003:No input filenames were specified"});
}

TEST(CorvelLifecycle, InputListsAndOptionBits) {
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kShortVideo);
  const auto audio = makeEs(dir, "a.mp2", kShortAudio);
  Muxer m(presetOf(0));
  ASSERT_EQ(mpegOutMuxInitFile(m.mux, nullptr, dir.file("out.mpg").c_str()), 0);
  printed().clear();
  // Option bits 1 and 2 only with bit 0; a record of no kind.
  for (std::uint32_t kind : {STREAM_KIND_VIDEO | 2u, STREAM_KIND_VIDEO | 4u, 0u}) {
    const stream_settings s = kindOf(kind);
    EXPECT_EQ(mpegOutMuxAddFile(m.mux, &s, video.c_str(), 1150000), 16) << kind;
  }
  // Four video inputs name the ids the audio pool would hand out first.
  for (std::uint8_t id : {0xC0, 0xC1, 0xC2, 0xC3}) {
    const stream_settings s = kindOf(STREAM_KIND_VIDEO, id);
    EXPECT_EQ(mpegOutMuxAddFile(m.mux, &s, video.c_str(), 1150000), 0);
  }
  const stream_settings audioKind = kindOf(STREAM_KIND_AUDIO);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(mpegOutMuxAddFile(m.mux, &audioKind, audio.c_str(), 0), 0) << i;
  // The pool has no id left: the input is refused rather than given none.
  EXPECT_EQ(mpegOutMuxAddFile(m.mux, &audioKind, audio.c_str(), 0), 16);
  // Four more video inputs fill the list; a ninth is refused.
  const stream_settings videoKind = kindOf(STREAM_KIND_VIDEO);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(mpegOutMuxAddFile(m.mux, &videoKind, video.c_str(), 1150000), 0) << i;
  EXPECT_EQ(mpegOutMuxAddFile(m.mux, &videoKind, video.c_str(), 1150000), 16);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"M011:Unable to get the first audio header from file"});
}

// Eight streams with distinct ids come out, the named ones as named.
TEST(CorvelLifecycle, NamedIdsAreKeptAndNeverHandedOutAgain) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto audio = makeEs(dir, "a.mp2", kShortAudio);
  const auto out = dir.file("out.mpg");
  std::vector<EsInput> inputs;
  inputs.push_back({audio, STREAM_KIND_AUDIO, 0, 0xC2});
  for (int i = 0; i < 3; ++i) inputs.push_back({audio, STREAM_KIND_AUDIO, 0, 0});
  const MuxOutcome o = muxFiles(presetOf(0), inputs, out);
  ASSERT_EQ(o.run, 0);
  const std::string ids = toolOutput(
      {"ffprobe", "-v", "error", "-show_entries", "stream=id", "-of", "csv=p=0", out.string()});
  std::istringstream lines(ids);
  std::vector<std::string> seen;
  for (std::string l; std::getline(lines, l);) seen.push_back(l);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"0x1c0", "0x1c1", "0x1c2", "0x1c3"}));
}

TEST(CorvelLifecycle, ProgressEveryFiveHundredStepsAndYieldStops) {
  TempDir dir;
  std::vector<std::string> twoSeconds = kShortVideo;
  twoSeconds[3] = "testsrc=size=352x288:rate=25:duration=2";
  const auto video = makeEs(dir, "v.m1v", twoSeconds);
  mpeg_m_settings s = presetOf(0);
  s.sector_size = 286;  // many small packs: more than 500 steps from a short input
  s.vbr = 0;
  s.mux_rate = 3528;
  for (int stopAt : {0, 1}) {
    SCOPED_TRACE(stopAt);
    printed().clear();
    printed().stopAtYield = stopAt;
    const MuxOutcome o = muxFiles(s, {{video, STREAM_KIND_VIDEO, 1150000, 0}}, dir.file("out.mpg"));
    if (stopAt == 0) {
      EXPECT_EQ(o.run, 0);
      ASSERT_GE(printed().progress.size(), 2u);
      EXPECT_EQ(printed().progress[0], "Multiplexing access unit 500");
      EXPECT_EQ(printed().progress[1], "Multiplexing access unit 1000");
      EXPECT_EQ(printed().yields, static_cast<int>(printed().progress.size()));
    } else {
      EXPECT_EQ(o.run, 16);
      EXPECT_EQ(printed().progress, std::vector<std::string>{"Multiplexing access unit 500"});
    }
  }
}

TEST(CorvelLifecycle, DoneKeepsSettingsForTheNextJob) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto audio = makeEs(dir, "a.mp2", kShortAudio);
  Muxer m(presetOf(0));
  for (int job = 0; job < 2; ++job) {
    const auto out = dir.file("job" + std::to_string(job) + ".mpg");
    ASSERT_EQ(mpegOutMuxInitFile(m.mux, nullptr, out.c_str()), 0);
    const stream_settings a = kindOf(STREAM_KIND_AUDIO);
    ASSERT_EQ(mpegOutMuxAddFile(m.mux, &a, audio.c_str(), 0), 0);
    ASSERT_EQ(mpegOutMux(m.mux), 0);
    ASSERT_EQ(mpegOutMuxDone(m.mux, 0), 0);
    EXPECT_EQ(probePackets(out).size(), probePackets(audio).size());
  }
  EXPECT_EQ(readFile(dir.file("job0.mpg")), readFile(dir.file("job1.mpg")));
}

TEST(CorvelLifecycle, NamesTakeOnlyTheSecondAudio) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto audio = makeEs(dir, "a.mp2", kShortAudio);
  const auto out = dir.file("out.mpg");
  Muxer m(presetOf(0));
  printed().clear();
  ASSERT_EQ(mpegOutMuxInitNames(m.mux, out.c_str(), nullptr, audio.c_str(), nullptr, 0), 0);
  ASSERT_EQ(mpegOutMux(m.mux), 0);
  ASSERT_EQ(mpegOutMuxDone(m.mux, 0), 0);
  const std::string streams = toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                          "stream=codec_name", "-of", "csv=p=0", out.string()});
  EXPECT_EQ(streams, "mp2\n");
  // Without any input the names call fails and leaves the instance finished.
  printed().clear();
  EXPECT_EQ(mpegOutMuxInitNames(m.mux, out.c_str(), nullptr, "", nullptr, 0), 16);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"M003:No input filenames were specified"});
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// This build writes no transport packets: those profiles are refused when the output is set
// up, not written wrongly.
TEST(CorvelLifecycle, ProfilesWithoutWritersAreRefusedAtInit) {
  TempDir dir;
  for (std::int32_t preset : {5, 8, 11, 19}) {
    SCOPED_TRACE(preset);
    Muxer m(presetOf(preset));
    ASSERT_NE(m.mux, nullptr);
    EXPECT_EQ(mpegOutMuxInitFile(m.mux, nullptr, dir.file("out.mpg").c_str()), 16);
    MemoryOutput out;
    EXPECT_EQ(mpegOutMuxInitFileBS(m.mux, nullptr, out.stream()), 16);
    EXPECT_EQ(mpegOutMuxInitStream(m.mux, nullptr, out.stream()), 16);
    bufstream* fifo = new_fifo_buf(65536, 4097);
    EXPECT_EQ(mpegOutMuxInit(m.mux, out.stream(), nullptr, fifo + 1), 16);
    free_fifo_buf(fifo);
  }
}

// A pushed input needs the output a push-mode set-up names: added before it (or after Done),
// it is refused, where its set-up would have told an output that is not there about it.
TEST(CorvelLifecycle, PushedInputsWaitForThePushSetUp) {
  for (std::int32_t preset : {2, 4, 19}) {
    SCOPED_TRACE(preset);
    Muxer m(presetOf(preset));
    ASSERT_NE(m.mux, nullptr);
    bufstream* fifo = new_fifo_buf(65536, 4097);
    const stream_settings videoKind = kindOf(STREAM_KIND_VIDEO);
    const auto notices = fifo[1].auxinfo;
    printed().clear();
    EXPECT_EQ(mpegOutMuxAddStream(m.mux, &videoKind, fifo + 1), 16);
    EXPECT_EQ(printed().errors,
              std::vector<std::string>{"M015:An output stream must be specified"});
    EXPECT_TRUE(fifo[1].auxinfo == notices) << "the producer's stream is left as it was";
    if (preset != 19) {
      MemoryOutput out;
      ASSERT_EQ(mpegOutMuxInitStream(m.mux, nullptr, out.stream()), 0);
      EXPECT_EQ(mpegOutMuxAddStream(m.mux, &videoKind, fifo + 1), 0);
      ASSERT_EQ(mpegOutMuxDone(m.mux, 1), 0);
      EXPECT_EQ(mpegOutMuxAddStream(m.mux, &videoKind, fifo + 1), 16);
    }
    free_fifo_buf(fifo);
  }
}

// A Video CD gives its fourth pack to the first audio input when that input can take it, and
// only then.
TEST(CorvelLifecycle, VideoCdFourthPackGoesToReadyAudioOnly) {
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kShortVideo);
  const auto audio = makeEs(dir, "a.mp2", kShortAudio);
  for (std::uint32_t audioDelay : {0u, 3000u}) {
    SCOPED_TRACE(audioDelay);
    const mpeg_m_settings vcd = presetOf(1);
    mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &vcd);
    ASSERT_NE(mux, nullptr);
    MemoryOutput out;
    ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
    stream_settings v = kindOf(STREAM_KIND_VIDEO);
    ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 1150000), 0);
    stream_settings a = kindOf(STREAM_KIND_AUDIO);
    a.delay_ms = audioDelay;
    ASSERT_EQ(mpegOutMuxAddFile(mux, &a, audio.c_str(), 0), 0);
    ASSERT_EQ(mpegOutMux(mux), 0);
    ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
    mpegOutMuxFree(mux);
    ASSERT_GT(out.bytes.size(), 4u * 2324);
    // The packet after the fourth pack's 12-byte header.
    const std::uint8_t* packet = out.bytes.data() + 3 * 2324 + 12;
    ASSERT_EQ(packet[2], 1);
    if (audioDelay == 0) {
      EXPECT_EQ(packet[3], 0xC0);
    } else {
      EXPECT_NE(packet[3], 0xC0);
    }
  }
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// The buffer bound of a stream in the system header of the first pack (MPEG-2 layout), in
// bytes; 0 when the stream is not listed.
std::uint32_t systemHeaderBound(const std::vector<std::uint8_t>& b, std::uint8_t streamId) {
  std::size_t at = 14 + (b[13] & 7);
  if (b.size() < at + 12 || b[at + 3] != 0xBB) return 0;
  const std::size_t end = at + 6 + ((std::size_t{b[at + 4]} << 8) | b[at + 5]);
  for (std::size_t e = at + 12; e + 3 <= end; e += 3) {
    if (b[e] != streamId) continue;
    const std::uint32_t size = ((b[e + 1] & 0x1Fu) << 8) | b[e + 2];
    return size * ((b[e + 1] & 0x20) ? 1024u : 128u);
  }
  return 0;
}

// The size notice gives a still-picture input of stream id 0xE2 a buffer for one whole
// picture of that size; other inputs keep theirs.
TEST(CorvelLifecycle, SizeNoticeSizesStillPictureBuffers) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v",
                            {"-f", "lavfi", "-i", "testsrc=size=704x576:rate=25:duration=0.2",
                             "-c:v", "mpeg2video", "-b:v", "4000k", "-f", "mpeg2video"});
  struct Case {
    std::uint8_t id;
    std::uint32_t kind;
    bool notice;
    std::uint32_t bound;
  };
  const Case cases[] = {
      {0xE2, STREAM_KIND_VIDEO | 3u, true, 293u * 1024},  // ceil(300,000 / 1,024) KiB
      {0xE2, STREAM_KIND_VIDEO | 3u, false, 230u * 1024},
      {0xE1, STREAM_KIND_VIDEO | 3u, true, 230u * 1024},  // sectors only
      {0xE2, STREAM_KIND_VIDEO, true, 230u * 1024},       // not a still-picture input
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + std::to_string(c.kind) + " " +
                 std::to_string(c.notice));
    Muxer m(presetOf(3));
    ASSERT_NE(m.mux, nullptr);
    MemoryOutput out;
    ASSERT_EQ(mpegOutMuxInitFileBS(m.mux, nullptr, out.stream()), 0);
    stream_settings v = kindOf(c.kind, c.id);
    ASSERT_EQ(mpegOutMuxAddFile(m.mux, &v, video.c_str(), 4000000), 0);
    if (c.notice) mpegOutMuxAuxinfo(m.mux, 300000, 0xD0000, nullptr, 0);
    ASSERT_EQ(mpegOutMux(m.mux), 0);
    ASSERT_EQ(mpegOutMuxDone(m.mux, 0), 0);
    EXPECT_EQ(systemHeaderBound(out.bytes, c.id), c.bound);
  }
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// Option bit 2 of a still-picture input turns the scan information of a Super Video CD off:
// no block is written, and the I pictures are announced as entry points instead.
TEST(CorvelLifecycle, StillInputTurnsScanInformationOff) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kShortVideo);
  for (const std::uint32_t options : {0u, 5u}) {
    SCOPED_TRACE(options);
    Muxer m(presetOf(3));
    ASSERT_NE(m.mux, nullptr);
    MemoryOutput out;
    ASSERT_EQ(mpegOutMuxInitFileBS(m.mux, nullptr, out.stream()), 0);
    stream_settings v = kindOf(STREAM_KIND_VIDEO | options);
    ASSERT_EQ(mpegOutMuxAddFile(m.mux, &v, video.c_str(), 1150000), 0);
    ASSERT_EQ(mpegOutMux(m.mux), 0);
    ASSERT_EQ(mpegOutMuxDone(m.mux, 0), 0);
    const std::uint8_t head[6] = {0, 0, 1, 0xB2, 0x10, 0x0E};
    const bool blocks =
        std::search(out.bytes.begin(), out.bytes.end(), head, head + 6) != out.bytes.end();
    std::size_t entries = 0;
    for (const MemoryOutput::Notice& n : out.notices)
      if (n.code == 0xE0002 && n.data.size() == 16 && n.data[8] == 0) ++entries;
    if (options == 0) {
      EXPECT_TRUE(blocks);
    } else {
      EXPECT_FALSE(blocks);
      EXPECT_EQ(entries, 1u);  // one group of pictures
    }
  }
}

}  // namespace
}  // namespace quillion::test::corvel
