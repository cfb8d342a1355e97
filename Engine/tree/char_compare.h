// SPDX-License-Identifier: GPL-2.0-or-later
// The order of a folder's children. Titles are compared byte by byte as signed bytes with
// ASCII letters upper-cased, so titles that differ only in the case of ASCII letters are
// one key, and bytes of 128 and above (the lead bytes of non-ASCII UTF-8) sort first.
#pragma once

#include <string_view>

// Below 0, 0 or above 0, like strcmp.
int CharCompare(std::string_view a, std::string_view b);

struct CharCompareLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return CharCompare(a, b) < 0; }
};
