// SPDX-License-Identifier: GPL-2.0-or-later
// The burn executor of a window: its workers belong to the window's WorkerRunner, which
// joins them before the window dies.
#pragma once

#include "burn/burn_executor.h"
#include "framework/worker_runner.h"

namespace quillion::burn {

class WorkerRunnerExecutor final : public BurnExecutor {
 public:
  explicit WorkerRunnerExecutor(WorkerRunner& runner) : runner_(runner) {}
  void run(std::function<void()> work, std::function<void()> done) override {
    runner_.run([work = std::move(work)](std::stop_token) { work(); }, std::move(done));
  }

 private:
  WorkerRunner& runner_;
};

}  // namespace quillion::burn
