// SPDX-License-Identifier: GPL-2.0-or-later
// The block cache on one thread: sizes, pools, sequence order, read positions, held
// blocks and the waiting primitive.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "burn/cache/cache_mgr.h"
#include "quillion/clock.h"

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kBlock = 4096;

// A cache of `blocks` blocks (one more than the total asks for) for the given drives.
struct Cache {
  explicit Cache(std::uint32_t blocks, std::vector<std::uint32_t> refs = {1})
      : drives(std::move(refs)),
        cache((blocks - 1) * kBlock, kBlock, drives.data(),
              static_cast<std::uint16_t>(drives.size())) {
    EXPECT_EQ(cache.Initialize(), kNoErr);
    EXPECT_EQ(cache.BlockCount(), blocks);
  }

  // The reader hands in one block of data whose first byte is `tag`; returns its index.
  std::uint32_t push(std::uint8_t tag, std::uint32_t length = kBlock) {
    CacheBlock b{};
    EXPECT_EQ(cache.Popup_Empty(&b), kNoErr);
    b.buffer[0] = tag;
    b.dataLength = length;
    b.blockSize = 2048;
    EXPECT_EQ(cache.Push_Data(&b), kNoErr);
    return b.index;
  }

  // The next block of `ref`: its first byte, or -1 when there is none.
  int pop(std::uint32_t ref, CacheBlock* out = nullptr) {
    CacheBlock b{};
    if (cache.Popup_Data(ref, &b) != kNoErr) return -1;
    if (out) *out = b;
    return b.buffer[0];
  }

  std::vector<std::uint32_t> drives;
  MCacheMgr cache;
};

// A system that has memory for only so many blocks.
class ScarceCache : public MCacheMgr {
 public:
  ScarceCache(std::uint32_t total, int available)
      : MCacheMgr(total, kBlock, nullptr, 0), available_(available) {}

 protected:
  std::unique_ptr<std::uint8_t[]> allocateBlock(std::uint32_t bytes) override {
    return available_-- > 0 ? MCacheMgr::allocateBlock(bytes) : nullptr;
  }

 private:
  int available_;
};

}  // namespace

TEST(BlockCache, SizesAndRefusals) {
  struct Case {
    std::uint32_t total;
    std::uint32_t blockSize;
    EngineStatus status;
    std::uint32_t blocks;
  };
  const Case cases[] = {
      {8'388'608, 524'288, kNoErr, 17},  // the smallest run cache: 16 usable blocks
      {8'388'609, 524'288, kNoErr, 18}, {1, 524'288, kNoErr, 2},
      {0, 524'288, kErrBadArgument, 0}, {8'388'608, 0, kErrBadArgument, 0},
  };
  for (const Case& c : cases) {
    const std::uint32_t ref = 7;
    MCacheMgr cache(c.total, c.blockSize, &ref, 1);
    EXPECT_EQ(cache.Initialize(), c.status) << c.total << "/" << c.blockSize;
    EXPECT_EQ(cache.BlockCount(), c.blocks) << c.total << "/" << c.blockSize;
    EXPECT_EQ(cache.FreeBlocks(), c.blocks);
  }
}

TEST(BlockCache, TooLittleMemoryFailsInsteadOfStallingTheReader) {
  ScarceCache none(8 * kBlock, 1);
  EXPECT_EQ(none.Initialize(), kErrOutOfMemory);
  EXPECT_EQ(none.BlockCount(), 0u);

  ScarceCache some(8 * kBlock, 3);  // nine wanted, three had: a smaller cache that works
  EXPECT_EQ(some.Initialize(), kNoErr);
  EXPECT_EQ(some.BlockCount(), 3u);
  CacheBlock b{};
  EXPECT_EQ(some.Popup_Empty(&b), kNoErr);
}

TEST(BlockCache, OneBlockIsAlwaysHeldBack) {
  Cache c(17);
  for (int i = 0; i < 16; ++i) c.push(static_cast<std::uint8_t>(i));
  CacheBlock b{};
  EXPECT_EQ(c.cache.Popup_Empty(&b), kErrCacheEmpty);
  EXPECT_EQ(c.cache.FreeBlocks(), 1u);
  EXPECT_EQ(c.cache.WrittenBlocks(), 16u);
}

TEST(BlockCache, EveryDriveReadsTheSameSequenceAtItsOwnPace) {
  Cache c(6, {1, 2});
  for (std::uint8_t tag : {10, 11, 12}) c.push(tag);
  EXPECT_EQ(c.pop(1), 10);
  EXPECT_EQ(c.pop(1), 11);
  EXPECT_EQ(c.pop(2), 10);
  EXPECT_EQ(c.pop(1), 12);
  EXPECT_EQ(c.pop(1), -1) << "drive 1 has read everything pushed so far";
  c.push(13);
  EXPECT_EQ(c.pop(1), 13);
  EXPECT_EQ(c.pop(2), 11);
  EXPECT_EQ(c.pop(99), 10) << "a drive never listed starts at the first block";
}

TEST(BlockCache, AnEmptyPushGoesBackWithoutASequenceNumber) {
  Cache c(4);
  CacheBlock b{};
  ASSERT_EQ(c.cache.Popup_Empty(&b), kNoErr);
  EXPECT_EQ(c.cache.FreeBlocks(), 3u);
  b.dataLength = 0;
  EXPECT_EQ(c.cache.Push_Data(&b), kNoErr);
  EXPECT_EQ(c.cache.FreeBlocks(), 4u);
  EXPECT_EQ(c.pop(1), -1);
  c.push(5);
  EXPECT_EQ(c.pop(1), 5);
}

TEST(BlockCache, BadArgumentsAndForeignBlocksAreRefused) {
  Cache c(4);
  EXPECT_EQ(c.cache.Popup_Empty(nullptr), kErrBadArgument);
  EXPECT_EQ(c.cache.Push_Data(nullptr), kErrBadArgument);
  EXPECT_EQ(c.cache.Popup_Data(1, nullptr), kErrBadArgument);
  EXPECT_EQ(c.cache.Push_Empty(1, nullptr), kErrBadArgument);

  CacheBlock b{};
  ASSERT_EQ(c.cache.Popup_Empty(&b), kNoErr);
  CacheBlock notHeld = b;
  notHeld.index = (b.index + 1) % 4;
  notHeld.dataLength = 1;
  EXPECT_EQ(c.cache.Push_Data(&notHeld), kErrBadArgument) << "the reader does not hold it";
  b.dataLength = kBlock + 1;
  EXPECT_EQ(c.cache.Push_Data(&b), kErrBadArgument) << "more data than the buffer holds";
  b.dataLength = kBlock;
  EXPECT_EQ(c.cache.Push_Data(&b), kNoErr);
  EXPECT_EQ(c.cache.Push_Data(&b), kErrBadArgument) << "pushed twice";
  EXPECT_EQ(c.pop(1), b.buffer[0]);
  EXPECT_EQ(c.pop(1), -1);
}

TEST(BlockCache, ABlockReadByOneDriveWaitsForTheOther) {
  Cache c(3, {1, 2});  // two usable blocks
  c.push(1);
  c.push(2);
  CacheBlock b{};
  ASSERT_EQ(c.pop(1, &b), 1);
  ASSERT_EQ(c.cache.Push_Empty(1, &b), kNoErr);
  ASSERT_EQ(c.pop(1, &b), 2);
  ASSERT_EQ(c.cache.Push_Empty(1, &b), kNoErr);
  EXPECT_EQ(c.cache.Popup_Empty(&b), kErrCacheEmpty) << "drive 2 has read nothing yet";
  c.cache.DeleteDrive(2);
  EXPECT_EQ(c.cache.Popup_Empty(&b), kNoErr) << "a dropped drive holds nothing back";
  EXPECT_EQ(c.cache.FreeBlocks(), 2u) << "both blocks came back";
}

TEST(BlockCache, TheBlockADriveStillWritesIsNeverHandedOut) {
  Cache c(3);
  c.push(1);
  c.push(2);
  CacheBlock held{};
  ASSERT_EQ(c.pop(1, &held), 1);  // being written: not given back yet
  CacheBlock b{};
  EXPECT_EQ(c.cache.Popup_Empty(&b), kErrCacheEmpty)
      << "the drive's position is past the block, but it still holds it";

  CacheBlock wrong = held;
  wrong.index = (held.index + 1) % 3;
  EXPECT_EQ(c.cache.Push_Empty(1, &wrong), kNoErr);
  EXPECT_EQ(c.cache.Popup_Empty(&b), kErrCacheEmpty) << "another block was given back";

  EXPECT_EQ(c.cache.Push_Empty(1, &held), kNoErr);
  ASSERT_EQ(c.cache.Popup_Empty(&b), kNoErr);
  EXPECT_EQ(c.cache.FreeBlocks(), 1u) << "only the given-back block returned";
}

TEST(BlockCache, AskingForTheNextBlockReleasesTheLastOne) {
  Cache c(3);
  c.push(1);
  c.push(2);
  ASSERT_EQ(c.pop(1), 1);
  ASSERT_EQ(c.pop(1), 2);  // the first is done with, the second is held
  CacheBlock b{};
  ASSERT_EQ(c.cache.Popup_Empty(&b), kNoErr);
  EXPECT_EQ(c.cache.FreeBlocks(), 1u) << "the first block came back, the second did not";
}

TEST(BlockCache, AFailedWriterNoLongerHoldsItsBlock) {
  Cache c(3, {1, 2});
  c.push(1);
  c.push(2);
  ASSERT_EQ(c.pop(2), 1);
  ASSERT_EQ(c.pop(1), 1);
  ASSERT_EQ(c.pop(1), 2);
  c.cache.DeleteDrive(2);  // dropped while holding block 1
  EXPECT_EQ(c.pop(2), -1) << "a dropped drive reads nothing more";
  CacheBlock b{};
  EXPECT_EQ(c.cache.Popup_Empty(&b), kNoErr);
}

TEST(BlockCache, WrittenBlocksCountsForTheSlowestDriveAfterReadDone) {
  Cache c(6, {1, 2});
  for (std::uint8_t tag : {1, 2, 3, 4}) c.push(tag);
  EXPECT_EQ(c.cache.WrittenBlocks(), 4u);
  c.pop(1);
  c.pop(1);
  c.pop(1);
  c.pop(2);
  EXPECT_EQ(c.cache.WrittenBlocks(), 4u) << "before read-done: blocks out of the empty pool";
  c.cache.Read_Done();
  EXPECT_EQ(c.cache.WrittenBlocks(), 3u) << "drive 2 has three blocks still to read";
  c.cache.DeleteDrive(2);
  EXPECT_EQ(c.cache.WrittenBlocks(), 1u);
  c.cache.DeleteDrive(1);
  EXPECT_EQ(c.cache.WrittenBlocks(), 0u);
}

TEST(BlockCache, ASmallCacheCarriesALongSequenceInOrder) {
  Cache c(4);
  std::vector<int> received;
  const auto drain = [&] {
    CacheBlock d{};
    ASSERT_EQ(c.cache.Popup_Data(1, &d), kNoErr) << "a full cache must have data to drain";
    received.push_back(d.buffer[0]);
    ASSERT_EQ(c.cache.Push_Empty(1, &d), kNoErr);
  };
  for (int tag = 0; tag < 30; ++tag) {
    CacheBlock b{};
    while (c.cache.Popup_Empty(&b) != kNoErr) ASSERT_NO_FATAL_FAILURE(drain());
    b.buffer[0] = static_cast<std::uint8_t>(tag);
    b.dataLength = 1;
    ASSERT_EQ(c.cache.Push_Data(&b), kNoErr);
  }
  while (received.size() < 30) ASSERT_NO_FATAL_FAILURE(drain());
  for (int i = 0; i < 30; ++i) EXPECT_EQ(received[i], i);
  EXPECT_EQ(c.pop(1), -1);
}

TEST(BlockCache, WaitForChangeReturnsOnAChangeOrAfterItsTime) {
  Cache c(4);
  // Already changed since `seen`: no wait at all.
  const std::uint64_t before = c.cache.ChangeCount();
  c.push(1);
  c.cache.WaitForChange(before, 1h);

  // Nothing changes: the wait lasts its time on the engine clock, not on the wall.
  quillion::VirtualClock clock;
  {
    quillion::ScopedClockOverride guard(clock);
    c.cache.WaitForChange(c.cache.ChangeCount(), 100ms);
  }
  EXPECT_EQ(clock.elapsed(), 100ms);

  // Another thread's change wakes a long wait on the real clock.
  const std::uint64_t seen = c.cache.ChangeCount();
  std::thread changer([&] { c.cache.Read_Done(); });
  c.cache.WaitForChange(seen, 1h);
  changer.join();
  EXPECT_NE(c.cache.ChangeCount(), seen);
}
