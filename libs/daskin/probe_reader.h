// SPDX-License-Identifier: GPL-2.0-or-later
// The bit reader detection and the probes read through: bits from the front of a probing
// parser's buffer, refilled as needed. It hands out every byte of the data, the last ones
// included; only a request for more than is left sets the end flag (the missing bits read
// as zeros).
#pragma once

#include <cstdint>

#include "context.h"
#include "io.h"

namespace quillion::daskin {

class BitReader {
 public:
  BitReader(Context& ctx, Parser& p) : ctx_(ctx), p_(p) {}

  // Back to the start of the data; false on a failure.
  bool restart() { return seek(0); }
  bool seek(std::uint64_t position) {
    bit_ = 0;
    // A probe that looks past the end of the data finds nothing there.
    if (position > ctx_.totalSize) {
      if (!positionParser(ctx_, p_, ctx_.totalSize)) return false;
      p_.atEnd = true;
      return true;
    }
    // Within the bytes at hand only the read position moves: scans try every position.
    const FileEntry& file = ctx_.files[p_.fileIndex];
    if (!p_.error && p_.handleOpen && position >= file.first &&
        position - file.first >= p_.loadedOffset &&
        position - file.first <= p_.loadedOffset + p_.endIndex) {
      p_.readIndex = static_cast<std::uint32_t>(position - file.first - p_.loadedOffset);
      p_.position = position;
      p_.atEnd = false;
      return true;
    }
    return positionParser(ctx_, p_, position) && !p_.error;
  }

  // The next n (1..32) bits without taking them.
  std::uint32_t show(int n) {
    const std::uint32_t need = static_cast<std::uint32_t>(bit_ + n + 7) / 8;
    std::uint32_t have = ensure(p_, need);
    if (have < need) {
      if (!p_.error) p_.atEnd = true;
    }
    if (have > need) have = need;
    std::uint64_t v = 0;
    const std::uint8_t* d = cursor(p_);
    for (std::uint32_t i = 0; i < need; ++i) v = v << 8 | (i < have ? d[i] : 0u);
    const int drop = static_cast<int>(need * 8) - bit_ - n;
    return static_cast<std::uint32_t>((v >> drop) & ((std::uint64_t{1} << n) - 1));
  }
  std::uint32_t get(int n) {
    const std::uint32_t v = show(n);
    skipBits(static_cast<std::uint32_t>(n));
    return v;
  }
  void skipBits(std::uint32_t n) {
    const std::uint32_t bits = static_cast<std::uint32_t>(bit_) + n;
    bit_ = static_cast<int>(bits % 8);
    skipBytes(bits / 8);
  }
  void skipBytes(std::uint64_t n) {
    if (daskin::skipBytes(p_, n) == Step::End) p_.atEnd = true;
  }
  // Byte position of the next whole byte to read.
  [[nodiscard]] std::uint64_t position() const { return p_.position; }
  [[nodiscard]] bool end() const { return p_.atEnd || p_.error; }
  [[nodiscard]] bool failed() const { return p_.error; }
  // True when a byte is left at the read position.
  bool more() { return !p_.error && ensure(p_, 1) >= 1; }

  Context& context() { return ctx_; }
  Parser& parser() { return p_; }

 private:
  Context& ctx_;
  Parser& p_;
  int bit_ = 0;
};

}  // namespace quillion::daskin
