// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cstdint>

namespace quillion {

EventLoop::EventLoop()
    : epollFd_(::epoll_create1(EPOLL_CLOEXEC)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      owner_(std::this_thread::get_id()) {
  if (!valid()) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = 0;  // 0 marks the posted-work queue
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
}

EventLoop::~EventLoop() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

bool EventLoop::watch(int fd, std::function<void()> onReady) {
  if (!valid() || fd < 0) return false;
  watchers_.push_back(std::move(onReady));
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = watchers_.size();
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) == 0) return true;
  watchers_.pop_back();
  return false;
}

void EventLoop::post(std::function<void()> work) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(work));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

std::size_t EventLoop::runPosted() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
  std::vector<std::function<void()>> work;
  {
    std::lock_guard lock(postedMutex_);
    work.swap(posted_);
  }
  for (auto& w : work) w();
  return work.size();
}

std::size_t EventLoop::pump() {
  if (!valid()) return 0;
  std::size_t ran = 0;
  std::array<epoll_event, 16> events{};
  const int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), 0);
  for (int i = 0; i < n; ++i) {
    const std::uint64_t id = events[static_cast<std::size_t>(i)].data.u64;
    if (id == 0) continue;
    if (id <= watchers_.size()) {
      watchers_[id - 1]();
      ++ran;
    }
  }
  // Posted work last, so a completion posted by a handler above is seen in the same pump.
  return ran + runPosted();
}

}  // namespace quillion
