// SPDX-License-Identifier: GPL-2.0-or-later
// A modelled decoder buffer: a fill level and a ring of entries, each a number of bytes that
// leaves the buffer at a 27 MHz time. Entries with the same removal time are merged.
#pragma once

#include <cstdint>

#include "services.h"

namespace quillion::corvel {

class QueueBuffer {
 public:
  static constexpr std::int32_t kEntries = 8192;

  QueueBuffer() = default;
  ~QueueBuffer();
  QueueBuffer(const QueueBuffer&) = delete;
  QueueBuffer& operator=(const QueueBuffer&) = delete;

  // 0, or 16 after "M018" when the ring cannot be allocated.
  std::int32_t create(std::int32_t capacity, const mpeg::Services& services);
  void destroy();
  bool created() const { return entries_ != nullptr; }

  void removeUntil(std::uint64_t time);
  std::int32_t freeSpace() const;
  // 0, or 16 after "M018" when a new entry is needed and the ring is full.
  std::int32_t add(std::int32_t bytes, std::uint64_t time);
  std::int32_t addSplit(std::int32_t transportHeader, std::int32_t pesHeader, std::int32_t payload,
                        std::uint64_t time);

  std::int32_t capacity() const { return size_; }
  std::int32_t level() const { return level_; }
  bool overflow() const { return overflow_; }
  bool full() const { return full_; }
  std::int32_t entryCount() const;

 private:
  struct Entry {
    std::int32_t payload;
    std::int32_t pesHeader;
    std::int32_t transportHeader;
    std::uint64_t time;
  };
  static std::int32_t step(std::int32_t index) { return (index - 1) & (kEntries - 1); }

  const mpeg::Services* services_ = nullptr;
  std::int32_t size_ = 0;
  std::int32_t level_ = 0;
  bool overflow_ = false;
  bool full_ = false;
  std::int32_t read_ = 0;
  std::int32_t write_ = 0;
  Entry* entries_ = nullptr;
};

}  // namespace quillion::corvel
