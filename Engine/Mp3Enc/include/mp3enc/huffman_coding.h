// SPDX-License-Identifier: GPL-2.0-or-later
// Writing Huffman codes: pairs of the big-value regions with their escape (linbits) and
// sign bits, and quadruples of the count1 region.
#pragma once

#include <cstdint>

#include "mp3enc/bit_buffer.h"

namespace quillion::mp3enc {

// The largest magnitude a linbits table can carry: 15 + 2^linbits - 1.
[[nodiscard]] int huffMaxValue(int table);

// Writes the code of (values[0], values[1]) with table 0..31; returns the bits written.
// Table 0 writes nothing. A value the table cannot carry writes nothing and returns -1.
int mp3EncodeHuffPair(const std::int32_t* values, int table, BitBuffer* buffer);
// Writes the code of the quadruple values[0..3] (magnitudes 0 or 1) with count1 table 0 (A)
// or 1 (B); returns the bits written, or -1 for a value out of range.
int mp3EncodeHuffQuadruple(const std::int32_t* values, int table, BitBuffer* buffer);

// Bits the pair or quadruple costs, signs and escapes included (-1 when it cannot be coded).
[[nodiscard]] int huffPairBits(std::int32_t x, std::int32_t y, int table);
[[nodiscard]] int huffQuadBits(const std::int32_t* values, int table);

}  // namespace quillion::mp3enc
