// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/threshold_adjustment.h"

#include <algorithm>
#include <cmath>

namespace quillion::mp3enc {

namespace {

constexpr float kLog2Of8 = 3.0f;
constexpr float kC2 = 1.3219281f;  // log2(2.5)
constexpr float kC3 = 0.5593573f;  // 1 - log2(2.5) / 3
constexpr float sfbMinSnrL[22] = {0.004f, 0.004f, 0.006f, 0.011f, 0.02f, 0.032f, 0.05f, 0.1f,
                                  0.2f,   0.32f,  0.44f,  0.63f,  0.63f, 0.63f,  0.63f, 0.63f,
                                  0.63f,  0.63f,  0.63f,  0.63f,  0.63f, 0.63f};
constexpr float sfbMinSnrS[13] = {0.004f, 0.004f, 0.004f, 0.006f, 0.016f, 0.05f, 0.25f,
                                  0.5f,   0.63f,  0.63f,  0.63f,  0.63f,  0.63f};
constexpr BitResParams kLongParams = {0.2f, 0.9f, -0.05f, 0.3f, 0.2f, 0.9f, -0.03f, 0.5f};
constexpr BitResParams kShortParams = {0.2f, 0.9f, -0.05f, 0.2f, 0.2f, 0.8f, -0.03f, 1.0f};

// Avoid-hole flags: 0 the band may become a hole, 1 avoid it, 2 limited to its minimum SNR.
constexpr int kHoleFree = 0;
constexpr int kHoleAvoid = 1;
constexpr int kHoleLimited = 2;

bool isShortChannel(const PsyOutChannel& c) {
  return c.blockType == 2;
}
const float* minSnrOf(const AdjThrState* s, const PsyOutChannel& c) {
  return isShortChannel(c) ? s->minSnrShort : s->minSnrLong;
}

}  // namespace

int AdjThrInit(AdjThrState* s, float peStart, int bitratePerChannel, float bitsPerLine) {
  *s = AdjThrState{};
  s->peMin = 0.8f * peStart;
  s->peMax = 1.2f * peStart;
  s->longParams = kLongParams;
  s->shortParams = kShortParams;
  s->lastDesiredPe = 0.0f;
  s->lastBitsUsed = 0;
  s->peCorrection = 1.0f;
  const double r = bitratePerChannel;
  const float cap = bitratePerChannel >= 48000 ? 0.5f : 0.63f;
  const float longFloor = static_cast<float>(std::pow(10.0, -r / 32000.0));
  for (int b = 0; b < 22; ++b) s->minSnrLong[b] = std::min(std::max(sfbMinSnrL[b], longFloor), cap);
  const float shortFloor = static_cast<float>(std::pow(10.0, -1.2 * r / 32000.0));
  for (int b = 0; b < 13; ++b) {
    for (int w = 0; w < 3; ++w) s->minSnrShort[3 * b + w] = std::max(sfbMinSnrS[b], shortFloor);
  }
  if (bitsPerLine > 1.5f) {
    s->moreHolesLong = s->moreHolesShort = 0;
    s->firstHoleLong = 22;
    s->firstHoleShort = 39;
  } else if (bitsPerLine > 1.0f) {
    s->moreHolesLong = s->moreHolesShort = 0;
    s->firstHoleLong = 8;
    s->firstHoleShort = 9;
  } else if (bitsPerLine > 0.5f) {
    s->moreHolesLong = s->moreHolesShort = 1;
    s->firstHoleLong = 8;
    s->firstHoleShort = 9;
  } else {
    s->moreHolesLong = s->moreHolesShort = 1;
    s->firstHoleLong = 0;
    s->firstHoleShort = 0;
  }
  return 0;
}

int AdjThrUpdate(AdjThrState* s, int bits) {
  s->lastBitsUsed = bits;
  return bits;
}

int estimateLineCount(float formFactor, float energy, float width) {
  return static_cast<int>(formFactor * std::pow(energy / width, -0.25f) + 0.5f);
}

void prepareSfbPeBands(const PsyOutChannel* c, PeChannelData* pe, int first, int end) {
  for (int b = first; b < end; ++b) {
    const float e = c->energy[b];
    if (b < c->sfbActive && e > c->threshold[b]) {
      const float width = static_cast<float>(c->sfbOffset[b + 1] - c->sfbOffset[b]);
      pe->sfbNLines[b] = estimateLineCount(c->formFactor[b], e, width);
      pe->sfbLdEnergy[b] = std::log2(e);
    } else {
      pe->sfbNLines[b] = 0;
      pe->sfbLdEnergy[b] = 0.0f;
    }
  }
}

void prepareSfbPe_NoOpt(const PsyOutChannel* c, PeChannelData* pe) {
  prepareSfbPeBands(c, pe, 0, c->sfbCnt);
  pe->start = c->blockType == 2 ? 125.0f : 0.0f;
}

void calcSfbPe(PeChannelData* pe, const float* energy, const float* threshold, int bandCount) {
  pe->pe = pe->start;
  pe->constPart = pe->start;
  pe->nActiveLines = 0;
  for (int b = 0; b < bandCount; ++b) {
    if (threshold[b] < energy[b]) {
      const float nLines = static_cast<float>(pe->sfbNLines[b]);
      const float ldE = pe->sfbLdEnergy[b];
      const float ratio = ldE - std::log2(threshold[b]);
      if (ratio >= kLog2Of8) {
        pe->sfbPe[b] = nLines * ratio;
        pe->sfbConstPart[b] = nLines * ldE;
        pe->sfbNActiveLines[b] = pe->sfbNLines[b];
      } else {
        pe->sfbPe[b] = nLines * (kC2 + kC3 * ratio);
        pe->sfbConstPart[b] = nLines * (kC2 + kC3 * ldE);
        pe->sfbNActiveLines[b] = static_cast<int>(kC3 * nLines + 0.5f);
      }
    } else {
      pe->sfbPe[b] = 0.0f;
      pe->sfbConstPart[b] = 0.0f;
      pe->sfbNActiveLines[b] = 0;
    }
    pe->pe += pe->sfbPe[b];
    pe->constPart += pe->sfbConstPart[b];
    pe->nActiveLines += pe->sfbNActiveLines[b];
  }
}

void calcPe(PeData* pe, PsyOut* psy, int first, int end) {
  pe->pe = 0.0f;
  pe->constPart = 0.0f;
  pe->nActiveLines = 0;
  for (int ch = first; ch < end; ++ch) {
    PsyOutChannel& c = psy->channel[ch];
    PeChannelData& p = pe->channel[ch];
    calcSfbPe(&p, c.energy, c.threshold, c.sfbCnt);
    pe->pe += p.pe;
    pe->constPart += p.constPart;
    pe->nActiveLines += p.nActiveLines;
    c.pe = p.pe;
  }
}

void calcThreshExp_NoOpt(const PsyOut* psy, float thrExp[2][kMaxSfbEntries], int first, int end) {
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    for (int b = 0; b < c.sfbActive; ++b) thrExp[ch][b] = std::pow(c.threshold[b], 0.25f);
  }
}

namespace {

void initAvoidHoles(const PsyOut* psy, int ah[2][kMaxSfbEntries], int first, int end) {
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    const float* e = c.energy;
    float lastD = 0.0f, lastL = 0.0f;
    for (int b = 0; b < c.sfbCnt; ++b) {
      ah[ch][b] = kHoleAvoid;
      if (!isShortChannel(c)) {
        const float d = b >= 2 ? 0.005f * e[b - 2] : 0.0f;
        const float l = b > 0 ? 0.158f * std::max(lastD, lastL) : 0.0f;
        if ((b > 0 && e[b] < 0.05f * e[b - 1]) || e[b] < d || (b > 10 && e[b] < l))
          ah[ch][b] = kHoleFree;
        lastD = d;
        lastL = l;
      }
      if (c.threshold[b] > e[b]) ah[ch][b] = kHoleFree;
    }
  }
}

// thr = (thrExp + redVal)^4 for every band above its threshold, guarded bands limited to their
// minimum SNR.
void reduceThresholds(const AdjThrState* s, PsyOut* psy, const float thr0[2][kMaxSfbEntries],
                      const float thrExp[2][kMaxSfbEntries], int ah[2][kMaxSfbEntries],
                      float redVal, int first, int end) {
  for (int ch = first; ch < end; ++ch) {
    PsyOutChannel& c = psy->channel[ch];
    const float* minSnr = minSnrOf(s, c);
    for (int b = 0; b < c.sfbActive; ++b) {
      const float e = c.energy[b];
      if (e <= thr0[ch][b]) continue;
      const float base = thrExp[ch][b] + redVal;
      float t = base * base * base * base;
      if (t > minSnr[b] * e && ah[ch][b] != kHoleFree) {
        ah[ch][b] = kHoleLimited;
        t = std::max(thr0[ch][b], minSnr[b] * e);
      }
      c.threshold[b] = t;
    }
  }
}

}  // namespace

void adaptThresholdsToPe(AdjThrState* s, PsyOut* psy, float desiredPe, int first, int end) {
  PeData* pe = &psy->peData;
  float thr0[2][kMaxSfbEntries] = {};
  float thrExp[2][kMaxSfbEntries] = {};
  int ah[2][kMaxSfbEntries] = {};
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    std::copy(c.threshold, c.threshold + c.sfbCnt, thr0[ch]);
  }
  calcThreshExp(psy, thrExp, first, end);
  initAvoidHoles(psy, ah, first, end);

  // Without an active line no threshold change lowers the entropy: what is left is the side
  // information's share.
  if (pe->nActiveLines <= 0) return;
  const float constPart = pe->constPart;
  const float activeLines = static_cast<float>(pe->nActiveLines);
  const float peBefore = pe->pe;
  float redVal = std::exp2((constPart - desiredPe) / (4.0f * activeLines)) -
                 std::exp2((constPart - peBefore) / (4.0f * activeLines));
  reduceThresholds(s, psy, thr0, thrExp, ah, redVal, first, end);
  calcPe(pe, psy, first, end);

  // A second step from what the unguarded bands gave.
  float p1 = 0.0f, c1 = 0.0f;
  int a1 = 0;
  for (int ch = first; ch < end; ++ch) {
    const PeChannelData& pc = pe->channel[ch];
    for (int b = 0; b < psy->channel[ch].sfbCnt; ++b) {
      if (ah[ch][b] <= kHoleAvoid) {
        p1 += pc.sfbPe[b];
        c1 += pc.sfbConstPart[b];
        a1 += pc.sfbNActiveLines[b];
      }
    }
  }
  if (a1 > 0) {
    const float target = desiredPe - pe->pe + p1;
    const float a = 4.0f * static_cast<float>(a1);
    redVal += std::exp2((c1 - target) / a) - std::exp2((c1 - p1) / a);
    reduceThresholds(s, psy, thr0, thrExp, ah, redVal, first, end);
    calcPe(pe, psy, first, end);
  }

  if (pe->pe < 1.15f * desiredPe) {
    // Close enough: share out the rest of the difference by each band's active lines.
    const float diff = desiredPe - pe->pe;
    float sum = 0.0f;
    for (int ch = first; ch < end; ++ch) {
      const PsyOutChannel& c = psy->channel[ch];
      for (int b = 0; b < c.sfbActive; ++b) {
        if (ah[ch][b] < kHoleLimited || diff > 0.0f)
          sum += static_cast<float>(pe->channel[ch].sfbNActiveLines[b]) / (thrExp[ch][b] + redVal);
      }
    }
    if (sum > 0.0f) {
      for (int ch = first; ch < end; ++ch) {
        PsyOutChannel& c = psy->channel[ch];
        const float* minSnr = minSnrOf(s, c);
        for (int b = 0; b < c.sfbActive; ++b) {
          const int lines = pe->channel[ch].sfbNActiveLines[b];
          if (lines <= 0 || !(ah[ch][b] < kHoleLimited || diff > 0.0f)) continue;
          const float step = -diff / (sum * (thrExp[ch][b] + redVal));
          c.threshold[b] *= std::exp2(std::min(step, 20.0f));
          if (c.threshold[b] > minSnr[b] * c.energy[b] && ah[ch][b] == kHoleAvoid) {
            c.threshold[b] = minSnr[b] * c.energy[b];
            ah[ch][b] = kHoleLimited;
          }
        }
      }
    }
    calcPe(pe, psy, first, end);
    return;
  }

  // Still far too much: lower the guarded bands' SNR to 0.8 from the top, then give up bands.
  const float target = 1.05f * desiredPe;
  float snr[2][kMaxSfbEntries] = {};
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    std::copy(minSnrOf(s, c), minSnrOf(s, c) + c.sfbCnt, snr[ch]);
  }
  const auto relax = [&](int ch, int b) {
    PsyOutChannel& c = psy->channel[ch];
    PeChannelData& pc = pe->channel[ch];
    if (b >= c.sfbActive || ah[ch][b] == kHoleFree || snr[ch][b] >= 0.8f) return;
    if (c.energy[b] <= c.threshold[b]) return;
    snr[ch][b] = 0.8f;
    c.threshold[b] = 0.8f * c.energy[b];
    const float delta = 1.5f * static_cast<float>(pc.sfbNLines[b]) - pc.sfbPe[b];
    pc.sfbPe[b] += delta;
    pc.pe += delta;
    pe->pe += delta;
  };
  const bool together =
      end - first == 1 || psy->channel[first].blockType == psy->channel[end - 1].blockType;
  if (together) {
    const int top = psy->channel[first].sfbCnt;
    for (int b = top - 1; b >= 0 && pe->pe > target; --b) {
      for (int ch = first; ch < end; ++ch) relax(ch, b);
    }
  } else {
    for (int ch = first; ch < end; ++ch) {
      for (int b = psy->channel[ch].sfbCnt - 1; b >= 0 && pe->pe > target; --b) relax(ch, b);
    }
  }
  int* ahRows[2] = {ah[0], ah[1]};
  allowMoreHoles(s, psy, ahRows, target, first, end);
  calcPe(pe, psy, first, end);
}

void allowMoreHoles(AdjThrState* s, PsyOut* psy, int* ah[2], float desiredPe, int first, int end) {
  PeData* pe = &psy->peData;
  if (pe->pe <= desiredPe) return;
  constexpr float kTiny = 1.1754944e-38f;
  int lowest = kMaxSfbEntries, highest = 0;
  int count = 0;
  float minEnergy = 3.4028235e38f, sum = 0.0f;
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    const int from = isShortChannel(c) ? s->firstHoleShort : s->firstHoleLong;
    lowest = std::min(lowest, from);
    highest = std::max(highest, c.sfbCnt);
    for (int b = from; b < c.sfbActive; ++b) {
      if (ah[ch][b] != kHoleFree && c.energy[b] > c.threshold[b]) {
        ++count;
        minEnergy = std::min(minEnergy, c.energy[b]);
        sum += c.energy[b];
      }
    }
  }
  if (count == 0) return;
  const float mean = std::min(sum / (static_cast<float>(count) + kTiny), 3.4028235e38f);
  const float ratio = mean / (minEnergy + kTiny);
  for (int k = 0; k < 4; ++k) {
    const float limit = minEnergy * std::pow(ratio, static_cast<float>(2 * k + 1) / 7.0f);
    for (int b = highest - 1; b >= lowest; --b) {
      for (int ch = first; ch < end; ++ch) {
        PsyOutChannel& c = psy->channel[ch];
        const int from = isShortChannel(c) ? s->firstHoleShort : s->firstHoleLong;
        if (b < from || b >= c.sfbActive) continue;
        if (ah[ch][b] != kHoleFree && c.energy[b] < limit && c.energy[b] > c.threshold[b]) {
          c.threshold[b] = 2.0f * c.energy[b];
          ah[ch][b] = kHoleFree;
          pe->pe -= pe->channel[ch].sfbPe[b];
          pe->channel[ch].pe -= pe->channel[ch].sfbPe[b];
          if (pe->pe < desiredPe) return;
        }
      }
    }
  }
}

void AdjustThresholds(AdjThrState* s, PsyOut* psy, float* shares, int channels, float meanBits,
                      float reservoirBits, float reservoirSize, float maxSpendFactor, int first,
                      int end) {
  const float pe = psy->peData.pe;
  bool anyShort = false;
  for (int ch = first; ch < end; ++ch) anyShort |= isShortChannel(psy->channel[ch]);
  const BitResParams& p = anyShort ? s->shortParams : s->longParams;
  const float lim = meanBits < reservoirSize ? 1.0f : reservoirSize / meanBits;
  float factor = 1.0f;
  if (reservoirSize >= 1.0f) {
    const float pMin = s->peMin, pMax = s->peMax;
    if (pe > pMax) {
      s->peMin += 0.3f * (pe - pMax);
      s->peMax = pe;
    } else if (pe < pMin) {
      s->peMin -= 0.14f * (pMin - pe);
      s->peMax -= 0.07f * (pMin - pe);
    } else {
      s->peMin += 0.3f * (pe - pMin);
      s->peMax -= 0.07f * (pMax - pe);
    }
    const float fill = reservoirBits / reservoirSize;
    const float save =
        (p.maxBitSave - (p.maxBitSave - p.minBitSave) / (p.clipSaveHigh - p.clipSaveLow) *
                            (std::clamp(fill, p.clipSaveLow, p.clipSaveHigh) - p.clipSaveLow)) *
        lim;
    const float spend =
        p.minBitSpend + (p.maxBitSpend - p.minBitSpend) / (p.clipSpendHigh - p.clipSpendLow) *
                            (std::clamp(fill, p.clipSpendLow, p.clipSpendHigh) - p.clipSpendLow);
    const float range = pMax - pMin;
    factor =
        1.0f - save +
        (range > 0.0f ? (save + lim * spend) / range * (std::clamp(pe, pMin, pMax) - pMin) : 0.0f);
    if (s->peMax - s->peMin < 0.25f * pe) {
      const float above = std::max(0.0f, s->peMax - pe);
      const float below = std::max(0.0f, pe - s->peMin);
      const float both = above + below;
      if (both > 0.0f) {
        s->peMax = pe + 0.25f * pe * above / both;
        s->peMin = std::max(0.0f, pe - 0.25f * pe * below / both);
      } else {
        s->peMax = 1.125f * pe;
        s->peMin = 0.875f * pe;
      }
    }
  }
  const float use = std::min({factor, 0.95f * reservoirBits / meanBits + 0.9f, maxSpendFactor});
  const float target = kBitsToPe * meanBits * use;

  const float lastPe = s->lastDesiredPe;
  const float lastBits = static_cast<float>(s->lastBitsUsed);
  const float smaller = std::min(target, pe);
  if (lastBits > 0.0f && smaller > 0.7f * lastPe && smaller < 1.5f * lastPe &&
      lastPe > 0.944f * lastBits && lastPe < 1.416f * lastBits) {
    const float r = lastPe / (kBitsToPe * lastBits);
    if ((r < 1.0f) != (s->peCorrection < 1.0f)) s->peCorrection = 1.0f;
    s->peCorrection = std::clamp(0.2f * r + 0.8f * s->peCorrection, 0.85f, 1.15f);
  } else {
    s->peCorrection = 1.0f;
  }
  const float desired = s->peCorrection * target;
  if (pe > desired) adaptThresholdsToPe(s, psy, desired, first, end);

  const float k = std::clamp(60.0f / (meanBits * use), 0.1f, 0.5f);
  const float total = psy->peData.pe;
  for (int ch = first; ch < end; ++ch) {
    const float chPe = psy->peData.channel[ch].pe;
    shares[ch] = total > 0.0f ? chPe / total * (1.0f - static_cast<float>(channels) * k) + k
                              : 1.0f / static_cast<float>(channels);
  }
  s->lastDesiredPe = target;
}

namespace {

// The map of the variable-rate model at a fixed lambda, as PeStatsMap gives it for the
// statistics' own model; the logarithmic model widens its short-block map threefold.
float fixedMap(const PeStats& stats, float lambda, float pe, bool shortBlock) {
  if (stats.tanhModel) return PeStatsMap(stats, lambda, pe, shortBlock);
  return PeStatsMap(stats, shortBlock ? 3.0f * lambda : lambda, pe, false);
}

}  // namespace

void AdjustThresholdsVBR(AdjThrState* s, PsyOut* psy, float* shares, int channels, int maxBits,
                         float fixedLambda, PeStats* stats, int first, int end) {
  const float pe = psy->peData.pe;
  const bool shortBlock = psy->shortPresent == 2;
  float desired = pe;
  if (s->learning) {
    PeStatsEnter(stats, pe, shortBlock ? 2 : 0);
    const float lambda = PeStatsFitLambda(stats, s->desiredMeanPe);
    // The logarithmic model has no short-block variant.
    desired = PeStatsMap(*stats, lambda, pe, stats->tanhModel != 0 && shortBlock);
    s->desiredBitsSum += static_cast<long long>(kPeToBits * desired);
  } else if (fixedLambda < 9000.0f) {
    desired = fixedMap(*stats, fixedLambda, pe, shortBlock);
  }
  desired = std::min(desired, 0.944f * static_cast<float>(maxBits));
  if (pe > desired) adaptThresholdsToPe(s, psy, desired, first, end);

  const float total = psy->peData.pe;
  for (int ch = first; ch < end; ++ch) {
    const float chPe = psy->peData.channel[ch].pe;
    shares[ch] = total > 0.0f ? chPe / total * (1.0f - 0.1f * static_cast<float>(channels)) + 0.1f
                              : 1.0f / static_cast<float>(channels);
  }
  s->lastDesiredPe = desired;
}

}  // namespace quillion::mp3enc
