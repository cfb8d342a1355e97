// SPDX-License-Identifier: GPL-2.0-or-later
// Analysis subband filter bank of ISO/IEC 11172-3 with the standard's window. Each call
// shifts in 32 new samples and gives one sample of every subband.
#pragma once

#include <array>

namespace quillion::ferrule {

// The tables every channel's filter shares: the analysis window C and the 32-point cosine
// transform that, after folding the 64 partial sums, replaces the standard's 32 x 64
// matrixing.
struct FilterTables {
  std::array<float, 512> window;       // C[0..511]
  std::array<float, 32 * 32> cosines;  // cosines[m * 32 + k] = cos((2k + 1) m pi / 64)
  void prepare();
};

class AnalysisFilter {
 public:
  void reset();
  // `samples`: 32 samples, oldest first, scaled to +-1.0. `out`: 32 subband samples.
  void filter(const FilterTables& tables, const float* samples, float* out);

 private:
  std::array<float, 1024> ring_{};  // two copies of the 512 newest samples, newest first
  int offset_ = 0;
};

}  // namespace quillion::ferrule
