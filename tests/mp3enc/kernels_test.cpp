// SPDX-License-Identifier: GPL-2.0-or-later
// Every vectorised kernel called directly beside its portable variant on tables of inputs:
// silence, subnormals, random spectra over a wide range, four or fewer bands, odd band widths
// and starts off the 16-byte grid. The quantisers must agree exactly; the band energies within
// the rounding of a reordered sum; the estimate-based kernels within the estimate's error.
#include "mp3enc/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "mp3enc/cpu_caps.h"

using namespace quillion::mp3enc;

#if QUILLION_MP3_HAVE_SSE2

namespace {

// Relative error of two successive 12-bit hardware estimates.
constexpr double kEstimateError = 6e-4;

enum class Lines { Zeros, Subnormal, Random, Loud };

std::vector<float> makeLines(Lines kind, int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> v(static_cast<std::size_t>(count));
  for (float& x : v) {
    const float sign = unit(rng) < 0.5f ? -1.0f : 1.0f;
    switch (kind) {
      case Lines::Zeros:
        x = unit(rng) < 0.5f ? 0.0f : -0.0f;
        break;
      case Lines::Subnormal:
        x = sign * FLT_MIN * unit(rng);
        break;
      case Lines::Random:
        x = sign * std::pow(10.0f, -3.0f + 7.0f * unit(rng));
        break;
      case Lines::Loud:
        x = sign * 3.0e4f * unit(rng);
        break;
    }
  }
  return v;
}

constexpr Lines kAllKinds[] = {Lines::Zeros, Lines::Subnormal, Lines::Random, Lines::Loud};

// Band layouts: a long-block-like split of 576 lines, odd widths, and four or fewer bands.
std::vector<std::vector<int>> bandLayouts() {
  return {
      {0,  4,  8,   12,  16,  20,  24,  30,  36,  44,  52, 62,
       74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
      {0, 1, 4, 9, 16, 23, 34, 47, 48, 61, 80, 99},
      {0, 7, 10, 17, 19},
      {0, 3},
      {0, 0, 5, 5},
  };
}

PsyOutChannel channelFrom(const std::vector<float>& lines, const std::vector<int>& offsets,
                          unsigned seed) {
  PsyOutChannel c;
  c.sfbCnt = static_cast<int>(offsets.size()) - 1;
  c.sfbActive = c.sfbCnt;
  std::copy(offsets.begin(), offsets.end(), c.sfbOffset);
  std::copy(lines.begin(), lines.end(), c.spectrum);
  CalcBandEnergy_NoOpt(c.spectrum, c.sfbOffset, c.sfbCnt, c.energy);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  // Thresholds on both sides of the energies, so that both branches of each kernel run.
  for (int b = 0; b < c.sfbCnt; ++b) c.threshold[b] = c.energy[b] * 2.0f * unit(rng);
  CalcFormFactorChannel_NoOpt(c.formFactor, c.maxSpec, &c);
  return c;
}

TEST(Kernels, QuantisersMatchThePortableOnesExactly) {
  for (Lines kind : kAllKinds) {
    for (int start = 0; start < 4; ++start) {
      for (int count : {0, 1, 3, 4, 5, 17, 576}) {
        std::vector<float> buffer = makeLines(kind, count + start, 7u + count);
        const float* lines = buffer.data() + start;
        std::vector<float> expSpec(static_cast<std::size_t>(count) + 1);
        calcExpSpec_NoOpt(lines, expSpec.data(), count);
        for (int step : {-120, -40, 0, 17, 60, 140}) {
          std::vector<std::int32_t> a(static_cast<std::size_t>(count) + 1, 99), b(a.size(), 99),
              c(a.size(), 99), d(a.size(), 99);
          SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " start " << start
                                          << " lines " << count << " step " << step);
          EXPECT_EQ(quantizeExpSpecLines_Opt(lines, expSpec.data(), count, step, a.data()),
                    quantizeExpSpecLines_NoOpt(lines, expSpec.data(), count, step, b.data()));
          EXPECT_EQ(a, b);
          EXPECT_EQ(quantizeLines_Opt(lines, count, step, c.data()),
                    quantizeLines_NoOpt(lines, count, step, d.data()));
          EXPECT_EQ(c, d);
          EXPECT_EQ(a.back(), 99);  // nothing written past the last line
        }
      }
    }
  }
}

TEST(Kernels, ExpSpecWithinSinglePrecisionRounding) {
  for (Lines kind : kAllKinds) {
    for (int start = 0; start < 4; ++start) {
      const int count = 37;
      const std::vector<float> lines = makeLines(kind, count, 11u);
      std::vector<float> out(static_cast<std::size_t>(count + start + 1), -1.0f);
      std::vector<float> ref(static_cast<std::size_t>(count));
      calcExpSpec_Opt(lines.data(), out.data() + start, count);
      calcExpSpec_NoOpt(lines.data(), ref.data(), count);
      for (int i = 0; i < count; ++i) {
        const float got = out[static_cast<std::size_t>(start + i)];
        EXPECT_GE(got, 0.0f);
        EXPECT_NEAR(got, ref[static_cast<std::size_t>(i)], 4e-7f * ref[static_cast<std::size_t>(i)])
            << "line " << i;
      }
      EXPECT_EQ(out.back(), -1.0f);
    }
  }
}

TEST(Kernels, BandEnergiesWithinSummationRounding) {
  for (Lines kind : kAllKinds) {
    for (const std::vector<int>& offsets : bandLayouts()) {
      for (int start = 0; start < 4; ++start) {
        const int bands = static_cast<int>(offsets.size()) - 1;
        const int lines = offsets.back();
        const std::vector<float> left = makeLines(kind, lines + start, 3u);
        const std::vector<float> right = makeLines(kind, lines + start, 5u);
        std::vector<float> e(static_cast<std::size_t>(bands) + 1, -1.0f), eRef(e), mid(e), side(e),
            midRef(e), sideRef(e);
        CalcBandEnergy_Opt(left.data() + start, offsets.data(), bands, e.data());
        CalcBandEnergy_NoOpt(left.data() + start, offsets.data(), bands, eRef.data());
        CalcBandEnergyMS_Opt(left.data() + start, right.data() + start, offsets.data(), bands,
                             mid.data(), side.data());
        CalcBandEnergyMS_NoOpt(left.data() + start, right.data() + start, offsets.data(), bands,
                               midRef.data(), sideRef.data());
        for (int b = 0; b < bands; ++b) {
          // Non-negative terms: a reordered sum of n of them differs by at most n ulps of it.
          const float width = static_cast<float>(offsets[b + 1] - offsets[b]);
          const auto bound = [&](float ref) { return 2.0f * width * FLT_EPSILON * ref; };
          EXPECT_NEAR(e[b], eRef[b], bound(eRef[b])) << "band " << b;
          EXPECT_NEAR(mid[b], midRef[b], bound(midRef[b])) << "band " << b;
          EXPECT_NEAR(side[b], sideRef[b], bound(sideRef[b])) << "band " << b;
        }
        EXPECT_EQ(e.back(), -1.0f);
        EXPECT_EQ(mid.back(), -1.0f);
      }
    }
  }
}

TEST(Kernels, ThresholdRootsWithinEstimateError) {
  for (Lines kind : kAllKinds) {
    for (const std::vector<int>& offsets : bandLayouts()) {
      PsyOut psy;
      for (int ch = 0; ch < 2; ++ch) {
        psy.channel[ch] = channelFrom(makeLines(kind, offsets.back(), 9u + ch), offsets, 4u);
        // Thresholds over the whole float range, subnormal ones included.
        PsyOutChannel& c = psy.channel[ch];
        for (int b = 0; b < c.sfbCnt; b += 3) c.threshold[b] *= 1e-30f;
        // One subnormal threshold in the second group only, so the others stay vectorised.
        if (c.sfbCnt > 8) c.threshold[5] = FLT_MIN / 3.0f;
      }
      float got[2][kMaxSfbEntries] = {}, ref[2][kMaxSfbEntries] = {};
      calcThreshExp_Opt(&psy, got, 0, 2);
      calcThreshExp_NoOpt(&psy, ref, 0, 2);
      const int bands = psy.channel[0].sfbActive;
      for (int ch = 0; ch < 2; ++ch) {
        for (int b = 0; b < bands; ++b) {
          if (bands <= 4) {
            EXPECT_EQ(got[ch][b], ref[ch][b]) << "band " << b;
          } else {
            EXPECT_NEAR(got[ch][b], ref[ch][b], kEstimateError * ref[ch][b]) << "band " << b;
          }
          if (psy.channel[ch].threshold[b] == 0.0f) {
            EXPECT_EQ(got[ch][b], 0.0f);
          }
        }
      }
    }
  }
}

TEST(Kernels, LineCountsWithinEstimateError) {
  for (Lines kind : kAllKinds) {
    for (const std::vector<int>& offsets : bandLayouts()) {
      for (int blockType : {kBlockLong, kBlockShort}) {
        PsyOutChannel c = channelFrom(makeLines(kind, offsets.back(), 21u), offsets, 8u);
        c.blockType = blockType;
        c.sfbActive = std::max(0, c.sfbCnt - 1);  // the last band lies above the cut-off
        PeChannelData got, ref;
        prepareSfbPe_Opt(&c, &got);
        prepareSfbPe_NoOpt(&c, &ref);
        EXPECT_EQ(got.start, ref.start);
        for (int b = 0; b < c.sfbCnt; ++b) {
          SCOPED_TRACE(testing::Message() << "band " << b << " energy " << c.energy[b]);
          if (c.sfbCnt <= 4) {
            EXPECT_EQ(got.sfbNLines[b], ref.sfbNLines[b]);
          }
          // Rounding to nearest may differ by one from adding 0.5 at ties.
          EXPECT_LE(std::abs(got.sfbNLines[b] - ref.sfbNLines[b]),
                    1.0 + kEstimateError * ref.sfbNLines[b]);
          EXPECT_EQ(got.sfbLdEnergy[b], ref.sfbLdEnergy[b]);
          if (b >= c.sfbActive || !(c.energy[b] > c.threshold[b])) {
            EXPECT_EQ(got.sfbNLines[b], 0);
          }
        }
      }
    }
  }
}

TEST(Kernels, FormFactorsWithinEstimateError) {
  for (Lines kind : kAllKinds) {
    for (const std::vector<int>& offsets : bandLayouts()) {
      PsyOutChannel c = channelFrom(makeLines(kind, offsets.back(), 31u), offsets, 2u);
      c.sfbActive = std::max(0, c.sfbCnt - 1);
      float ff[kMaxSfbEntries], ffRef[kMaxSfbEntries], mx[kMaxSfbEntries], mxRef[kMaxSfbEntries];
      CalcFormFactorChannel_Opt(ff, mx, &c);
      CalcFormFactorChannel_NoOpt(ffRef, mxRef, &c);
      for (int b = 0; b < c.sfbCnt; ++b) {
        // Sums of positive roots: the sum's relative error is at most the roots'.
        EXPECT_NEAR(ff[b], ffRef[b], kEstimateError * ffRef[b] + 1e-18f) << "band " << b;
        EXPECT_EQ(mx[b], mxRef[b]) << "band " << b;
      }
    }
  }
}

// The granule's 576 samples at stride 2 (one channel of interleaved pairs).
std::vector<float> interleaved(const std::vector<float>& mono) {
  std::vector<float> out(mono.size() * 2, 0.0f);
  for (std::size_t i = 0; i < mono.size(); ++i) out[2 * i] = mono[i];
  return out;
}

// Silence in the first two segments, white noise scaled by gain in the third.
std::vector<float> burst(float gain, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> g(576, 0.0f);
  for (int n = 384; n < 576; ++n) g[static_cast<std::size_t>(n)] = gain * noise(rng);
  return interleaved(g);
}

TEST(Kernels, BlockSwitchingDecidesAsThePortableVariant) {
  // Scale a burst so that its high-passed segment energy lies between the floor and twice it:
  // the region where a doubled floor would keep long blocks on some processors.
  BlockSwitchingState probe;
  mp3BlockSwitchingInit(&probe);
  mp3BlockSwitching_NoOpt(&probe, burst(1.0f, 1u).data(), 2);
  const float moderate = std::sqrt(1.5f * kAttackEnergyFloor / probe.energy[2]);
  const float gains[] = {0.0f, 1e-20f, 100.0f, moderate, 10.0f * moderate, 3.0e4f};
  for (float gain : gains) {
    BlockSwitchingState a, b;
    mp3BlockSwitchingInit(&a);
    mp3BlockSwitchingInit(&b);
    for (int granule = 0; granule < 6; ++granule) {
      const std::vector<float> input =
          granule % 3 == 2 ? burst(gain, 5u + granule) : interleaved(std::vector<float>(576));
      mp3BlockSwitching_Opt(&a, input.data(), 2);
      mp3BlockSwitching_NoOpt(&b, input.data(), 2);
      SCOPED_TRACE(testing::Message() << "gain " << gain << " granule " << granule);
      EXPECT_EQ(a.attack, b.attack);
      EXPECT_EQ(a.emitType, b.emitType);
      EXPECT_EQ(a.nextType, b.nextType);
      for (int s = 0; s < 3; ++s)
        EXPECT_NEAR(a.energy[s], b.energy[s], 192 * 2 * FLT_EPSILON * b.energy[s]);
      if (gain == moderate && granule == 2) {
        EXPECT_GT(a.energy[2], kAttackEnergyFloor);
        EXPECT_LT(a.energy[2], 2.0f * kAttackEnergyFloor);
        EXPECT_EQ(a.attack, 1);
      }
    }
  }
}

TEST(Kernels, DispatchFollowsTheProcessorAndTheTestOverride) {
  selectKernels();
  const bool sse2 = GetCPUInfo(3) != 0;
  EXPECT_EQ(activeKernels(), sse2 ? KernelSet::Sse2 : KernelSet::Portable);
  if (sse2) {
    EXPECT_EQ(quantizeExpSpecLines, &quantizeExpSpecLines_Opt);
    EXPECT_EQ(CalcFormFactorChannel, &CalcFormFactorChannel_Opt);
    EXPECT_EQ(calcThreshExp, &calcThreshExp_Opt);
  }
  forcePortableKernelsForTesting(true);
  EXPECT_EQ(activeKernels(), KernelSet::Portable);
  EXPECT_EQ(calcThreshExp, &calcThreshExp_NoOpt);
  EXPECT_EQ(CalcBandEnergy, &CalcBandEnergy_NoOpt);
  EXPECT_EQ(CalcBandEnergyMS, &CalcBandEnergyMS_NoOpt);
  EXPECT_EQ(mp3BlockSwitching, &mp3BlockSwitching_NoOpt);
  EXPECT_EQ(prepareSfbPe, &prepareSfbPe_NoOpt);
  EXPECT_EQ(calcExpSpec, &calcExpSpec_NoOpt);
  EXPECT_EQ(quantizeExpSpecLines, &quantizeExpSpecLines_NoOpt);
  EXPECT_EQ(quantizeLines, &quantizeLines_NoOpt);
  EXPECT_EQ(CalcFormFactorChannel, &CalcFormFactorChannel_NoOpt);
  // A later selection must not undo the override: the choice is made once per process.
  selectKernels();
  EXPECT_EQ(activeKernels(), KernelSet::Portable);
  forcePortableKernelsForTesting(false);
  EXPECT_EQ(activeKernels(), sse2 ? KernelSet::Sse2 : KernelSet::Portable);
  EXPECT_EQ(PolyAnalyse, &PolyAnalyse_NoOpt);  // no vectorised variant
}

}  // namespace

#endif
