// SPDX-License-Identifier: GPL-2.0-or-later
#include "filterbank.h"

#include <cmath>
#include <numbers>

#include "quillion_mpeg/analysis_window.h"

namespace quillion::ferrule {
namespace {
}

void FilterTables::prepare() {
  for (int n = 0; n < mpeg::kAnalysisWindowLength; ++n)
    window[n] = static_cast<float>(mpeg::analysisWindow(n));
  for (int m = 0; m < 32; ++m)
    for (int k = 0; k < 32; ++k)
      cosines[m * 32 + k] = static_cast<float>(std::cos((2 * k + 1) * m * std::numbers::pi / 64));
}

void AnalysisFilter::reset() {
  ring_.fill(0.0f);
  offset_ = 0;
}

void AnalysisFilter::filter(const FilterTables& tables, const float* samples, float* out) {
  offset_ = (offset_ + 512 - 32) % 512;
  for (int j = 0; j < 32; ++j) {
    const float v = samples[j];
    ring_[offset_ + 31 - j] = v;
    ring_[offset_ + 31 - j + 512] = v;
  }
  const float* x = ring_.data() + offset_;
  const float* c = tables.window.data();
  // Loops run over contiguous taps and bands so that they vectorise.
  // The eight taps of each partial sum added in registers, in order.
  float y[64];
  for (int i = 0; i < 64; ++i) {
    float sum = c[i] * x[i];
    for (int j = 1; j < 8; ++j) sum += c[i + 64 * j] * x[i + 64 * j];
    y[i] = sum;
  }
  // Fold the 64 windowed sums onto the 32 cosine terms (symmetries of cos((2k+1)(i-16)pi/64)).
  float a[32];
  a[0] = y[16];
  for (int n = 1; n <= 16; ++n) a[n] = y[16 + n] + y[16 - n];
  for (int n = 17; n < 32; ++n) a[n] = y[16 + n] - y[80 - n];
  // cos((2(31 - k) + 1) m pi / 64) = (-1)^m cos((2k + 1) m pi / 64): the even and the odd
  // terms summed for the lower half give the upper half as well, at half the products.
  const float* cosines = tables.cosines.data();
  float even[16] = {};
  float odd[16] = {};
  for (int m = 0; m < 32; m += 2) {
    const float* evenRow = cosines + m * 32;
    const float* oddRow = evenRow + 32;
    for (int k = 0; k < 16; ++k) {
      even[k] += evenRow[k] * a[m];
      odd[k] += oddRow[k] * a[m + 1];
    }
  }
  for (int k = 0; k < 16; ++k) {
    out[k] = even[k] + odd[k];
    out[31 - k] = even[k] - odd[k];
  }
}

}  // namespace quillion::ferrule
