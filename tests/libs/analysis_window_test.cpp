// SPDX-License-Identifier: GPL-2.0-or-later
// The shared analysis window against the properties every correct copy of it has: a
// symmetric low-pass prototype under the block signs, a DC gain of 2, neighbouring bands
// that add up to a flat response, and a deep stop band. A mistyped coefficient breaks the
// symmetry; a mistyped pair moves the response.
#include "quillion_mpeg/analysis_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using quillion::mpeg::analysisWindow;
using quillion::mpeg::kAnalysisWindowLength;
using quillion::mpeg::kAnalysisWindowSteps;


// The prototype low-pass: the window with the sign of every other block of 64 undone.
double prototype(int n) {
  return (n / 64) % 2 == 0 ? analysisWindow(n) : -analysisWindow(n);
}

double response(double omega) {
  double sum = 0.0;
  for (int n = 0; n < kAnalysisWindowLength; ++n) sum += prototype(n) * std::cos(omega * (n - 256));
  return sum;
}

TEST(AnalysisWindow, IsASymmetricPrototypeUnderTheBlockSigns) {
  EXPECT_EQ(kAnalysisWindowSteps[0], 0);
  EXPECT_EQ(kAnalysisWindowSteps[256], 75038);  // the centre tap, largest of all
  for (int n = 1; n < 256; ++n) {
    EXPECT_EQ(prototype(n), prototype(512 - n)) << "taps " << n << " and " << 512 - n;
    EXPECT_LT(std::abs(kAnalysisWindowSteps[n]), 75038) << n;
  }
}

TEST(AnalysisWindow, PassesDcWithGainTwo) {
  EXPECT_NEAR(response(0.0), 2.0, 1e-4);
}

TEST(AnalysisWindow, NeighbouringBandsAddUpFlat) {
  // |H(w)|^2 + |H(pi/32 - w)|^2 over the transition between band 0 and its image.
  for (int step = 0; step <= 64; ++step) {
    const double w = step * (std::numbers::pi / 32) / 64;
    const double sum = response(w) * response(w) + response(std::numbers::pi / 32 - w) * response(std::numbers::pi / 32 - w);
    EXPECT_NEAR(sum, 4.0, 4.0 * 2e-4) << "at " << w;
  }
  EXPECT_NEAR(response(std::numbers::pi / 64), std::sqrt(2.0), 1e-3) << "3 dB down at the band edge";
}

TEST(AnalysisWindow, StopsEverythingFromTheNextBandOnBy95Db) {
  double worstDb = -1000.0;
  for (int step = 0; step <= 2000; ++step) {
    const double w = 2 * std::numbers::pi / 64 + step * (std::numbers::pi - 2 * std::numbers::pi / 64) / 2000;
    worstDb = std::max(worstDb, 20.0 * std::log10(std::abs(response(w)) / 2.0 + 1e-300));
  }
  EXPECT_LT(worstDb, -95.0);
}

}  // namespace
