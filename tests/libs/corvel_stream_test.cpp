// SPDX-License-Identifier: GPL-2.0-or-later
// Program streams written from elementary-stream files, read back by ffmpeg, ffprobe,
// psreport and the Video CD tools: every stream detected, every access unit present with
// its time stamps, and the elementary streams demultiplexed byte for byte as they went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

const std::vector<std::string> kMpeg1Video = {
    "-f",   "lavfi",      "-i",   "testsrc=size=352x288:rate=25:duration=1.2",
    "-c:v", "mpeg1video", "-b:v", "1150k",
    "-bf",  "2",          "-g",   "12",
    "-f",   "mpeg1video"};
const std::vector<std::string> kMpeg2Video = {
    "-f",   "lavfi",      "-i",   "testsrc=size=480x576:rate=25:duration=1.2",
    "-c:v", "mpeg2video", "-b:v", "2000k",
    "-bf",  "2",          "-g",   "12",
    "-f",   "mpeg2video"};
const std::vector<std::string> kMp2At44 = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=44100:d=1.2", "-c:a", "mp2", "-b:a",
    "224k", "-f",    "mp2"};
const std::vector<std::string> kMp2At48 = {
    "-f",   "lavfi", "-i", "sine=f=440:sample_rate=48000:d=1.2", "-c:a", "mp2", "-b:a",
    "192k", "-f",    "mp2"};
// H.264 with pyramid B pictures, a NAL HRD (its rate and buffer) and VUI timing.
const std::vector<std::string> kH264 = {"-f",           "lavfi",
                                        "-i",           "testsrc=size=320x240:rate=25:duration=1.2",
                                        "-c:v",         "libx264",
                                        "-pix_fmt",     "yuv420p",
                                        "-bf",          "2",
                                        "-g",           "25",
                                        "-x264-params", "nal-hrd=cbr:b-pyramid=normal",
                                        "-b:v",         "1M",
                                        "-maxrate",     "1M",
                                        "-bufsize",     "500k",
                                        "-f",           "h264"};
// Without B pictures (picture order type 2), with scaling matrices in the picture parameter
// set.
const std::vector<std::string> kH264ScalingLists = {
    "-f",           "lavfi",
    "-i",           "testsrc=size=320x240:rate=25:duration=1.2",
    "-c:v",         "libx264",
    "-pix_fmt",     "yuv420p",
    "-bf",          "0",
    "-g",           "25",
    "-x264-params", "nal-hrd=cbr:cqm=jvt",
    "-b:v",         "1M",
    "-maxrate",     "1M",
    "-bufsize",     "500k",
    "-f",           "h264"};
const std::vector<std::string> kAac = {
    "-f",   "lavfi", "-i",  "sine=f=997:sample_rate=48000:d=1.2", "-c:a", "aac", "-b:a",
    "128k", "-f",    "adts"};
const std::vector<std::string> kAc3 = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1.2", "-c:a", "ac3", "-b:a",
    "192k", "-f",    "ac3"};

struct EsRecipe {
  const char* file;
  const std::vector<std::string>* args;
  std::uint32_t kind;
  std::int32_t bitRate;
  const char* demuxFormat;  // ffmpeg's raw format to take the stream back out
};

struct StreamCase {
  const char* name;
  std::int32_t preset;
  std::vector<EsRecipe> inputs;
};

std::vector<StreamCase> streamCases() {
  // ffmpeg marks its rates as variable: the caller gives them.
  const EsRecipe m1v{"v.m1v", &kMpeg1Video, STREAM_KIND_VIDEO, 1150000, "mpeg1video"};
  const EsRecipe m2v{"v.m2v", &kMpeg2Video, STREAM_KIND_VIDEO, 2000000, "mpeg2video"};
  const EsRecipe mp2a{"a.mp2", &kMp2At44, STREAM_KIND_AUDIO, 0, "mp2"};
  const EsRecipe mp2b{"b.mp2", &kMp2At48, STREAM_KIND_AUDIO, 0, "mp2"};
  const EsRecipe ac3{"c.ac3", &kAc3, STREAM_KIND_AUDIO, 0, "ac3"};
  const EsRecipe h264{"v.264", &kH264, STREAM_KIND_VIDEO, 0, "h264"};
  // ADTS headers carry no rate: the caller gives it.
  const EsRecipe aac{"d.aac", &kAac, STREAM_KIND_AUDIO, 128000, "adts"};
  const EsRecipe h264Lists{"w.264", &kH264ScalingLists, STREAM_KIND_VIDEO, 0, "h264"};
  return {
      {"Mpeg1System", 0, {m1v, mp2a}},
      {"VideoCd", 1, {m1v, mp2a}},
      {"Mpeg2ProgramTwoAudio", 2, {m2v, mp2b, ac3}},
      {"SuperVideoCd", 3, {m2v, mp2a}},
      {"Mpeg1SystemAudioOnly", 0, {mp2a}},
      {"Mpeg2ProgramH264", 2, {h264, mp2b}},
      {"Mpeg2ProgramAac", 2, {m2v, aac}},
      {"Mpeg2ProgramH264PocType2", 2, {h264Lists, ac3}},
  };
}

class CorvelStream : public ::testing::TestWithParam<StreamCase> {};

const std::uint8_t kScanHead[6] = {0, 0, 1, 0xB2, 0x10, 0x0E};

// Offsets of the Super Video CD scan information blocks (user data 10 0E) in `bytes`.
std::vector<std::size_t> scanBlocks(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::size_t> at;
  for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), std::begin(kScanHead),
                                                  std::end(kScanHead))) != bytes.end();
       ++it)
    at.push_back(static_cast<std::size_t>(it - bytes.begin()));
  return at;
}

// The elementary stream as it went in: the multiplexer's scan blocks taken out.
std::vector<std::uint8_t> withoutScanBlocks(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> out;
  std::size_t from = 0;
  for (std::size_t at : scanBlocks(bytes)) {
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(at));
    from = at + 18;
  }
  out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
  return out;
}

std::vector<ProbedPacket> ofStream(const std::vector<ProbedPacket>& all, int index) {
  std::vector<ProbedPacket> out;
  for (const ProbedPacket& p : all)
    if (p.streamIndex == index) out.push_back(p);
  return out;
}

TEST_P(CorvelStream, ToolsReadEveryUnitBackAsItWent) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  const StreamCase& c = GetParam();
  TempDir dir;
  std::vector<EsInput> inputs;
  for (const EsRecipe& r : c.inputs)
    inputs.push_back({makeEs(dir, r.file, *r.args), r.kind, r.bitRate, 0});
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, c.preset), nullptr);
  printed().clear();
  const auto out = dir.file("out.mpg");
  const MuxOutcome o = muxFiles(settings, inputs, out);
  ASSERT_TRUE(o.created);
  ASSERT_EQ(o.init, 0);
  for (std::int32_t a : o.added) ASSERT_EQ(a, 0);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  EXPECT_EQ(o.done, 0);
  EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
  EXPECT_FALSE(anyStartsWith(printed().warnings, "M08")) << printed().warnings[0];

  // Every pack a whole sector.
  const auto bytes = readFile(out);
  const std::size_t sector = static_cast<std::size_t>(settings.sector_size);
  const std::size_t endCode = (c.preset == 0 || c.preset == 2) ? 4 : 0;
  EXPECT_EQ((bytes.size() - endCode) % sector, 0u);

  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");

  const std::vector<ProbedPacket> packets = probePackets(out);
  for (std::size_t i = 0; i < c.inputs.size(); ++i) {
    SCOPED_TRACE(c.inputs[i].file);
    // ffprobe numbers the streams in the order it meets them: find ours by demultiplexing.
    const std::vector<ProbedPacket> source = probePackets(inputs[i].path);
    const auto back = dir.file(std::string("back-") + c.inputs[i].file);
    const std::string map =
        std::string(c.inputs[i].kind == STREAM_KIND_VIDEO ? "0:v:" : "0:a:") +
        std::to_string(c.inputs[i].kind == STREAM_KIND_VIDEO
                           ? 0
                           : i - (c.inputs[0].kind == STREAM_KIND_VIDEO ? 1 : 0));
    const ToolResult demux =
        runTool({"ffmpeg", "-v", "error", "-y", "-i", out.string(), "-map", map, "-c", "copy", "-f",
                 c.inputs[i].demuxFormat, back.string()});
    ASSERT_EQ(demux.exitCode, 0) << demux.output;
    std::vector<std::uint8_t> payload = readFile(back);
    if (c.preset == 3) payload = withoutScanBlocks(payload);
    EXPECT_TRUE(payload == readFile(inputs[i].path)) << "payload differs from the input";

    const ToolResult count =
        runTool({"ffprobe", "-v", "error", "-select_streams", map.substr(2), "-count_packets",
                 "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", out.string()});
    EXPECT_EQ(std::stoul(count.output), source.size());
  }

  // Video: every packet that starts a picture in the file is one ffprobe packet; decode
  // times one frame apart in decode order, display times on the frame grid after them.
  int videoIndex = -1;
  for (const ProbedPacket& p : packets)
    if (p.mediaType == "video") videoIndex = p.streamIndex;
  if (videoIndex >= 0) {
    const std::vector<ProbedPacket> video = ofStream(packets, videoIndex);
    ASSERT_FALSE(video.empty());
    ASSERT_GE(video[0].dts, 0);
    const double first = video[0].dts;
    std::vector<double> shown;
    for (std::size_t i = 0; i < video.size(); ++i) {
      const ProbedPacket& p = video[i];
      if (p.dts >= 0) {
        EXPECT_NEAR(p.dts - first, 0.04 * static_cast<double>(i), 1e-4) << i;
      }
      if (p.pts < 0) continue;
      const double frames = (p.pts - first) / 0.04;
      EXPECT_NEAR(frames, std::round(frames), 1e-2) << i;
      EXPECT_GE(p.pts, p.dts - 1e-6) << i;
      shown.push_back(p.pts);
    }
    std::sort(shown.begin(), shown.end());
    EXPECT_TRUE(std::adjacent_find(shown.begin(), shown.end()) == shown.end())
        << "a display time twice";
    // Audio starts with the video (the first picture is shown one frame after its decoding).
    for (const ProbedPacket& p : packets) {
      if (p.mediaType != "audio") continue;
      EXPECT_NEAR(p.pts, first, 1e-3);
      break;
    }
  }

  // psreport walks every pack and sees the streams.
  if (toolAvailable("psreport")) {
    const ToolResult ps = runTool({"psreport", out.string()});
    EXPECT_EQ(ps.exitCode, 0) << ps.output;
    const std::string packs = "Packs:";
    const auto at = ps.output.find(packs);
    ASSERT_NE(at, std::string::npos) << ps.output;
    EXPECT_EQ(std::stoul(ps.output.substr(at + packs.size())), (bytes.size() - endCode) / sector);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, CorvelStream, ::testing::ValuesIn(streamCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// The Video CD tools read a Video CD stream and build a disc of it without a complaint.
TEST(CorvelVideoCd, VcdToolsTakeTheStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("vcdxminfo");
  QUILLION_REQUIRE_TOOL("vcdxbuild");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kMpeg1Video);
  const auto audio = makeEs(dir, "a.mp2", kMp2At44);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 1);
  const auto out = dir.file("vcd.mpg");
  printed().clear();
  const MuxOutcome o = muxFiles(
      settings, {{video, STREAM_KIND_VIDEO, 1150000, 0}, {audio, STREAM_KIND_AUDIO, 0, 0}}, out);
  ASSERT_EQ(o.run, 0);
  const ToolResult info = runTool({"vcdxminfo", "-i", out.string()});
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("<horizontal-size>352</horizontal-size>"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("<sampling-frequency>44100</sampling-frequency>"), std::string::npos);
  EXPECT_NE(info.output.find("<bit-rate>1411200</bit-rate>"), std::string::npos);
  const ToolResult gen =
      runTool({"vcdxgen", "-t", "vcd2", out.string()}, {.workingDirectory = dir.path()});
  ASSERT_EQ(gen.exitCode, 0) << gen.output;
  const ToolResult build = runTool({"vcdxbuild", "-c", "ref.cue", "-b", "ref.bin", "videocd.xml"},
                                   {.workingDirectory = dir.path()});
  EXPECT_EQ(build.exitCode, 0) << build.output;
  EXPECT_EQ(build.output.find("WARN"), std::string::npos) << build.output;
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// LPCM with the producer's 8-byte header, and AC-3 with its byte pairs swapped, come out as
// DVD LPCM and plain AC-3 that ffmpeg decodes back to the input.
TEST(CorvelPrivateStreams, LpcmAndSwappedAc3) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto raw =
      makeEs(dir, "pcm.raw",
             {"-f", "lavfi", "-i", "sine=f=440:sample_rate=48000:d=1", "-ac", "2", "-f", "s16be"});
  std::vector<std::uint8_t> lpcm = {'L', 'P', 'C', 'M', 0x04, 0x80, 0, 0};
  const std::vector<std::uint8_t> samples = readFile(raw);
  lpcm.insert(lpcm.end(), samples.begin(), samples.end());
  writeFile(dir.file("a.lpcm"), lpcm);
  const auto ac3 = makeEs(dir, "c.ac3", kAc3);
  std::vector<std::uint8_t> swapped = readFile(ac3);
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  writeFile(dir.file("swapped.ac3"), swapped);

  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  const auto out = dir.file("out.mpg");
  printed().clear();
  const MuxOutcome o = muxFiles(settings,
                                {{dir.file("a.lpcm"), STREAM_KIND_AUDIO, 0, 0},
                                 {dir.file("swapped.ac3"), STREAM_KIND_AUDIO, 0, 0}},
                                out);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
  const std::string codecs = toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                         "stream=codec_name,id", "-of", "csv=p=0", out.string()});
  EXPECT_NE(codecs.find("pcm_dvd,0xa0"), std::string::npos) << codecs;
  EXPECT_NE(codecs.find("ac3,0x80"), std::string::npos) << codecs;

  const auto pcmBack = dir.file("back.raw");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-map", "0:a:0", "-f", "s16be",
                     pcmBack.string()})
                .exitCode,
            0);
  EXPECT_TRUE(readFile(pcmBack) == samples) << "LPCM samples differ";
  const auto ac3Back = dir.file("back.ac3");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-map", "0:a:1", "-c", "copy",
                     "-f", "ac3", ac3Back.string()})
                .exitCode,
            0);
  EXPECT_TRUE(readFile(ac3Back) == readFile(ac3)) << "AC-3 differs";
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// Sector number of a scan field: BCD minutes, seconds (| 0x80) and sectors (| 0x80) at 75 a
// second; -1 for an absent neighbour.
long scanField(const std::uint8_t* f) {
  if (f[0] == 0xFF && f[1] == 0xFF && f[2] == 0xFF) return -1;
  const auto bcd = [](std::uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); };
  return bcd(f[0]) * 4500L + bcd(f[1] & 0x7F) * 75L + bcd(f[2] & 0x7F);
}

// Every I picture of a Super Video CD stream carries the sectors of the I pictures before
// and after it and of those more than five seconds away, and vcdxbuild takes the stream
// without a warning.
TEST(CorvelSuperVideoCd, ScanInformationPointsAtTheIPictures) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  std::vector<std::string> video = kMpeg2Video;
  video[3] = "testsrc=size=480x576:rate=25:duration=8";
  std::vector<std::string> audio = kMp2At44;
  audio[3] = "sine=f=997:sample_rate=44100:d=8";
  const auto v = makeEs(dir, "v.m2v", video);
  const auto a = makeEs(dir, "a.mp2", audio);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 3);
  const auto out = dir.file("svcd.mpg");
  printed().clear();
  ASSERT_EQ(
      muxFiles(settings, {{v, STREAM_KIND_VIDEO, 2000000, 0}, {a, STREAM_KIND_AUDIO, 0, 0}}, out)
          .run,
      0);
  const std::vector<std::uint8_t> bytes = readFile(out);
  const std::vector<std::size_t> blocks = scanBlocks(bytes);
  // One I picture every 12 pictures (0.48 s) of 8 s.
  ASSERT_EQ(blocks.size(), 17u);
  const auto sector = [](std::size_t offset) { return static_cast<long>(offset / 2324); };
  const long n = static_cast<long>(blocks.size());
  for (long k = 0; k < n; ++k) {
    SCOPED_TRACE(k);
    const std::uint8_t* f = bytes.data() + blocks[static_cast<std::size_t>(k)] + 6;
    // Each block lies whole in one sector.
    EXPECT_EQ(sector(blocks[static_cast<std::size_t>(k)]),
              sector(blocks[static_cast<std::size_t>(k)] + 17));
    const auto at = [&](long j) {
      return j < 0 || j >= n ? -1 : sector(blocks[static_cast<std::size_t>(j)]);
    };
    EXPECT_EQ(scanField(f), at(k - 1));
    EXPECT_EQ(scanField(f + 3), at(k + 1));
    // 5 s is 10.4 groups: eleven groups away; the oldest, or the newest, when none is.
    EXPECT_EQ(scanField(f + 6), k == 0 ? -1 : at(std::max(0L, k - 11)));
    EXPECT_EQ(scanField(f + 9), at(std::min(n - 1, k + 11)));
  }
  if (toolAvailable("vcdxbuild")) {
    ASSERT_EQ(
        runTool({"vcdxgen", "-t", "svcd", out.string()}, {.workingDirectory = dir.path()}).exitCode,
        0);
    const ToolResult build = runTool({"vcdxbuild", "-c", "ref.cue", "-b", "ref.bin", "videocd.xml"},
                                     {.workingDirectory = dir.path()});
    EXPECT_EQ(build.exitCode, 0) << build.output;
    EXPECT_EQ(build.output.find("WARN"), std::string::npos) << build.output;
  }
}

// A Super Video CD stream made from one that already carries scan information: the
// blocks the pictures bring are filled in where they are, none is added, and the rest of
// the stream goes through as it came.
TEST(CorvelSuperVideoCd, ScanInformationOfTheInputIsFilledInPlace) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  std::vector<std::string> video = kMpeg2Video;
  video[3] = "testsrc=size=480x576:rate=25:duration=3";
  const auto v = makeEs(dir, "v.m2v", video);
  const auto a = makeEs(dir, "a.mp2", kMp2At44);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 3);
  const auto first = dir.file("first.mpg");
  ASSERT_EQ(
      muxFiles(settings, {{v, STREAM_KIND_VIDEO, 2000000, 0}, {a, STREAM_KIND_AUDIO, 0, 0}}, first)
          .run,
      0);
  const auto carried = dir.file("carried.m2v");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", first.string(), "-map", "0:v", "-c", "copy",
                     "-f", "mpeg2video", carried.string()})
                .exitCode,
            0);
  const std::vector<std::uint8_t> carriedBytes = readFile(carried);
  const std::size_t intra = scanBlocks(carriedBytes).size();
  ASSERT_EQ(intra, 7u);  // 75 pictures in groups of 12

  const auto second = dir.file("second.mpg");
  printed().clear();
  ASSERT_EQ(
      muxFiles(settings, {{carried, STREAM_KIND_VIDEO, 2000000, 0}, {a, STREAM_KIND_AUDIO, 0, 0}},
               second)
          .run,
      0);
  const std::vector<std::uint8_t> bytes = readFile(second);
  const std::vector<std::size_t> blocks = scanBlocks(bytes);
  ASSERT_EQ(blocks.size(), intra);
  const auto sector = [](std::size_t offset) { return static_cast<long>(offset / 2324); };
  const long n = static_cast<long>(blocks.size());
  for (long k = 0; k < n; ++k) {
    SCOPED_TRACE(k);
    const std::size_t at = blocks[static_cast<std::size_t>(k)];
    EXPECT_EQ(sector(at), sector(at + 17));
    const auto of = [&](long j) {
      return j < 0 || j >= n ? -1 : sector(blocks[static_cast<std::size_t>(j)]);
    };
    EXPECT_EQ(scanField(bytes.data() + at + 6), of(k - 1));
    EXPECT_EQ(scanField(bytes.data() + at + 9), of(k + 1));
  }
  // The video comes back as it went in, but for the fields of the blocks.
  const auto back = dir.file("back.m2v");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", second.string(), "-map", "0:v", "-c", "copy",
                     "-f", "mpeg2video", back.string()})
                .exitCode,
            0);
  const std::vector<std::uint8_t> backBytes = readFile(back);
  EXPECT_EQ(backBytes.size(), carriedBytes.size());
  EXPECT_TRUE(withoutScanBlocks(backBytes) == withoutScanBlocks(carriedBytes));
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", second.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
  if (toolAvailable("vcdxminfo")) {
    const ToolResult info = runTool({"vcdxminfo", "-i", second.string()});
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_EQ(info.output.find("error"), std::string::npos) << info.output;
  }

  // A payload reader that ends inside a block it must read through.
  std::vector<std::uint8_t> cut(
      carriedBytes.begin(),
      carriedBytes.begin() + static_cast<std::ptrdiff_t>(scanBlocks(carriedBytes)[1] + 10));
  writeFile(dir.file("cut.m2v"), cut);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  bufstream* es = open_file_buf_read(dir.file("cut.m2v").c_str(), 131328, nullptr);
  bufstream* units = open_file_buf_read(carried.c_str(), 32768, nullptr);
  ASSERT_NE(es, nullptr);
  ASSERT_NE(units, nullptr);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFileBS(mux, &s, es, units, 2000000), 0);
  printed().clear();
  EXPECT_EQ(mpegOutMux(mux), 16);
  EXPECT_EQ(printed().errors, std::vector<std::string>{
                                  "M033:Error reading up to the SVCD offset from the video input"});
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
  (void)close_file_buf(es, 1);
  (void)close_file_buf(units, 1);
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

struct VideoIndexEntry {
  std::uint64_t position;
  std::uint8_t type;
  std::uint32_t decode;
  std::uint32_t display;
};

VideoIndexEntry entryOf(const std::vector<std::uint8_t>& d) {
  VideoIndexEntry e{};
  std::memcpy(&e.position, d.data(), 8);
  e.type = d[9];
  std::memcpy(&e.decode, d.data() + 16, 4);
  std::memcpy(&e.display, d.data() + 20, 4);
  return e;
}

// Every picture gets its index record, in display order, pointing at the pack where its
// unit begins; the end of the program is announced once.
TEST(CorvelIndexRecords, OneRecordPerPictureInDisplayOrder) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kMpeg2Video);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  MemoryOutput out;
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &s, video.c_str(), 2000000), 0);
  ASSERT_EQ(mpegOutMux(mux), 0);
  ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);

  std::vector<VideoIndexEntry> entries;
  int ends = 0;
  for (const MemoryOutput::Notice& n : out.notices) {
    if (n.code == 0xF0200) {
      ASSERT_EQ(n.data.size(), 32u);
      entries.push_back(entryOf(n.data));
    }
    if (n.code == 0x1B9) ++ends;
  }
  EXPECT_EQ(ends, 1);
  // Picture start codes in the output, in decode order.
  std::vector<std::size_t> starts;
  const std::uint8_t code[4] = {0, 0, 1, 0};
  for (auto it = out.bytes.begin();
       (it = std::search(it, out.bytes.end(), code, code + 4)) != out.bytes.end(); ++it)
    starts.push_back(static_cast<std::size_t>(it - out.bytes.begin()));
  const std::size_t pictures = probePackets(video).size();
  ASSERT_EQ(starts.size(), pictures);
  ASSERT_EQ(entries.size(), pictures);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].display, i);
    const VideoIndexEntry& e = entries[i];
    ASSERT_LT(e.decode, starts.size());
    EXPECT_EQ(e.position % 2048, 0u);
    EXPECT_LE(e.position, starts[e.decode]);
    EXPECT_LT(starts[e.decode] - e.position, 2u * 2048);
  }
  EXPECT_EQ(entries[0].type, 1);
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// H.264 pictures in pyramid order: every one gets its index record, and the display order
// the records give is the one ffprobe finds in the elementary stream.
TEST(CorvelIndexRecords, H264PyramidKeepsEveryRecordInDisplayOrder) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.264", kH264);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  MemoryOutput out;
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &s, video.c_str(), 0), 0);
  ASSERT_EQ(mpegOutMux(mux), 0);
  ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);

  // Display order of the input: the coded picture number of each frame as it is shown.
  const std::string frames =
      toolOutput({"ffprobe", "-v", "error", "-show_entries", "frame=coded_picture_number", "-of",
                  "csv=p=0", video.string()});
  std::vector<std::uint32_t> displayOfDecode;
  std::istringstream lines(frames);
  std::uint32_t shown = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    const std::uint32_t decode = static_cast<std::uint32_t>(std::stoul(line));
    if (displayOfDecode.size() <= decode) displayOfDecode.resize(decode + 1);
    displayOfDecode[decode] = shown++;
  }
  std::vector<VideoIndexEntry> entries;
  for (const MemoryOutput::Notice& n : out.notices)
    if (n.code == 0xF0200) entries.push_back(entryOf(n.data));
  ASSERT_EQ(entries.size(), displayOfDecode.size());
  std::set<std::uint32_t> types;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].display, i);
    ASSERT_LT(entries[i].decode, displayOfDecode.size());
    EXPECT_EQ(displayOfDecode[entries[i].decode], entries[i].display);
    types.insert(entries[i].type);
  }
  EXPECT_EQ(types, (std::set<std::uint32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// A subpicture unit: its length, the offset of its control sequence, then one control
// sequence that starts the display and ends.
std::vector<std::uint8_t> subpictureUnit(std::uint8_t fill) {
  return {0x00, 0x0C, 0x00, 0x06, fill, fill, 0x00, 0x00, 0x00, 0x06, 0x01, 0xFF};
}

void appendRecord(std::vector<std::uint8_t>& file, std::uint64_t time,
                  const std::vector<std::uint8_t>& unit) {
  for (int i = 7; i >= 0; --i) file.push_back(static_cast<std::uint8_t>(time >> (8 * i)));
  file.insert(file.end(), unit.begin(), unit.end());
}

// Subpictures from a file of timed units: ffprobe finds the stream at its time stamps, and
// the units come back out as they went in.
TEST(CorvelSubpictures, TimedUnitsFromASubpictureFile) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kMpeg2Video);
  std::vector<std::uint8_t> file;
  appendRecord(file, 13500000, subpictureUnit(0x11));  // 0.5 s
  // A unit larger than a packet: its second packet carries no time of its own.
  std::vector<std::uint8_t> large = subpictureUnit(0x44);
  large.resize(5000, 0x44);
  large[0] = 5000 >> 8;
  large[1] = 5000 & 0xFF;
  appendRecord(file, 27000000, large);                 // 1 s
  appendRecord(file, 40500000, subpictureUnit(0x22));  // 1.5 s
  writeFile(dir.file("s.sub"), file);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  const auto out = dir.file("out.mpg");
  printed().clear();
  const MuxOutcome o = muxFiles(settings,
                                {{video, STREAM_KIND_VIDEO, 2000000, 0},
                                 {dir.file("s.sub"), STREAM_KIND_SUBPICTURE | 8u, 0, 0}},
                                out);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  const std::string streams = toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                          "stream=codec_name,id", "-of", "csv=p=0", out.string()});
  EXPECT_NE(streams.find("dvd_subtitle,0x20"), std::string::npos) << streams;
  const std::vector<ProbedPacket> packets = probePackets(out);
  double firstVideoDts = -1;
  std::vector<double> subtitleTimes;
  for (const ProbedPacket& p : packets) {
    if (p.mediaType == "video" && firstVideoDts < 0) firstVideoDts = p.dts;
    if (p.mediaType == "subtitle") subtitleTimes.push_back(p.pts);
  }
  ASSERT_EQ(subtitleTimes.size(), 3u);
  EXPECT_NEAR(subtitleTimes[0] - firstVideoDts, 0.5, 1e-3);
  EXPECT_NEAR(subtitleTimes[1] - firstVideoDts, 1.0, 1e-3);
  EXPECT_NEAR(subtitleTimes[2] - firstVideoDts, 1.5, 1e-3);
  // ffmpeg gives the units back whole.
  const auto back = dir.file("back.sub");
  const ToolResult demux = runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-map", "0:s",
                                    "-c", "copy", "-f", "data", back.string()});
  ASSERT_EQ(demux.exitCode, 0) << demux.output;
  std::vector<std::uint8_t> units = subpictureUnit(0x11);
  units.insert(units.end(), large.begin(), large.end());
  const std::vector<std::uint8_t> last = subpictureUnit(0x22);
  units.insert(units.end(), last.begin(), last.end());
  EXPECT_TRUE(readFile(back) == units) << "subpicture units differ";
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-sn", "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
}

// A unit whose length cannot hold its own length field ends the input: it is not read as a
// huge unit.
TEST(CorvelSubpictures, ShortLengthEndsTheInput) {
  TempDir dir;
  std::vector<std::uint8_t> file;
  appendRecord(file, 0, {0x00, 0x01});
  writeFile(dir.file("bad.sub"), file);
  std::vector<std::uint8_t> later;
  appendRecord(later, 0, subpictureUnit(0x33));
  appendRecord(later, 27000000, {0x00, 0x01, 0x55, 0x55});
  writeFile(dir.file("late.sub"), later);
  const auto video = makeEs(dir, "v.m2v", kMpeg2Video);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings s{};
  s.kind = STREAM_KIND_SUBPICTURE | 8u;
  printed().clear();
  EXPECT_EQ(mpegOutMuxAddFile(mux, &s, dir.file("bad.sub").c_str(), 0), 16);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"M006:Unable to open subpic file"});
  stream_settings v{};
  v.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 2000000), 0);
  ASSERT_EQ(mpegOutMuxAddFile(mux, &s, dir.file("late.sub").c_str(), 0), 0);
  EXPECT_EQ(mpegOutMux(mux), 0);
  EXPECT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);
  // The good unit went out once, the broken one not at all.
  const std::vector<std::uint8_t> unit = subpictureUnit(0x33);
  std::size_t found = 0;
  for (auto it = out.bytes.begin();
       (it = std::search(it, out.bytes.end(), unit.begin(), unit.end())) != out.bytes.end(); ++it)
    ++found;
  EXPECT_EQ(found, 1u);
}

}  // namespace
}  // namespace quillion::test::corvel

namespace quillion::test::corvel {
namespace {

// Asked for them, an H.264 input gets an access unit delimiter before every picture, with
// the primary picture type its slices allow; without them the stream is as it went in.
TEST(CorvelH264, AccessUnitDelimitersOnRequest) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.264", kH264);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  const auto out = dir.file("out.mpg");
  printed().clear();
  EsInput in{video, STREAM_KIND_VIDEO | 0x10u, 0, 0};
  ASSERT_EQ(muxFiles(settings, {in}, out).run, 0);
  const ToolResult decode =
      runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.output, "");
  const auto back = dir.file("back.264");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-c", "copy", "-f", "h264",
                     back.string()})
                .exitCode,
            0);
  const std::vector<std::uint8_t> bytes = readFile(back);
  // Take the delimiters out again, noting their picture types.
  const std::uint8_t aud[5] = {0, 0, 0, 1, 0x09};
  std::vector<std::uint8_t> rest;
  std::vector<std::uint8_t> kinds;
  std::size_t from = 0;
  for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), aud, aud + 5)) != bytes.end();
       ++it) {
    const auto at = static_cast<std::size_t>(it - bytes.begin());
    rest.insert(rest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                bytes.begin() + static_cast<std::ptrdiff_t>(at));
    kinds.push_back(bytes[at + 5]);
    from = at + 6;
  }
  rest.insert(rest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
  EXPECT_TRUE(rest == readFile(video)) << "payload differs from the input";
  const std::vector<ProbedPacket> pictures = probePackets(video);
  ASSERT_EQ(kinds.size(), pictures.size());
  // x264 pictures are of one slice type: I gives 0, P 1, B 2 (in the top three bits).
  EXPECT_EQ(kinds[0], 0x10);
  std::set<std::uint8_t> seen(kinds.begin(), kinds.end());
  EXPECT_EQ(seen, (std::set<std::uint8_t>{0x10, 0x30, 0x50}));
}

}  // namespace
}  // namespace quillion::test::corvel
