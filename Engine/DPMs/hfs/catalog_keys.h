// SPDX-License-Identifier: GPL-2.0-or-later
// The orders of catalog keys in HFS and HFS Plus B-trees, over keys in their big-endian
// disc form (as swapHFSCatalogKey and SwapHFSPlusCatalogKey write them), and the
// case-folding comparison of HFS Plus names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillion::hfs {

using DiscBytes = std::span<const std::uint8_t>;

// HFS: parent ID first; then the names byte by byte in the Macintosh file system's order of
// Mac Roman characters (case-insensitive, diacritical-sensitive); a name that is a prefix
// of the other sorts first.
struct Key_Compare {
  bool operator()(DiscBytes a, DiscBytes b) const;
};

// Where a Mac Roman byte falls in the HFS name order; bytes the order holds equal (the
// cases of a letter, the space and the no-break space) share a rank.
std::uint8_t hfsNameRank(std::uint8_t byte);

// Finds the key equal to `key`: same parent, same name length, and names that the HFS
// order holds equal byte by byte (the cases of a letter, the space and no-break space).
struct Key_Equals {
  DiscBytes key;
  bool operator()(DiscBytes other) const;
};

// HFS Plus: parent ID first, then FastUnicodeCompare of the names.
struct UnicodeKey_Compare {
  bool operator()(DiscBytes a, DiscBytes b) const;
};

// The HFS Plus comparison of two names: -1, 0 or 1. Units are folded through the lower-case
// table of the format; units it maps to 0 are ignored; U+0000 sorts after every other unit.
int FastUnicodeCompare(std::u16string_view a, std::u16string_view b);
// The same over big-endian units as stored on disc (a trailing odd byte is no unit).
int FastUnicodeCompare(DiscBytes a, DiscBytes b);

// The folded value of one unit: its lower-case form, 0 for an ignorable unit, 0xFFFF for
// U+0000.
std::uint16_t hfsPlusFoldedUnit(std::uint16_t unit);

}  // namespace quillion::hfs
