// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder's inner loops that have vectorised variants. Each is reached through a
// process-wide pointer (declared beside its portable variant) that starts at the portable
// variant; selectKernels() moves the pointers to the variants this processor runs, once per
// process, before the first encoder opens. After that no pointer is written again, so encoders
// on several threads always see one consistent set.
#pragma once

#include <cstdint>

#include "mp3enc/block_switching.h"
#include "mp3enc/psy_model.h"
#include "mp3enc/quantizer.h"
#include "mp3enc/scalefactors.h"
#include "mp3enc/stereo_processing.h"
#include "mp3enc/threshold_adjustment.h"

#if defined(__SSE2__) || defined(_M_X64)
#define QUILLION_MP3_HAVE_SSE2 1
#else
#define QUILLION_MP3_HAVE_SSE2 0
#endif

namespace quillion::mp3enc {

// Which variants the pointers hold.
enum class KernelSet { Portable, Sse, Sse2 };

// Chooses the variants once per process (thread-safe); every encoder open calls it.
void selectKernels();
// The set chosen (Portable before selectKernels has run).
[[nodiscard]] KernelSet activeKernels();

// Stores the vectorised variants the processor supports (SSE: the first six kernels, SSE2:
// the quantisers and the form factors). Only selectKernels and the test hook call it.
void initSSE();
void initAdjThrSSE();
void initBandNrgSSE();
void initBlockSwitchSSE();
void initLinePeSSE();
void initQuantSSE();
void initQuantSSE2();
void initSfEstimSSE2();

// Test hook: portable = true puts every pointer back to its portable variant, false re-selects
// what the processor supports. Only for tests, and only while no encoder runs.
void forcePortableKernelsForTesting(bool portable);

#if QUILLION_MP3_HAVE_SSE2
void calcThreshExp_Opt(const PsyOut* psy, float thrExp[2][kMaxSfbEntries], int first, int end);
void CalcBandEnergy_Opt(const float* spectrum, const int* offsets, int bandCount, float* energy);
void CalcBandEnergyMS_Opt(const float* left, const float* right, const int* offsets, int bandCount,
                          float* mid, float* side);
int mp3BlockSwitching_Opt(BlockSwitchingState* state, const float* input, int stride);
void prepareSfbPe_Opt(const PsyOutChannel* channel, PeChannelData* pe);
void calcExpSpec_Opt(const float* spectrum, float* expSpec, int lines);
int quantizeExpSpecLines_Opt(const float* spectrum, const float* expSpec, int lines, int step,
                             std::int32_t* quantised);
int quantizeLines_Opt(const float* spectrum, int lines, int step, std::int32_t* quantised);
void CalcFormFactorChannel_Opt(float* formFactor, float* maxSpec, const PsyOutChannel* channel);
#endif

}  // namespace quillion::mp3enc
