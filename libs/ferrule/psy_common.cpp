// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>
#include <numbers>

#include "psy.h"

namespace quillion::ferrule {

namespace {
}

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
    cosTable_[k] = std::cos(2.0 * std::numbers::pi * k / size);
    sinTable_[k] = -std::sin(2.0 * std::numbers::pi * k / size);
  }
  workRe_.resize(static_cast<std::size_t>(half));
  workIm_.resize(static_cast<std::size_t>(half));
}

void Fft::transform(const double* input, double* re, double* im) {
  const auto half = static_cast<std::size_t>(size_ / 2);
  double* wr = workRe_.data();
  double* wi = workIm_.data();
  // Even samples as real parts, odd ones as imaginary parts of a half-size sequence.
  for (std::size_t n = 0; n < half; ++n) {
    const auto r = static_cast<std::size_t>(reversed_[n]);
    wr[r] = input[2 * n];
    wi[r] = input[2 * n + 1];
  }
  for (std::size_t span = 1; span < half; span *= 2) {
    const std::size_t step = half / span;  // twiddle stride in the full-size table: 2 * step / 2
    for (std::size_t start = 0; start < half; start += 2 * span) {
      for (std::size_t k = 0; k < span; ++k) {
        const double c = cosTable_[k * step];
        const double s = sinTable_[k * step];
        const std::size_t a = start + k;
        const std::size_t b = a + span;
        const double tr = c * wr[b] - s * wi[b];
        const double ti = c * wi[b] + s * wr[b];
        wr[b] = wr[a] - tr;
        wi[b] = wi[a] - ti;
        wr[a] += tr;
        wi[a] += ti;
      }
    }
  }
  // Separate the two interleaved real transforms and combine them.
  for (std::size_t k = 0; k <= half; ++k) {
    const std::size_t i = k % half;
    const std::size_t j = (half - k) % half;
    const double evenRe = 0.5 * (wr[i] + wr[j]);
    const double evenIm = 0.5 * (wi[i] - wi[j]);
    const double oddRe = 0.5 * (wi[i] + wi[j]);
    const double oddIm = -0.5 * (wr[i] - wr[j]);
    const double c = k < half ? cosTable_[k] : -1.0;
    const double s = k < half ? sinTable_[k] : 0.0;
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
