// SPDX-License-Identifier: GPL-2.0-or-later
// The band layout and constants of the psychoacoustic model per block kind: scalefactor
// bands, the bands below the bandwidth cut-off, spreading slopes on the Bark scale and the
// threshold in quiet that the input's PCM resolution sets. Built once per encoder.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

inline constexpr int kLongBands = 22;
inline constexpr int kShortBands = 13;
inline constexpr int kMaxConfigBands = kLongBands;

struct SfbInfoRow {
  std::int32_t sampleRate;
  const std::int16_t* longBounds;   // 23 line bounds, 0..576
  const std::int16_t* shortBounds;  // 14 line bounds of one window, 0..192
};
inline constexpr int kSfbInfoRows = 9;
extern const SfbInfoRow sfbInfoTab[kSfbInfoRows];

struct PsyConfiguration {
  int sfbCnt = 0;     // 22 long, 13 short
  int sfbActive = 0;  // bands that start below the cut-off line
  int sfbOffset[kMaxConfigBands + 1] = {};
  int windows = 1;    // 1 long, 3 short
  int rateClass = 0;  // 0 from 32 kHz, 1 from 16 kHz, 2 below
  int msSwitch = 0;
  int msGainFlag = 0;
  int isSwitch = 0;
  float isErrorFactor = 0.0019952622f;
  int isFirstBand = 7;
  float preEchoRise = 3.0f;  // largest rise of a threshold over the one before
  float preEchoFloor = 0.001f;
  int cutOffLine = 0;
  float thresholdCap = 0.0f;
  float snrFactor = 0.0012589254f;  // masking threshold relative to a band's energy
  float quietThreshold[kMaxConfigBands] = {};
  float spreadUp[kMaxConfigBands] = {};    // towards higher bands
  float spreadDown[kMaxConfigBands] = {};  // towards lower bands
};

// Block kinds 0, 1 and 3 take the long layout, 2 the short one. 0, or 1 for a rate without
// a row or another kind. The caller puts its M/S wish into config->msSwitch first.
[[nodiscard]] int InitPsyConfiguration(std::int32_t bitrate, std::int32_t sampleRate,
                                       float bandwidth, int blockKind, PsyConfiguration* config);
void InitBarcValues(int linesPerWindow, std::int32_t sampleRate, int bandCount,
                    const int* bandOffsets, float* upward, float* downward);
void InitMinPCMResolution(int bandCount, int pcmBits, PsyConfiguration* config);
// Spreads thresholds over the active bands in place, then flattens isolated peaks.
void SpreadingMax(int bandCount, const float* downward, const float* upward, float* thresholds);

}  // namespace quillion::mp3enc
