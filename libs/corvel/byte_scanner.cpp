// SPDX-License-Identifier: GPL-2.0-or-later
#include "byte_scanner.h"

#include <algorithm>
#include <cstring>

#include "bufstream.h"

namespace quillion::corvel {

const std::uint8_t* ByteScanner::peek(std::uint32_t n) {
  return stream_->request(stream_, n);
}

bool ByteScanner::skip(std::uint32_t n) {
  while (n > 0) {
    if (!stream_->request(stream_, 1)) return false;
    const std::uint32_t available = std::max<std::uint32_t>(stream_->usable_bytes(stream_), 1);
    const std::uint32_t k = std::min(n, available);
    if (stream_->confirm(stream_, k) != k) return false;
    position_ += k;
    n -= k;
  }
  return true;
}

bool ByteScanner::toStartCode(std::uint64_t& taken) {
  for (;;) {
    const std::uint8_t* p = stream_->request(stream_, 4);
    if (!p) {
      // Fewer than four bytes remain: they cannot hold a start code and its value.
      while (stream_->request(stream_, 1)) {
        stream_->confirm(stream_, 1);
        ++position_;
        ++taken;
      }
      return false;
    }
    const std::uint32_t available = stream_->usable_bytes(stream_);
    const std::uint32_t window = std::max<std::uint32_t>(available, 4);
    std::uint32_t from = 2;
    while (from < window) {
      const void* hit = std::memchr(p + from, 0x01, window - from);
      if (!hit) break;
      const auto i = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) - p);
      if (p[i - 1] == 0 && p[i - 2] == 0) {
        // A code at the very end of the window needs its value byte: look again with more.
        if (i + 1 >= window) break;
        stream_->confirm(stream_, i - 2);
        position_ += i - 2;
        taken += i - 2;
        return true;
      }
      from = i + 1;
    }
    // Keep the last three bytes: they may begin a prefix that the next window completes.
    const std::uint32_t pass = window - 3;
    if (pass == 0) {
      // The window is the whole remainder: ask for more than it holds to learn if more exists.
      if (!stream_->request(stream_, window + 1)) {
        stream_->confirm(stream_, window);
        position_ += window;
        taken += window;
        return false;
      }
      continue;
    }
    stream_->confirm(stream_, pass);
    position_ += pass;
    taken += pass;
  }
}

}  // namespace quillion::corvel
