// SPDX-License-Identifier: GPL-2.0-or-later
// Test-side pieces of a burn run: the interface's thread creator (threads the test joins), a
// clock that lets a test act at a chosen wait of the reader or a writer, content trees made
// from folders through the flat functions, and jobs of a data layout to an image file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quillion/BP.h"
#include "quillion/FS.h"
#include "quillion/clock.h"
#include "tests/support/test_support.h"

namespace quillion::test {

// The interface's side of BP_SetThreadCreatorCallback: every call is recorded; threads are
// started unless the test refuses that flag, and joined by join().
class TestThreads {
 public:
  struct Call {
    std::int16_t flag;
    BP_ThreadRoutine routine;
    BP_RuntimeSharedData* shared;
    std::uint32_t userData;
  };

  static TestThreads& instance();
  static std::int32_t create(std::int16_t flag, BP_ThreadRoutine routine,
                             BP_RuntimeSharedData* shared, std::uint32_t userData);

  void reset();  // joins what is left and forgets the calls and the settings below
  void refuse(std::int16_t flag) { refused_ = flag; }
  // Runs `action` on the creating thread before the thread of `flag` is started.
  void beforeStart(std::int16_t flag, std::function<void()> action);
  // The thread of `flag` starts but does not enter its routine until release(): a test
  // that needs the cache full holds the writer instead of hoping the scheduler lags it.
  void hold(std::int16_t flag);
  void release();
  // Waits for every started thread; false when they did not all end within the bound.
  [[nodiscard]] bool join(std::chrono::seconds bound = std::chrono::seconds(120));
  std::vector<Call> calls() const;
  bool isReaderThread() const;
  bool isWriterThread() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::vector<std::thread> threads_;
  std::map<std::thread::id, std::int16_t> flags_;
  std::atomic<std::int16_t> refused_{0};
  std::int16_t actionFlag_ = 0;
  std::function<void()> action_;
  std::int16_t heldFlag_ = 0;
  std::shared_ptr<std::promise<void>> gate_;
  std::shared_future<void> heldGate_;
};

// A virtual clock that runs `action` once, on the thread that waits for the `nth` time
// with the given thread flag (1 reader, 2 writer), before that wait.
class ActingClock final : public Clock {
 public:
  MonoTime now() const override { return inner_.now(); }
  WallTime wallNow() const override { return inner_.wallNow(); }
  bool sleepFor(Duration d, const std::atomic<bool>* cancel = nullptr) override;
  void wakeAll() override {}
  void actAt(std::int16_t flag, int nth, std::function<void()> action);
  bool acted() const { return acted_; }

 private:
  VirtualClock inner_;
  std::mutex mutex_;
  std::int16_t flag_ = 0;
  int remaining_ = 0;
  std::function<void()> action_;
  std::atomic<bool> acted_{false};
};

struct TreeDeleter {
  void operator()(FS_Tree* t) const { termTree(t); }
};
using TreePtr = std::unique_ptr<FS_Tree, TreeDeleter>;

// A tree holding everything below `folder`, built with the flat node functions.
TreePtr treeFromFolder(const std::filesystem::path& folder);

// Writes files of the given sizes (paths relative to `root`, folders made as needed) with
// bytes that differ from file to file and block to block.
void writeFiles(const std::filesystem::path& root, const std::map<std::string, std::size_t>& sizes);
// Every file below `folder` with its bytes, by relative path.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder);

// A layout-to-image data job of one destination, Joliet unless told otherwise. The engine
// waits on `clock`, or on a virtual clock of the job's own that starts at the same instant
// for every job, so that two jobs of one layout make the same volume.
struct ImageJob {
  ImageJob(FS_Tree* tree, std::uint32_t destination, const std::filesystem::path& output,
           Clock* clock = nullptr, std::uint16_t format = 512);
  ~ImageJob();
  ImageJob(const ImageJob&) = delete;
  ImageJob& operator=(const ImageJob&) = delete;

  // BP_Burn, then every thread joined; the status of BP_Burn, or the first setting the job
  // refused (then nothing runs).
  EngineStatus burnAndWait();

  VirtualClock ownClock;
  ScopedClockOverride clockGuard;
  BP_RuntimeSharedData* shared = nullptr;
  BP_JobRef ref = 0;
  EngineStatus setUp = kNoErr;  // the first refusal among the constructor's settings
};

// A burn log in a temporary file; detach it from the record before the job goes.
class CapturedLog {
 public:
  CapturedLog() : file_(std::tmpfile()) {}
  ~CapturedLog() { std::fclose(file_); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;
  std::FILE* file() const { return file_; }
  std::string text() const;

 private:
  std::FILE* file_;
};

}  // namespace quillion::test
