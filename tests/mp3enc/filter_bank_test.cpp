// SPDX-License-Identifier: GPL-2.0-or-later
// The filter bank against the standard's formulas evaluated directly in double precision,
// and the whole analysis side against an independent decoder's synthesis.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "mp3enc/filter_bank.h"
#include "stream_builder.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Single-precision sums of 512 window products against the double reference.
constexpr double kRelativeBound = 1e-5;

struct Channel {
  PolyPhasePtr poly;
  std::vector<float> transform = std::vector<float>(kTransformFloats, 0.0f);
  Channel() {
    PolyPhaseState* s = nullptr;
    EXPECT_EQ(PolyPhaseNew(&s), 0);
    poly.reset(s);
    EXPECT_EQ(PolyPhaseInit(s), 0);
    InitTransform(transform.data());
  }
};

}  // namespace

TEST(FilterBank, PolyphaseMatchesTheStandardsFormula) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> sample(-32768.0f, 32767.0f);
  Channel ch;
  std::vector<double> history(512, 0.0);  // X[0] the newest sample
  const double(&c)[512] = anaWindowTable();
  double maxError = 0, peak = 0;
  for (int granule = 0; granule < 6; ++granule) {
    std::vector<float> input(1152);
    for (float& v : input) v = sample(rng);
    ShiftTransformBuffer(ch.transform.data());
    PolyAnalyse(ch.poly.get(), input.data(), ch.transform.data());
    for (int slot = 0; slot < 18; ++slot) {
      for (int i = 511; i >= 32; --i) history[static_cast<std::size_t>(i)] = history[static_cast<std::size_t>(i - 32)];
      for (int i = 0; i < 32; ++i) history[static_cast<std::size_t>(i)] = input[static_cast<std::size_t>(2 * (32 * slot + 31 - i))];
      double y[64];
      for (int k = 0; k < 64; ++k) {
        y[k] = 0;
        for (int j = 0; j < 8; ++j) y[k] += c[k + 64 * j] * history[static_cast<std::size_t>(k + 64 * j)];
      }
      for (int sb = 0; sb < 32; ++sb) {
        double s = 0;
        for (int k = 0; k < 64; ++k) s += std::cos((2 * sb + 1) * (k - 16) * kPi / 64) * y[k];
        if ((sb & 1) && (slot & 1)) s = -s;
        maxError = std::max(maxError, std::abs(s - ch.transform[static_cast<std::size_t>(36 * sb + 18 + slot)]));
        peak = std::max(peak, std::abs(s));
      }
    }
  }
  EXPECT_GT(peak, 1000.0);
  EXPECT_LT(maxError, kRelativeBound * peak);
}

TEST(FilterBank, MdctMatchesTheStandardsFormulaWithItsScale) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  std::vector<float> transform(kTransformFloats);
  for (float& v : transform) v = value(rng);
  for (int blockType : {0, 1, 3}) {
    SCOPED_TRACE("block type " + std::to_string(blockType));
    std::vector<float> spectrum(576);
    MdctTransform_LONG(transform.data(), spectrum.data(), blockType);
    const float* w = mdctWindow(blockType);
    double maxError = 0, peak = 0;
    for (int sb = 0; sb < 32; ++sb) {
      for (int k = 0; k < 18; ++k) {
        double x = 0;
        for (int i = 0; i < 36; ++i) x += transform[static_cast<std::size_t>(36 * sb + i)] * w[i] * std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1));
        maxError = std::max(maxError, std::abs(x / 9 - spectrum[static_cast<std::size_t>(18 * sb + k)]));
        peak = std::max(peak, std::abs(x / 9));
      }
    }
    EXPECT_LT(maxError, kRelativeBound * peak);
  }
  for (int window = 0; window < 3; ++window) {
    std::vector<float> spectrum(kShortWindowLines);
    MdctTransform_SHORT(transform.data(), spectrum.data(), window);
    double maxError = 0, peak = 0;
    for (int sb = 0; sb < 32; ++sb) {
      for (int k = 0; k < 6; ++k) {
        double x = 0;
        for (int i = 0; i < 12; ++i) {
          x += transform[static_cast<std::size_t>(36 * sb + 6 + 6 * window + i)] * std::sin(kPi / 12 * (i + 0.5)) *
               std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1));
        }
        maxError = std::max(maxError, std::abs(x / 3 - spectrum[static_cast<std::size_t>(6 * sb + k)]));
        peak = std::max(peak, std::abs(x / 3));
      }
    }
    EXPECT_LT(maxError, kRelativeBound * peak) << "window " << window;
  }
  std::vector<float> untouched(576, 7.0f);
  MdctTransform_LONG(transform.data(), untouched.data(), 2);
  EXPECT_EQ(untouched, std::vector<float>(576, 7.0f)) << "the long transform refuses block type 2";
}

TEST(FilterBank, SilenceGivesASilentSpectrum) {
  Channel ch;
  const std::vector<float> input(1152, 0.0f);
  std::vector<float> spectrum(576, 1.0f);
  PolyAnalyse(ch.poly.get(), input.data(), ch.transform.data());
  MdctTransform_LONG(ch.transform.data(), spectrum.data(), 0);
  AliasReduction(spectrum.data());
  EXPECT_EQ(spectrum, std::vector<float>(576, 0.0f));
}

// Our analysis, finely quantised and written as a stream, then the independent decoder's
// synthesis: together they must give the input back, delayed, close to the quantisation's
// own error. A wrong window, sign or alias butterfly shows up as tens of dB lost.
TEST(FilterBank, AnalysisThenIndependentSynthesisGivesTheInputBack) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const int granules = 40;
  std::vector<float> input(static_cast<std::size_t>(2 * 576 * granules), 0.0f);  // channel 0 of two interleaved
  for (std::size_t n = 0; n < input.size() / 2; ++n) {
    const double t = static_cast<double>(n) / 44100.0;
    input[2 * n] = static_cast<float>(12000 * std::sin(2 * kPi * 440 * t) + 4000 * std::sin(2 * kPi * 3100 * t));
  }
  Channel ch;
  std::vector<GranuleChannel> coded;
  std::vector<RefGranule> reference;
  for (int g = 0; g < granules; ++g) {
    ShiftTransformBuffer(ch.transform.data());
    PolyAnalyse(ch.poly.get(), input.data() + 1152 * g, ch.transform.data());
    std::vector<float> spectrum(576);
    MdctTransform_LONG(ch.transform.data(), spectrum.data(), 0);
    AliasReduction(spectrum.data());
    const int gain = 160;  // step 2^-12.5 on the decoder's +-1 scale
    const double step = std::pow(2.0, (gain - 210) / 4.0);
    std::vector<std::int32_t> lines(576);
    for (int i = 0; i < 576; ++i) {
      const double x = spectrum[static_cast<std::size_t>(i)] / 32768.0;
      const int q = static_cast<int>(std::lround(std::pow(std::abs(x) / step, 0.75)));
      lines[static_cast<std::size_t>(i)] = x < 0 ? -q : q;
    }
    coded.push_back(codedGranule(lines, gain, 0, 0));
    reference.push_back({lines, gain, 0});
  }
  TempDir dir;
  const DecodeCheck check = decodeAndCompare(coded, reference, 44100, 320000, dir);
  ASSERT_EQ(check.tool.exitCode, 0) << check.tool.output;
  std::vector<float> decoded;
  ASSERT_EQ(decodeToFloat(dir.file("check.mp3"), dir.file("again.raw"), &decoded).exitCode, 0);
  // Find the delay of analysis plus synthesis, then measure the error after it.
  const std::size_t from = 4 * 576, to = static_cast<std::size_t>(granules - 4) * 576;
  double bestSnr = -1e9;
  int bestDelay = -1;
  for (int delay = 0; delay < 1700; ++delay) {
    double signal = 0, noise = 0;
    for (std::size_t n = from; n < to; ++n) {
      const double want = input[2 * (n - static_cast<std::size_t>(delay))] / 32768.0;
      signal += want * want;
      noise += (decoded[n] - want) * (decoded[n] - want);
    }
    const double snr = 10 * std::log10(signal / std::max(noise, 1e-30));
    if (snr > bestSnr) {
      bestSnr = snr;
      bestDelay = delay;
    }
  }
  EXPECT_GE(bestDelay, 0) << "delay " << bestDelay << ", SNR " << bestSnr;
  // The quantisation step alone allows about 52 dB here; a wrong window coefficient, sign or
  // butterfly costs far more than the margin.
  EXPECT_GT(bestSnr, 45.0);
}
