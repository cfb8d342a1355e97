// SPDX-License-Identifier: GPL-2.0-or-later
// What one frame carries between analysis, bit allocation and bitstream formatting.
#pragma once

#include <array>
#include <cstdint>

#include "tables.h"

namespace quillion::ferrule {

// The frame header fields, one signed 32-bit word each; also the 48-byte record announced to
// the output stream before every header.
struct HeaderRecord {
  std::int32_t version;
  std::int32_t layer;
  std::int32_t protection;  // the crc setting: 1 writes a CRC
  std::int32_t bitrateIndex;
  std::int32_t samplingIndex;
  std::int32_t padding;
  std::int32_t privateBit;
  std::int32_t mode;
  std::int32_t modeExtension;
  std::int32_t copyright;
  std::int32_t original;
  std::int32_t emphasis;
};
static_assert(sizeof(HeaderRecord) == 48, "the header notice carries 48 bytes");

struct FrameLayout {
  int layer = 2;
  int channels = 2;
  int sblimit = 32;
  int bound = 32;  // subbands from here on share one allocation and one set of samples
  const AllocationTable* table = nullptr;  // layer II
  bool crc = false;
};

// Index 2 of the channel dimension holds the joint-stereo sum (left + right) / 2.
inline constexpr int kSumChannel = 2;

struct FrameData {
  // Subband samples: [channel][block][subband]; 36 blocks in layer II, 12 in layer I.
  std::array<std::array<std::array<float, kSubbands>, 36>, 3> samples;
  // Scale-factor indices per part (layer I uses part 0 only), as computed.
  std::array<std::array<std::array<int, kSubbands>, 3>, 3> scf;
  // Layer II: selection information and the scale factor each part is coded with.
  std::array<std::array<int, kSubbands>, 2> scfsi;
  std::array<std::array<std::array<int, kSubbands>, 3>, 3> codedScf;
  std::array<std::array<double, kSubbands>, 2> smr;
  std::array<std::array<int, kSubbands>, 2> allocation;
};

}  // namespace quillion::ferrule
