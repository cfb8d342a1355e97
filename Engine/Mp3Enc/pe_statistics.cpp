// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/pe_statistics.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace quillion::mp3enc {

namespace {

// Newton's method converges in a handful of steps on these smooth maps; the cap only guards
// against a histogram that makes it oscillate.
constexpr int kMostNewtonSteps = 100;

void spread(PeStats* s, float pe, int blockType, float sign) {
  const float x = std::min(std::max(pe, 0.0f), 9499.0f) / kPeBinWidth;
  const int i = static_cast<int>(x);
  const float f = x - static_cast<float>(i);
  float* bins = s->tanhModel && blockType == 2 ? s->shortBins : s->longBins;
  bins[i] += sign * (1.0f - f);
  bins[i + 1] += sign * f;
  s->sum += sign * pe;
  s->count += sign > 0 ? 1 : -1;
}

// g and dg/dlambda of one map at a PE.
void mapAndSlope(bool tanhModel, double scale, double lambda, double pe, double* g, double* dg) {
  const double l = scale * lambda;
  if (tanhModel) {
    const double u = pe / l, t = std::tanh(u);
    *g = l * t;
    *dg = scale * (t - u * (1.0 - t * t));
  } else {
    const double u = pe / l;
    *g = l * std::log1p(u);
    *dg = scale * (std::log1p(u) - u / (1.0 + u));
  }
}

void fillTables(PeStats* s) {
  for (int i = 0; i < kPeBins; ++i) {
    const float pe = kPeBinWidth * static_cast<float>(i);
    s->longTable[i] = PeStatsMap(*s, s->lambda, pe, false);
    s->shortTable[i] = PeStatsMap(*s, s->lambda, pe, true);
  }
}

}  // namespace

int PeStatsInit(PeStats* stats, float lambda, int useLog) {
  *stats = PeStats{};
  stats->lambda = lambda;
  stats->tanhModel = useLog ? 0 : 1;
  return stats->tanhModel;
}

void PeStatsAdd(PeStats* stats, float pe, int blockType) {
  spread(stats, pe, blockType, 1.0f);
}

void PeStatsSub(PeStats* stats, float pe, int blockType) {
  spread(stats, pe, blockType, -1.0f);
}

void PeStatsEnter(PeStats* stats, float pe, int blockType) {
  PeWindow& w = stats->window;
  const int slot = w.next;
  if (w.filled == kPeWindowGranules)
    PeStatsSub(stats, w.pe[slot], w.shortBlock[slot] ? 2 : 0);
  else
    ++w.filled;
  w.pe[slot] = pe;
  w.shortBlock[slot] = blockType == 2 ? 1 : 0;
  PeStatsAdd(stats, pe, blockType);
  w.next = (slot + 1) % kPeWindowGranules;
  if (w.next != 0) return;
  // The ring came round: the oldest granule is in slot 0 again, so a rebuild in slot order is
  // the same as building the statistics afresh from the window.
  std::fill(std::begin(stats->longBins), std::end(stats->longBins), 0.0f);
  std::fill(std::begin(stats->shortBins), std::end(stats->shortBins), 0.0f);
  stats->sum = 0.0f;
  stats->count = 0;
  for (int i = 0; i < kPeWindowGranules; ++i) PeStatsAdd(stats, w.pe[i], w.shortBlock[i] ? 2 : 0);
}

float PeStatsMap(const PeStats& stats, float lambda, float pe, bool shortBlock) {
  double g = 0, dg = 0;
  const double scale = stats.tanhModel && shortBlock ? 1.5 : 1.0;
  mapAndSlope(stats.tanhModel != 0, scale, lambda, pe, &g, &dg);
  return static_cast<float>(g);
}

float PeStatsFitLambda(PeStats* stats, float target) {
  if (stats->count <= 0) return stats->lambda;
  const double n = stats->count, tolerance = target / 1000.0;
  double lambda = stats->lambda;
  for (int step = 0; step < kMostNewtonSteps; ++step) {
    lambda = std::max(lambda, 1.0);
    double f = 0, df = 0;
    for (int i = 1; i < kPeBins; ++i) {
      double g = 0, dg = 0;
      mapAndSlope(stats->tanhModel != 0, 1.0, lambda, kPeBinWidth * i, &g, &dg);
      f += stats->longBins[i] * g;
      df += stats->longBins[i] * dg;
      if (stats->tanhModel) {
        mapAndSlope(true, 1.5, lambda, kPeBinWidth * i, &g, &dg);
        f += stats->shortBins[i] * g;
        df += stats->shortBins[i] * dg;
      }
    }
    const double d = f / n - target;
    if (std::fabs(d) < tolerance) break;
    if (!(df > 0.0)) {  // flat: no lambda reaches the target
      lambda = kLargestLambda;
      break;
    }
    lambda -= d / (df / n);
    if (lambda > kLargestLambda) {
      lambda = kLargestLambda;
      break;
    }
  }
  stats->lambda = static_cast<float>(std::max(lambda, 1.0));
  fillTables(stats);
  return stats->lambda;
}

VbrQualityRow tableLog(int quality) {
  static constexpr VbrQualityRow rows[] = {{0, 550.0f, 40000},
                                           {20, 625.0f, 48000},
                                           {40, 850.0f, 56000},
                                           {60, 1200.0f, 64000},
                                           {80, 2100.0f, 80000}};
  constexpr int n = static_cast<int>(sizeof(rows) / sizeof(rows[0]));
  int i = 0;
  while (i < n - 2 && quality > rows[i + 1].quality) ++i;
  const VbrQualityRow a = rows[i], b = rows[i + 1];
  const float t =
      static_cast<float>(quality - a.quality) / static_cast<float>(b.quality - a.quality);
  return VbrQualityRow{quality, a.weight + (b.weight - a.weight) * t,
                       static_cast<int>(std::lround(
                           a.bitratePerChannel + (b.bitratePerChannel - a.bitratePerChannel) * t))};
}

}  // namespace quillion::mp3enc
