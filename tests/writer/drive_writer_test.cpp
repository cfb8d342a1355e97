// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer against the emulated recorder: track at once and session at once on CD-R,
// the write parameters and cue sheets the drive received, the disc dumped and read back by
// cd-info, cdrdao and bchunk, and a second session appended where the standard puts it.
#include <gtest/gtest.h>

#include "drive_writer_support.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

// An ISO 9660 image of one file, made by genisoimage; `bytes` of payload.
Bytes isoImage(const fs::path& folder, const std::string& name, std::size_t bytes,
               std::uint32_t seed) {
  const fs::path src = folder / (name + ".src");
  fs::create_directories(src);
  writeFile(src / "payload.bin", payload(bytes, seed));
  const fs::path iso = folder / (name + ".iso");
  if (runTool({"genisoimage", "-quiet", "-V", name, "-o", iso.string(), src.string()}).exitCode !=
      0)
    return {};
  return readFile(iso);
}

// The first write address at or beyond `from`.
std::int32_t firstWriteAfter(const std::vector<std::int32_t>& addresses, std::uint32_t from) {
  for (std::int32_t a : addresses)
    if (a >= static_cast<std::int32_t>(from)) return a;
  return -1;
}

bool haveReaders() {
  return toolAvailable("genisoimage") && toolAvailable("cd-info") && toolAvailable("cdrdao") &&
         toolAvailable("bchunk");
}

class DriveWriter : public DriveWriterTest {};

}  // namespace

TEST_F(DriveWriter, TrackAtOnceDataAndAudioReadBackWithCdInfoCdrdaoAndBchunk) {
  if (!haveReaders()) GTEST_SKIP() << "genisoimage, cd-info, cdrdao or bchunk missing";
  const Bytes iso = isoImage(env_.folder(), "TAO", 700'000, 1);
  ASSERT_FALSE(iso.empty());
  const Bytes audio = payload(600 * 2352, 2);
  const std::uint32_t isoBlocks = static_cast<std::uint32_t>(iso.size() / 2048);
  start();

  std::uint16_t speed = 0;
  myBurnEng_Pack* c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 16, true, 1, true, true, &speed,
                                          kCDWriterEx_UnderrunBUFE);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(speed, 16) << "read back from the capabilities page";
  const auto speeds = sent(0xBB);
  ASSERT_FALSE(speeds.empty());
  EXPECT_EQ(be::get16(speeds.back().cdb, 4), 16u * 177);
  Bytes page = page05(-1);
  EXPECT_EQ(page[2], 0x40 | 0x01) << "BUFE, track at once";
  EXPECT_EQ(page[3], 0xC4);
  EXPECT_EQ(page[4], kMode1);

  ASSERT_EQ(CDWriterEx_CreateSession(c, 0x00, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  page = page05(-1);
  EXPECT_EQ(page[2], 0x40 | 0x01);
  EXPECT_EQ(page[3], 0x04) << "the last session closes the disc: no next session";
  EXPECT_EQ(page[8], 0x00);
  ASSERT_EQ(CDWriterEx_CreateTrack(c, 1, kMode1, 2048, 150, nullptr, 0), kNoErr);
  ASSERT_EQ(writeAll(c, iso, 2048), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);

  ASSERT_EQ(CDWriterEx_CreateTrack(c, 2, kAudio, 2352, 150, nullptr, 0), kNoErr);
  page = page05(-1);
  EXPECT_EQ(page[3] & 0x0F, 0x00) << "audio track mode";
  EXPECT_EQ(page[4], kAudio);
  EXPECT_EQ(be::get16(page, 14), 150u);
  ASSERT_EQ(writeAll(c, audio, 2352), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  EXPECT_EQ(page05(-1)[4], kMode1) << "the drive's defaults are back";
  EXPECT_TRUE(driveHeld()) << "the writer keeps the drive until it is ejected or released";

  // What went to the drive: 64 KB chunks at the addresses it gave.
  const auto closes = sent(0x5B);
  ASSERT_EQ(closes.size(), 3u);
  EXPECT_EQ(closes[0].cdb[2], 1);
  EXPECT_EQ(closes[0].cdb[5], 1) << "CLOSE TRACK of track 1";
  EXPECT_EQ(closes[1].cdb[5], 2);
  EXPECT_EQ(closes[2].cdb[2], 2) << "CLOSE SESSION";
  const auto writes = sent(0x2A);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(be::get16(writes.front().cdb, 7), 32u) << "65,536 / 2048";
  EXPECT_EQ(be::get16(writes.back().cdb, 7), 200u % 27)
      << "27-block chunks of each 200-block piece";
  const std::uint32_t audioStart = isoBlocks + 2 + 150;  // data, run-out, pregap
  EXPECT_EQ(firstWriteAfter(writeAddresses(), isoBlocks), static_cast<std::int32_t>(audioStart));

  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  const fs::path cue = dump();
  const std::string info = cdInfo(cue);
  EXPECT_NE(info.find("1: 00:02:00  000000 data"), std::string::npos) << info;
  char line[48];
  std::snprintf(line, sizeof line, "2: %02u:%02u:%02u  %06u audio", (audioStart + 150) / 4500,
                (audioStart + 150) / 75 % 60, (audioStart + 150) % 75, audioStart);
  EXPECT_NE(info.find(line), std::string::npos) << info;
  const std::string toc = cdrdaoToc();
  EXPECT_EQ(cdrdaoField(toc, 1, "START"), 0) << toc;
  EXPECT_EQ(cdrdaoField(toc, 2, "START"), static_cast<long>(audioStart)) << toc;
  EXPECT_EQ(cdrdaoField(toc, 2, "PREGAP"), 150) << toc;

  ASSERT_TRUE(bchunk(true));
  const Bytes data = readFile(env_.folder() / "t01.iso");
  ASSERT_GE(data.size(), iso.size());
  EXPECT_TRUE(std::equal(iso.begin(), iso.end(), data.begin())) << "the data track's user data";
  const Bytes wav = readFile(env_.folder() / "t02.wav");
  ASSERT_EQ(wav.size(), 44 + audio.size() + 2 * 2352) << "the samples and the track's run-out";
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), wav.begin() + 44))
      << "the audio track's samples";
}

TEST_F(DriveWriter, SessionAtOnceAudioFromTheCueSheetReadsBack) {
  if (!haveReaders()) GTEST_SKIP() << "cd-info, cdrdao or bchunk missing";
  const std::vector<AudioTrack> plan = {{150, 1000}, {150, 600}};
  const Bytes sheet = audioCueSheet(-150, 1, plan);
  Bytes stream;  // pregaps of silence and the two tracks, in disc order
  std::vector<Bytes> music;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    stream.resize(stream.size() + std::size_t{plan[i].pregap} * 2352, 0);
    music.push_back(
        payload(std::size_t{plan[i].blocks} * 2352, static_cast<std::uint32_t>(10 + i)));
    stream.insert(stream.end(), music.back().begin(), music.back().end());
  }
  start();

  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, false, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kAudio, 0, sheet.data(),
                                     static_cast<std::uint32_t>(sheet.size()), nullptr, 0),
            kNoErr);
  const Bytes page = page05(-1);
  EXPECT_EQ(page[2] & 0x0F, 2) << "session at once";
  EXPECT_EQ(page[3], 0x04);
  const auto cues = sent(0x5D);
  ASSERT_EQ(cues.size(), 1u);
  EXPECT_EQ(cues.back().dataOut, sheet) << "the cue sheet as built";
  EXPECT_EQ(be::get24(cues.back().cdb, 6), sheet.size());
  ASSERT_EQ(writeAll(c, stream, 2352, 256), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);

  const auto addresses = writeAddresses();
  ASSERT_FALSE(addresses.empty());
  EXPECT_EQ(addresses.front(), -150) << "from the first pregap";
  EXPECT_EQ(be::get16(sent(0x2A).front().cdb, 7), 27u);
  EXPECT_FALSE(sent(0x35).empty()) << "SYNCHRONIZE CACHE ends the session";
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  const auto recorded = tracks();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[1].start, 1150u);
  EXPECT_EQ(recorded[1].pregap, 150u);

  const fs::path cue = dump();
  const std::string info = cdInfo(cue);
  EXPECT_NE(info.find("1: 00:02:00  000000 audio"), std::string::npos) << info;
  EXPECT_NE(info.find("2: 00:17:25  001150 audio"), std::string::npos) << info;
  EXPECT_NE(info.find("00:25:25  001750 leadout"), std::string::npos) << info;
  const std::string toc = cdrdaoToc();
  EXPECT_EQ(cdrdaoField(toc, 2, "START"), 1150) << toc;
  EXPECT_EQ(cdrdaoField(toc, 2, "PREGAP"), 150) << toc;
  ASSERT_TRUE(bchunk(true));
  const Bytes first = readFile(env_.folder() / "t01.wav");
  ASSERT_GE(first.size(), 44 + music[0].size());
  EXPECT_TRUE(std::equal(music[0].begin(), music[0].end(), first.begin() + 44));
  const Bytes second = readFile(env_.folder() / "t02.wav");
  ASSERT_EQ(second.size(), 44 + music[1].size());
  EXPECT_TRUE(std::equal(music[1].begin(), music[1].end(), second.begin() + 44));
}

TEST_F(DriveWriter, ASecondSessionIsAppendedAfterTheLeadOutAndLeadIn) {
  if (!haveReaders()) GTEST_SKIP() << "genisoimage, cd-info, cdrdao or bchunk missing";
  const Bytes one = isoImage(env_.folder(), "ONE", 650'000, 3);
  const Bytes two = isoImage(env_.folder(), "TWO", 800'000, 4);
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());
  start();
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 2, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  for (std::uint8_t session = 1; session <= 2; ++session) {
    const Bytes& iso = session == 1 ? one : two;
    ASSERT_EQ(CDWriterEx_CreateSession(c, 0x00, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
    EXPECT_EQ(page05(-1)[3], session == 1 ? 0xC4 : 0x04)
        << "a next session allowed, then the disc closed";
    ASSERT_EQ(CDWriterEx_CreateTrack(c, session, kMode1, 2048, 150, nullptr, 0), kNoErr);
    ASSERT_EQ(writeAll(c, iso, 2048), kNoErr);
    ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
    ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
    if (session == 1) {
      EXPECT_EQ(discStatus(), emu::DiscStatus::Appendable);
      std::array<std::uint8_t, 34> disc{};
      ASSERT_EQ(MMC_GetDiscInfo(ref_, disc.data(), disc.size(), nullptr), kNoErr);
      EXPECT_EQ(disc[2] & 0x0F, 0x01) << "appendable, with an empty last session";
      EXPECT_EQ(disc[4], 2) << "the empty session counts";
      EXPECT_EQ(disc[5], 2);
    }
  }
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);

  // Track 1 ends with its run-out; the first lead-out (6,750), the next lead-in (4,500) and a
  // pregap (150) come before track 2: the 11,400 blocks between sessions.
  const std::uint32_t leadOut = static_cast<std::uint32_t>(one.size() / 2048) + 2;
  const std::uint32_t second = leadOut + 11'400;
  const auto addresses = writeAddresses();
  EXPECT_EQ(addresses.front(), 0);
  EXPECT_EQ(firstWriteAfter(addresses, leadOut), static_cast<std::int32_t>(second));
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);

  const fs::path cue = dump();
  EXPECT_NE(readText(cue).find("REM SESSION 02"), std::string::npos);
  const std::string info = cdInfo(cue);
  char line[32];
  std::snprintf(line, sizeof line, "%06u data", second);
  EXPECT_NE(info.find(line), std::string::npos) << info;
  const std::string toc = cdrdaoToc();
  EXPECT_EQ(cdrdaoField(toc, 2, "START"), static_cast<long>(second)) << toc;
  ASSERT_TRUE(bchunk(false));
  const Bytes back = readFile(env_.folder() / "t02.iso");
  ASSERT_GE(back.size(), two.size());
  EXPECT_TRUE(std::equal(two.begin(), two.end(), back.begin()));
  std::array<std::uint8_t, 2048> first{};
  ASSERT_EQ(MMC_ReadCD(ref_, 0x00, 0x10, second + 16, 1, first.data(), first.size(), nullptr),
            kNoErr);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), two.begin() + 16 * 2048))
      << "the second volume descriptor";
}
