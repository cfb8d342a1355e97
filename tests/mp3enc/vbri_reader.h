// SPDX-License-Identifier: GPL-2.0-or-later
// A reader of the VBRI header frame written from its layout, independent of the builder, and
// the check that its seek table names frame starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillion::test {

struct VbriTable {
  bool found = false;
  int headerBytes = 0;  // the frame's length by its own header
  int version = 0;
  int delay = 0;
  int quality = 0;
  std::uint32_t streamBytes = 0;
  std::uint32_t frames = 0;
  int entries = 0;
  int scale = 0;
  int entrySize = 0;
  int framesPerEntry = 0;
  std::vector<std::uint32_t> positions;  // entry 0 = 0, then summed deltas x scale
};

[[nodiscard]] std::uint32_t bigEndianAt(const std::vector<std::uint8_t>& b, std::size_t at,
                                        int bytes);
// Frame length in bytes of a Layer III header at b[at], or 0.
[[nodiscard]] int frameLength(const std::vector<std::uint8_t>& b, std::size_t at);
// The header frame at the start of b; found is false when there is none.
[[nodiscard]] VbriTable readVbri(const std::vector<std::uint8_t>& b);
// Every table entry is one of the frame positions, the table is monotonic, and the spacing
// between neighbours is the frames per entry, one less or up to two more where a thinned part
// meets the rest.
void expectEntriesAreFrames(const VbriTable& t, const std::vector<std::uint32_t>& frames);

}  // namespace quillion::test
