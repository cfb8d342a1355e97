// SPDX-License-Identifier: GPL-2.0-or-later
// What the stream suites share: the library's messages, collected, and byte patterns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillion::test {

// The messages the stream library reported through `collect`, its message callback here.
inline std::vector<std::string> messages;
inline void collect(char* text) {
  messages.emplace_back(text);
}

// `n` bytes counting from `seed` in steps of `step`, so that shifted or lost runs show.
inline std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed, unsigned step = 7) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * step);
  return v;
}

}  // namespace quillion::test
