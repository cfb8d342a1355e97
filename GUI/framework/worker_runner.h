// SPDX-License-Identifier: GPL-2.0-or-later
// Worker threads that belong to an owner (a window, a panel). A worker computes; its result
// reaches the owner on the main thread, never from the worker itself. The owner's runner
// asks its workers to stop and joins them before the owner dies, so no worker outlives the
// job, log or window it uses.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>

namespace quillion {

class WorkerRunner {
 public:
  WorkerRunner();
  ~WorkerRunner();  // cancelAndJoin()
  WorkerRunner(const WorkerRunner&) = delete;
  WorkerRunner& operator=(const WorkerRunner&) = delete;

  // Runs `work` on a new thread; its result is handed to `onDone` on the main thread unless
  // the runner was cancelled or destroyed first. Call from the main thread.
  template <typename Work, typename Done>
  void run(Work work, Done onDone) {
    using Result = std::invoke_result_t<Work&, std::stop_token>;
    if constexpr (std::is_void_v<Result>) {
      start([work = std::move(work)](std::stop_token stop) mutable { work(stop); },
            [onDone = std::move(onDone)]() mutable { onDone(); });
    } else {
      auto slot = std::make_shared<std::optional<Result>>();
      start([work = std::move(work),
             slot](std::stop_token stop) mutable { slot->emplace(work(stop)); },
            [onDone = std::move(onDone), slot]() mutable { onDone(std::move(**slot)); });
    }
  }

  // Asks every worker to stop; results not yet delivered are dropped.
  void cancelAll();
  // cancelAll(), then waits for every worker to end.
  void cancelAndJoin();

  std::size_t activeCount() const { return workers_.size(); }

 private:
  void start(std::function<void(std::stop_token)> body, std::function<void()> onMain);
  void finished(std::uint64_t id, const std::function<void()>& onMain);

  std::unique_ptr<QObject> context_;  // queued results die with it
  std::map<std::uint64_t, std::jthread> workers_;
  std::uint64_t nextId_ = 1;
};

}  // namespace quillion
