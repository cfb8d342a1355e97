// SPDX-License-Identifier: GPL-2.0-or-later
// Ferrule's analysis filter bank against a direct double-precision evaluation of the
// standard's procedure: shift in 32 samples, window by C, 64 partial sums, matrixing with
// cos((2i + 1)(k - 16) pi / 64).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <functional>
#include <random>

#include "filterbank.h"
#include "quillion_mpeg/analysis_window.h"

namespace {

using quillion::ferrule::AnalysisFilter;
using quillion::ferrule::FilterTables;


class DirectAnalysis {
 public:
  // `samples`: 32 new samples, oldest first.
  std::array<double, 32> step(const float* samples) {
    for (int i = 511; i >= 32; --i) x_[i] = x_[i - 32];
    for (int i = 31; i >= 0; --i) x_[i] = samples[31 - i];
    std::array<double, 64> y{};
    for (int i = 0; i < 64; ++i)
      for (int j = 0; j < 8; ++j)
        y[i] += quillion::mpeg::analysisWindow(i + 64 * j) * x_[i + 64 * j];
    std::array<double, 32> s{};
    for (int i = 0; i < 32; ++i)
      for (int k = 0; k < 64; ++k) s[i] += std::cos((2 * i + 1) * (k - 16) * std::numbers::pi / 64) * y[k];
    return s;
  }

 private:
  std::array<double, 512> x_{};
};

// Full-scale input gives subband samples of about +-1; single-precision windowing and
// transform stay within this of the exact values.
constexpr double kBound = 5e-7;

TEST(FerruleFilterBank, MatchesTheStandardsAnalysisWithinSinglePrecision) {
  struct Input {
    const char* name;
    std::function<float(int)> sample;
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  const Input inputs[] = {
      {"white noise", [&](int) { return uniform(rng); }},
      {"full-scale tone in band 5",
       [](int n) { return static_cast<float>(0.999 * std::sin(std::numbers::pi * 5.5 / 32 * n)); }},
      {"impulses", [](int n) { return n % 700 == 3 ? 1.0f : 0.0f; }},
  };
  FilterTables tables;
  tables.prepare();
  for (const Input& input : inputs) {
    SCOPED_TRACE(input.name);
    AnalysisFilter filter;
    filter.reset();
    DirectAnalysis direct;
    double worst = 0.0;
    double peak = 0.0;
    for (int block = 0; block < 120; ++block) {
      float samples[32];
      for (int j = 0; j < 32; ++j) samples[j] = input.sample(32 * block + j);
      float out[32];
      filter.filter(tables, samples, out);
      const auto expected = direct.step(samples);
      for (int sb = 0; sb < 32; ++sb) {
        worst = std::max(worst, std::abs(out[sb] - expected[sb]));
        peak = std::max(peak, std::abs(expected[sb]));
      }
    }
    EXPECT_GT(peak, 0.03) << "the input reached the subbands";
    RecordProperty(std::string(input.name) + " worst", std::to_string(worst));
    std::printf("%s: worst %.3g of peak %.3g\n", input.name, worst, peak);
    EXPECT_LT(worst, kBound);
  }
}

// A tone in the middle of one band: the standard's window keeps every band past the two
// neighbours at least 90 dB down; a coarser window leaks into them.
TEST(FerruleFilterBank, KeepsAToneInItsOwnBand) {
  FilterTables tables;
  tables.prepare();
  for (int band : {0, 7, 20, 31}) {
    SCOPED_TRACE("band " + std::to_string(band));
    AnalysisFilter filter;
    filter.reset();
    std::array<double, 32> energy{};
    for (int block = 0; block < 200; ++block) {
      float samples[32];
      for (int j = 0; j < 32; ++j)
        samples[j] = static_cast<float>(0.9 * std::cos(std::numbers::pi * (band + 0.5) / 32 * (32 * block + j)));
      float out[32];
      filter.filter(tables, samples, out);
      if (block < 16) continue;  // the window is still filling
      for (int sb = 0; sb < 32; ++sb) energy[sb] += out[sb] * out[sb];
    }
    for (int sb = 0; sb < 32; ++sb) {
      if (std::abs(sb - band) <= 1) continue;
      EXPECT_LT(10.0 * std::log10(energy[sb] / energy[band]), -90.0) << "band " << sb;
    }
  }
}

}  // namespace
