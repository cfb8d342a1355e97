// SPDX-License-Identifier: GPL-2.0-or-later
// Threshold adjustment, scalefactor estimation and compression, the quantiser and the coding
// loop through their interfaces. The scalefac_compress codes are read back with the
// standard's decoding rules, written here on their own; the estimated steps are checked by
// quantising and measuring the noise they leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mp3enc/qc_main.h"
#include "mp3enc/quantizer.h"
#include "mp3enc/scalefactors.h"
#include "mp3enc/stream_tables.h"
#include "mp3enc/threshold_adjustment.h"

using namespace quillion::mp3enc;

namespace {

// A long-block channel of noise whose level falls band by band, with thresholds at a fixed
// distance below each band's energy.
PsyOutChannel noiseChannel(std::mt19937& random, float level, float snr, int rateSlot = 0) {
  PsyOutChannel c;
  c.blockType = 0;
  c.sfbCnt = 22;
  c.sfbActive = 21;
  for (int b = 0; b <= 22; ++b) c.sfbOffset[b] = kLongBandBounds[rateSlot][b];
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (int b = 0; b < 22; ++b) {
    const float scale = b < c.sfbActive ? level * std::pow(0.8f, static_cast<float>(b)) : 0.0f;
    double e = 0.0;
    for (int i = c.sfbOffset[b]; i < c.sfbOffset[b + 1]; ++i) {
      c.spectrum[i] = scale * noise(random);
      e += double(c.spectrum[i]) * c.spectrum[i];
    }
    c.energy[b] = static_cast<float>(e);
    c.threshold[b] = b < c.sfbActive ? static_cast<float>(e) / snr : 1e20f;
  }
  CalcFormFactorChannel(c.formFactor, c.maxSpec, &c);
  return c;
}

PsyOut noiseGranule(std::mt19937& random, int channels, float level, float snr) {
  PsyOut out;
  out.channels = channels;
  for (int ch = 0; ch < channels; ++ch) {
    out.channel[ch] = noiseChannel(random, level, snr);
    prepareSfbPe(&out.channel[ch], &out.peData.channel[ch]);
  }
  calcPe(&out.peData, &out, 0, channels);
  return out;
}

}  // namespace

TEST(ThresholdAdjustment, MinimumSnrAndHoleSettings) {
  AdjThrState s;
  AdjThrInit(&s, 4000.0f, 64000, 2.0f);
  EXPECT_FLOAT_EQ(s.peMin, 3200.0f);
  EXPECT_FLOAT_EQ(s.peMax, 4800.0f);
  EXPECT_FLOAT_EQ(s.minSnrLong[0], 0.01f);  // 10^(-64000/32000)
  EXPECT_FLOAT_EQ(s.minSnrLong[9], 0.32f);
  EXPECT_FLOAT_EQ(s.minSnrLong[15], 0.5f);    // capped at 48000 bit/s and more
  EXPECT_FLOAT_EQ(s.minSnrShort[0], 0.004f);  // 10^(-2.4) is below the table's 0.004
  EXPECT_FLOAT_EQ(s.minSnrShort[3 * 12 + 2], 0.63f);
  AdjThrInit(&s, 4000.0f, 32000, 2.0f);
  EXPECT_FLOAT_EQ(s.minSnrLong[0], 0.1f);
  EXPECT_FLOAT_EQ(s.minSnrLong[15], 0.63f);
  struct Case {
    float bitsPerLine;
    int moreHoles, firstLong, firstShort;
  };
  for (const Case& c : {Case{2.0f, 0, 22, 39}, Case{1.5f, 0, 8, 9}, Case{1.2f, 0, 8, 9},
                        Case{1.0f, 1, 8, 9}, Case{0.6f, 1, 8, 9}, Case{0.5f, 1, 0, 0}}) {
    SCOPED_TRACE(c.bitsPerLine);
    AdjThrInit(&s, 1000.0f, 64000, c.bitsPerLine);
    EXPECT_EQ(s.moreHolesLong, c.moreHoles);
    EXPECT_EQ(s.firstHoleLong, c.firstLong);
    EXPECT_EQ(s.firstHoleShort, c.firstShort);
  }
}

TEST(ThresholdAdjustment, BandPerceptualEntropy) {
  PeChannelData pe;
  pe.start = 125.0f;  // a short block
  const float energy[4] = {1024.0f, 64.0f, 10.0f, 5.0f};
  const float threshold[4] = {1.0f, 16.0f, 10.0f, 50.0f};
  pe.sfbNLines[0] = 8;
  pe.sfbNLines[1] = 4;
  pe.sfbNLines[2] = 6;
  pe.sfbNLines[3] = 2;
  for (int b = 0; b < 4; ++b) pe.sfbLdEnergy[b] = std::log2(energy[b]);
  calcSfbPe(&pe, energy, threshold, 4);
  // Ten octaves above the threshold: one bit per line for each.
  EXPECT_FLOAT_EQ(pe.sfbPe[0], 80.0f);
  EXPECT_EQ(pe.sfbNActiveLines[0], 8);
  // Two octaves: the low-SNR branch, fewer bits than lines.
  EXPECT_NEAR(pe.sfbPe[1], 4 * (1.3219281f + 0.5593573f * 2.0f), 1e-4f);
  EXPECT_EQ(pe.sfbNActiveLines[1], 2);
  // At or below the threshold a band costs nothing.
  EXPECT_EQ(pe.sfbPe[2], 0.0f);
  EXPECT_EQ(pe.sfbPe[3], 0.0f);
  EXPECT_NEAR(pe.pe, 125.0f + pe.sfbPe[0] + pe.sfbPe[1], 1e-3f);
}

TEST(ThresholdAdjustment, EnoughBitsLeaveThresholdsAlone) {
  std::mt19937 random(11);
  PsyOut psy = noiseGranule(random, 2, 30.0f, 4.0f);  // about 2.4 bits of PE a line
  const PsyOut before = psy;
  AdjThrState s;
  AdjThrInit(&s, 5000.0f, 128000, 3.0f);
  float shares[2] = {};
  AdjustThresholds(&s, &psy, shares, 2, 4000.0f, 0.0f, 4088.0f, 1.5f, 0, 2);
  for (int ch = 0; ch < 2; ++ch) {
    for (int b = 0; b < 22; ++b)
      EXPECT_EQ(psy.channel[ch].threshold[b], before.channel[ch].threshold[b]);
  }
  EXPECT_NEAR(shares[0] + shares[1], 1.0f, 1e-5f);
}

TEST(ThresholdAdjustment, TooMuchEntropyIsBroughtDown) {
  struct Case {
    float meanBits, snr;
  };
  for (const Case& c : {Case{1200.0f, 1e4f}, Case{600.0f, 1e5f}, Case{200.0f, 1e6f}}) {
    SCOPED_TRACE(c.meanBits);
    std::mt19937 random(5);
    PsyOut psy = noiseGranule(random, 2, 3000.0f, c.snr);
    const float peBefore = psy.peData.pe;
    AdjThrState s;
    AdjThrInit(&s, 5000.0f, 64000, 0.8f);
    float shares[2] = {};
    AdjustThresholds(&s, &psy, shares, 2, c.meanBits, 0.0f, 4088.0f, 1.0f, 0, 2);
    const float desired = s.lastDesiredPe;
    ASSERT_LT(desired, peBefore);
    EXPECT_LT(psy.peData.pe, 1.2f * desired);
    for (int ch = 0; ch < 2; ++ch) {
      for (int b = 0; b < 21; ++b) {
        // Thresholds only rise.
        const PsyOutChannel& chOut = psy.channel[ch];
        EXPECT_GE(chOut.threshold[b], chOut.energy[b] / c.snr * 0.999f) << b;
      }
    }
    EXPECT_NEAR(shares[0] + shares[1], 1.0f, 1e-5f);
  }
}

// The estimated step leaves about the threshold's worth of noise in a band of noise.
// Variable bit rate: every granule joins the statistics and lambda is fitted so that the
// histogram's mean mapped PE is the desired mean; the granule's desired PE is its own PE
// mapped at that lambda, the granule is brought down to it and the desired bits are summed.
// The map is concave: a quieter granule keeps more of its PE.
TEST(ThresholdAdjustment, VariableRateLearnsAndMeetsTheMappedPe) {
  std::mt19937 random(7);
  PsyOut loud = noiseGranule(random, 2, 3000.0f, 1e5f);
  const float loudPe = loud.peData.pe;
  AdjThrState s;
  AdjThrInit(&s, 5000.0f, 64000, 1.0f);
  s.learning = 1;
  s.desiredMeanPe = 0.5f * loudPe;
  PeStats stats;
  PeStatsInit(&stats, 1.0f, 1);
  float shares[2] = {};
  AdjustThresholdsVBR(&s, &loud, shares, 2, 100000, 0.0f, &stats, 0, 2);
  EXPECT_EQ(stats.count, 1);
  float mean = 0.0f;
  for (int i = 0; i < kPeBins; ++i) mean += stats.longBins[i] * stats.longTable[i];
  EXPECT_NEAR(mean, s.desiredMeanPe, 1e-3f * s.desiredMeanPe);
  EXPECT_NEAR(s.lastDesiredPe, PeStatsMap(stats, stats.lambda, loudPe, false), 1e-3f * loudPe);
  EXPECT_LT(s.lastDesiredPe, loudPe);
  EXPECT_EQ(s.desiredBitsSum, static_cast<long long>(kPeToBits * s.lastDesiredPe));
  EXPECT_LT(loud.peData.pe, 1.2f * s.lastDesiredPe);
  EXPECT_NEAR(shares[0] + shares[1], 1.0f, 1e-5f);
  const float loudKept = s.lastDesiredPe / loudPe;

  PsyOut quiet = noiseGranule(random, 2, 30.0f, 4.0f);
  const float quietPe = quiet.peData.pe;
  const long long bitsBefore = s.desiredBitsSum;
  AdjustThresholdsVBR(&s, &quiet, shares, 2, 100000, 0.0f, &stats, 0, 2);
  EXPECT_EQ(stats.count, 2);
  EXPECT_LT(s.lastDesiredPe, quietPe);
  EXPECT_GT(s.lastDesiredPe / quietPe, loudKept);
  EXPECT_EQ(s.desiredBitsSum - bitsBefore, static_cast<long long>(kPeToBits * s.lastDesiredPe));
}

// Without learning: a fixed lambda of 9000 or more keeps the PE, a small one compresses it;
// in every case the desired PE stays below 0.944 times the granule's largest bits.
TEST(ThresholdAdjustment, VariableRateFixedLambdaAndCeiling) {
  struct Case {
    float lambda;
    int maxBits;
    bool keepsPe;
  };
  const Case cases[] = {{9000.0f, 100000, true}, {500.0f, 100000, false}, {9000.0f, 1000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lambda << " " << c.maxBits);
    std::mt19937 random(3);
    PsyOut psy = noiseGranule(random, 2, 3000.0f, 1e5f);
    const float peBefore = psy.peData.pe;
    AdjThrState s;
    AdjThrInit(&s, 5000.0f, 64000, 1.0f);
    PeStats stats;
    PeStatsInit(&stats, 1.0f, 1);
    float shares[2] = {};
    AdjustThresholdsVBR(&s, &psy, shares, 2, c.maxBits, c.lambda, &stats, 0, 2);
    EXPECT_EQ(stats.count, 0);
    EXPECT_LE(s.lastDesiredPe, 0.944f * static_cast<float>(c.maxBits) + 1e-3f);
    if (c.keepsPe) {
      EXPECT_EQ(s.lastDesiredPe, peBefore);
      EXPECT_EQ(psy.peData.pe, peBefore);
    } else {
      EXPECT_LT(s.lastDesiredPe, peBefore);
      EXPECT_LT(psy.peData.pe, 1.2f * s.lastDesiredPe);
    }
  }
}

TEST(Scalefactors, EstimatedStepMeetsTheThreshold) {
  std::mt19937 random(2);
  for (const float snr : {10.0f, 100.0f, 1000.0f}) {
    SCOPED_TRACE(snr);
    PsyOutChannel c = noiseChannel(random, 2000.0f, snr);
    int scf[kMaxSfbEntries];
    EstimateScaleFactorsChannel(&c, scf, c.formFactor, c.maxSpec);
    EXPECT_EQ(scf[21], kNoScf);
    std::vector<float> expSpec(576);
    calcExpSpec(c.spectrum, expSpec.data(), 576);
    const float* p43 = pow4_3_tab();
    for (int b = 0; b < 21; ++b) {
      ASSERT_NE(scf[b], kNoScf);
      const int step = -scf[b];
      const int from = c.sfbOffset[b], n = c.sfbOffset[b + 1] - from;
      std::vector<std::int32_t> q(static_cast<std::size_t>(n));
      quantizeExpSpecLines(c.spectrum + from, expSpec.data() + from, n, step, q.data());
      double noise = 0.0;
      for (int i = 0; i < n; ++i) {
        const std::int32_t m = std::abs(q[static_cast<std::size_t>(i)]);
        const double back = p43[m] * std::exp2(step / 4.0);
        noise += std::pow(std::fabs(c.spectrum[from + i]) - back, 2);
      }
      EXPECT_GT(noise, c.threshold[b] / 4) << "band " << b;
      EXPECT_LT(noise, c.threshold[b] * 4) << "band " << b;
    }
  }
  // Energy at or below the threshold: no scalefactor.
  PsyOutChannel quiet = noiseChannel(random, 1.0f, 0.5f);
  int scf[kMaxSfbEntries];
  EstimateScaleFactorsChannel(&quiet, scf, quiet.formFactor, quiet.maxSpec);
  for (int b = 0; b < 22; ++b) EXPECT_EQ(scf[b], kNoScf);
  ScfMapping map;
  AdaptScfToMp3Channel(22, 0, 1, scf, scfCntPerPartitionDefault[0], scfBitsPerPartitionDefault, 1,
                       quiet.maxSpec, &map);
  EXPECT_EQ(map.globalGain, 0);
}

// Mapped scalefactors fit their fields and never ask for a coarser step than the estimate by
// more than one scalefactor unit.
TEST(Scalefactors, MappingFitsTheFieldsAndKeepsTheSteps) {
  std::mt19937 random(9);
  for (int trial = 0; trial < 400; ++trial) {
    const bool isShort = trial % 2 == 1;
    const int total = isShort ? 39 : 22;
    const int spread = 4 + static_cast<int>(random() % 60);
    const int base = -static_cast<int>(random() % 120);
    int estimate[kMaxSfbEntries];
    for (int b = 0; b < kMaxSfbEntries; ++b) estimate[b] = kNoScf;
    for (int b = 0; b < total; ++b) {
      if (random() % 7 != 0) estimate[b] = base - static_cast<int>(random() % spread);
    }
    float maxSpec[kMaxSfbEntries] = {};
    int scf[kMaxSfbEntries];
    std::copy(estimate, estimate + kMaxSfbEntries, scf);
    ScfMapping map;
    const int* sizes = scfCntPerPartitionDefault[isShort ? 1 : 0];
    AdaptScfToMp3Channel(total, isShort ? 2 : 0, 0, scf, sizes, scfBitsPerPartitionDefault,
                         !isShort, maxSpec, &map);
    const int unit = 1 << (map.scalefacScale + 1);
    int band = 0;
    for (int p = 0; p < 4; ++p) {
      for (int i = 0; i < sizes[p]; ++i, ++band) {
        if (scf[band] == kNoScf) continue;
        ASSERT_GE(scf[band], 0);
        ASSERT_LT(scf[band], 1 << scfBitsPerPartitionDefault[p]) << "band " << band;
      }
    }
    for (int w = 0; w < 3; ++w) {
      ASSERT_GE(map.subblockGain[w], 0);
      ASSERT_LE(map.subblockGain[w], 7);
    }
    for (int b = 0; b < (isShort ? 36 : 21); ++b) {
      if (estimate[b] == kNoScf) {
        ASSERT_EQ(scf[b], kNoScf);
        continue;
      }
      const int pre = !isShort && map.preflag ? preEmphasisTab[b] : 0;
      const int sbg = isShort ? 8 * map.subblockGain[b % 3] : 0;
      const int step = map.globalGain - sbg - (scf[b] + pre) * unit;
      ASSERT_LE(step, -estimate[b] + unit) << "trial " << trial << " band " << b;
    }
    // The whole set fits the partition lengths, so the widest code is always feasible.
    int partitionSizes[4], lengths[4];
    const int code = findScfCompressMPEG1(isShort ? 2 : 0, scf, partitionSizes, lengths);
    ASSERT_GE(code, 0);
    ASSERT_LE(code, 15);
  }
}

namespace {

// The standard's slen pairs of scalefac_compress for MPEG-1.
constexpr int kStandardSlen[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1},
                                      {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1},
                                      {3, 2}, {3, 3}, {4, 2}, {4, 3}};

int bitsFor(int v) {
  int bits = 0;
  while ((1 << bits) <= v) ++bits;
  return bits;
}

// The MPEG-2 reading of scalefac_compress without intensity stereo: four slens, the row and
// the pre-emphasis flag.
void decodeMpeg2Compress(int sfc, int slen[4], int* row, int* preflag) {
  *preflag = 0;
  if (sfc < 400) {
    slen[0] = (sfc >> 4) / 5;
    slen[1] = (sfc >> 4) % 5;
    slen[2] = (sfc % 16) >> 2;
    slen[3] = sfc % 4;
    *row = 0;
  } else if (sfc < 500) {
    const int x = sfc - 400;
    slen[0] = (x >> 2) / 5;
    slen[1] = (x >> 2) % 5;
    slen[2] = x % 4;
    slen[3] = 0;
    *row = 1;
  } else {
    const int x = sfc - 500;
    slen[0] = x / 3;
    slen[1] = x % 3;
    slen[2] = slen[3] = 0;
    *row = 2;
    *preflag = 1;
  }
}

// The standard's partition sizes without intensity stereo: rows, then long and short blocks.
constexpr int kStandardPartitions[3][2][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}}, {{6, 5, 7, 3}, {9, 9, 12, 6}}, {{11, 10, 0, 0}, {18, 18, 0, 0}}};

}  // namespace

TEST(Scalefactors, CompressCodesReadBackAndAreCheapest) {
  int sizes[4], lengths[4];
  int zeros[kMaxSfbEntries] = {};
  EXPECT_EQ(findScfCompressMPEG1(0, zeros, sizes, lengths), 0);
  EXPECT_EQ(findScfCompressMPEG2(0, 0, zeros, 0, sizes, lengths, zeros, 22), 0);

  std::mt19937 random(4);
  for (int trial = 0; trial < 600; ++trial) {
    const int blockType = trial % 3 == 0 ? 2 : 0;
    const bool isShort = blockType == 2;
    int scf[kMaxSfbEntries];
    for (int b = 0; b < kMaxSfbEntries; ++b) {
      const int limit = b < (isShort ? 18 : 11) ? 16 : 8;
      scf[b] = random() % 5 == 0 ? kNoScf : static_cast<int>(random() % limit) >> (trial % 4);
    }
    const int count = isShort ? 36 : 21;
    // MPEG-1: the code's slens hold every value and no feasible code is cheaper.
    const int code = findScfCompressMPEG1(blockType, scf, sizes, lengths);
    int need[2] = {0, 0};
    for (int b = 0; b < count; ++b) {
      int& slot = need[b < (isShort ? 18 : 11) ? 0 : 1];
      if (scf[b] != kNoScf) slot = std::max(slot, bitsFor(scf[b]));
    }
    ASSERT_GE(kStandardSlen[code][0], need[0]);
    ASSERT_GE(kStandardSlen[code][1], need[1]);
    const int first = isShort ? 18 : 11, second = count - first;
    const int cost = first * kStandardSlen[code][0] + second * kStandardSlen[code][1];
    for (const auto& slen : kStandardSlen) {
      if (slen[0] >= need[0] && slen[1] >= need[1]) {
        ASSERT_LE(cost, first * slen[0] + second * slen[1]);
      }
    }
    EXPECT_EQ(lengths[0], kStandardSlen[code][0]);
    EXPECT_EQ(lengths[3], kStandardSlen[code][1]);

    // MPEG-2: the code read back names the row whose partitions came out, and its slens hold
    // every value of each partition.
    for (int preflag : {0, 1}) {
      const int sfc2 = findScfCompressMPEG2(0, blockType, scf, preflag, sizes, lengths, zeros, 22);
      if (sizes[0] == 0) continue;  // no feasible row with this pre-emphasis
      int slen[4], row = 0, readPre = 0;
      decodeMpeg2Compress(sfc2, slen, &row, &readPre);
      ASSERT_EQ(readPre, preflag);
      int band = 0;
      for (int p = 0; p < 4; ++p) {
        ASSERT_EQ(sizes[p], kStandardPartitions[row][isShort ? 1 : 0][p]);
        ASSERT_EQ(lengths[p], slen[p]);
        for (int i = 0; i < sizes[p]; ++i, ++band) {
          if (scf[band] != kNoScf) {
            ASSERT_LE(bitsFor(scf[band]), slen[p]) << "band " << band;
          }
        }
      }
    }
  }
}

TEST(Quantiser, RoundTripAndBandsWithoutScalefactor) {
  std::mt19937 random(8);
  PsyOutChannel c = noiseChannel(random, 500.0f, 100.0f);
  GranuleChannel g;
  g.global_gain = 8;
  g.scalefac_scale = 1;
  int marks[kMaxSfbEntries];
  for (int b = 0; b < kMaxSfbEntries; ++b) {
    g.scalefactors[b] = b % 3;
    marks[b] = b == 5 ? kNoScf : g.scalefactors[b];
  }
  std::vector<float> expSpec(576), back(576);
  calcExpSpec(c.spectrum, expSpec.data(), 576);
  const int largest =
      mp3QuantizeSpectrum(c.spectrum, expSpec.data(), c.sfbOffset, 22, marks, g, g.quantised);
  EXPECT_GT(largest, 0);
  EXPECT_LE(largest, kLargestQuantised);
  mp3InvQuantizeSpectrum(g.quantised, c.sfbOffset, 22, marks, g, back.data());
  for (int b = 0; b < 22; ++b) {
    const int step = g.global_gain - calcStepsize(g, b, false);
    for (int i = c.sfbOffset[b]; i < c.sfbOffset[b + 1]; ++i) {
      if (b == 5) {
        ASSERT_EQ(g.quantised[i], 0);
        continue;
      }
      // The error of one line stays within one quantiser level at its size.
      const double level = std::exp2(step / 4.0);
      const double m = std::pow(std::fabs(c.spectrum[i]) / level, 0.75);
      const double bound = level * (std::pow(m + 1.0, 4.0 / 3.0) - std::pow(m, 4.0 / 3.0));
      ASSERT_LE(std::fabs(back[static_cast<std::size_t>(i)] - c.spectrum[i]), bound) << i;
    }
  }
}

namespace {

QCPtr makeQc(int channels, int maxBits) {
  QCState* raw = nullptr;
  if (QCNew(&raw) != 0) return nullptr;
  QCPtr qc(raw);
  QCSettings s;
  s.channels = channels;
  s.version = kMpeg1;
  s.maxBits = maxBits;
  s.peStart = 4000.0f;
  s.bitratePerChannel = 64000;
  QCInit(raw, s);
  return qc;
}

// Every line the granule's side information claims decodes within its table's reach.
void expectCodedWithin(const GranuleChannel& g, int budget) {
  EXPECT_LE(g.part2_3_length, budget);
  for (int i = 0; i < 576; ++i) ASSERT_LE(std::abs(g.quantised[i]), kLargestQuantised);
  for (int i = 2 * g.big_values + 4 * g.count1; i < 576; ++i) ASSERT_EQ(g.quantised[i], 0) << i;
}

}  // namespace

TEST(QuantisationLoop, SilenceLoudnessAndBudgets) {
  std::mt19937 random(6);
  QCBudget budget;
  budget.meanBits = 1500.0f;
  budget.reservoirSize = 4088.0f;
  budget.maxBits = 3000;

  QCPtr qc = makeQc(2, 3000);
  ASSERT_TRUE(qc);
  PsyOut silent = noiseGranule(random, 2, 0.0f, 100.0f);
  GranuleChannel out[2];
  EXPECT_EQ(QCMain(qc.get(), &silent, out, budget), 0);
  for (const GranuleChannel& g : out) {
    EXPECT_EQ(g.big_values, 0);
    EXPECT_EQ(g.count1, 0);
    EXPECT_EQ(g.part2_3_length, 0);
  }

  // Every budget is kept, down to none at all (then both channels are coded as silence). With
  // the band maxima hidden from the estimate, its steps leave lines far above 8191: the loop
  // raises the gain until they fit.
  struct Case {
    float level, snr;
    int maxBits;
    bool hideMaxima;
  };
  for (const Case& c : {Case{30000.0f, 1e9f, 3000, true}, Case{30000.0f, 1e9f, 3000, false},
                        Case{3000.0f, 1e4f, 3000, false}, Case{3000.0f, 1e4f, 400, false},
                        Case{3000.0f, 1e4f, 0, false}}) {
    SCOPED_TRACE(std::to_string(c.level) + " / " + std::to_string(c.maxBits));
    QCPtr loop = makeQc(2, c.maxBits);
    PsyOut psy = noiseGranule(random, 2, c.level, c.snr);
    int estimatedGain = -1000;
    if (c.hideMaxima) {
      for (PsyOutChannel& ch : psy.channel) {
        for (float& m : ch.maxSpec) m = 0.0f;
        int scf[kMaxSfbEntries];
        EstimateScaleFactorsChannel(&ch, scf, ch.formFactor, ch.maxSpec);
        for (int b = 0; b < 21; ++b) estimatedGain = std::max(estimatedGain, -scf[b]);
      }
      // At the estimate the loudest line would need far more than 8191 levels.
      ASSERT_GT(std::pow(30000.0 * 4.0 / std::exp2(estimatedGain / 4.0), 0.75), 8191.0 * 2);
    }
    budget.maxBits = c.maxBits;
    budget.meanBits = std::max(1.0f, c.maxBits / 2.0f);
    const int used = QCMain(loop.get(), &psy, out, budget);
    EXPECT_LE(used, c.maxBits);
    EXPECT_EQ(used, out[0].part2_3_length + out[1].part2_3_length);
    for (const GranuleChannel& g : out) expectCodedWithin(g, std::min(c.maxBits, kMaxGranuleBits));
    if (c.hideMaxima) {
      for (const GranuleChannel& g : out) EXPECT_GT(g.global_gain, estimatedGain);
    }
    if (c.maxBits == 0) {
      for (const GranuleChannel& g : out) {
        for (int i = 0; i < 576; ++i) ASSERT_EQ(g.quantised[i], 0);
      }
    } else {
      EXPECT_GT(used, c.maxBits / 4);
    }
  }
}
