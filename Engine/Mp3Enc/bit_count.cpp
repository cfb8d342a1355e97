// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/bit_count.h"

#include <algorithm>
#include <climits>
#include <new>

#include "mp3enc/granule_info.h"
#include "mp3enc/huffman_coding.h"
#include "mp3enc/huffman_tables.h"
#include "mp3enc/vector_math.h"

namespace quillion::mp3enc {
namespace {

int pairCost(int table, std::int32_t x, std::int32_t y) {
  const int bits = huffPairBits(x, y, table);
  return bits < 0 ? INT_MAX / 4 : bits;
}

// The lengths of a pair of magnitudes (signs and escape bits included) in every candidate
// table of a count function, packed into one word: a single table in the whole word, two in
// 16-bit halves, three in 10-bit fields. One lookup per pair then counts all candidates, and
// the sums are unpacked before a field could overflow. Escape tables index magnitudes of 15
// and more by 15; the word there already holds the linbits.
template <int... Tables>
struct PackedLengths {
  static constexpr int kTables = sizeof...(Tables);
  static constexpr int kFieldBits = kTables == 1 ? 32 : kTables == 2 ? 16 : 10;
  static constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kFieldBits) - 1;

  std::uint32_t words[16][16] = {};
  int largest = 8206;   // the largest magnitude every candidate codes
  int pairsPerSum = 0;  // pairs that fit the fields before unpacking

  PackedLengths() {
    for (int table : {Tables...}) largest = std::min(largest, huffMaxValue(table));
    const int side = std::min(largest, 15) + 1;
    std::uint32_t longest = 1;
    for (int x = 0; x < side; ++x) {
      for (int y = 0; y < side; ++y) {
        int field = 0;
        for (int table : {Tables...}) {
          const auto bits = static_cast<std::uint32_t>(huffPairBits(x, y, table));
          words[x][y] |= bits << (kFieldBits * field++);
          longest = std::max(longest, bits);
        }
      }
    }
    pairsPerSum = static_cast<int>(std::min<std::uint64_t>(kFieldMask / longest, INT_MAX));
  }

  void unpack(std::uint64_t sum, std::int64_t* totals) const {
    for (int field = 0; field < kTables; ++field)
      totals[field] += static_cast<std::int64_t>((sum >> (kFieldBits * field)) & kFieldMask);
  }
};

template <int... Tables>
void countTables(const std::int32_t* m, int pairs, int* bits) {
  static const PackedLengths<Tables...> packed;
  constexpr int kTables = PackedLengths<Tables...>::kTables;
  std::int64_t totals[kTables] = {};
  std::uint64_t sum = 0;
  int inSum = 0;
  for (int p = 0; p < pairs; ++p) {
    const std::int32_t x = m[2 * p], y = m[2 * p + 1];
    if (x < 0 || y < 0 || x > packed.largest || y > packed.largest) {
      for (int t = 0; t < kTables; ++t) bits[t] = INT_MAX;  // a value no candidate codes
      return;
    }
    sum += packed.words[std::min(x, 15)][std::min(y, 15)];
    if (++inSum == packed.pairsPerSum) {
      packed.unpack(sum, totals);
      sum = 0;
      inSum = 0;
    }
  }
  packed.unpack(sum, totals);
  for (int t = 0; t < kTables; ++t)
    bits[t] = totals[t] >= INT_MAX ? INT_MAX : static_cast<int>(totals[t]);
}

int quadIndexCost(const std::int32_t* m, int table) { return huffQuadBits(m, table); }

}  // namespace

void mp3CountFunc_0(const std::int32_t*, int, int* bits) { bits[0] = 0; }
void mp3CountFunc_1(const std::int32_t* m, int pairs, int* bits) { countTables<1>(m, pairs, bits); }
void mp3CountFunc_2_3(const std::int32_t* m, int pairs, int* bits) { countTables<2, 3>(m, pairs, bits); }
void mp3CountFunc_5_6(const std::int32_t* m, int pairs, int* bits) { countTables<5, 6>(m, pairs, bits); }
void mp3CountFunc_7_8_9(const std::int32_t* m, int pairs, int* bits) { countTables<7, 8, 9>(m, pairs, bits); }
void mp3CountFunc_10_11_12(const std::int32_t* m, int pairs, int* bits) { countTables<10, 11, 12>(m, pairs, bits); }
void mp3CountFunc_13_15(const std::int32_t* m, int pairs, int* bits) { countTables<13, 15>(m, pairs, bits); }
void mp3CountFunc_16_24(const std::int32_t* m, int pairs, int* bits) { countTables<16, 24>(m, pairs, bits); }
void mp3CountFunc_17_24(const std::int32_t* m, int pairs, int* bits) { countTables<17, 24>(m, pairs, bits); }
void mp3CountFunc_18_24(const std::int32_t* m, int pairs, int* bits) { countTables<18, 24>(m, pairs, bits); }
void mp3CountFunc_19_24(const std::int32_t* m, int pairs, int* bits) { countTables<19, 24>(m, pairs, bits); }
void mp3CountFunc_20_25(const std::int32_t* m, int pairs, int* bits) { countTables<20, 25>(m, pairs, bits); }
void mp3CountFunc_20_26(const std::int32_t* m, int pairs, int* bits) { countTables<20, 26>(m, pairs, bits); }
void mp3CountFunc_21_27(const std::int32_t* m, int pairs, int* bits) { countTables<21, 27>(m, pairs, bits); }
void mp3CountFunc_21_28(const std::int32_t* m, int pairs, int* bits) { countTables<21, 28>(m, pairs, bits); }
void mp3CountFunc_22_29(const std::int32_t* m, int pairs, int* bits) { countTables<22, 29>(m, pairs, bits); }
void mp3CountFunc_22_30(const std::int32_t* m, int pairs, int* bits) { countTables<22, 30>(m, pairs, bits); }
void mp3CountFunc_23_30(const std::int32_t* m, int pairs, int* bits) { countTables<23, 30>(m, pairs, bits); }
void mp3CountFunc_23_31(const std::int32_t* m, int pairs, int* bits) { countTables<23, 31>(m, pairs, bits); }

const TableSelectRow huffTableSelect[kTableSelectRows] = {
    {0, {0, -1, -1}, mp3CountFunc_0},         {1, {1, -1, -1}, mp3CountFunc_1},
    {2, {2, 3, -1}, mp3CountFunc_2_3},        {3, {5, 6, -1}, mp3CountFunc_5_6},
    {5, {7, 8, 9}, mp3CountFunc_7_8_9},       {7, {10, 11, 12}, mp3CountFunc_10_11_12},
    {15, {13, 15, -1}, mp3CountFunc_13_15},   {16, {16, 24, -1}, mp3CountFunc_16_24},
    {18, {17, 24, -1}, mp3CountFunc_17_24},   {22, {18, 24, -1}, mp3CountFunc_18_24},
    {30, {19, 24, -1}, mp3CountFunc_19_24},   {46, {20, 25, -1}, mp3CountFunc_20_25},
    {78, {20, 26, -1}, mp3CountFunc_20_26},   {142, {21, 27, -1}, mp3CountFunc_21_27},
    {270, {21, 28, -1}, mp3CountFunc_21_28},  {526, {22, 29, -1}, mp3CountFunc_22_29},
    {1038, {22, 30, -1}, mp3CountFunc_22_30}, {2062, {23, 30, -1}, mp3CountFunc_23_30},
    {8206, {23, 31, -1}, mp3CountFunc_23_31},
};

int BCNew(BitCounter** counter) {
  if (!counter) return 1;
  *counter = new (std::nothrow) BitCounter;
  return *counter ? 0 : 1;
}

void BCDelete(BitCounter* counter) { delete counter; }

int BCInit(BitCounter* counter, float searchAll) {
  if (!counter) return 1;
  counter->mode = searchAll != 0.0f ? 1 : 0;
  return 0;
}

namespace {

// The cheapest table for magnitudes[first..end) (pairs); first wins on ties.
void chooseTable(const std::int32_t* magnitudes, int first, int end, int* table, int* bits) {
  *table = 0;
  *bits = 0;
  if (end <= first) return;
  std::int32_t largest = 0;
  for (int i = first; i < end; ++i) largest = magnitudes[i] > largest ? magnitudes[i] : largest;
  for (const TableSelectRow& row : huffTableSelect) {
    if (largest > row.largestValue) continue;
    int counts[3] = {INT_MAX, INT_MAX, INT_MAX};
    row.count(magnitudes + first, (end - first) / 2, counts);
    for (int c = 0; c < 3 && row.candidates[c] >= 0; ++c) {
      if (c == 0 || counts[c] < *bits) {
        *bits = counts[c];
        *table = row.candidates[c];
      }
    }
    return;
  }
  *table = -1;
  *bits = INT_MAX;
}

// Bits of magnitudes[first..end) (pairs) in one given table.
int tableBits(const std::int32_t* magnitudes, int first, int end, int table) {
  if (table < 0) return INT_MAX;
  long long bits = 0;
  for (int i = first; i < end; i += 2) bits += pairCost(table, magnitudes[i], magnitudes[i + 1]);
  return bits >= INT_MAX ? INT_MAX : static_cast<int>(bits);
}

struct Split {
  int region0Bands, region1Bands;
};

// Bits of a split; fills the per-region facts into result.
long long evaluateSplit(const std::int16_t* bounds, int bandCount, int bigLines, int endBand0, int endBand1,
                        const std::int32_t* magnitudes, BitCountResult* result) {
  const int b0 = endBand0 < bandCount ? endBand0 : bandCount;
  const int b1 = endBand1 < bandCount ? endBand1 : bandCount;
  int ends[3] = {bounds[b0], bounds[b1], bigLines};
  long long total = 0;
  int start = 0;
  for (int r = 0; r < 3; ++r) {
    int end = ends[r] < bigLines ? ends[r] : bigLines;
    if (end < start) end = start;
    chooseTable(magnitudes, start, end, &result->table[r], &result->regionBits[r]);
    result->regionPairs[r] = (end - start) / 2;
    total += result->regionBits[r];
    start = end;
  }
  return total;
}

}  // namespace

void countBigvalRegion(int blockType, const std::int16_t* bandBounds, int bandCount, int mode,
                       const std::int32_t* magnitudes, BitCountResult* result,
                       const MixedRegions& mixed) {
  const int bigLines = result->bigValues * 2;
  if (blockType != 0) {
    const bool isMixed = blockType == 2 && mixed.longBands > 0;
    const int region0 = isMixed ? mixed.longBands : blockType == 2 ? 9 : 8;
    result->region0Count = region0 - 1;
    result->region1Count = 35;
    // Two regions only: the second runs to the end of the big values.
    evaluateSplit(bandBounds, bandCount, bigLines, region0, bandCount, magnitudes, result);
    if (isMixed && mixed.oneTable) {
      // The cheapest table for both regions together, counted region by region.
      int bits = 0;
      chooseTable(magnitudes, 0, bigLines, &result->table[0], &bits);
      result->table[1] = result->table[0];
      int start = 0;
      for (int r = 0; r < 2; ++r) {
        const int end = start + 2 * result->regionPairs[r];
        result->regionBits[r] = tableBits(magnitudes, start, end, result->table[r]);
        start = end;
      }
    }
    result->regionBits[2] = 0;
    result->regionPairs[2] = 0;
    result->table[2] = 0;
    return;
  }
  int needed = 0;
  while (needed < bandCount && bandBounds[needed] < bigLines) ++needed;
  Split best{1, 1};
  if (mode == 0) {
    int r0 = (needed + 1) / 3;
    r0 = r0 < 1 ? 1 : r0 > 16 ? 16 : r0;
    const int rest = needed - r0;
    int r1 = rest <= 1 ? 1 : (rest + 1) / 2;
    r1 = r1 > 8 ? 8 : r1;
    best = {r0, r1};
  } else {
    long long bestBits = -1;
    BitCountResult trial = *result;
    for (int r0 = 1; r0 <= 16 && r0 <= needed; ++r0) {
      for (int r1 = 1; r1 <= 8 && r0 + r1 <= needed; ++r1) {
        const long long bits = evaluateSplit(bandBounds, bandCount, bigLines, r0, r0 + r1, magnitudes, &trial);
        if (bestBits < 0 || bits < bestBits) {
          bestBits = bits;
          best = {r0, r1};
        }
      }
    }
  }
  result->region0Count = best.region0Bands - 1;
  result->region1Count = best.region1Bands - 1;
  evaluateSplit(bandBounds, bandCount, bigLines, best.region0Bands, best.region0Bands + best.region1Bands,
                magnitudes, result);
}

int dynBitCount(const BitCounter* counter, const std::int32_t* quantised, int blockType,
                int bandCount, const std::int16_t* bandBounds, BitCountResult* result,
                const MixedRegions& mixed) {
  if (!counter || !quantised || !bandBounds || !result || bandCount < 1) return INT_MAX;
  *result = BitCountResult{};
  std::int32_t magnitudes[kGranuleLines];
  absINT(quantised, magnitudes, kGranuleLines);
  int top = bandBounds[bandCount];
  top = top > kGranuleLines ? kGranuleLines : top & ~1;
  while (top >= 2 && magnitudes[top - 1] == 0 && magnitudes[top - 2] == 0) top -= 2;
  result->zeroLines = kGranuleLines - top;
  int bitsA = 0, bitsB = 0;
  while (top >= 4 && magnitudes[top - 1] <= 1 && magnitudes[top - 2] <= 1 && magnitudes[top - 3] <= 1 &&
         magnitudes[top - 4] <= 1) {
    bitsA += quadIndexCost(&magnitudes[top - 4], 0);
    bitsB += quadIndexCost(&magnitudes[top - 4], 1);
    top -= 4;
    ++result->count1;
  }
  result->count1Table = bitsB < bitsA ? 1 : 0;
  result->count1Bits = bitsB < bitsA ? bitsB : bitsA;
  result->bigValues = top / 2;
  countBigvalRegion(blockType, bandBounds, bandCount, counter->mode, magnitudes, result, mixed);
  long long total = result->count1Bits;
  for (int r = 0; r < 3; ++r) total += result->regionBits[r];
  result->totalBits = total >= INT_MAX ? INT_MAX : static_cast<int>(total);
  return result->totalBits;
}

}  // namespace quillion::mp3enc
