// SPDX-License-Identifier: GPL-2.0-or-later
// DVD navigation seen from the output: the notices a job sends beside its packs, the
// elapsed-time encoding, the caller's highlight template and cell marks, and the navigation
// pack without private stream 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "corvel_support.h"
#include "dvd_navigation.h"

namespace quillion::test::corvel {
namespace {

std::vector<std::string> dvdVideo(const char* duration) {
  return {"-f",
          "lavfi",
          "-i",
          std::string("testsrc=size=720x576:rate=25:duration=") + duration,
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
          "-sc_threshold",
          "1000000000",
          "-bf",
          "2",
          "-g",
          "10",
          "-f",
          "mpeg2video"};
}
const std::vector<std::string> kNavAc3 = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1.2", "-c:a", "ac3", "-b:a",
    "192k", "-f",    "ac3"};

constexpr std::size_t kNavSectorBytes = 2048;

std::uint32_t navBe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct Elapsed {
  std::uint64_t ticks;
  std::uint64_t framePeriod;
  std::uint8_t bytes[4];
};

TEST(CorvelDvdElapsed, HoursMinutesSecondsAndFramesInBcd) {
  const Elapsed cases[] = {
      {((3600 + 2 * 60 + 3) * 25 + 4) * 1080000ull, 1080000, {0x01, 0x02, 0x03, 0x44}},
      {(59 * 30 + 29) * 900900ull, 900900, {0x00, 0x00, 0x59, 0xE9}},
      {0, 1080000, {0x00, 0x00, 0x00, 0x40}},
      {(10 * 3600 * 25 + 24) * 1080000ull + 1079999, 1080000, {0x10, 0x00, 0x00, 0x64}},
  };
  for (const Elapsed& c : cases) {
    std::uint8_t out[4] = {};
    quillion::corvel::encodeElapsed(out, c.ticks, c.framePeriod);
    EXPECT_EQ(0, std::memcmp(out, c.bytes, 4)) << c.ticks;
  }
}

struct NoticeJob {
  TempDir dir;
  MemoryOutput output;
  std::vector<std::uint32_t> codes;
  std::int32_t run = -1;
};

// File mode into a memory output; `before` runs between the inputs and the job.
void runJob(NoticeJob& job, const char* duration, std::int32_t privateStream2,
            const std::function<void(mpeg_m_muxer*)>& before = {}, std::uint32_t videoOptions = 0,
            std::int32_t preset = 4, const mux_output_info* info = nullptr) {
  const auto video = makeEs(job.dir, "v.m2v", dvdVideo(duration));
  const auto audio = makeEs(job.dir, "a.ac3", kNavAc3);
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, preset), nullptr);
  settings.private_stream_2 = privateStream2;
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, info, job.output.stream()), 0);
  stream_settings v{}, a{};
  v.kind = STREAM_KIND_VIDEO | videoOptions;
  a.kind = STREAM_KIND_AUDIO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 0), 0)
      << (printed().errors.empty() ? "" : printed().errors.back());
  ASSERT_EQ(mpegOutMuxAddFile(mux, &a, audio.c_str(), 0), 0);
  if (before) before(mux);
  job.run = mpegOutMux(mux);
  EXPECT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);
  for (const auto& n : job.output.notices) job.codes.push_back(n.code);
  ASSERT_EQ(job.output.bytes.size() % kNavSectorBytes, 0u);
}

std::size_t noticeCount(const NoticeJob& job, std::uint32_t code) {
  return static_cast<std::size_t>(std::count(job.codes.begin(), job.codes.end(), code));
}

std::vector<std::size_t> navSectors(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::size_t> navs;
  for (std::size_t s = 0; s < bytes.size() / kNavSectorBytes; ++s) {
    const std::uint8_t* p = bytes.data() + s * kNavSectorBytes;
    if (p[14 + 3] == 0xBB && p[38 + 3] == 0xBF && p[44] == 0) navs.push_back(s);
  }
  return navs;
}

TEST(CorvelDvdNotices, OneUnitJobSendsEachNoticeOnce) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  NoticeJob job;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "0.4", 1));
  ASSERT_EQ(job.run, 0);
  ASSERT_EQ(navSectors(job.output.bytes).size(), 1u);
  EXPECT_EQ(noticeCount(job, 0xF1000), 1u);
  EXPECT_EQ(noticeCount(job, 0xE0101), 1u);
  EXPECT_EQ(noticeCount(job, 0xF2000), 1u);
  EXPECT_EQ(noticeCount(job, 0xE0002), 1u);
  EXPECT_EQ(noticeCount(job, 0xE0203), 1u);
  EXPECT_EQ(noticeCount(job, 0xF4000), 1u);
  EXPECT_EQ(noticeCount(job, 0xE0020), 1u);
  EXPECT_EQ(noticeCount(job, 0xE0080), 0u);
  EXPECT_EQ(noticeCount(job, 0xF8000), 0u);
  // Navigation starts before anything else is said about it; the unit is announced before
  // it is written, and the whole output is that one unit.
  const auto at = [&](std::uint32_t code) {
    return std::find(job.codes.begin(), job.codes.end(), code) - job.codes.begin();
  };
  EXPECT_LT(at(0xF1000), at(0xF2000));
  EXPECT_LT(at(0xF2000), at(0xE0002));
  EXPECT_LT(at(0xE0002), at(0xF4000));
  const auto& unit = job.output.notices[static_cast<std::size_t>(at(0xF2000))].data;
  ASSERT_EQ(unit.size(), 12u);
  std::uint32_t record[3];
  std::memcpy(record, unit.data(), sizeof record);
  EXPECT_EQ(record[0], 0u);          // sector of the navigation pack
  EXPECT_EQ(record[1], 10u * 3600);  // ten pictures at 25 per second
  EXPECT_EQ(record[2] & 1, 1u);      // with video
  // The end time sent is the one the pack carries.
  std::uint32_t end = 0;
  std::memcpy(&end, job.output.notices[static_cast<std::size_t>(at(0xF4000))].data.data(), 4);
  EXPECT_EQ(end, navBe32(job.output.bytes.data() + 61));
  EXPECT_EQ(end, navBe32(job.output.bytes.data() + 1079));
}

TEST(CorvelDvdNotices, WithoutPrivateStream2TheNavigationPackIsPadding) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  NoticeJob job;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "0.4", 0));
  ASSERT_EQ(job.run, 0);
  const std::uint8_t* p = job.output.bytes.data();
  const std::uint8_t padding[6] = {0, 0, 1, 0xBE, 0x07, 0xD4};
  EXPECT_EQ(p[17], 0xBB);
  EXPECT_EQ(0, std::memcmp(p + 38, padding, 6));
  EXPECT_TRUE(std::all_of(p + 44, p + kNavSectorBytes, [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(noticeCount(job, 0xF1000), 0u);
  EXPECT_EQ(noticeCount(job, 0xF2000), 0u);
}

TEST(CorvelDvdNotices, HighlightTemplateGoesIntoEveryUnit) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  NoticeJob job;
  std::uint8_t highlight[694];
  for (std::size_t i = 0; i < sizeof highlight; ++i) highlight[i] = static_cast<std::uint8_t>(i);
  highlight[1] = 1;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "1.2", 1, [&](mpeg_m_muxer* mux) {
    mux_navigation_template t{1, 694, highlight};
    mpegOutMuxAuxinfo(mux, 0, 0xE0010, &t, sizeof t);
  }));
  ASSERT_EQ(job.run, 0);
  const auto navs = navSectors(job.output.bytes);
  ASSERT_GE(navs.size(), 2u);
  for (std::size_t k = 0; k < navs.size(); ++k) {
    const std::uint8_t* h = job.output.bytes.data() + navs[k] * kNavSectorBytes + 141;
    EXPECT_EQ(h[1], k == 0 ? 1 : 2) << k;
    // From the video's start, without an end.
    EXPECT_EQ(navBe32(h + 2), navBe32(job.output.bytes.data() + 1075));
    EXPECT_TRUE(std::all_of(h + 6, h + 14, [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(0, std::memcmp(h + 14, highlight + 14, sizeof highlight - 14));
  }
  EXPECT_EQ(noticeCount(job, 0xE0020), 0u);
}

TEST(CorvelDvdNotices, ACellMarkOpensTheNextCell) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  NoticeJob job;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "1.2", 1, [](mpeg_m_muxer* mux) {
    mpegOutMuxAuxinfo(mux, 0, 0xE0040, nullptr, 0);      // 0 means nothing
    mpegOutMuxAuxinfo(mux, 36000, 0xE0040, nullptr, 0);  // 0.4 s in
  }));
  ASSERT_EQ(job.run, 0);
  const auto navs = navSectors(job.output.bytes);
  ASSERT_EQ(navs.size(), 3u);
  const std::uint8_t cells[3] = {1, 2, 2};
  for (std::size_t k = 0; k < navs.size(); ++k) {
    const std::uint8_t* nav = job.output.bytes.data() + navs[k] * kNavSectorBytes;
    EXPECT_EQ(nav[1058], cells[k]) << k;
    // Elapsed time counts from the cell's start (the second unit's).
    const std::uint8_t* second = job.output.bytes.data() + navs[1] * kNavSectorBytes;
    const std::uint32_t frames = k == 2 ? (navBe32(nav + 57) - navBe32(second + 57)) / 3600 : 0;
    ASSERT_LT(frames, 25u);
    const std::uint8_t expected[4] = {
        0, 0, 0, static_cast<std::uint8_t>(0x40 | (frames / 10) << 4 | frames % 10)};
    EXPECT_EQ(0, std::memcmp(nav + 1059, expected, 4)) << k;
  }
  ASSERT_EQ(noticeCount(job, 0xE0080), 1u);
  const auto cell = std::find_if(job.output.notices.begin(), job.output.notices.end(),
                                 [](const MemoryOutput::Notice& n) { return n.code == 0xE0080; });
  const auto unit = std::find_if(cell, job.output.notices.end(),
                                 [](const MemoryOutput::Notice& n) { return n.code == 0xF2000; });
  ASSERT_NE(unit, job.output.notices.end());
  // Announced just before the unit that opens the cell: the second.
  EXPECT_EQ(std::count_if(job.output.notices.begin(), cell,
                          [](const MemoryOutput::Notice& n) { return n.code == 0xF2000; }),
            1);
}

// DVD-VR: the navigation packs carry the video's time and the caller's extension block.
TEST(CorvelDvdNotices, DvdVrPacksCarryTheExtensionBlock) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  std::vector<std::uint8_t> extension(1979);
  for (std::size_t i = 0; i < extension.size(); ++i)
    extension[i] = static_cast<std::uint8_t>(i * 13 + 1);
  mux_output_info info{};
  info.options = 1;  // complete the units
  info.extension = extension.data();
  NoticeJob job;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "1.2", 1, {}, 0, 14, &info));
  ASSERT_EQ(job.run, 0);
  std::vector<std::size_t> navs;
  const auto& b = job.output.bytes;
  for (std::size_t s = 0; s < b.size() / kNavSectorBytes; ++s)
    if (b[s * kNavSectorBytes + 41] == 0xBF && b[s * kNavSectorBytes + 44] == 0x50)
      navs.push_back(s);
  ASSERT_GE(navs.size(), 2u);
  std::uint32_t previous = 0;
  for (std::size_t k = 0; k < navs.size(); ++k) {
    const std::uint8_t* p = b.data() + navs[k] * kNavSectorBytes;
    EXPECT_EQ(p[17], 0xBB);
    EXPECT_EQ(p[42] << 8 | p[43], 2004);
    EXPECT_EQ(0, std::memcmp(p + 66, extension.data(), 3));
    EXPECT_EQ(0, std::memcmp(p + 72, extension.data() + 3, 1976));
    EXPECT_TRUE(std::all_of(p + 56, p + 61, [](std::uint8_t x) { return x == 0xFF; }));
    // The video's time since its start, later in every unit.
    const std::uint32_t time = navBe32(p + 47);
    if (k > 0) {
      EXPECT_GT(time, previous);
    }
    previous = time;
  }
  EXPECT_EQ(navBe32(b.data() + 47) % 3600, 0u);  // on a picture of the 25 Hz stream
  EXPECT_EQ(noticeCount(job, 0xF1000), 0u);
  EXPECT_EQ(noticeCount(job, 0xF2000), 0u);
}

// On request no audio frame straddles two units: the first audio packet of every unit
// begins with a whole frame.
TEST(CorvelDvdNotices, AudioFramesEndBeforeEveryUnitOnRequest) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  for (const std::uint8_t options : {1, 0}) {
    SCOPED_TRACE(static_cast<int>(options));
    mux_output_info info{};
    info.options = options;
    NoticeJob job;
    ASSERT_NO_FATAL_FAILURE(runJob(job, "1.2", 1, {}, 0, 4, &info));
    ASSERT_EQ(job.run, 0);
    const auto& b = job.output.bytes;
    const auto navs = navSectors(b);
    ASSERT_GE(navs.size(), 3u);
    int whole = 0, audioUnits = 0;
    for (std::size_t k = 1; k < navs.size(); ++k) {
      for (std::size_t s = navs[k] + 1; s < b.size() / kNavSectorBytes; ++s) {
        const std::uint8_t* p = b.data() + s * kNavSectorBytes;
        if (p[17] != 0xBD) continue;
        // The AC-3 header's first-access-unit pointer: 1 when a frame starts the payload.
        const std::uint8_t* priv = p + 23 + p[22];
        ++audioUnits;
        whole += (priv[2] << 8 | priv[3]) == 1;
        break;
      }
    }
    ASSERT_GT(audioUnits, 0);
    if (options) {
      EXPECT_EQ(whole, audioUnits);
    } else {
      EXPECT_LT(whole, audioUnits);  // without the request frames run on across units
    }
  }
}

// On request the first video and audio packets of every unit carry their buffer size.
TEST(CorvelDvdNotices, BufferSizesRepeatInEveryUnitOnRequest) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  for (const std::uint8_t flags : {0x80, 0x00}) {
    SCOPED_TRACE(static_cast<int>(flags));
    mux_output_info info{};
    info.flags = flags;
    NoticeJob job;
    ASSERT_NO_FATAL_FAILURE(runJob(job, "1.2", 1, {}, 0, 4, &info));
    ASSERT_EQ(job.run, 0);
    const auto& b = job.output.bytes;
    const auto navs = navSectors(b);
    ASSERT_GE(navs.size(), 3u);
    for (std::size_t k = 1; k < navs.size(); ++k) {
      bool video = false, audio = false;
      for (std::size_t s = navs[k] + 1; s < b.size() / kNavSectorBytes && !(video && audio); ++s) {
        const std::uint8_t* p = b.data() + s * kNavSectorBytes;
        // PES_extension_flag: the P-STD buffer fields follow.
        const bool extended = (p[21] & 1) != 0;
        if (p[17] == 0xE0 && !video) {
          video = true;
          EXPECT_EQ(extended, flags != 0) << "unit " << k;
        }
        if (p[17] == 0xBD && !audio) {
          audio = true;
          EXPECT_EQ(extended, flags != 0) << "unit " << k;
        }
      }
      EXPECT_TRUE(video);
    }
  }
}

// Still pictures: the units are cut at the audio frames, each opening with an audio packet
// whose frame starts the unit.
TEST(CorvelDvdNotices, StillPicturesCutUnitsAtAudioFrames) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  NoticeJob job;
  ASSERT_NO_FATAL_FAILURE(runJob(job, "0.08", 1, {}, 1));
  ASSERT_EQ(job.run, 0) << (printed().errors.empty() ? "" : printed().errors.back());
  const auto navs = navSectors(job.output.bytes);
  // 1.2 s of audio in units of at least 0.4 s.
  ASSERT_GE(navs.size(), 2u);
  ASSERT_LE(navs.size(), 3u);
  for (std::size_t k = 1; k < navs.size(); ++k) {
    SCOPED_TRACE(k);
    const std::uint8_t* nav = job.output.bytes.data() + navs[k] * kNavSectorBytes;
    const std::uint8_t* next = nav + kNavSectorBytes;
    ASSERT_EQ(next[17], 0xBD);         // private stream 1: the AC-3 frames
    ASSERT_EQ(next[21] & 0x80, 0x80);  // with a PTS
    const std::uint8_t* f = next + 23;
    const std::uint32_t pts = static_cast<std::uint32_t>(
        (std::uint64_t{f[0]} >> 1 & 7) << 30 | std::uint64_t{f[1]} << 22 |
        (std::uint64_t{f[2]} >> 1) << 15 | std::uint64_t{f[3]} << 7 | f[4] >> 1);
    EXPECT_EQ(navBe32(nav + 57), pts);
    // The frame starts the packet's payload: its first-access-unit pointer is 1.
    const std::uint8_t* priv = next + 23 + 5;
    EXPECT_EQ(priv[2] << 8 | priv[3], 1);
    // Every unit but the last lasts the 0.4 s that make a unit.
    if (k + 1 < navs.size()) {
      EXPECT_GE(navBe32(nav + 61) - navBe32(nav + 57), 36000u);
    }
  }
}

}  // namespace
}  // namespace quillion::test::corvel
