// SPDX-License-Identifier: GPL-2.0-or-later
// The library's random numbers: uniform in [0, 1), every number the lagged sum of the two
// that lie 607 and 273 places before it, reproducible from a seed or a saved state.
#include "mp3enc/random_numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace quillion::mp3enc;

namespace {

std::vector<double> draw(const std::vector<int>& chunks) {
  std::vector<double> all;
  for (int n : chunks) {
    std::vector<double> part(static_cast<std::size_t>(n));
    zufall(n, part.data());
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

}  // namespace

TEST(RandomNumbers, UniformAndLaggedAcrossRefills) {
  zufalli(12345);
  // Odd chunk sizes cross the buffer's refills at different places.
  const std::vector<double> x = draw({1, 37, 606, 1000, 2500, 3});
  ASSERT_EQ(x.size(), 4147u);
  double sum = 0.0;
  int low = 0;
  for (double v : x) {
    ASSERT_GE(v, 0.0);
    ASSERT_LT(v, 1.0);
    sum += v;
    low += v < 0.5;
  }
  EXPECT_NEAR(sum / static_cast<double>(x.size()), 0.5, 0.02);
  EXPECT_NEAR(low, static_cast<int>(x.size()) / 2, 150);
  for (std::size_t k = 607; k < x.size(); ++k) {
    const double want = std::fmod(x[k - 607] + x[k - 273], 1.0);
    ASSERT_NEAR(x[k], want, 1e-12) << k;
  }
  // Seeds give different sequences.
  zufalli(54321);
  const std::vector<double> other = draw({50});
  int same = 0;
  for (std::size_t i = 0; i < other.size(); ++i) same += other[i] == x[i];
  EXPECT_LT(same, 3);
}

TEST(RandomNumbers, SeedZeroSavedStatesAndNothingAsked) {
  zufalli(777);
  const std::vector<double> first = draw({900});
  zufalli(0);  // the last seed again
  EXPECT_EQ(draw({900}), first);
  zufalli(1802);
  const std::vector<double> defaultSeed = draw({10});
  zufalli(777);
  zufalli(0);
  EXPECT_EQ(draw({900}), first);

  RandomState saved;
  zufallsv(&saved);
  const std::vector<double> next = draw({700, 5});
  zufallrs(&saved);
  EXPECT_EQ(draw({705}), next);

  double untouched = -1.0;
  zufall(0, &untouched);
  zufall(-3, &untouched);
  EXPECT_EQ(untouched, -1.0);
  EXPECT_NE(defaultSeed, std::vector<double>(first.begin(), first.begin() + 10));
}
