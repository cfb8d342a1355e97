// SPDX-License-Identifier: GPL-2.0-or-later
// The small event loop of device control: it gathers the file descriptors of the device
// sources and a queue of posted work (command completions) behind one epoll descriptor, and
// runs their handlers when the owning thread pumps it. Handlers never run anywhere else.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillion {

class EventLoop {
public:
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  bool valid() const { return epollFd_ >= 0 && wakeFd_ >= 0; }
  int fd() const { return epollFd_; }
  std::thread::id owner() const { return owner_; }

  // Runs `onReady` from pump() whenever `fd` is readable. The loop does not own `fd`.
  bool watch(int fd, std::function<void()> onReady);
  // Queues `work` for the next pump(); safe from any thread.
  void post(std::function<void()> work);
  // Runs the handlers of ready descriptors and all posted work without blocking; answers
  // how many handlers ran.
  std::size_t pump();

private:
  std::size_t runPosted();

  int epollFd_ = -1;
  int wakeFd_ = -1;
  std::thread::id owner_;
  std::vector<std::function<void()>> watchers_;  // index = epoll user data - 1
  std::mutex postedMutex_;
  std::vector<std::function<void()>> posted_;
};

}  // namespace quillion
