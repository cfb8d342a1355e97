// SPDX-License-Identifier: GPL-2.0-or-later
// Track extraction handles over an emulated audio CD: the blocks handed out equal what was
// recorded, and bchunk, splitting the disc's bin/cue dump, finds the same audio; the drive is
// reserved while a handle lives; the handles refused.
#include <gtest/gtest.h>

#include <vector>

#include "device_environment.h"
#include "quillion/GDT.h"

using namespace quillion;
using namespace quillion::emu;

namespace extract_test {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTrackStarts[] = {0, 700};
constexpr std::uint32_t kTrackLengths[] = {400, 350};

// The PCM of block i of track t: distinct in every block and track.
Bytes pcm(std::size_t t, std::uint32_t i) {
  Bytes b(2352);
  for (std::size_t k = 0; k < b.size(); ++k)
    b[k] = static_cast<std::uint8_t>(k * 3 + i * 11 + t * 57);
  return b;
}

Bytes trackPcm(std::size_t t) {
  Bytes all;
  for (std::uint32_t i = 0; i < kTrackLengths[t]; ++i) {
    const Bytes b = pcm(t, i);
    all.insert(all.end(), b.begin(), b.end());
  }
  return all;
}

class Extract : public ::testing::Test {
 protected:
  std::uint32_t startWithAudioCd() {
    Medium m = env_.blankDisc("src", 0x08, 20'000);
    for (std::size_t t = 0; t < 2; ++t) {
      Track track;
      track.number = static_cast<std::uint32_t>(t + 1);
      track.start = kTrackStarts[t];
      track.length = kTrackLengths[t];
      track.kind = SectorKind::Audio;
      track.closed = false;
      track.pregap = t == 0 ? 0 : 150;
      m.addTrack(track);
      std::vector<RawSector> sectors;
      for (std::uint32_t i = 0; i < kTrackLengths[t]; ++i) {
        sectors.push_back(buildSector(HostBlock::Audio2352,
                                      static_cast<std::int32_t>(kTrackStarts[t] + i), pcm(t, i)));
      }
      EXPECT_TRUE(m.recordSectors(static_cast<std::int32_t>(kTrackStarts[t]), sectors));
      m.closeTrack(2);
    }
    m.closeSession(false, 0x00);
    drive_ = env_.plug("source", "reader");
    drive_->load(std::move(m));
    env_.start();
    return DeviceEnvironment::refOf("source");
  }

  Bytes extract(std::uint32_t ref, std::uint16_t track, std::uint32_t chunk) {
    std::uint32_t blockSize = 0, count = 0;
    GDT_TrackExtraction* h = GDT_ExtractTrack_Start(ref, track, &blockSize, &count);
    EXPECT_NE(h, nullptr);
    if (!h) return {};
    EXPECT_EQ(blockSize, 2352u);
    EXPECT_GE(count, kTrackLengths[track - 1]);
    Bytes all;
    Bytes buffer(std::size_t{chunk} * blockSize);
    for (;;) {
      std::uint32_t got = 0;
      const EngineStatus s = GDT_ExtractTrack_Continue(
          h, buffer.data(), chunk, static_cast<std::uint32_t>(buffer.size()), &got);
      EXPECT_EQ(s, kNoErr);
      if (s != kNoErr || got == 0) break;
      all.insert(all.end(), buffer.begin(), buffer.begin() + std::size_t{got} * blockSize);
    }
    EXPECT_EQ(all.size(), std::size_t{count} * blockSize);
    EXPECT_EQ(GDT_ExtractTrack_End(h, true), kNoErr);
    return all;
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
};

}  // namespace extract_test

using namespace extract_test;

TEST_F(Extract, AudioTracksComeOutAsRecordedAndAsBchunkSplitsTheDisc) {
  QUILLION_REQUIRE_TOOL("bchunk");
  const std::uint32_t ref = startWithAudioCd();
  ASSERT_NE(ref, 0u);
  test::TempDir dir;
  const auto cue = dir.file("disc.cue");
  bool dumped = false;
  ASSERT_TRUE(drive_->withMedium([&](Medium& m) { dumped = m.dumpBinCue(cue); }));
  ASSERT_TRUE(dumped);
  ASSERT_EQ(test::runTool({"bchunk", "-w", dir.file("disc.bin").string(), cue.string(),
                           dir.file("out").string()})
                .exitCode,
            0);
  for (std::uint16_t track : {std::uint16_t{1}, std::uint16_t{2}}) {
    SCOPED_TRACE(track);
    const Bytes got = extract(ref, track, track == 1 ? 7 : 64);  // chunks that do not divide it
    const Bytes source = trackPcm(track - 1);
    ASSERT_GE(got.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), got.begin()));
    // Past the recorded blocks only the track's run-out, as silence.
    EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(source.size()), got.end(),
                            [](std::uint8_t b) { return b == 0; }));

    const Bytes wav = test::readFile(dir.file("out0" + std::to_string(track) + ".wav"));
    ASSERT_GE(wav.size(), 44 + source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), wav.begin() + 44))
        << "bchunk finds the same audio at the track's start";
  }
}

TEST_F(Extract, TheDriveIsReservedWhileAHandleLives) {
  const std::uint32_t ref = startWithAudioCd();
  std::uint32_t blockSize = 0, count = 0;
  GDT_TrackExtraction* h = GDT_ExtractTrack_Start(ref, 1, &blockSize, &count);
  ASSERT_NE(h, nullptr);
  // Held for the extraction: another program cannot take the drive.
  EXPECT_EQ(drive_->open(true), -EBUSY);
  EXPECT_EQ(GDT_ExtractTrack_End(h, true), kNoErr);
  const int handle = drive_->open(true);
  EXPECT_GT(handle, 0) << "given back at the end";
  if (handle > 0) drive_->close(handle);
}

TEST_F(Extract, HandlesThatCannotBeMadeOrUsed) {
  const std::uint32_t ref = startWithAudioCd();
  std::uint32_t blockSize = 0, count = 0;
  EXPECT_EQ(GDT_ExtractTrack_Start(0, 1, &blockSize, &count), nullptr);
  EXPECT_EQ(GDT_ExtractTrack_Start(ref, 0, &blockSize, &count), nullptr);
  EXPECT_EQ(GDT_ExtractTrack_Start(ref, 1, nullptr, &count), nullptr);
  EXPECT_EQ(GDT_ExtractTrack_Start(ref, 1, &blockSize, nullptr), nullptr);
  EXPECT_EQ(GDT_ExtractTrack_Start(ref, 9, &blockSize, &count), nullptr) << "no such track";
  const int exclusive = drive_->open(true);
  EXPECT_GT(exclusive, 0) << "a refused start leaves the drive free";
  if (exclusive > 0) drive_->close(exclusive);

  Bytes buffer(2352);
  std::uint32_t got = 7;
  EXPECT_EQ(GDT_ExtractTrack_Continue(nullptr, buffer.data(), 1, 2352, &got), kErrBadArgument);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(GDT_ExtractTrack_End(nullptr, true), kNoErr);
}
