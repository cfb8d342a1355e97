// SPDX-License-Identifier: GPL-2.0-or-later
// Time stamps and positions of Daskin's chunks against `ffprobe -show_packets`: in a
// transport stream every PES start is one packet there (its position is the transport
// packet's, its time stamp the PES's); in a program stream every time stamp we hand out is
// one of a packet's.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::TempDir;
using namespace quillion::test::daskin;

using PosPts = std::pair<std::int64_t, std::int64_t>;

// (pos, pts) of ffprobe's packets of one stream; positions -1 for N/A, time stamps in 27 MHz
// units, -1 for N/A.
std::vector<PosPts> probedPackets(const std::filesystem::path& file, int index) {
  std::vector<PosPts> out;
  for (const auto& line : ffprobeLines({"-select_streams", std::to_string(index), "-show_packets",
                                        "-show_entries", "packet=pts,pos"},
                                       file)) {
    const auto f = splitCsv(line);
    if (f.size() < 2) continue;
    const std::int64_t pts = f[0] == "N/A" ? -1 : std::stoll(f[0]) * 300;
    const std::int64_t pos = f[1] == "N/A" ? -1 : std::stoll(f[1]);
    out.emplace_back(pos, pts);
  }
  return out;
}

// ffprobe's (index, id) of each stream.
std::vector<std::pair<int, std::uint32_t>> probeStreams(const std::filesystem::path& file) {
  std::vector<std::pair<int, std::uint32_t>> out;
  for (const auto& line : ffprobeLines({"-show_entries", "stream=index,id"}, file)) {
    const auto f = splitCsv(line);
    if (f.size() >= 2) out.emplace_back(std::stoi(f[0]), std::stoul(f[1], nullptr, 16));
  }
  return out;
}

// Our chunks that begin a PES payload: the first of each pack position with a time stamp
// or at a new pack.
std::set<PosPts> pesStarts(const Pulled& pulled) {
  std::set<PosPts> out;
  for (const auto& c : pulled.chunks)
    if (c.pts != -1) out.emplace(static_cast<std::int64_t>(c.pack_position), c.pts);
  return out;
}

struct TimingCase {
  const char* name;
  std::vector<std::string> args;
  // ffprobe places a 192-byte packet at its 4-byte prefix, the chunks at its sync byte.
  std::int64_t prefix;
};

class DaskinTransportTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(DaskinTransportTiming, PesStartsAreFfprobePackets) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  const TimingCase& c = GetParam();
  TempDir dir;
  const auto file = dir.file("in.ts");
  auto args = c.args;
  args.push_back(file.string());
  ASSERT_TRUE(ffmpeg(args));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 2u);
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE("stream " + std::to_string(index));
    const Pulled pulled = d.pullStream(0, index);
    ASSERT_TRUE(pulled.ended);
    std::set<PosPts> expected;
    for (const auto& [pos, pts] : probedPackets(file, index))
      if (pos >= 0 && pts >= 0) expected.emplace(pos + c.prefix, pts);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(pesStarts(pulled), expected);
    // Only the first chunk of a PES carries its time stamp; later ones carry none.
    std::size_t withPts = 0;
    for (const auto& chunk : pulled.chunks) withPts += chunk.pts != -1;
    EXPECT_LT(withPts, pulled.chunks.size());
  }
}

const std::vector<std::string> kTsArgs = {"-f",   "lavfi", "-i",   "testsrc=size=176x144:rate=25",
                                          "-f",   "lavfi", "-i",   "sine=r=48000",
                                          "-t",   "1",     "-c:v", "mpeg2video",
                                          "-c:a", "mp2",   "-f",   "mpegts"};

std::vector<std::string> with(std::vector<std::string> base, const std::vector<std::string>& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

INSTANTIATE_TEST_SUITE_P(
    Packets, DaskinTransportTiming,
    ::testing::Values(TimingCase{"ts188", kTsArgs, 0},
                      TimingCase{"ts192", with(kTsArgs, {"-mpegts_m2ts_mode", "1"}), 4}),
    [](const auto& p) { return std::string(p.param.name); });

// In a program stream, every time stamp a chunk carries is one ffprobe reports for that
// stream, and the chunks' pack positions are pack headers.
TEST(DaskinProgramTiming, TimeStampsAreFfprobes) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto file = dir.file("in.vob");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-f", "lavfi", "-i",
                      "sine=r=48000", "-t", "1", "-target", "pal-dvd", file.string()}));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  const auto bytes = quillion::test::readFile(file);
  const auto probed = probeStreams(file);
  for (const auto& s : d.streams()) {
    if (s.info.stream_id == 0xBF) continue;  // navigation copies carry no time stamps
    SCOPED_TRACE("stream id " + std::to_string(s.info.stream_id));
    const Pulled pulled = d.pullStream(s.program, s.stream);
    ASSERT_TRUE(pulled.ended);
    const std::uint32_t key =
        s.info.sub_stream_id ? s.info.sub_stream_id : 0x100u | s.info.stream_id;
    int index = -1;
    for (const auto& [i, id] : probed)
      if (id == key) index = i;
    ASSERT_GE(index, 0);
    std::set<std::int64_t> theirs;
    for (const auto& [pos, pts] : probedPackets(file, index)) theirs.insert(pts);
    std::size_t stamped = 0;
    for (const auto& c : pulled.chunks) {
      ASSERT_LT(c.pack_position + 4, bytes.size());
      EXPECT_EQ(bytes[c.pack_position + 3], 0xBA);
      if (c.pts == -1) continue;
      ++stamped;
      EXPECT_EQ(theirs.count(c.pts), 1u) << c.pts;
    }
    EXPECT_GT(stamped, 0u);
  }
}

}  // namespace
