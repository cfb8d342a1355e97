// SPDX-License-Identifier: GPL-2.0-or-later
// A burn executor for tests: the work runs on a thread of its own, which is joined before
// `done` runs on the calling (main) thread, so a pass ends by construction within run().
// hold() keeps work queued until step() or release(), for tests that act while a pass is
// between start and end.
#pragma once

#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "burn/burn_executor.h"

namespace quillion::test {

class InlineExecutor final : public burn::BurnExecutor {
 public:
  void run(std::function<void()> work, std::function<void()> done) override {
    ++runs_;
    if (held_) {
      queued_.emplace_back(std::move(work), std::move(done));
      return;
    }
    execute(work, done);
  }
  void hold() { held_ = true; }
  // Runs what is held now, in order; work started by it is held in turn.
  void step() {
    auto queued = std::exchange(queued_, {});
    for (auto& [work, done] : queued) execute(work, done);
  }
  // Stops holding and runs what was held.
  void release() {
    held_ = false;
    step();
  }
  int runs() const { return runs_; }

 private:
  static void execute(const std::function<void()>& work, const std::function<void()>& done) {
    std::thread worker(work);
    worker.join();
    if (done) done();
  }

  bool held_ = false;
  int runs_ = 0;
  std::vector<std::pair<std::function<void()>, std::function<void()>>> queued_;
};

}  // namespace quillion::test
