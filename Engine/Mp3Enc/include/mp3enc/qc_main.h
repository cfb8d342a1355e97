// SPDX-License-Identifier: GPL-2.0-or-later
// The quantisation and coding loop: per granule it adjusts the model's thresholds to the bits
// the reservoir allows, derives scalefactors from them, and raises the global gain of the
// channels that still take too many bits until the granule fits.
#pragma once

#include <cstdint>
#include <memory>

#include "mp3enc/aligned_memory.h"
#include "mp3enc/bit_count.h"
#include "mp3enc/granule_info.h"
#include "mp3enc/psy_out.h"
#include "mp3enc/threshold_adjustment.h"

namespace quillion::mp3enc {

struct QCSettings {
  int channels = 2;
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int rateSlot = 0;
  int maxBits = 0;       // per granule, all channels
  float peStart = 0.0f;  // ten times the lines below the bandwidth
  int bitratePerChannel = 0;
  // Variable bit rate: on, the quality (0..100), the output sample rate and the statistics
  // the core owns. In this mode the loop's budget is maxBits and nothing else.
  int vbr = 0;
  int quality = 0;
  int sampleRate = 44100;
  PeStats* stats = nullptr;
};

// The bits one granule may take, as the core's reservoir sees them.
struct QCBudget {
  float meanBits = 0.0f;       // the granule's share of the frame
  float reservoirBits = 0.0f;  // what the reservoir holds beyond that share
  float reservoirSize = 0.0f;  // the most it can hold
  int maxBits = 0;             // hard ceiling for this granule
  int ancillaryBits = 0;       // this granule's share of the ancillary bits
};

struct QCState {
  QCSettings settings;
  AdjThrState adjThr;
  BitCounter counter;
  // Constant rate: the bit-rate weighting by rate per channel. Variable rate: the desired mean
  // PE per channel and granule of the quality.
  float weight = 0.0f;
  AlignedArray<float> expSpec;
};

[[nodiscard]] int QCNew(QCState** qc);
void QCDelete(QCState* qc);
int QCInit(QCState* qc, const QCSettings& settings);
// Codes one granule of the model's output into out[channel]; returns the bits it takes.
int QCMain(QCState* qc, PsyOut* psy, GranuleChannel* out, const QCBudget& budget);

// Scalefactor bits of a granule: bands times slen over the partitions.
[[nodiscard]] int scfBitCount(const GranuleChannel& g);

struct QCDeleter {
  void operator()(QCState* q) const noexcept { QCDelete(q); }
};
using QCPtr = std::unique_ptr<QCState, QCDeleter>;

}  // namespace quillion::mp3enc
