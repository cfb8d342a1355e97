// SPDX-License-Identifier: GPL-2.0-or-later
// The clock of a multiplex: a variable-rate job skips the time in which nothing is due, and
// its system clock still runs forward and stays ahead of no time stamp, as ffprobe and a
// pack-header reader written here find it. Split output: every file is a stream of its own
// that ffmpeg decodes, and the files together give back the inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

const std::vector<std::string> kTimingVideo = {
    "-f",   "lavfi",      "-i",   "testsrc=size=480x576:rate=25:duration=2",
    "-c:v", "mpeg2video", "-b:v", "2000k",
    "-bf",  "2",          "-g",   "12",
    "-f",   "mpeg2video"};
const std::vector<std::string> kTimingAudio = {
    "-f",   "lavfi", "-i", "sine=f=440:sample_rate=48000:d=2", "-c:a", "mp2", "-b:a",
    "192k", "-f",    "mp2"};

// The system clock reference of the MPEG-2 pack header at `at`, in 27 MHz ticks.
std::uint64_t packClock(const std::vector<std::uint8_t>& b, std::size_t at) {
  const std::uint8_t* p = b.data() + at + 4;
  const std::uint64_t base =
      (std::uint64_t{p[0] & 0x38u} << 27) | (std::uint64_t{p[0] & 3u} << 28) |
      (std::uint64_t{p[1]} << 20) | (std::uint64_t{p[2] & 0xF8u} << 12) |
      (std::uint64_t{p[2] & 3u} << 13) | (std::uint64_t{p[3]} << 5) | (std::uint64_t{p[4]} >> 3);
  const std::uint64_t extension = (std::uint64_t{p[4] & 3u} << 7) | (p[5] >> 1);
  return base * 300 + extension;
}

struct TimedPacket {
  std::string mediaType;
  double pts = -1;
  double dts = -1;
  std::int64_t pos = -1;
};

std::vector<TimedPacket> probeWithPositions(const std::filesystem::path& file) {
  const std::string csv =
      toolOutput({"ffprobe", "-v", "error", "-show_entries",
                  "packet=codec_type,pts_time,dts_time,pos", "-of", "csv=p=0", file.string()});
  std::vector<TimedPacket> out;
  std::istringstream lines(csv);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, ',')) f.push_back(x);
    if (f.size() < 4) continue;
    TimedPacket p;
    p.mediaType = f[0];
    p.pts = f[1] == "N/A" ? -1 : std::stod(f[1]);
    p.dts = f[2] == "N/A" ? -1 : std::stod(f[2]);
    p.pos = f[3] == "N/A" ? -1 : std::stoll(f[3]);
    out.push_back(p);
  }
  return out;
}

TEST(CorvelTiming, VariableRateClockSkipsAndStaysInBounds) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kTimingVideo);
  const auto audio = makeEs(dir, "a.mp2", kTimingAudio);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  ASSERT_EQ(settings.vbr, 1);
  // Twenty times the data rate: a pack takes 0.4 ms, so stepping through the two seconds
  // one empty pack at a time would take some 6,000 steps.
  settings.mux_rate_bps = 40000000;
  const auto out = dir.file("out.mpg");
  printed().clear();
  const MuxOutcome o = muxFiles(
      settings, {{video, STREAM_KIND_VIDEO, 2000000, 0}, {audio, STREAM_KIND_AUDIO, 0, 0}}, out);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  EXPECT_TRUE(printed().errors.empty());
  // No time stamp fell behind the clock, none ran more than the decoder's delay ahead of it.
  for (const std::string& w : printed().warnings) ADD_FAILURE() << w;
  const std::vector<std::uint8_t> bytes = readFile(out);
  const std::size_t packs = bytes.size() / 2048;

  // Every pack's clock runs forward.
  std::vector<std::uint64_t> clocks;
  for (std::size_t at = 0; at + 14 <= bytes.size(); at += 2048) {
    ASSERT_EQ(bytes[at + 3], 0xBA) << at;
    clocks.push_back(packClock(bytes, at));
  }
  ASSERT_EQ(clocks.size(), packs);
  bool skipped = false;
  const double packTicks = 2048.0 * 8 / 40000000 * 27000000;
  for (std::size_t i = 1; i < clocks.size(); ++i) {
    ASSERT_GT(clocks[i], clocks[i - 1]) << i;
    if (static_cast<double>(clocks[i] - clocks[i - 1]) > 3 * packTicks) skipped = true;
  }
  EXPECT_TRUE(skipped);
  // A clock that only stepped would have needed a step per pack time; the skips save most.
  const double stepsWithoutSkips = static_cast<double>(clocks.back() - clocks.front()) / packTicks;
  EXPECT_LT(500.0 * static_cast<double>(printed().progress.size() + 1), stepsWithoutSkips / 2)
      << printed().progress.size();

  // Each stamped packet against the clock of its pack.
  int stampedPictures = 0;
  for (const TimedPacket& p : probeWithPositions(out)) {
    if (p.pos < 0 || p.pts < 0) continue;
    const std::uint64_t scr = clocks[static_cast<std::size_t>(p.pos) / 2048];
    const double scrSeconds = static_cast<double>(scr) / 27000000.0;
    const double due = p.dts >= 0 ? p.dts : p.pts;
    SCOPED_TRACE(p.mediaType + " at " + std::to_string(p.pos));
    EXPECT_LE(scrSeconds, due + 1e-6);
    if (p.mediaType == "video") {
      EXPECT_LE(due - scrSeconds, 1.0);
      ++stampedPictures;
    }
  }
  // ffprobe gives a position and a time only to the pictures whose PES header it kept.
  EXPECT_GE(stampedPictures, 25);
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
}

// Closed groups of pictures: every file can start decoding at its first picture.
const std::vector<std::string> kSplitVideo = {
    "-f", "lavfi", "-i", "testsrc=size=480x576:rate=25:duration=2", "-c:v", "mpeg2video",
    // A constant rate: a group of pictures is larger than the split size, so every group
    // after the first opens a file of its own.
    "-b:v", "6000k", "-minrate", "6000k", "-maxrate", "6000k", "-bufsize", "1835k", "-bf", "2",
    "-g", "12", "-flags", "+cgop", "-sc_threshold", "1000000000", "-f", "mpeg2video"};
const std::vector<std::string> kSplitAudio = {
    "-f",   "lavfi", "-i", "sine=f=440:sample_rate=48000:d=2", "-c:a", "mp2", "-b:a",
    "192k", "-f",    "mp2"};

// Both streams of a file, taken out by ffmpeg.
void demuxBoth(const TempDir& dir, const std::filesystem::path& file,
               std::vector<std::uint8_t>& video, std::vector<std::uint8_t>& audio) {
  const auto v = dir.file(file.filename().string() + ".m2v");
  const auto a = dir.file(file.filename().string() + ".mp2");
  const ToolResult r = runTool({"ffmpeg", "-v", "error", "-y", "-i",         file.string(), "-map",
                                "0:v",    "-c", "copy",  "-f", "mpeg2video", v.string(),    "-map",
                                "0:a",    "-c", "copy",  "-f", "mp2",        a.string()});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::vector<std::uint8_t> vb = readFile(v), ab = readFile(a);
  video.insert(video.end(), vb.begin(), vb.end());
  audio.insert(audio.end(), ab.begin(), ab.end());
}

// The decoding time of a file's first video packet, and whether that packet is a key frame.
std::pair<double, bool> firstVideoPacket(const std::filesystem::path& file) {
  const std::string csv = toolOutput({"ffprobe", "-v", "error", "-select_streams", "v",
                                      "-show_entries", "packet=dts_time,flags", "-read_intervals",
                                      "%+#1", "-of", "csv=p=0", file.string()});
  const std::size_t comma = csv.find(',');
  if (comma == std::string::npos) return {-1, false};
  return {std::stod(csv.substr(0, comma)), csv[comma + 1] == 'K'};
}

TEST(CorvelSplit, FilesDecodeAloneAndTogetherGiveBackTheInputs) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kSplitVideo);
  const auto audio = makeEs(dir, "a.mp2", kSplitAudio);
  for (const std::int32_t reset : {0, 1}) {
    SCOPED_TRACE(reset);
    mpeg_m_settings settings{};
    mpegOutMuxDefaults(&settings, 2);
    settings.max_file_size = 1;  // MiB
    settings.reset_clocks = reset;
    const auto out = dir.file("out" + std::to_string(reset) + ".mpg");
    printed().clear();
    const MuxOutcome o = muxFiles(
        settings, {{video, STREAM_KIND_VIDEO, 6000000, 0}, {audio, STREAM_KIND_AUDIO, 0, 0}}, out);
    ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
    for (const std::string& w : printed().warnings) ADD_FAILURE() << w;
    // The writer numbers the files after the first.
    std::vector<std::filesystem::path> parts = {out};
    for (int n = 1;; ++n) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%03d", n);
      const auto part = dir.file("out" + std::to_string(reset) + suffix + ".mpg");
      if (!std::filesystem::exists(part)) break;
      parts.push_back(part);
    }
    ASSERT_GE(parts.size(), 3u);
    std::vector<std::uint8_t> videoBack, audioBack;
    std::vector<double> starts;
    int endedSequences = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      SCOPED_TRACE(parts[i].filename().string());
      const std::uint64_t size = std::filesystem::file_size(parts[i]);
      if (i + 1 < parts.size()) {
        EXPECT_LE(size, 1048576u);
      }
      const ToolResult decode =
          runTool({"ffmpeg", "-v", "error", "-i", parts[i].string(), "-f", "null", "-"});
      EXPECT_EQ(decode.output, "");
      const auto [dts, key] = firstVideoPacket(parts[i]);
      EXPECT_TRUE(key);
      starts.push_back(dts);
      // Each file opens with a pack header and ends with the end code.
      const std::vector<std::uint8_t> bytes = readFile(parts[i]);
      ASSERT_GT(bytes.size(), 2048u);
      EXPECT_EQ(bytes[3], 0xBA);
      EXPECT_EQ(bytes[bytes.size() - 1], 0xB9);
      for (std::size_t at = 2048; at + 2048 <= bytes.size(); at += 2048) {
        EXPECT_GT(packClock(bytes, at), packClock(bytes, at - 2048)) << at;
      }
      demuxBoth(dir, parts[i], videoBack, audioBack);
      // A file that ends before the input does ends its video sequence when there was room.
      const std::uint8_t endCode[4] = {0, 0, 1, 0xB7};
      if (i + 1 < parts.size() && videoBack.size() >= 4 &&
          std::equal(endCode, endCode + 4, videoBack.end() - 4)) {
        videoBack.resize(videoBack.size() - 4);
        ++endedSequences;
      }
    }
    EXPECT_GT(endedSequences, 0);
    EXPECT_TRUE(videoBack == readFile(video)) << "video differs";
    EXPECT_TRUE(audioBack == readFile(audio)) << "audio differs";
    for (std::size_t i = 1; i < starts.size(); ++i) {
      if (reset) {
        EXPECT_NEAR(starts[i], starts[0], 1e-3) << i;
      } else {
        EXPECT_GT(starts[i], starts[i - 1] + 0.2) << i;
      }
    }
  }
}

// A caller's new-segment notice ends the file at the next I picture, once; the next file
// gets its index headers again and its index records count bytes from its own start.
TEST(CorvelSplit, NewSegmentNoticeSplitsOnce) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kTimingVideo);  // 50 pictures, I every 12
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  std::vector<std::size_t> splitsAt;
  out.onNotice = [&](std::uint32_t code, const std::uint8_t*, std::uint32_t) {
    if (code == 0xF0040) splitsAt.push_back(out.bytes.size());
  };
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings v{};
  v.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 2000000), 0);
  mpegOutMuxAuxinfo(mux, 0, 0xF0040, nullptr, 0);
  ASSERT_EQ(mpegOutMux(mux), 0);
  ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);
  ASSERT_EQ(splitsAt.size(), 1u);
  std::size_t headers = 0, ends = 0;
  std::vector<std::uint64_t> positionsAfter;
  bool after = false;
  for (const MemoryOutput::Notice& n : out.notices) {
    if (n.code == 0xF0100) ++headers;
    if (n.code == 0x1B9) ++ends;
    if (n.code == 0xF0040) after = true;
    if (after && n.code == 0xF0200) {
      std::uint64_t position;
      std::memcpy(&position, n.data.data(), 8);
      positionsAfter.push_back(position);
    }
  }
  EXPECT_EQ(headers, 2u);
  EXPECT_EQ(ends, 2u);  // each file ends with its end code
  ASSERT_FALSE(positionsAfter.empty());
  EXPECT_LT(*std::max_element(positionsAfter.begin(), positionsAfter.end()),
            out.bytes.size() - splitsAt[0]);
  // The second file opens with its own stream map, at an I picture of the second group.
  const std::vector<std::uint8_t> second(
      out.bytes.begin() + static_cast<std::ptrdiff_t>(splitsAt[0]), out.bytes.end());
  writeFile(dir.file("second.mpg"), second);
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", dir.file("second.mpg").string(), "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
  const std::vector<std::uint8_t> firstFile(
      out.bytes.begin(), out.bytes.begin() + static_cast<std::ptrdiff_t>(splitsAt[0]));
  writeFile(dir.file("first.mpg"), firstFile);
  const auto [dts, key] = firstVideoPacket(dir.file("second.mpg"));
  EXPECT_TRUE(key);
  // The preset resets the clocks: the second file starts as the first did.
  ASSERT_EQ(settings.reset_clocks, 1);
  EXPECT_NEAR(dts, firstVideoPacket(dir.file("first.mpg")).first, 1e-3);
}

}  // namespace
}  // namespace quillion::test::corvel
