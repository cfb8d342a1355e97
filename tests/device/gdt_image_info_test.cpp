// SPDX-License-Identifier: GPL-2.0-or-later
// Image files described as discs: a native image of two sessions, plain ISO images read
// against isoinfo, and bin/cue pairs read against cd-info.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/cd_image_file.h"
#include "quillion/GDT.h"
#include "tests/support/test_support.h"

using namespace quillion::test;

namespace image_info_test {

struct FreeInfo {
  void operator()(GDT_DiscInfo* p) const { std::free(p); }
};
using InfoPtr = std::unique_ptr<GDT_DiscInfo, FreeInfo>;

InfoPtr describe(const std::filesystem::path& path, std::uint32_t kind,
                 EngineStatus expect = kNoErr) {
  GDT_DiscInfo* info = nullptr;
  EXPECT_EQ(GDT_GetCDImageInfo(path.c_str(), &info, kind), expect);
  return InfoPtr(info);
}

struct ImageTrack {
  std::uint16_t type;
  std::uint32_t blockSize;
  std::uint32_t blocks;
};

void writeNativeImage(
    const std::filesystem::path& path,
    const std::vector<std::pair<std::uint16_t, std::vector<ImageTrack>>>& sessions) {
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
  for (const auto& [sessionType, tracks] : sessions) {
    WLTSESSION s;
    s.sessionType = sessionType;
    ASSERT_EQ(image.NewSession(s), kNoErr);
    for (const ImageTrack& t : tracks) {
      WLTTRACK w;
      w.trackType = t.type;
      w.blockSize = t.blockSize;
      ASSERT_EQ(image.NewTrack(w), kNoErr);
      const std::vector<std::uint8_t> data(std::size_t{t.blockSize} * t.blocks, 0x5A);
      ASSERT_EQ(image.WriteData(data.data(), t.blocks), kNoErr);
      ASSERT_EQ(image.CloseTrack(), kNoErr);
    }
    ASSERT_EQ(image.CloseSession(), kNoErr);
  }
  ASSERT_EQ(image.Close(), kNoErr);
}

// "  2: 00:08:00  000450 audio ..." rows and the lead-out row (170) of cd-info's track list.
std::vector<std::pair<int, std::uint32_t>> cdInfoTracks(const std::filesystem::path& cue) {
  std::istringstream text(
      toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", cue.string()}));
  std::vector<std::pair<int, std::uint32_t>> rows;
  std::string line;
  while (std::getline(text, line)) {
    int track = 0;
    int m = 0, s = 0, f = 0;
    unsigned lsn = 0;
    char colon = 0;
    if (std::sscanf(line.c_str(), " %d%c %d:%d:%d %u", &track, &colon, &m, &s, &f, &lsn) == 6 &&
        colon == ':') {
      rows.emplace_back(track, lsn);
    }
  }
  return rows;
}

// The number after `label` in `text`; 0 when it is not there.
std::uint32_t numberAfter(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos
             ? 0
             : static_cast<std::uint32_t>(std::stoul(text.substr(at + label.size())));
}

}  // namespace image_info_test

using namespace image_info_test;

TEST(ImageInfo, NativeImageListsEveryTrackAndCountsTheGapsBetweenSessions) {
  TempDir dir;
  const auto path = dir.file("two.wlt");
  // Session 1 (CD-ROM XA): a Mode 2 Form 1, a Form 2 and a formless track, 1000 blocks in all;
  // session 2: audio and Mode 1, 500 blocks.
  writeNativeImage(path, {{2, {{3, 2048, 400}, {4, 2324, 350}, {5, 2336, 250}}},
                          {1, {{0, 2352, 300}, {1, 2048, 200}}}});
  const InfoPtr info = describe(path, kGDT_ImageNative);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->mediumClass, kGDT_MediumNativeImage);
  EXPECT_EQ(info->discState, kGDT_DiscClosed);
  EXPECT_EQ(info->discType, 0x20);
  EXPECT_EQ(info->sessions, 2);
  EXPECT_EQ(info->usedBlocks, 1000u + 11'402u + 500u);
  EXPECT_EQ(info->freeBlocks, 0u);
  EXPECT_EQ(info->audioTracks, 1);
  EXPECT_EQ(info->largestSession, 1000u);
  EXPECT_EQ(info->largestTrack, 400u);
  ASSERT_EQ(info->trackCount, 5);
  const GDT_OneTrack* t = GDT_Tracks(info.get());
  const std::uint16_t modes[] = {kGDT_ModeForm1, kGDT_ModeForm2, kGDT_ModeData2, kGDT_ModeAudio,
                                 kGDT_ModeData1};
  const std::uint32_t lengths[] = {400, 350, 250, 300, 200};
  const std::uint16_t sessions[] = {1, 1, 1, 2, 2};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(t[i].mode, modes[i]);
    EXPECT_EQ(t[i].length, lengths[i]);
    EXPECT_EQ(t[i].session, sessions[i]);
    EXPECT_EQ(t[i].track, i + 1);
  }
}

TEST(ImageInfo, SessionTypesGiveTheDiscType) {
  struct Case {
    std::uint16_t sessionType;
    std::uint8_t discType;
  };
  for (const Case c : {Case{0, 0x00}, Case{1, 0x00}, Case{2, 0x20}, Case{3, 0x10}}) {
    SCOPED_TRACE(c.sessionType);
    TempDir dir;
    writeNativeImage(dir.file("x.wlt"), {{c.sessionType, {{1, 2048, 10}}}});
    const InfoPtr info = describe(dir.file("x.wlt"), kGDT_ImageNative);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->discType, c.discType);
    EXPECT_EQ(info->usedBlocks, 10u);
  }
}

TEST(ImageInfo, PlainImageIsOneDataTrackOfItsSizeAsIsoinfoSees) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  TempDir dir;
  std::filesystem::create_directory(dir.file("tree"));
  writeFile(dir.file("tree") / "a.txt", patternBytes(70'000, 3));
  const auto iso = dir.file("x.iso");
  ASSERT_EQ(
      runTool({"genisoimage", "-quiet", "-no-pad", "-o", iso.string(), dir.file("tree").string()})
          .exitCode,
      0);
  const std::string pvd = toolOutput({"isoinfo", "-d", "-i", iso.string()});
  const std::uint32_t volumeBlocks = numberAfter(pvd, "Volume size is: ");
  ASSERT_GT(volumeBlocks, 16u) << pvd;

  const InfoPtr info = describe(iso, kGDT_ImagePlain);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->mediumClass, kGDT_MediumPlainImage);
  EXPECT_EQ(info->discState, kGDT_DiscClosed);
  EXPECT_EQ(info->sessions, 1);
  ASSERT_EQ(info->trackCount, 1);
  EXPECT_EQ(GDT_Tracks(info.get())[0].mode, kGDT_ModeData1);
  EXPECT_EQ(GDT_Tracks(info.get())[0].start, 0u);
  EXPECT_EQ(GDT_Tracks(info.get())[0].length, volumeBlocks);
  EXPECT_EQ(info->usedBlocks, volumeBlocks);
}

TEST(ImageInfo, PlainImageOfAnOddSizeRoundsUpToWholeBlocks) {
  TempDir dir;
  for (const auto& [bytes, blocks] :
       {std::pair{1u, 1u}, std::pair{2048u, 1u}, std::pair{2049u, 2u}}) {
    writeFile(dir.file("odd.img"), patternBytes(bytes, 2));
    const InfoPtr info = describe(dir.file("odd.img"), kGDT_ImagePlain);
    ASSERT_TRUE(info);
    EXPECT_EQ(GDT_Tracks(info.get())[0].length, blocks) << bytes;
  }
}

TEST(ImageInfo, BinCueTracksStartWhereCdInfoPutsThem) {
  QUILLION_REQUIRE_TOOL("cd-info");
  struct Case {
    const char* what;
    const char* firstType;
    std::uint16_t firstMode;
    std::uint8_t discType;
  };
  for (const Case c : {Case{"Mode 1 and audio", "MODE1/2352", kGDT_ModeData1, 0x00},
                       Case{"Mode 2 and audio", "MODE2/2352", kGDT_ModeRawMode2, 0x20}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeFile(dir.file("disc.bin"), patternBytes(2352 * 700, 5));
    writeFile(dir.file("disc.cue"), std::string("FILE \"disc.bin\" BINARY\n  TRACK 01 ") +
                                        c.firstType +
                                        "\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                        "    INDEX 00 00:04:00\n    INDEX 01 00:06:00\n");
    const InfoPtr info = describe(dir.file("disc.cue"), kGDT_ImageBinCue);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mediumClass, kGDT_MediumBinCueImage);
    EXPECT_EQ(info->reserved, 1);
    EXPECT_EQ(info->discType, c.discType);
    EXPECT_EQ(info->sessions, 1);
    EXPECT_EQ(info->audioTracks, 1);
    ASSERT_EQ(info->trackCount, 2);
    const GDT_OneTrack* t = GDT_Tracks(info.get());
    EXPECT_EQ(t[0].mode, c.firstMode);
    EXPECT_EQ(t[1].mode, kGDT_ModeAudio);

    const auto rows = cdInfoTracks(dir.file("disc.cue"));
    ASSERT_EQ(rows.size(), 3u);  // two tracks and the lead-out
    EXPECT_EQ(t[0].start, rows[0].second);
    EXPECT_EQ(t[1].start, rows[1].second);
    EXPECT_EQ(rows[2].first, 170);
    EXPECT_EQ(info->usedBlocks, rows[2].second);
    EXPECT_EQ(t[1].start + t[1].length, rows[2].second);
  }
}

TEST(ImageInfo, RefusalsAndKindsWithoutAReader) {
  TempDir dir;
  GDT_DiscInfo* info = nullptr;
  EXPECT_EQ(GDT_GetCDImageInfo("", &info, kGDT_ImageNative), kErrBadArgument);
  EXPECT_EQ(GDT_GetCDImageInfo(nullptr, &info, kGDT_ImageNative), kErrBadArgument);
  EXPECT_EQ(GDT_GetCDImageInfo("/x.wlt", nullptr, kGDT_ImageNative), kErrBadArgument);
  writeFile(dir.file("x.iso"), patternBytes(4096));
  auto* untouched = reinterpret_cast<GDT_DiscInfo*>(&dir);
  info = untouched;
  EXPECT_EQ(GDT_GetCDImageInfo(dir.file("x.iso").c_str(), &info, 3), kNoErr);
  EXPECT_EQ(info, untouched);
  info = nullptr;
  EXPECT_EQ(GDT_GetCDImageInfo(dir.file("missing.wlt").c_str(), &info, kGDT_ImageNative),
            kErrImageOpen);
  EXPECT_EQ(GDT_GetCDImageInfo(dir.file("x.iso").c_str(), &info, kGDT_ImageNative), kErrImageOpen);
  EXPECT_EQ(GDT_GetCDImageInfo(dir.file("missing.img").c_str(), &info, kGDT_ImagePlain),
            kErrFileAccess);
  writeFile(dir.file("bad.cue"), "TRACK 01 AUDIO\n");
  EXPECT_EQ(GDT_GetCDImageInfo(dir.file("bad.cue").c_str(), &info, kGDT_ImageBinCue), kErrCueParse);
  EXPECT_EQ(info, nullptr);
}
