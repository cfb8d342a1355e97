// SPDX-License-Identifier: GPL-2.0-or-later
// Tables of ISO/IEC 11172-3 used by the layer I and II encoder: scale factors, the layer II
// bit-allocation tables B.2a-B.2d with their quantiser classes, and the signal-to-noise
// values the allocation works with.
#pragma once

#include <array>
#include <cstdint>

namespace quillion::ferrule {

inline constexpr int kSubbands = 32;
inline constexpr int kScaleFactors = 63;  // indices 0..62; 2^(1 - i/3)

// One layer II quantiser class: levels (steps), bits per sample or per grouped codeword, and
// whether three samples share one codeword.
struct QuantClass {
  std::uint32_t steps;
  int bits;
  bool grouped;
  double snrDb;
};
inline constexpr int kQuantClasses = 17;
extern const std::array<QuantClass, kQuantClasses> kLayer2Classes;

// A layer II allocation table: field width per subband and, per allocation value 1..15, the
// quantiser class.
struct AllocationTable {
  int id;  // 0..3 for B.2a..B.2d
  int sblimit;
  std::array<int, kSubbands> fieldBits;
  std::array<const std::int8_t*, kSubbands> classes;  // classes[sb][value - 1]
};
const AllocationTable& allocationTable(int id);
// The table the standard prescribes for this bitrate per channel and sampling frequency.
int chooseAllocationTable(int kbpsPerChannel, int sampleRate);

// Layer I: allocation n (1..14) codes samples with n + 1 bits.
inline constexpr int kLayer1MaxAllocation = 14;
extern const std::array<double, kLayer1MaxAllocation + 1> kLayer1SnrDb;

// Sampling-frequency index of the header; -1 for a rate the encoder does not take.
int sampleRateIndex(int sampleRate);

// The joint-stereo bound (in subbands) of each mode extension.
inline constexpr std::array<int, 4> kJointStereoBounds = {4, 8, 12, 16};

// Number of scale factors a selection code transmits (0: three, 1: two, 2: one, 3: two).
inline constexpr std::array<int, 4> kScfsiCount = {3, 2, 1, 2};

}  // namespace quillion::ferrule
