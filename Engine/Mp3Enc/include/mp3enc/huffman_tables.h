// SPDX-License-Identifier: GPL-2.0-or-later
// Layer III Huffman tables: 0 to 31 code big-value pairs, 32 and 33 (count1 tables A and B)
// code quadruples.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

struct HuffTable {
  int size;                    // values per dimension (0: the table does not exist or codes nothing)
  int linbits;                 // escape bits for values of 15 and more (tables 16 to 31)
  const std::uint16_t* code;   // index x * size + y (quadruples: 8v + 4w + 2x + y)
  const std::uint8_t* length;  // code lengths in bits, without sign and escape bits
};

inline constexpr int kHuffTableCount = 34;
inline constexpr int kQuadTableA = 32;
inline constexpr int kQuadTableB = 33;

extern const HuffTable kHuffTables[kHuffTableCount];

}  // namespace quillion::mp3enc
