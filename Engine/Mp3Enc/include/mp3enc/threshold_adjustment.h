// SPDX-License-Identifier: GPL-2.0-or-later
// Perceptual entropy of a granule and the threshold adjustment that brings it to what the
// bit budget allows: thresholds rise evenly in the fourth-root domain, bands that must not
// vanish are guarded, and when that is not enough the weakest bands are given up as holes.
#pragma once

#include "mp3enc/pe_statistics.h"
#include "mp3enc/psy_out.h"

namespace quillion::mp3enc {

inline constexpr float kBitsToPe = 1.18f;
inline constexpr float kPeToBits = 0.8474576f;
[[nodiscard]] constexpr float bits2pe(float bits) {
  return kBitsToPe * bits;
}

struct BitResParams {
  float clipSaveLow, clipSaveHigh, minBitSave, maxBitSave;
  float clipSpendLow, clipSpendHigh, minBitSpend, maxBitSpend;
};

struct AdjThrState {
  float peMin = 0.0f;
  float peMax = 0.0f;
  BitResParams longParams{};
  BitResParams shortParams{};
  float lastDesiredPe = 0.0f;
  int lastBitsUsed = 0;
  float peCorrection = 1.0f;
  float minSnrLong[22] = {};
  float minSnrShort[kMaxSfbEntries] = {};
  int moreHolesLong = 0;
  int firstHoleLong = 22;
  int moreHolesShort = 0;
  int firstHoleShort = kMaxSfbEntries;
  // Variable bit rate: the mean mapped PE the statistics are fitted to, whether they learn
  // from every granule, and the bits the desired PEs have asked for so far.
  float desiredMeanPe = 0.0f;
  int learning = 0;
  long long desiredBitsSum = 0;
};

int AdjThrInit(AdjThrState* state, float peStart, int bitratePerChannel, float bitsPerLine);
int AdjThrUpdate(AdjThrState* state, int bits);

// Raises the thresholds of channels [first, end) until the granule's PE meets what meanBits
// and the reservoir allow; writes each channel's share of the granule's bits.
void AdjustThresholds(AdjThrState* state, PsyOut* psy, float* shares, int channels, float meanBits,
                      float reservoirBits, float reservoirSize, float maxSpendFactor, int first,
                      int end);
// Variable bit rate: the granule's PE joins the statistics, lambda is refitted so that the
// mean mapped PE meets the state's desired mean, and the granule is brought to its own mapped
// PE (never above what maxBits can carry). Without learning the map uses fixedLambda; from
// 9000 on the PE stays as it is.
void AdjustThresholdsVBR(AdjThrState* state, PsyOut* psy, float* shares, int channels, int maxBits,
                         float fixedLambda, PeStats* stats, int first, int end);
void adaptThresholdsToPe(AdjThrState* state, PsyOut* psy, float desiredPe, int first, int end);
void allowMoreHoles(AdjThrState* state, PsyOut* psy, int* avoidHoles[2], float desiredPe, int first,
                    int end);

// Lines of a band expected to survive quantisation: form factor x (energy / width)^(-1/4).
[[nodiscard]] int estimateLineCount(float formFactor, float energy, float width);
// Bands [first, end) of one channel: estimated coded lines and log2 energy.
void prepareSfbPeBands(const PsyOutChannel* channel, PeChannelData* pe, int first, int end);
// Per band of one channel: estimated coded lines and log2 energy.
void prepareSfbPe_NoOpt(const PsyOutChannel* channel, PeChannelData* pe);
using PrepareSfbPeFunc = void (*)(const PsyOutChannel*, PeChannelData*);
extern PrepareSfbPeFunc prepareSfbPe;
void calcSfbPe(PeChannelData* pe, const float* energy, const float* threshold, int bandCount);
void calcPe(PeData* pe, PsyOut* psy, int first, int end);
// thr^0.25 for the active bands.
void calcThreshExp_NoOpt(const PsyOut* psy, float thrExp[2][kMaxSfbEntries], int first, int end);
using CalcThreshExpFunc = void (*)(const PsyOut*, float[2][kMaxSfbEntries], int, int);
extern CalcThreshExpFunc calcThreshExp;

}  // namespace quillion::mp3enc
