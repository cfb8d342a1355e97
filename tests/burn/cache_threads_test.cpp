// SPDX-License-Identifier: GPL-2.0-or-later
// The block cache between one reader and several writers of different speeds, with
// writers that fail and runs that are cancelled at different points. Every writer must
// receive the reader's sequence (or a prefix of it when cancelled) exactly, block for block,
// and every run must end. Waits are event-driven and long, so a lost wake-up shows as a
// hang, which the bounded wait turns into a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "burn/cache/cache_mgr.h"

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kBlockBytes = 4096;
constexpr std::uint32_t kSequence = 240;   // blocks the reader delivers
constexpr std::uint32_t kCacheBlocks = 8;  // plus the one always held back
constexpr auto kLongWait = std::chrono::hours(1);

std::uint32_t lengthOf(std::uint32_t seq) {
  return seq % 7 == 3 ? kBlockBytes / 2 : kBlockBytes;
}

std::uint8_t byteOf(std::uint32_t seq, std::uint32_t i) {
  std::uint64_t x = (std::uint64_t{seq} << 32 | i) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<std::uint8_t>(x >> 17);
}

void fill(std::uint8_t* buffer, std::uint32_t seq) {
  for (std::uint32_t i = 0; i < lengthOf(seq); ++i) buffer[i] = byteOf(seq, i);
  buffer[0] = static_cast<std::uint8_t>(seq);
  buffer[1] = static_cast<std::uint8_t>(seq >> 8);
}

std::uint64_t fold(std::uint64_t digest, const std::uint8_t* bytes, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) digest = (digest ^ bytes[i]) * 0x100000001B3ull;
  return digest;
}

constexpr std::uint64_t kDigestStart = 0xCBF29CE484222325ull;

// The digest of the first `blocks` blocks, made without the cache.
std::uint64_t expectedDigest(std::uint32_t blocks) {
  std::vector<std::uint8_t> buffer(kBlockBytes);
  std::uint64_t digest = kDigestStart;
  for (std::uint32_t s = 0; s < blocks; ++s) {
    fill(buffer.data(), s);
    digest = fold(digest, buffer.data(), lengthOf(s));
  }
  return digest;
}

enum class StopBy { Nobody, Reader, FirstWriter, BeforeStart };

struct Case {
  const char* name;
  std::vector<int> work;        // hashing rounds per block: the writers' speeds
  int failing = -1;             // writer that fails ...
  std::uint32_t failAfter = 0;  // ... after this many blocks
  int failing2 = -1;
  std::uint32_t failAfter2 = 0;
  StopBy stopBy = StopBy::Nobody;
  std::uint32_t stopAfter = 0;
};

struct WriterResult {
  std::uint32_t received = 0;
  std::uint64_t digest = kDigestStart;
  bool inOrder = true;
  bool failed = false;
};

struct Run {
  explicit Run(const Case& c)
      : plan(c),
        refs(makeRefs(c.work.size())),
        cache(kCacheBlocks * kBlockBytes, kBlockBytes, refs.data(),
              static_cast<std::uint16_t>(refs.size())),
        results(c.work.size()) {}

  static std::vector<std::uint32_t> makeRefs(std::size_t n) {
    std::vector<std::uint32_t> r;
    for (std::size_t i = 0; i < n; ++i) r.push_back(static_cast<std::uint32_t>(100 + i));
    return r;
  }

  void requestStop() {
    stop = true;
    cache.Signal();
  }

  void reader() {
    for (std::uint32_t seq = 0; seq < kSequence; ++seq) {
      CacheBlock b{};
      for (;;) {
        if (stop) return finishReading();
        const std::uint64_t seen = cache.ChangeCount();
        if (cache.Popup_Empty(&b) == kNoErr) break;
        cache.WaitForChange(seen, kLongWait);
      }
      fill(b.buffer, seq);  // outside the cache's lock
      b.dataLength = stop ? 0 : lengthOf(seq);
      b.blockSize = 2048;
      if (cache.Push_Data(&b) != kNoErr) pushErrors++;
      if (b.dataLength == 0) return finishReading();
      pushed = seq + 1;
      if (plan.stopBy == StopBy::Reader && pushed == plan.stopAfter) requestStop();
    }
    finishReading();
  }

  void finishReading() {
    cache.Read_Done();
    readerDone = true;
  }

  bool failsNow(std::size_t w, std::uint32_t received) const {
    return (static_cast<int>(w) == plan.failing && received == plan.failAfter) ||
           (static_cast<int>(w) == plan.failing2 && received == plan.failAfter2);
  }

  void writer(std::size_t w) {
    WriterResult& r = results[w];
    while (r.received < kSequence && !stop) {
      if (failsNow(w, r.received)) {
        r.failed = true;
        break;
      }
      CacheBlock b{};
      const std::uint64_t seen = cache.ChangeCount();
      if (cache.Popup_Data(refs[w], &b) != kNoErr) {
        cache.WaitForChange(seen, kLongWait);
        continue;
      }
      const std::uint32_t seq = b.buffer[0] | b.buffer[1] << 8;
      if (seq != (r.received & 0xFFFF) || b.dataLength != lengthOf(r.received)) r.inOrder = false;
      // The "drive" reads the block in place, slower or faster, as a writer does while its
      // command runs: a block handed out again meanwhile would change under it.
      std::uint64_t scratch = 0;
      for (int k = 0; k < plan.work[w]; ++k) scratch = fold(scratch, b.buffer, b.dataLength);
      sideEffect += scratch & 1;
      r.digest = fold(r.digest, b.buffer, b.dataLength);
      (void)cache.Push_Empty(refs[w], &b);
      ++r.received;
      if (w == 0 && plan.stopBy == StopBy::FirstWriter && r.received == plan.stopAfter)
        requestStop();
    }
    cache.DeleteDrive(refs[w]);
    // As in a burn run, the last writer to end stops everything, so a reader waiting for
    // room behind writers that all failed is never left waiting.
    if (++writersEnded == refs.size()) requestStop();
  }

  void go() {
    ASSERT_EQ(cache.Initialize(), kNoErr);
    if (plan.stopBy == StopBy::BeforeStart) requestStop();
    std::vector<std::thread> threads;
    threads.emplace_back([this] { reader(); });
    for (std::size_t w = 0; w < refs.size(); ++w) threads.emplace_back([this, w] { writer(w); });
    for (auto& t : threads) t.join();
  }

  const Case& plan;
  std::vector<std::uint32_t> refs;
  MCacheMgr cache;
  std::vector<WriterResult> results;
  std::atomic<bool> stop{false};
  std::atomic<bool> readerDone{false};
  std::atomic<std::uint32_t> pushed{0};
  std::atomic<int> pushErrors{0};
  std::atomic<std::size_t> writersEnded{0};
  std::atomic<std::uint64_t> sideEffect{0};
};

// Runs `work` on its own thread; a run that does not end within the bound is a deadlock,
// which cannot be recovered from inside the process.
void runBounded(const std::string& name, const std::function<void()>& work) {
  auto done = std::async(std::launch::async, work);
  if (done.wait_for(100s) != std::future_status::ready) {
    std::fprintf(stderr, "cache run \"%s\" did not end: deadlock\n", name.c_str());
    std::abort();
  }
  done.get();
}

void check(const Case& c) {
  SCOPED_TRACE(c.name);
  Run run(c);
  runBounded(c.name, [&] { run.go(); });
  EXPECT_TRUE(run.readerDone);
  EXPECT_EQ(run.pushErrors, 0);
  const bool cancelled = c.stopBy != StopBy::Nobody;
  for (std::size_t w = 0; w < c.work.size(); ++w) {
    const WriterResult& r = run.results[w];
    SCOPED_TRACE("writer " + std::to_string(w));
    EXPECT_TRUE(r.inOrder);
    EXPECT_EQ(r.digest, expectedDigest(r.received)) << "received " << r.received;
    EXPECT_LE(r.received, run.pushed.load());
    if (r.failed) {
      EXPECT_EQ(r.received, static_cast<int>(w) == c.failing ? c.failAfter : c.failAfter2);
    } else if (!cancelled) {
      EXPECT_EQ(r.received, kSequence);
    }
  }
  if (c.stopBy == StopBy::BeforeStart) {
    EXPECT_EQ(run.pushed, 0u);
  } else if (c.stopBy == StopBy::Reader) {
    EXPECT_EQ(run.pushed, c.stopAfter);
  }
}

}  // namespace

TEST(BlockCacheThreads, EveryWriterGetsTheWholeSequence) {
  const Case cases[] = {
      {"one writer", {0}},
      {"two writers, one slow", {0, 3}},
      {"four writers of four speeds", {0, 1, 4, 9}},
      {"four slow writers", {6, 6, 6, 6}},
  };
  for (const Case& c : cases) check(c);
}

TEST(BlockCacheThreads, AFailedWriterNoLongerHoldsTheOthersBack) {
  const Case cases[] = {
      {"the slow writer fails midway", {0, 8, 0}, 1, 10},
      {"the fast writer fails at once", {3, 0}, 1, 0},
      {"one of four fails late", {0, 2, 4, 1}, 3, kSequence - 5},
      {"every writer fails: the run still ends", {0, 2}, 0, 5, 1, 20},
  };
  for (const Case& c : cases) check(c);
}

TEST(BlockCacheThreads, ACancelAtAnyPointEndsEveryThreadWithAPrefix) {
  const Case cases[] = {
      {"before the start", {0, 4}, -1, 0, -1, 0, StopBy::BeforeStart},
      {"after the first block", {0, 4, 1}, -1, 0, -1, 0, StopBy::Reader, 1},
      {"with the cache full", {5, 5}, -1, 0, -1, 0, StopBy::Reader, kCacheBlocks},
      {"midway", {0, 1, 2, 3}, -1, 0, -1, 0, StopBy::Reader, 77},
      {"by a writer at its first block", {0, 9}, -1, 0, -1, 0, StopBy::FirstWriter, 1},
      {"by a writer late", {2, 0, 7}, -1, 0, -1, 0, StopBy::FirstWriter, 200},
      {"with a writer failed", {0, 3}, 1, 4, -1, 0, StopBy::Reader, 50},
  };
  for (const Case& c : cases) check(c);
}
