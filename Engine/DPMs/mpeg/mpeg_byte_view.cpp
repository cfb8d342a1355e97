// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/mpeg/mpeg_byte_view.h"

#include <algorithm>
#include <cstring>

namespace quillion::mpeg {

ByteView::ByteView(GU_SFB* reader)
    : reader_(reader), size_(GU_SFB_FileSize(reader)), block_(new std::uint8_t[kBlock]) {}

bool ByteView::load(std::uint64_t start) {
  start_ = start;
  held_ = start < size_ ? GU_SFB_GetData(reader_, block_.get(), start, kBlock) : 0;
  return held_ > 0;
}

std::uint8_t ByteView::slowAt(std::uint64_t offset) {
  if (offset >= size_ || !load(offset)) return 255;
  return block_[0];
}

std::uint32_t ByteView::copy(void* dest, std::uint64_t offset, std::uint32_t n) {
  if (offset >= size_ || n == 0) return 0;
  const std::uint64_t room = size_ - offset;
  if (n > room) n = static_cast<std::uint32_t>(room);
  if (offset >= start_ && offset - start_ + n <= held_) {
    std::memcpy(dest, block_.get() + (offset - start_), n);
    return n;
  }
  return GU_SFB_GetData(reader_, dest, offset, n);
}

std::int64_t ByteView::findStartCode(std::int64_t from, std::uint8_t id, bool forward,
                                     std::uint8_t* found, std::uint64_t end) {
  if (from < 0 || size_ < 4) return -1;
  const auto position = static_cast<std::uint64_t>(from);
  if (forward) return findForward(position, id, found, end);
  // Backward scans fill the reader's window so that it ends at the byte asked for.
  const std::uint8_t direction = GU_SFB_GetDirection(reader_);
  GU_SFB_SetDirection(reader_, kGU_SFBBackward);
  const std::int64_t at = findBackward(std::min(position, size_ - 4), id, found);
  GU_SFB_SetDirection(reader_, direction);
  return at;
}

std::int64_t ByteView::findForward(std::uint64_t p, std::uint8_t id, std::uint8_t* found,
                                   std::uint64_t end) {
  if (end < 4) return -1;
  const std::uint64_t last = std::min(size_, end) - 4;
  while (p <= last) {
    if (!(p >= start_ && p + 4 <= start_ + held_)) {
      if (!load(p) || held_ < 4) return -1;
    }
    const std::uint64_t limit = std::min(last, start_ + held_ - 4);
    const std::uint8_t* base = block_.get() - start_;
    while (p <= limit) {
      const std::uint8_t* q = base + p;
      // A byte above 1 at q[2] rules out a start code at p, p + 1 and p + 2.
      if (q[2] > 1) {
        p += 3;
        continue;
      }
      if (q[2] == 1 && q[1] == 0 && q[0] == 0 && (id == 0xFF || q[3] == id)) {
        if (found) *found = q[3];
        return static_cast<std::int64_t>(p);
      }
      ++p;
    }
  }
  return -1;
}

std::int64_t ByteView::findBackward(std::uint64_t p, std::uint8_t id, std::uint8_t* found) {
  for (;;) {
    if (!(p >= start_ && p + 4 <= start_ + held_)) {
      const std::uint64_t start = p + 4 > kBlock ? p + 4 - kBlock : 0;
      if (!load(start) || p + 4 > start_ + held_) return -1;
    }
    const std::uint8_t* base = block_.get() - start_;
    for (;;) {
      const std::uint8_t* q = base + p;
      if (q[0] == 0 && q[1] == 0 && q[2] == 1 && (id == 0xFF || q[3] == id)) {
        if (found) *found = q[3];
        return static_cast<std::int64_t>(p);
      }
      if (p == 0) return -1;
      --p;
      if (p < start_) break;
    }
  }
}

}  // namespace quillion::mpeg
