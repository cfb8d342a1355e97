// SPDX-License-Identifier: GPL-2.0-or-later
// Ferrule's tables against the standard's values that a decoder depends on: which
// allocation table each sampling rate, bitrate and mode uses, its subbands and field
// widths, the quantiser of every allocation value, the signal-to-noise values, scale
// factors and the layer II scale-factor transmission patterns.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "allocation.h"
#include "bitstream.h"
#include "layer2_facts.h"
#include "tables.h"

namespace {

using namespace quillion::ferrule;
namespace facts = quillion::test::layer2;

const char* tableName(int id) {
  static const char* const kNames[] = {"B.2a", "B.2b", "B.2c", "B.2d"};
  return kNames[id];
}

int tableId(facts::Table t) {
  return static_cast<int>(t);
}

TEST(FerruleTables, EveryRateBitrateAndModeUsesTheStandardsAllocationTable) {
  int combinations = 0;
  for (int rate : {32000, 44100, 48000}) {
    for (int channels : {1, 2}) {
      for (int code = 1; code <= 14; ++code) {
        // The combinations layer II allows: one channel up to 192 kbit/s, two from 64.
        if (channels == 1 && code > 10) continue;
        if (channels == 2 && (code < 4 || code == 5)) continue;
        const int perChannel = facts::kBitratesKbps[code] / channels;
        SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channel(s), " +
                     std::to_string(facts::kBitratesKbps[code]) + " kbit/s");
        const facts::Table expected = facts::tableFor(perChannel, rate);
        const int id = chooseAllocationTable(perChannel, rate);
        ASSERT_EQ(id, tableId(expected)) << "library chose " << tableName(id);
        EXPECT_EQ(allocationTable(id).sblimit, facts::sblimit(expected));
        ++combinations;
      }
    }
  }
  EXPECT_EQ(combinations, 3 * (10 + 10));
}

TEST(FerruleTables, FieldWidthsAndQuantisersFollowTablesB2AndC5) {
  for (facts::Table t : {facts::Table::A, facts::Table::B, facts::Table::C, facts::Table::D}) {
    const AllocationTable& table = allocationTable(tableId(t));
    SCOPED_TRACE(tableName(tableId(t)));
    ASSERT_EQ(table.sblimit, facts::sblimit(t));
    for (int sb = 0; sb < kSubbands; ++sb) {
      SCOPED_TRACE("subband " + std::to_string(sb));
      if (sb >= table.sblimit) {
        EXPECT_EQ(table.fieldBits[sb], 0);
        continue;
      }
      ASSERT_EQ(table.fieldBits[sb], facts::nbal(t, sb));
      const auto& steps = facts::stepsByAllocation(t, sb);
      ASSERT_EQ(steps.size(), (1u << table.fieldBits[sb]) - 1) << "every value but 0 is used";
      for (std::size_t a = 1; a <= steps.size(); ++a) {
        SCOPED_TRACE("allocation " + std::to_string(a));
        const QuantClass& c = kLayer2Classes[static_cast<std::size_t>(table.classes[sb][a - 1])];
        const facts::Quantiser q = facts::quantiser(steps[a - 1]);
        EXPECT_EQ(c.steps, steps[a - 1]);
        EXPECT_EQ(c.grouped, q.grouped);
        EXPECT_EQ(c.bits, q.bits);
        EXPECT_DOUBLE_EQ(c.snrDb, q.snrDb);
      }
    }
  }
}

TEST(FerruleTables, LayerOneAllocationsCodeWithOneBitMoreThanTheirValue) {
  EXPECT_EQ(kLayer1SnrDb[0], 0.0);
  for (int a = 1; a <= kLayer1MaxAllocation; ++a) {
    const std::uint32_t steps = (1u << (a + 1)) - 1;
    EXPECT_DOUBLE_EQ(kLayer1SnrDb[static_cast<std::size_t>(a)], facts::quantiser(steps).snrDb)
        << "allocation " << a;
  }
}

TEST(FerruleTables, ScaleFactorsAreTheStandardsTable) {
  ScaleTables scales;
  scales.prepare();
  struct Row {
    int index;
    double value;
  };
  // Rows of Table B.1 as printed (14 decimals); every entry is 2^(1 - index / 3).
  const Row rows[] = {{0, 2.00000000000000},
                      {1, 1.58740105196820},
                      {2, 1.25992104989487},
                      {3, 1.00000000000000},
                      {62, 0.00000120155435}};
  for (const Row& r : rows) EXPECT_NEAR(scales.value[r.index], r.value, 1e-14) << r.index;
  for (int i = 0; i < kScaleFactors; ++i) {
    EXPECT_NEAR(scales.value[i], std::exp2(1.0 - i / 3.0), 1e-15 * scales.value[i]) << i;
    EXPECT_NEAR(scales.value[i] * scales.reciprocal[i], 1.0, 1e-15);
    // The index chosen for a peak is the smallest scale factor not below it.
    EXPECT_EQ(scales.indexFor(scales.value[i]), i);
    if (i + 1 < kScaleFactors) {
      EXPECT_EQ(scales.indexFor(scales.value[i + 1] * 1.0001), i);
    }
  }
  EXPECT_EQ(scales.indexFor(0.0), kScaleFactors - 1);
}

TEST(FerruleTables, ScaleFactorSelectionFollowsTheTransmissionPatterns) {
  // By the classes of the two differences (scale-factor index of part 1 minus part 2, part 2
  // minus part 3; class 1: <= -3, 2: -2..-1, 3: 0, 4: 1..2, 5: >= 3): the selection
  // information and which scale factor each part is coded with (1, 2, 3, or 4: the largest).
  struct Row {
    int class1, class2;
    int scfsi;
    const char* parts;
  };
  const Row rows[] = {
      {1, 1, 0, "123"}, {1, 2, 3, "122"}, {1, 3, 3, "122"}, {1, 4, 3, "133"}, {1, 5, 0, "123"},
      {2, 1, 1, "113"}, {2, 2, 2, "111"}, {2, 3, 2, "111"}, {2, 4, 2, "444"}, {2, 5, 1, "113"},
      {3, 1, 2, "111"}, {3, 2, 2, "111"}, {3, 3, 2, "111"}, {3, 4, 2, "333"}, {3, 5, 1, "113"},
      {4, 1, 2, "222"}, {4, 2, 2, "222"}, {4, 3, 2, "222"}, {4, 4, 2, "333"}, {4, 5, 0, "123"},
      {5, 1, 0, "123"}, {5, 2, 3, "122"}, {5, 3, 3, "122"}, {5, 4, 3, "133"}, {5, 5, 0, "123"},
  };
  // A difference of each class, and at its edges.
  const int kDifferences[5][2] = {{-3, -7}, {-2, -1}, {0, 0}, {1, 2}, {3, 8}};
  FrameLayout layout;
  layout.layer = 2;
  layout.channels = 1;
  layout.sblimit = 1;
  layout.bound = 1;
  for (const Row& r : rows) {
    for (int edge = 0; edge < 2; ++edge) {
      const int d1 = kDifferences[r.class1 - 1][edge];
      const int d2 = kDifferences[r.class2 - 1][edge];
      FrameData data{};
      const int s1 = 30;
      data.scf[0][0][0] = s1;
      data.scf[0][1][0] = s1 - d1;
      data.scf[0][2][0] = s1 - d1 - d2;
      chooseScaleFactorSelection(layout, data);
      SCOPED_TRACE("classes " + std::to_string(r.class1) + "," + std::to_string(r.class2) +
                   " differences " + std::to_string(d1) + "," + std::to_string(d2));
      EXPECT_EQ(data.scfsi[0][0], r.scfsi);
      const int largest = std::min({data.scf[0][0][0], data.scf[0][1][0], data.scf[0][2][0]});
      for (int part = 0; part < 3; ++part) {
        const int source = r.parts[part] - '1';
        const int expected = source == 3 ? largest : data.scf[0][source][0];
        EXPECT_EQ(data.codedScf[0][part][0], expected) << "part " << part + 1;
        EXPECT_LE(data.codedScf[0][part][0], data.scf[0][part][0]) << "never a smaller factor";
      }
    }
  }
}

TEST(FerruleTables, SelectionCountsAndJointStereoBounds) {
  EXPECT_EQ(kScfsiCount, (std::array<int, 4>{3, 2, 1, 2}));
  EXPECT_EQ(kJointStereoBounds, (std::array<int, 4>{4, 8, 12, 16}));
}

}  // namespace
