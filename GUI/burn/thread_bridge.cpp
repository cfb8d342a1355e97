// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/thread_bridge.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quillion {

namespace {

struct JobEntry {
  std::vector<std::thread> threads;
  JobThreads::Counts counts;
};

struct Registry {
  std::mutex mutex;
  std::map<const BP_RuntimeSharedData*, JobEntry> jobs;
};

Registry& registry() {
  static Registry r;
  return r;
}

// -1: no failure asked for; 0: every flag; else that flag.
std::atomic<int> refusedFlag{-1};

bool refused(std::int16_t flag) {
  const int f = refusedFlag.load();
  return f == 0 || f == flag;
}

}  // namespace

std::int32_t TC_ThreadCreateCB(std::int16_t flag, BP_ThreadRoutine routine,
                               BP_RuntimeSharedData* shared, std::uint32_t userData) {
  if (!routine) return 0;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  JobEntry& entry = r.jobs[shared];
  try {
    if (refused(flag))
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    entry.threads.emplace_back([routine, userData] { routine(userData); });
  } catch (const std::system_error& e) {
    ++entry.counts.failed;
    std::fprintf(stderr, "quillion: no thread for a burn %s: %s\n",
                 flag == kBP_ReaderThread ? "reader" : "writer", e.what());
    return 0;
  }
  if (flag == kBP_ReaderThread) {
    ++entry.counts.readers;
  } else {
    ++entry.counts.writers;
  }
  return 1;
}

namespace JobThreads {

Counts countsOf(const BP_RuntimeSharedData* shared) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.jobs.find(shared);
  if (it == r.jobs.end()) return {};
  Counts c = it->second.counts;
  for (const std::thread& t : it->second.threads) c.running += t.joinable() ? 1 : 0;
  return c;
}

void joinAll(const BP_RuntimeSharedData* shared) {
  std::vector<std::thread> threads;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.jobs.find(shared);
    if (it == r.jobs.end()) return;
    threads = std::move(it->second.threads);
    r.jobs.erase(it);
  }
  // Outside the lock: a thread of another job may be asking for threads meanwhile.
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}

ScopedStartFailure::ScopedStartFailure(std::int16_t flag) {
  refusedFlag = flag;
}
ScopedStartFailure::~ScopedStartFailure() {
  refusedFlag = -1;
}

}  // namespace JobThreads

}  // namespace quillion
