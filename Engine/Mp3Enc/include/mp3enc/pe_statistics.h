// SPDX-License-Identifier: GPL-2.0-or-later
// The learned distribution of perceptual entropy that drives variable-bit-rate coding: a
// histogram of granule PEs, and a compressing map g(pe) whose parameter lambda is fitted so
// that the mean mapped PE meets a target. Quality settings name the target through tableLog.
#pragma once

namespace quillion::mp3enc {

inline constexpr int kPeBins = 20;
inline constexpr float kPeBinWidth = 500.0f;
inline constexpr float kLargestLambda = 30000.0f;

// The granules the learned distribution covers: the most recent ones, 2048 of them (about
// 27 s at 44.1 kHz, 53 s at 22.05 kHz). Long enough that loud and quiet passages of one piece
// are seen together, so that bits move from the quiet ones to the loud ones rather than the
// rate holding steady; short enough that a long recording whose character changes (another
// track, another instrument) retunes lambda within half a minute instead of being coded by
// what came an hour before.
inline constexpr int kPeWindowGranules = 2048;

// The PEs in the window, oldest first from `next` once the ring is full.
struct PeWindow {
  float pe[kPeWindowGranules] = {};
  unsigned char shortBlock[kPeWindowGranules] = {};
  int next = 0;    // where the next granule goes; the oldest one while the ring is full
  int filled = 0;  // granules held, up to kPeWindowGranules
};

struct PeStats {
  float longBins[kPeBins] = {};
  float shortBins[kPeBins] = {};
  float sum = 0.0f;
  int count = 0;
  float lambda = 1.0f;
  int tanhModel = 1;              // 1: tanh map with short granules apart; 0: logarithmic map
  float longTable[kPeBins] = {};  // g(500 i) at the fitted lambda
  float shortTable[kPeBins] = {};
  PeWindow window;
};

// Clears the statistics, sets lambda and the model (tanh unless useLog); returns tanhModel.
int PeStatsInit(PeStats* stats, float lambda, int useLog);
void PeStatsAdd(PeStats* stats, float pe, int blockType);
void PeStatsSub(PeStats* stats, float pe, int blockType);
// Adds a granule through the window: once it is full, the granule that leaves is taken out
// again. Every time the ring comes round, the histogram, sum and count are rebuilt from the
// window, so that rounding of the float sums does not pile up over a long stream.
void PeStatsEnter(PeStats* stats, float pe, int blockType);

// The map at lambda: tanh model lambda tanh(pe / lambda) (short granules with 1.5 lambda),
// logarithmic model lambda ln(1 + pe / lambda).
[[nodiscard]] float PeStatsMap(const PeStats& stats, float lambda, float pe, bool shortBlock);

// Fits lambda by Newton's method so that the mean mapped PE of the histogram meets target
// (within target / 1000), stores it with the tables and returns it. No granules: no fit.
float PeStatsFitLambda(PeStats* stats, float target);

struct VbrQualityRow {
  int quality;
  float weight;
  int bitratePerChannel;  // the constant rate it resembles
};
// Weight and equivalent bit rate per channel of a quality 0..100, interpolated linearly.
[[nodiscard]] VbrQualityRow tableLog(int quality);

}  // namespace quillion::mp3enc
