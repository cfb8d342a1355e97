// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>
#include <numbers>

#include "fast_math.h"
#include "psy.h"

namespace quillion::ferrule {
namespace {

constexpr double kPartitionWidthBark = 0.33;
constexpr double kNoiseMaskingDb = 5.5;
// Energy of a full-scale 16-bit tone in one line of the Hann-windowed 1024-point transform;
// the thresholds in quiet are stated against 96 dB for that tone.
constexpr double kFullScaleLineEnergy = (32768.0 * 256.0) * (32768.0 * 256.0);
constexpr double kFullScaleDb = 96.0;

constexpr double kBandEdgesHz[] = {0,    100,  200,  300,  400,  510,   630,   770,   920,
                                   1080, 1270, 1480, 1720, 2000, 2320,  2700,  3150,  3700,
                                   4400, 5300, 6400, 7700, 9500, 12000, 15500, 25000, 30000};

double criticalBandRate(double hz) {
  constexpr int kEdges = sizeof kBandEdgesHz / sizeof kBandEdgesHz[0];
  for (int k = 0; k + 1 < kEdges; ++k) {
    if (hz < kBandEdgesHz[k + 1])
      return k + (hz - kBandEdgesHz[k]) / (kBandEdgesHz[k + 1] - kBandEdgesHz[k]);
  }
  return kEdges - 1;
}

double minimumSnrDb(double bark) {
  static constexpr double kLow[10] = {20.0, 20.0, 20.0, 20.0, 20.0, 17.0, 15.0, 10.0, 7.0, 4.4};
  const int index = static_cast<int>(bark + 0.5);
  if (index < 10) return kLow[index];
  return index <= 23 ? 4.5 : 3.5;
}

double spreading(double maskeeBark, double maskerBark) {
  const double x = (maskeeBark - maskerBark) * 1.05;
  const double a = (x >= 0.5 && x <= 2.5) ? 8.0 * ((x - 0.5) * (x - 0.5) - 2.0 * (x - 0.5)) : 0.0;
  const double t = x + 0.474;
  const double y = 15.811389 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t);
  return y > -100.0 ? std::pow(10.0, (a + y) / 10.0) : 0.0;
}

// Unpredictability: distance of each line from its prediction out of the two previous
// transforms (magnitude 2r1 - r2, phase 2f1 - f2), relative to r + |prediction|. With unit
// phasors the predicted phase is u1 * u1 * conj(u2), with no angle computed. Then the
// transform moves into the history. Every value is computed and the guarded ones chosen
// afterwards, and the arrays are declared apart, so that the loop runs on vectors.
void predictLines(const float* __restrict lineRe, const float* __restrict lineIm,
                  float* __restrict last, float* __restrict before, float* __restrict lastRe,
                  float* __restrict lastIm, float* __restrict beforeRe, float* __restrict beforeIm,
                  float* __restrict energy, float* __restrict unpredictability, std::size_t lines) {
  constexpr float kTiny = 1e-30f;
  for (std::size_t w = 0; w < lines; ++w) {
    const float re = lineRe[w];
    const float im = lineIm[w];
    const float e = re * re + im * im;
    const float r = std::sqrt(e);
    const float rPred = 2.0f * last[w] - before[w];
    const float squareRe = lastRe[w] * lastRe[w] - lastIm[w] * lastIm[w];
    const float squareIm = 2.0f * lastRe[w] * lastIm[w];
    const float predRe = rPred * (squareRe * beforeRe[w] + squareIm * beforeIm[w]);
    const float predIm = rPred * (squareIm * beforeRe[w] - squareRe * beforeIm[w]);
    const float dx = re - predRe;
    const float dy = im - predIm;
    const float denominator = r + std::fabs(rPred);
    const float distance = std::sqrt(dx * dx + dy * dy) / std::max(denominator, kTiny);
    unpredictability[w] = denominator > 0.0f ? distance : 1.0f;
    energy[w] = e;
    before[w] = last[w];
    beforeRe[w] = lastRe[w];
    beforeIm[w] = lastIm[w];
    last[w] = r;
    const float inverse = 1.0f / std::max(r, kTiny);
    lastRe[w] = r > 0.0f ? re * inverse : 1.0f;
    lastIm[w] = r > 0.0f ? im * inverse : 0.0f;
  }
}

}  // namespace

void PsyModel2::prepare(int sampleRate) {
  fft_.prepare(kSize);
  window_.resize(kSize);
  for (int i = 0; i < kSize; ++i)
    window_[i] =
        static_cast<float>(0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * (i - 0.5) / kSize)));
  input_.assign(kSize, 0.0f);
  re_.assign(kLines, 0.0f);
  im_.assign(kLines, 0.0f);

  partitions_.clear();
  quiet_.assign(kLines, 0.0f);
  double firstRate = -1.0;
  double rateSum = 0.0;
  for (int line = 0; line < kLines; ++line) {
    const double hz = static_cast<double>(line) * sampleRate / kSize;
    const double rate = criticalBandRate(hz);
    quiet_[line] = static_cast<float>(kFullScaleLineEnergy *
                                      std::pow(10.0, (quietThresholdDb(hz) - kFullScaleDb) / 10.0));
    if (partitions_.empty() || rate > firstRate + kPartitionWidthBark) {
      if (!partitions_.empty()) partitions_.back().bark = rateSum / partitions_.back().count;
      partitions_.push_back({line, 0, 0.0, 0.0f, 0.0f});
      firstRate = rate;
      rateSum = 0.0;
    }
    ++partitions_.back().count;
    rateSum += rate;
  }
  partitions_.back().bark = rateSum / partitions_.back().count;

  const std::size_t count = partitions_.size();
  spreading_.assign(count * count, 0.0f);
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t m = 0; m < count; ++m)
      spreading_[m * count + b] =
          static_cast<float>(spreading(partitions_[b].bark, partitions_[m].bark));
    Partition& p = partitions_[b];
    p.tonalOffsetDb = static_cast<float>(std::max(15.5 + p.bark, 24.5));
    p.minimumSnrDb = static_cast<float>(minimumSnrDb(p.bark));
  }
  // Each masker reaches only the maskees its spreading leaves above -100 dB.
  reach_.assign(count, {0, 0});
  for (std::size_t m = 0; m < count; ++m) {
    const float* row = spreading_.data() + m * count;
    std::size_t first = 0;
    while (first < count && row[first] == 0.0f) ++first;
    std::size_t end = count;
    while (end > first && row[end - 1] == 0.0f) --end;
    reach_[m] = {first, end};
  }
  for (auto& channel : magnitude_)
    for (auto& age : channel) age.assign(kLines, 0.0f);
  for (auto& channel : phasorRe_)
    for (auto& age : channel) age.assign(kLines, 1.0f);
  for (auto& channel : phasorIm_)
    for (auto& age : channel) age.assign(kLines, 0.0f);
  energy_.assign(kLines, 0.0f);
  unpredictability_.assign(kLines, 0.0f);
  threshold_.assign(kLines, 0.0f);
  partEnergy_.assign(count, 0.0f);
  partWeighted_.assign(count, 0.0f);
  spreadEnergy_.assign(count, 0.0f);
  spreadWeighted_.assign(count, 0.0f);
}

void PsyModel2::analyse(int channel, const float* samples, SubbandRatios& smr) {
  for (int i = 0; i < kSize; ++i) input_[i] = samples[i] * window_[i];
  fft_.transform(input_.data(), re_.data(), im_.data());

  float* energy = energy_.data();
  predictLines(re_.data(), im_.data(), magnitude_[channel][0].data(), magnitude_[channel][1].data(),
               phasorRe_[channel][0].data(), phasorIm_[channel][0].data(),
               phasorRe_[channel][1].data(), phasorIm_[channel][1].data(), energy,
               unpredictability_.data(), kLines);
  const float* unpredictability = unpredictability_.data();

  const std::size_t count = partitions_.size();
  for (std::size_t b = 0; b < count; ++b) {
    const Partition& p = partitions_[b];
    float sum = 0.0f;
    float weighted = 0.0f;
    for (int w = p.first; w < p.first + p.count; ++w) {
      sum += energy[w];
      weighted += energy[w] * unpredictability[w];
    }
    partEnergy_[b] = sum;
    partWeighted_[b] = weighted;
  }
  // Spreading, masker by masker over the maskees it reaches (runs on vectors).
  float* spreadEnergy = spreadEnergy_.data();
  float* spreadWeighted = spreadWeighted_.data();
  std::fill(spreadEnergy_.begin(), spreadEnergy_.end(), 0.0f);
  std::fill(spreadWeighted_.begin(), spreadWeighted_.end(), 0.0f);
  for (std::size_t m = 0; m < count; ++m) {
    const float* row = spreading_.data() + m * count;
    const float e = partEnergy_[m];
    const float weighted = partWeighted_[m];
    for (std::size_t b = reach_[m].first; b < reach_[m].second; ++b) {
      spreadEnergy[b] += row[b] * e;
      spreadWeighted[b] += row[b] * weighted;
    }
  }
  for (std::size_t b = 0; b < count; ++b) {
    const Partition& p = partitions_[b];
    const float cb = std::clamp(spreadEnergy[b] > 0.0f ? spreadWeighted[b] / spreadEnergy[b] : 0.5f,
                                0.05f, 0.5f);
    // Tonality -log10(cb) - log10(2), from 1 for a pure tone to 0 for noise.
    const float tb = -0.30103f * (fastLog2(cb) + 1.0f);
    const float snr = std::max(
        tb * p.tonalOffsetDb + (1.0f - tb) * static_cast<float>(kNoiseMaskingDb), p.minimumSnrDb);
    const float noise = spreadEnergy[b] * fastFromDb(-snr);
    for (int w = p.first; w < p.first + p.count; ++w) threshold_[w] = std::max(noise, quiet_[w]);
  }

  for (int n = 0; n < 32; ++n) {
    float sumEnergy = 0.0f;
    float sumThreshold = 0.0f;
    float smallest = 60802371420160.0f;
    for (int w = 16 * n; w <= 16 * n + 16 && w < kLines; ++w) {
      sumEnergy += energy[w];
      sumThreshold += threshold_[w];
      smallest = std::min(smallest, threshold_[w]);
    }
    sumEnergy = std::max(sumEnergy, 0.5f);
    smr[n] = n <= 12 ? fastDb(sumEnergy / (17.0f * smallest)) : fastDb(sumEnergy / sumThreshold);
  }
}

}  // namespace quillion::ferrule
