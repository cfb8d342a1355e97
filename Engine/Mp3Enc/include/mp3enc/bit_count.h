// SPDX-License-Identifier: GPL-2.0-or-later
// Bit counting for quantisation: how many bits a quantised granule costs, with the region
// split and the cheapest Huffman table of each region.
#pragma once

#include <cstdint>
#include <memory>

#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {

struct BitCounter {
  int mode = 0;  // 0: one region split by rule; 1: every split searched
};

struct BitCountResult {
  int zeroLines = 0;       // zero lines at the top of the coded bands
  int count1 = 0;          // quadruples
  int count1Table = 0;     // 0 table A, 1 table B
  int count1Bits = 0;
  int bigValues = 0;       // pairs
  int region0Count = 0;    // bands minus 1
  int region1Count = 0;
  int table[3] = {};
  int regionBits[3] = {};
  int regionPairs[3] = {};
  int totalBits = 0;
};

// How the regions of a mixed block (block type 2 with the mixed flag) fall. Its band bounds
// open with the long bands of its long part, and region 0 is exactly those bands.
struct MixedRegions {
  int longBands = 0;      // 0: not a mixed block
  bool oneTable = false;  // both regions take one table
};
// MPEG-2.5 lies outside the standards, and decoders read the start of region 1 in its mixed
// blocks differently; with one table for both regions every reading decodes the same lines.
[[nodiscard]] constexpr MixedRegions mixedRegions(int version) {
  return {mixedLongBands(version), version == kMpeg25};
}

[[nodiscard]] int BCNew(BitCounter** counter);
void BCDelete(BitCounter* counter);
// Exhaustive region search when searchAll is non-zero.
[[nodiscard]] int BCInit(BitCounter* counter, float searchAll);

// Counts a granule of 576 quantised lines. bandBounds holds bandCount + 1 line bounds:
// the long scalefactor bands for block types 0, 1 and 3, the short bands with their three
// windows one after another (bounds in lines of the granule) for block type 2, and for a
// mixed block its long bands followed by its short bands and windows. Returns the total bits
// (a value above the largest table's reach costs the largest int).
int dynBitCount(const BitCounter* counter, const std::int32_t* quantised, int blockType,
                int bandCount, const std::int16_t* bandBounds, BitCountResult* result,
                const MixedRegions& mixed = {});

// The region split and table choice for magnitudes whose big values are already known.
void countBigvalRegion(int blockType, const std::int16_t* bandBounds, int bandCount, int mode,
                       const std::int32_t* magnitudes, BitCountResult* result,
                       const MixedRegions& mixed = {});

// Count functions: one bit count per candidate table over `pairs` pairs of magnitudes.
using CountFunc = void (*)(const std::int32_t* magnitudes, int pairs, int* bits);
void mp3CountFunc_0(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_1(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_2_3(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_5_6(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_7_8_9(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_10_11_12(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_13_15(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_16_24(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_17_24(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_18_24(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_19_24(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_20_25(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_20_26(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_21_27(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_21_28(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_22_29(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_22_30(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_23_30(const std::int32_t* m, int pairs, int* bits);
void mp3CountFunc_23_31(const std::int32_t* m, int pairs, int* bits);

struct TableSelectRow {
  int largestValue;
  int candidates[3];  // -1 where a row has fewer
  CountFunc count;
};
inline constexpr int kTableSelectRows = 19;
extern const TableSelectRow huffTableSelect[kTableSelectRows];

}  // namespace quillion::mp3enc
