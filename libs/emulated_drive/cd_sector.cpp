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

namespace {

// Sync (00, 10 x FF, 00) and header: the block's MSF in BCD and the mode.
RawSector headed(std::int32_t lba, std::uint8_t mode) {
  RawSector s{};
  std::fill(s.begin() + 1, s.begin() + 11, std::uint8_t{0xFF});
  const auto frames = static_cast<unsigned>(lba + 150);
  s[12] = bcd(frames / 4500);
  s[13] = bcd(frames / 75 % 60);
  s[14] = bcd(frames % 75);
  s[15] = mode;
  return s;
}

void putEdc(RawSector& s, std::size_t from, std::size_t to) {
  const std::uint32_t edc = cdEdc(std::span(s).subspan(from, to - from));
  for (std::size_t i = 0; i < 4; ++i) s[to + i] = static_cast<std::uint8_t>(edc >> (8 * i));
}

constexpr std::uint8_t kSubmodeData = 0x08, kSubmodeForm2 = 0x20;

// The subheader's four bytes stand twice (CD-ROM XA).
void putSubheader(RawSector& s, std::uint8_t submode) {
  s[18] = s[22] = submode;
}

bool isForm2(const RawSector& s) { return (s[18] & kSubmodeForm2) != 0; }

// Form 1: EDC over subheader and data; parity computed with the header taken as zero
// (ECMA-130 14.5). Form 2: EDC over subheader and data.
void sealMode2(RawSector& s) {
  if (isForm2(s)) {
    putEdc(s, 16, 2348);
    return;
  }
  putEdc(s, 16, 2072);
  const std::array<std::uint8_t, 4> header{s[12], s[13], s[14], s[15]};
  std::fill(s.begin() + 12, s.begin() + 16, std::uint8_t{0});
  cdEcc(s);
  std::copy(header.begin(), header.end(), s.begin() + 12);
}

}  // namespace

RawSector mode1Sector(std::int32_t lba, std::span<const std::uint8_t, 2048> userData) {
  RawSector s = headed(lba, 1);
  std::copy(userData.begin(), userData.end(), s.begin() + 16);
  putEdc(s, 0, 2064);
  cdEcc(s);
  return s;
}

std::size_t hostBytes(HostBlock block) {
  switch (block) {
    case HostBlock::Audio2352:
    case HostBlock::Raw2352: return 2352;
    case HostBlock::Mode1_2048:
    case HostBlock::Form1_2048: return 2048;
    case HostBlock::Form1_2056: return 2056;
    case HostBlock::Form2_2324: return 2324;
    case HostBlock::Mixed_2332: return 2332;
    case HostBlock::Mode2_2336:
    case HostBlock::Xa_2336: return 2336;
  }
  return 0;
}

SectorKind recordedKind(HostBlock block) {
  switch (block) {
    case HostBlock::Audio2352: return SectorKind::Audio;
    case HostBlock::Raw2352:
    case HostBlock::Mode1_2048: return SectorKind::Mode1;
    case HostBlock::Mode2_2336: return SectorKind::Mode2;
    case HostBlock::Form2_2324: return SectorKind::Mode2Form2;
    default: return SectorKind::Mode2Form1;
  }
}

RawSector buildSector(HostBlock block, std::int32_t lba, std::span<const std::uint8_t> host) {
  RawSector s{};
  switch (block) {
    case HostBlock::Audio2352:
    case HostBlock::Raw2352:
      std::copy_n(host.begin(), kRawSectorBytes, s.begin());
      return s;
    case HostBlock::Mode1_2048:
      return mode1Sector(lba, host.first<2048>());
    case HostBlock::Mode2_2336:
      s = headed(lba, 2);
      std::copy_n(host.begin(), 2336, s.begin() + 16);
      return s;
    case HostBlock::Form1_2048:
      s = headed(lba, 2);
      putSubheader(s, kSubmodeData);
      std::copy_n(host.begin(), 2048, s.begin() + 24);
      break;
    case HostBlock::Form1_2056:
      s = headed(lba, 2);
      std::copy_n(host.begin(), 2056, s.begin() + 16);
      s[18] &= static_cast<std::uint8_t>(~kSubmodeForm2);
      s[22] = s[18];
      break;
    case HostBlock::Form2_2324:
      s = headed(lba, 2);
      putSubheader(s, kSubmodeForm2);
      std::copy_n(host.begin(), 2324, s.begin() + 24);
      break;
    case HostBlock::Mixed_2332:
    case HostBlock::Xa_2336:
      s = headed(lba, 2);
      // Form 1 keeps 2048 bytes of what follows the subheader; the rest is the drive's.
      std::copy_n(host.begin(), 8, s.begin() + 16);
      std::copy_n(host.begin() + 8, (host[2] & kSubmodeForm2) ? 2324 : 2048, s.begin() + 24);
      break;
  }
  sealMode2(s);
  return s;
}

RawSector emptySector(SectorKind kind, std::int32_t lba) {
  static const std::array<std::uint8_t, 2352> zeros{};
  switch (kind) {
    case SectorKind::Audio: return buildSector(HostBlock::Audio2352, lba, zeros);
    case SectorKind::Mode1: return buildSector(HostBlock::Mode1_2048, lba, zeros);
    case SectorKind::Mode2: return buildSector(HostBlock::Mode2_2336, lba, zeros);
    case SectorKind::Mode2Form1: return buildSector(HostBlock::Form1_2048, lba, zeros);
    case SectorKind::Mode2Form2: return buildSector(HostBlock::Form2_2324, lba, zeros);
  }
  return RawSector{};
}

SectorFields sectorFields(SectorKind trackKind, const RawSector& s) {
  switch (trackKind) {
    case SectorKind::Audio: return {0, 0, 0, 2352, 2352};
    case SectorKind::Mode1: return {12, 16, 16, 2064, 2352};
    case SectorKind::Mode2: return {12, 16, 16, 2352, 2352};
    case SectorKind::Mode2Form1:
    case SectorKind::Mode2Form2: return isForm2(s) ? SectorFields{12, 16, 24, 2348, 2352} : SectorFields{12, 16, 24, 2072, 2352};
  }
  return {};
}

}  // namespace quillion::emu
