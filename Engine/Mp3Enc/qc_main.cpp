// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/qc_main.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "mp3enc/quantizer.h"
#include "mp3enc/scalefactors.h"
#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {

namespace {

struct RateWeight {
  int bitrate;
  float value;
};
constexpr RateWeight tableTanh[] = {{20000, 300},  {24000, 600},  {32000, 800},
                                    {40000, 1000}, {48000, 2000}, {56000, 3500},
                                    {64000, 5000}, {80000, 7000}, {96000, 9000}};

float interpolateWeight(int bitrate) {
  constexpr int n = static_cast<int>(sizeof(tableTanh) / sizeof(tableTanh[0]));
  int i = 0;
  while (i < n - 2 && bitrate > tableTanh[i + 1].bitrate) ++i;
  const RateWeight a = tableTanh[i], b = tableTanh[i + 1];
  return a.value + (b.value - a.value) * static_cast<float>(bitrate - a.bitrate) /
                       static_cast<float>(b.bitrate - a.bitrate);
}

// One channel's coding state inside the loop.
struct ChannelLoop {
  int scf[kMaxSfbEntries] = {};  // mapped values, kNoScf where nothing is coded
  std::int16_t bounds[kMaxSfbEntries + 1] = {};
  int bits = 0;
  bool overflow = false;
  bool silent = false;
};

// In an intensity-stereo frame a decoder takes every band of the right channel above its
// last coded line as an intensity band and reads the position from its scalefactor (the
// decoders at hand give no band an "illegal" position at the lower rates). So the last coded
// band of each window must be the one just below the merged bands: where quantisation left it
// empty, its largest line is coded as one step, an error within that band's step size.
struct IntensityScf {
  const int* isStart;    // per window
  const int* positions;  // long: per band; short: entry 3b + w
};

struct IntensityLayout {
  int windows;
  int coded;  // bands with a scalefactor of their own
};

IntensityLayout intensityLayout(const PsyOutChannel& in) {
  return in.blockType == 2 ? IntensityLayout{3, 12} : IntensityLayout{1, 21};
}

bool bandCoded(const PsyOutChannel& in, const GranuleChannel& g, int entry) {
  for (int i = in.sfbOffset[entry]; i < in.sfbOffset[entry + 1]; ++i) {
    if (g.quantised[i] != 0) return true;
  }
  return false;
}

void closeIntensityGap(const PsyOutChannel& in, const IntensityScf& is, GranuleChannel* g) {
  const IntensityLayout l = intensityLayout(in);
  for (int w = 0; w < l.windows; ++w) {
    const int below = is.isStart[w] - 1;
    if (below < 0) continue;
    const int entry = below * l.windows + w;
    if (entry >= in.sfbCnt || bandCoded(in, *g, entry)) continue;
    int best = in.sfbOffset[entry];
    for (int i = best; i < in.sfbOffset[entry + 1]; ++i) {
      if (std::fabs(in.spectrum[i]) > std::fabs(in.spectrum[best])) best = i;
    }
    g->quantised[best] = in.spectrum[best] < 0.0f ? -1 : 1;
  }
}

// The merged bands carry their positions; returns in firstEmpty each window's first band
// above the last coded line.
void writeIntensityScf(const PsyOutChannel& in, const GranuleChannel& g, const IntensityScf& is,
                       int* scf, int* firstEmpty) {
  const IntensityLayout l = intensityLayout(in);
  for (int w = 0; w < l.windows; ++w) {
    int last = -1;
    for (int b = 0; b <= l.coded && b * l.windows + w < in.sfbCnt; ++b) {
      if (bandCoded(in, g, b * l.windows + w)) last = b;
    }
    firstEmpty[w] = last + 1;
    for (int b = last + 1; b < l.coded; ++b)
      scf[b * l.windows + w] = is.positions[b * l.windows + w];
  }
}

void silence(GranuleChannel* g, ChannelLoop* c) {
  for (int& v : g->quantised) v = 0;
  for (int& s : c->scf) s = kNoScf;
  c->silent = true;
}

// Quantises and counts one channel at its current gain.
void codeChannel(QCState* qc, const PsyOutChannel& in, const float* expSpec, ChannelLoop* c,
                 GranuleChannel* g, const IntensityScf* intensity) {
  for (int b = 0; b < kMaxSfbEntries; ++b) g->scalefactors[b] = c->scf[b] == kNoScf ? 0 : c->scf[b];
  const int largest =
      mp3QuantizeSpectrum(in.spectrum, expSpec, in.sfbOffset, in.sfbCnt, c->scf, *g, g->quantised);
  c->overflow = largest > kLargestQuantised;
  if (c->overflow) return;
  if (intensity) closeIntensityGap(in, *intensity, g);
  // Bands above the last one with a line cost no scalefactor.
  int scf[kMaxSfbEntries];
  std::copy(c->scf, c->scf + kMaxSfbEntries, scf);
  int last = -1;
  for (int b = 0; b < in.sfbCnt; ++b) {
    for (int i = in.sfbOffset[b]; i < in.sfbOffset[b + 1]; ++i) {
      if (g->quantised[i] != 0) {
        last = b;
        break;
      }
    }
  }
  for (int b = last + 1; b < kMaxSfbEntries; ++b) scf[b] = kNoScf;
  const bool mpeg1 = qc->settings.version == kMpeg1;
  int firstEmpty[3] = {0, 0, 0};
  if (intensity) writeIntensityScf(in, *g, *intensity, scf, firstEmpty);
  int sizes[4] = {}, lengths[4] = {};
  if (mpeg1) {
    g->scalefac_compress = findScfCompressMPEG1(g->block_type, scf, sizes, lengths);
  } else {
    g->scalefac_compress = findScfCompressMPEG2(intensity ? 1 : 0, g->block_type, scf, g->preflag,
                                                sizes, lengths, firstEmpty, in.sfbCnt);
    // The positions step by 2^(-1/2): intensity scale 1, the compress value's lowest bit.
    if (intensity) g->scalefac_compress += 1;
  }
  int at = 0;
  for (int p = 0; p < 4; ++p) {
    g->partitionValues[p] = sizes[p];
    g->slen[p] = lengths[p];
    for (int i = 0; i < sizes[p] && at < kMaxSfbEntries; ++i, ++at)
      g->scalefactors[at] = scf[at] == kNoScf ? 0 : scf[at];
  }
  BitCountResult r;
  const int bandCount = in.sfbCnt;
  const int huff = dynBitCount(&qc->counter, g->quantised, g->block_type, bandCount, c->bounds, &r);
  const int bits = huff < 0 ? kMaxGranuleBits + 1 : huff + scfBitCount(*g);
  c->bits = bits;
  if (bits > kMaxGranuleBits) {
    c->overflow = true;
    return;
  }
  g->part2_3_length = bits;
  g->big_values = r.bigValues;
  g->count1 = r.count1;
  g->count1table_select = r.count1Table;
  g->region0_count = g->block_type == 0 ? r.region0Count : 0;
  g->region1_count = g->block_type == 0 ? r.region1Count : 0;
  for (int i = 0; i < 3; ++i) g->table_select[i] = r.table[i];
}

}  // namespace

int QCNew(QCState** qc) {
  if (!qc) return 1;
  *qc = new (std::nothrow) QCState;
  if (!*qc) return 1;
  (*qc)->expSpec = makeAlignedArray<float>(2 * kGranuleLines);
  if (!(*qc)->expSpec) {
    delete *qc;
    *qc = nullptr;
    return 1;
  }
  return 0;
}

void QCDelete(QCState* qc) {
  delete qc;
}

int QCInit(QCState* qc, const QCSettings& s) {
  qc->settings = s;
  if (BCInit(&qc->counter, 0.0f) != 0) return 1;
  if (s.vbr && !s.stats) return 1;
  int bitratePerChannel = s.bitratePerChannel;
  if (s.vbr) {
    // The quality names a mean PE per channel and granule, and the constant rate it resembles
    // for the minimum SNRs. A granule at a lower rate spans more time, so it gets more PE.
    const VbrQualityRow row = tableLog(s.quality);
    qc->weight = row.weight * 44100.0f / static_cast<float>(std::min(s.sampleRate, 44100));
    bitratePerChannel = row.bitratePerChannel;
  } else {
    qc->weight = interpolateWeight(s.bitratePerChannel);
  }
  const float bitsPerLine =
      static_cast<float>(s.maxBits) / static_cast<float>(s.channels * kGranuleLines);
  AdjThrInit(&qc->adjThr, s.peStart, bitratePerChannel, bitsPerLine);
  if (s.vbr) {
    qc->adjThr.desiredMeanPe = qc->weight * static_cast<float>(s.channels);
    qc->adjThr.learning = 1;
  }
  (void)pow4_3_tab();  // built before the first granule, not inside it
  return 0;
}

int scfBitCount(const GranuleChannel& g) {
  int bits = 0;
  for (int p = 0; p < 4 && g.partitionValues[p] > 0; ++p) bits += g.partitionValues[p] * g.slen[p];
  return bits;
}

int QCMain(QCState* qc, PsyOut* psy, GranuleChannel* out, const QCBudget& budget) {
  const int n = qc->settings.channels;
  float shares[2] = {1.0f, 0.0f};
  const float mean = std::max(budget.meanBits - static_cast<float>(budget.ancillaryBits), 1.0f);
  const int granuleMax = std::max(0, budget.maxBits - budget.ancillaryBits);
  if (qc->settings.vbr) {
    AdjustThresholdsVBR(&qc->adjThr, psy, shares, n, granuleMax, 0.0f, qc->settings.stats, 0, n);
  } else {
    AdjustThresholds(&qc->adjThr, psy, shares, n, mean, std::max(budget.reservoirBits, 0.0f),
                     budget.reservoirSize, static_cast<float>(granuleMax) / mean, 0, n);
  }

  ChannelLoop loop[2];
  int channelBudget[2] = {};
  for (int ch = 0; ch < n; ++ch) {
    const PsyOutChannel& in = psy->channel[ch];
    GranuleChannel* g = &out[ch];
    *g = GranuleChannel{};
    g->block_type = in.blockType;
    int estimate[kMaxSfbEntries];
    for (int& v : estimate) v = kNoScf;
    EstimateScaleFactorsChannel(&in, estimate, in.formFactor, in.maxSpec);
    const bool mpeg1 = qc->settings.version == kMpeg1;
    const int* sizes = scfCntPerPartitionDefault[in.blockType == 2 ? 1 : 0];
    ScfMapping map;
    AdaptScfToMp3Channel(in.sfbCnt, in.blockType, 1, estimate, sizes, scfBitsPerPartitionDefault,
                         mpeg1 && in.blockType != 2, in.maxSpec, &map);
    std::copy(estimate, estimate + kMaxSfbEntries, loop[ch].scf);
    g->global_gain = std::clamp(map.globalGain, kSmallestGain, kLargestGain);
    g->scalefac_scale = map.scalefacScale;
    g->preflag = map.preflag;
    for (int w = 0; w < 3; ++w) g->subblock_gain[w] = map.subblockGain[w];
    for (int b = 0; b <= in.sfbCnt; ++b)
      loop[ch].bounds[b] = static_cast<std::int16_t>(in.sfbOffset[b]);
    channelBudget[ch] =
        std::min(static_cast<int>(std::lround(std::min(shares[ch], 1.0f) * granuleMax)),
                 kMaxGranuleBits - budget.ancillaryBits / n);
  }

  // Intensity positions travel in the right channel's scalefactors.
  const bool intensityFrame = n == 2 && psy->isUsed;
  const IntensityScf intensity{psy->isStartWindow, psy->isPosition};
  float* expSpec[2] = {qc->expSpec.get(), qc->expSpec.get() + kGranuleLines};
  for (int ch = 0; ch < n; ++ch) calcExpSpec(psy->channel[ch].spectrum, expSpec[ch], kGranuleLines);

  for (int iteration = 0;; ++iteration) {
    int total = 0;
    bool overflow = false;
    for (int ch = 0; ch < n; ++ch) {
      codeChannel(qc, psy->channel[ch], expSpec[ch], &loop[ch], &out[ch],
                  ch == 1 && intensityFrame ? &intensity : nullptr);
      overflow |= loop[ch].overflow;
      total += loop[ch].overflow ? 0 : loop[ch].bits;
    }
    if (!overflow && total <= granuleMax) break;
    for (int ch = 0; ch < n; ++ch) {
      ChannelLoop& c = loop[ch];
      if (c.silent) continue;
      if (!(c.overflow || c.bits >= channelBudget[ch] || iteration >= 3)) continue;
      if (out[ch].global_gain >= kLargestGain) {
        silence(&out[ch], &c);
      } else {
        ++out[ch].global_gain;
      }
    }
  }
  int used = 0;
  for (int ch = 0; ch < n; ++ch) used += out[ch].part2_3_length;
  AdjThrUpdate(&qc->adjThr, used + budget.ancillaryBits);
  return used;
}

}  // namespace quillion::mp3enc
