// SPDX-License-Identifier: GPL-2.0-or-later
// The psychoacoustic model: once per granule it chooses each channel's window by attack
// detection, runs the hybrid filter bank, computes band energies and masking thresholds
// (spreading on the Bark scale, threshold in quiet, pre-echo control) and hands
// quantisation a self-contained PsyOut with the perceptual-entropy data. Every instance is
// independent; no state is shared between encoders.
#pragma once

#include <cstdint>
#include <memory>

#include "mp3enc/aligned_memory.h"
#include "mp3enc/block_switching.h"
#include "mp3enc/filter_bank.h"
#include "mp3enc/psy_configuration.h"
#include "mp3enc/psy_out.h"

namespace quillion::mp3enc {

struct PsySettings {
  std::int32_t sampleRate = 44100;
  std::int32_t bitrate = 128000;  // bit/s
  int channels = 2;
  float bandwidth = 0.0f;  // Hz
  int intensityOff = 1;
  int jointStereo = 0;  // the M/S wish
  int longDelay = 0;
  int pcmResolution = 16;
};

struct PsyChannel {
  BlockSwitchingPtr blockSwitching;
  int blockType = kBlockLong;
  PolyPhasePtr polyPhase;
  AlignedArray<float> transform;
  float spectrum[kPsyLines] = {};
  float sfbEnergy[kMaxSfbEntries] = {};  // long: 22; short: 3 windows of 13
  float sfbThreshold[kMaxSfbEntries] = {};
  float preEchoMemory[kLongBands] = {};
  float shortSpectrum[3][kShortWindowLines] = {};
  // Channel 0 keeps the mid energies, channel 1 the side energies (same layout as sfbEnergy).
  float msEnergy[kMaxSfbEntries] = {};
};

// What the stereo tools carry from granule to granule.
struct PsyStereo {
  int isFrameDecision = 0;  // granule 0's intensity choice, kept for granule 1
  int msPrevious = 0;       // the last M/S decision
  int isStart[3] = {};
  int isPosition[kMaxSfbEntries] = {};  // long: 22; short: entry 3b + w
  float kL[kMaxSfbEntries] = {};
  float kR[kMaxSfbEntries] = {};
  float cross[kMaxSfbEntries] = {};
  int previousKind[2] = {-1, -1};  // block kind each channel had, -1 before the first
};

struct PsyData {
  int channels = 1;
  int lookAhead = kBlockSwitchingOffset;
  int polyOffset = 0;
  PsyConfiguration config[2];  // long, short
  PsyChannel channel[2];
  PsyStereo stereo;
  InputBufferPtr input;
};

// 0, or 1 when out is null or memory runs out (nothing is left allocated).
[[nodiscard]] int PsyNew(PsyData** out, const PsySettings* settings);
// 0, or 1 for a null pointer or a sample rate the band tables do not know.
[[nodiscard]] int PsyInit(PsyData* psy, const PsySettings* settings);
void PsyDelete(PsyData* psy);
int psyFeedInputBufferFloat(PsyData* psy, const float* pairs, int pairCount);
// The interleaved pairs the filter bank analyses next.
float* psyGetInputBufferFloat(PsyData* psy);
// One granule; returns its total perceptual entropy. Both channels take one window unless
// independent is non-zero.
float psyMain(PsyData* psy, int granule, PsyOut* out, int independent);

void CalcBandEnergy_NoOpt(const float* spectrum, const int* offsets, int bandCount, float* energy);
using BandEnergyFunc = void (*)(const float*, const int*, int, float*);
extern BandEnergyFunc CalcBandEnergy;
void mp3PreEchoControl(float* memory, int bandCount, float factorUp, float factorDown,
                       float* thresholds);
void BuildInterface(const float* spectrum, const float* thresholds, const float* energies,
                    const float* msEnergies, int blockType, int bandCount, int activeCount,
                    const int* bandOffsets, PsyOutChannel* out);

// The look-ahead queue of model outputs. Nodes 0..count/2 own a PsyOut; the model fills the
// head's, quantisation reads the middle's, count/2 granules later.
struct PsyListNode {
  std::unique_ptr<PsyOut> out;
  PsyListNode* next = nullptr;
  PsyListNode* previous = nullptr;
  int ready = 0;  // the node's PsyOut holds a granule not yet coded
};
// 0, or 1 for count < 1 or no memory (nothing is left allocated and the outputs are null).
[[nodiscard]] int CreatePsyList(PsyListNode** head, PsyListNode** tail, PsyListNode** middle,
                                int count);
// One step: the middle's PsyOut goes to the tail node, which becomes the new head; the
// middle moves back one node.
int FeedPsyList(PsyListNode** head, PsyListNode** tail, PsyListNode** middle);
void DelPsyList(PsyListNode* head);

// Owns a queue made by CreatePsyList.
struct PsyList {
  PsyListNode* head = nullptr;
  PsyListNode* tail = nullptr;
  PsyListNode* middle = nullptr;
  PsyList() = default;
  PsyList(const PsyList&) = delete;
  PsyList& operator=(const PsyList&) = delete;
  ~PsyList() { DelPsyList(head); }
};

struct PsyDeleter {
  void operator()(PsyData* p) const noexcept { PsyDelete(p); }
};
using PsyPtr = std::unique_ptr<PsyData, PsyDeleter>;

}  // namespace quillion::mp3enc
