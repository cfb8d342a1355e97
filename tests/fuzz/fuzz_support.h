// SPDX-License-Identifier: GPL-2.0-or-later
// What every fuzz target shares: a reader that takes typed values off the front of the input
// (zeros once it runs dry, so every input is a complete run), and a check that stops the run
// loudly when a property of the code under test does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

namespace quillion::fuzz {

// A property failed: libFuzzer and the replay program both see the abort as a finding.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  std::size_t left() const { return size_ - at_; }

  std::uint8_t u8() { return empty() ? 0 : data_[at_++]; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(u16() | std::uint32_t{u16()} << 16); }
  std::uint64_t u64() { return u32() | std::uint64_t{u32()} << 32; }
  bool flag() { return (u8() & 1) != 0; }

  // Up to n bytes (fewer when the input ends).
  std::span<const std::uint8_t> bytes(std::size_t n) {
    if (n > left()) n = left();
    const std::span<const std::uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }
  // Everything that is left.
  std::span<const std::uint8_t> rest() { return bytes(left()); }
  std::string_view text(std::size_t n) {
    const auto b = bytes(n);
    return {reinterpret_cast<const char*>(b.data()), b.size()};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace quillion::fuzz
