// SPDX-License-Identifier: GPL-2.0-or-later
// The stereo tools of the encoder. Pre-processing narrows the stereo image of the PCM input
// when the bit demand is high; intensity stereo replaces the upper bands of both channels by
// one channel and a position per band; mid/side codes the bands below as (L + R) / sqrt 2 and
// (L - R) / sqrt 2 when that lowers the perceptual cost. Per-band arrays of several windows are
// band-major and window-minor (entry b x windows + w); the lines of window w start at
// w x 192.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace quillion::mp3enc {

struct PsyOut;

// Sample-rate classes of the intensity tables: 0 for MPEG-1, 1 and 2 for the lower rates.
inline constexpr int kIsClasses = 3;
inline constexpr int kIsPositions = 31;
inline constexpr int kIsShortBands = 13;
inline constexpr int kIsLongBands = 22;
inline constexpr int kIsFirstBand = 7;
// The error allowed when two channels are merged: 10^-2.7.
inline constexpr float kIsErrorFactor = 0.0019952622f;

// kL of position k is attTab[class][k], kR is attTab[class][31 + k].
extern const std::array<std::array<float, 2 * kIsPositions>, kIsClasses> attTab;
// First and last long band that each short band covers, per class.
extern const std::int8_t transTable[kIsClasses][kIsShortBands][2];

// The position a band takes when both channels are silent: 3 (centre) for MPEG-1, 0 below.
constexpr int isNeutralPosition(int rateClass) {
  return rateClass == 0 ? 3 : 0;
}

struct IsBandResult {
  int* positions;  // out
  float* kR;       // out
  float* kL;       // out
  float* cross;    // out: kL kR x 2 sum(l r)
};

// One window's positions for bands first..end-1; the spectra, energies and thresholds are that
// window's (contiguous bands). previous holds the positions the band took last time. Returns
// the lowest band from which every band up to the end may be merged (the end when none).
int CalcIntensityPositions(int rateClass, const float* left, const float* right,
                           const float* energyL, const float* energyR, const float* thrL,
                           const float* thrR, const int* bandOffsets, int firstBand, int endBand,
                           bool shortBlock, float errorFactor, const int* previous,
                           const IsBandResult& out);

// Converts stored positions when a channel changes between long (kind != 2) and short (2)
// blocks. positions holds 22 long values or 3 x 13 short ones (entry 3b + w); long to short
// fills window 0 only, short to long reads window 2, the most recent.
void AdaptIntensityPositions(int rateClass, int previousKind, int newKind, int* positions);

struct StereoBands {
  float* energyL;
  float* energyR;
  float* spectrumL;
  float* spectrumR;
  float* thrL;
  float* thrR;
  const int* bandOffsets;  // of one window
  int windows;             // 1 or 3
};

// Merges both channels into the left one from each window's IS start to the active count.
void IsStereoProcessing(int rateClass, const StereoBands& bands, const float* kR, const float* kL,
                        const float* cross, const int* isStart, int activeCount);

// Decides M/S over each window's bands below its IS start and applies the decision of the
// frame: granule 0 applies its own, granule 1 that of granule 0. previous holds the last
// decision and receives this one. Returns 1 when the granule is coded as M/S.
int MsStereoProcessing(const StereoBands& bands, const float* midEnergy, const float* sideEnergy,
                       int* previous, int granule, const int* isStart, int bandsPerWindow);

// Mid and side energies of one window's bands: 0.5 sum (l + r)^2 and 0.5 sum (l - r)^2.
void CalcBandEnergyMS_NoOpt(const float* left, const float* right, const int* offsets,
                            int bandCount, float* mid, float* side);
using BandEnergyMSFunc = void (*)(const float*, const float*, const int*, int, float*, float*);
extern BandEnergyMSFunc CalcBandEnergyMS;

struct StereoPreProcessing {
  float bitsPerGranule = 0.0f;  // per channel
  float fixedWidth = 0.0f;      // 0: adaptive
  float width = 1.5f;
  float rise = 0.0f;
  float fall = 0.0f;
  int enabled = 1;
  float midSum = 0.0f;
  float sideSum = 0.0f;
  float tableStep = 0.5f;
  float largestWidth = 15.0f;
  float gainA[kIsPositions] = {};
  float gainB[kIsPositions] = {};
  float sideToMid = 0.0f;  // dB, smoothed
  float levelLow = 5.0f;
  float levelHigh = 25.0f;
  float demandLow = 30.0f;
  float demandHigh = 120.0f;
  float demandCap = 100.0f;
  float scale = 0.0f;
  float peDemand = 0.0f;
};

// Nothing is made (holder null, result 0) when enable is 0 or there are fewer than two
// channels; 1 when memory runs out or holder is null.
[[nodiscard]] int CreateStereoPreProcessing(StereoPreProcessing** holder, int channels,
                                            std::int32_t bitrate, std::int32_t sampleRate,
                                            int enable);
void DeleteStereoPreProcessing(StereoPreProcessing* object);
// Narrows the next granule's interleaved pairs in place; nothing happens for a null object.
void AdvanceStereoPreStep1(StereoPreProcessing* object, int channels, float* pairs, int count);
// Takes the analysed granule's M/S energies and perceptual entropy; null is ignored.
void AdvanceStereoPreStep2(const PsyOut* psy, StereoPreProcessing* object);

struct StereoPreDeleter {
  void operator()(StereoPreProcessing* p) const noexcept { DeleteStereoPreProcessing(p); }
};
using StereoPrePtr = std::unique_ptr<StereoPreProcessing, StereoPreDeleter>;

}  // namespace quillion::mp3enc
