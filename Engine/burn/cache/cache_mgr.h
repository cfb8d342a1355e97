// SPDX-License-Identifier: GPL-2.0-or-later
// The block cache of a burn run: a ring of large buffers between the one reader thread,
// which fills empty blocks and hands them in as data in sequence order, and the writer
// threads, one per destination, each reading that same sequence through a read position of
// its own. A block goes back to the empty pool only when every destination still writing
// has read past it and none still holds it, so a slow drive never loses data and a failed
// or cancelled one (DeleteDrive) no longer holds the others back.
//
// Every operation runs under one lock and none of them waits: callers that get
// kErrCacheEmpty wait with WaitForChange, outside the lock. Block data is copied by the
// thread holding the block's record, never under the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "quillion/clock.h"
#include "quillion/status.h"

// The record handed between the cache and its users.
struct CacheBlock {
  std::uint32_t dataLength;  // bytes of data in the buffer; 0 for an empty block
  std::uint32_t blockSize;   // bytes per disc block of the data
  std::uint8_t* buffer;
  std::uint32_t bufferSize;  // the cache's block size
  std::uint32_t index;       // the block's number in the cache
};

class MCacheMgr {
 public:
  // The read position that marks a dropped destination.
  static constexpr std::uint32_t kDropped = 0xFFFFFFFFu;

  // Remembers the sizes and gives every listed destination read position 0; no memory is
  // taken before Initialize.
  MCacheMgr(std::uint32_t totalBytes, std::uint32_t blockSize, const std::uint32_t* drives,
            std::uint16_t count);
  virtual ~MCacheMgr();
  MCacheMgr(const MCacheMgr&) = delete;
  MCacheMgr& operator=(const MCacheMgr&) = delete;

  // ceil(total / block size) + 1 buffers, all empty. kErrBadArgument for a zero size;
  // kErrOutOfMemory when fewer than two buffers could be had, since one block is always
  // held back and the reader could then never take one.
  [[nodiscard]] EngineStatus Initialize();
  void Finalize();
  // The destination no longer reads: its position and its held block stop counting.
  void DeleteDrive(std::uint32_t ref);
  // The reader has delivered everything.
  void Read_Done();

  // An empty block for the reader (data length and block size 0). kErrCacheEmpty when
  // fewer than two blocks are empty even after recycling.
  [[nodiscard]] EngineStatus Popup_Empty(CacheBlock* out);
  // The reader hands a block in: as the next sequence number, or back to the empty pool
  // when its data length is 0. kErrBadArgument for a block the reader does not hold.
  [[nodiscard]] EngineStatus Push_Data(const CacheBlock* block);
  // The next block in sequence for `ref`, which holds it until it gives it back, asks for
  // the next one or is deleted. kErrCacheEmpty when there is nothing new for it.
  [[nodiscard]] EngineStatus Popup_Data(std::uint32_t ref, CacheBlock* out);
  // `ref` is done with the block it holds.
  EngineStatus Push_Empty(std::uint32_t ref, const CacheBlock* block);

  // Before Read_Done: blocks not in the empty pool. After it: the blocks the slowest
  // destination has still to read.
  std::uint32_t WrittenBlocks() const;
  std::uint32_t FreeBlocks() const;
  std::uint32_t BlockCount() const;

  // Waiting without polling. ChangeCount() grows with every operation that may let a
  // waiting reader or writer go on; WaitForChange returns once it differs from `seen`, or
  // after `maxWait` on the engine clock (so that callers look at their stop flags).
  std::uint64_t ChangeCount() const;
  void WaitForChange(std::uint64_t seen, quillion::Clock::Duration maxWait);
  // Wakes the waiters for a change the cache does not see itself (a flag of the run).
  void Signal();

 protected:
  // One block's memory, null when there is none to be had (tests fail it on purpose).
  virtual std::unique_ptr<std::uint8_t[]> allocateBlock(std::uint32_t bytes);

 private:
  struct Reader {
    std::uint32_t position = 0;  // next sequence number to read, or kDropped
    bool holding = false;        // still holds the block of sequence position - 1
  };

  using Lock = std::unique_lock<std::mutex>;
  void recycle();
  // Counts a change and wakes its waiters; takes the held lock and releases it.
  void changed(Lock& lock);

  const std::uint32_t totalBytes_;
  const std::uint32_t blockSize_;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
  std::vector<CacheBlock> blocks_;
  std::vector<bool> withReader_;     // handed out by Popup_Empty and not yet pushed
  std::deque<std::uint32_t> empty_;  // block indexes
  std::deque<std::uint32_t> data_;   // block index of sequence number cleanMark_ + i
  std::uint32_t nextSequence_ = 0;
  std::uint32_t cleanMark_ = 0;  // every sequence number below it has been recycled
  std::map<std::uint32_t, Reader> readers_;
  bool readDone_ = false;

  std::atomic<std::uint64_t> changes_{0};
  std::vector<std::atomic<bool>*> waiters_;
};
