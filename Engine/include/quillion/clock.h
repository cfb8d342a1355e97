// SPDX-License-Identifier: GPL-2.0-or-later
// One clock for the whole engine. Drives, writers and the burn run wait real seconds
// (retry windows of minutes, 100 ms polls); every such wait goes through engineClock() so
// that tests can put a virtual clock in its place and run those waits in no time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quillion {

class Clock {
public:
  using Duration = std::chrono::nanoseconds;
  using MonoTime = std::chrono::time_point<std::chrono::steady_clock, Duration>;
  using WallTime = std::chrono::time_point<std::chrono::system_clock, Duration>;

  virtual ~Clock() = default;

  virtual MonoTime now() const = 0;       // monotonic, for deadlines and rates
  virtual WallTime wallNow() const = 0;   // calendar time, for dates written to disc or logs

  // Sleeps for `d` unless `cancel` (when given) becomes true first or cancelAll() is called.
  // Returns false when the sleep was cut short by a cancel.
  virtual bool sleepFor(Duration d, const std::atomic<bool>* cancel = nullptr) = 0;

  // Wakes every sleeper so it can look at its cancel flag again.
  virtual void wakeAll() = 0;
};

// The real clock: steady_clock and system_clock, sleeps on a condition variable so that
// wakeAll() cuts them short.
class SystemClock final : public Clock {
public:
  MonoTime now() const override;
  WallTime wallNow() const override;
  bool sleepFor(Duration d, const std::atomic<bool>* cancel = nullptr) override;
  void wakeAll() override;

private:
  std::mutex mutex_;
  std::condition_variable wake_;
};

// A clock that only moves when told to or when someone sleeps: a sleep advances the time
// at once by its duration. The wall time starts at a fixed instant so that produced images
// are reproducible.
class VirtualClock final : public Clock {
public:
  explicit VirtualClock(WallTime wallStart = WallTime(std::chrono::seconds(1'700'000'000)));

  MonoTime now() const override;
  WallTime wallNow() const override;
  bool sleepFor(Duration d, const std::atomic<bool>* cancel = nullptr) override;
  void wakeAll() override {}

  void advance(Duration d);
  Duration elapsed() const { return Duration(ticks_.load()); }
  std::uint64_t sleepCount() const { return sleeps_.load(); }

private:
  std::atomic<Duration::rep> ticks_{0};
  std::atomic<std::uint64_t> sleeps_{0};
  WallTime wallStart_;
};

// The clock the engine uses. Defaults to a process-wide SystemClock.
Clock& engineClock();

// Puts another clock in place for the lifetime of the guard (tests). Not for use while
// engine threads are running on the previous clock.
class ScopedClockOverride {
public:
  explicit ScopedClockOverride(Clock& clock);
  ~ScopedClockOverride();
  ScopedClockOverride(const ScopedClockOverride&) = delete;
  ScopedClockOverride& operator=(const ScopedClockOverride&) = delete;

private:
  Clock* previous_;
};

}  // namespace quillion
