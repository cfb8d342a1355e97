// SPDX-License-Identifier: GPL-2.0-or-later
// Facts of the Layer III stream shared by frame control, the writer and bit counting: bit
// rates, sampling rates and scalefactor band boundaries of MPEG-1, MPEG-2 and MPEG-2.5.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

// Version numbers as frame control counts them.
inline constexpr int kMpeg1 = 0;
inline constexpr int kMpeg2 = 1;
inline constexpr int kMpeg25 = 2;

// Bit/s by version and index 0..14 (index 0 = free format, not used). MPEG-2.5 stops at 8.
inline constexpr std::int32_t mpegBitrates[3][15] = {
    {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000,
     256000, 320000},
    {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000,
     144000, 160000},
    {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 0, 0, 0, 0, 0, 0},
};

// Sampling rates by version and the header's sampling-frequency index.
inline constexpr std::int32_t kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// Version by rate: 32000 Hz and up MPEG-1, 16000 up to 31999 MPEG-2, below MPEG-2.5.
constexpr int versionForRate(std::int32_t rate) {
  return rate >= 32000 ? kMpeg1 : rate >= 16000 ? kMpeg2 : kMpeg25;
}
constexpr int granulesPerFrame(int version) { return version == kMpeg1 ? 2 : 1; }

// Position of a rate among the nine (version * 3 + index), or -1.
constexpr int rateSlot(std::int32_t rate) {
  for (int v = 0; v < 3; ++v) {
    for (int i = 0; i < 3; ++i) {
      if (kSampleRates[v][i] == rate) return v * 3 + i;
    }
  }
  return -1;
}

// Band boundaries in lines: 22 long bands (23 bounds), 13 short bands (14 bounds, lines
// of one window), by rate slot.
extern const std::int16_t kLongBandBounds[9][23];
extern const std::int16_t kShortBandBounds[9][14];

// A mixed block (block type 2 with the mixed flag) codes its lowest lines as long bands:
// the first 8 at MPEG-1, the first 6 at the lower rates. Short band 3 starts where they end.
constexpr int mixedLongBands(int version) {
  return version == kMpeg1 ? 8 : 6;
}
inline constexpr int kMixedFirstShortBand = 3;

// Line where Huffman region 1 starts in a granule with window switching (block types 1 to
// 3), whose side information has no region counts: after 8 long bands for start and stop
// windows, after 3 short bands (all three windows) for short blocks, and where the long part
// ends for mixed blocks.
int windowSwitchingRegion1(int rateSlot, int blockType, bool mixed);

}  // namespace quillion::mp3enc
