// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_support.h"

#include <algorithm>
#include <fstream>
#include <future>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace quillion::test {

TestThreads& TestThreads::instance() {
  static TestThreads threads;
  return threads;
}

std::int32_t TestThreads::create(std::int16_t flag, BP_ThreadRoutine routine,
                                 BP_RuntimeSharedData* shared, std::uint32_t userData) {
  TestThreads& self = instance();
  std::lock_guard lock(self.mutex_);
  self.calls_.push_back({flag, routine, shared, userData});
  if (self.refused_ == flag) return 0;
  if (self.actionFlag_ == flag && self.action_) std::exchange(self.action_, nullptr)();
  std::shared_future<void> gate;
  if (self.heldFlag_ == flag) gate = self.heldGate_;
  std::thread thread([routine, userData, gate] {
    if (gate.valid()) gate.wait();
    routine(userData);
  });
  self.flags_[thread.get_id()] = flag;
  self.threads_.push_back(std::move(thread));
  return 1;
}

void TestThreads::hold(std::int16_t flag) {
  std::lock_guard lock(mutex_);
  heldFlag_ = flag;
  gate_ = std::make_shared<std::promise<void>>();
  heldGate_ = gate_->get_future().share();
}

void TestThreads::release() {
  std::shared_ptr<std::promise<void>> gate;
  {
    std::lock_guard lock(mutex_);
    gate = std::exchange(gate_, nullptr);
    heldGate_ = {};
    heldFlag_ = 0;
  }
  if (gate) gate->set_value();
}

void TestThreads::reset() {
  release();  // a held thread must be able to end before it is joined
  (void)join();
  std::lock_guard lock(mutex_);
  calls_.clear();
  flags_.clear();
  refused_ = 0;
  actionFlag_ = 0;
  action_ = nullptr;
}

void TestThreads::beforeStart(std::int16_t flag, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  actionFlag_ = flag;
  action_ = std::move(action);
}

bool TestThreads::join(std::chrono::seconds bound) {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  auto joined = std::async(std::launch::async, [&threads] {
    for (auto& t : threads) t.join();
  });
  if (joined.wait_for(bound) != std::future_status::ready) {
    // Threads that never end cannot be recovered from; end the test program loudly.
    std::fprintf(stderr, "burn threads did not end: deadlock\n");
    std::abort();
  }
  return true;
}

std::vector<TestThreads::Call> TestThreads::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool TestThreads::isReaderThread() const {
  std::lock_guard lock(mutex_);
  auto it = flags_.find(std::this_thread::get_id());
  return it != flags_.end() && it->second == kBP_ReaderThread;
}

bool TestThreads::isWriterThread() const {
  std::lock_guard lock(mutex_);
  auto it = flags_.find(std::this_thread::get_id());
  return it != flags_.end() && it->second == kBP_WriterThread;
}

bool ActingClock::sleepFor(Duration d, const std::atomic<bool>* cancel) {
  std::function<void()> action;
  {
    std::lock_guard lock(mutex_);
    const TestThreads& threads = TestThreads::instance();
    const bool mine = (flag_ == kBP_ReaderThread && threads.isReaderThread()) ||
                      (flag_ == kBP_WriterThread && threads.isWriterThread());
    if (mine && remaining_ > 0 && --remaining_ == 0) action = std::move(action_);
  }
  if (action) {
    action();
    acted_ = true;
  }
  return inner_.sleepFor(d, cancel);
}

void ActingClock::actAt(std::int16_t flag, int nth, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  flag_ = flag;
  remaining_ = nth;
  action_ = std::move(action);
}

namespace {

void addBelow(FS_Tree* tree, const fs::path& folder, FS_Node* parent) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& p : entries) {
    FS_Node* node = initNode(p.c_str(), p.filename().c_str(), nullptr, false);
    if (!node) continue;
    if (AddTreeNode(tree, node, parent) != kNoErr) {
      termNode(node);
      continue;
    }
    if (IsFolderNode(node)) addBelow(tree, p, node);
  }
}

}  // namespace

TreePtr treeFromFolder(const fs::path& folder) {
  TreePtr tree(initTree(initNode(nullptr, "DISC", nullptr, false)));
  addBelow(tree.get(), folder, GetRootTreeNode(tree.get()));
  return tree;
}

void writeFiles(const fs::path& root, const std::map<std::string, std::size_t>& sizes) {
  std::uint32_t seed = 1;
  for (const auto& [name, size] : sizes) {
    const fs::path path = root / name;
    fs::create_directories(path.parent_path());
    std::string bytes(size, '\0');
    std::uint32_t x = seed++ * 2654435761u;
    for (std::size_t i = 0; i < size; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      bytes[i] = static_cast<char>(x);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  }
}

std::map<std::string, std::string> filesBelow(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = readText(e.path());
  return out;
}

ImageJob::ImageJob(FS_Tree* tree, std::uint32_t destination, const fs::path& output, Clock* clock,
                   std::uint16_t format)
    : clockGuard(clock ? *clock : ownClock),
      ref(BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToImage), &shared, 1)) {
  const auto keep = [this](EngineStatus status) {
    if (setUp == kNoErr) setUp = status;
  };
  keep(BP_SetDataTree(ref, tree));
  keep(BP_SetDataDiscFormat(ref, format));
  keep(BP_SetDstImageFilePath(
      ref, output.c_str(),
      destination == kBP_ISOImageWriter ? kBP_DstISOImage : kBP_DstNativeImage));
  keep(BP_SetThreadCreatorCallback(ref, TestThreads::create));
  keep(BP_SetDstDevice(ref, destination));
}

ImageJob::~ImageJob() {
  (void)TestThreads::instance().join();
  (void)BP_Delete(ref);  // always 0; the threads were joined above
}

EngineStatus ImageJob::burnAndWait() {
  if (setUp != kNoErr) return setUp;
  const EngineStatus status = BP_Burn(ref);
  (void)TestThreads::instance().join();
  return status;
}

std::string CapturedLog::text() const {
  std::fflush(file_);
  std::rewind(file_);
  std::string out;
  for (int c; (c = std::fgetc(file_)) != EOF;) out += static_cast<char>(c);
  return out;
}

}  // namespace quillion::test
