// SPDX-License-Identifier: GPL-2.0-or-later
// What a granule of quantised lines must decode to, computed in double precision from the
// standard's decoding formulas: requantisation (scalefactors 0), reordering of short
// blocks, alias reduction, IMDCT with overlap-add, frequency inversion and polyphase
// synthesis. Tests compare it with what an independent decoder produces from our stream.
#pragma once

#include <cstdint>
#include <vector>

namespace quillion::test {

struct RefGranule {
  std::vector<std::int32_t> lines = std::vector<std::int32_t>(576, 0);  // in stream order
  int globalGain = 210;  // the header field
  int blockType = 0;
};

class ReferenceDecoder {
public:
  explicit ReferenceDecoder(int rateSlot);
  // Appends the 576 output samples of one granule of this channel.
  void decode(const RefGranule& granule, std::vector<double>* pcm);

private:
  int rateSlot_;
  double overlap_[32][18] = {};
  double v_[1024] = {};
};

}  // namespace quillion::test
