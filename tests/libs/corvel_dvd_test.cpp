// SPDX-License-Identifier: GPL-2.0-or-later
// DVD program streams from elementary-stream files: whole 2,048-byte packs, a navigation
// pack at the start of every video object unit whose presentation and search information,
// read back with the DVD-Video layout, agrees with the video packets around it; ffprobe
// reads the streams, and dvdauthor and lsdvd take the result as a title.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

// Closed groups of twelve pictures: each unit starts with the picture it shows first.
const std::vector<std::string> kDvdVideo = {"-f",
                                            "lavfi",
                                            "-i",
                                            "testsrc=size=720x576:rate=25:duration=4",
                                            "-c:v",
                                            "mpeg2video",
                                            "-b:v",
                                            "4000k",
                                            "-minrate",
                                            "4000k",
                                            "-maxrate",
                                            "4000k",
                                            "-bufsize",
                                            "1835k",
                                            "-bf",
                                            "2",
                                            "-g",
                                            "12",
                                            "-flags",
                                            "+cgop",
                                            "-sc_threshold",
                                            "1000000000",
                                            "-f",
                                            "mpeg2video"};
const std::vector<std::string> kAc3 = {"-f",   "lavfi", "-i",   "sine=f=997:sample_rate=48000:d=4",
                                       "-c:a", "ac3",   "-b:a", "192k",
                                       "-f",   "ac3"};
const std::vector<std::string> kMp2 = {"-f",   "lavfi", "-i",   "sine=f=440:sample_rate=48000:d=4",
                                       "-c:a", "mp2",   "-b:a", "224k",
                                       "-f",   "mp2"};

constexpr std::size_t kSector = 2048;
constexpr std::uint32_t kTicks90PerFrame = 3600;  // 25 frames per second

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool startCode(const std::uint8_t* p, std::uint8_t id) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == id;
}

// SCR base of an MPEG-2 pack header, 90 kHz.
std::uint64_t scrOf(const std::uint8_t* pack) {
  const std::uint8_t* b = pack + 4;
  return (std::uint64_t{b[0]} >> 3 & 7) << 30 | (std::uint64_t{b[0]} & 3) << 28 |
         std::uint64_t{b[1]} << 20 | (std::uint64_t{b[2]} >> 3) << 15 |
         (std::uint64_t{b[2]} & 3) << 13 | std::uint64_t{b[3]} << 5 | b[4] >> 3;
}

std::uint64_t ptsOf(const std::uint8_t* f) {
  return (std::uint64_t{f[0]} >> 1 & 7) << 30 | std::uint64_t{f[1]} << 22 |
         (std::uint64_t{f[2]} >> 1) << 15 | std::uint64_t{f[3]} << 7 | f[4] >> 1;
}

bool isNavPack(const std::uint8_t* p) {
  return startCode(p, 0xBA) && startCode(p + 14, 0xBB) && startCode(p + 38, 0xBF) && p[44] == 0 &&
         startCode(p + 1024, 0xBF) && p[1030] == 1;
}

std::uint32_t bcdValue(std::uint8_t b) {
  return (b >> 4) * 10u + (b & 15);
}

// Frames of a BCD elapsed time at 25 frames per second.
std::uint32_t elapsedFrames(const std::uint8_t* t) {
  EXPECT_EQ(t[3] & 0xC0, 0x40);
  const std::uint32_t seconds = bcdValue(t[0]) * 3600 + bcdValue(t[1]) * 60 + bcdValue(t[2]);
  return seconds * 25 + bcdValue(t[3] & 0x3F);
}

struct DvdJob {
  TempDir dir;
  std::filesystem::path vob;
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> navs;  // sector numbers of the navigation packs
};

void muxDvd(const std::vector<std::string>& audio, DvdJob& job) {
  const auto video = makeEs(job.dir, "v.m2v", kDvdVideo);
  const auto sound = makeEs(job.dir, "a.es", audio);
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, 4), nullptr);
  job.vob = job.dir.file("out.vob");
  printed().clear();
  const MuxOutcome o = muxFiles(
      settings, {{video, STREAM_KIND_VIDEO, 0, 0}, {sound, STREAM_KIND_AUDIO, 0, 0}}, job.vob);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  ASSERT_EQ(o.done, 0);
  job.bytes = readFile(job.vob);
  ASSERT_EQ(job.bytes.size() % kSector, 0u);
  for (std::size_t s = 0; s < job.bytes.size() / kSector; ++s) {
    const std::uint8_t* p = job.bytes.data() + s * kSector;
    ASSERT_TRUE(startCode(p, 0xBA)) << "sector " << s;
    if (isNavPack(p)) job.navs.push_back(s);
  }
  ASSERT_FALSE(job.navs.empty());
  ASSERT_EQ(job.navs.front(), 0u);
}

class CorvelDvd : public ::testing::TestWithParam<const std::vector<std::string>*> {};

TEST_P(CorvelDvd, EveryUnitOpensWithACompleteNavigationPack) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  DvdJob job;
  ASSERT_NO_FATAL_FAILURE(muxDvd(*GetParam(), job));
  const std::size_t sectors = job.bytes.size() / kSector;
  // Four seconds in groups of 0.48 s: one unit per group.
  // A unit per group of pictures: each group lasts the 0.4 s that makes a unit.
  const auto es = readFile(job.dir.file("v.m2v"));
  std::size_t groups = 0;
  for (std::size_t i = 0; i + 4 <= es.size(); ++i) groups += startCode(es.data() + i, 0xB8);
  ASSERT_EQ(job.navs.size(), groups);
  std::vector<std::uint32_t> starts, ends;
  for (std::size_t at : job.navs) {
    starts.push_back(be32(job.bytes.data() + at * kSector + 57));
    ends.push_back(be32(job.bytes.data() + at * kSector + 61));
  }
  std::uint32_t firstStart = 0, previousEnd = 0;
  for (std::size_t k = 0; k < job.navs.size(); ++k) {
    SCOPED_TRACE(k);
    const std::size_t at = job.navs[k];
    const std::uint8_t* nav = job.bytes.data() + at * kSector;
    const std::size_t next = k + 1 < job.navs.size() ? job.navs[k + 1] : sectors;
    // Addresses: the pack's own block number, and the unit's last sector.
    EXPECT_EQ(be32(nav + 45), at);
    EXPECT_EQ(be32(nav + 1035), at);
    EXPECT_EQ(be32(nav + 1039), next - at - 1);
    EXPECT_EQ(be32(nav + 1031), static_cast<std::uint32_t>(scrOf(nav)));
    // The unit's first video packet begins its group with a sequence header, and its time
    // stamp is the unit's start.
    const std::uint8_t* first = job.bytes.data() + (at + 1) * kSector;
    ASSERT_TRUE(startCode(first + 14, 0xE0));
    ASSERT_EQ(first[21] & 0x80, 0x80);  // a PTS
    const std::uint8_t* payload = first + 23 + first[22];
    EXPECT_TRUE(startCode(payload, 0xB3));
    const auto pts = static_cast<std::uint32_t>(ptsOf(first + 23));
    const std::uint32_t start = be32(nav + 57), end = be32(nav + 61);
    EXPECT_EQ(start, pts);
    EXPECT_EQ((end - start) % kTicks90PerFrame, 0u);
    EXPECT_GE(end - start, 10 * kTicks90PerFrame);
    if (k == 0) firstStart = start;
    if (k > 0) {
      EXPECT_EQ(start, previousEnd);
    }
    previousEnd = end;
    // Elapsed time in the cell, in both places.
    EXPECT_EQ(elapsedFrames(nav + 69), (start - firstStart) / kTicks90PerFrame);
    EXPECT_EQ(0, std::memcmp(nav + 69, nav + 1059, 4));
    EXPECT_EQ(nav[1056], 1);
    EXPECT_EQ(nav[1058], 1);
    EXPECT_EQ(be32(nav + 1075), firstStart);
    // References end inside the unit, in order.
    const std::uint32_t ref1 = be32(nav + 1043), ref2 = be32(nav + 1047), ref3 = be32(nav + 1051);
    EXPECT_GE(ref1, 1u);
    EXPECT_LE(ref1, ref2);
    EXPECT_LE(ref2, ref3);
    EXPECT_LE(ref3, next - at - 1);
    // The audio offset names an audio packet in which a frame begins.
    const std::uint32_t sync = std::uint32_t{nav[1433]} << 8 | nav[1434];
    ASSERT_LT(sync, 0x7FFFu);
    const std::uint8_t* sound = job.bytes.data() + (at + sync) * kSector;
    ASSERT_TRUE(startCode(sound + 14, 0xBD) || startCode(sound + 14, 0xC0));
    EXPECT_EQ(sound[21] & 0x80, 0x80);
    // Search information from the writer's pass: neighbours exactly, every other pointer at
    // a navigation pack of this title.
    const std::uint32_t nextVobu = be32(nav + 1345), previousVobu = be32(nav + 1349);
    const bool last = k + 1 == job.navs.size();
    EXPECT_EQ(nextVobu, last ? 0x3FFFFFFFu : 0x80000000u | (next - at));
    EXPECT_EQ(previousVobu,
              k == 0 ? 0x3FFFFFFFu : 0x80000000u | (at - job.navs[k == 0 ? 0 : k - 1]));
    for (int e = 0; e < 19; ++e) {
      const std::uint32_t f = be32(nav + 1269 + 4 * e), b = be32(nav + 1353 + 4 * e);
      if (f != 0x3FFFFFFF && f != 0x7FFFFFFF) {
        EXPECT_TRUE(std::binary_search(job.navs.begin(), job.navs.end(), at + (f & 0x3FFFFFFF)))
            << "forward " << e;
      }
      if (b != 0x3FFFFFFF && b != 0x7FFFFFFF) {
        ASSERT_GE(at, b & 0x3FFFFFFF);
        EXPECT_TRUE(std::binary_search(job.navs.begin(), job.navs.end(), at - (b & 0x3FFFFFFF)))
            << "backward " << e;
      }
    }
    // Steps of 0.5 to 7.5 s: the unit playing that long after or before this unit's start.
    for (std::uint32_t steps = 1; steps <= 15; ++steps) {
      SCOPED_TRACE(steps);
      std::uint32_t forward = 0x3FFFFFFF, backward = 0x3FFFFFFF;
      for (std::size_t j = k + 1; j < job.navs.size(); ++j)
        if (ends[j] - start > steps * 45000u) {
          forward = 0x80000000u | static_cast<std::uint32_t>(job.navs[j] - at);
          break;
        }
      for (std::size_t j = k; j-- > 0;)
        if (start - starts[j] >= steps * 45000u) {
          backward = 0x80000000u | static_cast<std::uint32_t>(at - job.navs[j]);
          break;
        }
      EXPECT_EQ(be32(nav + 1269 + 4 * (19 - steps)), forward);
      EXPECT_EQ(be32(nav + 1353 + 4 * (steps - 1)), backward);
    }
  }
  // The end of the video object, filled into every unit once the file was complete.
  for (std::size_t at : job.navs)
    EXPECT_EQ(be32(job.bytes.data() + at * kSector + 1079), previousEnd);
}

TEST_P(CorvelDvd, FfprobeReadsBothStreamsForTheirWholeLength) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  DvdJob job;
  ASSERT_NO_FATAL_FAILURE(muxDvd(*GetParam(), job));
  const std::string streams = toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                          "stream=codec_name", "-of", "csv=p=0", job.vob.string()});
  EXPECT_NE(streams.find("mpeg2video"), std::string::npos) << streams;
  EXPECT_NE(streams.find(GetParam() == &kAc3 ? "ac3" : "mp2"), std::string::npos) << streams;
  int pictures = 0;
  double lastAudio = 0, firstAudio = 1e9;
  for (const ProbedPacket& p : probePackets(job.vob)) {
    if (p.mediaType == "video") ++pictures;
    if (p.mediaType == "audio" && p.pts >= 0) {
      lastAudio = std::max(lastAudio, p.pts);
      firstAudio = std::min(firstAudio, p.pts);
    }
  }
  EXPECT_EQ(pictures, 100);
  EXPECT_NEAR(lastAudio - firstAudio, 4.0, 0.1);
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", job.vob.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");
}

TEST_P(CorvelDvd, DvdauthorMakesATitleThatLsdvdLists) {
  QUILLION_REQUIRE_TOOL("dvdauthor");
  QUILLION_REQUIRE_TOOL("lsdvd");
  DvdJob job;
  ASSERT_NO_FATAL_FAILURE(muxDvd(*GetParam(), job));
  const auto disc = job.dir.file("disc");
  ToolOptions pal;
  pal.environment = {{"VIDEO_FORMAT", "PAL"}};
  ToolResult r = runTool({"dvdauthor", "-o", disc.string(), "-t", job.vob.string()}, pal);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output.find("ERR:"), std::string::npos) << r.output;
  // dvdauthor rebuilds every navigation pack from the stream: its units, times, end
  // addresses, search information and audio offsets are ours.
  const auto authored = readFile(disc / "VIDEO_TS" / "VTS_01_1.VOB");
  ASSERT_EQ(authored.size(), job.bytes.size());
  struct Field {
    std::size_t at, size;
  };
  const Field fields[] = {{57, 8}, {1039, 16}, {1265, 168}, {1433, 2}};
  for (std::size_t at : job.navs) {
    const std::uint8_t* theirs = authored.data() + at * kSector;
    ASSERT_TRUE(isNavPack(theirs)) << "sector " << at;
    for (const Field& f : fields)
      EXPECT_EQ(0, std::memcmp(theirs + f.at, job.bytes.data() + at * kSector + f.at, f.size))
          << "sector " << at << " bytes " << f.at;
  }
  r = runTool({"dvdauthor", "-o", disc.string(), "-T"}, pal);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string listed = toolOutput({"lsdvd", "-x", disc.string()});
  EXPECT_NE(listed.find("Title: 01"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Length: 00:00:04"), std::string::npos) << listed;
  EXPECT_NE(listed.find(GetParam() == &kAc3 ? "Format: ac3" : "Format: mpeg1"), std::string::npos)
      << listed;
}

// Split output: every file is a video object of its own, opening with a navigation pack,
// numbered on, and its search information stays inside the file.
TEST(CorvelDvdSplit, EveryFileIsAVideoObjectOfItsOwn) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kDvdVideo);
  const auto sound = makeEs(dir, "a.es", kAc3);
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, 4), nullptr);
  settings.max_file_size = 2;
  printed().clear();
  const MuxOutcome o =
      muxFiles(settings, {{video, STREAM_KIND_VIDEO, 0, 0}, {sound, STREAM_KIND_AUDIO, 0, 0}},
               dir.file("out.vob"));
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  const std::vector<std::filesystem::path> files = {dir.file("out.vob"), dir.file("out001.vob")};
  for (std::size_t f = 0; f < files.size(); ++f) {
    SCOPED_TRACE(f);
    ASSERT_TRUE(std::filesystem::exists(files[f]));
    const auto bytes = readFile(files[f]);
    ASSERT_EQ(bytes.size() % kSector, 0u);
    std::vector<std::size_t> navs;
    for (std::size_t s = 0; s < bytes.size() / kSector; ++s)
      if (isNavPack(bytes.data() + s * kSector)) navs.push_back(s);
    ASSERT_FALSE(navs.empty());
    EXPECT_EQ(navs.front(), 0u);
    for (std::size_t k = 0; k < navs.size(); ++k) {
      const std::uint8_t* nav = bytes.data() + navs[k] * kSector;
      EXPECT_EQ(nav[1056], f + 1);
      const std::size_t next = k + 1 < navs.size() ? navs[k + 1] : bytes.size() / kSector;
      EXPECT_EQ(be32(nav + 1039), next - navs[k] - 1);
      EXPECT_EQ(be32(nav + 1345),
                k + 1 < navs.size() ? 0x80000000u | (next - navs[k]) : 0x3FFFFFFFu);
      EXPECT_EQ(be32(nav + 1349), k > 0 ? 0x80000000u | (navs[k] - navs[k - 1]) : 0x3FFFFFFFu);
      // Elapsed time restarts with the object.
      if (k == 0) {
        EXPECT_EQ(elapsedFrames(nav + 1059), 0u);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Audio, CorvelDvd, ::testing::Values(&kAc3, &kMp2),
                         [](const ::testing::TestParamInfo<const std::vector<std::string>*>& i) {
                           return std::string(i.param == &kAc3 ? "Ac3" : "Mp2");
                         });

}  // namespace
}  // namespace quillion::test::corvel
