// SPDX-License-Identifier: GPL-2.0-or-later
// Whole stereo encodes: the mode extension read back from every frame header, the streams
// checked by mp3val, mpg123 and ffmpeg, and each channel of the decode compared with its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "float_decoders.h"
#include "mp3enc/encode_sample.h"
#include "mp3enc/encoder_core.h"
#include "mp3enc/velmora_enc.h"
#include "side_info_reader.h"
#include "tests/support/test_support.h"
#include "wav_fixtures.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

constexpr int kDecoderDelay = 529;
constexpr int kRate = 44100;

int encodeStereo(const std::filesystem::path& wav, const std::filesystem::path& mp3, int bitrate) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result =
      encode_to_mp3(wav.c_str(), mp3.c_str(), bitrate, 0, nullptr, 0, nullptr, nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  if (result != kEncodeSucceeded) ADD_FAILURE() << out << err;
  return result;
}

int encoderDelay(int bitrate, int rate = kRate) {
  VelmoraEnc* h = nullptr;
  int block = 0;
  int delay = -1;
  if (TESK_VelmoraEnc_Open(&h, rate, bitrate, 2, 0, 0) == kEncOk &&
      TESK_VelmoraEnc_Init(h, &block) == kEncOk) {
    delay = TESK_VelmoraEnc_GetInfo(h).totalDelay;
  }
  TESK_VelmoraEnc_Free(h);
  return delay;
}

// Signal-to-noise ratio of one channel at a known delay; energy of the decode alone when the
// input channel is silent (reported as a level below full scale, negative).
double channelSnr(const std::vector<std::int16_t>& input, const std::vector<float>& decoded,
                  int channel, int delay) {
  double signal = 0, noise = 0;
  const std::size_t frames = input.size() / 2;
  for (std::size_t n = 0; n < frames; ++n) {
    const double want = input[2 * n + static_cast<std::size_t>(channel)] / 32768.0;
    const std::size_t at =
        2 * (n + static_cast<std::size_t>(delay)) + static_cast<std::size_t>(channel);
    const double got = at < decoded.size() ? decoded[at] : 0.0;
    signal += want * want;
    noise += (got - want) * (got - want);
  }
  if (signal == 0.0) return 10 * std::log10(std::max(noise, 1e-30) / static_cast<double>(frames));
  return 10 * std::log10(signal / std::max(noise, 1e-30));
}

struct Mix {
  const char* name;
  std::vector<std::int16_t> samples;
  bool allMidSide;     // every frame must code M/S
  bool someLeftRight;  // some frames must code left and right
  double leftSnr;      // dB, lower bound
  double rightSnr;     // dB, lower bound; for a silent channel an upper bound on its level
};

std::vector<std::int16_t> makeMix(int kind, double seconds, int rate = kRate) {
  const auto frames = static_cast<std::size_t>(rate * seconds);
  const auto noise = makeSignal(Signal::PinkNoise, rate, 2, seconds);
  std::vector<std::int16_t> out(2 * frames);
  for (std::size_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double tones =
        6000.0 * std::sin(2 * M_PI * 440.0 * t) + 3000.0 * std::sin(2 * M_PI * 1250.0 * t);
    double l = 0, r = 0;
    switch (kind) {
      case 0:  // the same signal in both channels
        l = r = tones + 0.5 * noise[2 * n];
        break;
      case 1:  // a wide mix: independent noise, tones placed apart
        l = 0.8 * noise[2 * n] + 0.7 * tones;
        r = 0.8 * noise[2 * n + 1] + 0.3 * std::sin(2 * M_PI * 660.0 * t) * 9000.0;
        break;
      default:  // hard left
        l = tones + 0.5 * noise[2 * n];
        r = 0;
        break;
    }
    out[2 * n] = static_cast<std::int16_t>(std::lround(std::clamp(l, -32768.0, 32767.0)));
    out[2 * n + 1] = static_cast<std::int16_t>(std::lround(std::clamp(r, -32768.0, 32767.0)));
  }
  return out;
}

}  // namespace

TEST(StereoEncode, ModeExtensionsAndChannelsSurviveTheDecoders) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const Mix mixes[] = {
      {"identical", makeMix(0, 2.0), true, false, 15.0, 15.0},
      {"wide", makeMix(1, 2.0), false, true, 9.0, 9.0},
      {"hard-left", makeMix(2, 2.0), false, false, 15.0, -60.0},
  };
  constexpr int kBitrate = 128000;
  const int delay = encoderDelay(kBitrate) + kDecoderDelay;
  ASSERT_GT(delay, kDecoderDelay);
  TempDir dir;
  std::vector<double> snrLeft;
  for (const Mix& mix : mixes) {
    SCOPED_TRACE(mix.name);
    const auto wav = dir.file(std::string(mix.name) + ".wav");
    const auto mp3 = dir.file(std::string(mix.name) + ".mp3");
    writeWav(wav, WavSpec{}, mix.samples);
    ASSERT_EQ(encodeStereo(wav, mp3, kBitrate), kEncodeSucceeded);

    const auto frames = readSideInfo(readFile(mp3));
    ASSERT_GT(frames.size(), 70u);
    int midSide = 0, inner = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const SideInfoFrame& f = frames[i];
      ASSERT_EQ(f.mode, 1);               // joint stereo
      ASSERT_EQ(f.modeExtension & 1, 0);  // no intensity stereo at this rate
      midSide += (f.modeExtension & 2) ? 1 : 0;
      if (i > 0 && i + 1 < frames.size()) inner += (f.modeExtension & 2) ? 1 : 0;
    }
    const int count = static_cast<int>(frames.size());
    if (mix.allMidSide) {
      EXPECT_EQ(inner, count - 2);
    }
    if (mix.someLeftRight) {
      EXPECT_LT(midSide, count);
    }

    EXPECT_EQ(mp3valWarnings(mp3), "");
    const ToolResult check = runTool({"mpg123", "-q", "-t", mp3.string()});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.output, "");
    std::vector<float> viaMpg123, viaFfmpeg;
    ASSERT_EQ(decodeToFloatMpg123(mp3, dir.file("m.raw"), &viaMpg123).exitCode, 0);
    const ToolResult ff = decodeToFloat(mp3, dir.file("f.raw"), &viaFfmpeg);
    ASSERT_EQ(ff.exitCode, 0);
    EXPECT_EQ(ff.output, "");
    ASSERT_GE(viaMpg123.size(), mix.samples.size());
    const double left = channelSnr(mix.samples, viaMpg123, 0, delay);
    const double right = channelSnr(mix.samples, viaMpg123, 1, delay);
    snrLeft.push_back(left);
    EXPECT_GT(left, mix.leftSnr);
    if (mix.rightSnr < 0) {
      EXPECT_LT(right, mix.rightSnr);
    } else {
      EXPECT_GT(right, mix.rightSnr);
    }
  }
  // Mid/side codes identical channels at the cost of one: as well as a single channel beside
  // silence.
  ASSERT_EQ(snrLeft.size(), 3u);
  EXPECT_NEAR(snrLeft[0], snrLeft[2], 0.5);
}

// At low rates the upper bands of a stereo mix are merged by intensity stereo: the frames say so,
// the decoders accept them, and each channel keeps a bounded noise (intensity stereo keeps each
// band's level, not its waveform: the bounds are low, and lower still for the wide mix whose
// channels differ most).
TEST(StereoEncode, IntensityStereoAtLowRatesDecodesCleanly) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  struct Case {
    int rate;
    int bitrate;
    int granules;  // 2 for MPEG-1, 1 below
  };
  // The driver keeps 24 kHz at 64 kbit/s; the rates that allow intensity stereo are all
  // coded at the lower sampling rates.
  const Case cases[] = {{24000, 64000, 1}};
  TempDir dir;
  for (const Case& c : cases) {
    const int delay = encoderDelay(c.bitrate, c.rate) + kDecoderDelay;
    for (int kind : {0, 1, 2}) {
      SCOPED_TRACE(testing::Message() << c.rate << " Hz, mix " << kind);
      const auto input = makeMix(kind, 2.0, c.rate);
      const auto wav = dir.file("in.wav");
      const auto mp3 = dir.file("out.mp3");
      WavSpec spec;
      spec.rate = c.rate;
      writeWav(wav, spec, input);
      ASSERT_EQ(encodeStereo(wav, mp3, c.bitrate), kEncodeSucceeded);
      const auto frames = readSideInfo(readFile(mp3));
      ASSERT_GT(frames.size(), 30u);
      int intensity = 0;
      for (const SideInfoFrame& f : frames) {
        ASSERT_EQ(f.mode, 1);
        ASSERT_EQ(f.granules, c.granules);
        intensity += f.modeExtension & 1;
      }
      EXPECT_EQ(mp3valWarnings(mp3), "");
      const ToolResult check = runTool({"mpg123", "-q", "-t", mp3.string()});
      EXPECT_EQ(check.exitCode, 0);
      EXPECT_EQ(check.output, "");
      std::vector<float> viaMpg123, viaFfmpeg;
      ASSERT_EQ(decodeToFloatMpg123(mp3, dir.file("m.raw"), &viaMpg123).exitCode, 0);
      const ToolResult ff = decodeToFloat(mp3, dir.file("f.raw"), &viaFfmpeg);
      ASSERT_EQ(ff.exitCode, 0);
      EXPECT_EQ(ff.output, "");
      const double left = channelSnr(input, viaMpg123, 0, delay);
      const double right = channelSnr(input, viaMpg123, 1, delay);
      SCOPED_TRACE(testing::Message() << "intensity frames " << intensity << "/" << frames.size()
                                      << ", SNR " << left << " / " << right);
      const int count = static_cast<int>(frames.size());
      switch (kind) {
        case 0:  // identical: merged from the first band the model allows, both sides alike
          EXPECT_EQ(intensity, count);
          EXPECT_GT(left, 15.0);
          EXPECT_NEAR(left, right, 0.5);
          break;
        case 1:  // wide: the channels differ too much for most frames
          EXPECT_LT(intensity, count / 2);
          EXPECT_GT(left, 7.0);
          EXPECT_GT(right, 7.0);
          break;
        default:  // hard left: the right channel stays silent
          EXPECT_GE(intensity, count - 3);
          EXPECT_GT(left, 14.0);
          EXPECT_LT(right, -60.0);
          break;
      }
    }
  }
}

namespace {

// Encodes interleaved stereo through the core itself, which also reaches the MPEG-1 rates
// with intensity stereo and the stereo pre-processing that the driver does not switch on.
std::vector<std::uint8_t> encodeWithCore(const EncoderConfig& config,
                                         const std::vector<std::int16_t>& input, int* delay) {
  std::vector<std::uint8_t> stream;
  EncoderCore* core = nullptr;
  if (mp3encOpen(&core, &config) != 0) return stream;
  CoreInfo info;
  mp3encGetInfo(core, &info);
  *delay = info.delay;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(info.maxOutputBytes));
  std::vector<float> granule;
  std::size_t at = 0;
  for (;;) {
    granule.clear();
    for (int n = 0; n < 2 * 576 && at < input.size(); ++n, ++at)
      granule.push_back(static_cast<float>(input[at]));
    std::size_t produced = 0;
    const int status = mp3encEncode(core, granule.data(), static_cast<int>(granule.size()),
                                    out.data(), out.size(), &produced, nullptr, nullptr, 0);
    stream.insert(stream.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
    if (status == kCoreFlushed) break;
    if (status != 0) {
      ADD_FAILURE() << "core status " << status;
      break;
    }
  }
  mp3encClose(core);
  return stream;
}

}  // namespace

// MPEG-1 intensity stereo (positions on the quarter circle), with and without the stereo
// pre-processing, decodes cleanly: identical channels stay identical; a hard-panned source
// keeps the other side silent, unless the pre-processing narrows the image on purpose.
TEST(StereoEncode, Mpeg1IntensityStereoThroughTheCore) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  constexpr int kCoreRate = 32000;
  TempDir dir;
  for (int pre : {0, 1}) {
    for (int kind : {0, 2}) {
      SCOPED_TRACE(testing::Message() << "pre-processing " << pre << ", mix " << kind);
      EncoderConfig config;
      config.sampleRate = kCoreRate;
      config.bitrate = 80000;
      config.inputChannels = config.outputChannels = 2;
      config.bandwidth = 11000;
      config.jointStereo = 1;
      config.stereoPreProcessing = pre;
      const auto input = makeMix(kind, 2.0, kCoreRate);
      int delay = 0;
      const auto stream = encodeWithCore(config, input, &delay);
      ASSERT_FALSE(stream.empty());
      const auto mp3 = dir.file("core.mp3");
      writeFile(mp3, stream);
      const auto frames = readSideInfo(stream);
      ASSERT_GT(frames.size(), 50u);
      int intensity = 0;
      for (const SideInfoFrame& f : frames) {
        ASSERT_EQ(f.granules, 2);
        intensity += f.modeExtension & 1;
      }
      EXPECT_GE(intensity, static_cast<int>(frames.size()) - (pre ? 10 : 3));
      EXPECT_EQ(mp3valWarnings(mp3), "");
      const ToolResult check = runTool({"mpg123", "-q", "-t", mp3.string()});
      EXPECT_EQ(check.exitCode, 0);
      EXPECT_EQ(check.output, "");
      std::vector<float> decoded, viaFfmpeg;
      ASSERT_EQ(decodeToFloatMpg123(mp3, dir.file("m.raw"), &decoded).exitCode, 0);
      const ToolResult ff = decodeToFloat(mp3, dir.file("f.raw"), &viaFfmpeg);
      ASSERT_EQ(ff.exitCode, 0);
      EXPECT_EQ(ff.output, "");
      const double left = channelSnr(input, decoded, 0, delay + kDecoderDelay);
      const double right = channelSnr(input, decoded, 1, delay + kDecoderDelay);
      SCOPED_TRACE(testing::Message() << "SNR " << left << " / " << right);
      if (kind == 0) {
        // No side signal: nothing for the pre-processing to narrow.
        EXPECT_GT(left, 14.0);
        EXPECT_NEAR(left, right, 0.5);
      } else if (!pre) {
        EXPECT_GT(left, 14.0);
        EXPECT_LT(right, -50.0);
      } else {
        // The demand at this rate narrows the image: some of the left reaches the right,
        // well below the left's own level (about -13 dB).
        EXPECT_GT(left, 8.0);
        EXPECT_GT(right, -50.0);
        EXPECT_LT(right, -20.0);
      }
    }
  }
}
