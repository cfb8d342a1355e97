// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/catalog_keys.h"

#include <algorithm>
#include <functional>

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

signed char upperSigned(std::uint8_t byte) {
  const std::uint8_t up =
      (byte >= 'a' && byte <= 'z') ? static_cast<std::uint8_t>(byte - 32) : byte;
  return static_cast<signed char>(up);
}

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
    const signed char ca = upperSigned(na[i]), cb = upperSigned(nb[i]);
    if (ca != cb) return ca < cb;
  }
  return na.size() < nb.size();
}

bool Key_Equals::operator()(DiscBytes other) const {
  if (parentOf(key, kHFSParent) != parentOf(other, kHFSParent)) return false;
  const auto na = hfsName(key), nb = hfsName(other);
  return std::equal(na.begin(), na.end(), nb.begin(), nb.end(), [](std::uint8_t x, std::uint8_t y) {
    return upperSigned(x) == upperSigned(y);
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
