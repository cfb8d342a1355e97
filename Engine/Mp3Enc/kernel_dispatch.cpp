// SPDX-License-Identifier: GPL-2.0-or-later
#include <atomic>
#include <mutex>

#include "mp3enc/cpu_caps.h"
#include "mp3enc/kernels.h"

namespace quillion::mp3enc {

CalcThreshExpFunc calcThreshExp = calcThreshExp_NoOpt;
BandEnergyFunc CalcBandEnergy = CalcBandEnergy_NoOpt;
BandEnergyMSFunc CalcBandEnergyMS = CalcBandEnergyMS_NoOpt;
BlockSwitchingFunc mp3BlockSwitching = mp3BlockSwitching_NoOpt;
PrepareSfbPeFunc prepareSfbPe = prepareSfbPe_NoOpt;
ExpSpecFunc calcExpSpec = calcExpSpec_NoOpt;
QuantizeExpSpecFunc quantizeExpSpecLines = quantizeExpSpecLines_NoOpt;
QuantizeLinesFunc quantizeLines = quantizeLines_NoOpt;
FormFactorFunc CalcFormFactorChannel = CalcFormFactorChannel_NoOpt;

namespace {

std::atomic<KernelSet> chosenSet{KernelSet::Portable};

void storePortableKernels() {
  calcThreshExp = calcThreshExp_NoOpt;
  CalcBandEnergy = CalcBandEnergy_NoOpt;
  CalcBandEnergyMS = CalcBandEnergyMS_NoOpt;
  mp3BlockSwitching = mp3BlockSwitching_NoOpt;
  prepareSfbPe = prepareSfbPe_NoOpt;
  calcExpSpec = calcExpSpec_NoOpt;
  quantizeExpSpecLines = quantizeExpSpecLines_NoOpt;
  quantizeLines = quantizeLines_NoOpt;
  CalcFormFactorChannel = CalcFormFactorChannel_NoOpt;
  chosenSet.store(KernelSet::Portable, std::memory_order_relaxed);
}

}  // namespace

#if QUILLION_MP3_HAVE_SSE2
void initAdjThrSSE() {
  calcThreshExp = calcThreshExp_Opt;
}
void initBandNrgSSE() {
  CalcBandEnergyMS = CalcBandEnergyMS_Opt;
  CalcBandEnergy = CalcBandEnergy_Opt;
}
void initBlockSwitchSSE() {
  mp3BlockSwitching = mp3BlockSwitching_Opt;
}
void initLinePeSSE() {
  prepareSfbPe = prepareSfbPe_Opt;
}
void initQuantSSE() {
  calcExpSpec = calcExpSpec_Opt;
}
void initQuantSSE2() {
  quantizeExpSpecLines = quantizeExpSpecLines_Opt;
  quantizeLines = quantizeLines_Opt;
}
void initSfEstimSSE2() {
  CalcFormFactorChannel = CalcFormFactorChannel_Opt;
}
#else
// Without the vector instruction sets in the build every pointer keeps its portable variant.
void initAdjThrSSE() {}
void initBandNrgSSE() {}
void initBlockSwitchSSE() {}
void initLinePeSSE() {}
void initQuantSSE() {}
void initQuantSSE2() {}
void initSfEstimSSE2() {}
#endif

void initSSE() {
  KernelSet set = KernelSet::Portable;
  if (QUILLION_MP3_HAVE_SSE2 && GetCPUInfo(2) != 0) {
    initAdjThrSSE();
    initBandNrgSSE();
    initBlockSwitchSSE();
    initLinePeSSE();
    initQuantSSE();
    set = KernelSet::Sse;
  }
  if (QUILLION_MP3_HAVE_SSE2 && GetCPUInfo(3) != 0) {
    initQuantSSE2();
    initSfEstimSSE2();
    set = KernelSet::Sse2;
  }
  chosenSet.store(set, std::memory_order_relaxed);
}

void selectKernels() {
  static std::once_flag once;
  std::call_once(once, initSSE);
}

KernelSet activeKernels() {
  return chosenSet.load(std::memory_order_relaxed);
}

void forcePortableKernelsForTesting(bool portable) {
  selectKernels();  // so that a later first open cannot overwrite the forced set
  if (portable) {
    storePortableKernels();
  } else {
    initSSE();
  }
}

}  // namespace quillion::mp3enc
