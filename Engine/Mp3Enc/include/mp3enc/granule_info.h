// SPDX-License-Identifier: GPL-2.0-or-later
// What quantisation hands to the frame writer for one granule of one channel: the quantised
// lines and the side information that describes how they are coded.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

inline constexpr int kGranuleLines = 576;
inline constexpr int kMaxScalefactors = 39;  // 12 short bands x 3 windows + 3 spare

struct GranuleChannel {
  std::int32_t quantised[kGranuleLines] = {};  // signed; magnitudes up to 8191 + 15
  int part2_3_length = 0;   // scalefactor and Huffman bits; the writer may add stuffing
  int big_values = 0;       // pairs in the big-value regions
  int count1 = 0;           // quadruples in the count1 region, right after big_values
  int global_gain = 0;      // the stored gain; the header field is global_gain + 150
  int scalefac_compress = 0;
  int block_type = 0;       // 0 long, 1 start, 2 short, 3 stop
  int mixed_block_flag = 0;
  int table_select[3] = {};
  int subblock_gain[3] = {};
  int region0_count = 0;    // long blocks: bands in region 0, minus 1
  int region1_count = 0;    // long blocks: bands in region 1, minus 1
  int preflag = 0;
  int scalefac_scale = 0;
  int count1table_select = 0;  // 0 table A, 1 table B
  // Scalefactors in up to four partitions, in stream order; a partition with slen 0 or no
  // values writes nothing.
  int partitionValues[4] = {};
  int slen[4] = {};
  int scalefactors[kMaxScalefactors] = {};
};

}  // namespace quillion::mp3enc
