// SPDX-License-Identifier: GPL-2.0-or-later
// Where the psychoacoustic models put the threshold in quiet: a faint steady tone, alone,
// must come out with the signal-to-mask ratio that its level over the threshold in quiet
// gives (the standard's level scale: 20 log10(32768) = 90.309 dB for model 1's spectrum,
// a full-scale tone's line at 96 dB for model 2).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "psy.h"

namespace {

using quillion::ferrule::PsyModel1;
using quillion::ferrule::PsyModel2;
using quillion::ferrule::SubbandRatios;

constexpr int kRate = 44100;
constexpr int kToneLine = 66;  // of the 1024-point transform: 2842 Hz, in subband 4
constexpr int kSubband = 4;

// Threshold in quiet in dB for `hz`, the formula behind the standard's tables.
double quietDb(double hz) {
  const double f = hz / 1000.0;
  return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
         1e-3 * std::pow(f, 4.0);
}

// `amplitude` in 16-bit units, centred on kToneLine; the newest 1024 samples of frame
// `frame` (1152 samples apart).
std::vector<float> tone(double amplitude, int frame) {
  std::vector<float> s(1024);
  for (int i = 0; i < 1024; ++i) {
    const long n = 1152L * frame + i;
    s[static_cast<std::size_t>(i)] =
        static_cast<float>(amplitude * std::cos(2 * std::numbers::pi * kToneLine * n / 1024.0));
  }
  return s;
}

struct Faint {
  double amplitude;
};
const Faint kFaintTones[] = {{1.0}, {2.0}, {4.0}};

TEST(FerrulePsyModels, Model2PutsTheThresholdInQuietAtTheStandardsLevel) {
  for (const Faint& f : kFaintTones) {
    SCOPED_TRACE("amplitude " + std::to_string(f.amplitude));
    PsyModel2 model;
    model.prepare(kRate);
    SubbandRatios smr{};
    // Enough frames for the tone to read as predictable, so that it masks little.
    for (int frame = 0; frame < 8; ++frame) model.analyse(0, tone(f.amplitude, frame).data(), smr);
    double quietMin = 1e9;
    for (int line = 16 * kSubband; line <= 16 * kSubband + 16; ++line)
      quietMin = std::min(quietMin, quietDb(line * kRate / 1024.0));
    // Three lines carry the Hann-windowed tone: 1 + 2 x 1/4 of the centre line's energy,
    // the centre line at 96 dB for full scale; the ratio is against 17 x the least threshold.
    const double levelDb = 96.0 + 20.0 * std::log10(f.amplitude / 32768.0);
    const double expected = levelDb + 10.0 * std::log10(1.5 / 17.0) - quietMin;
    EXPECT_NEAR(smr[kSubband], expected, 0.5);
  }
}

TEST(FerrulePsyModels, Model1PutsTheThresholdInQuietAtTheStandardsLevel) {
  for (const Faint& f : kFaintTones) {
    SCOPED_TRACE("amplitude " + std::to_string(f.amplitude));
    PsyModel1 model;
    model.prepare(kRate, 2);
    double scfMax[32];
    std::fill(std::begin(scfMax), std::end(scfMax), 1e-9);  // the spectrum decides the level
    SubbandRatios smr{};
    model.analyse(tone(f.amplitude, 0).data(), scfMax, smr);
    // The strongest line of a centred tone through the sqrt(8/3)-scaled Hann window,
    // normalised by 1/N: amplitude / 2 x sqrt(8/3) / 2 of full scale.
    const double levelDb =
        90.309 + 20.0 * std::log10(f.amplitude / 32768.0 * std::sqrt(8.0 / 3.0) / 4.0);
    double quietMin = 1e9;
    for (int line = 16 * kSubband; line < 16 * kSubband + 16; ++line)
      quietMin = std::min(quietMin, quietDb(line * kRate / 1024.0));
    // The faint tone's own masking stays far under the threshold in quiet.
    EXPECT_NEAR(smr[kSubband], levelDb - quietMin, 0.5);
  }
}

}  // namespace
