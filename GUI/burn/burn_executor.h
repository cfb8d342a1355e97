// SPDX-License-Identifier: GPL-2.0-or-later
// How the burn preparation runs its workers. A pass hands a piece of work to the executor;
// the work runs on a worker thread and never touches the interface; `done` then runs on the
// main thread. The window gives its WorkerRunner (qt_burn_executor.h); tests give one of
// their own, so the passes are driven without an event loop.
#pragma once

#include <functional>

namespace quillion::burn {

class BurnExecutor {
 public:
  virtual ~BurnExecutor() = default;
  // Runs `work` on a worker thread, then `done` on the main thread. Call from the main thread.
  virtual void run(std::function<void()> work, std::function<void()> done) = 0;
};

}  // namespace quillion::burn
