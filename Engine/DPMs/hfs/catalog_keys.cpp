// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/catalog_keys.h"

#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>

#include "common/byte_order.h"

namespace quillion::hfs {
namespace {

// Disc form of an HFS key: length byte, reserved byte, parent ID, name length, name.
constexpr std::size_t kHFSParent = 2;
constexpr std::size_t kHFSNameLength = 6;
// Disc form of an HFS Plus key: length word, parent ID, unit count, units.
constexpr std::size_t kPlusParent = 2;
constexpr std::size_t kPlusNameLength = 6;

std::uint32_t parentOf(DiscBytes key, std::size_t at) {
  return key.size() >= at + 4 ? be::get32(key, at) : 0;
}

// The name of an HFS key, cut to what the key really holds.
std::span<const std::uint8_t> hfsName(DiscBytes key) {
  if (key.size() <= kHFSNameLength) return {};
  const std::size_t n = std::min<std::size_t>(key[kHFSNameLength], key.size() - kHFSNameLength - 1);
  return key.subspan(kHFSNameLength + 1, n);
}

// The Macintosh file system's name order over Mac Roman bytes, case-insensitive and
// diacritical-sensitive, written as the sequence in which the bytes sort. Bytes in one
// inner list share a rank (the two cases of a letter; the space and the no-break space).
// The order is this:
//  - control codes by value, then the space;
//  - punctuation, digits and the ASCII symbols up to '@' by value, with the typographic
//    double quotes and guillemets after '"' and the typographic single quotes after '\'';
//  - the letters A to Z, each followed by its marked forms (marked capitals of the
//    original character set fold with their small letters), with the ligatures AE and OE,
//    the slashed O, the ordinal indicators, the sharp s and the grave accent placed among
//    the letters they are written like;
//  - the ASCII symbols after 'Z' by value, then every other byte by value: the signs and
//    the characters added after the original character set, which have no case.
// This order was checked byte by byte against the catalogs other HFS writers produce.
constexpr std::uint8_t kNoRank = 0xFF;

struct MacRomanRanks {
  std::array<std::uint8_t, 256> rank{};
  constexpr MacRomanRanks() {
    rank.fill(kNoRank);
    std::uint8_t next = 0;
    const auto place = [&](std::initializer_list<std::uint8_t> equal) {
      for (const std::uint8_t byte : equal) rank[byte] = next;
      ++next;
    };
    for (int c = 0x00; c < 0x20; ++c) place({static_cast<std::uint8_t>(c)});
    place({0x20, 0xCA});
    const auto placeEach = [&](std::initializer_list<std::uint8_t> bytes) {
      for (const std::uint8_t byte : bytes) place({byte});
    };
    placeEach({0x21, 0x22, 0xD2, 0xD3, 0xC7, 0xC8, 0x23, 0x24, 0x25, 0x26, 0x27, 0xD4, 0xD5});
    for (int c = 0x28; c <= 0x40; ++c) place({static_cast<std::uint8_t>(c)});
    // Each letter: its capital and small form, then its marked forms in order.
    const auto letter = [&](char capital,
                            std::initializer_list<std::initializer_list<std::uint8_t>> marked) {
      place({static_cast<std::uint8_t>(capital), static_cast<std::uint8_t>(capital + 32)});
      for (const auto& equal : marked) place(equal);
    };
    letter('A', {{0x88, 0xCB},
                 {0x80, 0x8A},
                 {0x8B, 0xCC},
                 {0x81, 0x8C},
                 {0xAE, 0xBE},
                 {0x60},
                 {0x87},
                 {0x89},
                 {0xBB}});
    letter('B', {});
    letter('C', {{0x82, 0x8D}});
    letter('D', {});
    letter('E', {{0x83, 0x8E}, {0x8F}, {0x90}, {0x91}});
    letter('F', {});
    letter('G', {});
    letter('H', {});
    letter('I', {{0x92}, {0x93}, {0x94}, {0x95}});
    letter('J', {});
    letter('K', {});
    letter('L', {});
    letter('M', {});
    letter('N', {{0x84, 0x96}});
    letter(
        'O',
        {{0x85, 0x9A}, {0x9B, 0xCD}, {0xAF, 0xBF}, {0xCE, 0xCF}, {0x97}, {0x98}, {0x99}, {0xBC}});
    letter('P', {});
    letter('Q', {});
    letter('R', {});
    letter('S', {{0xA7}});
    letter('T', {});
    letter('U', {{0x86, 0x9F}, {0x9C}, {0x9D}, {0x9E}});
    letter('V', {});
    letter('W', {});
    letter('X', {});
    letter('Y', {{0xD8}});
    letter('Z', {});
    for (int c = 0x5B; c <= 0x5F; ++c) place({static_cast<std::uint8_t>(c)});
    for (int c = 0x7B; c <= 0xFF; ++c) {
      if (rank[c] == kNoRank) place({static_cast<std::uint8_t>(c)});
    }
  }
};

constexpr MacRomanRanks kMacRomanRanks;

}  // namespace

std::uint8_t hfsNameRank(std::uint8_t byte) {
  return kMacRomanRanks.rank[byte];
}

namespace {

template <typename NextUnit>
int compareFolded(NextUnit nextA, NextUnit nextB) {
  for (;;) {
    const std::uint16_t a = nextA();
    const std::uint16_t b = nextB();
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

// Hands out the folded units of a name one by one, skipping ignorable ones; 0 at the end.
template <typename UnitAt>
class FoldedUnits {
 public:
  FoldedUnits(UnitAt unitAt, std::size_t length) : unitAt_(unitAt), length_(length) {}
  std::uint16_t operator()() {
    while (at_ < length_) {
      const std::uint16_t folded = hfsPlusFoldedUnit(unitAt_(at_++));
      if (folded != 0) return folded;
    }
    return 0;
  }

 private:
  UnitAt unitAt_;
  std::size_t length_;
  std::size_t at_ = 0;
};

}  // namespace

bool Key_Compare::operator()(DiscBytes a, DiscBytes b) const {
  const std::uint32_t pa = parentOf(a, kHFSParent), pb = parentOf(b, kHFSParent);
  if (pa != pb) return pa < pb;
  const auto na = hfsName(a), nb = hfsName(b);
  const std::size_t common = std::min(na.size(), nb.size());
  for (std::size_t i = 0; i < common; ++i) {
    const std::uint8_t ra = hfsNameRank(na[i]), rb = hfsNameRank(nb[i]);
    if (ra != rb) return ra < rb;
  }
  return na.size() < nb.size();
}

bool Key_Equals::operator()(DiscBytes other) const {
  if (parentOf(key, kHFSParent) != parentOf(other, kHFSParent)) return false;
  const auto na = hfsName(key), nb = hfsName(other);
  return std::equal(na.begin(), na.end(), nb.begin(), nb.end(), [](std::uint8_t x, std::uint8_t y) {
    return hfsNameRank(x) == hfsNameRank(y);
  });
}

bool UnicodeKey_Compare::operator()(DiscBytes a, DiscBytes b) const {
  const std::uint32_t pa = parentOf(a, kPlusParent), pb = parentOf(b, kPlusParent);
  if (pa != pb) return pa < pb;
  const auto units = [](DiscBytes key) -> std::size_t {
    if (key.size() < kPlusNameLength + 2) return 0;
    return std::min<std::size_t>(be::get16(key, kPlusNameLength),
                                 (key.size() - kPlusNameLength - 2) / 2);
  };
  const auto name = [&units](DiscBytes key) {
    const std::size_t n = units(key);
    return n == 0 ? DiscBytes() : key.subspan(kPlusNameLength + 2, 2 * n);
  };
  return FastUnicodeCompare(name(a), name(b)) < 0;
}

int FastUnicodeCompare(std::u16string_view a, std::u16string_view b) {
  const auto at = [](std::u16string_view s) {
    return [s](std::size_t i) { return static_cast<std::uint16_t>(s[i]); };
  };
  FoldedUnits na(at(a), a.size()), nb(at(b), b.size());
  return compareFolded(std::ref(na), std::ref(nb));
}

int FastUnicodeCompare(DiscBytes a, DiscBytes b) {
  const auto at = [](DiscBytes s) { return [s](std::size_t i) { return be::get16(s, 2 * i); }; };
  FoldedUnits na(at(a), a.size() / 2), nb(at(b), b.size() / 2);
  return compareFolded(std::ref(na), std::ref(nb));
}

}  // namespace quillion::hfs
