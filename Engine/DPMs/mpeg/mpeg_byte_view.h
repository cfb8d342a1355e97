// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a movie file through the windowed reader in blocks, so that start-code searches run
// over memory instead of one call per byte. Bytes past the end read as 255, as the windowed
// reader gives them; a read that fails is treated as the end of the file.
#pragma once

#include <cstdint>
#include <memory>

#include "quillion/GU.h"

namespace quillion::mpeg {

class ByteView {
 public:
  // The window of the reader that MU_Init opens.
  static constexpr std::uint32_t kReaderWindow = 32768;

  explicit ByteView(GU_SFB* reader);
  ByteView(const ByteView&) = delete;
  ByteView& operator=(const ByteView&) = delete;

  GU_SFB* reader() const { return reader_; }
  std::uint64_t size() const { return size_; }

  std::uint8_t at(std::uint64_t offset) {
    if (offset >= start_ && offset - start_ < held_) return block_[offset - start_];
    return slowAt(offset);
  }
  std::uint16_t be16(std::uint64_t offset) {
    return static_cast<std::uint16_t>(at(offset) << 8 | at(offset + 1));
  }
  // Copies up to n bytes from offset; returns the count (short at the end of the file).
  std::uint32_t copy(void* dest, std::uint64_t offset, std::uint32_t n);

  // The next position p, from `from` on (forward: p <= size - 4; backward: p >= 0), where
  // the bytes 00 00 01 id begin; id 0xFF takes any id and *found gets the one seen. -1 when
  // there is none. A forward search also ends before a code whose four bytes would reach
  // past `end`.
  std::int64_t findStartCode(std::int64_t from, std::uint8_t id, bool forward, std::uint8_t* found,
                             std::uint64_t end = UINT64_MAX);

 private:
  static constexpr std::uint32_t kBlock = 65536;

  std::uint8_t slowAt(std::uint64_t offset);
  // Loads the block that begins at `start`; false when it holds no byte.
  bool load(std::uint64_t start);
  std::int64_t findForward(std::uint64_t from, std::uint8_t id, std::uint8_t* found,
                           std::uint64_t end);
  std::int64_t findBackward(std::uint64_t from, std::uint8_t id, std::uint8_t* found);

  GU_SFB* reader_;
  std::uint64_t size_;
  std::unique_ptr<std::uint8_t[]> block_;
  std::uint64_t start_ = 0;
  std::uint32_t held_ = 0;
};

}  // namespace quillion::mpeg
