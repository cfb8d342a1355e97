// SPDX-License-Identifier: GPL-2.0-or-later
#include "queue_buffer.h"

#include <cstring>

namespace quillion::corvel {

QueueBuffer::~QueueBuffer() {
  destroy();
}

std::int32_t QueueBuffer::create(std::int32_t capacity, const mpeg::Services& services) {
  destroy();
  services_ = &services;
  entries_ = static_cast<Entry*>(services.allocate(sizeof(Entry) * kEntries));
  if (!entries_) {
    services.error("M018:Unable to allocate memory for next queue_buffer");
    return 16;
  }
  std::memset(static_cast<void*>(entries_), 0, sizeof(Entry) * kEntries);
  size_ = capacity;
  return 0;
}

void QueueBuffer::destroy() {
  if (entries_ && services_) services_->release(entries_);
  entries_ = nullptr;
  size_ = level_ = read_ = write_ = 0;
  overflow_ = full_ = false;
}

void QueueBuffer::removeUntil(std::uint64_t time) {
  if (!entries_) return;
  while (read_ != write_ && entries_[read_].time <= time) {
    const Entry& e = entries_[read_];
    level_ -= e.payload + e.pesHeader + e.transportHeader;
    read_ = step(read_);
  }
  if (step(write_) != read_) full_ = false;
  if (level_ < size_) overflow_ = false;
}

std::int32_t QueueBuffer::freeSpace() const {
  return level_ >= size_ ? 0 : size_ - level_;
}

std::int32_t QueueBuffer::entryCount() const {
  return (read_ - write_) & (kEntries - 1);
}

std::int32_t QueueBuffer::add(std::int32_t bytes, std::uint64_t time) {
  return addSplit(0, 0, bytes, time);
}

std::int32_t QueueBuffer::addSplit(std::int32_t transportHeader, std::int32_t pesHeader,
                                   std::int32_t payload, std::uint64_t time) {
  if (!entries_) return 16;
  Entry* match = nullptr;
  for (std::int32_t i = read_; i != write_; i = step(i)) {
    if (entries_[i].time == time) {
      match = &entries_[i];
      break;
    }
  }
  if (match) {
    match->payload += payload;
    match->pesHeader += pesHeader;
    match->transportHeader += transportHeader;
  } else {
    if (step(write_) == read_) {
      full_ = true;
      services_->error("M018:Unable to allocate memory for next queue_buffer");
      return 16;
    }
    entries_[write_] = Entry{payload, pesHeader, transportHeader, time};
    write_ = step(write_);
    if (step(write_) == read_) full_ = true;
  }
  level_ += payload + pesHeader + transportHeader;
  if (level_ >= size_) overflow_ = true;
  return 0;
}

}  // namespace quillion::corvel
