// SPDX-License-Identifier: GPL-2.0-or-later
// Gantrel's output read by ffmpeg: LPCM through Corvel's program stream and DVD output into the DVD
// LPCM decoder, 302M frames in a transport stream into the 302M decoder, and our 302M packets
// beside those of ffmpeg's own 302M encoder for the same samples, as read from its transport
// stream here and as tstools' ts2es extracts them; the eight-channel AES3 element beside the
// sound element of ffmpeg's D-10 MXF.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "corvel_support.h"
#include "gantrel.h"
#include "gantrel_support.h"
#include "tests/support/generated_file.h"
#include "tests/support/test_support.h"

namespace quillion::test::gantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kTsPacket = 188;
constexpr unsigned kAudioPid = 0x100;  // where ffmpeg puts the first stream

unsigned pidOf(const std::uint8_t* p) {
  return (p[1] & 0x1Fu) << 8 | p[2];
}

// The PES packets of `pid` in a transport stream, payload only (PES header removed).
std::vector<Bytes> pesPayloads(const Bytes& ts, unsigned pid) {
  std::vector<Bytes> pes;
  for (std::size_t at = 0; at + kTsPacket <= ts.size(); at += kTsPacket) {
    const std::uint8_t* p = ts.data() + at;
    if (p[0] != 0x47 || pidOf(p) != pid || !(p[3] & 0x10)) continue;
    std::size_t start = 4;
    if (p[3] & 0x20) start += 1 + p[4];
    if (p[1] & 0x40) pes.emplace_back();
    if (pes.empty()) continue;
    pes.back().insert(pes.back().end(), p + start, p + kTsPacket);
  }
  for (Bytes& b : pes) {
    const std::size_t headerEnd = 9 + b.at(8);
    const std::size_t length = static_cast<std::size_t>(b.at(4) << 8 | b.at(5));
    b = Bytes(b.begin() + static_cast<std::ptrdiff_t>(headerEnd),
              b.begin() + static_cast<std::ptrdiff_t>(6 + length));
  }
  return pes;
}

// A transport stream of ffmpeg's tables (taken from `model`) and one private-stream PES
// packet per frame on the audio PID.
Bytes wrapInTs(const Bytes& model, const std::vector<Bytes>& frames,
               const std::vector<std::int64_t>& ticks) {
  Bytes ts;
  for (std::size_t at = 0; at + kTsPacket <= model.size(); at += kTsPacket)
    if (pidOf(model.data() + at) != kAudioPid)
      ts.insert(ts.end(), model.begin() + static_cast<std::ptrdiff_t>(at),
                model.begin() + static_cast<std::ptrdiff_t>(at + kTsPacket));
  unsigned counter = 0;
  for (std::size_t n = 0; n < frames.size(); ++n) {
    const std::uint64_t pts = static_cast<std::uint64_t>(ticks[n] / 300) + 90000;
    const std::size_t length = 8 + frames[n].size();
    Bytes pes = {0,
                 0,
                 1,
                 0xBD,
                 static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length),
                 0x80,
                 0x80,
                 5,
                 static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
                 static_cast<std::uint8_t>(pts >> 22),
                 static_cast<std::uint8_t>(((pts >> 14) & 0xFE) | 1),
                 static_cast<std::uint8_t>(pts >> 7),
                 static_cast<std::uint8_t>(((pts << 1) & 0xFE) | 1)};
    pes.insert(pes.end(), frames[n].begin(), frames[n].end());
    for (std::size_t at = 0; at < pes.size();) {
      const std::size_t left = pes.size() - at;
      Bytes packet = {0x47, static_cast<std::uint8_t>((at == 0 ? 0x40 : 0) | kAudioPid >> 8),
                      static_cast<std::uint8_t>(kAudioPid & 0xFF), 0};
      if (left >= 184) {
        packet[3] = static_cast<std::uint8_t>(0x10 | counter);
      } else {
        packet[3] = static_cast<std::uint8_t>(0x30 | counter);
        const std::size_t field = 183 - left;
        packet.push_back(static_cast<std::uint8_t>(field));
        if (field > 0) {
          packet.push_back(0);
          packet.insert(packet.end(), field - 1, 0xFF);
        }
      }
      const std::size_t take = std::min<std::size_t>(left, kTsPacket - packet.size());
      packet.insert(packet.end(), pes.begin() + static_cast<std::ptrdiff_t>(at),
                    pes.begin() + static_cast<std::ptrdiff_t>(at + take));
      at += take;
      counter = (counter + 1) & 0xF;
      ts.insert(ts.end(), packet.begin(), packet.end());
    }
  }
  return ts;
}

// Samples as ffmpeg takes them: 16-bit stays, 24-bit widens to 32 bits.
Bytes asFfmpegInput(const Bytes& in, int quantization) {
  if (quantization == 0) return in;
  Bytes out;
  for (std::size_t i = 0; i + 2 < in.size(); i += 3)
    out.insert(out.end(), {0, in[i], in[i + 1], in[i + 2]});
  return out;
}

// Clears the four flag bits after each sample of every 302M pair.
void clearFlagBits(Bytes& payload, int bits) {
  const std::size_t pairBytes = static_cast<std::size_t>(2 * (bits + 4) / 8);
  for (std::size_t at = 0; at + pairBytes <= payload.size(); at += pairBytes)
    for (int start : {bits, 2 * bits + 4})
      for (int b = start; b < start + 4; ++b)
        payload[at + static_cast<std::size_t>(b / 8)] &=
            static_cast<std::uint8_t>(~(0x80 >> (b % 8)));
}

struct OracleCase {
  const char* name;
  int channels;
  int quantization;
};

class Gantrel302MOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(Gantrel302MOracle, FfmpegDecodesOurFramesAndPacksTheSameSamples) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const OracleCase& c = GetParam();
  TempDir dir;
  const int width = c.quantization == 0 ? 2 : 3;
  const int bits = c.quantization == 0 ? 16 : c.quantization == 1 ? 20 : 24;
  const std::size_t instants = 1920 * 3;  // three whole frames at 25 frames per second
  const Bytes input = patternBytes(instants * static_cast<std::size_t>(c.channels * width), 11);

  PcmSink sink;
  const PackResult r =
      packPcm(pcmSettings(10, c.channels - 1, c.quantization), 0, 3, 48000, {input}, sink);
  ASSERT_EQ(r.done, 0);
  ASSERT_EQ(sink.frames.size(), 4u);

  // ffmpeg's own 302M packets for the same samples.
  writeFile(dir.file("in.raw"), asFfmpegInput(input, c.quantization));
  const std::string format = c.quantization == 0 ? "s16le" : "s32le";
  const auto theirs = dir.file("theirs.ts");
  const ToolResult made = runTool({"ffmpeg",
                                   "-v",
                                   "error",
                                   "-f",
                                   format,
                                   "-ar",
                                   "48000",
                                   "-ac",
                                   std::to_string(c.channels),
                                   "-i",
                                   dir.file("in.raw").string(),
                                   "-c:a",
                                   "s302m",
                                   "-strict",
                                   "-2",
                                   "-bits_per_raw_sample",
                                   std::to_string(bits),
                                   "-f",
                                   "mpegts",
                                   theirs.string()});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const Bytes theirTs = readFile(theirs);
  Bytes theirPayload, ourPayload;
  for (const Bytes& p : pesPayloads(theirTs, kAudioPid)) {
    ASSERT_GE(p.size(), 4u);
    EXPECT_EQ(p[2] >> 6, c.channels / 2 - 1);
    EXPECT_EQ((p[3] >> 4) & 3, c.quantization);
    theirPayload.insert(theirPayload.end(), p.begin() + 4, p.end());
  }
  std::vector<Bytes> ourFrames;
  std::vector<std::int64_t> ourTicks;
  for (std::size_t n = 1; n < sink.frames.size(); ++n) {
    ourFrames.push_back(sink.frames[n].bytes);
    ourTicks.push_back(sink.frames[n].timestamp);
    ourPayload.insert(ourPayload.end(), sink.frames[n].bytes.begin() + 4,
                      sink.frames[n].bytes.end());
  }
  ASSERT_GE(theirPayload.size(), ourPayload.size());
  theirPayload.resize(ourPayload.size());
  clearFlagBits(theirPayload, bits);
  Bytes ourMasked = ourPayload;
  clearFlagBits(ourMasked, bits);
  EXPECT_TRUE(ourMasked == theirPayload) << "audio bits differ from ffmpeg's packing";

  // ffmpeg's decoder reads our frames back to the samples (20-bit keeps the top 20 bits).
  writeFile(dir.file("ours.ts"), wrapInTs(theirTs, ourFrames, ourTicks));
  const auto back = dir.file("back.raw");
  const ToolResult decoded = runTool({"ffmpeg", "-v", "error", "-i", dir.file("ours.ts").string(),
                                      "-map", "0:a", "-f", format, back.string()});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
  Bytes expected = asFfmpegInput(input, c.quantization);
  if (c.quantization == 1)
    for (std::size_t i = 0; i < expected.size(); i += 4) expected[i + 1] &= 0xF0;
  EXPECT_TRUE(readFile(back) == expected) << "decoded samples differ";
}

const OracleCase k302MLayouts[] = {OracleCase{"stereo16", 2, 0}, OracleCase{"eight16", 8, 0},
                                   OracleCase{"quad20", 4, 1}, OracleCase{"six24", 6, 2}};

INSTANTIATE_TEST_SUITE_P(Layouts, Gantrel302MOracle, testing::ValuesIn(k302MLayouts),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// The PID tsinfo lists for the first stream of PES private data (stream type 06), as
// "0x0100"; empty when there is none.
std::string privateDataPid(const std::filesystem::path& ts) {
  // "    PID 0100 ( 256) -> Stream type 06 (  6) H.222.0/13818-1 PES private data ..."
  std::istringstream lines(toolOutput({"tsinfo", ts.string()}));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("PID ");
    if (at == std::string::npos || line.find("-> Stream type 06") == std::string::npos) continue;
    return "0x" + line.substr(at + 4, 4);
  }
  return {};
}

// 302M frames one after another, split where each 4-byte header says its samples end; empty
// when the sizes do not cover the stream exactly.
std::vector<Bytes> split302MFrames(const Bytes& es) {
  std::vector<Bytes> frames;
  std::size_t at = 0;
  while (at + 4 <= es.size()) {
    const std::size_t end = at + 4 + static_cast<std::size_t>(es[at] << 8 | es[at + 1]);
    if (end > es.size()) return {};
    frames.emplace_back(es.begin() + static_cast<std::ptrdiff_t>(at),
                        es.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  if (at != es.size()) return {};
  return frames;
}

// A different tone on each channel, one expression each for lavfi's aevalsrc.
std::string toneExpressions(int channels) {
  std::string e;
  for (int c = 0; c < channels; ++c) {
    if (c) e += "|";
    e += "0." + std::to_string(9 - c) + "*sin(2*PI*" + std::to_string(300 + 170 * c) + "*t+" +
         std::to_string(c) + ")";
  }
  return e;
}

class Gantrel302MTs2es : public testing::TestWithParam<OracleCase> {};

// ffmpeg encodes a tone to 302M in a transport stream, ts2es extracts the stream's payload
// and ffmpeg writes the same tone's samples out raw; Gantrel packs those samples. Every
// frame header ts2es gives describes the layout we write, and the samples with their
// padding bits equal ours frame after frame, the V, U, C and F bits aside.
TEST_P(Gantrel302MTs2es, OurFramesEqualFfmpegsAsTs2esExtractsThem) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ts2es");
  QUILLION_REQUIRE_TOOL("tsinfo");
  const OracleCase& c = GetParam();
  TempDir dir;
  const int bits = c.quantization == 0 ? 16 : c.quantization == 1 ? 20 : 24;
  const std::size_t instants = 1920 * 3;  // 0.12 s: three whole frames at 25 frames per second
  const std::string source = "aevalsrc=" + toneExpressions(c.channels) + ":s=48000:d=0.12";

  const auto raw = dir.file("in.raw");
  const ToolResult samplesMade =
      runGenerator({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", source, "-f",
                    c.quantization == 0 ? "s16le" : "s32le", raw.string()});
  ASSERT_EQ(samplesMade.exitCode, 0) << samplesMade.output;
  const auto ts = dir.file("theirs.ts");
  const ToolResult tsMade =
      runGenerator({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", source, "-c:a", "s302m",
                    "-strict", "-2", "-sample_fmt", c.quantization == 0 ? "s16" : "s32",
                    "-bits_per_raw_sample", std::to_string(bits), "-f", "mpegts", ts.string()});
  ASSERT_EQ(tsMade.exitCode, 0) << tsMade.output;
  const std::string pid = privateDataPid(ts);
  ASSERT_FALSE(pid.empty()) << "tsinfo lists no private-data stream";
  const auto es = dir.file("theirs.es");
  const ToolResult extracted = runTool({"ts2es", "-q", "-pid", pid, ts.string(), es.string()});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.output;
  const std::vector<Bytes> theirs = split302MFrames(readFile(es));
  ASSERT_GE(theirs.size(), 3u) << "ts2es gave no whole 302M frames";

  // Our input: 16-bit samples as they are, wider ones as their top three bytes.
  const Bytes wide = readFile(raw);
  Bytes input;
  if (c.quantization == 0) {
    input = wide;
  } else {
    for (std::size_t i = 0; i + 3 < wide.size(); i += 4)
      input.insert(input.end(), {wide[i + 1], wide[i + 2], wide[i + 3]});
  }
  const std::size_t width = c.quantization == 0 ? 2 : 3;
  ASSERT_EQ(input.size(), instants * static_cast<std::size_t>(c.channels) * width);
  PcmSink sink;
  ASSERT_EQ(
      packPcm(pcmSettings(10, c.channels - 1, c.quantization), 0, 3, 48000, {input}, sink).done, 0);
  ASSERT_EQ(sink.frames.size(), 4u);

  // Their frames are shorter than ours (ffmpeg cuts its own lengths): the same header fields
  // on every frame, the same bits over the whole stream.
  Bytes theirPayload, ourPayload;
  for (const Bytes& f : theirs) {
    EXPECT_EQ(f[2] >> 6, c.channels / 2 - 1);
    EXPECT_EQ((f[3] >> 4) & 3, c.quantization);
    theirPayload.insert(theirPayload.end(), f.begin() + 4, f.end());
  }
  for (std::size_t n = 1; n < sink.frames.size(); ++n) {
    const Bytes& f = sink.frames[n].bytes;
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(static_cast<std::size_t>(f[0] << 8 | f[1]), f.size() - 4) << n;
    EXPECT_EQ(f[2] >> 6, c.channels / 2 - 1) << n;
    EXPECT_EQ((f[3] >> 4) & 3, c.quantization) << n;
    ourPayload.insert(ourPayload.end(), f.begin() + 4, f.end());
  }
  ASSERT_EQ(ourPayload.size(), theirPayload.size()) << "the same samples make the same length";
  clearFlagBits(theirPayload, bits);
  clearFlagBits(ourPayload, bits);
  EXPECT_TRUE(ourPayload == theirPayload) << "audio bits differ from ts2es's extract";
}

INSTANTIATE_TEST_SUITE_P(Layouts, Gantrel302MTs2es, testing::ValuesIn(k302MLayouts),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// The first D-10 sound element (its KLV key, a 4-byte BER length, the value) of an MXF file.
Bytes firstD10SoundElement(const Bytes& mxf) {
  const std::uint8_t key[] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                              0x0D, 0x01, 0x03, 0x01, 0x06, 0x01, 0x10};
  const auto at = std::search(mxf.begin(), mxf.end(), std::begin(key), std::end(key));
  if (at == mxf.end() || mxf.end() - at < 20 || at[16] != 0x83) return {};
  const std::size_t length = static_cast<std::size_t>(at[17] << 16 | at[18] << 8 | at[19]);
  if (static_cast<std::size_t>(mxf.end() - at) < 20 + length) return {};
  return Bytes(at + 20, at + 20 + static_cast<std::ptrdiff_t>(length));
}

TEST(GantrelAes3ElementOracle, SameWordsAsTheD10SoundElement) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  constexpr int kChannels = 4;
  const Bytes input = patternBytes(1920 * kChannels * 3 * 2, 13);
  PcmSink sink;
  ASSERT_EQ(packPcm(pcmSettings(11, kChannels - 1, 2), 0, 3, 48000, {input}, sink).done, 0);
  ASSERT_EQ(sink.frames.size(), 3u);
  const Bytes& ours = sink.frames[1].bytes;

  writeFile(dir.file("in.raw"), input);
  const auto mxf = dir.file("d10.mxf");
  const ToolResult made = runTool({"ffmpeg",
                                   "-v",
                                   "error",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "testsrc=size=720x608:rate=25:duration=1",
                                   "-f",
                                   "s24le",
                                   "-ar",
                                   "48000",
                                   "-ac",
                                   std::to_string(kChannels),
                                   "-i",
                                   dir.file("in.raw").string(),
                                   "-pix_fmt",
                                   "yuv422p",
                                   "-c:v",
                                   "mpeg2video",
                                   "-g",
                                   "1",
                                   "-profile:v",
                                   "0",
                                   "-level:v",
                                   "5",
                                   "-b:v",
                                   "50M",
                                   "-minrate",
                                   "50M",
                                   "-maxrate",
                                   "50M",
                                   "-bufsize",
                                   "2000000",
                                   "-rc_init_occupancy",
                                   "2000000",
                                   "-c:a",
                                   "pcm_s24le",
                                   "-shortest",
                                   "-f",
                                   "mxf_d10",
                                   mxf.string()});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const Bytes theirs = firstD10SoundElement(readFile(mxf));
  ASSERT_EQ(theirs.size(), ours.size());
  // The frame header: cycle position, samples, the mask of the channels with samples.
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 4, theirs.begin()));
  // The words of the channels with samples, but for the block-start flag ffmpeg leaves out;
  // ffmpeg numbers the empty channel words where ours are clear.
  for (std::size_t s = 0; s < 1920; ++s)
    for (std::size_t c = 0; c < kChannels; ++c) {
      const std::size_t at = 4 + s * 32 + c * 4;
      ASSERT_EQ(ours[at] & ~0x08, theirs[at] & ~0x08) << s << " " << c;
      ASSERT_TRUE(std::equal(ours.begin() + static_cast<std::ptrdiff_t>(at + 1),
                             ours.begin() + static_cast<std::ptrdiff_t>(at + 4),
                             theirs.begin() + static_cast<std::ptrdiff_t>(at + 1)))
          << s << " " << c;
    }
}

// LPCM written by Gantrel, multiplexed by Corvel, decoded by ffmpeg's DVD LPCM decoder: the
// samples come back unchanged, in an MPEG-2 program stream alone and in a DVD video object
// beside MPEG-2 video.
struct LpcmCase {
  const char* name;
  int muxType;
  bool withVideo;
};

class GantrelLpcmOracle : public testing::TestWithParam<LpcmCase> {};

TEST_P(GantrelLpcmOracle, ThroughCorvelIntoTheDvdLpcmDecoder) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const LpcmCase& c = GetParam();
  TempDir dir;
  const auto raw = corvel::makeEs(
      dir, "pcm.raw",
      {"-f", "lavfi", "-i", "sine=f=997:sample_rate=48000:d=2", "-ac", "2", "-f", "s16le"});
  Bytes samples = readFile(raw);
  samples.resize(samples.size() / 320 * 320);
  PcmSink sink;
  std::vector<Bytes> pieces;
  for (std::size_t at = 0; at < samples.size(); at += 4099)
    pieces.emplace_back(
        samples.begin() + static_cast<std::ptrdiff_t>(at),
        samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), at + 4099)));
  pcm_a_settings s{};
  ASSERT_STREQ(pcmOutAudioDefaults(&s, 4), "DVD, PCM Audio");
  const PackResult r = packPcm(s, 0, 0, 48000, pieces, sink);
  ASSERT_EQ(r.done, 0);
  writeFile(dir.file("a.lpcm"), sink.bytes);

  std::vector<corvel::EsInput> inputs;
  if (c.withVideo)
    inputs.push_back({corvel::makeEs(dir, "v.m2v",
                                     {"-f",
                                      "lavfi",
                                      "-i",
                                      "testsrc=size=720x576:rate=25:duration=2",
                                      "-c:v",
                                      "mpeg2video",
                                      "-b:v",
                                      "4000k",
                                      "-maxrate",
                                      "4000k",
                                      "-bufsize",
                                      "1835k",
                                      "-bf",
                                      "2",
                                      "-g",
                                      "12",
                                      "-flags",
                                      "+cgop",
                                      "-sc_threshold",
                                      "1000000000",
                                      "-f",
                                      "mpeg2video"}),
                      STREAM_KIND_VIDEO, 0, 0});
  inputs.push_back({dir.file("a.lpcm"), STREAM_KIND_AUDIO, 0, 0});
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, c.muxType), nullptr);
  const auto out = dir.file("out.vob");
  corvel::printed().clear();
  const corvel::MuxOutcome o = corvel::muxFiles(settings, inputs, out);
  ASSERT_EQ(o.run, 0) << (corvel::printed().errors.empty() ? "" : corvel::printed().errors[0]);
  ASSERT_EQ(o.done, 0);
  const std::string codecs =
      toolOutput({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                  "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", out.string()});
  EXPECT_EQ(codecs, "pcm_dvd,48000,2\n");
  const auto back = dir.file("back.raw");
  const ToolResult decoded = runTool(
      {"ffmpeg", "-v", "error", "-i", out.string(), "-map", "0:a", "-f", "s16le", back.string()});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
  const Bytes got = readFile(back);
  EXPECT_EQ(got.size(), samples.size());
  EXPECT_TRUE(got == samples) << "LPCM samples differ";
}

INSTANTIATE_TEST_SUITE_P(Outputs, GantrelLpcmOracle,
                         testing::Values(LpcmCase{"ProgramStream", 2, false},
                                         LpcmCase{"DvdWithVideo", 4, true}),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

}  // namespace
}  // namespace quillion::test::gantrel
