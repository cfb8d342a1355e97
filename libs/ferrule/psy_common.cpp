// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cmath>

#include "psy.h"

namespace quillion::ferrule {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

void Fft::prepare(int size) {
  size_ = size;
  int bits = 0;
  while ((1 << bits) < size) ++bits;
  reversed_.assign(static_cast<std::size_t>(size), 0);
  for (int i = 0; i < size; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[static_cast<std::size_t>(i)] = r;
  }
  twiddles_.resize(static_cast<std::size_t>(size / 2));
  for (int k = 0; k < size / 2; ++k)
    twiddles_[static_cast<std::size_t>(k)] = std::polar(1.0, -2.0 * kPi * k / size);
  work_.resize(static_cast<std::size_t>(size));
}

void Fft::transform(const double* input, std::complex<double>* out) {
  const auto n = static_cast<std::size_t>(size_);
  for (std::size_t i = 0; i < n; ++i) work_[static_cast<std::size_t>(reversed_[i])] = input[i];
  for (std::size_t half = 1; half < n; half *= 2) {
    const std::size_t step = n / (2 * half);
    for (std::size_t start = 0; start < n; start += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        const std::complex<double> t = twiddles_[k * step] * work_[start + k + half];
        work_[start + k + half] = work_[start + k] - t;
        work_[start + k] += t;
      }
    }
  }
  for (std::size_t i = 0; i <= n / 2; ++i) out[i] = work_[i];
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
