// SPDX-License-Identifier: GPL-2.0-or-later
// The producers that copy or repeat bytes: zero runs, lead-in CD-Text, raw data files (checked
// against bchunk's split of the same bin/cue image), tracks of a native image file, and the
// CD-Text CRC (checked against python3's CRC-CCITT).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "DPMs/tracks/cd_text_crc.h"
#include "DPMs/tracks/dpm_blank.h"
#include "DPMs/tracks/dpm_cdtext.h"
#include "DPMs/tracks/dpm_image_file_track.h"
#include "DPMs/tracks/dpm_raw_data_file.h"
#include "image/bin_cue_parser.h"
#include "image/cd_image_file.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::patternBytes;
using quillion::test::readFile;
using quillion::test::runTool;
using quillion::test::TempDir;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

// Every block of a prepared producer, asked for `chunk` blocks at a time.
Bytes drain(DPM_Base& p, std::uint32_t chunk, EngineStatus* last = nullptr) {
  Bytes all;
  Bytes buffer(std::size_t{chunk} * p.BlockSize());
  for (;;) {
    std::uint32_t got = 0;
    const EngineStatus s =
        p.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), chunk, &got);
    if (last != nullptr) *last = s;
    if (s != kNoErr || got == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + std::size_t{got} * p.BlockSize());
  }
  return all;
}

TEST(CdTextCrc, MatchesPythonCrcCcitt) {
  QUILLION_REQUIRE_TOOL("python3");
  // "abc" is the CRC-16/XMODEM check value; the rest are packs of 16 bytes.
  std::vector<std::string> inputs = {"abc", "", std::string(16, '\0')};
  for (unsigned seed = 1; seed <= 6; ++seed) inputs.push_back(patternBytes(16, seed));
  // One interpreter for every input: starting one costs far more than the CRCs.
  std::vector<std::string> args = {"python3", "-c",
                                    "import binascii,sys\n"
                                    "for h in sys.argv[1:]: print(binascii.crc_hqx(bytes.fromhex(h), 0))"};
  for (const std::string& in : inputs) args.push_back(quillion::test::hexOf(in));
  const auto r = runTool(args);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::istringstream lines(r.output);
  for (const std::string& in : inputs) {
    SCOPED_TRACE(quillion::test::hexOf(in));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const unsigned expected = static_cast<unsigned>(std::stoul(line));
    const auto* data = reinterpret_cast<const std::uint8_t*>(in.data());
    EXPECT_EQ(quillion::cdTextCrc(data, in.size()), expected);
    const unsigned swapped = ((expected & 0xFF) << 8) | (expected >> 8);
    EXPECT_EQ(ComputeCRC(data, in.size()), swapped);
  }
  const auto* abc = reinterpret_cast<const std::uint8_t*>("abc");
  EXPECT_EQ(quillion::cdTextCrc(abc, 3), 0x9DD6);
  EXPECT_EQ(InitCRC(), 0);
  DeinitCRC();
  // The table needs no building: the CRC holds after DeinitCRC as before InitCRC.
  EXPECT_EQ(ComputeCRC(abc, 3), 0xD69D);
}

TEST(CdTextProducer, PacksRepeatOverTheLeadIn) {
  // Three 96-byte packs, each byte naming its pack: the 100th block is pack 1 of round 34.
  Bytes packs(3 * 96);
  for (std::size_t i = 0; i < packs.size(); ++i) packs[i] = static_cast<std::uint8_t>(i / 96 + 1);
  DPM_CDText p(100, packs.data(), static_cast<std::uint32_t>(packs.size()));
  packs.assign(packs.size(), 0);  // the producer keeps its own copy
  std::uint16_t size = 2048;
  ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 100u);
  EXPECT_EQ(size, 96);
  const Bytes all = drain(p, 7);
  ASSERT_EQ(all.size(), 100u * 96);
  for (std::size_t block = 0; block < 100; ++block) {
    EXPECT_EQ(all[block * 96], block % 3 + 1) << block;
    EXPECT_EQ(all[block * 96 + 95], block % 3 + 1) << block;
  }
  EXPECT_EQ(all[99 * 96], 1);  // block 100 = 3 × 33 + 1: pack 1 of round 34
  std::uint32_t got = 5;
  EXPECT_EQ(p.NextBlocks(nullptr, 96, 1, &got), kErrBadArgument);
  Bytes one(96);
  EXPECT_EQ(p.NextBlocks(one.data(), 96, 0, &got), kErrBadArgument);
  DPM_CDText empty(100, nullptr, 0);
  EXPECT_EQ(empty.PrepareAll(&size, nullptr, nullptr), 0u);
}

TEST(BlankProducer, ZerosOfTheRequestedSize) {
  DPM_Blank p(2352, 10);
  std::uint16_t size = 2048;
  ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 10u);
  EXPECT_EQ(p.BlockSize(), 2048u);
  Bytes buffer(4 * 2048, 0xAA);
  std::uint32_t got = 0;
  ASSERT_EQ(p.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), 4, &got),
            kNoErr);
  EXPECT_EQ(got, 4u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(drain(p, 4).size(), 6u * 2048);
  EXPECT_EQ(p.NextBlocks(nullptr, 0, 4, &got), kErrOutOfMemory);
  DPM_Blank own(2336, 3);
  size = 0;
  EXPECT_EQ(own.PrepareAll(&size, nullptr, nullptr), 3u);
  EXPECT_EQ(size, 2336);
}

// A bin/cue image split by bchunk; each track read through DPM_RawDataFile as the copy route
// would read it must equal bchunk's file.
TEST(RawDataFile, TracksEqualBchunksSplit) {
  QUILLION_REQUIRE_TOOL("bchunk");
  TempDir dir;
  writeFile(dir.file("img.cue"),
            "FILE \"img.bin\" BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n"
            " TRACK 02 MODE2/2352\n  INDEX 01 00:00:40\n TRACK 03 AUDIO\n  INDEX 01 00:01:10\n");
  writeFile(dir.file("img.bin"), patternBytes(2352 * 130, 7));
  BinCue_Parser parser;
  ASSERT_EQ(parser.parse(dir.file("img.cue").c_str()), kNoErr);
  quillion::test::ToolOptions in;
  in.workingDirectory = dir.path();
  ASSERT_EQ(runTool({"bchunk", "-w", "img.bin", "img.cue", "w"}, in).exitCode, 0);
  ASSERT_EQ(runTool({"bchunk", "-r", "img.bin", "img.cue", "r"}, in).exitCode, 0);
  struct Case {
    std::size_t track;
    std::uint32_t blockSize;
    std::string file;
    std::size_t skip;  // bytes of the tool's file before the track data
  };
  const Case cases[] = {
      {0, 2048, "w01.iso", 0},  // bytes 16 to 2063 of each sector
      {1, 2352, "r02.iso", 0},  // raw mode keeps whole sectors
      {2, 2352, "w03.wav", 44},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto& t = parser.info()->tracks[c.track];
    DPM_RawDataFile p(parser.dataFilePath(), c.blockSize, t.blocks, t.fileOffset, t.sectorBytes);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), t.blocks);
    EXPECT_EQ(size, c.blockSize);
    const Bytes ours = drain(p, 3);
    const Bytes tool = readFile(dir.file(c.file));
    ASSERT_EQ(tool.size(), ours.size() + c.skip);
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), tool.begin() + static_cast<long>(c.skip)));
    EXPECT_EQ(p.DataResult(), kNoErr);
  }
}

TEST(RawDataFile, CountsFromTheFileAndReportsMissingData) {
  TempDir dir;
  const std::string text = patternBytes(2048 * 5 + 100, 3);
  const Bytes data(text.begin(), text.end());
  writeFile(dir.file("d.raw"), text);
  {
    // From the file: 6 blocks, the last completed with zeros, and nothing missing.
    DPM_RawDataFile p(dir.file("d.raw").string(), 2048, 0, 0, 2048);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 6u);
    const Bytes all = drain(p, 4);
    ASSERT_EQ(all.size(), 6u * 2048);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), all.begin()));
    EXPECT_TRUE(std::all_of(all.begin() + static_cast<long>(data.size()), all.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(p.DataResult(), kNoErr);
  }
  {
    // A track of 8 blocks from offset 2048 in a file that holds 4 and a bit: the track keeps
    // its length, and the shortfall is recorded.
    DPM_RawDataFile p(dir.file("d.raw").string(), 2048, 8, 2048, 2048);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 8u);
    const Bytes all = drain(p, 3);
    EXPECT_EQ(all.size(), 8u * 2048);
    EXPECT_TRUE(std::equal(data.begin() + 2048, data.end(), all.begin()));
    ASSERT_EQ(p.MissingData().size(), 1u);
    EXPECT_EQ(p.MissingData()[0].expectedBytes, 8u * 2048);
    EXPECT_EQ(p.MissingData()[0].readBytes, data.size() - 2048);
    EXPECT_EQ(p.DataResult(), kErrFileAccess);
  }
  struct Refusal {
    const char* what;
    std::string path;
    std::uint32_t blocks;
    std::uint64_t start;
  };
  const Refusal refusals[] = {
      {"missing file", dir.file("none").string(), 0, 0},
      {"a folder", dir.path().string(), 0, 0},
      {"device node with an offset", "/dev/null", 4, 2048},
      {"device node without a count", "/dev/null", 0, 0},
      {"not a block device", "/dev/null", 4, 0},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    DPM_RawDataFile p(r.path, 2048, r.blocks, r.start, 2048);
    std::uint16_t size = 0;
    EXPECT_EQ(p.PrepareAll(&size, nullptr, nullptr), 0u);
    Bytes buffer(2048);
    std::uint32_t got = 9;
    EXPECT_EQ(p.NextBlocks(buffer.data(), 2048, 1, &got), kErrProducerNoSource);
    EXPECT_EQ(got, 0u);
  }
}

TEST(ImageFileTrack, FiltersCutTheStoredBlocks) {
  TempDir dir;
  const std::string path = dir.file("i.wlt").string();
  const std::string text = patternBytes(2336 * 6, 11);
  const Bytes stored(text.begin(), text.end());
  {
    CDImageFile image(false);
    ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
    WLTSESSION s;
    s.sessionType = 2;
    ASSERT_EQ(image.NewSession(s), kNoErr);
    WLTTRACK t;
    t.trackType = 5;
    t.blockSize = 2336;
    ASSERT_EQ(image.NewTrack(t), kNoErr);
    ASSERT_EQ(image.WriteData(stored.data(), 6), kNoErr);
    ASSERT_EQ(image.CloseTrack(), kNoErr);
    ASSERT_EQ(image.CloseSession(), kNoErr);
    ASSERT_EQ(image.Close(), kNoErr);
  }
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), false), kNoErr);
  struct Case {
    const char* what;
    int filter;  // 0 none, 2048, 2332
    std::uint32_t blockSize;
    std::size_t offset;
  };
  const Case cases[] = {
      {"as stored", 0, 2336, 0}, {"2048", 2048, 2048, 8}, {"2332", 2332, 2332, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DPM_ImageFileTrack p(&image, 1);
    if (c.filter == 2048) p.SetFilterTo2048(false);
    if (c.filter == 2332) p.SetFilterTo2332(false);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 6u);
    EXPECT_EQ(size, c.blockSize);
    p.SetTotalBlocks(8);  // two more than stored: zeros
    const Bytes all = drain(p, 4);
    ASSERT_EQ(all.size(), 8u * c.blockSize);
    for (std::size_t b = 0; b < 6; ++b) {
      EXPECT_TRUE(std::equal(all.begin() + static_cast<long>(b * c.blockSize),
                             all.begin() + static_cast<long>((b + 1) * c.blockSize),
                             stored.begin() + static_cast<long>(b * 2336 + c.offset)))
          << "block " << b;
    }
    EXPECT_TRUE(std::all_of(all.begin() + 6 * c.blockSize, all.end(),
                            [](std::uint8_t v) { return v == 0; }));
  }
  DPM_ImageFileTrack none(nullptr, 1);
  std::uint16_t size = 0;
  EXPECT_EQ(none.PrepareAll(&size, nullptr, nullptr), 0u);
  Bytes buffer(2336);
  std::uint32_t got = 0;
  EXPECT_EQ(none.NextBlocks(buffer.data(), 2336, 1, &got), kErrBadArgument);
  DPM_ImageFileTrack unknown(&image, 2);
  EXPECT_EQ(unknown.PrepareAll(&size, nullptr, nullptr), 0u);
}

}  // namespace
