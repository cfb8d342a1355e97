// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer's image pseudo-drives: a native image written through CDWriterEx_* and read
// back by the test-side reader, and an ISO image of a real file system read back by isoinfo
// and xorriso.
#include <gtest/gtest.h>

#include <atomic>

#include "quillion/CDWriterEx.h"
#include "quillion/clock.h"
#include "writer_test_support.h"

using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kNativeImage = 0xFFFFFFFF;
constexpr std::uint32_t kIsoImage = 0xFFFFFFFE;

struct TrackPlan {
  std::uint8_t mode;  // data block type
  std::uint16_t blockSize;
  std::uint16_t blocks;
  std::uint16_t pause;
  std::uint16_t expectedType;  // the image's track type
};

struct SessionPlan {
  std::uint8_t format;
  std::int32_t start;
  std::vector<TrackPlan> tracks;
  std::uint16_t expectedType;  // the image's session type
};

class ImageWriter : public ::testing::Test {
 protected:
  TempDir dir_;
  quillion::VirtualClock clock_;
  quillion::ScopedClockOverride clockGuard_{clock_};
  std::atomic<bool> stop_{false};
};

}  // namespace

TEST_F(ImageWriter, NativeImageOfThreeSessionsReadsBack) {
  const std::vector<SessionPlan> plan = {
      {0x00, -24, {{0, 2352, 30, 150, 0}, {0, 2352, 31, 0, 0}}, 0},
      {0x00, 11'400, {{8, 2048, 40, 150, 1}, {9, 2336, 5, 0, 5}}, 1},
      {0x20, 18'600, {{10, 2048, 7, 150, 3}, {12, 2324, 6, 0, 4}, {13, 2332, 5, 0, 5}}, 2},
      {0x10, 25'600, {{8, 2048, 3, 150, 1}}, 3},
  };
  const Bytes cdText = payload(5 * 24, 8);
  const fs::path path = dir_.path() / "disc.wlt";
  std::uint16_t speed = 0;
  myBurnEng_Pack* c = CDWriterEx_CreateCD(kNativeImage, path.c_str(), 1, false, 24, false, 4, true,
                                          false, &speed, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(speed, 24) << "an image takes the speed asked for";
  std::vector<Bytes> written;
  std::uint32_t number = 1;
  for (std::size_t s = 0; s < plan.size(); ++s) {
    const auto& session = plan[s];
    const bool text = s == 0;
    ASSERT_EQ(CDWriterEx_CreateSession(c, session.format, session.tracks[0].mode, session.start,
                                       nullptr, 0, text ? cdText.data() : nullptr, text ? 120 : 0),
              kNoErr);
    for (const auto& track : session.tracks) {
      const CDWriterEx_TrackExtra extra{{number, 0x01020304, 0}, 0xBEEF};
      ASSERT_EQ(CDWriterEx_CreateTrack(c, static_cast<std::uint8_t>(number), track.mode,
                                       track.blockSize, track.pause, &extra, 1000 * number),
                kNoErr);
      written.push_back(payload(std::size_t{track.blocks} * track.blockSize, number));
      ASSERT_EQ(CDWriterEx_WriteCD(c, written.back().data(), track.blocks, track.blockSize, &stop_),
                kNoErr);
      ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
      ++number;
    }
    ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  }
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);

  const fs::path out = dir_.path() / "out";
  fs::create_directories(out);
  const auto json = readWlt(path, out);
  ASSERT_TRUE(json);
  const auto& j = *json;
  EXPECT_EQ(readFile(out / "cdtext.bin"), cdText);
  ASSERT_EQ(j["sessions"].size(), plan.size());
  std::size_t t = 0;
  for (std::size_t s = 0; s < plan.size(); ++s) {
    SCOPED_TRACE(s);
    const auto& session = j["sessions"][s];
    EXPECT_EQ(session["type"].get<unsigned>(), plan[s].expectedType);
    EXPECT_EQ(session["sessionAtOnce"].get<unsigned>(), 1u);
    EXPECT_EQ(session["closeDisc"].get<unsigned>(), 1u);
    EXPECT_EQ(session["start"].get<int>(), plan[s].start);
    EXPECT_EQ(session["trackCount"].get<std::size_t>(), plan[s].tracks.size());
    for (const auto& want : plan[s].tracks) {
      SCOPED_TRACE(t);
      const auto& track = j["tracks"][t];
      EXPECT_EQ(track["type"].get<unsigned>(), want.expectedType);
      EXPECT_EQ(track["blockSize"].get<unsigned>(), want.blockSize);
      EXPECT_EQ(track["pregap"].get<unsigned>(), want.pause);
      EXPECT_EQ(track["start"].get<unsigned>(), 1000 * (t + 1));
      // Track numbers stay below 10 here, so the first word's low byte is one decimal digit.
      const std::string info = "0" + std::to_string(t + 1) +
                               "000000"
                               "04030201"
                               "00000000"
                               "efbe"
                               "0000";
      EXPECT_EQ(track["info"].get<std::string>(), info)
          << "the extra record, little-endian, in 16 bytes";
      char name[16];
      std::snprintf(name, sizeof name, "track%02zu.bin", t + 1);
      EXPECT_EQ(readFile(out / name), written[t]);
      ++t;
    }
  }
  EXPECT_EQ(t, j["tracks"].size());
}

TEST_F(ImageWriter, IsoImageOfAFileSystemReadsBackWithIsoinfoAndXorriso) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  QUILLION_REQUIRE_TOOL("xorriso");
  const fs::path src = dir_.path() / "src";
  fs::create_directories(src / "sub");
  writeFile(src / "sub" / "data.bin", payload(300'000, 11));
  std::ofstream(src / "readme.txt") << "written through the ISO image pseudo-drive\n";
  const fs::path source = dir_.path() / "source.iso";
  ASSERT_EQ(runTool({"genisoimage", "-quiet", "-J", "-r", "-V", "QUILLION", "-o", source.string(),
                     src.string()})
                .exitCode,
            0);
  const Bytes iso = readFile(source);
  ASSERT_EQ(iso.size() % 2048, 0u);

  const fs::path path = dir_.path() / "written.iso";
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(kIsoImage, path.c_str(), 2, false, 4, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, 8, 0, nullptr, 0, nullptr, 0), kNoErr);
  ASSERT_EQ(CDWriterEx_CreateTrack(c, 1, 8, 2048, 150, nullptr, 0), kNoErr);
  // In cache-block sized pieces, as the burn run hands them over.
  const std::size_t blocks = iso.size() / 2048;
  for (std::size_t at = 0; at < blocks; at += 256) {
    const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(256, blocks - at));
    ASSERT_EQ(CDWriterEx_WriteCD(c, iso.data() + at * 2048, n, 2048, &stop_), kNoErr);
  }
  EXPECT_EQ(CDWriterEx_CreateTrack(c, 2, 8, 2048, 150, nullptr, 0), kErrImageTrackCount)
      << "one track only";
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);

  EXPECT_EQ(readFile(path), iso);
  const std::string pvd = runTool({"isoinfo", "-d", "-i", path.string()}).output;
  EXPECT_NE(pvd.find("Volume id: QUILLION"), std::string::npos) << pvd;
  const fs::path out = dir_.path() / "out";
  ASSERT_EQ(
      runTool({"xorriso", "-indev", path.string(), "-osirrox", "on", "-extract", "/", out.string()})
          .exitCode,
      0);
  EXPECT_EQ(readFile(out / "sub" / "data.bin"), readFile(src / "sub" / "data.bin"));
  EXPECT_EQ(readText(out / "readme.txt"), readText(src / "readme.txt"));
}

TEST_F(ImageWriter, ContextsThatCannotBeMade) {
  EXPECT_EQ(CDWriterEx_CreateCD(0, "x.wlt", 1, false, 1, true, 1, true, false, nullptr, 0),
            nullptr);
  const fs::path missing = dir_.path() / "no" / "folder.wlt";
  EXPECT_EQ(CDWriterEx_CreateCD(kNativeImage, missing.c_str(), 1, false, 1, true, 1, true, false,
                                nullptr, 0),
            nullptr);
  EXPECT_EQ(
      CDWriterEx_CreateCD(kNativeImage, nullptr, 1, false, 1, true, 1, true, false, nullptr, 0),
      nullptr)
      << "without a path the pseudo-drive is no drive at all";
  EXPECT_EQ(CDWriterEx_CloseCD(nullptr), kErrBadArgument);
  EXPECT_EQ(CDWriterEx_StopCD(nullptr), kErrBadArgument);
  EXPECT_EQ(CDWriterEx_GetCurrentSense(nullptr, nullptr), kErrBadArgument);
}
