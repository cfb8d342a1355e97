// SPDX-License-Identifier: GPL-2.0-or-later
// The bin/cue parser against cdrdao, cd-info and cuebreakpoints reading the same images, and
// its refusals of cues it cannot copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "image/bin_cue_parser.h"
#include "image/cue_sheet.h"
#include "tests/support/test_support.h"

namespace {

using quillion::cue::BinQ_Info;
using quillion::cue::BinQ_Track;
using quillion::test::runTool;
using quillion::test::TempDir;
using quillion::test::writeFile;

struct ImageCase {
  const char* name;
  const char* cue;  // FILE names "img.bin" (or another name when the case says so)
  std::uint64_t binBytes;
  bool cdInfo;                          // cd-info reads it (it knows no PREGAP or POSTGAP)
  bool cdrdao;                          // cdrdao reads it (no MODE1/2048 beside other modes)
  std::vector<std::uint32_t> postgaps;  // per track, to compare cdrdao's END
};

const std::vector<ImageCase>& imageCases() {
  static const std::vector<ImageCase> cases = {
      {"two_audio",
       "FILE \"img.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
       " TRACK 02 AUDIO\n  INDEX 01 03:00:00\n",
       30'000ull * 2352,
       true,
       true,
       {0, 0}},
      {"mixed_index00",
       "FILE \"img.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n"
       "  TRACK 02 AUDIO\r\n    INDEX 00 00:04:00\r\n    INDEX 01 00:06:00\r\n"
       "  TRACK 03 AUDIO\r\n    INDEX 00 00:10:00\r\n    INDEX 01 00:10:10\r\n",
       1000ull * 2352,
       true,
       true,
       {0, 0, 0}},
      // cdrdao refuses any INDEX 02 in a bin/cue image.
      {"index02",
       "FILE \"img.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n  INDEX 02 00:01:00\n"
       " TRACK 02 AUDIO\n  INDEX 00 00:03:00\n  INDEX 01 00:04:00\n  INDEX 02 00:05:00\n",
       2352ull * 500,
       true,
       false,
       {0, 0}},
      {"gaps",
       "FILE \"img.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:04:00\n"
       "  TRACK 03 AUDIO\n    INDEX 00 00:07:00\n    INDEX 01 00:08:00\n    POSTGAP 00:01:00\n"
       "  TRACK 04 AUDIO\n    INDEX 01 00:10:00\n",
       1000ull * 2352,
       false,
       true,
       {0, 0, 75, 0}},
      {"mode1_2048",
       "REM made by hand\nFILE img.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n",
       2048ull * 700,
       true,
       true,
       {0}},
      {"mode2_2352",
       "FILE \"img.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
       "  TRACK 02 MODE2/2352\n    INDEX 01 00:05:00\n",
       2352ull * 600,
       true,
       true,
       {0, 0}},
  };
  return cases;
}

struct ToolTrack {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::string mode;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// "TRACK  2  Mode AUDIO:" ... "START  00:06:00(   450)" ... "END    00:09:00(   675)"
std::vector<ToolTrack> cdrdaoTracks(const std::string& text) {
  std::vector<ToolTrack> out;
  for (const std::string& line : linesOf(text)) {
    int number = 0;
    char mode[32] = {};
    unsigned m = 0, s = 0, f = 0, lba = 0;
    if (std::sscanf(line.c_str(), "TRACK %d Mode %31[A-Z0-9_]:", &number, mode) == 2) {
      out.push_back({0, 0, mode});
    } else if (!out.empty() &&
               std::sscanf(line.c_str(), " START %u:%u:%u(%u)", &m, &s, &f, &lba) == 4) {
      out.back().start = lba;
    } else if (!out.empty() &&
               std::sscanf(line.c_str(), " END %u:%u:%u(%u)", &m, &s, &f, &lba) == 4) {
      out.back().end = lba;
    }
  }
  return out;
}

std::string cdrdaoModeOf(const BinQ_Track& t) {
  if (t.mode == 0) return "AUDIO";
  if (t.mode == 1) return t.sectorBytes == 2048 ? "MODE1" : "MODE1_RAW";
  return t.sectorBytes == 2048 ? "MODE2_FORM1" : "MODE2_RAW";
}

// "  2: 00:06:00  000300 audio ..." and "170: 00:15:25  001000 leadout"
std::map<int, std::uint32_t> cdInfoStarts(const std::string& text) {
  std::map<int, std::uint32_t> out;
  for (const std::string& line : linesOf(text)) {
    int number = 0;
    unsigned m = 0, s = 0, f = 0, lsn = 0;
    char type[16] = {};
    if (std::sscanf(line.c_str(), " %d: %2u:%2u:%2u %u %15s", &number, &m, &s, &f, &lsn, type) ==
        6) {
      out[number] = lsn;
    }
  }
  return out;
}

// cuebreakpoints prints INDEX 01 of tracks 2.. as m:ss.ff from the start of the file.
std::vector<std::uint32_t> cueBreakpoints(const std::string& text) {
  std::vector<std::uint32_t> out;
  for (const std::string& line : linesOf(text)) {
    unsigned m = 0, s = 0, f = 0;
    if (std::sscanf(line.c_str(), "%u:%u.%u", &m, &s, &f) == 3)
      out.push_back(m * 4500 + s * 75 + f);
  }
  return out;
}

struct ParsedImage {
  TempDir dir;
  BinCue_Parser parser;
  EngineStatus status = kNoErr;
};

void makeImage(ParsedImage& p, const std::string& cue, std::uint64_t binBytes,
               const std::string& cueName = "img.cue", const std::string& binName = "img.bin") {
  writeFile(p.dir.file(cueName), cue);
  if (binBytes > 0) {
    writeFile(p.dir.file(binName), quillion::test::patternBytes(binBytes));
  }
  p.status = p.parser.parse(p.dir.file(cueName).c_str());
}

std::vector<ImageCase> casesWhere(bool ImageCase::*readable) {
  std::vector<ImageCase> out;
  for (const ImageCase& c : imageCases()) {
    if (c.*readable) out.push_back(c);
  }
  return out;
}

void PrintTo(const ImageCase& c, std::ostream* os) {
  *os << c.name;
}

class CdrdaoImages : public ::testing::TestWithParam<ImageCase> {};
class CdInfoImages : public ::testing::TestWithParam<ImageCase> {};

TEST_P(CdrdaoImages, AgreeWithCdrdao) {
  QUILLION_REQUIRE_TOOL("cdrdao");
  const ImageCase& c = GetParam();
  ParsedImage p;
  makeImage(p, c.cue, c.binBytes);
  ASSERT_EQ(p.status, kNoErr);
  // cdrdao looks for the FILE line's name in its working folder.
  quillion::test::ToolOptions here;
  here.workingDirectory = p.dir.path();
  const auto r = runTool({"cdrdao", "show-toc", "img.cue"}, here);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<ToolTrack> tool = cdrdaoTracks(r.output);
  const BinQ_Info& info = *p.parser.info();
  ASSERT_EQ(tool.size(), info.tracks.size()) << r.output;
  for (std::size_t i = 0; i < tool.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(tool[i].mode, cdrdaoModeOf(info.tracks[i]));
    EXPECT_EQ(tool[i].start, info.tracks[i].start);
    // cdrdao's END takes the track's postgap in.
    EXPECT_EQ(tool[i].end - tool[i].start, info.tracks[i].blocks + c.postgaps[i]);
  }
  EXPECT_EQ(tool.back().end, info.totalBlocks);
}

TEST_P(CdInfoImages, AgreeWithCdInfoAndCuebreakpoints) {
  QUILLION_REQUIRE_TOOL("cd-info");
  QUILLION_REQUIRE_TOOL("cuebreakpoints");
  const ImageCase& c = GetParam();
  ParsedImage p;
  makeImage(p, c.cue, c.binBytes);
  ASSERT_EQ(p.status, kNoErr);
  const BinQ_Info& info = *p.parser.info();
  const std::string cue = p.dir.file("img.cue").string();
  const auto r = runTool({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", cue});
  const auto starts = cdInfoStarts(r.output);
  ASSERT_EQ(starts.size(), info.tracks.size() + 1) << r.output;
  for (std::size_t i = 0; i < info.tracks.size(); ++i) {
    EXPECT_EQ(starts.at(static_cast<int>(i + 1)), info.tracks[i].start) << "track " << i + 1;
  }
  // cd-info counts the lead-out from the file size in 2352-byte sectors, whatever the mode.
  if (info.tracks.back().sectorBytes == 2352) {
    EXPECT_EQ(starts.at(170), info.totalBlocks);
  }
  const auto points = cueBreakpoints(quillion::test::toolOutput({"cuebreakpoints", cue}));
  ASSERT_EQ(points.size(), info.tracks.size() - 1);
  for (std::size_t i = 1; i < info.tracks.size(); ++i) {
    EXPECT_EQ(points[i - 1], info.tracks[i].fileOffset / info.tracks[i].sectorBytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Cues, CdrdaoImages, ::testing::ValuesIn(casesWhere(&ImageCase::cdrdao)),
                         [](const auto& param) { return std::string(param.param.name); });
INSTANTIATE_TEST_SUITE_P(Cues, CdInfoImages, ::testing::ValuesIn(casesWhere(&ImageCase::cdInfo)),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(BinCueParser, SessionBytesFollowTheLayout) {
  ParsedImage p;
  makeImage(p, imageCases()[0].cue, imageCases()[0].binBytes);
  ASSERT_EQ(p.status, kNoErr);
  std::uint8_t* raw = nullptr;
  ASSERT_EQ(p.parser.getSessionInfo(&raw), kNoErr);
  ASSERT_NE(raw, nullptr);
  const std::span<const std::uint8_t> b(raw, 16 + 2 * 24);
  namespace le = quillion::le;
  EXPECT_EQ(le::get16(b, 0), 2u);  // tracks
  EXPECT_EQ(le::get16(b, 2), 2u);  // audio tracks
  EXPECT_EQ(le::get16(b, 4), 0u);
  EXPECT_EQ(le::get16(b, 6), 0u);
  EXPECT_EQ(le::get32(b, 8), 0u);
  EXPECT_EQ(le::get32(b, 12), 30'000u);
  EXPECT_EQ(le::get32(b, 16 + 4), 0u);
  EXPECT_EQ(le::get32(b, 16 + 8), 13'500u);
  EXPECT_EQ(le::get64(b, 16 + 12), 0u);
  EXPECT_EQ(le::get16(b, 40 + 2), 2352u);
  EXPECT_EQ(le::get32(b, 40 + 4), 13'500u);
  EXPECT_EQ(le::get32(b, 40 + 8), 16'500u);
  EXPECT_EQ(le::get64(b, 40 + 12), 31'752'000u);
  std::free(raw);
  EXPECT_EQ(p.parser.getSessionInfo(nullptr), kErrBadArgument);
  EXPECT_EQ(p.parser.term(), 1);
  EXPECT_EQ(p.parser.getSessionInfo(&raw), kErrCueParse);
  EXPECT_EQ(raw, nullptr);
}

TEST(BinCueParser, LowerCaseKeywordsParseLikeUpperCase) {
  const std::string upper =
      "FILE \"img.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\nPREGAP 00:04:00\nINDEX 01 00:10:00\n";
  const std::string lower =
      "file \"img.bin\" binary\ntrack 01 mode1/2352\nindex 01 00:00:00\n"
      "track 02 audio\npregap 00:04:00\nindex 01 00:10:00\n";
  ParsedImage a;
  ParsedImage b;
  makeImage(a, upper, 2352 * 2000);
  makeImage(b, lower, 2352 * 2000);
  ASSERT_EQ(a.status, kNoErr);
  ASSERT_EQ(b.status, kNoErr);
  EXPECT_EQ(quillion::cue::encodeSession(*a.parser.info()),
            quillion::cue::encodeSession(*b.parser.info()));
  // The PREGAP of 4 s moves the second track's start by 300 blocks.
  EXPECT_EQ(a.parser.info()->tracks[1].start, 750u + 300u);
  EXPECT_EQ(a.parser.info()->totalBlocks, 2000u + 300u);
}

// The data file is the FILE line's, relative to the cue's folder; the sibling .bin serves
// only when that one is missing.
TEST(BinCueParser, DataFileFromTheFileLine) {
  struct Case {
    const char* what;
    const char* cueName;
    const char* fileLine;
    const char* binName;
    const char* expected;  // the data file chosen, relative to the folder; "" for none
  };
  const Case cases[] = {
      {"another name", "disc.cue", "data track.img", "data track.img", "data track.img"},
      {"upper-case extension", "DISC.CUE", "DISC.BIN", "DISC.BIN", "DISC.BIN"},
      {"sub-folder", "disc.cue", "bins/disc.bin", "bins/disc.bin", "bins/disc.bin"},
      {"missing, sibling used", "disc.cue", "gone.bin", "disc.bin", "disc.bin"},
      {"missing, upper sibling", "DISC.CUE", "gone.bin", "DISC.BIN", "DISC.BIN"},
      {"nothing at all", "disc.cue", "gone.bin", "other.bin", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParsedImage p;
    std::filesystem::create_directories(p.dir.file("bins"));
    const std::string cue = std::string("FILE \"") + c.fileLine +
                            "\" BINARY\n TRACK 01 MODE1/2048\n  INDEX 01 00:00:00\n";
    makeImage(p, cue, 2048 * 20, c.cueName, c.binName);
    if (*c.expected == '\0') {
      EXPECT_EQ(p.status, kErrCueData);
      EXPECT_EQ(p.parser.info(), nullptr);
      continue;
    }
    ASSERT_EQ(p.status, kNoErr);
    EXPECT_EQ(p.parser.dataFilePath(), p.dir.file(c.expected).string());
    EXPECT_EQ(p.parser.info()->tracks[0].blocks, 20u);
  }
}

TEST(BinCueParser, RefusesBadCues) {
  const std::string head = "FILE \"img.bin\" BINARY\n";
  struct Case {
    const char* what;
    std::string cue;
    std::uint64_t binBytes;
    EngineStatus expected;
  };
  const Case cases[] = {
      {"two FILEs",
       head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n" + head + "TRACK 02 AUDIO\nINDEX 01 00:00:00\n",
       2352 * 100, kErrCueParse},
      {"MODE2/2336", head + "TRACK 01 MODE2/2336\nINDEX 01 00:00:00\n", 2336 * 100, kErrCueParse},
      {"seconds 60", head + "TRACK 01 AUDIO\nINDEX 01 00:60:00\n", 2352 * 100, kErrCueParse},
      {"frames 75", head + "TRACK 01 AUDIO\nINDEX 01 00:00:75\n", 2352 * 100, kErrCueParse},
      {"no FILE", "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 2352 * 100, kErrCueParse},
      {"no track", head, 2352 * 100, kErrCueParse},
      {"no INDEX 01", head + "TRACK 01 AUDIO\nINDEX 00 00:00:00\n", 2352 * 100, kErrCueParse},
      {"WAVE file", "FILE \"img.bin\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 2352 * 100,
       kErrCueParse},
      {"track numbers skip",
       head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\n"
              "INDEX 01 00:01:00\n",
       2352 * 100, kErrCueParse},
      {"INDEX 01 not rising",
       head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
              "INDEX 01 00:00:00\n",
       2352 * 100, kErrCueParse},
      {"INDEX 00 after 01", head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 00 00:00:00\n",
       2352 * 100, kErrCueParse},
      {"unknown keyword", head + "TRACK 01 AUDIO\nJUNK\nINDEX 01 00:00:00\n", 2352 * 100,
       kErrCueParse},
      {"trailing text", head + "TRACK 01 AUDIO\nINDEX 01 00:00:00 x\n", 2352 * 100, kErrCueParse},
      {"unclosed quote", "FILE \"img.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 2352 * 100,
       kErrCueParse},
      {"missing bin", head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 0, kErrCueData},
      {"bin shorter than one sector", head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 2000,
       kErrCueData},
      {"bin ends inside track 1",
       head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
              "INDEX 01 00:02:00\n",
       2352 * 100, kErrCueData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParsedImage p;
    makeImage(p, c.cue, c.binBytes);
    EXPECT_EQ(p.status, c.expected);
    EXPECT_EQ(p.parser.info(), nullptr);
    std::uint8_t* raw = nullptr;
    EXPECT_EQ(p.parser.getSessionInfo(&raw), kErrCueParse);
  }
  BinCue_Parser parser;
  EXPECT_EQ(parser.parse(nullptr), kErrBadArgument);
  EXPECT_EQ(parser.parse(""), kErrBadArgument);
  EXPECT_EQ(parser.init("/nonexistent/x.cue"), kErrCueParse);
}

TEST(BinCueParser, StringToLBA) {
  struct Case {
    const char* text;
    int index;
    std::uint32_t blocks;
  };
  const Case cases[] = {
      {"INDEX 01 00:00:00", 1, 0},       {"INDEX 00 03:00:00", 0, 13'500},
      {"index\t02 \t01:02:03", 2, 4653}, {"PREGAP 00:04:00", 0, 300},
      {"POSTGAP 99:59:74", 0, 449'999},  {"INDEX 01 00:60:00", -1, 0},
      {"INDEX 1 00:00:00", -1, 0},       {"INDEX 01 0:00:00", -1, 0},
      {"TRACK 01 AUDIO", -1, 0},         {"INDEX 01", -1, 0},
  };
  BinCue_Parser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint32_t blocks = 12345;
    EXPECT_EQ(parser.stringToLBA(c.text, &blocks), c.index);
    if (c.index >= 0) {
      EXPECT_EQ(blocks, c.blocks);
    }
  }
}

// A cue and bin made by an independent Video CD builder.
TEST(BinCueParser, ReadsAVideoCdBuildersImage) {
  QUILLION_REQUIRE_TOOL("vcdxbuild");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("cdrdao");
  TempDir dir;
  const auto mpg = dir.file("v.mpg").string();
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                     "testsrc=size=352x288:rate=25:duration=2", "-f", "lavfi", "-i",
                     "sine=r=44100:d=2", "-target", "pal-vcd", mpg})
                .exitCode,
            0);
  quillion::test::ToolOptions in;
  in.workingDirectory = dir.path();
  ASSERT_EQ(runTool({"vcdxgen", "-t", "vcd2", "v.mpg"}, in).exitCode, 0);
  const auto built = runTool({"vcdxbuild", "-c", "vcd.cue", "-b", "vcd.bin", "videocd.xml"}, in);
  ASSERT_EQ(built.exitCode, 0) << built.output;
  BinCue_Parser parser;
  ASSERT_EQ(parser.parse(dir.file("vcd.cue").c_str()), kNoErr);
  const auto tool = cdrdaoTracks(quillion::test::toolOutput({"cdrdao", "show-toc", "vcd.cue"}, in));
  const BinQ_Info& info = *parser.info();
  ASSERT_EQ(tool.size(), info.tracks.size());
  for (std::size_t i = 0; i < tool.size(); ++i) {
    EXPECT_EQ(tool[i].mode, cdrdaoModeOf(info.tracks[i]));
    EXPECT_EQ(tool[i].start, info.tracks[i].start);
    EXPECT_EQ(tool[i].end - tool[i].start, info.tracks[i].blocks);
  }
  EXPECT_EQ(info.mode2Tracks, info.tracks.size());
  EXPECT_EQ(parser.dataFilePath(), dir.file("vcd.bin").string());
}

}  // namespace
