// SPDX-License-Identifier: GPL-2.0-or-later
// Streams from generated signals, read back by independent decoders: ffmpeg with CRC and
// strict checks, mpg123's test mode, ffprobe for the packet sizes. The decoded audio must
// reach a bounded SNR against the input once aligned by the decoder's delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio_oracle.h"
#include "ferrule_helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace quillion::test;

struct StreamCase {
  const char* name;
  int layer;
  int mode;
  int code;
  int rate;
  int model;
  int crc;
  Signal signal;
  double minSnrDb;
  // Joint stereo only: kAmple when every frame can stay plain stereo, kShared when the
  // bitrate forces shared subbands in some frames.
  int joint = 0;
};

constexpr int kAmple = 1;
constexpr int kShared = 2;

std::ostream& operator<<(std::ostream& os, const StreamCase& c) {
  return os << c.name;
}

// Header fields of every frame, walked with the standard's frame lengths (test-side code).
struct WalkedFrame {
  int layer;
  int bitrateIndex;
  int mode;
  int padding;
  std::size_t length;
};

std::vector<WalkedFrame> walkFrames(const std::vector<std::uint8_t>& s, int rate) {
  static const int kLayer1[] = {0,   32,  64,  96,  128, 160, 192, 224,
                                256, 288, 320, 352, 384, 416, 448};
  static const int kLayer2[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  std::vector<WalkedFrame> frames;
  std::size_t at = 0;
  while (at + 4 <= s.size()) {
    if (s[at] != 0xFF || (s[at + 1] & 0xF0) != 0xF0) return {};
    WalkedFrame f{};
    f.layer = 4 - ((s[at + 1] >> 1) & 3);
    f.bitrateIndex = s[at + 2] >> 4;
    f.padding = (s[at + 2] >> 1) & 1;
    f.mode = s[at + 3] >> 6;
    f.length =
        f.layer == 1
            ? static_cast<std::size_t>(12 * kLayer1[f.bitrateIndex] * 1000 / rate + f.padding) * 4
            : static_cast<std::size_t>(144 * kLayer2[f.bitrateIndex] * 1000 / rate + f.padding);
    frames.push_back(f);
    at += f.length;
  }
  return at == s.size() ? frames : std::vector<WalkedFrame>{};
}

class FerruleStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(FerruleStream, DecodesCleanlyAndKeepsItsSnr) {
  const StreamCase& c = GetParam();
  for (const char* tool : {"ffmpeg", "ffprobe", "mpg123"}) QUILLION_REQUIRE_TOOL(tool);
  TempDir dir;
  const int channels = c.mode == 3 ? 1 : 2;
  const auto pcm = makeSignal(c.signal, c.rate, channels, 2.0, dir.path().string());
  ASSERT_FALSE(pcm.empty()) << "ffmpeg could not make the signal";
  const std::string stream = dir.file("out.mp2");
  const EncodeOutcome outcome =
      encodeFile(audioSettings(c.layer, c.mode, c.code, c.model, c.crc), c.rate, pcm, stream, 3001);
  ASSERT_TRUE(outcome.created);
  ASSERT_EQ(outcome.init, 0);
  ASSERT_EQ(outcome.put, 0);
  ASSERT_EQ(outcome.done, 0);
  ASSERT_EQ(outcome.close, 0);

  const OracleDecodes decodes = decodeWithOracles(stream, dir.path().string());
  EXPECT_EQ(decodes.ffmpeg.exitCode, 0);
  EXPECT_EQ(decodes.ffmpeg.output, "") << "ffmpeg found faults";
  EXPECT_EQ(decodes.mpg123Test.exitCode, 0);
  EXPECT_EQ(decodes.mpg123Test.output, "") << "mpg123 found faults";
  EXPECT_EQ(decodes.mpg123.exitCode, 0);

  const auto bytes = readFile(stream);
  const auto frames = walkFrames(bytes, c.rate);
  ASSERT_FALSE(frames.empty()) << "the frames do not follow each other at the standard lengths";
  const std::size_t perFrame = c.layer == 1 ? 384 : 1152;
  EXPECT_EQ(frames.size(), (pcm.size() / channels + perFrame - 1) / perFrame);
  std::set<int> modes;
  for (const WalkedFrame& f : frames) {
    EXPECT_EQ(f.layer, c.layer);
    EXPECT_EQ(f.bitrateIndex, c.code);
    if (c.rate != 44100) {
      EXPECT_EQ(f.padding, 0) << "only 44.1 kHz needs padding";
    }
    modes.insert(f.mode);
  }
  if (c.mode != 1) {
    EXPECT_EQ(modes, std::set<int>{c.mode});
  } else {
    EXPECT_EQ(modes.count(0) + modes.count(1), modes.size()) << "joint stereo writes modes 0 and 1";
    if (c.joint == kAmple) {
      EXPECT_EQ(modes, std::set<int>{0}) << "ample bits: plain stereo";
    }
    if (c.joint == kShared) {
      EXPECT_EQ(modes.count(1), 1u) << "scarce bits: shared subbands";
    }
  }

  // ffprobe lists every packet at its position with its size. (Its demuxer starts at the first
  // run of four frames with equal mode fields, so a joint-stereo stream that opens switching
  // between plain and shared coding is listed from there on; every frame is still listed
  // at the position the standard's lengths give.)
  const ToolResult probe = runTool(
      {"ffprobe", "-v", "error", "-show_entries", "packet=pos,size", "-of", "csv=p=0", stream});
  ASSERT_EQ(probe.exitCode, 0);
  std::vector<std::size_t> starts;
  std::size_t at = 0;
  for (const WalkedFrame& f : frames) {
    starts.push_back(at);
    at += f.length;
  }
  std::istringstream packets(probe.output);
  std::string row;
  std::size_t listed = 0;
  std::size_t firstListed = frames.size();
  while (std::getline(packets, row)) {
    std::size_t size = 0;
    std::size_t pos = 0;
    ASSERT_EQ(std::sscanf(row.c_str(), "%zu,%zu", &size, &pos), 2) << row;
    const auto it = std::find(starts.begin(), starts.end(), pos);
    ASSERT_NE(it, starts.end()) << "packet at " << pos << " is not at a frame start";
    const auto index = static_cast<std::size_t>(it - starts.begin());
    EXPECT_EQ(size, frames[index].length) << "packet " << index;
    firstListed = std::min(firstListed, index);
    ++listed;
  }
  EXPECT_EQ(listed, frames.size() - firstListed);
  if (c.mode != 1) {
    EXPECT_EQ(firstListed, 0u);
  }

  // Only joint stereo can make ffmpeg drop leading frames; elsewhere a short search keeps a
  // periodic signal from aligning a period off.
  const double snr =
      alignedSnrDb(pcm, readPcm(dir.file("ffmpeg.raw")), channels, c.mode == 1 ? 12000 : 2000);
  const double snrMpg123 = alignedSnrDb(pcm, readPcm(dir.file("mpg123.raw")), channels);
  EXPECT_GE(snr, c.minSnrDb) << "ffmpeg decode";
  EXPECT_GE(snrMpg123, c.minSnrDb) << "mpg123 decode";
  RecordProperty("snr_db", std::to_string(snr));
  std::printf("%s: SNR %.2f dB (ffmpeg), %.2f dB (mpg123)\n", c.name, snr, snrMpg123);
}

// Bounds sit about 3 dB under what the encoder reaches, so a real loss shows. The tones reach
// their bounds only through the standard's analysis window, whose stop band lies 96 dB down.
const StreamCase kCases[] = {
    {"L2_stereo_224k_44k1_sine_m2", 2, 0, 11, 44100, 2, 1, Signal::Sine, 79},
    {"L2_joint_224k_44k1_sine_m2", 2, 1, 11, 44100, 2, 1, Signal::Sine, 79, kAmple},
    {"L2_joint_224k_44k1_music_m2", 2, 1, 11, 44100, 2, 1, Signal::Music, 30},
    {"L2_joint_128k_44k1_noise_m1", 2, 1, 8, 44100, 1, 0, Signal::Noise, 7, kShared},
    {"L2_stereo_384k_48k_noise_m1", 2, 0, 14, 48000, 1, 1, Signal::Noise, 11},
    {"L2_dual_128k_48k_music_m2", 2, 2, 8, 48000, 2, 0, Signal::Music, 27},
    {"L2_mono_192k_32k_music_m1", 2, 3, 10, 32000, 1, 1, Signal::Music, 36},
    {"L2_stereo_64k_32k_music_m2", 2, 0, 4, 32000, 2, 1, Signal::Music, 24},
    {"L2_stereo_64k_48k_sine_m2", 2, 0, 4, 48000, 2, 0, Signal::Sine, 46},
    {"L1_stereo_384k_44k1_music_m2", 1, 0, 12, 44100, 2, 1, Signal::Music, 32},
    {"L1_joint_256k_48k_noise_m2", 1, 1, 8, 48000, 2, 1, Signal::Noise, 10},
    {"L1_mono_96k_32k_sine_m1", 1, 3, 3, 32000, 1, 0, Signal::Sine, 69},
};

// Counts the bits of each layer I frame that carry nothing: the frame's size less header, CRC,
// allocation, scale factors and samples, read back from the allocation fields.
double meanUnusedLayer1Bits(const std::vector<std::uint8_t>& s, int rate) {
  const auto frames = walkFrames(s, rate);
  if (frames.empty()) return -1.0;
  std::size_t at = 0;
  double unused = 0.0;
  for (const WalkedFrame& f : frames) {
    const bool crc = (s[at + 1] & 1) == 0;
    const int channels = f.mode == 3 ? 1 : 2;
    std::size_t bit = 8 * at + 32 + (crc ? 16 : 0);
    const auto read4 = [&] {
      int v = 0;
      for (int i = 0; i < 4; ++i, ++bit) v = (v << 1) | ((s[bit / 8] >> (7 - bit % 8)) & 1);
      return v;
    };
    std::size_t used = bit - 8 * at;
    for (int sb = 0; sb < 32; ++sb)
      for (int c = 0; c < channels; ++c) {
        const int a = read4();
        used += 4 + (a ? 6 + 12 * (a + 1) : 0);
      }
    unused += static_cast<double>(8 * f.length - used);
    at += f.length;
  }
  return unused / static_cast<double>(frames.size());
}

// A loud tone filling subband 0 over quiet noise: subband 0 reaches its finest quantiser
// while the noise above still wants bits; those bits must not be left as padding.
TEST(FerruleLayerOne, AllocationSpendsTheWholeBudget) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string raw = dir.file("tone.raw");
  const ToolResult made =
      runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
               "aevalsrc=exprs='0.9*sin(2*PI*300*t)+0.001*(random(0)-0.5)':s=44100:d=1", "-f",
               "s16le", "-acodec", "pcm_s16le", raw});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const std::string stream = dir.file("tone.mp1");
  ASSERT_EQ(encodeFile(audioSettings(1, 3, 14, 2, 0), 44100, readPcm(raw), stream).done, 0);
  const double unused = meanUnusedLayer1Bits(readFile(stream), 44100);
  ASSERT_GE(unused, 0.0) << "frames do not walk";
  EXPECT_LT(unused, 24.0) << "bits left unspent per frame";
}

INSTANTIATE_TEST_SUITE_P(Oracles, FerruleStream, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
