// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/repeating_timer.h"

#include <QTimer>
#include <algorithm>
#include <optional>

namespace quillion {

namespace {

class QtHandle final : public TimerHandle {
 public:
  QtHandle(std::chrono::nanoseconds interval, TimerSource::Callback fn)
      : timer_(new QTimer), fn_(std::make_shared<TimerSource::Callback>(std::move(fn))) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(interval);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(std::max<std::chrono::milliseconds>(ms, std::chrono::milliseconds(1)));
    QObject::connect(timer_, &QTimer::timeout, [fn = fn_, firing = firing_] {
      *firing = true;
      const auto keep = fn;  // the callback may destroy this handle
      (*keep)();
      *firing = false;
    });
    timer_->start();
  }

  ~QtHandle() override {
    timer_->stop();
    // Deleting a timer inside its own timeout handler is not allowed; let the loop do it.
    if (*firing_)
      timer_->deleteLater();
    else
      delete timer_;
  }

 private:
  QTimer* timer_;
  std::shared_ptr<TimerSource::Callback> fn_;
  std::shared_ptr<bool> firing_ = std::make_shared<bool>(false);
};

TimerSource* g_override = nullptr;

}  // namespace

std::unique_ptr<TimerHandle> QtTimerSource::startRepeating(std::chrono::nanoseconds interval,
                                                           Callback fn) {
  return std::make_unique<QtHandle>(interval, std::move(fn));
}

class ManualTimerSource::Handle final : public TimerHandle {
 public:
  Handle(std::weak_ptr<std::map<std::uint64_t, Timer>> timers, std::uint64_t id)
      : timers_(std::move(timers)), id_(id) {}
  ~Handle() override {
    if (auto timers = timers_.lock()) timers->erase(id_);
  }

 private:
  std::weak_ptr<std::map<std::uint64_t, Timer>> timers_;
  std::uint64_t id_;
};

ManualTimerSource::~ManualTimerSource() = default;

std::unique_ptr<TimerHandle> ManualTimerSource::startRepeating(std::chrono::nanoseconds interval,
                                                               Callback fn) {
  const std::uint64_t id = nextId_++;
  // A zero interval would fire forever within one advance.
  const auto step = std::max(interval, std::chrono::nanoseconds(1));
  timers_->emplace(id, Timer{step, clock_.now() + step, std::make_shared<Callback>(std::move(fn))});
  return std::make_unique<Handle>(timers_, id);
}

void ManualTimerSource::advance(std::chrono::nanoseconds d) {
  const Clock::MonoTime end = clock_.now() + d;
  while (true) {
    std::optional<std::uint64_t> nextId;
    for (const auto& [id, t] : *timers_) {
      if (t.due <= end && (!nextId || t.due < timers_->at(*nextId).due)) nextId = id;
    }
    if (!nextId) break;
    Timer& t = timers_->at(*nextId);
    if (t.due > clock_.now()) clock_.advance(t.due - clock_.now());
    t.due += t.interval;
    const auto fn = t.fn;  // the callback may stop this timer or start others
    (*fn)();
  }
  if (end > clock_.now()) clock_.advance(end - clock_.now());
}

TimerSource& timerSource() {
  if (g_override) return *g_override;
  static QtTimerSource qtSource;
  return qtSource;
}

ScopedTimerSourceOverride::ScopedTimerSourceOverride(TimerSource& source) : previous_(g_override) {
  g_override = &source;
}

ScopedTimerSourceOverride::~ScopedTimerSourceOverride() {
  g_override = previous_;
}

bool RepeatingTimer::start(std::chrono::nanoseconds interval, std::function<void()> fn) {
  if (handle_) return false;
  TimerSource& source = source_ ? *source_ : timerSource();
  handle_ = source.startRepeating(interval, std::move(fn));
  return true;
}

void RepeatingTimer::stop() {
  // Moved out first: the handle's destructor may run inside this timer's own callback.
  auto handle = std::move(handle_);
}

}  // namespace quillion
