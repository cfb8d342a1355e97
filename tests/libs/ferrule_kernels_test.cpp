// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder's fast inner parts against slow references: the table logarithm and the
// table and polynomial powers against the library's, the single-precision transform against a
// double-precision DFT, and the heap-driven bit allocation against the plain search of the
// standard's iterative procedure (every round the highest noise above its mask, ties to the earlier
// candidate), with costs from the standard's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "allocation.h"
#include "fast_math.h"
#include "layer2_facts.h"
#include "psy.h"
#include "tables.h"

namespace {

using namespace quillion::ferrule;
namespace facts = quillion::test::layer2;

TEST(FerruleFastMath, TableLogarithmAndPowerStayWithinAThousandthOfADecibel) {
  double worstLog = 0.0;
  for (double x = 1e-12; x < 1e14; x *= 1.0137) {
    const float f = static_cast<float>(x);
    worstLog = std::max(worstLog, std::abs(fastLog2(f) - std::log2(static_cast<double>(f))));
  }
  // Linear interpolation between 128 points per octave: 1.1e-5 at worst, plus rounding.
  EXPECT_LT(worstLog, 2e-5) << "log2, absolute";
  double worstPow = 0.0;
  for (double y = -120.0; y < 120.0; y += 0.0173) {
    const double exact = std::exp2(static_cast<double>(static_cast<float>(y)));
    worstPow = std::max(worstPow, std::abs(fastPow2(static_cast<float>(y)) - exact) / exact);
  }
  EXPECT_LT(worstPow, 1e-5) << "2^y, relative";
  // Exact where the tables hold the points themselves, and the ends of the range.
  for (int e = -20; e <= 20; ++e) {
    EXPECT_EQ(fastLog2(std::ldexp(1.0f, e)), static_cast<float>(e));
    EXPECT_EQ(fastPow2(static_cast<float>(e)), std::ldexp(1.0f, e));
  }
  EXPECT_EQ(fastPow2(-200.0f), 0.0f);
  EXPECT_EQ(fastPow2(300.0f), std::ldexp(1.0f, 127));
  double worstPoly = 0.0;
  for (double y = -125.0; y < 126.0; y += 0.0173) {
    const double exact = std::exp2(static_cast<double>(static_cast<float>(y)));
    worstPoly = std::max(worstPoly, std::abs(polyPow2(static_cast<float>(y)) - exact) / exact);
  }
  EXPECT_LT(worstPoly, 4e-7) << "2^y by polynomial, relative";
  EXPECT_EQ(polyPow2(-300.0f), std::ldexp(1.0f, -126));
  EXPECT_EQ(polyPow2(300.0f), std::ldexp(1.0f, 127));
  EXPECT_NEAR(fastDb(1000.0f), 30.0f, 1e-4f);
  EXPECT_NEAR(fastFromDb(-30.0f), 1e-3f, 1e-3f * 1e-5f);
}

// The DFT of real input, lines 0..size/2, in double precision the slow way.
std::vector<std::complex<double>> directDft(const std::vector<float>& x) {
  const std::size_t n = x.size();
  std::vector<std::complex<double>> out(n / 2 + 1);
  for (std::size_t k = 0; k <= n / 2; ++k) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
      sum += static_cast<double>(x[i]) *
             std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k * i % n) /
                                 static_cast<double>(n));
    out[k] = sum;
  }
  return out;
}

struct TransformCase {
  const char* name;
  int size;
  bool tone;  // a strong tone over faint noise, else full-scale noise
};

class FerruleTransform : public ::testing::TestWithParam<TransformCase> {};

TEST_P(FerruleTransform, SinglePrecisionMatchesTheDirectDft) {
  const TransformCase& c = GetParam();
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<float> x(static_cast<std::size_t>(c.size));
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i);
    x[i] = c.tone ? static_cast<float>(30000.0 * std::sin(0.31 * t) + 0.01 * noise(rng))
                  : 32767.0f * noise(rng);
  }
  Fft fft;
  fft.prepare(c.size);
  std::vector<float> re(x.size() / 2 + 1), im(x.size() / 2 + 1);
  fft.transform(x.data(), re.data(), im.data());
  const auto expected = directDft(x);
  double peak = 0.0;
  double worst = 0.0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    peak = std::max(peak, std::abs(expected[k]));
    worst = std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - expected[k]));
  }
  // float carries 24 bits; ten stages of butterflies lose a few of them.
  EXPECT_LT(worst, 2e-6 * peak) << "peak " << peak;
}

const TransformCase kTransforms[] = {
    {"noise_512", 512, false},
    {"noise_1024", 1024, false},
    {"tone_1024", 1024, true},
};
INSTANTIATE_TEST_SUITE_P(Sizes, FerruleTransform, ::testing::ValuesIn(kTransforms),
                         [](const auto& test) { return std::string(test.param.name); });

// Layer II costs from the standard's tables.
struct Reference {
  facts::Table table;
  const FrameLayout& layout;
  const FrameData& data;

  facts::Quantiser quantiserOf(int sb, int a) const {
    return facts::quantiser(facts::stepsByAllocation(table, sb)[static_cast<std::size_t>(a - 1)]);
  }
  int finest(int sb) const { return static_cast<int>(facts::stepsByAllocation(table, sb).size()); }
  double snr(int sb, int a) const { return a == 0 ? 0.0 : quantiserOf(sb, a).snrDb; }
  int bits(int ch, int sb, int a) const {
    if (a == 0) return 0;
    const facts::Quantiser q = quantiserOf(sb, a);
    int total = q.grouped ? 12 * q.bits : 36 * q.bits;
    const int scaleFactors[4] = {3, 2, 1, 2};
    for (int c = 0; c < layout.channels; ++c)
      if (c == ch || sb >= layout.bound) total += 2 + 6 * scaleFactors[data.scfsi[c][sb]];
    return total;
  }
  double mask(int ch, int sb) const {
    return sb >= layout.bound ? std::max(data.smr[0][sb], data.smr[1][sb]) : data.smr[ch][sb];
  }
};

// The iterative procedure as written: every round, search all candidates in scan order for
// the largest noise above the mask; give it one step if the bits allow, else drop it.
int referenceAllocation(const Reference& r, int budget,
                        std::array<std::array<int, kSubbands>, 2>& allocation) {
  const FrameLayout& l = r.layout;
  int used = 32;
  for (int sb = 0; sb < l.sblimit; ++sb)
    used += facts::nbal(r.table, sb) * (sb < l.bound ? l.channels : 1);
  struct Candidate {
    int ch, sb;
    bool dropped;
  };
  std::vector<Candidate> candidates;
  for (int ch = 0; ch < l.channels; ++ch)
    for (int sb = 0; sb < (ch == 0 ? l.sblimit : std::min(l.bound, l.sblimit)); ++sb)
      candidates.push_back({ch, sb, false});
  for (auto& channel : allocation) channel.fill(0);
  for (;;) {
    Candidate* pick = nullptr;
    double best = 999999.0;
    for (Candidate& c : candidates) {
      if (c.dropped) continue;
      const double noiseToMask = r.snr(c.sb, allocation[c.ch][c.sb]) - r.mask(c.ch, c.sb);
      if (noiseToMask < best) {
        best = noiseToMask;
        pick = &c;
      }
    }
    if (!pick) break;
    int& a = allocation[pick->ch][pick->sb];
    const int cost = r.bits(pick->ch, pick->sb, a + 1) - r.bits(pick->ch, pick->sb, a);
    if (used + cost <= budget) {
      used += cost;
      ++a;
      if (a >= r.finest(pick->sb)) pick->dropped = true;
    } else {
      pick->dropped = true;
    }
  }
  if (l.channels == 2)
    for (int sb = l.bound; sb < l.sblimit; ++sb) allocation[1][sb] = allocation[0][sb];
  return used;
}

struct AllocationCase {
  const char* name;
  facts::Table table;
  int channels;
  int bound;
  bool wholeDecibels;  // whole-dB ratios: many exact ties, so their order shows
};

class FerruleAllocation : public ::testing::TestWithParam<AllocationCase> {};

TEST_P(FerruleAllocation, HeapChoosesWhatThePlainSearchChooses) {
  const AllocationCase& c = GetParam();
  FrameLayout layout;
  layout.layer = 2;
  layout.channels = c.channels;
  layout.table = &allocationTable(static_cast<int>(c.table));
  layout.sblimit = layout.table->sblimit;
  layout.bound = std::min(c.bound, layout.sblimit);
  ASSERT_EQ(layout.sblimit, facts::sblimit(c.table));
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> ratio(-15.0, 60.0);
  std::uniform_int_distribution<int> selection(0, 3);
  int compared = 0;
  for (int trial = 0; trial < 40; ++trial) {
    FrameData data{};
    for (int ch = 0; ch < 2; ++ch) {
      for (int sb = 0; sb < kSubbands; ++sb) {
        const double r = ratio(rng);
        data.smr[ch][sb] = c.wholeDecibels ? std::round(r) : r;
        data.scfsi[ch][sb] = selection(rng);
      }
    }
    // From scarce to more than every subband can take.
    for (int budget : {600, 1500, 3000, 6000, 12000, 30000}) {
      SCOPED_TRACE("trial " + std::to_string(trial) + ", budget " + std::to_string(budget));
      const Reference reference{c.table, layout, data};
      std::array<std::array<int, kSubbands>, 2> expected{};
      const int expectedBits = referenceAllocation(reference, budget, expected);
      FrameData ours = data;
      const int bits = allocateBits(layout, ours, budget);
      ASSERT_EQ(bits, expectedBits);
      for (int ch = 0; ch < c.channels; ++ch)
        for (int sb = 0; sb < layout.sblimit; ++sb)
          ASSERT_EQ(ours.allocation[ch][sb], expected[ch][sb]) << "channel " << ch << " sb " << sb;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 240);
}

const AllocationCase kAllocations[] = {
    {"B2a_stereo", facts::Table::A, 2, 32, false},
    {"B2a_stereo_ties", facts::Table::A, 2, 32, true},
    {"B2b_joint_bound8_ties", facts::Table::B, 2, 8, true},
    {"B2c_mono", facts::Table::C, 1, 32, false},
    {"B2d_joint_bound4", facts::Table::D, 2, 4, false},
};
INSTANTIATE_TEST_SUITE_P(Tables, FerruleAllocation, ::testing::ValuesIn(kAllocations),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
