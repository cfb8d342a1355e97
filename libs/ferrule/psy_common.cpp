// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>
#include <numbers>

#include "psy.h"

namespace quillion::ferrule {
namespace {

// One group of a stage: the two halves never overlap, and saying so (the compiler honours
// __restrict on parameters) lets the loop run on vectors.
void butterflies(float* __restrict ar, float* __restrict ai, float* __restrict br,
                 float* __restrict bi, const float* __restrict c, const float* __restrict s,
                 std::size_t span) {
  for (std::size_t k = 0; k < span; ++k) {
    const float tr = c[k] * br[k] - s[k] * bi[k];
    const float ti = c[k] * bi[k] + s[k] * br[k];
    br[k] = ar[k] - tr;
    bi[k] = ai[k] - ti;
    ar[k] += tr;
    ai[k] += ti;
  }
}

}  // namespace

void Fft::prepare(int size) {
  size_ = size;
  const int half = size / 2;
  int bits = 0;
  while ((1 << bits) < half) ++bits;
  reversed_.assign(static_cast<std::size_t>(half), 0);
  for (int i = 0; i < half; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[i] = r;
  }
  cosTable_.resize(static_cast<std::size_t>(half));
  sinTable_.resize(static_cast<std::size_t>(half));
  for (int k = 0; k < half; ++k) {
    cosTable_[k] = static_cast<float>(std::cos(2.0 * std::numbers::pi * k / size));
    sinTable_[k] = static_cast<float>(-std::sin(2.0 * std::numbers::pi * k / size));
  }
  stageCos_.assign(static_cast<std::size_t>(half), 1.0f);
  stageSin_.assign(static_cast<std::size_t>(half), 0.0f);
  for (int span = 1; span < half; span *= 2) {
    for (int k = 0; k < span; ++k) {
      stageCos_[span + k] = static_cast<float>(std::cos(std::numbers::pi * k / span));
      stageSin_[span + k] = static_cast<float>(-std::sin(std::numbers::pi * k / span));
    }
  }
  workRe_.resize(static_cast<std::size_t>(half));
  workIm_.resize(static_cast<std::size_t>(half));
}

void Fft::transform(const float* input, float* re, float* im) {
  const auto half = static_cast<std::size_t>(size_ / 2);
  float* wr = workRe_.data();
  float* wi = workIm_.data();
  // Even samples as real parts, odd ones as imaginary parts of a half-size sequence.
  for (std::size_t n = 0; n < half; ++n) {
    const auto r = static_cast<std::size_t>(reversed_[n]);
    wr[r] = input[2 * n];
    wi[r] = input[2 * n + 1];
  }
  // The first two stages have the twiddles 1 and -i only.
  for (std::size_t a = 0; a < half; a += 4) {
    const float r0 = wr[a] + wr[a + 1], i0 = wi[a] + wi[a + 1];
    const float r1 = wr[a] - wr[a + 1], i1 = wi[a] - wi[a + 1];
    const float r2 = wr[a + 2] + wr[a + 3], i2 = wi[a + 2] + wi[a + 3];
    const float r3 = wr[a + 2] - wr[a + 3], i3 = wi[a + 2] - wi[a + 3];
    wr[a] = r0 + r2;
    wi[a] = i0 + i2;
    wr[a + 2] = r0 - r2;
    wi[a + 2] = i0 - i2;
    wr[a + 1] = r1 + i3;  // (r3 + i i3) times -i is i3 - i r3
    wi[a + 1] = i1 - r3;
    wr[a + 3] = r1 - i3;
    wi[a + 3] = i1 + r3;
  }
  for (std::size_t span = 4; span < half; span *= 2) {
    const float* c = stageCos_.data() + span;
    const float* s = stageSin_.data() + span;
    for (std::size_t start = 0; start < half; start += 2 * span)
      butterflies(wr + start, wi + start, wr + start + span, wi + start + span, c, s, span);
  }
  // Separate the two interleaved real transforms and combine them.
  for (std::size_t k = 0; k <= half; ++k) {
    const std::size_t i = k % half;
    const std::size_t j = (half - k) % half;
    const float evenRe = 0.5f * (wr[i] + wr[j]);
    const float evenIm = 0.5f * (wi[i] - wi[j]);
    const float oddRe = 0.5f * (wi[i] + wi[j]);
    const float oddIm = -0.5f * (wr[i] - wr[j]);
    const float c = k < half ? cosTable_[k] : -1.0f;
    const float s = k < half ? sinTable_[k] : 0.0f;
    re[k] = evenRe + c * oddRe - s * oddIm;
    im[k] = evenIm + c * oddIm + s * oddRe;
  }
}

double quietThresholdDb(double hz) {
  const double khz = std::max(hz, 20.0) / 1000.0;
  return 3.64 * std::pow(khz, -0.8) - 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) +
         1e-3 * khz * khz * khz * khz;
}

double barkOf(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

}  // namespace quillion::ferrule
