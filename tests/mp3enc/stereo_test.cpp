// SPDX-License-Identifier: GPL-2.0-or-later
// The stereo tools on constructed bands: intensity tables and positions, their limits from
// granule to granule and across block kinds, the merge of two channels, the mid/side decision
// with its hysteresis and overflow-free products, stereo pre-processing and the channel
// element.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp3enc/channel_element.h"
#include "mp3enc/psy_model.h"
#include "mp3enc/psy_out.h"
#include "mp3enc/stereo_processing.h"

using namespace quillion::mp3enc;

namespace {

// One window of 22 bands of 4 lines each, filled per band from two gains of a shared
// random signal plus an independent part.
struct Bands {
  static constexpr int kBands = 22;
  int offsets[kBands + 1] = {};
  std::vector<float> left = std::vector<float>(4 * kBands, 0.0f);
  std::vector<float> right = std::vector<float>(4 * kBands, 0.0f);
  float energyL[kBands] = {}, energyR[kBands] = {};
  float thrL[kBands] = {}, thrR[kBands] = {};
  Bands() {
    for (int b = 0; b <= kBands; ++b) offsets[b] = 4 * b;
  }
  void fill(float gainL, float gainR, float independent, float thresholdRatio, unsigned seed,
            float rightScale = 1.0f) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 100.0f);
    for (std::size_t i = 0; i < left.size(); ++i) {
      const float shared = noise(random);
      left[i] = gainL * shared + independent * noise(random);
      right[i] = rightScale * (gainR * shared + independent * noise(random));
    }
    for (int b = 0; b < kBands; ++b) {
      energyL[b] = energyR[b] = 0.0f;
      for (int i = offsets[b]; i < offsets[b + 1]; ++i) {
        energyL[b] += left[static_cast<std::size_t>(i)] * left[static_cast<std::size_t>(i)];
        energyR[b] += right[static_cast<std::size_t>(i)] * right[static_cast<std::size_t>(i)];
      }
      thrL[b] = std::max(energyL[b] * thresholdRatio, 1e-3f);
      thrR[b] = std::max(energyR[b] * thresholdRatio, 1e-3f);
    }
  }
};

struct Positions {
  int positions[kMaxSfbEntries] = {};
  float kR[kMaxSfbEntries] = {}, kL[kMaxSfbEntries] = {}, cross[kMaxSfbEntries] = {};
  IsBandResult result() { return IsBandResult{positions, kR, kL, cross}; }
};

int calc(int rateClass, Bands& b, const int* previous, Positions& p, int end = 22) {
  return CalcIntensityPositions(rateClass, b.left.data(), b.right.data(), b.energyL, b.energyR,
                                b.thrL, b.thrR, b.offsets, kIsFirstBand, end, false, kIsErrorFactor,
                                previous, p.result());
}

}  // namespace

TEST(IntensityTables, EveryPositionKeepsThePowerAndTheLowRatesShareOneRow) {
  for (int c = 0; c < kIsClasses; ++c) {
    const int count = c == 0 ? 7 : kIsPositions;
    for (int k = 0; k < count; ++k) {
      const float l = attTab[c][k], r = attTab[c][kIsPositions + k];
      EXPECT_NEAR(l * l + r * r, 1.0f, 1e-4f) << c << " " << k;
    }
  }
  EXPECT_FLOAT_EQ(attTab[0][0], 0.0f);
  EXPECT_FLOAT_EQ(attTab[0][kIsPositions + 0], 1.0f);
  EXPECT_FLOAT_EQ(attTab[0][6], 1.0f);
  EXPECT_NEAR(attTab[0][2], 0.5f, 1e-6f);
  EXPECT_EQ(attTab[0][7], 0.0f);
  EXPECT_EQ(attTab[1], attTab[2]);
  // Position 2n - 1 attenuates the left channel by 2^(-n/2) against the right, 2n the right.
  for (int n = 1; n <= 15; ++n) {
    const float ratio = attTab[1][2 * n - 1] / attTab[1][kIsPositions + 2 * n - 1];
    EXPECT_NEAR(ratio, std::pow(2.0f, -0.5f * n), 1e-5f);
    EXPECT_EQ(attTab[1][2 * n], attTab[1][kIsPositions + 2 * n - 1]);
  }
  EXPECT_EQ(transTable[0][0][1], 2);
  EXPECT_EQ(transTable[2][10][0], 18);
}

// Silent bands take the centre of their rate class, reached at most one step per granule
// for MPEG-1 and four signed steps for the lower rates.
TEST(IntensityPositions, SilentBandsTakeTheNeutralPositionStepByStep) {
  struct Case {
    int rateClass;
    int start;
    std::vector<int> expected;  // one entry per granule
  };
  const Case cases[] = {
      {0, 3, {3, 3}},          {0, 6, {5, 4, 3, 3}},    {0, 0, {1, 2, 3}},
      {1, 0, {0, 0}},          {1, 30, {22, 14, 6, 0}},  // signed 15 -> 11 -> 7 -> 3 -> 0
      {2, 29, {21, 13, 5, 0}},                           // signed -15 -> -11 -> -7 -> -3 -> 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rateClass << " from " << c.start);
    Bands b;
    b.fill(0.0f, 0.0f, 0.0f, 1.0f, 1);
    int previous[kMaxSfbEntries];
    for (int& p : previous) p = c.start;
    for (int expected : c.expected) {
      Positions p;
      calc(c.rateClass, b, previous, p);
      for (int band = kIsFirstBand; band < 22; ++band) ASSERT_EQ(p.positions[band], expected);
      std::copy(std::begin(p.positions), std::end(p.positions), previous);
    }
  }
}

TEST(IntensityPositions, AnMpeg1PositionMovesOneStepPerGranuleTowardsTheSource) {
  Bands b;
  b.fill(1.0f, 0.0f, 0.0f, 1.0f, 2);  // left only
  int previous[kMaxSfbEntries];
  for (int& p : previous) p = 3;
  for (int expected : {4, 5, 6, 6}) {
    Positions p;
    calc(0, b, previous, p);
    for (int band = kIsFirstBand; band < 22; ++band) {
      ASSERT_EQ(p.positions[band], expected);
      EXPECT_LE(std::abs(p.positions[band] - previous[band]), 1);
    }
    std::copy(std::begin(p.positions), std::end(p.positions), previous);
  }
  // A trace of the right channel keeps the position off the edge.
  b.fill(1.0f, 0.02f, 0.0f, 1.0f, 2);
  Positions p;
  calc(0, b, previous, p);
  for (int band = kIsFirstBand; band < 21; ++band) EXPECT_EQ(p.positions[band], 5);
}

TEST(IntensityPositions, IdenticalChannelsMergeWhereTheErrorIsMaskedAndNowhereElse) {
  Bands b;
  b.fill(1.0f, 1.0f, 0.0f, 0.01f, 3);
  int previous[kMaxSfbEntries];
  for (int& p : previous) p = 3;
  Positions p;
  EXPECT_EQ(calc(0, b, previous, p), kIsFirstBand);
  for (int band = kIsFirstBand; band < 22; ++band) {
    EXPECT_EQ(p.positions[band], 3);
    EXPECT_NEAR(p.kL[band], 0.70710677f, 1e-6f);
    EXPECT_NEAR(p.cross[band], b.energyL[band], 1e-3f * b.energyL[band]);
  }
  // Independent channels with tight thresholds: no band may be merged.
  b.fill(0.0f, 0.0f, 1.0f, 1e-6f, 4);
  Positions q;
  EXPECT_EQ(calc(0, b, previous, q), 22);
  // The top band repeats the position of the band below.
  EXPECT_EQ(q.positions[21], q.positions[20]);
  // An end band below the first band's neighbour leaves the start at the end.
  EXPECT_EQ(calc(0, b, previous, q, kIsFirstBand), kIsFirstBand);
}

TEST(IntensityPositions, BlockKindChangesMapBandsBothWays) {
  int positions[kMaxSfbEntries] = {};
  for (int b = 0; b < 22; ++b) positions[b] = b < 11 ? 2 : 5;
  AdaptIntensityPositions(0, kBlockLong, kBlockShort, positions);
  // Short band 5 covers long bands 11..12 (both 5), band 4 long bands 9..11: (2 + 2 + 5) / 3.
  EXPECT_EQ(positions[3 * 0], 2);
  EXPECT_EQ(positions[3 * 4], 3);
  EXPECT_EQ(positions[3 * 5], 5);
  EXPECT_EQ(positions[3 * 12], 5);
  // Back to long from window 2; long band 5 is shared by short bands 1 and 2: their mean.
  for (int j = 0; j < 13; ++j) positions[3 * j + 2] = j < 2 ? 1 : 4;
  AdaptIntensityPositions(0, kBlockShort, kBlockLong, positions);
  EXPECT_EQ(positions[0], 1);
  EXPECT_EQ(positions[4], 1);
  EXPECT_EQ(positions[5], (1 + 4) / 2);
  EXPECT_EQ(positions[21], 4);
  // The lower rates average signed steps: 2 (+1) and 1 (-1) cancel to 0.
  int low[kMaxSfbEntries] = {};
  low[0] = 2;
  low[1] = 1;
  AdaptIntensityPositions(1, kBlockStart, kBlockShort, low);
  EXPECT_EQ(low[0], 0);
  // The same kind changes nothing.
  int same[kMaxSfbEntries] = {7, 7, 7};
  AdaptIntensityPositions(0, kBlockStart, kBlockStop, same);
  EXPECT_EQ(same[0], 7);
}

TEST(IntensityStereo, MergingKeepsTheProjectionAndClearsTheRightChannel) {
  Bands b;
  b.fill(1.0f, 1.0f, 0.0f, 0.01f, 5);
  int previous[kMaxSfbEntries];
  for (int& p : previous) p = 3;
  Positions p;
  int start[3] = {calc(0, b, previous, p), 22, 22};
  const std::vector<float> before = b.left;
  const float energyBefore = b.energyL[10], ratio = b.energyL[10] / b.thrL[10];
  StereoBands s{b.energyL, b.energyR, b.left.data(), b.right.data(), b.thrL, b.thrR, b.offsets, 1};
  IsStereoProcessing(0, s, p.kR, p.kL, p.cross, start, 22);
  for (int i = 4 * kIsFirstBand; i < 88; ++i) {
    const auto at = static_cast<std::size_t>(i);
    // A decoder gives back M tan / (1 + tan) = M / 2 at the centre: the left line.
    EXPECT_NEAR(b.left[at] / 2.0f, before[at], 1e-3f * std::fabs(before[at]) + 1e-3f);
    EXPECT_EQ(b.right[at], 0.0f);
  }
  for (int i = 0; i < 4 * kIsFirstBand; ++i)
    EXPECT_EQ(b.left[static_cast<std::size_t>(i)], before[static_cast<std::size_t>(i)]);
  EXPECT_NEAR(b.energyL[10], 4.0f * energyBefore, 1e-3f * energyBefore);
  EXPECT_EQ(b.energyR[10], 0.0f);
  EXPECT_NEAR(b.energyL[10] / b.thrL[10], ratio, 1e-3f * ratio);
}

// Mid/side decisions and their application to lines, energies and thresholds.
TEST(MidSideStereo, IdenticalChannelsChooseMidSideIndependentOnesDoNot) {
  Bands b;
  b.fill(1.0f, 1.0f, 0.0f, 0.01f, 6);
  float mid[22], side[22];
  CalcBandEnergyMS(b.left.data(), b.right.data(), b.offsets, 22, mid, side);
  EXPECT_NEAR(mid[3], 2.0f * b.energyL[3], 1e-3f * b.energyL[3]);
  EXPECT_EQ(side[3], 0.0f);
  const std::vector<float> left = b.left;
  const float thr = b.thrL[4];
  int previous = 0;
  const int start[3] = {22, 22, 22};
  StereoBands s{b.energyL, b.energyR, b.left.data(), b.right.data(), b.thrL, b.thrR, b.offsets, 1};
  EXPECT_EQ(MsStereoProcessing(s, mid, side, &previous, 0, start, 22), 1);
  EXPECT_EQ(previous, 1);
  EXPECT_NEAR(b.left[17], left[17] * std::sqrt(2.0f), 1e-3f);
  EXPECT_EQ(b.right[17], 0.0f);
  EXPECT_EQ(b.energyL[4], mid[4]);
  EXPECT_FLOAT_EQ(b.thrL[4], 1.5f * thr);
  EXPECT_FLOAT_EQ(b.thrR[4], 1.5f * thr);

  // Independent channels far apart in level: the quiet one's thresholds make mid/side dear.
  b.fill(0.0f, 0.0f, 1.0f, 0.01f, 7, 0.05f);
  CalcBandEnergyMS(b.left.data(), b.right.data(), b.offsets, 22, mid, side);
  previous = 0;
  const std::vector<float> untouched = b.left;
  EXPECT_EQ(MsStereoProcessing(s, mid, side, &previous, 0, start, 22), 0);
  EXPECT_EQ(b.left, untouched);
}

TEST(MidSideStereo, HysteresisKeepsTheLastChoiceAndTheSecondGranuleFollowsTheFirst) {
  // One band: log2 P_LR = 2 log2 100; the mid/side ratio chosen so that log2 P_MS lies
  // between 0.94 and 1.14 times that.
  const int offsets[2] = {0, 1};
  float left[1] = {0}, right[1] = {0};
  const int start[3] = {1, 1, 1};
  auto decide = [&](int* previous, int granule, float midLog2) {
    float eL[1] = {100.0f}, eR[1] = {100.0f}, tL[1] = {1.0f}, tR[1] = {1.0f};
    const float m = 1.5f;
    float mid[1] = {std::pow(2.0f, midLog2) * m}, side[1] = {std::pow(2.0f, midLog2) * m};
    StereoBands s{eL, eR, left, right, tL, tR, offsets, 1};
    return MsStereoProcessing(s, mid, side, previous, granule, start, 1);
  };
  int previous = 1;
  EXPECT_EQ(decide(&previous, 0, 6.64f), 1);
  EXPECT_EQ(previous, 1);
  previous = 0;
  EXPECT_EQ(decide(&previous, 0, 6.64f), 0);
  EXPECT_EQ(previous, 0);
  // Granule 1 applies granule 0's decision but stores its own.
  previous = 1;
  EXPECT_EQ(decide(&previous, 1, 20.0f), 1);
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(decide(&previous, 1, 1.0f), 0);
  EXPECT_EQ(previous, 1);
}

TEST(MidSideStereo, LongProductsOfLargeRatiosNeitherOverflowNorMisjudge) {
  // 3 x 13 short bands with ratios of 1e12 would pass the largest float many times over.
  constexpr int kEntries = 39;
  const int offsets[14] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  std::vector<float> left(576, 0.0f), right(576, 0.0f);
  float eL[kEntries], eR[kEntries], tL[kEntries], tR[kEntries], mid[kEntries], side[kEntries];
  for (int smaller : {0, 1}) {
    for (int i = 0; i < kEntries; ++i) {
      eL[i] = eR[i] = 1e12f;
      tL[i] = tR[i] = 1.0f;
      // Mid/side costs 1e11 x 1 per band against 1e24: clearly better; or 1e13 x 1e13.
      mid[i] = smaller ? 1.5e11f : 1.5e13f;
      side[i] = smaller ? 1.0f : 1.5e13f;
    }
    const int start[3] = {13, 13, 13};
    StereoBands s{eL, eR, left.data(), right.data(), tL, tR, offsets, 3};
    int previous = 0;
    EXPECT_EQ(MsStereoProcessing(s, mid, side, &previous, 0, start, 13), smaller);
    if (smaller) {
      EXPECT_EQ(eL[38], 1.5e11f);
    }
  }
}

TEST(StereoPreProcessing, MadeOnlyForStereoAndNarrowsTheSideSignal) {
  StereoPreProcessing* none = reinterpret_cast<StereoPreProcessing*>(&none);
  EXPECT_EQ(CreateStereoPreProcessing(&none, 2, 128000, 44100, 0), 0);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(CreateStereoPreProcessing(&none, 1, 128000, 44100, 1), 0);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(CreateStereoPreProcessing(nullptr, 2, 128000, 44100, 1), 1);
  float pairs[4] = {1.0f, -1.0f, 0.5f, 0.25f};
  AdvanceStereoPreStep1(nullptr, 2, pairs, 2);
  AdvanceStereoPreStep2(nullptr, nullptr);
  EXPECT_EQ(pairs[1], -1.0f);

  StereoPreProcessing* raw = nullptr;
  ASSERT_EQ(CreateStereoPreProcessing(&raw, 2, 128000, 44100, 1), 0);
  StereoPrePtr pre(raw);
  EXPECT_FLOAT_EQ(pre->bitsPerGranule, 128000.0f * 576.0f / 44100.0f / 2.0f);
  EXPECT_EQ(pre->gainA[0], 1.0f);
  EXPECT_EQ(pre->gainB[0], 0.0f);
  EXPECT_NEAR(pre->gainA[20] - pre->gainB[20], 0.31622777f, 1e-6f);  // 10 dB less side
  // A high demand with little side energy widens the narrowing by at most the rise per
  // granule.
  PsyOut out;
  out.channel[0].sfbCnt = out.channel[1].sfbCnt = 1;
  out.channel[0].msEnergy[0] = 1e6f;
  out.channel[1].msEnergy[0] = 1e3f;
  out.peData.channel[0].pe = out.peData.channel[1].pe = 20000.0f;
  float previousWidth = pre->width;
  for (int k = 0; k < 20; ++k) {
    AdvanceStereoPreStep2(&out, pre.get());
    float granule[2] = {0.0f, 0.0f};
    AdvanceStereoPreStep1(pre.get(), 2, granule, 1);
    EXPECT_LE(pre->width - previousWidth, pre->rise + 1e-6f);
    EXPECT_GT(pre->width, previousWidth);
    previousWidth = pre->width;
  }
  // A fixed width of 10 steps: the side signal loses 5 dB, the mid signal stays.
  pre->fixedWidth = 10.0f;
  float samples[4] = {0.8f, 0.2f, -0.3f, 0.5f};
  AdvanceStereoPreStep1(pre.get(), 2, samples, 2);
  const float k = std::pow(10.0f, -0.25f);
  EXPECT_NEAR(samples[0] + samples[1], 1.0f, 1e-6f);
  EXPECT_NEAR(samples[0] - samples[1], 0.6f * k, 1e-6f);
  EXPECT_NEAR(samples[2] - samples[3], -0.8f * k, 1e-6f);
}

TEST(ChannelElement, ModesAndCouplingRecords) {
  ChannelElement* e = nullptr;
  ASSERT_EQ(CENew(&e), 0);
  EXPECT_EQ(InitCE(e, kElementPerChannel), 1);
  EXPECT_EQ(e->stereo, 1);
  EXPECT_EQ(InitCE(e, kElementSharedReservoir), 1);
  EXPECT_EQ(e->mode, 1);
  EXPECT_EQ(e->stereo, 0);
  EXPECT_EQ(e->link, nullptr);
  EXPECT_EQ(InitCE(e, 3), 0);
  EXPECT_EQ(InitCE(nullptr, 1), 0);
  CEDelete(e);
  EXPECT_EQ(CENew(nullptr), 1);
  ChannelCoupling* pair[2] = {};
  ASSERT_EQ(CCNew(&pair[0]), 0);
  ASSERT_EQ(CCNew(&pair[1]), 0);
  CCDelete(pair);
  EXPECT_EQ(pair[0], nullptr);
  EXPECT_EQ(pair[1], nullptr);
}

// Through the model: identical channels are coded as mid/side in both granules of a frame.
TEST(PsyModelStereo, IdenticalChannelsGiveMidSideAndTheModelCarriesIt) {
  PsySettings s;
  s.sampleRate = 44100;
  s.bitrate = 128000;
  s.channels = 2;
  s.bandwidth = 16000.0f;
  s.jointStereo = 1;
  PsyData* raw = nullptr;
  ASSERT_EQ(PsyNew(&raw, &s), 0);
  PsyPtr psy(raw);
  ASSERT_EQ(PsyInit(raw, &s), 0);
  std::mt19937 random(9);
  std::normal_distribution<float> noise(0.0f, 3000.0f);
  std::vector<float> pairs(2 * 576);
  PsyOut out;
  for (int k = 0; k < 8; ++k) {
    for (std::size_t i = 0; i < pairs.size(); i += 2) pairs[i] = pairs[i + 1] = noise(random);
    psyFeedInputBufferFloat(psy.get(), pairs.data(), 576);
    psyMain(psy.get(), k % 2, &out, 0);
    if (k < 2) continue;
    EXPECT_EQ(out.msUsed, 1) << k;
    EXPECT_EQ(out.isUsed, 0);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(out.channel[1].spectrum[i], 0.0f);
  }
}
