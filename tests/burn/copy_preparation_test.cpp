// SPDX-License-Identifier: GPL-2.0-or-later
// Preparation arithmetic of copies and audio tracks: track lengths for track at once, lead-outs
// from a source's full TOC, and the pregap of a pause.
#include <gtest/gtest.h>

#include <vector>

#include "DPMs/tracks/dpm_blank.h"
#include "DPMs/tracks/dpm_raw_data_file.h"
#include "burn/job/burn_job.h"
#include "burn/job/prepare_audio.h"
#include "burn/job/prepare_copy.h"
#include "tests/support/test_support.h"

using namespace quillion::burn;

namespace {

Track copyTrack(bool data, std::uint32_t start, std::uint32_t blocks, std::uint16_t pregap) {
  Track t;
  t.data = data;
  t.start = start;
  t.blocks = blocks;
  t.pregap = pregap;
  t.blockSize = data ? 2048 : 2352;
  t.producer = std::make_unique<DPM_Blank>(t.blockSize, blocks);
  return t;
}

TEST(CopyPreparation, TrackAtOnceEndsEachTrackBeforeTheNextOnesGap) {
  BurnJob job(BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteDriveToDrives), 1);
  Session& s = job.sessions.emplace_back();
  s.number = 1;
  s.leadOut = 3000;
  s.tracks.push_back(copyTrack(true, 0, 1300, 0));
  s.tracks.push_back(copyTrack(false, 1300, 700, 0));
  s.tracks.push_back(copyTrack(false, 2000, 1000, 150));
  adjustToTAOCDCopy(job);
  // Data: up to 152 blocks before the next track; audio after data gets a pregap of 150;
  // audio: up to the next track's pregap and 2 run-out blocks; the last up to 2 blocks before
  // the lead-out.
  EXPECT_EQ(s.tracks[0].blocks, 1148u);
  EXPECT_EQ(s.tracks[1].pregap, 150);
  EXPECT_EQ(s.tracks[1].blocks, 548u);
  EXPECT_EQ(s.tracks[2].blocks, 998u);
  EXPECT_EQ(s.tracks[0].producer->TotalBlocks(), 1148u);
  EXPECT_EQ(s.tracks[2].producer->TotalBlocks(), 998u);
  EXPECT_EQ(s.blocks, 1148u + 548u + 998u);
}

// Blocks of 2048 bytes of a raw file, asked for with a new total after preparation.
std::string readRaw(const std::string& path, std::uint32_t blocks, std::uint32_t newTotal) {
  DPM_RawDataFile file(path, 2048, blocks, 2048, 0);  // from the file's second block
  std::uint16_t size = 2048;
  EXPECT_EQ(file.PrepareAll(&size, nullptr, nullptr), blocks);
  file.SetTotalBlocks(newTotal);
  std::string out;
  std::vector<std::uint8_t> buffer(3 * 2048);
  for (;;) {
    std::uint32_t got = 0;
    EXPECT_EQ(file.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), 3, &got),
              kNoErr);
    if (got == 0) break;
    out.append(reinterpret_cast<const char*>(buffer.data()), std::size_t{got} * 2048);
  }
  EXPECT_TRUE(file.MissingData().empty());
  return out;
}

TEST(CopyPreparation, ARawTrackFollowsItsNewTotal) {
  quillion::test::TempDir dir;
  const std::string bytes = quillion::test::patternBytes(10 * 2048, 3);
  const std::string path = (dir.path() / "track.bin").string();
  quillion::test::writeFile(path, bytes);
  EXPECT_EQ(readRaw(path, 4, 6), bytes.substr(2048, 6 * 2048)) << "read on over the gap";
  EXPECT_EQ(readRaw(path, 4, 3), bytes.substr(2048, 3 * 2048)) << "ends earlier";
}

std::vector<std::uint8_t> fullToc(std::initializer_list<std::vector<std::uint8_t>> descriptors) {
  std::vector<std::uint8_t> toc(4, 0);
  for (const auto& d : descriptors) toc.insert(toc.end(), d.begin(), d.end());
  const std::size_t length = toc.size() - 2;
  toc[0] = static_cast<std::uint8_t>(length >> 8);
  toc[1] = static_cast<std::uint8_t>(length);
  toc[2] = 1;
  toc[3] = 2;
  return toc;
}

TEST(CopyPreparation, LeadOutsComeFromTheFullToc) {
  BurnJob job(BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteDriveToDrives), 1);
  job.sessions.resize(2);
  job.sessions[0].tracks.push_back(copyTrack(false, 0, 1210, 150));
  job.sessions[1].tracks.push_back(copyTrack(true, 12'000, 500, 0));
  const auto toc = fullToc({
      {1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0x20, 0},     // session 1: first track, XA
      {1, 0x10, 0, 0xA2, 0, 0, 0, 0, 0, 0x18, 0x15},  // 00:24:21 binary, 00:18:15 in BCD
      {2, 0x14, 0, 0xA2, 0, 0, 0, 0, 2, 0x47, 0x00},  // 02:71:00 binary, 02:47:00 in BCD
      {3, 0x14, 0, 0xA2, 0, 0, 0, 0, 9, 0, 0},        // no such session: ignored
  });
  applyTocLeadOuts(toc, job.sessions);
  EXPECT_EQ(job.sessions[0].format, 0x20);
  // Session 1's BCD reading (1215) lies just after its track's end (1210): taken. Session 2's
  // (12,375) lies before its track's end: the binary reading stands.
  EXPECT_EQ(job.sessions[0].leadOut, 1215u);
  EXPECT_EQ(job.sessions[1].leadOut, (2u * 60 + 0x47) * 75 - 150);
  // A reply cut short says nothing more.
  job.sessions[1].leadOut = 7;
  applyTocLeadOuts(std::vector<std::uint8_t>(toc.begin(), toc.begin() + 4 + 11 * 2), job.sessions);
  EXPECT_EQ(job.sessions[1].leadOut, 7u);
}

TEST(AudioPreparation, APauseBecomesItsPregap) {
  struct Row {
    std::int16_t pause;
    EngineStatus status;
    std::uint16_t blocks;
  };
  for (const Row r :
       {Row{-1, kNoErr, 150}, Row{0, kNoErr, 0}, Row{2, kNoErr, 150}, Row{873, kNoErr, 65'475},
        Row{874, kErrBadArgument, 0}, Row{-2, kErrBadArgument, 0}}) {
    std::uint16_t blocks = 0;
    EXPECT_EQ(pauseBlocks(r.pause, blocks), r.status) << r.pause;
    if (r.status == kNoErr) {
      EXPECT_EQ(blocks, r.blocks) << r.pause;
    }
  }
}

}  // namespace
