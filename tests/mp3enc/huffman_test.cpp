// SPDX-License-Identifier: GPL-2.0-or-later
// Every Huffman table is checked twice: as a code (complete and prefix-free, so no entry is
// mistyped into a clash) and through an independent decoder, which must turn each coded
// pair back into the value we meant (a swapped entry decodes to another value).
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "mp3enc/bit_count.h"
#include "mp3enc/huffman_coding.h"
#include "mp3enc/huffman_tables.h"
#include "mp3enc/stream_tables.h"
#include "stream_builder.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

// Granules that between them carry every (x, y) entry of a table, with both signs, in
// random order.
std::vector<std::vector<std::int32_t>> everyPair(int table, std::mt19937& rng) {
  const HuffTable& t = kHuffTables[table];
  const int maxValue = huffMaxValue(table);
  std::vector<std::int32_t> values;
  for (int x = 0; x < t.size; ++x) {
    for (int y = 0; y < t.size; ++y) {
      // For linbits tables the 15 row and column stand for escapes: use random escaped values.
      auto pick = [&](int v) {
        if (t.linbits && v == 15)
          return 15 + static_cast<int>(rng() % static_cast<unsigned>(maxValue - 14));
        return v;
      };
      const int sx = (rng() & 1) ? -1 : 1, sy = (rng() & 1) ? -1 : 1;
      values.push_back(sx * pick(x));
      values.push_back(sy * pick(y));
    }
  }
  // Make sure the extremes are there too.
  values.push_back(maxValue);
  values.push_back(-maxValue);
  std::vector<std::vector<std::int32_t>> granules;
  for (std::size_t i = 0; i < values.size(); i += 576) {
    std::vector<std::int32_t> g(576, 0);
    for (std::size_t k = 0; k < 576 && i + k < values.size(); ++k) g[k] = values[i + k];
    granules.push_back(g);
  }
  return granules;
}

}  // namespace

TEST(HuffmanTables, EveryTableIsACompletePrefixCode) {
  for (int table = 1; table < kHuffTableCount; ++table) {
    const HuffTable& t = kHuffTables[table];
    if (t.size == 0) continue;
    const int entries = table >= kQuadTableA ? 16 : t.size * t.size;
    double kraft = 0;
    for (int i = 0; i < entries; ++i) {
      ASSERT_LT(t.code[i], 1u << t.length[i]) << "table " << table << " entry " << i;
      kraft += std::ldexp(1.0, -t.length[i]);
      for (int j = 0; j < entries; ++j) {
        if (i == j || t.length[j] < t.length[i]) continue;
        EXPECT_NE(t.code[j] >> (t.length[j] - t.length[i]), t.code[i])
            << "table " << table << ": entry " << i << " is a prefix of entry " << j;
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << "table " << table;
  }
}

namespace {

constexpr int kPairTables[] = {1,  2,  3,  5,  6,  7,  8,  9,  10, 11, 12, 13, 15, 16, 17,
                               18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

class HuffmanPairTable : public testing::TestWithParam<int> {};

}  // namespace

// One table per case. The pairs come from one random sequence drawn table after table in the
// order above, so each case first draws (and drops) what the tables before it take.
TEST_P(HuffmanPairTable, EveryPairDecodesToItsValue) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const int table = GetParam();
  std::mt19937 rng(11);
  for (const int before : kPairTables) {
    if (before == table) break;
    (void)everyPair(before, rng);
  }
  std::vector<GranuleChannel> granules;
  std::vector<RefGranule> reference;
  // A gain low enough that the largest escapes stay far below clipping.
  const int gain = kHuffTables[table].linbits > 6 ? 120 : 170;
  for (const auto& lines : everyPair(table, rng)) {
    granules.push_back(granuleWithTable(lines, gain, table));
    reference.push_back({lines, gain, 0});
  }
  TempDir dir;
  const DecodeCheck check = decodeAndCompare(granules, reference, 44100, 320000, dir);
  EXPECT_EQ(check.tool.exitCode, 0) << check.tool.output;
  EXPECT_EQ(check.tool.output, "");
  EXPECT_GT(check.peak, 0.0);
  EXPECT_LT(check.maxError, kDecodeTolerance * (check.peak > 1.0 ? check.peak : 1.0));
}

INSTANTIATE_TEST_SUITE_P(HuffmanTables, HuffmanPairTable, testing::ValuesIn(kPairTables),
                         [](const testing::TestParamInfo<int>& param) {
                           return "table" + std::to_string(param.param);
                         });

TEST(HuffmanTables, EveryQuadrupleDecodesToItsValue) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  std::mt19937 rng(5);
  for (int quadTable = 0; quadTable < 2; ++quadTable) {
    SCOPED_TRACE(quadTable ? "count1 table B" : "count1 table A");
    std::vector<std::int32_t> lines(576, 0);
    // big_values covers one pair, then all sixteen quadruples twice with random signs.
    lines[0] = 2;
    lines[1] = -1;
    for (int rep = 0; rep < 2; ++rep) {
      for (int q = 0; q < 16; ++q) {
        for (int k = 0; k < 4; ++k) {
          const int bit = (q >> (3 - k)) & 1;
          lines[static_cast<std::size_t>(2 + 64 * rep + 4 * q + k)] = bit * ((rng() & 1) ? -1 : 1);
        }
      }
    }
    GranuleChannel g;
    for (int i = 0; i < 576; ++i) g.quantised[i] = lines[static_cast<std::size_t>(i)];
    g.big_values = 1;
    g.table_select[0] = g.table_select[1] = g.table_select[2] = 2;
    g.region0_count = 15;
    g.region1_count = 7;
    g.count1 = 32;
    g.count1table_select = quadTable;
    g.part2_3_length = huffPairBits(2, -1, 2);
    for (int q = 0; q < 32; ++q)
      g.part2_3_length += huffQuadBits(&g.quantised[2 + 4 * q], quadTable);
    g.global_gain = 20;
    TempDir dir;
    const DecodeCheck check =
        decodeAndCompare({g, g}, {{lines, 170, 0}, {lines, 170, 0}}, 44100, 128000, dir);
    EXPECT_EQ(check.tool.exitCode, 0) << check.tool.output;
    EXPECT_GT(check.peak, 0.0);
    EXPECT_LT(check.maxError, kDecodeTolerance);
  }
}

TEST(BitCount, SilenceCostsNothing) {
  BitCounter counter;
  std::int32_t lines[576] = {};
  BitCountResult r;
  EXPECT_EQ(dynBitCount(&counter, lines, 0, 22, kLongBandBounds[0], &r), 0);
  EXPECT_EQ(r.zeroLines, 576);
  EXPECT_EQ(r.count1, 0);
  EXPECT_EQ(r.bigValues, 0);
}

TEST(BitCount, TablesAndCount1AreChosenByCost) {
  BitCounter counter;
  BitCountResult r;
  struct Case {
    const char* what;
    std::vector<std::int32_t> head;  // the first lines; the rest are 0
    int expectTable;                 // region 0 table; -1 the cheaper of 16 and 24; -2 any
    int expectCount1Table;
  };
  const Case cases[] = {
      {"largest value 16 picks the cheaper of tables 16 and 24", {16, 3, 1, 0, 2, 16, 5, 7}, -1, 0},
      {"equal count1 costs keep table A", {3, 0, 0, 0, 0, 1, 0, 0, 1, 0}, -2, 0},
      {"count1 table B when strictly cheaper", {3, 0, 1, 1, 1, 1, 1, 1, 1, 1}, -2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t lines[576] = {};
    for (std::size_t i = 0; i < c.head.size(); ++i) lines[i] = c.head[i];
    const int total = dynBitCount(&counter, lines, 0, 22, kLongBandBounds[0], &r);
    int expectTable = c.expectTable;
    if (expectTable == -1) {
      int bits16 = 0, bits24 = 0;
      for (int i = 0; i < 2 * r.bigValues; i += 2) {
        bits16 += huffPairBits(lines[i], lines[i + 1], 16);
        bits24 += huffPairBits(lines[i], lines[i + 1], 24);
      }
      expectTable = bits24 < bits16 ? 24 : 16;
    }
    if (expectTable >= 0) {
      EXPECT_EQ(r.table[0], expectTable);
    }
    EXPECT_EQ(r.count1Table, c.expectCount1Table);
    EXPECT_EQ(total, r.count1Bits + r.regionBits[0] + r.regionBits[1] + r.regionBits[2]);
  }
}

// The counter's regions, tables and totals are what the writer codes: random spectra of
// every size, counted and written, must decode to their values (and the writer refuses any
// granule whose codes exceed the counted length).
TEST(BitCount, CountedGranulesDecodeToTheirValues) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  std::mt19937 rng(3);
  for (std::int32_t rate : {44100, 22050, 8000}) {
    SCOPED_TRACE("rate " + std::to_string(rate));
    const int slot = rateSlot(rate);
    std::vector<GranuleChannel> granules;
    std::vector<RefGranule> reference;
    static constexpr int kLargest[] = {0, 1, 2, 3, 5, 7, 15, 16, 30, 100, 600, 3000, 8206};
    for (int largest : kLargest) {
      std::vector<std::int32_t> lines(576, 0);
      const int used = 40 + static_cast<int>(rng() % (rate >= 32000 ? 250u : 120u));
      for (int i = 0; i < used; ++i) {
        // Mostly small values with a few large ones, falling off with frequency.
        const int limit = i < used / 4 ? largest : largest / 8 + 1;
        const int v = static_cast<int>(rng() % static_cast<unsigned>(limit + 1));
        lines[static_cast<std::size_t>(i)] = (rng() & 1) ? -v : v;
      }
      const int gain = largest > 1000 ? 110 : 160;
      granules.push_back(codedGranule(lines, gain, 0, slot));
      reference.push_back({lines, gain, 0});
    }
    TempDir dir;
    const DecodeCheck check = decodeAndCompare(granules, reference, rate,
                                               rate >= 32000   ? 320000
                                               : rate >= 16000 ? 160000
                                                               : 64000,
                                               dir);
    EXPECT_EQ(check.tool.exitCode, 0) << check.tool.output;
    EXPECT_GT(check.peak, 0.0);
    EXPECT_LT(check.maxError, kDecodeTolerance * (check.peak > 1.0 ? check.peak : 1.0));
  }
}

// Every count function against the codes it counts, over a whole granule of pairs, half of
// them at the row's largest magnitude: the packed sums must never spill from one table's
// field into another's.
TEST(BitCount, CountFunctionsAgreeWithTheCodesTheyCount) {
  std::mt19937 rng(13);
  for (const TableSelectRow& row : huffTableSelect) {
    SCOPED_TRACE("row up to " + std::to_string(row.largestValue));
    std::vector<std::int32_t> m(576);
    for (std::size_t i = 0; i < m.size(); ++i) {
      m[i] = (i / 2) % 2 ? row.largestValue
                         : static_cast<int>(rng() % static_cast<unsigned>(row.largestValue + 1));
    }
    int bits[3] = {-1, -1, -1};
    row.count(m.data(), 288, bits);
    for (int c = 0; c < 3 && row.candidates[c] >= 0; ++c) {
      int expected = 0;
      for (std::size_t i = 0; i < m.size(); i += 2)
        expected += huffPairBits(m[i], m[i + 1], row.candidates[c]);
      EXPECT_EQ(bits[c], expected) << "table " << row.candidates[c];
    }
    row.count(m.data(), 0, bits);
    EXPECT_EQ(bits[0], 0) << "no pairs";
    if (row.largestValue > 0) {
      m[7] = row.largestValue + 1;
      row.count(m.data(), 4, bits);
      EXPECT_EQ(bits[0], INT_MAX) << "a magnitude no candidate codes";
    }
  }
}
