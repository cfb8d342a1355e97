// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>
#include <numbers>

#include "fast_math.h"
#include "psy.h"

namespace quillion::ferrule {
namespace {

constexpr double kLevelOffsetDb = 90.309;  // 20 log10(32768)
constexpr double kFloorEnergy = 1e-20;
constexpr double kMinusInfinity = -1e9;

// 10^(db/10) and 10 log10(power) through the tables: they run for every masker at every
// line, and a masking threshold needs no better than a hundredth of a dB.
double toPower(double db) {
  return fastFromDb(static_cast<float>(db));
}
double toDb(double power) {
  return fastDb(static_cast<float>(power));
}

// Adds one masker's individual threshold (the standard's masking function of its level at
// each line's distance dz in Bark, from `offset` dB = level plus masking index) to the
// lines' powers. Every piece is computed and the right one chosen, so the loop runs on
// vectors.
void addMaskerThreshold(const float* __restrict bark, float* __restrict power, std::size_t lines,
                        float z, float level, float offset) {
  const float below = 0.4f * level + 6.0f;
  const float above = 17.0f - 0.15f * level;
  for (std::size_t i = 0; i < lines; ++i) {
    const float dz = bark[i] - z;
    const float farBelow = 17.0f * (dz + 1.0f) - below;
    const float nearBelow = below * dz;
    const float nearAbove = -17.0f * dz;
    const float farAbove = -(dz - 1.0f) * above - 17.0f;
    const float masking = dz < -1.0f  ? farBelow
                          : dz < 0.0f ? nearBelow
                          : dz < 1.0f ? nearAbove
                                      : farAbove;
    power[i] += polyPow2((offset + masking) * (1.0f / kDbPerLog2));
  }
}

// Neighbour distances a tonal peak must exceed by 7 dB.
int tonalReach(int k, int layer) {
  if (k < 63) return 2;
  if (k < 127) return 3;
  if (k < 255 || layer == 1) return 6;
  return 12;
}

}  // namespace

void PsyModel1::prepare(int sampleRate, int layer) {
  layer_ = layer;
  size_ = layer == 1 ? 512 : 1024;
  fft_.prepare(size_);
  const int half = size_ / 2;
  window_.resize(static_cast<std::size_t>(size_));
  for (int i = 0; i < size_; ++i)
    window_[i] = static_cast<float>(std::sqrt(8.0 / 3.0) * 0.5 *
                                    (1.0 - std::cos(2.0 * std::numbers::pi * i / size_)) / 32768.0);
  input_.assign(static_cast<std::size_t>(size_), 0.0f);
  re_.assign(static_cast<std::size_t>(half + 1), 0.0f);
  im_.assign(static_cast<std::size_t>(half + 1), 0.0f);
  levelDb_.assign(static_cast<std::size_t>(half), 0.0);

  // Sub-sampled scale: every line at low frequencies, then every 2nd, 4th (and, for the long
  // transform, 8th), up to 20 kHz.
  const double lineHz = static_cast<double>(sampleRate) / size_;
  lines_.clear();
  for (int k = 1; k < half;) {
    const double hz = k * lineHz;
    if (hz > 20000.0) break;
    lines_.push_back({k, barkOf(hz), quietThresholdDb(hz)});
    k += k < 48 ? 1 : k < 96 ? 2 : (k < 192 || layer == 1) ? 4 : 8;
  }
  quietPower_.clear();
  lineBark_.clear();
  for (const Line& line : lines_) {
    quietPower_.push_back(static_cast<float>(toPower(line.quietDb)));
    lineBark_.push_back(static_cast<float>(line.bark));
  }
  lineOfFftLine_.assign(static_cast<std::size_t>(half), 0);
  barkOfFftLine_.assign(static_cast<std::size_t>(half), 0.0);
  std::size_t nearest = 0;
  for (int k = 0; k < half; ++k) {
    while (nearest + 1 < lines_.size() &&
           std::abs(lines_[nearest + 1].fftLine - k) <= std::abs(lines_[nearest].fftLine - k))
      ++nearest;
    lineOfFftLine_[k] = static_cast<int>(nearest);
    barkOfFftLine_[k] = barkOf(k * lineHz);
  }
}

void PsyModel1::analyse(const float* samples, const double* scfMax, SubbandRatios& smr) {
  const int half = size_ / 2;
  // The window carries the scaling of 16-bit samples to +-1.
  for (int i = 0; i < size_; ++i) input_[i] = samples[i] * window_[i];
  fft_.transform(input_.data(), re_.data(), im_.data());
  // The standard normalises the transform by 1 / N.
  const double scale = 1.0 / size_;
  for (int k = 0; k < half; ++k) {
    const double re = static_cast<double>(re_[k]) * scale;
    const double im = static_cast<double>(im_[k]) * scale;
    const double energy = re * re + im * im;
    levelDb_[k] = toDb(std::max(energy, kFloorEnergy)) + kLevelOffsetDb;
  }
  const int linesPerSubband = half / 32;

  // Level per subband: the strongest line, or the scale factor's level when that is higher.
  std::array<double, 32> subbandLevel{};
  for (int n = 0; n < 32; ++n) {
    double strongest = kMinusInfinity;
    for (int k = n * linesPerSubband; k < (n + 1) * linesPerSubband; ++k)
      strongest = std::max(strongest, levelDb_[k]);
    const double fromScale = 2.0 * toDb(std::max(scfMax[n] * 32768.0, 1e-10)) - 10.0;
    subbandLevel[n] = std::max(strongest, fromScale);
  }

  // Tonal components: local maxima standing 7 dB above their neighbourhood.
  struct Component {
    int line;
    double level;
    bool tonal;
  };
  std::vector<Component> components;
  std::vector<double> remaining(levelDb_.begin(), levelDb_.end());
  const int lastPeak = layer_ == 1 ? 249 : 499;
  for (int k = 2; k <= lastPeak && k + 1 < half; ++k) {
    const double x = levelDb_[k];
    if (x <= levelDb_[k - 1] || x < levelDb_[k + 1]) continue;
    const int reach = tonalReach(k, layer_);
    bool tonal = true;
    for (int j = 2; j <= reach && tonal; ++j) {
      if (k - j >= 0 && x - levelDb_[k - j] < 7.0) tonal = false;
      if (k + j < half && x - levelDb_[k + j] < 7.0) tonal = false;
    }
    if (!tonal) continue;
    const double level = toDb(toPower(levelDb_[k - 1]) + toPower(x) + toPower(levelDb_[k + 1]));
    components.push_back({k, level, true});
    for (int j = -reach; j <= reach; ++j)
      if (k + j >= 0 && k + j < half) remaining[k + j] = kMinusInfinity;
  }

  // Non-tonal components: what is left of each critical band, at the band's geometric mean.
  int bandStart = 1;
  for (int k = 1; k <= half; ++k) {
    const bool bandEnds = k == half || static_cast<int>(barkOfFftLine_[k]) !=
                                           static_cast<int>(barkOfFftLine_[bandStart]);
    if (!bandEnds) continue;
    double power = 0.0;
    for (int j = bandStart; j < k; ++j) {
      if (remaining[j] > kMinusInfinity) power += toPower(remaining[j]);
    }
    if (power > 0.0) {
      const int centre =
          static_cast<int>(std::lround(std::sqrt(double(bandStart) * double(k - 1))));
      components.push_back({std::clamp(centre, bandStart, k - 1), toDb(power), false});
    }
    bandStart = k;
  }

  // Decimation: maskers below the threshold in quiet go, and of two tonal maskers within half a
  // Bark only the stronger stays.
  std::vector<Component> kept;
  for (const Component& c : components) {
    const auto& line = lines_[static_cast<std::size_t>(lineOfFftLine_[c.line])];
    if (c.level >= line.quietDb) kept.push_back(c);
  }
  std::sort(kept.begin(), kept.end(),
            [](const Component& a, const Component& b) { return a.line < b.line; });
  for (std::size_t i = 0; i + 1 < kept.size(); ++i) {
    if (!kept[i].tonal) continue;
    for (std::size_t j = i + 1; j < kept.size(); ++j) {
      if (!kept[j].tonal) continue;
      const double gap = barkOfFftLine_[static_cast<std::size_t>(kept[j].line)] -
                         barkOfFftLine_[static_cast<std::size_t>(kept[i].line)];
      if (gap >= 0.5) break;
      if (kept[j].level > kept[i].level) {
        kept[i].level = kMinusInfinity;
        break;
      }
      kept[j].level = kMinusInfinity;
    }
  }

  // Global threshold on the sub-sampled scale: the threshold in quiet plus every masker's
  // individual threshold over the lines it reaches (-3 to 8 Bark; the lines run up the Bark
  // scale), added in the maskers' order; then its minimum per subband.
  linePower_ = quietPower_;
  for (const Component& c : kept) {
    if (c.level <= kMinusInfinity) continue;
    const auto z = static_cast<float>(barkOfFftLine_[c.line]);
    const auto level = static_cast<float>(c.level);
    const float index = c.tonal ? -1.525f - 0.275f * z - 4.5f : -1.525f - 0.175f * z - 0.5f;
    const auto first = std::partition_point(lineBark_.begin(), lineBark_.end(),
                                            [&](float bark) { return bark - z < -3.0f; });
    const auto end =
        std::partition_point(first, lineBark_.end(), [&](float bark) { return bark - z < 8.0f; });
    const auto offset = first - lineBark_.begin();
    addMaskerThreshold(&*first, linePower_.data() + offset, static_cast<std::size_t>(end - first),
                       z, level, level + index);
  }
  std::array<double, 32> minimum;
  minimum.fill(1e9);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const int n = std::min(lines_[i].fftLine / linesPerSubband, 31);
    minimum[n] = std::min(minimum[n], toDb(linePower_[i]));
  }
  for (int n = 0; n < 32; ++n) smr[n] = subbandLevel[n] - minimum[n];
}

}  // namespace quillion::ferrule
