// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/psy_model.h"

#include <algorithm>
#include <new>

#include "mp3enc/kernels.h"
#include "mp3enc/scalefactors.h"
#include "mp3enc/stereo_processing.h"
#include "mp3enc/threshold_adjustment.h"

namespace quillion::mp3enc {

namespace {

constexpr float kNoMasking = 1e20f;
constexpr int kLongDelayLookAhead = 896;
constexpr int kLongDelayPolyOffset = 752;

}  // namespace

int PsyNew(PsyData** out, const PsySettings* settings) {
  // Every encoder open builds its model here, before any kernel runs: the variants are chosen
  // then, once per process.
  selectKernels();
  if (!out || !settings) return 1;
  *out = nullptr;
  PsyPtr psy(new (std::nothrow) PsyData);
  if (!psy) return 1;
  for (PsyChannel& c : psy->channel) {
    BlockSwitchingState* bs = nullptr;
    if (mp3BlockSwitchingNew(&bs) != 0) return 1;
    c.blockSwitching.reset(bs);
    PolyPhaseState* poly = nullptr;
    if (PolyPhaseNew(&poly) != 0) return 1;
    c.polyPhase.reset(poly);
    c.transform = makeAlignedArray<float>(kTransformFloats);
    if (!c.transform) return 1;
  }
  *out = psy.release();
  return 0;
}

void PsyDelete(PsyData* psy) {
  delete psy;
}

int PsyInit(PsyData* psy, const PsySettings* s) {
  if (!psy || !s || s->channels < 1 || s->channels > 2) return 1;
  psy->channels = s->channels;
  psy->lookAhead = s->longDelay ? kLongDelayLookAhead : kBlockSwitchingOffset;
  psy->polyOffset = s->longDelay ? kLongDelayPolyOffset : 0;
  InputBuffer* input = nullptr;
  if (InputBufferNew(&input, psy->lookAhead) != 0) return 1;
  psy->input.reset(input);
  const int kinds[2] = {kBlockLong, kBlockShort};
  for (int k = 0; k < 2; ++k) {
    PsyConfiguration& c = psy->config[k];
    c = PsyConfiguration{};
    c.msSwitch = s->jointStereo;
    if (InitPsyConfiguration(s->bitrate, s->sampleRate, s->bandwidth, kinds[k], &c) != 0) return 1;
    if (s->intensityOff) c.isSwitch = 0;
    InitBarcValues(k == 0 ? 576 : 192, s->sampleRate, c.sfbCnt, c.sfbOffset, c.spreadUp,
                   c.spreadDown);
    InitMinPCMResolution(c.sfbCnt, s->pcmResolution, &c);
  }
  InitInputBuffer(psy->input.get());
  psy->stereo = PsyStereo{};
  std::fill(std::begin(psy->stereo.isPosition), std::end(psy->stereo.isPosition),
            isNeutralPosition(psy->config[0].rateClass));
  for (PsyChannel& c : psy->channel) {
    c.blockType = kBlockLong;
    mp3BlockSwitchingInit(c.blockSwitching.get());
    PolyPhaseInit(c.polyPhase.get());
    InitTransform(c.transform.get());
    std::fill(std::begin(c.preEchoMemory), std::end(c.preEchoMemory), 0.0f);
  }
  return 0;
}

int psyFeedInputBufferFloat(PsyData* psy, const float* pairs, int pairCount) {
  FeedInputBuffer(psy->input.get(), pairs, pairCount);
  return 0;
}

float* psyGetInputBufferFloat(PsyData* psy) {
  return AccessInputBuffer(psy->input.get(), psy->polyOffset, 0);
}

void CalcBandEnergy_NoOpt(const float* spectrum, const int* offsets, int bandCount, float* energy) {
  for (int b = 0; b < bandCount; ++b) {
    float sum = 0.0f;
    for (int i = offsets[b]; i < offsets[b + 1]; ++i) sum += spectrum[i] * spectrum[i];
    energy[b] = sum;
  }
}

void mp3PreEchoControl(float* memory, int bandCount, float factorUp, float factorDown,
                       float* thresholds) {
  for (int b = 0; b < bandCount; ++b) {
    const float previous = memory[b];
    memory[b] = thresholds[b];
    thresholds[b] =
        std::max(factorDown * thresholds[b], std::min(factorUp * previous, thresholds[b]));
  }
}

void BuildInterface(const float* spectrum, const float* thresholds, const float* energies,
                    const float* msEnergies, int blockType, int bandCount, int activeCount,
                    const int* offsets, PsyOutChannel* out) {
  out->blockType = blockType;
  if (blockType != kBlockShort) {
    out->windows = 1;
    out->sfbCnt = bandCount;
    out->sfbActive = activeCount;
    std::copy(spectrum, spectrum + kPsyLines, out->spectrum);
    std::copy(thresholds, thresholds + bandCount, out->threshold);
    std::copy(energies, energies + bandCount, out->energy);
    std::copy(msEnergies, msEnergies + bandCount, out->msEnergy);
    std::copy(offsets, offsets + bandCount + 1, out->sfbOffset);
    return;
  }
  // Short: spectrum holds the three windows one after another (192 lines each); the per-band
  // arrays are already window-interleaved.
  out->windows = 3;
  out->sfbCnt = 3 * bandCount;
  out->sfbActive = 3 * activeCount;
  for (int b = 0; b < bandCount; ++b) {
    const int start = offsets[b], width = offsets[b + 1] - offsets[b];
    for (int w = 0; w < 3; ++w) {
      out->sfbOffset[3 * b + w] = 3 * start + w * width;
      for (int k = 0; k < width; ++k)
        out->spectrum[3 * start + w * width + k] = spectrum[w * kShortWindowLines + start + k];
      out->threshold[3 * b + w] = thresholds[3 * b + w];
      out->energy[3 * b + w] = energies[3 * b + w];
      out->msEnergy[3 * b + w] = msEnergies[3 * b + w];
    }
  }
  out->sfbOffset[3 * bandCount] = 3 * offsets[bandCount];
}

namespace {

// Energies, thresholds and pre-echo control of one window's bands.
void bandThresholds(const PsyConfiguration& cfg, const float* spectrum, float* memory,
                    float* energy, float* threshold) {
  const int active = cfg.sfbActive;
  CalcBandEnergy(spectrum, cfg.sfbOffset, active, energy);
  for (int b = active; b < cfg.sfbCnt; ++b) energy[b] = 0.0f;
  for (int b = 0; b < active; ++b)
    threshold[b] = std::min(energy[b] * cfg.snrFactor, cfg.thresholdCap);
  SpreadingMax(active, cfg.spreadDown, cfg.spreadUp, threshold);
  for (int b = 0; b < active; ++b) threshold[b] = std::max(threshold[b], cfg.quietThreshold[b]);
  mp3PreEchoControl(memory, active, cfg.preEchoRise, cfg.preEchoFloor, threshold);
  for (int b = active; b < cfg.sfbCnt; ++b) threshold[b] = kNoMasking;
}

// The channels' stereo analysis runs with channel 1 once channel 0 of the same kind is done.
bool stereoPartner(const PsyData* psy, int ch) {
  return ch == 1 && psy->channels == 2 &&
         (psy->channel[0].blockType == kBlockShort) == (psy->channel[1].blockType == kBlockShort);
}

void advancePsychLong(PsyData* psy, int ch) {
  const PsyConfiguration& cfg = psy->config[0];
  PsyChannel& c = psy->channel[ch];
  MdctTransform_LONG(c.transform.get(), c.spectrum, c.blockType);
  AliasReduction(c.spectrum);
  for (int i = cfg.cutOffLine; i < kPsyLines; ++i) c.spectrum[i] = 0.0f;
  if (c.blockType == kBlockStop)
    std::fill(std::begin(c.preEchoMemory), std::end(c.preEchoMemory), kNoMasking);
  bandThresholds(cfg, c.spectrum, c.preEchoMemory, c.sfbEnergy, c.sfbThreshold);
  if (c.blockType == kBlockStart)
    std::fill(std::begin(c.preEchoMemory), std::end(c.preEchoMemory), kNoMasking);
  PsyStereo& st = psy->stereo;
  st.isStart[0] = st.isStart[1] = st.isStart[2] = cfg.sfbActive;
  if (!stereoPartner(psy, ch)) return;
  PsyChannel& left = psy->channel[0];
  if (cfg.msSwitch)
    CalcBandEnergyMS(left.spectrum, c.spectrum, cfg.sfbOffset, cfg.sfbActive, left.msEnergy,
                     c.msEnergy);
  if (cfg.isSwitch) {
    st.isStart[0] = CalcIntensityPositions(
        cfg.rateClass, left.spectrum, c.spectrum, left.sfbEnergy, c.sfbEnergy, left.sfbThreshold,
        c.sfbThreshold, cfg.sfbOffset, cfg.isFirstBand, cfg.sfbActive, false, cfg.isErrorFactor,
        st.isPosition, IsBandResult{st.isPosition, st.kR, st.kL, st.cross});
  }
}

// The stereo analysis of one short window: band b of window w sits at entry 3b + w.
void shortWindowStereo(PsyData* psy, int w) {
  const PsyConfiguration& cfg = psy->config[1];
  PsyChannel& left = psy->channel[0];
  PsyChannel& right = psy->channel[1];
  PsyStereo& st = psy->stereo;
  if (cfg.msSwitch) {
    float mid[kShortBands], side[kShortBands];
    CalcBandEnergyMS(left.shortSpectrum[w], right.shortSpectrum[w], cfg.sfbOffset, cfg.sfbActive,
                     mid, side);
    for (int b = 0; b < kShortBands; ++b) {
      left.msEnergy[3 * b + w] = b < cfg.sfbActive ? mid[b] : 0.0f;
      right.msEnergy[3 * b + w] = b < cfg.sfbActive ? side[b] : 0.0f;
    }
  }
  if (!cfg.isSwitch) return;
  float eL[kShortBands], eR[kShortBands], tL[kShortBands], tR[kShortBands];
  int previous[kShortBands], positions[kShortBands];
  float kL[kShortBands], kR[kShortBands], cross[kShortBands];
  // Window w follows window w - 1; window 0 follows the last granule's window 2.
  const int before = w == 0 ? 2 : w - 1;
  for (int b = 0; b < kShortBands; ++b) {
    eL[b] = left.sfbEnergy[3 * b + w];
    eR[b] = right.sfbEnergy[3 * b + w];
    tL[b] = left.sfbThreshold[3 * b + w];
    tR[b] = right.sfbThreshold[3 * b + w];
    previous[b] = st.isPosition[3 * b + before];
  }
  st.isStart[w] =
      CalcIntensityPositions(cfg.rateClass, left.shortSpectrum[w], right.shortSpectrum[w], eL, eR,
                             tL, tR, cfg.sfbOffset, cfg.isFirstBand, cfg.sfbActive, true,
                             cfg.isErrorFactor, previous, IsBandResult{positions, kR, kL, cross});
  for (int b = cfg.isFirstBand; b < cfg.sfbActive; ++b) {
    st.isPosition[3 * b + w] = positions[b];
    st.kL[3 * b + w] = kL[b];
    st.kR[3 * b + w] = kR[b];
    st.cross[3 * b + w] = cross[b];
  }
}

void advancePsychShort(PsyData* psy, int ch) {
  const PsyConfiguration& cfg = psy->config[1];
  PsyChannel& c = psy->channel[ch];
  const bool partner = stereoPartner(psy, ch);
  for (int w = 0; w < 3; ++w) {
    float* spectrum = c.shortSpectrum[w];
    MdctTransform_SHORT(c.transform.get(), spectrum, w);
    for (int i = cfg.cutOffLine; i < kShortWindowLines; ++i) spectrum[i] = 0.0f;
    float energy[kShortBands], threshold[kShortBands];
    bandThresholds(cfg, spectrum, c.preEchoMemory, energy, threshold);
    for (int b = 0; b < kShortBands; ++b) {
      c.sfbEnergy[3 * b + w] = energy[b];
      c.sfbThreshold[3 * b + w] = threshold[b];
    }
    psy->stereo.isStart[w] = cfg.sfbActive;
    if (partner) shortWindowStereo(psy, w);
  }
  for (int w = 0; w < 3; ++w)
    std::copy(c.shortSpectrum[w], c.shortSpectrum[w] + kShortWindowLines,
              c.spectrum + w * kShortWindowLines);
}

// Intensity positions follow the right channel when it changes between long and short.
void adaptPositions(PsyData* psy) {
  const PsyChannel& c = psy->channel[1];
  const PsyConfiguration& cfg = psy->config[c.blockType == kBlockShort ? 1 : 0];
  PsyStereo& st = psy->stereo;
  if (!cfg.isSwitch) return;
  const int kind = c.blockType == kBlockShort ? kBlockShort : kBlockLong;
  if (st.previousKind[1] >= 0 && st.previousKind[1] != kind) {
    AdaptIntensityPositions(cfg.rateClass, st.previousKind[1], kind, st.isPosition);
    if (kind == kBlockShort) {
      for (int b = 0; b < kShortBands; ++b)
        st.isPosition[3 * b + 1] = st.isPosition[3 * b + 2] = st.isPosition[3 * b];
    }
  }
  st.previousKind[1] = kind;
}

// Mid/side and intensity stereo of a granule whose channels share one block kind.
void applyStereo(PsyData* psy, int granule, PsyOut* out) {
  const bool isShort = psy->channel[0].blockType == kBlockShort;
  const PsyConfiguration& cfg = psy->config[isShort ? 1 : 0];
  PsyStereo& st = psy->stereo;
  const int windows = isShort ? 3 : 1;
  if (windows == 1) st.isStart[1] = st.isStart[2] = st.isStart[0];
  if (granule == 1 && !st.isFrameDecision) {
    for (int& start : st.isStart) start = cfg.sfbActive;
  }
  PsyChannel& l = psy->channel[0];
  PsyChannel& r = psy->channel[1];
  const StereoBands bands{l.sfbEnergy,    r.sfbEnergy,    l.spectrum,    r.spectrum,
                          l.sfbThreshold, r.sfbThreshold, cfg.sfbOffset, windows};
  if (cfg.msSwitch) {
    out->msUsed = MsStereoProcessing(bands, l.msEnergy, r.msEnergy, &st.msPrevious, granule,
                                     st.isStart, cfg.sfbActive);
  }
  bool below = false;
  for (int w = 0; w < 3; ++w) {
    out->sfbActiveWindow[w] = cfg.sfbActive;
    out->isStartWindow[w] = st.isStart[w];
    below |= w < windows && st.isStart[w] < cfg.sfbActive;
  }
  if (granule == 0) {
    st.isFrameDecision = cfg.isSwitch && below ? 1 : 0;
    out->isUsed = st.isFrameDecision;
  } else {
    out->isUsed = cfg.isSwitch ? st.isFrameDecision : 0;
  }
  if (!out->isUsed) return;
  IsStereoProcessing(cfg.rateClass, bands, st.kR, st.kL, st.cross, st.isStart, cfg.sfbActive);
  std::copy(std::begin(st.isPosition), std::end(st.isPosition), out->isPosition);
}

}  // namespace

float psyMain(PsyData* psy, int granule, PsyOut* out, int independent) {
  const int n = psy->channels;
  for (int ch = 0; ch < n; ++ch) {
    mp3BlockSwitching(psy->channel[ch].blockSwitching.get(),
                      AccessInputBuffer(psy->input.get(), psy->lookAhead, ch), 2);
  }
  for (int ch = 0; ch < n; ++ch) {
    PsyChannel& c = psy->channel[ch];
    ShiftTransformBuffer(c.transform.get());
    PolyAnalyse(c.polyPhase.get(), AccessInputBuffer(psy->input.get(), psy->polyOffset, ch),
                c.transform.get());
  }
  int types[2] = {kBlockLong, kBlockLong};
  mp3SyncBlockSwitching(psy->channel[0].blockSwitching.get(), psy->channel[1].blockSwitching.get(),
                        n, independent ? 0 : 1, &types[0], &types[1]);
  for (int ch = 0; ch < n; ++ch) {
    PsyChannel& c = psy->channel[ch];
    c.blockType = types[ch];
    if (ch == 1) adaptPositions(psy);
    if (c.blockType == kBlockShort)
      advancePsychShort(psy, ch);
    else
      advancePsychLong(psy, ch);
  }
  InvalidateInputBuffer(psy->input.get(), kPsyLines);

  out->channels = n;
  out->msUsed = 0;
  out->isUsed = 0;
  out->shortPresent = 0;
  const int shortActive = psy->config[1].sfbActive;
  for (int w = 0; w < 3; ++w) {
    const bool anyShort = psy->channel[0].blockType == kBlockShort;
    out->sfbActiveWindow[w] = anyShort ? shortActive : psy->config[0].sfbActive;
    out->isStartWindow[w] = out->sfbActiveWindow[w];
  }
  if (n == 2 &&
      (psy->channel[0].blockType == kBlockShort) == (psy->channel[1].blockType == kBlockShort))
    applyStereo(psy, granule, out);
  for (int ch = 0; ch < n; ++ch) {
    PsyChannel& c = psy->channel[ch];
    const PsyConfiguration& cfg = psy->config[c.blockType == kBlockShort ? 1 : 0];
    PsyOutChannel& o = out->channel[ch];
    BuildInterface(c.spectrum, c.sfbThreshold, c.sfbEnergy, c.msEnergy, c.blockType, cfg.sfbCnt,
                   cfg.sfbActive, cfg.sfbOffset, &o);
    CalcFormFactorChannel(o.formFactor, o.maxSpec, &o);
    prepareSfbPe(&o, &out->peData.channel[ch]);
    if (c.blockType == kBlockShort) out->shortPresent = 2;
  }
  calcPe(&out->peData, out, 0, n);
  out->totalPe = out->peData.pe;
  out->totalPeForRate = out->peData.pe;
  return out->totalPe;
}

int CreatePsyList(PsyListNode** head, PsyListNode** tail, PsyListNode** middle, int count) {
  if (!head || !tail || !middle) return 1;
  *head = *tail = *middle = nullptr;
  if (count < 1) return 1;
  PsyListNode* first = nullptr;
  PsyListNode* last = nullptr;
  PsyListNode* mid = nullptr;
  for (int i = 0; i < count; ++i) {
    auto* node = new (std::nothrow) PsyListNode;
    if (node && i <= count / 2) {
      node->out.reset(new (std::nothrow) PsyOut);
      if (!node->out) {
        delete node;
        node = nullptr;
      }
    }
    if (!node) {
      DelPsyList(first);
      return 1;
    }
    node->previous = last;
    if (last) last->next = node;
    if (!first) first = node;
    last = node;
    if (i == count / 2) mid = node;
  }
  *head = first;
  *tail = last;
  *middle = mid;
  return 0;
}

int FeedPsyList(PsyListNode** head, PsyListNode** tail, PsyListNode** middle) {
  PsyListNode* h = *head;
  PsyListNode* t = *tail;
  PsyListNode* m = *middle;
  if (!h || !t || !m || h == t) return 0;  // one node: it is head and middle at once
  if (m != t) {
    t->out = std::move(m->out);
    m->ready = 0;
  }
  *middle = m->previous ? m->previous : t;
  // The tail moves to the front.
  PsyListNode* before = t->previous;
  before->next = nullptr;
  t->previous = nullptr;
  t->next = h;
  h->previous = t;
  t->ready = 0;
  *head = t;
  *tail = before;
  return 0;
}

void DelPsyList(PsyListNode* head) {
  while (head) {
    PsyListNode* next = head->next;
    delete head;
    head = next;
  }
}

}  // namespace quillion::mp3enc
