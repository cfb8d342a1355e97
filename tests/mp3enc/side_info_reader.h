// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the side information of every frame of a Layer III stream, written from the
// standard's syntax alone, so that tests can see which windows and gains a stream carries.
#pragma once

#include <cstdint>
#include <vector>

namespace quillion::test {

struct SideInfoGranule {
  int part2_3_length = 0;
  int bigValues = 0;
  int globalGain = 0;  // the header field
  int scalefacCompress = 0;
  int blockType = 0;
  int mixed = 0;
  int subblockGain[3] = {};
  int scalefacScale = 0;
};

struct SideInfoFrame {
  int channels = 0;
  int mode = 0;           // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int modeExtension = 0;  // joint stereo: 2 mid/side, 1 intensity
  int granules = 0;
  std::vector<SideInfoGranule> granule;  // granule-major: [gr * channels + ch]
};

// Every frame from the first sync word on; stops at the first byte run that is not a frame.
[[nodiscard]] std::vector<SideInfoFrame> readSideInfo(const std::vector<std::uint8_t>& stream);

}  // namespace quillion::test
