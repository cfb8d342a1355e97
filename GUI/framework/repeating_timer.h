// SPDX-License-Identifier: GPL-2.0-or-later
// Repeating timers on the main thread. Starting a timer that runs does nothing, stopping
// one that does not run does nothing: the windows start and stop their polls from many
// places and rely on both.
//
// Timers come from a TimerSource: Qt's event loop in the application, a ManualTimerSource
// over a VirtualClock in tests, so a 1 s poll runs without waiting a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "quillion/clock.h"

namespace quillion {

// A running timer; destroying it stops the timer, also from inside its own callback.
class TimerHandle {
 public:
  virtual ~TimerHandle() = default;
};

class TimerSource {
 public:
  using Callback = std::function<void()>;
  virtual ~TimerSource() = default;
  virtual std::unique_ptr<TimerHandle> startRepeating(std::chrono::nanoseconds interval,
                                                      Callback fn) = 0;
};

// Timers on the Qt event loop of the main thread.
class QtTimerSource final : public TimerSource {
 public:
  std::unique_ptr<TimerHandle> startRepeating(std::chrono::nanoseconds interval,
                                              Callback fn) override;
};

// Timers that fire only when the test moves the clock.
class ManualTimerSource final : public TimerSource {
 public:
  explicit ManualTimerSource(VirtualClock& clock) : clock_(clock) {}
  ~ManualTimerSource() override;

  std::unique_ptr<TimerHandle> startRepeating(std::chrono::nanoseconds interval,
                                              Callback fn) override;

  // Moves the clock forward by `d`, firing every timer that falls due on the way, in time
  // order (registration order for equal times), each as often as its interval fits.
  void advance(std::chrono::nanoseconds d);
  std::size_t runningCount() const { return timers_->size(); }

 private:
  class Handle;
  struct Timer {
    std::chrono::nanoseconds interval;
    Clock::MonoTime due;
    std::shared_ptr<Callback> fn;
  };

  VirtualClock& clock_;
  // Shared with the handles, which may outlive the source.
  std::shared_ptr<std::map<std::uint64_t, Timer>> timers_ =
      std::make_shared<std::map<std::uint64_t, Timer>>();
  std::uint64_t nextId_ = 1;
};

// The source that timers use when none is given: a QtTimerSource, unless a test put another
// in place.
TimerSource& timerSource();

class ScopedTimerSourceOverride {
 public:
  explicit ScopedTimerSourceOverride(TimerSource& source);
  ~ScopedTimerSourceOverride();
  ScopedTimerSourceOverride(const ScopedTimerSourceOverride&) = delete;
  ScopedTimerSourceOverride& operator=(const ScopedTimerSourceOverride&) = delete;

 private:
  TimerSource* previous_;
};

class RepeatingTimer {
 public:
  // The source is looked up at each start, so a timer made before a test override uses it.
  RepeatingTimer() = default;
  explicit RepeatingTimer(TimerSource& source) : source_(&source) {}
  ~RepeatingTimer() = default;
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  // Answers false, and changes nothing, when the timer is already running.
  bool start(std::chrono::nanoseconds interval, std::function<void()> fn);
  void stop();
  bool isRunning() const { return handle_ != nullptr; }

 private:
  TimerSource* source_ = nullptr;
  std::unique_ptr<TimerHandle> handle_;
};

}  // namespace quillion
