// SPDX-License-Identifier: GPL-2.0-or-later
#include "tables.h"

namespace quillion::ferrule {

const std::array<QuantClass, kQuantClasses> kLayer2Classes = {{
    {3, 5, true, 7.00},
    {5, 7, true, 11.00},
    {7, 3, false, 16.00},
    {9, 10, true, 20.84},
    {15, 4, false, 25.28},
    {31, 5, false, 31.59},
    {63, 6, false, 37.75},
    {127, 7, false, 43.84},
    {255, 8, false, 49.89},
    {511, 9, false, 55.93},
    {1023, 10, false, 61.96},
    {2047, 11, false, 67.98},
    {4095, 12, false, 74.01},
    {8191, 13, false, 80.03},
    {16383, 14, false, 86.05},
    {32767, 15, false, 92.01},
    {65535, 16, false, 98.01},
}};

const std::array<double, kLayer1MaxAllocation + 1> kLayer1SnrDb = {
    0.00,  7.00,  16.00, 25.28, 31.59, 37.75, 43.84, 49.89,
    55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01};

namespace {

// Class lists by allocation value, indexing kLayer2Classes.
// Low subbands of B.2a/B.2b: 3, 7, 15, 31, ... 65535 levels.
constexpr std::int8_t kLowAB[15] = {0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
// Subbands 3-10 of B.2a/B.2b: 3, 5, 7, 9, 15, ... 8191, 65535.
constexpr std::int8_t kMidAB[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};
// Subbands 11-22 of B.2a/B.2b: 3, 5, 7, 9, 15, 31, 65535.
constexpr std::int8_t kHighAB[7] = {0, 1, 2, 3, 4, 5, 16};
// Subbands from 23 of B.2a/B.2b: 3, 5, 65535.
constexpr std::int8_t kTopAB[3] = {0, 1, 16};
// Subbands 0-1 of B.2c/B.2d: 3, 5, 9, 15, ... 32767.
constexpr std::int8_t kLowCD[15] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// Subbands from 2 of B.2c/B.2d: 3, 5, 9, 15, 31, 63, 127.
constexpr std::int8_t kHighCD[7] = {0, 1, 3, 4, 5, 6, 7};

constexpr AllocationTable makeAB(int id, int sblimit) {
  AllocationTable t{id, sblimit, {}, {}};
  for (int sb = 0; sb < kSubbands; ++sb) {
    if (sb >= sblimit) {
      t.fieldBits[sb] = 0;
      t.classes[sb] = nullptr;
    } else if (sb < 3) {
      t.fieldBits[sb] = 4;
      t.classes[sb] = kLowAB;
    } else if (sb < 11) {
      t.fieldBits[sb] = 4;
      t.classes[sb] = kMidAB;
    } else if (sb < 23) {
      t.fieldBits[sb] = 3;
      t.classes[sb] = kHighAB;
    } else {
      t.fieldBits[sb] = 2;
      t.classes[sb] = kTopAB;
    }
  }
  return t;
}

constexpr AllocationTable makeCD(int id, int sblimit) {
  AllocationTable t{id, sblimit, {}, {}};
  for (int sb = 0; sb < kSubbands; ++sb) {
    if (sb >= sblimit) {
      t.fieldBits[sb] = 0;
      t.classes[sb] = nullptr;
    } else {
      t.fieldBits[sb] = sb < 2 ? 4 : 3;
      t.classes[sb] = sb < 2 ? kLowCD : kHighCD;
    }
  }
  return t;
}

constexpr std::array<AllocationTable, 4> kTables = {makeAB(0, 27), makeAB(1, 30), makeCD(2, 8),
                                                    makeCD(3, 12)};

}  // namespace

const AllocationTable& allocationTable(int id) {
  return kTables[static_cast<std::size_t>(id)];
}

int chooseAllocationTable(int kbpsPerChannel, int sampleRate) {
  if (kbpsPerChannel >= 56 && (sampleRate == 48000 || kbpsPerChannel <= 80)) return 0;
  if (sampleRate != 48000 && kbpsPerChannel >= 96) return 1;
  if (sampleRate != 32000 && kbpsPerChannel <= 48) return 2;
  return 3;
}

int sampleRateIndex(int sampleRate) {
  switch (sampleRate) {
    case 44100:
      return 0;
    case 48000:
      return 1;
    case 32000:
      return 2;
    default:
      return -1;
  }
}

}  // namespace quillion::ferrule
