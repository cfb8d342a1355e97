// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/worker_runner.h"

#include "framework/main_thread.h"

namespace quillion {

WorkerRunner::WorkerRunner() : context_(std::make_unique<QObject>()) {}

WorkerRunner::~WorkerRunner() {
  cancelAndJoin();
  context_.reset();  // drops results that were queued but not yet delivered
}

void WorkerRunner::start(std::function<void(std::stop_token)> body, std::function<void()> onMain) {
  const std::uint64_t id = nextId_++;
  QObject* context = context_.get();
  workers_.emplace(id, std::jthread([this, id, context, body = std::move(body),
                                     onMain = std::move(onMain)](std::stop_token stop) {
                     body(stop);
                     // The runner is alive here: it joins this thread before it goes away, and the
                     // queued call is dropped with `context` if the runner dies before the call
                     // runs.
                     postToMain([this, id, onMain] { finished(id, onMain); }, context);
                   }));
}

void WorkerRunner::finished(std::uint64_t id, const std::function<void()>& onMain) {
  auto it = workers_.find(id);
  if (it == workers_.end()) return;  // joined by cancelAndJoin meanwhile
  const bool cancelled = it->second.get_stop_token().stop_requested();
  it->second.join();  // it has posted its last act; this returns at once
  workers_.erase(it);
  if (!cancelled) onMain();
}

void WorkerRunner::cancelAll() {
  for (auto& [id, worker] : workers_) worker.request_stop();
}

void WorkerRunner::cancelAndJoin() {
  cancelAll();
  for (auto& [id, worker] : workers_) worker.join();
  workers_.clear();
}

}  // namespace quillion
