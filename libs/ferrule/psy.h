// SPDX-License-Identifier: GPL-2.0-or-later
// The psychoacoustic models of ISO/IEC 11172-3 Annex D. Each gives, per frame and channel, a
// signal-to-mask ratio in dB for every subband; the bit allocation spends bits where that
// ratio is highest relative to the quantiser's noise.
#pragma once

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

namespace quillion::ferrule {

using SubbandRatios = std::array<double, 32>;

// Transform of real input (a power of two, at least 8), computed in single precision as a
// half-size complex transform: the models need levels to a fraction of a dB, far coarser
// than float's 24 bits.
class Fft {
 public:
  void prepare(int size);
  int size() const { return size_; }
  // Transforms `input` (size values); `re` and `im` receive lines 0..size/2.
  void transform(const float* input, float* re, float* im);

 private:
  int size_ = 0;
  std::vector<int> reversed_;               // bit reversal of the half size
  std::vector<float> cosTable_, sinTable_;  // e^(-2 pi i k / size), k < size / 2
  // Each stage's twiddles side by side, so that its butterflies read them in order: the
  // stage of span s keeps e^(-i pi k / s), k < s, from index s on.
  std::vector<float> stageCos_, stageSin_;
  std::vector<float> workRe_, workIm_;
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
  std::vector<float> window_;
  std::vector<float> input_;
  std::vector<float> re_, im_;
  std::vector<double> levelDb_;
  std::vector<Line> lines_;  // the sub-sampled scale
  // Per line of that scale: its Bark value, the threshold in quiet as power and the global
  // masking threshold as power.
  std::vector<float> lineBark_;
  std::vector<float> quietPower_;
  std::vector<float> linePower_;
  std::vector<int> lineOfFftLine_;  // nearest sub-sampled line per transform line
  std::vector<double> barkOfFftLine_;
};

// Model 2: spreading over partitions of a third of a Bark, tonality from how predictable each
// line is from the two previous transforms. Keeps those per channel. Works in single
// precision: energies span about 10^-10 to 10^17 of the transform's scale, well inside float,
// and the ratios it gives are used to a tenth of a dB.
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
    float tonalOffsetDb;
    float minimumSnrDb;
  };
  Fft fft_;
  std::vector<float> window_;
  std::vector<float> input_;
  std::vector<float> re_, im_;
  std::vector<Partition> partitions_;
  std::vector<float> spreading_;  // [masker * count + maskee]
  // Per masker, the maskees [first, second) its spreading reaches.
  std::vector<std::pair<std::size_t, std::size_t>> reach_;
  std::vector<float> quiet_;  // threshold in quiet per line, energy
  // Per channel, the two previous transforms as magnitude and unit phasor:
  // [channel][0] the last, [channel][1] the one before.
  std::vector<float> magnitude_[2][2];
  std::vector<float> phasorRe_[2][2];
  std::vector<float> phasorIm_[2][2];
  std::vector<float> energy_, unpredictability_, threshold_;
  std::vector<float> partEnergy_, partWeighted_;
  std::vector<float> spreadEnergy_, spreadWeighted_;
};

}  // namespace quillion::ferrule
