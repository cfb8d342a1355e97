// SPDX-License-Identifier: GPL-2.0-or-later
#include "fast_math.h"

#include <cmath>

namespace quillion::ferrule {

namespace {

Log2Tables makeLog2Tables() {
  Log2Tables t;
  for (int i = 0; i <= Log2Tables::kPoints; ++i) {
    const double step = static_cast<double>(i) / Log2Tables::kPoints;
    t.log2Of[static_cast<std::size_t>(i)] = static_cast<float>(std::log2(1.0 + step));
    t.pow2Of[static_cast<std::size_t>(i)] = static_cast<float>(std::exp2(step));
  }
  return t;
}

}  // namespace

const Log2Tables kLog2Tables = makeLog2Tables();

}  // namespace quillion::ferrule
