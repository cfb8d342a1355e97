// SPDX-License-Identifier: GPL-2.0-or-later
#include "quillion/clock.h"

#include <thread>

namespace quillion {

Clock::MonoTime SystemClock::now() const {
  return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

Clock::WallTime SystemClock::wallNow() const {
  return std::chrono::time_point_cast<Duration>(std::chrono::system_clock::now());
}

bool SystemClock::sleepFor(Duration d, const std::atomic<bool>* cancel) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + d;
  // A wake without a cancel (wakeAll for another sleeper, or a spurious one) sleeps on.
  while (true) {
    if (cancel && cancel->load()) return false;
    if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) {
      return !(cancel && cancel->load());
    }
  }
}

void SystemClock::wakeAll() {
  { std::lock_guard lock(mutex_); }  // a sleeper between its check and its wait sees the wake
  wake_.notify_all();
}

VirtualClock::VirtualClock(WallTime wallStart) : wallStart_(wallStart) {}

Clock::MonoTime VirtualClock::now() const { return MonoTime(Duration(ticks_.load())); }

Clock::WallTime VirtualClock::wallNow() const { return wallStart_ + Duration(ticks_.load()); }

bool VirtualClock::sleepFor(Duration d, const std::atomic<bool>* cancel) {
  sleeps_.fetch_add(1);
  if (cancel && cancel->load()) return false;
  advance(d);
  // Let the thread being waited for make progress; virtual time alone would let a polling
  // loop burn through its whole deadline before the other side ran once.
  std::this_thread::yield();
  return !(cancel && cancel->load());
}

void VirtualClock::advance(Duration d) { ticks_.fetch_add(d.count()); }

namespace {
SystemClock& systemClock() {
  static SystemClock clock;
  return clock;
}
std::atomic<Clock*> g_clock{nullptr};
}  // namespace

Clock& engineClock() {
  Clock* c = g_clock.load();
  return c ? *c : systemClock();
}

ScopedClockOverride::ScopedClockOverride(Clock& clock) : previous_(g_clock.exchange(&clock)) {}

ScopedClockOverride::~ScopedClockOverride() { g_clock.store(previous_); }

}  // namespace quillion
