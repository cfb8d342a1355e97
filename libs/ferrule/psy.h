// SPDX-License-Identifier: GPL-2.0-or-later
// The psychoacoustic models of ISO/IEC 11172-3 Annex D. Each gives, per frame and channel, a
// signal-to-mask ratio in dB for every subband; the bit allocation spends bits where that
// ratio is highest relative to the quantiser's noise.
#pragma once

#include <array>
#include <vector>

namespace quillion::ferrule {

using SubbandRatios = std::array<double, 32>;

// Transform of real input (a power of two), computed as a half-size complex transform.
class Fft {
 public:
  void prepare(int size);
  int size() const { return size_; }
  // Transforms `input` (size values); `re` and `im` receive lines 0..size/2.
  void transform(const double* input, double* re, double* im);

 private:
  int size_ = 0;
  std::vector<int> reversed_;                // bit reversal of the half size
  std::vector<double> cosTable_, sinTable_;  // e^(-2 pi i k / size), k < size / 2
  std::vector<double> workRe_, workIm_;
};

// Threshold in quiet in dB SPL (96 dB being a full-scale tone) at `hz`.
double quietThresholdDb(double hz);
// Critical-band rate in Bark at `hz`.
double barkOf(double hz);

// Model 1: tonal and non-tonal maskers found in one transform, their individual thresholds
// added up on a sub-sampled frequency scale.
class PsyModel1 {
 public:
  // Layer 1 uses a 512-point transform, layer 2 a 1024-point one.
  void prepare(int sampleRate, int layer);
  // `samples`: the newest transform-size samples, 16-bit scale. `scfMax`: the frame's largest
  // scale factor per subband (value, not index).
  void analyse(const float* samples, const double* scfMax, SubbandRatios& smr);

 private:
  struct Line {
    int fftLine;
    double bark;
    double quietDb;
  };
  int layer_ = 2;
  int size_ = 1024;
  Fft fft_;
  std::vector<double> window_;
  std::vector<double> input_;
  std::vector<double> re_, im_;
  std::vector<double> levelDb_;
  std::vector<Line> lines_;         // the sub-sampled scale
  std::vector<int> lineOfFftLine_;  // nearest sub-sampled line per transform line
  std::vector<double> barkOfFftLine_;
};

// Model 2: spreading over partitions of a third of a Bark, tonality from how predictable each
// line is from the two previous transforms. Keeps those per channel.
class PsyModel2 {
 public:
  void prepare(int sampleRate);
  // `samples`: the newest 1024 samples of `channel` (0 or 1), 16-bit scale.
  void analyse(int channel, const float* samples, SubbandRatios& smr);

 private:
  static constexpr int kSize = 1024;
  static constexpr int kLines = kSize / 2 + 1;
  struct Partition {
    int first;
    int count;
    double bark;
    double tonalOffsetDb;
    double minimumSnrDb;
  };
  Fft fft_;
  std::vector<double> window_;
  std::vector<double> input_;
  std::vector<double> re_, im_;
  std::vector<Partition> partitions_;
  std::vector<int> partitionOfLine_;
  std::vector<double> spreading_;  // [maskee * count + masker]
  std::vector<double> quiet_;      // threshold in quiet per line, energy
  // Per channel, the two previous transforms as magnitude and unit phasor:
  // [channel][0] the last, [channel][1] the one before.
  std::vector<double> magnitude_[2][2];
  std::vector<double> phasorRe_[2][2];
  std::vector<double> phasorIm_[2][2];
  std::vector<double> energy_, unpredictability_, threshold_;
  std::vector<double> partEnergy_, partWeighted_;
};

}  // namespace quillion::ferrule
