// SPDX-License-Identifier: GPL-2.0-or-later
// Following a folder of drive files while device control runs: a thread waits on inotify and,
// after each change, plugs the drives whose files are new and unplugs those whose files went.
// The bus delivers the resulting events through its own source, as it does for a test's plug.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "emulated_bus.h"

namespace quillion::emu {

namespace {

class WatchedFolderSource final : public DeviceSource {
 public:
  explicit WatchedFolderSource(std::filesystem::path folder)
      : folder_(std::move(folder)), inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // The drives already there are plugged before the source exists, so that they arrive once,
    // with start(), and not again as events.
    (void)EmulatedBus::instance().loadFolder(folder_);
    known_ = driveFiles();
    inner_ = EmulatedBus::instance().makeSource();
    if (inotify_ >= 0)
      (void)::inotify_add_watch(
          inotify_, folder_.c_str(),
          IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE);
  }
  ~WatchedFolderSource() override {
    watcher_ = {};  // stops and joins before the descriptor closes
    if (inotify_ >= 0) ::close(inotify_);
  }
  WatchedFolderSource(const WatchedFolderSource&) = delete;
  WatchedFolderSource& operator=(const WatchedFolderSource&) = delete;

  std::vector<std::shared_ptr<DriveBackend>> start() override {
    if (inotify_ >= 0) watcher_ = std::jthread([this](std::stop_token stop) { watch(stop); });
    return inner_->start();
  }
  int eventFd() const override { return inner_->eventFd(); }
  std::vector<DeviceEvent> takeEvents() override { return inner_->takeEvents(); }

 private:
  std::set<std::string> driveFiles() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(folder_, ec))
      if (file.path().extension() == ".drive") names.insert(file.path().stem().string());
    return names;
  }

  void watch(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      pollfd fd{inotify_, POLLIN, 0};
      // A bounded wait, so that a stop is seen without a wake-up of its own.
      if (::poll(&fd, 1, 200) <= 0) continue;
      char buffer[4096];
      while (::read(inotify_, buffer, sizeof buffer) > 0) {
      }
      rescan();
    }
  }

  // A file still empty is being written: it is read at the change that ends the writing.
  void rescan() {
    auto& bus = EmulatedBus::instance();
    const std::set<std::string> now = driveFiles();
    for (auto it = known_.begin(); it != known_.end();) {
      if (now.contains(*it)) {
        ++it;
        continue;
      }
      bus.unplug(*it);
      it = known_.erase(it);
    }
    for (const std::string& name : now) {
      const auto file = folder_ / (name + ".drive");
      std::error_code ec;
      if (known_.contains(name) || std::filesystem::file_size(file, ec) == 0 || ec) continue;
      if (bus.loadDriveFile(folder_, file)) known_.insert(name);
    }
  }

  std::filesystem::path folder_;
  std::unique_ptr<DeviceSource> inner_;
  int inotify_;
  std::set<std::string> known_;
  std::jthread watcher_;
};

}  // namespace

std::unique_ptr<DeviceSource> makeWatchedFolderSource(const std::filesystem::path& folder) {
  return std::make_unique<WatchedFolderSource>(folder);
}

}  // namespace quillion::emu
