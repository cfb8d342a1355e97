// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/cache/cache_mgr.h"

#include <algorithm>
#include <new>

using quillion::engineClock;

MCacheMgr::MCacheMgr(std::uint32_t totalBytes, std::uint32_t blockSize, const std::uint32_t* drives,
                     std::uint16_t count)
    : totalBytes_(totalBytes), blockSize_(blockSize) {
  for (std::uint16_t i = 0; drives && i < count; ++i) readers_[drives[i]] = Reader{};
}

MCacheMgr::~MCacheMgr() {
  Finalize();
}

EngineStatus MCacheMgr::Initialize() {
  if (blockSize_ == 0 || totalBytes_ == 0) return kErrBadArgument;
  Lock lock(mutex_);
  buffers_.clear();
  blocks_.clear();
  const std::uint64_t wanted = (std::uint64_t{totalBytes_} + blockSize_ - 1) / blockSize_ + 1;
  try {
    buffers_.reserve(wanted);
    blocks_.reserve(wanted);
    for (std::uint64_t i = 0; i < wanted; ++i) {
      std::unique_ptr<std::uint8_t[]> buffer = allocateBlock(blockSize_);
      if (!buffer) break;
      const auto index = static_cast<std::uint32_t>(buffers_.size());
      blocks_.push_back(CacheBlock{0, 0, buffer.get(), blockSize_, index});
      buffers_.push_back(std::move(buffer));
    }
  } catch (const std::bad_alloc&) {
    // keep what was made; the count decides below
  }
  if (blocks_.size() < 2) {
    buffers_.clear();
    blocks_.clear();
    return kErrOutOfMemory;
  }
  withReader_.assign(blocks_.size(), false);
  empty_.clear();
  for (const CacheBlock& b : blocks_) empty_.push_back(b.index);
  data_.clear();
  nextSequence_ = 0;
  cleanMark_ = 0;
  readDone_ = false;
  changed(lock);
  return kNoErr;
}

// Pages are only touched when data first lands in them, so a large cache that a short job
// never fills costs address space, not memory.
std::unique_ptr<std::uint8_t[]> MCacheMgr::allocateBlock(std::uint32_t bytes) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[bytes]);
}

void MCacheMgr::Finalize() {
  Lock lock(mutex_);
  buffers_.clear();
  blocks_.clear();
  withReader_.clear();
  empty_.clear();
  data_.clear();
  readers_.clear();
  changed(lock);
}

void MCacheMgr::DeleteDrive(std::uint32_t ref) {
  Lock lock(mutex_);
  auto it = readers_.find(ref);
  if (it == readers_.end()) return;
  it->second = Reader{kDropped, false};
  changed(lock);
}

void MCacheMgr::Read_Done() {
  Lock lock(mutex_);
  readDone_ = true;
  changed(lock);
}

EngineStatus MCacheMgr::Popup_Empty(CacheBlock* out) {
  if (!out) return kErrBadArgument;
  Lock lock(mutex_);
  // One block is always held back, so the reader never takes the last empty one.
  if (empty_.size() < 2) recycle();
  if (empty_.size() < 2) return kErrCacheEmpty;
  const std::uint32_t index = empty_.front();
  empty_.pop_front();
  withReader_[index] = true;
  *out = blocks_[index];
  out->dataLength = 0;
  out->blockSize = 0;
  return kNoErr;
}

EngineStatus MCacheMgr::Push_Data(const CacheBlock* block) {
  if (!block) return kErrBadArgument;
  Lock lock(mutex_);
  const std::uint32_t index = block->index;
  if (index >= blocks_.size() || !withReader_[index] || block->dataLength > blockSize_)
    return kErrBadArgument;
  withReader_[index] = false;
  CacheBlock& own = blocks_[index];
  if (block->dataLength == 0) {
    own.dataLength = 0;
    own.blockSize = 0;
    empty_.push_back(index);
  } else {
    own.dataLength = block->dataLength;
    own.blockSize = block->blockSize;
    data_.push_back(index);
    ++nextSequence_;
  }
  changed(lock);
  return kNoErr;
}

EngineStatus MCacheMgr::Popup_Data(std::uint32_t ref, CacheBlock* out) {
  if (!out) return kErrBadArgument;
  Lock lock(mutex_);
  Reader& reader = readers_[ref];  // a destination never listed starts at 0
  // Asking for the next block means the writer is done with the one it held.
  const bool released = reader.holding;
  reader.holding = false;
  const std::uint32_t sequence = reader.position;
  if (sequence == kDropped || sequence >= nextSequence_ || sequence < cleanMark_) {
    if (released) changed(lock);
    return kErrCacheEmpty;
  }
  *out = blocks_[data_[sequence - cleanMark_]];
  reader.position = sequence + 1;
  reader.holding = true;
  changed(lock);
  return kNoErr;
}

EngineStatus MCacheMgr::Push_Empty(std::uint32_t ref, const CacheBlock* block) {
  if (!block) return kErrBadArgument;
  Lock lock(mutex_);
  auto it = readers_.find(ref);
  if (it == readers_.end() || !it->second.holding) return kNoErr;
  const std::uint32_t held = it->second.position - 1;
  if (held < cleanMark_ || data_[held - cleanMark_] != block->index) return kNoErr;
  it->second.holding = false;
  changed(lock);
  return kNoErr;
}

std::uint32_t MCacheMgr::WrittenBlocks() const {
  Lock lock(mutex_);
  const auto count = static_cast<std::int64_t>(blocks_.size());
  if (!readDone_)
    return static_cast<std::uint32_t>(count - static_cast<std::int64_t>(empty_.size()));
  std::uint32_t smallest = kDropped;
  for (const auto& entry : readers_) smallest = std::min(smallest, entry.second.position);
  const std::int64_t left = std::int64_t{nextSequence_} - smallest;
  return left < 0 || left > count ? 0 : static_cast<std::uint32_t>(left);
}

std::uint32_t MCacheMgr::FreeBlocks() const {
  Lock lock(mutex_);
  return static_cast<std::uint32_t>(empty_.size());
}

std::uint32_t MCacheMgr::BlockCount() const {
  Lock lock(mutex_);
  return static_cast<std::uint32_t>(blocks_.size());
}

std::uint64_t MCacheMgr::ChangeCount() const {
  return changes_.load();
}

void MCacheMgr::WaitForChange(std::uint64_t seen, quillion::Clock::Duration maxWait) {
  std::atomic<bool> woken{false};
  {
    Lock lock(mutex_);
    if (changes_.load() != seen) return;
    waiters_.push_back(&woken);
  }
  // A change between here and the sleep sets `woken` first, and the sleep looks at it
  // before it waits, so no wake is lost.
  (void)engineClock().sleepFor(maxWait, &woken);
  Lock lock(mutex_);
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &woken));
}

void MCacheMgr::Signal() {
  Lock lock(mutex_);
  changed(lock);
}

// Gives back every block below the smallest position of a destination still reading; a
// block a destination still holds counts as not yet read.
void MCacheMgr::recycle() {
  std::uint32_t limit = kDropped;
  for (const auto& entry : readers_) {
    const Reader& r = entry.second;
    if (r.position != kDropped) limit = std::min(limit, r.position - (r.holding ? 1u : 0u));
  }
  if (limit == 0 || limit == kDropped || limit <= cleanMark_) return;
  for (; cleanMark_ < limit && !data_.empty(); ++cleanMark_) {
    const std::uint32_t index = data_.front();
    data_.pop_front();
    blocks_[index].dataLength = 0;
    blocks_[index].blockSize = 0;
    empty_.push_back(index);
  }
}

void MCacheMgr::changed(Lock& lock) {
  changes_.fetch_add(1);
  for (std::atomic<bool>* w : waiters_) w->store(true);
  const bool wake = !waiters_.empty();
  lock.unlock();
  if (wake) engineClock().wakeAll();
}
