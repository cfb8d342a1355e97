// SPDX-License-Identifier: GPL-2.0-or-later
// Formats one layer I or II frame: header, CRC, allocation, selection information, scale
// factors and quantised samples, then zero bits up to the frame's budget.
#pragma once

#include "bitwriter.h"
#include "frame.h"

namespace quillion::ferrule {

struct ScaleTables {
  std::array<double, 64> value;       // 2^(1 - i/3); index 63 is never coded
  std::array<double, 64> reciprocal;  // what quantisation multiplies by
  void prepare();
  // The smallest scale factor not below `peak` (its index).
  int indexFor(double peak) const;
};

void writeFrame(const FrameLayout& layout, HeaderRecord& header, const FrameData& data,
                const ScaleTables& scales, int budgetBits, mpeg::BitWriter& writer);

}  // namespace quillion::ferrule
