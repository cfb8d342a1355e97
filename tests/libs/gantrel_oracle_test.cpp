// SPDX-License-Identifier: GPL-2.0-or-later
// Gantrel's output read by ffmpeg: LPCM through Corvel's program stream into the DVD LPCM
// decoder, 302M frames in a transport stream into the 302M decoder, and our 302M packets
// beside those of ffmpeg's own 302M encoder for the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corvel_support.h"
#include "gantrel.h"
#include "gantrel_support.h"
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

INSTANTIATE_TEST_SUITE_P(Layouts, Gantrel302MOracle,
                         testing::Values(OracleCase{"stereo16", 2, 0}, OracleCase{"eight16", 8, 0},
                                         OracleCase{"quad20", 4, 1}, OracleCase{"six24", 6, 2}),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// LPCM written by Gantrel, multiplexed by Corvel into an MPEG-2 program stream, decoded by
// ffmpeg's DVD LPCM decoder: the samples come back unchanged.
TEST(GantrelLpcmOracle, ThroughCorvelIntoTheDvdLpcmDecoder) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
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

  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  const auto out = dir.file("out.mpg");
  const corvel::MuxOutcome o =
      corvel::muxFiles(settings, {{dir.file("a.lpcm"), STREAM_KIND_AUDIO, 0, 0}}, out);
  ASSERT_EQ(o.run, 0);
  const std::string codecs =
      toolOutput({"ffprobe", "-v", "error", "-show_entries",
                  "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", out.string()});
  EXPECT_EQ(codecs, "pcm_dvd,48000,2\n");
  const auto back = dir.file("back.raw");
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-i", out.string(), "-map", "0:a", "-f", "s16le",
                     back.string()})
                .exitCode,
            0);
  EXPECT_TRUE(readFile(back) == samples) << "LPCM samples differ";
}

}  // namespace
}  // namespace quillion::test::gantrel
