// SPDX-License-Identifier: GPL-2.0-or-later
// Whole encodes under the portable kernels and under the ones the processor supports: both
// streams decode cleanly in the independent decoders and their noise is the same to 0.1 dB.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "float_decoders.h"
#include "mp3enc/encode_sample.h"
#include "mp3enc/kernels.h"
#include "wav_fixtures.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

// Restores the processor's kernels whatever the test forced.
struct KernelOverride {
  explicit KernelOverride(bool portable) { forcePortableKernelsForTesting(portable); }
  ~KernelOverride() { forcePortableKernelsForTesting(false); }
  KernelOverride(const KernelOverride&) = delete;
  KernelOverride& operator=(const KernelOverride&) = delete;
};

struct EncodeResult {
  double snr = -1e9;
  int encodeStatus = kEncodeFailed;
  std::string checkers = "not run";  // what the decoders reported; empty when clean
};

EncodeResult encodeAndMeasure(const TempDir& dir, const char* name,
                              const std::vector<std::int16_t>& input, bool portable) {
  const KernelOverride kernels(portable);
  const std::filesystem::path wav = dir.path() / (std::string(name) + ".wav");
  const std::filesystem::path mp3 = dir.path() / (std::string(name) + ".mp3");
  writeWav(wav, WavSpec{}, input);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int rc = encode_to_mp3(wav.c_str(), mp3.c_str(), 128000, 0, nullptr, 0, nullptr, nullptr);
  (void)testing::internal::GetCapturedStdout();
  (void)testing::internal::GetCapturedStderr();
  EncodeResult result;
  result.encodeStatus = rc;
  if (rc != kEncodeSucceeded) return result;
  const ToolResult test = runTool({"mpg123", "-q", "-t", mp3.string()});
  const ToolResult ff = runTool(
      {"ffmpeg", "-v", "error", "-err_detect", "explode", "-i", mp3.string(), "-f", "null", "-"});
  result.checkers =
      std::to_string(test.exitCode) + test.output + std::to_string(ff.exitCode) + ff.output;
  std::vector<float> decoded;
  const ToolResult dec =
      decodeToFloatMpg123(mp3, dir.path() / (std::string(name) + ".raw"), &decoded);
  if (dec.exitCode != 0) return result;
  result.snr = align(input, decoded, 2, 4000).snr;
  return result;
}

class KernelDispatchEncode : public testing::TestWithParam<Signal> {};

TEST_P(KernelDispatchEncode, PortableAndVectorisedDecodeCleanlyWithEqualNoise) {
  QUILLION_REQUIRE_TOOL("mpg123");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::vector<std::int16_t> input = makeSignal(GetParam(), 44100, 2, 3.0);
  const EncodeResult portable = encodeAndMeasure(dir, "portable", input, true);
  const EncodeResult vectorised = encodeAndMeasure(dir, "vectorised", input, false);
  EXPECT_EQ(portable.encodeStatus, kEncodeSucceeded);
  EXPECT_EQ(vectorised.encodeStatus, kEncodeSucceeded);
  EXPECT_EQ(portable.checkers, "00");
  EXPECT_EQ(vectorised.checkers, "00");
  EXPECT_GT(portable.snr, 5.0);
  EXPECT_NEAR(vectorised.snr, portable.snr, 0.1);
}

INSTANTIATE_TEST_SUITE_P(KernelDispatch, KernelDispatchEncode,
                         testing::Values(Signal::Sweep, Signal::PinkNoise, Signal::Clicks),
                         [](const testing::TestParamInfo<Signal>& param) {
                           return signalIdentifier(param.param);
                         });

}  // namespace
