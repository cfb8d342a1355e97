// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/char_compare.h"

#include <algorithm>
#include <cstdint>

namespace {

int keyOf(char c) {
  const auto b = static_cast<std::int8_t>(c);
  return (b >= 'a' && b <= 'z') ? b - ('a' - 'A') : b;
}

}  // namespace

int CharCompare(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int d = keyOf(a[i]) - keyOf(b[i]);
    if (d != 0) return d;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
