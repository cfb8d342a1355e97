// SPDX-License-Identifier: GPL-2.0-or-later
// The filter bank against the standard's formulas evaluated directly in double precision,
// and the whole analysis side against an independent decoder's synthesis.
#include "mp3enc/filter_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/stream_tables.h"
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

// The building blocks of the transforms, each against its formula in double precision.
TEST(FilterBank, SmallTransformsMatchTheirFormulas) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  for (int points : {3, 9}) {
    SCOPED_TRACE(std::to_string(points) + "-point DFT");
    std::vector<float> data(static_cast<std::size_t>(2 * points));
    for (float& v : data) v = value(rng);
    const std::vector<float> in = data;
    (points == 3 ? cfft_3 : cfft_9)(data.data());
    double maxError = 0, peak = 0;
    for (int k = 0; k < points; ++k) {
      double re = 0, im = 0;
      for (int n = 0; n < points; ++n) {
        const double angle = -2 * kPi * n * k / points;
        re += in[static_cast<std::size_t>(2 * n)] * std::cos(angle) -
              in[static_cast<std::size_t>(2 * n + 1)] * std::sin(angle);
        im += in[static_cast<std::size_t>(2 * n)] * std::sin(angle) +
              in[static_cast<std::size_t>(2 * n + 1)] * std::cos(angle);
      }
      maxError = std::max({maxError, std::abs(re - data[static_cast<std::size_t>(2 * k)]),
                           std::abs(im - data[static_cast<std::size_t>(2 * k + 1)])});
      peak = std::max({peak, std::abs(re), std::abs(im)});
    }
    EXPECT_LT(maxError, kRelativeBound * peak);
  }
  float x[32];
  for (float& v : x) v = value(rng);
  const std::vector<float> in(x, x + 32);
  fct_iii(x);
  double maxError = 0, peak = 0;
  for (int i = 0; i < 32; ++i) {
    double sum = 0;
    for (int n = 0; n < 32; ++n)
      sum += in[static_cast<std::size_t>(n)] * std::cos((2 * i + 1) * n * kPi / 64);
    maxError = std::max(maxError, std::abs(sum - x[i]));
    peak = std::max(peak, std::abs(sum));
  }
  EXPECT_LT(maxError, kRelativeBound * peak) << "32-point DCT-III";
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

namespace {

std::int32_t quantise(float value, int gain) {
  const double step = std::pow(2.0, (gain - 210) / 4.0);
  const double x = value / 32768.0;
  const int q = static_cast<int>(std::lround(std::pow(std::abs(x) / step, 0.75)));
  return x < 0 ? -q : q;
}

struct RoundTrip {
  ToolResult tool;
  int bestDelay = -1;
  double bestSnr = -1e9;
};

// Our analysis of channel 0 of the interleaved input at 44.1 kHz, granule by granule with
// the given block types, finely quantised (short blocks in stream order: band by band,
// window by window), written as a stream and decoded by ffmpeg; then the delay of analysis
// plus synthesis that fits best, and the signal-to-noise ratio after it.
RoundTrip analyseAndDecode(const std::vector<float>& input, const std::vector<int>& blockTypes) {
  const int gain = 160;  // step 2^-12.5 on the decoder's +-1 scale
  const int granules = static_cast<int>(blockTypes.size());
  const std::int16_t* shortBounds = kShortBandBounds[0];
  Channel ch;
  std::vector<RefGranule> reference;
  for (int g = 0; g < granules; ++g) {
    ShiftTransformBuffer(ch.transform.data());
    PolyAnalyse(ch.poly.get(), input.data() + 1152 * g, ch.transform.data());
    RefGranule ref;
    ref.globalGain = gain;
    ref.blockType = blockTypes[static_cast<std::size_t>(g)];
    if (ref.blockType == 2) {
      std::vector<float> windows(3 * kShortWindowLines);
      for (int w = 0; w < 3; ++w)
        MdctTransform_SHORT(ch.transform.data(), windows.data() + w * kShortWindowLines, w);
      std::size_t index = 0;
      for (int band = 0; band < 13; ++band) {
        for (int w = 0; w < 3; ++w) {
          for (int k = shortBounds[band]; k < shortBounds[band + 1]; ++k) {
            ref.lines[index++] =
                quantise(windows[static_cast<std::size_t>(w * kShortWindowLines + k)], gain);
          }
        }
      }
    } else {
      std::vector<float> spectrum(576);
      MdctTransform_LONG(ch.transform.data(), spectrum.data(), ref.blockType);
      AliasReduction(spectrum.data());
      for (std::size_t i = 0; i < 576; ++i) ref.lines[i] = quantise(spectrum[i], gain);
    }
    reference.push_back(ref);
  }
  TempDir dir;
  RoundTrip result;
  const DecodeCheck check = decodeAndCompare(reference, 44100, 320000, dir);
  result.tool = check.tool;
  std::vector<float> decoded;
  if (decodeToFloat(dir.file("check.mp3"), dir.file("again.raw"), &decoded).exitCode != 0)
    return result;
  const std::size_t from = 4 * 576, to = static_cast<std::size_t>(granules - 4) * 576;
  for (int delay = 0; delay < 1700; ++delay) {
    double signal = 0, noise = 0;
    for (std::size_t n = from; n < to; ++n) {
      const double want = input[2 * (n - static_cast<std::size_t>(delay))] / 32768.0;
      signal += want * want;
      noise += (decoded[n] - want) * (decoded[n] - want);
    }
    const double snr = 10 * std::log10(signal / std::max(noise, 1e-30));
    if (snr > result.bestSnr) {
      result.bestSnr = snr;
      result.bestDelay = delay;
    }
  }
  return result;
}

std::vector<float> twoTones(int granules) {
  std::vector<float> input(static_cast<std::size_t>(2 * 576 * granules),
                           0.0f);  // channel 0 of two interleaved
  for (std::size_t n = 0; n < input.size() / 2; ++n) {
    const double t = static_cast<double>(n) / 44100.0;
    input[2 * n] = static_cast<float>(12000 * std::sin(2 * kPi * 440 * t) +
                                      4000 * std::sin(2 * kPi * 3100 * t));
  }
  return input;
}

}  // namespace

// Our analysis, finely quantised and written as a stream, then the independent decoder's
// synthesis: together they must give the input back, delayed, close to the quantisation's
// own error. A wrong window, sign or alias butterfly shows up as tens of dB lost.
TEST(FilterBank, AnalysisThenIndependentSynthesisGivesTheInputBack) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const RoundTrip r = analyseAndDecode(twoTones(40), std::vector<int>(40, 0));
  ASSERT_EQ(r.tool.exitCode, 0) << r.tool.output;
  EXPECT_GE(r.bestDelay, 0) << "delay " << r.bestDelay << ", SNR " << r.bestSnr;
  // The quantisation step alone allows about 52 dB here; a wrong window coefficient, sign or
  // butterfly costs far more than the margin.
  EXPECT_GT(r.bestSnr, 45.0);
}

// The same through short blocks and the start and stop windows around them: the short
// transforms' place in the transform buffer and the windows of the switch must still give
// the input back, with the delay of long blocks.
TEST(FilterBank, SwitchedAnalysisThenIndependentSynthesisGivesTheInputBack) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const RoundTrip longOnly = analyseAndDecode(twoTones(40), std::vector<int>(40, 0));
  const std::vector<std::vector<int>> sequences = {
      {0, 0, 0, 1, 2, 2, 2, 3, 0, 1, 2, 3, 0, 0, 1, 2, 2, 3, 1, 2, 3, 0, 0, 0, 1, 2, 3, 0, 0, 0},
      std::vector<int>(30, 2),
  };
  for (const std::vector<int>& types : sequences) {
    SCOPED_TRACE(types[0] == 2 ? "short blocks only" : "switching between long and short blocks");
    const RoundTrip r = analyseAndDecode(twoTones(static_cast<int>(types.size())), types);
    ASSERT_EQ(r.tool.exitCode, 0) << r.tool.output;
    EXPECT_EQ(r.bestDelay, longOnly.bestDelay) << "SNR " << r.bestSnr;
    EXPECT_GT(r.bestSnr, 45.0);
  }
}
