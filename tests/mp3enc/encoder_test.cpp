// SPDX-License-Identifier: GPL-2.0-or-later
// WAV files made here go through the driver and the handle API; the streams must satisfy
// mp3val, mpg123 and ffmpeg, carry the rate and bit rate chosen, keep every input sample
// after the reported delay, and decode to the input within a bound per bit rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "float_decoders.h"
#include "mp3enc/encode_sample.h"
#include "mp3enc/velmora_enc.h"
#include "wav_fixtures.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

// The synthesis delay of a Layer III decoder: the first sample of a stream's content comes
// out this much after the encoder's reported delay.
constexpr int kDecoderDelay = 529;

struct DriverRun {
  int result = -1;
  std::string out, err;
};

DriverRun runDriver(const std::filesystem::path& wav, const std::filesystem::path& mp3, int bitrate,
                    int rateMode) {
  DriverRun run;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  run.result =
      encode_to_mp3(wav.c_str(), mp3.c_str(), bitrate, 0, nullptr, rateMode, nullptr, nullptr);
  run.out = testing::internal::GetCapturedStdout();
  run.err = testing::internal::GetCapturedStderr();
  return run;
}

// The facts the handle reports for these parameters.
EncoderStreamInfo infoFor(int rate, int bitrate, int channels, int rateMode) {
  VelmoraEnc* h = nullptr;
  EncoderStreamInfo info{};
  int block = 0;
  if (TESK_VelmoraEnc_Open(&h, rate, bitrate, channels, rateMode, 0) == kEncOk &&
      TESK_VelmoraEnc_Init(h, &block) == kEncOk) {
    info = TESK_VelmoraEnc_GetInfo(h);
  }
  TESK_VelmoraEnc_Free(h);
  return info;
}

// The audio stream's facts as ffprobe reads them, in the order asked: one run for all.
std::vector<std::string> probeValues(const std::filesystem::path& mp3,
                                     const std::vector<std::string>& entries) {
  std::string list;
  for (const std::string& e : entries) list += (list.empty() ? "" : ",") + e;
  const ToolResult r = runTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                                "stream=" + list, "-of", "default=nw=1", mp3.string()});
  std::vector<std::string> values(entries.size());
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const auto at = std::find(entries.begin(), entries.end(), line.substr(0, eq));
    if (at != entries.end())
      values[static_cast<std::size_t>(at - entries.begin())] = line.substr(eq + 1);
  }
  return values;
}

std::vector<std::uint32_t> probeFrameSizes(const std::filesystem::path& file) {
  const ToolResult r =
      runTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_frames", "-show_entries",
               "frame=pkt_size", "-of", "csv=p=0", file.string()});
  std::vector<std::uint32_t> sizes;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) sizes.push_back(static_cast<std::uint32_t>(std::stoul(line)));
  }
  return sizes;
}

// Every independent checker accepts the stream without a word.
void expectValidStream(const std::filesystem::path& mp3) {
  EXPECT_EQ(mp3valWarnings(mp3), "");
  const ToolResult test = runTool({"mpg123", "-q", "-t", mp3.string()});
  EXPECT_EQ(test.exitCode, 0);
  EXPECT_EQ(test.output, "");
  const ToolResult ff = runTool(
      {"ffmpeg", "-v", "error", "-err_detect", "explode", "-i", mp3.string(), "-f", "null", "-"});
  EXPECT_EQ(ff.exitCode, 0);
  EXPECT_EQ(ff.output, "");
}

#define REQUIRE_CHECKERS()            \
  do {                                \
    QUILLION_REQUIRE_TOOL("mp3val");  \
    QUILLION_REQUIRE_TOOL("mpg123");  \
    QUILLION_REQUIRE_TOOL("ffmpeg");  \
    QUILLION_REQUIRE_TOOL("ffprobe"); \
  } while (0)

}  // namespace

namespace {

struct RateCase {
  int rate, channels, bitrate, rateMode;
  Signal signal;
  int outputRate;
};
constexpr RateCase kRateCases[] = {
    {8000, 2, 16000, 0, Signal::Sweep, 8000},
    {11025, 1, 16000, 0, Signal::PinkNoise, 11025},
    {12000, 1, 16000, 0, Signal::Clicks, 12000},
    {16000, 2, 40000, 0, Signal::Clipping, 16000},
    {22050, 1, 48000, 0, Signal::Sweep, 22050},
    {24000, 2, 64000, 0, Signal::PinkNoise, 24000},
    {32000, 1, 96000, 0, Signal::Silence, 32000},
    {44100, 2, 128000, 1, Signal::Sweep, 44100},
    {44100, 1, 64000, 1, Signal::Clicks, 44100},
    {48000, 2, 192000, 0, Signal::Clipping, 48000},
    {96000, 2, 128000, 0, Signal::PinkNoise, 48000},
    {96000, 1, 128000, 1, Signal::Sweep, 44100},
    {8000, 1, 128000, 0, Signal::Sweep, 32000},
    {22050, 2, 320000, 1, Signal::PinkNoise, 44100},
};

class EncodeToMp3Rates : public testing::TestWithParam<RateCase> {};

}  // namespace

// Every MPEG version, both channel counts, both rate modes, input rates that are kept and
// ones that are converted, and every kind of test signal.
TEST_P(EncodeToMp3Rates, GivesAValidStream) {
  REQUIRE_CHECKERS();
  const RateCase& c = GetParam();
  TempDir dir;
  const auto input = makeSignal(c.signal, c.rate, c.channels, 1.5);
  WavSpec spec;
  spec.rate = c.rate;
  spec.channels = c.channels;
  writeWav(dir.file("in.wav"), spec, input);
  const DriverRun run = runDriver(dir.file("in.wav"), dir.file("out.mp3"), c.bitrate, c.rateMode);
  ASSERT_EQ(run.result, kEncodeSucceeded) << run.err;
  EXPECT_EQ(run.out, "Encoding successful\n");
  EXPECT_EQ(run.err, "\n");
  expectValidStream(dir.file("out.mp3"));
  EXPECT_EQ(probeValues(dir.file("out.mp3"), {"sample_rate", "bit_rate", "channels"}),
            (std::vector<std::string>{std::to_string(c.outputRate), std::to_string(c.bitrate),
                                      std::to_string(c.channels)}));

  const EncoderStreamInfo info = infoFor(c.rate, c.bitrate, c.channels, c.rateMode);
  ASSERT_EQ(info.outputRate, c.outputRate);
  std::vector<float> decoded;
  ASSERT_EQ(decodeToFloatMpg123(dir.file("out.mp3"), dir.file("out.raw"), &decoded).exitCode, 0);
  // No sample is missing: the whole input (at the output rate) follows the delay.
  const double inputFrames = static_cast<double>(input.size()) / c.channels * c.outputRate / c.rate;
  EXPECT_GE(static_cast<double>(decoded.size()) / c.channels,
            inputFrames + info.totalDelay + kDecoderDelay);
  if (c.rate == c.outputRate && c.signal != Signal::Silence) {
    const Alignment a = align(input, decoded, c.channels, 3000);
    EXPECT_EQ(a.delay, info.totalDelay + kDecoderDelay) << "SNR " << a.snr;
  }
  if (c.signal == Signal::Silence) {
    for (float v : decoded) ASSERT_EQ(v, 0.0f);
  }
}

INSTANTIATE_TEST_SUITE_P(EncodeToMp3, EncodeToMp3Rates, testing::ValuesIn(kRateCases),
                         [](const testing::TestParamInfo<RateCase>& param) {
                           const RateCase& c = param.param;
                           return std::to_string(c.rate) + "Hz" + std::to_string(c.channels) +
                                  "ch" + std::to_string(c.bitrate / 1000) + "k_mode" +
                                  std::to_string(c.rateMode) + "_" + signalIdentifier(c.signal);
                         });

// The quality floor per bit rate at 44.1 kHz stereo, without the optional low-pass. A sweep
// is coded down to its masking threshold already at 64 kbit/s: higher rates leave it there
// and keep the spare bits in the reservoir.
TEST(EncodeToMp3, SignalToNoiseRatioPerBitRate) {
  QUILLION_REQUIRE_TOOL("mpg123");
  struct Case {
    int bitrate, channels;
    Signal signal;
    double bound;  // dB, a margin below what the encoder reaches
  };
  const Case cases[] = {
      {64000, 1, Signal::Sweep, 48},      {128000, 2, Signal::Sweep, 48},
      {192000, 2, Signal::Sweep, 49},     {320000, 2, Signal::Sweep, 49},
      {64000, 1, Signal::PinkNoise, 9},   {128000, 2, Signal::PinkNoise, 9},
      {192000, 2, Signal::PinkNoise, 13}, {320000, 2, Signal::PinkNoise, 18.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitrate) + " bit/s, " + std::to_string(c.channels) + " ch, " +
                 signalName(c.signal));
    TempDir dir;
    const auto input = makeSignal(c.signal, 44100, c.channels, 3.0);
    WavSpec spec;
    spec.channels = c.channels;
    writeWav(dir.file("in.wav"), spec, input);
    ASSERT_EQ(runDriver(dir.file("in.wav"), dir.file("out.mp3"), c.bitrate, 0).result,
              kEncodeSucceeded);
    std::vector<float> decoded;
    ASSERT_EQ(decodeToFloatMpg123(dir.file("out.mp3"), dir.file("out.raw"), &decoded).exitCode, 0);
    const EncoderStreamInfo info = infoFor(44100, c.bitrate, c.channels, 0);
    ASSERT_EQ(info.outputRate, 44100);
    const double snr = snrAt(input, decoded, c.channels, info.totalDelay + kDecoderDelay);
    EXPECT_GT(snr, c.bound);
  }
}

// 128 kbit/s at 44.1 kHz: frames of 417 bytes, with the padding byte where the rate needs it.
TEST(EncodeToMp3, FrameSizesAt128kAnd44k) {
  REQUIRE_CHECKERS();
  TempDir dir;
  writeWav(dir.file("in.wav"), WavSpec{}, makeSignal(Signal::PinkNoise, 44100, 2, 2.0));
  ASSERT_EQ(runDriver(dir.file("in.wav"), dir.file("out.mp3"), 128000, 1).result, kEncodeSucceeded);
  const std::vector<std::uint32_t> sizes = probeFrameSizes(dir.file("out.mp3"));
  ASSERT_GT(sizes.size(), 70u);
  std::size_t total = 0;
  for (std::uint32_t s : sizes) {
    EXPECT_TRUE(s == 417 || s == 418) << s;
    total += s;
  }
  // The stream keeps its bit rate: 128000 x 1152 / 44100 = 3343.7 bits a frame on average.
  EXPECT_NEAR(8.0 * static_cast<double>(total) / static_cast<double>(sizes.size()), 3343.7, 10.0);
}

namespace {

std::vector<std::uint8_t> junkChunk(std::size_t body) {
  std::vector<std::uint8_t> chunk = {'J', 'U', 'N', 'K'};
  for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(body >> (8 * i)));
  chunk.resize(8 + body, 0x20);
  return chunk;
}

}  // namespace

// Inputs the driver refuses, each with its message, a failure code and no output left behind;
// and the near misses it accepts.
TEST(EncodeToMp3, RefusesBadWavFilesWithTheirMessages) {
  QUILLION_REQUIRE_TOOL("mpg123");
  struct Case {
    const char* what;
    WavSpec spec;
    bool accepted;
    const char* message;  // %s: the input path
  };
  const auto spec = [](auto change) {
    WavSpec s;
    change(s);
    return s;
  };
  const char* reading = "error opening %s for reading\n";
  const Case cases[] = {
      {"8-bit samples", spec([](WavSpec& s) { s.bitsPerSample = 8; }), false, reading},
      {"24-bit samples", spec([](WavSpec& s) { s.bitsPerSample = 24; }), false, reading},
      {"format tag 3 (float)", spec([](WavSpec& s) { s.formatTag = 3; }), false, reading},
      {"extensible with a float subformat", spec([](WavSpec& s) {
         s.formatTag = 0xFFFE;
         s.extensiblePcm = false;
       }),
       false, reading},
      {"extensible PCM", spec([](WavSpec& s) { s.formatTag = 0xFFFE; }), true, ""},
      {"\"data\" at byte 5035, the last position tried",
       spec([](WavSpec& s) { s.chunkBeforeData = junkChunk(4991); }), true, ""},
      {"\"data\" at byte 5036", spec([](WavSpec& s) { s.chunkBeforeData = junkChunk(4992); }),
       false, reading},
      {"three channels", spec([](WavSpec& s) { s.channels = 3; }), false,
       "error opening Velmora encoder\n"},
      {"six channels", spec([](WavSpec& s) { s.channels = 6; }), false,
       "this Velmora library only supports mono and stereo encoding\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeWav(dir.file("in.wav"), c.spec,
             makeSignal(Signal::Sweep, c.spec.rate, c.spec.channels, 0.3));
    const DriverRun run = runDriver(dir.file("in.wav"), dir.file("out.mp3"), 128000, 0);
    if (c.accepted) {
      EXPECT_EQ(run.result, kEncodeSucceeded) << run.err;
      EXPECT_EQ(run.out, "Encoding successful\n");
      EXPECT_EQ(runTool({"mpg123", "-q", "-t", dir.file("out.mp3").string()}).exitCode, 0);
      continue;
    }
    std::string expected = c.message;
    if (const auto at = expected.find("%s"); at != std::string::npos)
      expected.replace(at, 2, dir.file("in.wav").string());
    EXPECT_EQ(run.result, kEncodeFailed);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp3"))) << "a failed run leaves no stream";
  }
}

TEST(EncodeToMp3, RefusesFilesThatAreNotWavOrCutShort) {
  TempDir dir;
  writeWav(dir.file("good.wav"), WavSpec{}, makeSignal(Signal::Sweep, 44100, 2, 0.3));
  std::vector<std::uint8_t> good = readFile(dir.file("good.wav"));
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<std::uint8_t> rifx = good;
  rifx[3] = 'X';
  std::vector<std::uint8_t> wave = good;
  wave[8] = 'A';
  const Case cases[] = {
      {"RIFX", rifx},
      {"no WAVE word", wave},
      {"cut inside the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 30)},
      {"cut before the data length", std::vector<std::uint8_t>(good.begin(), good.begin() + 42)},
      {"empty file", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir.file("bad.wav"), c.bytes);
    const DriverRun run = runDriver(dir.file("bad.wav"), dir.file("out.mp3"), 128000, 0);
    EXPECT_EQ(run.result, kEncodeFailed);
    EXPECT_EQ(run.err, "error opening " + dir.file("bad.wav").string() + " for reading\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp3")));
  }
  const DriverRun missing = runDriver(dir.file("none.wav"), dir.file("out.mp3"), 128000, 0);
  EXPECT_EQ(missing.result, kEncodeFailed);
  EXPECT_EQ(missing.err, "error opening " + dir.file("none.wav").string() + " for reading\n");

  const DriverRun unwritable =
      runDriver(dir.file("good.wav"), dir.file("no/such/dir.mp3"), 128000, 0);
  EXPECT_EQ(unwritable.result, kEncodeFailed);
  EXPECT_EQ(unwritable.err,
            "error opening " + dir.file("no/such/dir.mp3").string() + " for writing\n");

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int anc = encode_to_mp3(dir.file("good.wav").c_str(), dir.file("out.mp3").c_str(), 128000,
                                9600, dir.file("none.bin").c_str(), 0, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "error opening " + dir.file("none.bin").string() + " for reading failed!n");
  EXPECT_EQ(anc, kEncodeFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp3")));
}

namespace {

struct Progress {
  std::vector<int> calls;
};
void onProgress(int bytes, void* context) {
  static_cast<Progress*>(context)->calls.push_back(bytes);
}

}  // namespace

// The callback hears the header size first, then every block read: together the file size.
// Data cut short ends the input early but still gives a valid stream; an empty "data" chunk
// gives only what the flush holds.
TEST(EncodeToMp3, ProgressShortDataAndEmptyData) {
  QUILLION_REQUIRE_TOOL("mpg123");
  TempDir dir;
  writeWav(dir.file("in.wav"), WavSpec{}, makeSignal(Signal::PinkNoise, 44100, 2, 0.5));
  Progress progress;
  testing::internal::CaptureStdout();
  EXPECT_EQ(encode_to_mp3(dir.file("in.wav").c_str(), dir.file("out.mp3").c_str(), 128000, 0,
                          nullptr, 0, onProgress, &progress),
            kEncodeSucceeded);
  (void)testing::internal::GetCapturedStdout();
  ASSERT_GE(progress.calls.size(), 2u);
  EXPECT_EQ(progress.calls.front(), 44);
  long sum = 0;
  for (int b : progress.calls) sum += b;
  EXPECT_EQ(sum, static_cast<long>(std::filesystem::file_size(dir.file("in.wav"))));

  std::vector<std::uint8_t> bytes = readFile(dir.file("in.wav"));
  bytes.resize(bytes.size() / 2 + 1);  // the data length now promises more than there is
  writeFile(dir.file("short.wav"), bytes);
  DriverRun run = runDriver(dir.file("short.wav"), dir.file("short.mp3"), 128000, 0);
  EXPECT_EQ(run.result, kEncodeSucceeded);
  EXPECT_EQ(runTool({"mpg123", "-q", "-t", dir.file("short.mp3").string()}).exitCode, 0);

  writeWav(dir.file("empty.wav"), WavSpec{}, {});
  run = runDriver(dir.file("empty.wav"), dir.file("empty.mp3"), 128000, 0);
  EXPECT_EQ(run.result, kEncodeSucceeded) << run.err;
  EXPECT_EQ(run.out, "Encoding successful\n");
  EXPECT_EQ(runTool({"mpg123", "-q", "-t", dir.file("empty.mp3").string()}).exitCode, 0);
}

// Speech from espeak-ng (22.05 kHz mono): kept at its rate at 48 kbit/s, where it must come
// back after the delay with a fair SNR, and converted to 44.1 kHz at 128 kbit/s.
TEST(EncodeToMp3, SpeechFromEspeak) {
  REQUIRE_CHECKERS();
  QUILLION_REQUIRE_TOOL("espeak-ng");
  TempDir dir;
  ASSERT_EQ(runTool({"espeak-ng", "-w", dir.file("speech.wav").string(),
                     "Seven quiet violins played softly, then the drums came in at once."})
                .exitCode,
            0);
  int rate = 0, channels = 0;
  std::vector<std::int16_t> input;
  ASSERT_TRUE(readWav16(dir.file("speech.wav"), &rate, &channels, &input));
  ASSERT_EQ(channels, 1);
  struct Case {
    int bitrate, outputRate;
    double bound;  // dB; 0: not compared (converted rate)
  };
  for (const Case& c : {Case{48000, 22050, 24.0}, Case{128000, 44100, 0.0}}) {
    SCOPED_TRACE(c.bitrate);
    const DriverRun run = runDriver(dir.file("speech.wav"), dir.file("speech.mp3"), c.bitrate, 0);
    ASSERT_EQ(run.result, kEncodeSucceeded) << run.err;
    expectValidStream(dir.file("speech.mp3"));
    EXPECT_EQ(probeValues(dir.file("speech.mp3"), {"sample_rate"}),
              std::vector<std::string>{std::to_string(c.outputRate)});
    if (c.bound == 0.0) continue;
    std::vector<float> decoded;
    ASSERT_EQ(
        decodeToFloatMpg123(dir.file("speech.mp3"), dir.file("speech.raw"), &decoded).exitCode, 0);
    const EncoderStreamInfo info = infoFor(rate, c.bitrate, 1, 0);
    const Alignment a = align(input, decoded, 1, 3000);
    EXPECT_EQ(a.delay, info.totalDelay + kDecoderDelay);
    EXPECT_GT(a.snr, c.bound);
  }
}

// Ancillary bytes from a file ride in the frames: the stream stays valid and carries them.
TEST(EncodeToMp3, CarriesAncillaryBytes) {
  REQUIRE_CHECKERS();
  TempDir dir;
  writeWav(dir.file("in.wav"), WavSpec{}, makeSignal(Signal::Sweep, 44100, 2, 1.0));
  std::vector<std::uint8_t> anc(300);
  for (std::size_t i = 0; i < anc.size(); ++i) anc[i] = static_cast<std::uint8_t>(0x31 + i * 7);
  writeFile(dir.file("anc.bin"), anc);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = encode_to_mp3(dir.file("in.wav").c_str(), dir.file("out.mp3").c_str(), 128000,
                                   9600, dir.file("anc.bin").c_str(), 0, nullptr, nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(result, kEncodeSucceeded) << err;
  EXPECT_EQ(out, "Encoding successful\n");
  expectValidStream(dir.file("out.mp3"));
  const std::vector<std::uint8_t> stream = readFile(dir.file("out.mp3"));
  // The first frame's share: 9600 bit/s x 1152 / 44100 = 250 bits, 31 bytes.
  EXPECT_NE(std::search(stream.begin(), stream.end(), anc.begin(), anc.begin() + 31), stream.end());
}

// Converted rates: a tone pair well inside the pass band comes back at the output rate, after
// the reported delay (converter and core, in output samples) and the decoder's.
TEST(EncodeToMp3, ConvertedRatesKeepTheSignalAndTheDelay) {
  QUILLION_REQUIRE_TOOL("mpg123");
  struct Case {
    int rate, bitrate, channels, rateMode, outputRate;
  };
  const Case cases[] = {
      {96000, 128000, 2, 0, 48000}, {96000, 128000, 1, 1, 44100}, {8000, 128000, 1, 0, 32000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " -> " + std::to_string(c.outputRate));
    const auto tone = [](double t, int ch) {
      return 0.3 * std::sin(2 * M_PI * 440.0 * t) +
             0.2 * std::sin(2 * M_PI * (1250.0 + 100.0 * ch) * t);
    };
    const int frames = c.rate * 2;
    std::vector<std::int16_t> input;
    for (int n = 0; n < frames; ++n) {
      for (int ch = 0; ch < c.channels; ++ch)
        input.push_back(static_cast<std::int16_t>(
            std::lround(32767.0 * tone(static_cast<double>(n) / c.rate, ch))));
    }
    TempDir dir;
    WavSpec spec;
    spec.rate = c.rate;
    spec.channels = c.channels;
    writeWav(dir.file("in.wav"), spec, input);
    ASSERT_EQ(runDriver(dir.file("in.wav"), dir.file("out.mp3"), c.bitrate, c.rateMode).result,
              kEncodeSucceeded);
    std::vector<float> decoded;
    ASSERT_EQ(decodeToFloatMpg123(dir.file("out.mp3"), dir.file("out.raw"), &decoded).exitCode, 0);
    const EncoderStreamInfo info = infoFor(c.rate, c.bitrate, c.channels, c.rateMode);
    ASSERT_EQ(info.outputRate, c.outputRate);
    const int delay = info.totalDelay + kDecoderDelay;
    // The expected output, away from the start and the end.
    double signal = 0, noise = 0;
    const int outFrames = frames / c.rate * c.outputRate;
    for (int k = c.outputRate / 4; k < outFrames - c.outputRate / 4; ++k) {
      for (int ch = 0; ch < c.channels; ++ch) {
        const std::size_t at = static_cast<std::size_t>((k + delay) * c.channels + ch);
        ASSERT_LT(at, decoded.size()) << "samples are missing";
        const double want = tone(static_cast<double>(k) / c.outputRate, ch);
        signal += want * want;
        noise += (decoded[at] - want) * (decoded[at] - want);
      }
    }
    EXPECT_GT(10 * std::log10(signal / noise), 30.0);
  }
}
