// SPDX-License-Identifier: GPL-2.0-or-later
// What a granule of quantised lines must decode to, computed in double precision from the
// standard's decoding formulas: requantisation with global gain, subblock gains and
// scalefactors, reordering of short blocks, alias reduction, IMDCT with overlap-add,
// frequency inversion and polyphase synthesis. Tests compare it with what independent
// decoders produce from our stream.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quillion::test {

struct RefGranule {
  std::vector<std::int32_t> lines = std::vector<std::int32_t>(576, 0);  // in stream order
  int globalGain = 210;                                                 // the header field
  int blockType = 0;
  bool mixed = false;  // block type 2 only: the lowest two subbands are long
  std::array<int, 3> subblockGain = {};
  int scalefacScale = 0;
  bool preflag = false;
  std::array<int, 22> scalefacLong = {};                  // by long band (band 21 has none)
  std::array<std::array<int, 3>, 13> scalefacShort = {};  // by short band and window
};

// Line where the short part of a mixed block starts: the first 8 long bands at MPEG-1, the
// first 6 at the lower rates; short band 3 starts at the same line.
[[nodiscard]] int mixedLongLines(int rateSlot);

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
