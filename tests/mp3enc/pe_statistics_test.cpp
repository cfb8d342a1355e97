// SPDX-License-Identifier: GPL-2.0-or-later
// The learned PE distribution: histogram bookkeeping, the Newton fit of lambda against a
// target mean, its limits, the window of granules it covers, and the quality table.
#include "mp3enc/pe_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <utility>
#include <vector>

using namespace quillion::mp3enc;

namespace {

double meanMapped(const PeStats& s, float lambda) {
  double f = 0;
  for (int i = 1; i < kPeBins; ++i) {
    f += s.longBins[i] * PeStatsMap(s, lambda, kPeBinWidth * i, false);
    if (s.tanhModel) f += s.shortBins[i] * PeStatsMap(s, lambda, kPeBinWidth * i, true);
  }
  return f / s.count;
}

}  // namespace

TEST(PeStatistics, GranulesSpreadOverTwoBinsAndLeaveWithoutTrace) {
  PeStats s;
  EXPECT_EQ(PeStatsInit(&s, 1000.0f, 0), 1);
  PeStatsAdd(&s, 1200.0f, 0);  // 2.4 bins: 0.6 to bin 2, 0.4 to bin 3
  EXPECT_FLOAT_EQ(s.longBins[2], 0.6f);
  EXPECT_FLOAT_EQ(s.longBins[3], 0.4f);
  PeStatsAdd(&s, 20000.0f, 2);  // capped at 9499, into the short histogram
  EXPECT_NEAR(s.shortBins[18], 0.002f, 1e-4f);
  EXPECT_NEAR(s.shortBins[19], 0.998f, 1e-4f);
  EXPECT_EQ(s.count, 2);
  PeStatsSub(&s, 20000.0f, 2);
  PeStatsSub(&s, 1200.0f, 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_NEAR(s.sum, 0.0f, 1e-3f);
  for (int i = 0; i < kPeBins; ++i) {
    EXPECT_NEAR(s.longBins[i], 0.0f, 1e-6f);
    EXPECT_NEAR(s.shortBins[i], 0.0f, 1e-6f);
  }
  // The logarithmic model keeps one histogram for every block kind.
  EXPECT_EQ(PeStatsInit(&s, 1000.0f, 1), 0);
  PeStatsAdd(&s, 1000.0f, 2);
  EXPECT_FLOAT_EQ(s.longBins[2], 1.0f);
}

TEST(PeStatistics, NewtonMeetsTheTargetAndLambdaGrowsWithIt) {
  for (int useLog : {0, 1}) {
    SCOPED_TRACE(useLog);
    PeStats s;
    PeStatsInit(&s, 1.0f, useLog);
    std::mt19937 random(11);
    std::gamma_distribution<float> pe(3.0f, 600.0f);
    for (int k = 0; k < 400; ++k) PeStatsAdd(&s, pe(random), k % 7 == 0 ? 2 : 0);
    float previous = 0.0f;
    for (float target : {500.0f, 900.0f, 1200.0f, 1500.0f}) {
      SCOPED_TRACE(target);
      const float lambda = PeStatsFitLambda(&s, target);
      EXPECT_EQ(lambda, s.lambda);
      EXPECT_NEAR(meanMapped(s, lambda), target, target / 1000.0 + 1e-3);
      EXPECT_GT(lambda, previous);
      previous = lambda;
      EXPECT_FLOAT_EQ(s.longTable[4], PeStatsMap(s, lambda, 2000.0f, false));
    }
  }
}

TEST(PeStatistics, UnreachableTargetsStopAtTheLargestLambdaAndEmptyStatsAreNotFitted) {
  PeStats s;
  PeStatsInit(&s, 700.0f, 0);
  EXPECT_EQ(PeStatsFitLambda(&s, 1000.0f), 700.0f);  // no granules
  PeStatsAdd(&s, 1000.0f, 0);
  // The map never exceeds the PE itself: a mean above the mean PE cannot be met.
  EXPECT_EQ(PeStatsFitLambda(&s, 5000.0f), kLargestLambda);
  // Only silent granules: the map is flat at zero.
  PeStatsInit(&s, 700.0f, 0);
  PeStatsAdd(&s, 0.0f, 0);
  EXPECT_EQ(PeStatsFitLambda(&s, 100.0f), kLargestLambda);
}

TEST(PeStatistics, QualityTableInterpolates) {
  EXPECT_FLOAT_EQ(tableLog(0).weight, 550.0f);
  EXPECT_EQ(tableLog(60).bitratePerChannel, 64000);
  EXPECT_FLOAT_EQ(tableLog(50).weight, 1025.0f);
  EXPECT_EQ(tableLog(50).bitratePerChannel, 60000);
  EXPECT_FLOAT_EQ(tableLog(100).weight, 3000.0f);  // the last segment goes on
  EXPECT_EQ(tableLog(100).bitratePerChannel, 96000);
  for (int q = 0; q < 100; q += 5) EXPECT_LT(tableLog(q).weight, tableLog(q + 5).weight);
}

// Granules entered through the window: before it is full, once it has come round and in
// between, the statistics are those built afresh from the last kPeWindowGranules granules
// (exactly where the order of additions is the same, within float rounding elsewhere).
TEST(PeStatistics, TheWindowHoldsTheStatisticsOfItsLastGranules) {
  for (int useLog : {0, 1}) {
    SCOPED_TRACE(useLog);
    std::mt19937 random(23);
    std::gamma_distribution<float> pe(2.0f, 900.0f);
    std::vector<std::pair<float, int>> entered;
    auto stats = std::make_unique<PeStats>();
    PeStatsInit(stats.get(), 1.0f, useLog);
    struct Checkpoint {
      int granules;
      bool exact;
    };
    int done = 0;
    for (const Checkpoint point :
         {Checkpoint{100, true}, Checkpoint{kPeWindowGranules, true},
          Checkpoint{kPeWindowGranules + 777, false}, Checkpoint{2 * kPeWindowGranules, true},
          Checkpoint{2 * kPeWindowGranules + 1500, false}}) {
      SCOPED_TRACE(point.granules);
      for (; done < point.granules; ++done) {
        // Some PEs beyond the histogram's top, some short granules.
        const float value = done % 97 == 0 ? 12000.0f : pe(random);
        const int blockType = done % 5 == 0 ? 2 : 0;
        entered.emplace_back(value, blockType);
        PeStatsEnter(stats.get(), value, blockType);
      }
      auto fresh = std::make_unique<PeStats>();
      PeStatsInit(fresh.get(), 1.0f, useLog);
      const int first = std::max(0, point.granules - kPeWindowGranules);
      for (int k = first; k < point.granules; ++k)
        PeStatsAdd(fresh.get(), entered[static_cast<std::size_t>(k)].first,
                   entered[static_cast<std::size_t>(k)].second);
      EXPECT_EQ(stats->count, point.granules - first);
      EXPECT_EQ(stats->count, fresh->count);
      EXPECT_EQ(stats->window.filled, std::min(point.granules, kPeWindowGranules));
      const float binTolerance = point.exact ? 0.0f : 2e-3f;
      for (int i = 0; i < kPeBins; ++i) {
        EXPECT_NEAR(stats->longBins[i], fresh->longBins[i], binTolerance) << "long bin " << i;
        EXPECT_NEAR(stats->shortBins[i], fresh->shortBins[i], binTolerance) << "short bin " << i;
      }
      EXPECT_NEAR(stats->sum, fresh->sum, point.exact ? 0.0f : 1e-5f * fresh->sum);
      // The fit, from the same start, sees the same distribution.
      const float target = 900.0f;
      stats->lambda = fresh->lambda = 1000.0f;
      const float fitted = PeStatsFitLambda(fresh.get(), target);
      EXPECT_NEAR(PeStatsFitLambda(stats.get(), target), fitted,
                  point.exact ? 0.0f : 1e-3f * fitted);
    }
  }
}
