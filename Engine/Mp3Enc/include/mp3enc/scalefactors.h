// SPDX-License-Identifier: GPL-2.0-or-later
// Scalefactors from the adjusted thresholds: each band's step estimated from its threshold
// and form factor, mapped onto what Layer III can say (global gain, scalefactor scale,
// subblock gains, pre-emphasis, values that fit their fields), and the cheapest
// scalefac_compress for them.
#pragma once

#include "mp3enc/psy_out.h"

namespace quillion::mp3enc {

// A band without a scalefactor: nothing of it is coded.
inline constexpr int kNoScf = -9999;

extern const int ldTab[33];
extern const int scfBitsPerMpeg1Partition[16][2];
extern const int preEmphasisTab[22];
extern const int scfCntPerMpeg2Partition[6][3][4];
extern const int scfBitsPerMpeg2Partition[6][4];
extern const int preEmphasisWithScheme[6];
extern const int scfCntPerPartitionDefault[2][4];  // long, short
extern const int scfBitsPerPartitionDefault[4];

// Sum of sqrt|x| (+1e-10) and the largest |x| of each active band.
void CalcFormFactorChannel_NoOpt(float* formFactor, float* maxSpec, const PsyOutChannel* channel);
using FormFactorFunc = void (*)(float*, float*, const PsyOutChannel*);
extern FormFactorFunc CalcFormFactorChannel;

// Scalefactor per band in steps of 2^(1/4) (minus the band's quantiser step), or kNoScf.
void EstimateScaleFactorsChannel(const PsyOutChannel* channel, int* scf, const float* formFactor,
                                 const float* maxSpec);

struct ScfMapping {
  int globalGain = 0;
  int subblockGain[3] = {};
  int scalefacScale = 0;
  int preflag = 0;
  int maxAllowed[kMaxSfbEntries] = {};  // per band, when gain blending is on
};
// Turns the estimate in scf into Layer III scalefactors in place.
void AdaptScfToMp3Channel(int bandCount, int blockType, int gainBlending, int* scf,
                          const int* partitionSizes, const int* partitionLengths,
                          int preEmphasisAllowed, const float* maxSpec, ScfMapping* out);

// The chosen scalefac_compress; writes the partition sizes and lengths.
int findScfCompressMPEG1(int blockType, const int* scf, int* partitionSizes, int* lengths);
int findScfCompressMPEG2(int intensity, int blockType, const int* scf, int preEmphasis,
                         int* partitionSizes, int* lengths, const int* isStart, int bandCount);

}  // namespace quillion::mp3enc
