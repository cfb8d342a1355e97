// SPDX-License-Identifier: GPL-2.0-or-later
// What the psychoacoustic model and the quantisation loop buy, measured on decodes by the
// independent decoders: noise falls as the bit rate rises, sharp onsets switch to short
// windows (read back from the stream's side information) in valid sequences and keep the
// noise in front of an onset small, steady sounds keep long windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "float_decoders.h"
#include "mp3enc/encode_sample.h"
#include "mp3enc/velmora_enc.h"
#include "side_info_reader.h"
#include "wav_fixtures.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

constexpr int kSynthesisDelay = 529;

int encodeQuietly(const std::filesystem::path& wav, const std::filesystem::path& mp3, int bitrate) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result =
      encode_to_mp3(wav.c_str(), mp3.c_str(), bitrate, 0, nullptr, 0, nullptr, nullptr);
  (void)testing::internal::GetCapturedStdout();
  (void)testing::internal::GetCapturedStderr();
  return result;
}

EncoderStreamInfo streamInfo(int rate, int bitrate, int channels) {
  VelmoraEnc* h = nullptr;
  int block = 0;
  EncoderStreamInfo info{};
  info.totalDelay = -1;
  if (TESK_VelmoraEnc_Open(&h, rate, bitrate, channels, 0, 0) == kEncOk &&
      TESK_VelmoraEnc_Init(h, &block) == kEncOk) {
    info = TESK_VelmoraEnc_GetInfo(h);
  }
  TESK_VelmoraEnc_Free(h);
  return info;
}

void expectCheckersSilent(const std::filesystem::path& mp3) {
  EXPECT_EQ(mp3valWarnings(mp3), "");
  const ToolResult test = runTool({"mpg123", "-q", "-t", mp3.string()});
  EXPECT_EQ(test.exitCode, 0);
  EXPECT_EQ(test.output, "");
  const ToolResult ff = runTool(
      {"ffmpeg", "-v", "error", "-err_detect", "explode", "-i", mp3.string(), "-f", "null", "-"});
  EXPECT_EQ(ff.exitCode, 0);
  EXPECT_EQ(ff.output, "");
}

// Onsets: silence, then a decaying burst of a bright tone mix, every 0.25 s.
std::vector<std::int16_t> onsets(int rate, int channels, double seconds, std::vector<int>* starts) {
  const int frames = static_cast<int>(rate * seconds);
  const int period = rate / 4;
  std::vector<std::int16_t> out(static_cast<std::size_t>(frames * channels), 0);
  for (int n = 0; n < frames; ++n) {
    const int into = n % period - period / 2;
    if (into == 0) starts->push_back(n);
    if (into < 0) continue;
    const double t = static_cast<double>(into) / rate;
    const double v = 20000.0 * std::exp(-t * 40.0) *
                     (std::sin(2 * M_PI * 1500.0 * t) + 0.5 * std::sin(2 * M_PI * 3700.0 * t));
    for (int c = 0; c < channels; ++c)
      out[static_cast<std::size_t>(n * channels + c)] =
          static_cast<std::int16_t>(std::lround(v * 0.6));
  }
  return out;
}

// Window sequences a decoder can overlap without a gap: a granule after a long or stop
// window opens long (long or start), one after a start or short window opens short.
bool validSuccessor(int previous, int current) {
  const bool previousEndsShort = previous == 1 || previous == 2;
  const bool currentOpensShort = current == 2 || current == 3;
  return previousEndsShort == currentOpensShort;
}

struct WindowCount {
  int shortBlocks = 0;       // granules of one channel with short windows
  int laterShortBlocks = 0;  // the same after the first 0.1 s (the input's own start)
  int granules = 0;
  bool valid = true;
};

WindowCount countWindows(const std::vector<SideInfoFrame>& frames, int rate) {
  WindowCount count;
  std::vector<int> last(2, 0);
  long long position = 0;  // samples into the stream
  for (const SideInfoFrame& f : frames) {
    for (int gr = 0; gr < f.granules; ++gr, position += 576) {
      for (int ch = 0; ch < f.channels; ++ch) {
        const int type = f.granule[static_cast<std::size_t>(gr * f.channels + ch)].blockType;
        if (!validSuccessor(last[static_cast<std::size_t>(ch)], type)) count.valid = false;
        last[static_cast<std::size_t>(ch)] = type;
        count.shortBlocks += type == 2;
        count.laterShortBlocks += type == 2 && position > rate / 10 + 1200;
        ++count.granules;
      }
    }
  }
  return count;
}

}  // namespace

// Noise has no masking to hide behind: every step up in bit rate must lower the noise.
TEST(EncoderQuality, NoiseSnrRisesWithEveryBitRate) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto input = makeSignal(Signal::PinkNoise, 44100, 2, 2.0);
  WavSpec spec;
  writeWav(dir.file("in.wav"), spec, input);
  double previous = -1e9;
  for (int bitrate : {64000, 96000, 128000, 160000, 192000, 256000, 320000}) {
    SCOPED_TRACE(bitrate);
    const auto mp3 = dir.file(std::to_string(bitrate) + ".mp3");
    ASSERT_EQ(encodeQuietly(dir.file("in.wav"), mp3, bitrate), kEncodeSucceeded);
    expectCheckersSilent(mp3);
    std::vector<float> decoded;
    ASSERT_EQ(decodeToFloatMpg123(mp3, dir.file("out.raw"), &decoded).exitCode, 0);
    const double snr =
        snrAt(input, decoded, 2, streamInfo(44100, bitrate, 2).totalDelay + kSynthesisDelay);
    EXPECT_GT(snr, previous + 0.5);
    previous = snr;
  }
}

// Sharp onsets after silence take short windows, in sequences the decoders accept, at every
// MPEG version. Where the bit rate leaves room for it, the noise in the 10 ms before an onset
// stays below a bound that coding the same input with long windows only does not reach (the
// bound lies between the two, measured on this input).
TEST(EncoderQuality, OnsetsTakeShortWindows) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  struct Case {
    int rate, channels, bitrate;
    double preEchoBound;  // dB, median over the onsets; 0: not compared
  };
  const Case cases[] = {
      {44100, 2, 128000, -40.0}, {48000, 2, 192000, -44.0}, {32000, 1, 96000, -50.0},
      {22050, 1, 48000, -40.0},  {24000, 2, 64000, -32.0},  {16000, 2, 40000, -31.0},
      {12000, 1, 16000, 0.0},    {11025, 1, 16000, 0.0},    {8000, 2, 16000, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch " +
                 std::to_string(c.bitrate));
    const EncoderStreamInfo info = streamInfo(c.rate, c.bitrate, c.channels);
    ASSERT_EQ(info.outputRate, c.rate) << "the onsets are timed at the input's rate";
    TempDir dir;
    std::vector<int> starts;
    const auto input = onsets(c.rate, c.channels, 2.0, &starts);
    WavSpec spec;
    spec.rate = c.rate;
    spec.channels = c.channels;
    writeWav(dir.file("in.wav"), spec, input);
    ASSERT_EQ(encodeQuietly(dir.file("in.wav"), dir.file("out.mp3"), c.bitrate), kEncodeSucceeded);
    expectCheckersSilent(dir.file("out.mp3"));
    const WindowCount windows = countWindows(readSideInfo(readFile(dir.file("out.mp3"))), c.rate);
    EXPECT_TRUE(windows.valid);
    const int onsetCount = static_cast<int>(starts.size()) * c.channels;
    EXPECT_GE(windows.shortBlocks, onsetCount);
    EXPECT_LE(windows.shortBlocks, 4 * onsetCount);
    // Both decoders read the windows, gains and scalefactors alike.
    std::vector<float> decoded, other;
    ASSERT_EQ(decodeToFloatMpg123(dir.file("out.mp3"), dir.file("out.raw"), &decoded).exitCode, 0);
    ASSERT_EQ(decodeToFloat(dir.file("out.mp3"), dir.file("ff.raw"), &other).exitCode, 0);
    ASSERT_EQ(other.size(), decoded.size());
    double largestDifference = 0.0;
    for (std::size_t i = 0; i < decoded.size(); ++i)
      largestDifference = std::max(largestDifference, std::fabs(double(decoded[i]) - other[i]));
    EXPECT_LT(largestDifference, 1e-3);
    if (c.preEchoBound == 0.0) continue;

    const int delay = info.totalDelay + kSynthesisDelay;
    const auto sampleAt = [&](int n, int ch) {
      const std::size_t i = static_cast<std::size_t>((n + delay) * c.channels + ch);
      return i < decoded.size() ? static_cast<double>(decoded[i]) : 0.0;
    };
    const int span = c.rate / 100;
    std::vector<double> ratios;
    for (int start : starts) {
      double pre = 0.0, onset = 0.0;
      for (int k = 0; k < span; ++k) {
        for (int ch = 0; ch < c.channels; ++ch) {
          pre += std::pow(sampleAt(start - span + k - 8, ch), 2);
          onset += std::pow(sampleAt(start + k, ch), 2);
        }
      }
      ASSERT_GT(onset, 0.0) << "the onset at " << start << " is missing";
      ratios.push_back(10.0 * std::log10((pre + 1e-12) / onset));
    }
    std::sort(ratios.begin(), ratios.end());
    EXPECT_LT(ratios[ratios.size() / 2], c.preEchoBound);
  }
}

// A steady tone mix and a slow sweep never switch windows.
TEST(EncoderQuality, SteadySoundsKeepLongWindows) {
  QUILLION_REQUIRE_TOOL("mp3val");
  for (const Signal signal : {Signal::Sweep, Signal::Clipping}) {
    SCOPED_TRACE(signalName(signal));
    TempDir dir;
    WavSpec spec;
    writeWav(dir.file("in.wav"), spec, makeSignal(signal, 44100, 2, 2.0));
    ASSERT_EQ(encodeQuietly(dir.file("in.wav"), dir.file("out.mp3"), 128000), kEncodeSucceeded);
    const auto frames = readSideInfo(readFile(dir.file("out.mp3")));
    ASSERT_GT(frames.size(), 70u);
    const WindowCount windows = countWindows(frames, 44100);
    EXPECT_TRUE(windows.valid);
    EXPECT_EQ(windows.laterShortBlocks, 0);
  }
}
