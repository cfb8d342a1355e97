// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>
#include <numbers>

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

}  // namespace

void PsyModel2::prepare(int sampleRate) {
  fft_.prepare(kSize);
  window_.resize(kSize);
  for (int i = 0; i < kSize; ++i)
    window_[i] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * (i - 0.5) / kSize));
  input_.assign(kSize, 0.0);
  re_.assign(kLines, 0.0);
  im_.assign(kLines, 0.0);

  partitions_.clear();
  partitionOfLine_.assign(kLines, 0);
  quiet_.assign(kLines, 0.0);
  double firstRate = -1.0;
  double rateSum = 0.0;
  for (int line = 0; line < kLines; ++line) {
    const double hz = static_cast<double>(line) * sampleRate / kSize;
    const double rate = criticalBandRate(hz);
    quiet_[line] =
        kFullScaleLineEnergy * std::pow(10.0, (quietThresholdDb(hz) - kFullScaleDb) / 10.0);
    if (partitions_.empty() || rate > firstRate + kPartitionWidthBark) {
      if (!partitions_.empty()) partitions_.back().bark = rateSum / partitions_.back().count;
      partitions_.push_back({line, 0, 0.0, 0.0, 0.0});
      firstRate = rate;
      rateSum = 0.0;
    }
    ++partitions_.back().count;
    rateSum += rate;
    partitionOfLine_[line] = static_cast<int>(partitions_.size()) - 1;
  }
  partitions_.back().bark = rateSum / partitions_.back().count;

  const std::size_t count = partitions_.size();
  spreading_.assign(count * count, 0.0);
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t m = 0; m < count; ++m)
      spreading_[b * count + m] = spreading(partitions_[b].bark, partitions_[m].bark);
    Partition& p = partitions_[b];
    p.tonalOffsetDb = std::max(15.5 + p.bark, 24.5);
    p.minimumSnrDb = minimumSnrDb(p.bark);
  }
  for (auto& channel : magnitude_)
    for (auto& age : channel) age.assign(kLines, 0.0);
  for (auto& channel : phasorRe_)
    for (auto& age : channel) age.assign(kLines, 1.0);
  for (auto& channel : phasorIm_)
    for (auto& age : channel) age.assign(kLines, 0.0);
  energy_.assign(kLines, 0.0);
  unpredictability_.assign(kLines, 0.0);
  threshold_.assign(kLines, 0.0);
  partEnergy_.assign(count, 0.0);
  partWeighted_.assign(count, 0.0);
}

void PsyModel2::analyse(int channel, const float* samples, SubbandRatios& smr) {
  for (int i = 0; i < kSize; ++i) input_[i] = samples[i] * window_[i];
  fft_.transform(input_.data(), re_.data(), im_.data());

  // Unpredictability: distance of each line from its prediction out of the two previous
  // transforms (magnitude 2r1 - r2, phase 2f1 - f2), relative to r + |prediction|. With unit
  // phasors the predicted phase is u1 * u1 * conj(u2), with no angle computed.
  auto& last = magnitude_[channel][0];
  auto& before = magnitude_[channel][1];
  auto& lastRe = phasorRe_[channel][0];
  auto& lastIm = phasorIm_[channel][0];
  auto& beforeRe = phasorRe_[channel][1];
  auto& beforeIm = phasorIm_[channel][1];
  for (std::size_t w = 0; w < kLines; ++w) {
    const double re = re_[w];
    const double im = im_[w];
    const double r = std::sqrt(re * re + im * im);
    const double rPred = 2.0 * last[w] - before[w];
    const double squareRe = lastRe[w] * lastRe[w] - lastIm[w] * lastIm[w];
    const double squareIm = 2.0 * lastRe[w] * lastIm[w];
    const double predRe = rPred * (squareRe * beforeRe[w] + squareIm * beforeIm[w]);
    const double predIm = rPred * (squareIm * beforeRe[w] - squareRe * beforeIm[w]);
    const double dx = re - predRe;
    const double dy = im - predIm;
    const double denominator = r + std::fabs(rPred);
    unpredictability_[w] = denominator > 0.0 ? std::sqrt(dx * dx + dy * dy) / denominator : 1.0;
    energy_[w] = r * r;
    before[w] = last[w];
    beforeRe[w] = lastRe[w];
    beforeIm[w] = lastIm[w];
    last[w] = r;
    lastRe[w] = r > 0.0 ? re / r : 1.0;
    lastIm[w] = r > 0.0 ? im / r : 0.0;
  }

  const std::size_t count = partitions_.size();
  std::fill(partEnergy_.begin(), partEnergy_.end(), 0.0);
  std::fill(partWeighted_.begin(), partWeighted_.end(), 0.0);
  for (std::size_t w = 0; w < kLines; ++w) {
    const auto b = static_cast<std::size_t>(partitionOfLine_[w]);
    partEnergy_[b] += energy_[w];
    partWeighted_[b] += energy_[w] * unpredictability_[w];
  }
  for (std::size_t b = 0; b < count; ++b) {
    double spreadEnergy = 0.0;
    double spreadWeighted = 0.0;
    const double* row = spreading_.data() + b * count;
    for (std::size_t m = 0; m < count; ++m) {
      spreadEnergy += row[m] * partEnergy_[m];
      spreadWeighted += row[m] * partWeighted_[m];
    }
    const Partition& p = partitions_[b];
    const double cb =
        std::clamp(spreadEnergy > 0.0 ? spreadWeighted / spreadEnergy : 0.5, 0.05, 0.5);
    const double tb = -0.434294482 * std::log(cb) - 0.301029996;
    const double snr =
        std::max(tb * p.tonalOffsetDb + (1.0 - tb) * kNoiseMaskingDb, p.minimumSnrDb);
    const double noise = spreadEnergy * std::pow(10.0, -snr / 10.0);
    for (int w = p.first; w < p.first + p.count; ++w) threshold_[w] = std::max(noise, quiet_[w]);
  }

  for (int n = 0; n < 32; ++n) {
    double sumEnergy = 0.0;
    double sumThreshold = 0.0;
    double smallest = 60802371420160.0;
    for (int w = 16 * n; w <= 16 * n + 16 && w < kLines; ++w) {
      sumEnergy += energy_[w];
      sumThreshold += threshold_[w];
      smallest = std::min(smallest, threshold_[w]);
    }
    sumEnergy = std::max(sumEnergy, 0.5);
    smr[n] = n <= 12 ? 10.0 * std::log10(sumEnergy / (17.0 * smallest))
                     : 10.0 * std::log10(sumEnergy / sumThreshold);
  }
}

}  // namespace quillion::ferrule
