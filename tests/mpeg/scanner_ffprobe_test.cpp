// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner on program streams that ffmpeg makes for the Video CD, Super Video CD and DVD
// targets, every answer checked against ffprobe. These targets write packs of a fixed size
// (2324 bytes for the CD targets, 2048 for DVD), so ffprobe's packet positions tell which
// pack each packet lies in without the scanner's help.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "quillion/MU.h"
#include "tests/support/generated_file.h"
#include "tests/support/test_support.h"
#include "tool_output.h"

namespace {

using quillion::test::compactLines;
using quillion::test::readFile;
using quillion::test::runTool;
using quillion::test::TempDir;
using quillion::test::toolAvailable;

struct Target {
  const char* name;
  const char* ffmpegArgs;
  std::uint64_t packBytes;
  bool privateAudio = false;  // AC-3 in private stream 1: counted with the video packs
};

const Target kTargets[] = {
    {"pal_vcd",
     "-f lavfi -i testsrc=size=352x288:rate=25:duration=3 -f lavfi -i sine=r=44100:d=3 "
     "-target pal-vcd",
     2324},
    {"ntsc_vcd",
     "-f lavfi -i testsrc=size=352x240:rate=30000/1001:duration=3 -f lavfi -i sine=r=44100:d=3 "
     "-target ntsc-vcd",
     2324},
    {"pal_svcd",
     "-f lavfi -i testsrc=size=480x576:rate=25:duration=3 -f lavfi -i sine=r=44100:d=3 "
     "-target pal-svcd",
     2324},
    // MPEG audio keeps the audio in its own stream ids; the scanner takes private streams
    // for neither audio nor video.
    {"pal_dvd",
     "-f lavfi -i testsrc=size=720x576:rate=25:duration=3 -f lavfi -i sine=r=48000:d=3 "
     "-target pal-dvd -c:a mp2 -b:a 224k",
     2048},
    {"ntsc_dvd_wide",
     "-f lavfi -i testsrc=size=720x480:rate=30000/1001:duration=3 -f lavfi -i sine=r=48000:d=3 "
     "-target ntsc-dvd -aspect 16:9 -c:a mp2 -b:a 224k",
     2048},
    {"pal_dvd_ac3",
     "-f lavfi -i testsrc=size=720x576:rate=25:duration=3 -f lavfi -i sine=r=48000:d=3 "
     "-target pal-dvd",
     2048, true},
};

double rational(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::atof(text.c_str());
  return std::atof(text.substr(0, slash).c_str()) / std::atof(text.substr(slash + 1).c_str());
}

std::string quote(const std::string& s) {
  return "'" + s + "'";
}

class ScannerAgainstFfprobe : public ::testing::TestWithParam<Target> {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    if (!toolAvailable("ffmpeg") || !toolAvailable("ffprobe"))
      GTEST_SKIP() << "ffmpeg/ffprobe missing";
    path_ = dir_->file(std::string(GetParam().name) + ".mpg");
    std::vector<std::string> argv{"ffmpeg", "-v", "error", "-y"};
    std::istringstream words(GetParam().ffmpegArgs);
    for (std::string word; words >> word;) argv.push_back(word);
    argv.push_back(path_);
    const quillion::test::ToolResult made = quillion::test::runGenerator(argv);
    ASSERT_EQ(made.exitCode, 0) << "ffmpeg failed for " << GetParam().name << ": " << made.output;
    handle_ = MU_Init(path_.c_str());
    ASSERT_NE(handle_, nullptr);
    ASSERT_TRUE(MU_FullParse(handle_, &info_, nullptr, nullptr));
  }
  void TearDown() override {
    MU_ReleaseInfo(&info_);
    MU_Term(handle_);
  }

  std::string probe(const std::string& args) {
    return runTool("ffprobe -v error " + args + " " + quote(path_));
  }

  int expectedAspectCode(const quillion::test::Fields& video);

  static TempDir* dir_;
  std::string path_;
  MU_Handle* handle_ = nullptr;
  MU_MPEG_Info info_{};
};

TempDir* ScannerAgainstFfprobe::dir_ = nullptr;

// The aspect code of the first sequence header. For MPEG-2 the header oracle prints the field
// itself; it does not take MPEG-1, whose code ffprobe shows as the pel aspect ratio that the
// decoder derives from it (the inverse of the code's entry in the MPEG-1 table).
int ScannerAgainstFfprobe::expectedAspectCode(const quillion::test::Fields& video) {
  if (video.at("codec_name") == "mpeg2video") {
    const std::string trace = runTool("ffmpeg -v info -i " + quote(path_) +
                                      " -c copy -bsf:v trace_headers -f null - 2>&1");
    const auto at = trace.find("aspect_ratio_information");
    if (at == std::string::npos) return -1;
    return std::stoi(trace.substr(trace.find("= ", at) + 2));
  }
  static const double kPelAspect[15] = {0,      1.0,    0.6735, 0.7031, 0.7615,
                                        0.8055, 0.8437, 0.8935, 0.9157, 0.9815,
                                        1.0255, 1.0695, 1.0950, 1.1575, 1.2015};
  std::string sarText = video.at("sample_aspect_ratio");
  const auto colon = sarText.find(':');
  if (colon != std::string::npos) sarText[colon] = '/';
  const double sar = rational(sarText);
  int best = -1;
  double bestError = 1e9;
  for (int code = 1; code < 15; ++code) {
    const double error = std::fabs(1.0 / kPelAspect[code] - sar);
    if (error < bestError) {
      bestError = error;
      best = code;
    }
  }
  return best;
}

TEST_P(ScannerAgainstFfprobe, StreamFactsMatch) {
  const auto streams =
      compactLines(probe("-select_streams v -show_entries stream=codec_name,width,height,"
                         "r_frame_rate,sample_aspect_ratio -of compact=p=0"));
  ASSERT_EQ(streams.size(), 1u);
  const auto& video = streams[0];
  EXPECT_EQ(info_.tag, kMU_InfoTag);
  EXPECT_EQ(info_.version, video.at("codec_name") == "mpeg1video" ? 1 : 2);
  EXPECT_EQ(info_.width, std::stoi(video.at("width")));
  EXPECT_EQ(info_.height, std::stoi(video.at("height")));
  EXPECT_NEAR(info_.frameRate, rational(video.at("r_frame_rate")), 1e-6);
  EXPECT_EQ(info_.fileSize, readFile(path_).size());
  EXPECT_EQ(info_.stopped, 0u);
  if (!GetParam().privateAudio) {
    EXPECT_EQ(info_.unknownPacks, 0u);
  }

  EXPECT_EQ(info_.aspectCode, expectedAspectCode(video));

  const auto format = compactLines(probe("-show_entries format=duration -of compact=p=0"));
  ASSERT_EQ(format.size(), 1u);
  EXPECT_NEAR(info_.duration, std::atof(format[0].at("duration").c_str()), 1.0);
  EXPECT_EQ(info_.duration, std::floor(info_.duration));
}

TEST_P(ScannerAgainstFfprobe, PackCountsMatch) {
  const std::uint64_t packBytes = GetParam().packBytes;
  ASSERT_EQ(info_.fileSize % packBytes, 0u);
  const auto kinds = compactLines(probe("-show_entries stream=index,codec_type -of compact=p=0"));
  std::set<std::string> audioIndexes;
  for (const auto& s : kinds)
    if (s.at("codec_type") == "audio") audioIndexes.insert(s.at("index"));
  ASSERT_FALSE(audioIndexes.empty());

  // Without parsers ffprobe reports every packet at its own position.
  const auto packets =
      compactLines(probe("-fflags +noparse+nofillin -show_packets "
                         "-show_entries packet=stream_index,pos -of compact=p=0"));
  ASSERT_FALSE(packets.empty());
  std::set<std::uint64_t> audioPacks;
  for (const auto& p : packets) {
    ASSERT_NE(p.at("pos"), "N/A");
    if (audioIndexes.count(p.at("stream_index")))
      audioPacks.insert(std::stoull(p.at("pos")) / packBytes);
  }
  if (GetParam().privateAudio) {
    EXPECT_EQ(info_.audioPacks, 0u);
    EXPECT_EQ(info_.videoPacks, info_.fileSize / packBytes);
    EXPECT_LE(info_.unknownPacks, audioPacks.size());
    return;
  }
  EXPECT_EQ(info_.audioPacks, audioPacks.size());
  EXPECT_EQ(info_.videoPacks, info_.fileSize / packBytes - audioPacks.size());
}

TEST_P(ScannerAgainstFfprobe, IFrameTableMatches) {
  if (info_.version == 1) {
    EXPECT_EQ(info_.iFrameTable, nullptr);
    return;
  }
  ASSERT_NE(info_.iFrameTable, nullptr);
  // The I frames' times from the decoder; the pack of each from the position of the packet
  // that carries the same time stamp, listed without parsers (such a packet begins with the
  // picture, as the scanner requires).
  const auto frames = compactLines(
      probe("-select_streams v -show_frames -show_entries frame=pict_type,pts -of compact=p=0"));
  const auto packets =
      compactLines(probe("-fflags +noparse+nofillin -select_streams v -show_packets "
                         "-show_entries packet=pts,pos -of compact=p=0"));
  std::map<std::string, std::uint64_t> positionOf;
  for (const auto& p : packets)
    if (p.at("pts") != "N/A") positionOf.emplace(p.at("pts"), std::stoull(p.at("pos")));
  std::vector<MU_IFrameEntry> expected;
  for (const auto& f : frames) {
    if (!f.count("pict_type") || f.at("pict_type") != "I") continue;
    // An I picture that is not the first picture to start in its packet has no time stamp
    // of its own there; neither tool can place it.
    if (!positionOf.count(f.at("pts"))) continue;
    expected.push_back(
        {static_cast<std::uint32_t>(positionOf.at(f.at("pts")) / GetParam().packBytes),
         std::stod(f.at("pts")) / 90000.0});
  }
  ASSERT_GE(expected.size(), 2u);
  ASSERT_EQ(MU_IFrameCount(&info_), expected.size());
  for (std::uint32_t i = 0; i < expected.size(); ++i) {
    MU_IFrameEntry entry{};
    ASSERT_TRUE(MU_IFrameAt(&info_, i, &entry));
    EXPECT_EQ(entry.packIndex, expected[i].packIndex) << "I frame " << i;
    EXPECT_NEAR(entry.seconds, expected[i].seconds, 1e-9) << "I frame " << i;
  }
}

TEST_P(ScannerAgainstFfprobe, PacksConcatenateToTheFile) {
  const std::vector<std::uint8_t> file = readFile(path_);
  std::vector<std::uint8_t> joined;
  std::vector<std::uint8_t> buffer(kMU_MaxPackBytes);
  std::uint32_t audio = 0, packs = 0;
  std::int64_t position = 0;
  for (;;) {
    unsigned length = kMU_MaxPackBytes;
    char hasAudio = 0;
    const std::int64_t at = MU_GetNextPack(handle_, position, buffer.data(), &length, &hasAudio);
    if (at < 0) break;
    ASSERT_EQ(static_cast<std::uint64_t>(at), joined.size());
    ASSERT_GT(length, 0u);
    joined.insert(joined.end(), buffer.begin(), buffer.begin() + length);
    audio += hasAudio ? 1 : 0;
    ++packs;
    position = at + length;
  }
  EXPECT_EQ(joined, file);
  EXPECT_EQ(audio, info_.audioPacks);
  EXPECT_EQ(packs, info_.audioPacks + info_.videoPacks);
}

INSTANTIATE_TEST_SUITE_P(Targets, ScannerAgainstFfprobe, ::testing::ValuesIn(kTargets),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
