// SPDX-License-Identifier: GPL-2.0-or-later
// The device-file track producer over images of whole sectors: a Video CD built by vcdxbuild
// (Mode 2, both forms) and a Mode 1 dump checked against bchunk's split of them, audio without
// a sync pattern, the tail probe, SetDataBlockType, and data that ends before the track does.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DPMs/tracks/dpm_device_file_track.h"
#include "medium.h"
#include "image/bin_cue_parser.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::readFile;
using quillion::test::runTool;
using quillion::test::TempDir;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

Bytes produce(DPM_DeviceFileTrack& p, std::uint32_t chunk, EngineStatus& last) {
  Bytes all;
  Bytes buffer(std::size_t{chunk} * 2352);
  last = kNoErr;
  for (;;) {
    std::uint32_t got = 0;
    last = p.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), chunk, &got);
    all.insert(all.end(), buffer.begin(), buffer.begin() + std::size_t{got} * p.BlockSize());
    if (last != kNoErr || got == 0) break;
  }
  return all;
}

// Bytes [from, from + keep) of every 2352-byte sector.
Bytes cut(const Bytes& raw, std::size_t from, std::size_t keep) {
  Bytes out;
  for (std::size_t at = 0; at + 2352 <= raw.size(); at += 2352) {
    out.insert(out.end(), raw.begin() + static_cast<long>(at + from),
               raw.begin() + static_cast<long>(at + from + keep));
  }
  return out;
}

TEST(DeviceFileTrack, VideoCdTracksAgainstBchunk) {
  QUILLION_REQUIRE_TOOL("vcdxbuild");
  QUILLION_REQUIRE_TOOL("bchunk");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  quillion::test::ToolOptions in;
  in.workingDirectory = dir.path();
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                     "testsrc=size=352x288:rate=25:duration=2", "-f", "lavfi", "-i",
                     "sine=r=44100:d=2", "-target", "pal-vcd", "v.mpg"},
                    in)
                .exitCode,
            0);
  ASSERT_EQ(runTool({"vcdxgen", "-t", "vcd2", "v.mpg"}, in).exitCode, 0);
  ASSERT_EQ(runTool({"vcdxbuild", "-c", "vcd.cue", "-b", "vcd.bin", "videocd.xml"}, in).exitCode,
            0);
  ASSERT_EQ(runTool({"bchunk", "-r", "vcd.bin", "vcd.cue", "t"}, in).exitCode, 0);
  BinCue_Parser parser;
  ASSERT_EQ(parser.parse(dir.file("vcd.cue").c_str()), kNoErr);
  const auto& tracks = parser.info()->tracks;
  ASSERT_GE(tracks.size(), 2u);
  // Track 1 holds the ISO 9660 file system (Form 1); track 2 the MPEG stream (Form 2).
  const std::uint8_t forms[] = {1, 2};
  for (std::size_t t = 0; t < 2; ++t) {
    SCOPED_TRACE(t + 1);
    const Bytes raw = readFile(dir.file("t0" + std::to_string(t + 1) + ".iso"));
    ASSERT_EQ(raw.size(), std::size_t{tracks[t].blocks} * 2352);
    const auto start = static_cast<std::uint32_t>(tracks[t].fileOffset / 2352);
    for (const std::uint8_t type : {std::uint8_t{9}, std::uint8_t{13}}) {
      DPM_DeviceFileTrack p(parser.dataFilePath(), start, tracks[t].blocks, false);
      std::uint16_t size = 0;
      ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), tracks[t].blocks);
      bool audio = true;
      std::uint8_t blockType = 0, mode = 0, form = 0;
      ASSERT_EQ(p.GetTrackParams(&audio, &blockType, &mode, &form), kNoErr);
      EXPECT_FALSE(audio);
      EXPECT_EQ(blockType, 9);
      EXPECT_EQ(mode, 2);
      EXPECT_EQ(form, forms[t]);
      ASSERT_EQ(p.SetDataBlockType(type), kNoErr);
      const std::uint32_t bytes = type == 13 ? 2332 : 2336;
      EXPECT_EQ(p.BlockSize(), bytes);
      EngineStatus last = kNoErr;
      const Bytes ours = produce(p, 9, last);
      EXPECT_EQ(last, kNoErr);
      EXPECT_TRUE(ours == cut(raw, 16, bytes));
    }
  }
}

TEST(DeviceFileTrack, ModeOneAndAudioSectors) {
  QUILLION_REQUIRE_TOOL("bchunk");
  TempDir dir;
  // A Mode 1 track as the emulated drive records it, dumped to a bin/cue pair.
  const std::string text = quillion::test::patternBytes(2048 * 30, 9);
  writeFile(dir.file("d.iso"), text);
  auto medium = quillion::emu::Medium::fromIso(dir.file("d.iso"), dir.file("m"), 0x08);
  ASSERT_TRUE(medium);
  ASSERT_TRUE(medium->dumpBinCue(dir.file("m1.cue")));
  quillion::test::ToolOptions in;
  in.workingDirectory = dir.path();
  ASSERT_EQ(runTool({"bchunk", "m1.bin", "m1.cue", "b"}, in).exitCode, 0);
  {
    DPM_DeviceFileTrack p(dir.file("m1.bin").string(), 0, 30, false);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 30u);
    EXPECT_EQ(size, 2048);
    EngineStatus last = kNoErr;
    const Bytes ours = produce(p, 4, last);
    EXPECT_EQ(last, kNoErr);
    EXPECT_TRUE(ours == readFile(dir.file("b01.iso")));
    EXPECT_TRUE(ours == Bytes(text.begin(), text.end()));
  }
  {
    // The same data as a cooked file of 2048-byte blocks, from block 5.
    DPM_DeviceFileTrack p(dir.file("d.iso").string(), 5, 25, true);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 25u);
    EngineStatus last = kNoErr;
    const Bytes ours = produce(p, 4, last);
    EXPECT_TRUE(ours == Bytes(text.begin() + 5 * 2048, text.end()));
  }
  {
    // No sync pattern: audio, whole sectors as they are.
    const std::string pcm = quillion::test::patternBytes(2352 * 12, 4);
    writeFile(dir.file("a.bin"), pcm);
    DPM_DeviceFileTrack p(dir.file("a.bin").string(), 2, 10, false);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 10u);
    bool audio = false;
    std::uint8_t type = 9;
    ASSERT_EQ(p.GetTrackParams(&audio, &type, nullptr, nullptr), kNoErr);
    EXPECT_TRUE(audio);
    EXPECT_EQ(type, 0);
    ASSERT_EQ(p.SetDataBlockType(13), kNoErr);  // ignored for audio
    EXPECT_EQ(p.BlockSize(), 2352u);
    EngineStatus last = kNoErr;
    const Bytes ours = produce(p, 3, last);
    EXPECT_TRUE(ours == Bytes(pcm.begin() + 2 * 2352, pcm.end()));
  }
}

// The file holds fewer sectors than the track is said to have.
TEST(DeviceFileTrack, TailProbeAndMissingData) {
  TempDir dir;
  struct Case {
    const char* what;
    std::uint32_t fileSectors;
    std::uint32_t trackBlocks;
    bool cooked;
    std::uint32_t prepared;  // blocks PrepareAll answers
    EngineStatus last;
    std::uint32_t delivered;
    std::uint32_t zeroFilled;
  };
  const Case cases[] = {
      {"whole", 200, 200, false, 200, kNoErr, 200, 0},
      {"last sector missing", 199, 200, false, 199, kNoErr, 199, 0},
      {"last two missing", 198, 200, false, 198, kNoErr, 198, 0},
      {"two blocks", 2, 2, false, 0, kNoErr, 0, 0},
      {"cooked, the end inside the last 152", 2000, 2100, true, 2100, kNoErr, 2100, 100},
      {"cooked, the end before the last 152", 1000, 2000, true, 2000, kErrSourceRead, 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t unit = c.cooked ? 2048 : 2352;
    writeFile(dir.file("s.bin"), quillion::test::patternBytes(c.fileSectors * unit, 3));
    DPM_DeviceFileTrack p(dir.file("s.bin").string(), 0, c.trackBlocks, c.cooked);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), c.prepared);
    EngineStatus last = kNoErr;
    const Bytes ours = produce(p, 64, last);
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(ours.size(), std::size_t{c.delivered} * unit);
    EXPECT_EQ(p.ZeroFilledBlocks(), c.zeroFilled);
  }
  DPM_DeviceFileTrack missing(dir.file("none").string(), 0, 10, false);
  std::uint16_t size = 0;
  EXPECT_EQ(missing.PrepareAll(&size, nullptr, nullptr), 0u);
  Bytes buffer(2352);
  std::uint32_t got = 5;
  EXPECT_EQ(missing.NextBlocks(buffer.data(), 2352, 1, &got), kErrProducerNoSource);
  EXPECT_EQ(got, 0u);
}

}  // namespace
