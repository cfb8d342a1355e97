// SPDX-License-Identifier: GPL-2.0-or-later
// What a layer II decoder relies on, typed here from ISO/IEC 11172-3 (Tables B.1, B.2a-d,
// B.4 and C.5) independently of the encoder's own tables: bitrates, which allocation table
// a stream uses, its subbands and allocation field widths, and the quantiser behind every
// allocation value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quillion::test::layer2 {

// kbit/s by bitrate index 0..14.
inline constexpr int kBitratesKbps[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                          128, 160, 192, 224, 256, 320, 384};

enum class Table { A, B, C, D };

// Table B.2's headings: the bitrates per channel each table serves at each sampling rate.
inline Table tableFor(int kbpsPerChannel, int sampleRate) {
  struct Heading {
    Table table;
    int rate;
    std::vector<int> kbps;
  };
  static const Heading kHeadings[] = {
      {Table::A, 48000, {56, 64, 80, 96, 112, 128, 160, 192}},
      {Table::A, 44100, {56, 64, 80}},
      {Table::A, 32000, {56, 64, 80}},
      {Table::B, 44100, {96, 112, 128, 160, 192}},
      {Table::B, 32000, {96, 112, 128, 160, 192}},
      {Table::C, 48000, {32, 48}},
      {Table::C, 44100, {32, 48}},
      {Table::D, 32000, {32, 48}},
  };
  for (const Heading& h : kHeadings)
    for (int k : h.kbps)
      if (h.rate == sampleRate && k == kbpsPerChannel) return h.table;
  throw std::invalid_argument("no allocation table serves this bitrate per channel");
}

inline int sblimit(Table t) {
  switch (t) {
    case Table::A:
      return 27;
    case Table::B:
      return 30;
    case Table::C:
      return 8;
    case Table::D:
      return 12;
  }
  return 0;
}

// Width of the allocation field of subband `sb` (below the table's limit).
inline int nbal(Table t, int sb) {
  if (t == Table::C || t == Table::D) return sb < 2 ? 4 : 3;
  return sb < 11 ? 4 : sb < 23 ? 3 : 2;
}

// Number of quantiser steps for allocation values 1, 2, ... of subband `sb`.
inline const std::vector<std::uint32_t>& stepsByAllocation(Table t, int sb) {
  static const std::vector<std::uint32_t> kAbLow = {3,    7,    15,   31,   63,    127,   255,  511,
                                                    1023, 2047, 4095, 8191, 16383, 32767, 65535};
  static const std::vector<std::uint32_t> kAbMid = {3,   5,   7,    9,    15,   31,   63,   127,
                                                    255, 511, 1023, 2047, 4095, 8191, 65535};
  static const std::vector<std::uint32_t> kAbHigh = {3, 5, 7, 9, 15, 31, 65535};
  static const std::vector<std::uint32_t> kAbTop = {3, 5, 65535};
  static const std::vector<std::uint32_t> kCdLow = {3,   5,    9,    15,   31,   63,    127,  255,
                                                    511, 1023, 2047, 4095, 8191, 16383, 32767};
  static const std::vector<std::uint32_t> kCdHigh = {3, 5, 9, 15, 31, 63, 127};
  if (t == Table::C || t == Table::D) return sb < 2 ? kCdLow : kCdHigh;
  return sb < 3 ? kAbLow : sb < 11 ? kAbMid : sb < 23 ? kAbHigh : kAbTop;
}

struct Quantiser {
  bool grouped;  // three samples share one codeword
  int bits;      // per codeword when grouped, else per sample
  double snrDb;  // the signal-to-noise ratio the allocation counts on
};

inline Quantiser quantiser(std::uint32_t steps) {
  switch (steps) {
    case 3:
      return {true, 5, 7.00};
    case 5:
      return {true, 7, 11.00};
    case 7:
      return {false, 3, 16.00};
    case 9:
      return {true, 10, 20.84};
    case 15:
      return {false, 4, 25.28};
    case 31:
      return {false, 5, 31.59};
    case 63:
      return {false, 6, 37.75};
    case 127:
      return {false, 7, 43.84};
    case 255:
      return {false, 8, 49.89};
    case 511:
      return {false, 9, 55.93};
    case 1023:
      return {false, 10, 61.96};
    case 2047:
      return {false, 11, 67.98};
    case 4095:
      return {false, 12, 74.01};
    case 8191:
      return {false, 13, 80.03};
    case 16383:
      return {false, 14, 86.05};
    case 32767:
      return {false, 15, 92.01};
    case 65535:
      return {false, 16, 98.01};
    default:
      throw std::invalid_argument("not a layer II quantiser");
  }
}

}  // namespace quillion::test::layer2
