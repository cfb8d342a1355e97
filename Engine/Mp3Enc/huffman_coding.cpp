// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/huffman_coding.h"

#include "mp3enc/huffman_tables.h"

namespace quillion::mp3enc {
namespace {

std::int32_t magnitudeOf(std::int32_t v) { return v < 0 ? -v : v; }

bool validPairTable(int table) {
  return table >= 0 && table < kQuadTableA && (table == 0 || kHuffTables[table].size > 0);
}

}  // namespace

int huffMaxValue(int table) {
  if (!validPairTable(table) || table == 0) return 0;
  const HuffTable& t = kHuffTables[table];
  return t.linbits ? 15 + (1 << t.linbits) - 1 : t.size - 1;
}

int huffPairBits(std::int32_t x, std::int32_t y, int table) {
  if (!validPairTable(table)) return -1;
  const std::int32_t ax = magnitudeOf(x), ay = magnitudeOf(y);
  if (table == 0) return (ax == 0 && ay == 0) ? 0 : -1;
  if (ax > huffMaxValue(table) || ay > huffMaxValue(table)) return -1;
  const HuffTable& t = kHuffTables[table];
  const int cx = ax < 15 ? ax : 15, cy = ay < 15 ? ay : 15;
  int bits = t.length[cx * t.size + cy];
  if (t.linbits) bits += (ax >= 15 ? t.linbits : 0) + (ay >= 15 ? t.linbits : 0);
  return bits + (ax ? 1 : 0) + (ay ? 1 : 0);
}

int mp3EncodeHuffPair(const std::int32_t* values, int table, BitBuffer* buffer) {
  if (!values || huffPairBits(values[0], values[1], table) < 0) return -1;
  if (table == 0) return 0;
  const HuffTable& t = kHuffTables[table];
  const std::int32_t ax = magnitudeOf(values[0]), ay = magnitudeOf(values[1]);
  const int cx = ax < 15 ? ax : 15, cy = ay < 15 ? ay : 15;
  int bits = static_cast<int>(mp3WriteBits(buffer, t.code[cx * t.size + cy], t.length[cx * t.size + cy]));
  const std::int32_t magnitudes[2] = {ax, ay};
  for (int i = 0; i < 2; ++i) {
    if (t.linbits && magnitudes[i] >= 15) {
      bits += static_cast<int>(mp3WriteBits(buffer, static_cast<std::uint32_t>(magnitudes[i] - 15), t.linbits));
    }
    if (magnitudes[i]) bits += static_cast<int>(mp3WriteBits(buffer, values[i] < 0 ? 1 : 0, 1));
  }
  return bits;
}

int huffQuadBits(const std::int32_t* values, int table) {
  if (!values || (table != 0 && table != 1)) return -1;
  int index = 0, signs = 0;
  for (int i = 0; i < 4; ++i) {
    const std::int32_t m = magnitudeOf(values[i]);
    if (m > 1) return -1;
    index = index * 2 + m;
    signs += m;
  }
  return kHuffTables[kQuadTableA + table].length[index] + signs;
}

int mp3EncodeHuffQuadruple(const std::int32_t* values, int table, BitBuffer* buffer) {
  if (huffQuadBits(values, table) < 0) return -1;
  int index = 0;
  for (int i = 0; i < 4; ++i) index = index * 2 + magnitudeOf(values[i]);
  const HuffTable& t = kHuffTables[kQuadTableA + table];
  int bits = static_cast<int>(mp3WriteBits(buffer, t.code[index], t.length[index]));
  for (int i = 0; i < 4; ++i) {
    if (values[i]) bits += static_cast<int>(mp3WriteBits(buffer, values[i] < 0 ? 1 : 0, 1));
  }
  return bits;
}

}  // namespace quillion::mp3enc
