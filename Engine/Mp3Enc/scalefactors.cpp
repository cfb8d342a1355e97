// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/scalefactors.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillion::mp3enc {

const int ldTab[33] = {0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5,
                       5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
const int scfBitsPerMpeg1Partition[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1},
                                             {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1},
                                             {3, 2}, {3, 3}, {4, 2}, {4, 3}};
const int preEmphasisTab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};
const int scfCntPerMpeg2Partition[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
    {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
    {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
    {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};
const int scfBitsPerMpeg2Partition[6][4] = {{4, 4, 3, 3}, {4, 4, 3, 0}, {3, 2, 0, 0},
                                            {4, 5, 5, 0}, {3, 3, 3, 0}, {3, 2, 0, 0}};
const int preEmphasisWithScheme[6] = {0, 0, 1, 0, 0, 0};
const int scfCntPerPartitionDefault[2][4] = {{6, 5, 5, 5}, {9, 9, 9, 9}};
const int scfBitsPerPartitionDefault[4] = {4, 4, 3, 3};

void CalcFormFactorChannel_NoOpt(float* formFactor, float* maxSpec, const PsyOutChannel* c) {
  for (int b = 0; b < c->sfbActive; ++b) {
    float sum = 1e-10f;
    float largest = 0.0f;
    for (int i = c->sfbOffset[b]; i < c->sfbOffset[b + 1]; i += 2) {
      const float a = std::fabs(c->spectrum[i]), d = std::fabs(c->spectrum[i + 1]);
      sum += std::sqrt(a) + std::sqrt(d);
      largest = std::max({largest, a, d});
    }
    formFactor[b] = sum;
    maxSpec[b] = largest;
  }
  for (int b = c->sfbActive; b < c->sfbCnt; ++b) {
    formFactor[b] = 1e-10f;
    maxSpec[b] = 0.0f;
  }
}

void EstimateScaleFactorsChannel(const PsyOutChannel* c, int* scf, const float* formFactor,
                                 const float* maxSpec) {
  for (int b = 0; b < c->sfbActive; ++b) {
    const float e = c->energy[b], t = c->threshold[b];
    if (!(e > 0.0f && t < e)) {
      scf[b] = kNoScf;
      continue;
    }
    const float ratio = 6.75f * t / formFactor[b];
    int s = static_cast<int>(std::floor(4.0f / 3.0f * std::log2(ratio * ratio) + 0.5f));
    if (maxSpec[b] > 0.0f) {
      const int c2 =
          static_cast<int>(std::ceil(3.9999999466f * std::log2(maxSpec[b]) - 69.33294677734375f));
      s = std::max(s, c2);
    }
    scf[b] = -s;
  }
  for (int b = c->sfbActive; b < c->sfbCnt; ++b) scf[b] = kNoScf;
}

namespace {

// Partition of each band entry for the given partition sizes.
void partitionOf(const int* sizes, int total, int* owner) {
  int band = 0;
  for (int p = 0; p < 4; ++p) {
    for (int i = 0; i < sizes[p] && band < total; ++i) owner[band++] = p;
  }
  while (band < total) owner[band++] = -1;  // bands without a field (long band 21)
}

}  // namespace

void AdaptScfToMp3Channel(int bandCount, int blockType, int gainBlending, int* scf,
                          const int* partitionSizes, const int* partitionLengths,
                          int preEmphasisAllowed, const float* maxSpec, ScfMapping* out) {
  const bool isShort = blockType == 2;
  const int total = isShort ? 39 : 22;
  const int n = std::min(bandCount, isShort ? 36 : 21);
  *out = ScfMapping{};
  long long sum = 0;
  int counted = 0;
  for (int b = 0; b < n; ++b) {
    if (scf[b] != kNoScf) {
      sum += scf[b];
      ++counted;
    }
  }
  const int avg = counted > 0 ? static_cast<int>(sum / counted) : 0;
  // Band 21 of a long block has no scalefactor field: it can only follow the global gain.
  int band21 = !isShort && bandCount > 21 ? scf[21] : kNoScf;
  int owner[kMaxSfbEntries];
  partitionOf(partitionSizes, total, owner);

  int work[kMaxSfbEntries];
  int gain = 0, scale = 0;
  for (scale = 0; scale <= 1; ++scale) {
    for (int b = 0; b < total; ++b) work[b] = b < n ? scf[b] : kNoScf;
    int least = 0;
    bool any = false;
    for (int b = 0; b < n; ++b) {
      if (work[b] != kNoScf && (!any || work[b] < least)) {
        least = work[b];
        any = true;
      }
    }
    gain = any ? -least : 0;
    if (gainBlending) {
      if (isShort) {
        if (any) gain = std::min(gain, -static_cast<int>(0.8 * least + 0.2 * avg));
      } else {
        if (band21 != kNoScf) {
          const int v = std::min(gain, -std::min(band21, avg + 2));
          const double needed =
              std::ceil(5.7707801 * std::log(std::max(maxSpec[21], 1e-30f)) + 4.00005);
          if (needed < v) {
            band21 = kNoScf;
          } else {
            gain = v;
          }
        }
        if (any) gain = std::min(gain, -static_cast<int>(0.8 * least + 0.2 * avg));
      }
    }
    const int unit = 1 << (scale + 1);
    int roundUp = 0, withValue = 0;
    for (int b = 0; b < total; ++b) {
      if (work[b] == kNoScf) continue;
      ++withValue;
      const int shifted = std::max(0, gain + work[b]);
      if (shifted % unit >= unit / 2) ++roundUp;
    }
    if (withValue > 0 && 2 * roundUp >= withValue) gain += 1 << scale;
    for (int b = 0; b < total; ++b) {
      if (work[b] != kNoScf) work[b] = std::max(0, gain + work[b]);
    }
    out->preflag = 0;
    for (int& g : out->subblockGain) g = 0;
    if (isShort) {
      for (int w = 0; w < 3; ++w) {
        int least2 = -1;
        for (int b = w; b < total; b += 3) {
          if (work[b] != kNoScf && (least2 < 0 || work[b] < least2)) least2 = work[b];
        }
        if (least2 < 0) least2 = 0;
        const int sbg = std::min(least2 / 8, 7);
        out->subblockGain[w] = sbg;
        for (int b = w; b < total; b += 3) {
          if (work[b] != kNoScf) work[b] -= 8 * sbg;
        }
      }
    } else if (preEmphasisAllowed) {
      bool fits = true;
      for (int b = 0; b < 21; ++b) {
        if (work[b] != kNoScf && work[b] < preEmphasisTab[b] * unit) fits = false;
      }
      if (fits) {
        out->preflag = 1;
        for (int b = 0; b < 21; ++b) {
          if (work[b] != kNoScf) work[b] -= preEmphasisTab[b] * unit;
        }
      }
    }
    for (int b = 0; b < total; ++b) {
      if (work[b] != kNoScf) work[b] = (work[b] + (1 << scale)) >> (scale + 1);
    }
    if (scale == 1) break;
    bool tooLarge = false;
    for (int b = 0; b < total; ++b) {
      const int p = owner[b];
      if (p >= 0 && work[b] != kNoScf && work[b] >= (1 << partitionLengths[p])) tooLarge = true;
    }
    if (!tooLarge) break;
  }
  scale = std::min(scale, 1);
  // Values past what their field holds: lower them all and the gain with them.
  int excess = 0;
  for (int b = 0; b < total; ++b) {
    const int p = owner[b];
    const int limit = p >= 0 ? (1 << partitionLengths[p]) - 1 : 0;
    if (gainBlending) out->maxAllowed[b] = limit;
    if (work[b] != kNoScf) excess = std::max(excess, work[b] - limit);
  }
  if (excess > 0) {
    for (int b = 0; b < total; ++b) {
      if (work[b] != kNoScf) work[b] = std::max(0, work[b] - excess);
    }
    gain -= excess << (scale + 1);
  }
  for (int b = 0; b < total; ++b) scf[b] = work[b];
  if (!isShort && bandCount > 21 && band21 == kNoScf) scf[21] = kNoScf;
  if (!isShort && bandCount > 21 && band21 != kNoScf) scf[21] = 0;
  out->globalGain = gain;
  out->scalefacScale = scale;
}

int findScfCompressMPEG1(int blockType, const int* scf, int* partitionSizes, int* lengths) {
  const int* sizes = scfCntPerPartitionDefault[blockType == 2 ? 1 : 0];
  int bits[4] = {};
  int band = 0;
  for (int p = 0; p < 4; ++p) {
    int largest = 0;
    for (int i = 0; i < sizes[p]; ++i, ++band) {
      if (scf[band] != kNoScf) largest = std::max(largest, scf[band]);
    }
    bits[p] = ldTab[std::min(largest, 32)];
    partitionSizes[p] = sizes[p];
  }
  int best = -1, bestCost = 0;
  for (int k = 0; k < 16; ++k) {
    const int s1 = scfBitsPerMpeg1Partition[k][0], s2 = scfBitsPerMpeg1Partition[k][1];
    if (s1 < bits[0] || s1 < bits[1] || s2 < bits[2] || s2 < bits[3]) continue;
    const int cost = (sizes[0] + sizes[1]) * s1 + (sizes[2] + sizes[3]) * s2;
    if (best < 0 || cost < bestCost) {
      best = k;
      bestCost = cost;
    }
  }
  if (best < 0) best = 15;
  lengths[0] = lengths[1] = scfBitsPerMpeg1Partition[best][0];
  lengths[2] = lengths[3] = scfBitsPerMpeg1Partition[best][1];
  return best;
}

int findScfCompressMPEG2(int intensity, int blockType, const int* scf, int preEmphasis,
                         int* partitionSizes, int* lengths, const int* isStart, int bandCount) {
  int work[kMaxSfbEntries];
  std::copy(scf, scf + kMaxSfbEntries, work);
  const bool isShort = blockType == 2;
  if (intensity) {
    if (isShort) {
      for (int w = 0; w < 3; ++w) {
        for (int b = isStart[w]; 3 * b + w < kMaxSfbEntries; ++b) {
          if (work[3 * b + w] != kNoScf) work[3 * b + w] += 1;
        }
      }
    } else {
      for (int b = isStart[0]; b < bandCount; ++b) {
        if (work[b] != kNoScf) work[b] += 1;
      }
    }
  }
  int bestRow = -1, bestCost = 0;
  int bestLen[4] = {};
  for (int row = 3 * intensity; row < 3 * intensity + 3; ++row) {
    if (preEmphasisWithScheme[row] != preEmphasis) continue;
    const int* sizes = scfCntPerMpeg2Partition[row][isShort ? 1 : 0];
    int len[4] = {};
    int cost = 0, band = 0;
    bool feasible = true;
    for (int p = 0; p < 4 && sizes[p] > 0; ++p) {
      int largest = 0;
      for (int i = 0; i < sizes[p]; ++i, ++band) {
        if (work[band] != kNoScf) largest = std::max(largest, work[band]);
      }
      len[p] = ldTab[std::min(largest, 32)];
      if (intensity) len[p] = std::max(len[p], 1);
      if (len[p] > scfBitsPerMpeg2Partition[row][p]) feasible = false;
      cost += sizes[p] * len[p];
    }
    if (feasible && (bestRow < 0 || cost < bestCost)) {
      bestRow = row;
      bestCost = cost;
      std::copy(len, len + 4, bestLen);
    }
  }
  if (bestRow < 0) {
    for (int p = 0; p < 4; ++p) partitionSizes[p] = lengths[p] = 0;
    return 0;
  }
  const int* sizes = scfCntPerMpeg2Partition[bestRow][isShort ? 1 : 0];
  for (int p = 0; p < 4; ++p) {
    partitionSizes[p] = sizes[p];
    lengths[p] = bestLen[p];
  }
  const int* l = bestLen;
  switch (bestRow) {
    case 0:
      return (5 * l[0] + l[1]) * 16 + 4 * l[2] + l[3];
    case 1:
      return 400 + (5 * l[0] + l[1]) * 4 + l[2];
    case 2:
      return 500 + 3 * l[0] + l[1];
    case 3:
      return 2 * (36 * l[0] + 6 * l[1] + l[2]);
    case 4:
      return 2 * (180 + 16 * l[0] + 4 * l[1] + l[2]);
    default:
      return 2 * (244 + 3 * l[0] + l[1]);
  }
}

}  // namespace quillion::mp3enc
