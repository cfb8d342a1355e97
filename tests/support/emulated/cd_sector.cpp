// SPDX-License-Identifier: GPL-2.0-or-later
#include "cd_sector.h"

#include <algorithm>

namespace quillion::emu {
namespace {

// EDC generator (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), processed least significant bit
// first: the reflected form of 0x8001801B.
constexpr std::uint32_t kEdcReflected = 0xD8018001u;

constexpr std::array<std::uint32_t, 256> makeEdcTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ kEdcReflected : v >> 1;
    t[i] = v;
  }
  return t;
}
constexpr auto kEdcTable = makeEdcTable();

// GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1: multiplying by the primitive
// element alpha, and dividing by (1 + alpha), the two operations two-symbol parity needs.
constexpr std::uint8_t timesAlpha(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1D : 0));
}
constexpr std::array<std::uint8_t, 256> makeDivideByOnePlusAlpha() {
  std::array<std::uint8_t, 256> t{};
  for (int x = 0; x < 256; ++x) t[static_cast<std::uint8_t>(x ^ timesAlpha(static_cast<std::uint8_t>(x)))] =
      static_cast<std::uint8_t>(x);
  return t;
}
constexpr auto kDivideByOnePlusAlpha = makeDivideByOnePlusAlpha();

// Two parity symbols p0, p1 for each of `vectors` codewords of `length` data symbols, so that
// the codeword (data, p0, p1) has zero syndromes for alpha^0 and alpha^1. The data of vector
// v starts at (v / 2) * start + v % 2 (two interleaved byte planes) and advances by `step`,
// wrapping over the `vectors * length` bytes.
void parity(const std::uint8_t* data, std::size_t vectors, std::size_t length, std::size_t start, std::size_t step,
            std::uint8_t* out) {
  const std::size_t size = vectors * length;
  for (std::size_t v = 0; v < vectors; ++v) {
    std::size_t at = (v / 2) * start + v % 2;
    std::uint8_t sum = 0;     // syndrome for alpha^0 of the data
    std::uint8_t horner = 0;  // sum of d_i * alpha^(length - i), by Horner's rule
    for (std::size_t i = 0; i < length; ++i) {
      sum ^= data[at];
      horner = timesAlpha(static_cast<std::uint8_t>(horner ^ data[at]));
      at += step;
      if (at >= size) at -= size;
    }
    // p0 + p1 = sum and alpha * p0 + p1 = alpha * horner give p0 = (sum + alpha * horner) / (1 + alpha).
    const std::uint8_t p0 = kDivideByOnePlusAlpha[static_cast<std::uint8_t>(timesAlpha(horner) ^ sum)];
    out[v] = p0;
    out[v + vectors] = static_cast<std::uint8_t>(p0 ^ sum);
  }
}

std::uint8_t bcd(unsigned v) { return static_cast<std::uint8_t>((v / 10) << 4 | v % 10); }

}  // namespace

std::uint32_t cdEdc(std::span<const std::uint8_t> bytes) {
  std::uint32_t edc = 0;
  for (std::uint8_t b : bytes) edc = (edc >> 8) ^ kEdcTable[(edc ^ b) & 0xFF];
  return edc;
}

// Annex A: P parity over 43 columns of 24 words (86 byte vectors), stored at 2076; Q parity
// over 26 diagonals of 43 words (52 byte vectors), stored at 2248, covering the P parity too.
void cdEcc(RawSector& sector) {
  parity(sector.data() + 12, 86, 24, 2, 86, sector.data() + 2076);
  parity(sector.data() + 12, 52, 43, 86, 88, sector.data() + 2248);
}

RawSector mode1Sector(std::int32_t lba, std::span<const std::uint8_t, 2048> userData) {
  RawSector s{};
  std::fill(s.begin() + 1, s.begin() + 11, std::uint8_t{0xFF});  // sync: 00, 10 x FF, 00
  const auto frames = static_cast<unsigned>(lba + 150);
  s[12] = bcd(frames / 4500);
  s[13] = bcd(frames / 75 % 60);
  s[14] = bcd(frames % 75);
  s[15] = 1;  // mode 1
  std::copy(userData.begin(), userData.end(), s.begin() + 16);
  const std::uint32_t edc = cdEdc(std::span(s).first(2064));
  for (int i = 0; i < 4; ++i) s[2064 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(edc >> (8 * i));
  cdEcc(s);
  return s;
}

}  // namespace quillion::emu
