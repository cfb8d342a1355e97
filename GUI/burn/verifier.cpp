// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/verifier.h"

#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "quillion/FS.h"
#include "quillion/FSFileLocList.h"
#include "quillion/GDT.h"
#include "quillion/clock.h"

namespace quillion::burn {
namespace {

constexpr std::uint32_t kVerifyBlockBytes = 2048;
constexpr auto kVerifyRetryPause = std::chrono::milliseconds(300);
// Profiles above this are DVD and BD media, read with READ(12).
constexpr std::uint16_t kVerifyLastCdProfile = 0x10;
constexpr char kResourceForkAttribute[] = "user.com.apple.ResourceFork";

struct VerifyFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::uint64_t verifyBlocksFor(std::uint64_t bytes) {
  return (bytes + kVerifyBlockBytes - 1) / kVerifyBlockBytes;
}

// The resource fork of `path`, kept in an extended attribute; false when it cannot be read.
bool readResourceForkBytes(const char* path, std::string& out) {
  const ssize_t size = ::getxattr(path, kResourceForkAttribute, nullptr, 0);
  if (size < 0) return false;
  out.resize(static_cast<std::size_t>(size));
  if (size == 0) return true;
  const ssize_t got = ::getxattr(path, kResourceForkAttribute, out.data(), out.size());
  return got == size;
}

}  // namespace

Verifier::Verifier(BP_RuntimeSharedData* shared) : shared_(shared) {}

Verifier::~Verifier() {
  cancel();
  join();
}

void Verifier::start() {
  if (thread_.joinable() || outcome_ != VerifyOutcome::Running) return;
  if (shared_ == nullptr || shared_->numDrives == 0 || shared_->writers[0].deviceRef == 0) {
    // Nothing to read back from: the verification cannot say the disc is good.
    outcome_ = VerifyOutcome::Failed;
    return;
  }
  type_ = shared_->verifyType;
  ref_ = shared_->writers[0].deviceRef;
  useRead12_ = shared_->writers[0].mediaProfile > kVerifyLastCdProfile;
  shared_->blocksRead = 0;
  thread_ = std::thread([this] { run(); });
}

void Verifier::join() {
  if (thread_.joinable()) thread_.join();
}

VerifyProgress Verifier::progress() const {
  VerifyProgress p;
  p.outcome = outcome();
  if (shared_) {
    p.done = shared_->blocksRead;
    p.total = shared_->totalBlocks;
  }
  std::lock_guard lock(fileMutex_);
  p.currentFile = currentFile_;
  return p;
}

void Verifier::setCurrentFile(std::uint32_t index, const char* title) {
  shared_->writers[0].currentProcessNodeRef = index;
  std::lock_guard lock(fileMutex_);
  currentFile_ = title ? title : "";
}

void Verifier::run() {
  disc_.assign(std::size_t{kQuickRun} * kVerifyBlockBytes, '\0');
  VerifyOutcome result = VerifyOutcome::Failed;
  if (type_ == kVerifyQuick)
    result = quick();
  else if (type_ == kVerifyDetailed)
    result = detailed();
  std::lock_guard lock(endMutex_);
  if (cancel_) result = VerifyOutcome::Cancelled;
  BP_WriterRTInfo& first = shared_->writers[0];
  first.verifyResult = result == VerifyOutcome::Passed ? 0 : 1;
  if (result == VerifyOutcome::Passed) shared_->blocksRead = shared_->totalBlocks.load();
  outcome_ = result;
}

bool Verifier::cancel() {
  std::lock_guard lock(endMutex_);
  cancel_ = true;
  return outcome_ == VerifyOutcome::Running;
}

bool Verifier::readBlocks(std::uint32_t lba, std::uint32_t blocks, int tries) {
  for (int i = 0; i < tries; ++i) {
    if (cancel_) return false;
    if (i > 0 && !engineClock().sleepFor(kVerifyRetryPause, &cancel_)) return false;
    if (GDT_Get2048DataBlocks(ref_, disc_.data(), lba, blocks, useRead12_) == kNoErr) return true;
  }
  return false;
}

bool Verifier::waitForDrive() {
  // A drive that has just closed its session may need minutes before it reads again; the
  // runs that follow find out whether it does.
  const BP_WriterRTInfo& first = shared_->writers[0];
  const std::uint32_t blocks = std::clamp<std::uint32_t>(first.totalVerifyBlks, 1, kDetailedRun);
  (void)readBlocks(first.startVerifyLBA, blocks, kReadTries);
  return !cancel_;
}

VerifyOutcome Verifier::quick() {
  const BP_WriterRTInfo& first = shared_->writers[0];
  const std::uint32_t total = first.totalVerifyBlks;
  shared_->totalBlocks = total;
  if (total == 0) return VerifyOutcome::Failed;
  if (!waitForDrive()) return VerifyOutcome::Cancelled;
  std::uint32_t lba = first.startVerifyLBA;
  for (std::uint32_t left = total; left > 0;) {
    const std::uint32_t n = std::min(left, kQuickRun);
    if (!readBlocks(lba, n, kReadTries))
      return cancel_ ? VerifyOutcome::Cancelled : VerifyOutcome::Failed;
    shared_->blocksRead += n;
    lba += n;
    left -= n;
  }
  return VerifyOutcome::Passed;
}

VerifyOutcome Verifier::compareFork(std::uint64_t size,
                                    const std::function<std::size_t(char*, std::size_t)>& read,
                                    std::uint32_t lba, std::uint32_t blocks) {
  // A file that grew since the burn cannot match what was written.
  if (verifyBlocksFor(size) > blocks) return VerifyOutcome::Failed;
  std::string file(std::size_t{kDetailedRun} * kVerifyBlockBytes, '\0');
  std::uint64_t left = size;
  while (left > 0) {
    if (cancel_) return VerifyOutcome::Cancelled;
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(verifyBlocksFor(left), kDetailedRun));
    if (!readBlocks(lba, n, 1)) return cancel_ ? VerifyOutcome::Cancelled : VerifyOutcome::Failed;
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(left, std::uint64_t{n} * kVerifyBlockBytes));
    if (read(file.data(), want) != want) return VerifyOutcome::Failed;
    if (std::memcmp(file.data(), disc_.data(), want) != 0) return VerifyOutcome::Failed;
    shared_->blocksRead += n;
    lba += n;
    left -= want;
  }
  // The fork's blocks beyond its bytes count as done, so each fork counts its whole size.
  shared_->blocksRead += static_cast<std::uint32_t>(blocks - verifyBlocksFor(size));
  return VerifyOutcome::Passed;
}

VerifyOutcome Verifier::detailed() {
  FS_FileLocList* list = shared_->fileLocList;
  if (list == nullptr || list->blockSize < kVerifyBlockBytes ||
      list->blockSize % kVerifyBlockBytes != 0)
    return VerifyOutcome::Failed;
  const std::uint32_t unit = list->blockSize / kVerifyBlockBytes;
  shared_->totalBlocks = unit * list->allocatedBlocks;
  if (!waitForDrive()) return VerifyOutcome::Cancelled;
  const FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
  for (std::uint32_t i = 0; i < list->count; ++i) {
    const FS_FileLocListEntry& e = entries[i];
    const char* path = GetFullPathNameNode(e.node);
    setCurrentFile(i + 1, GetTitleNode(e.node));
    if (e.dataBlocks > 0) {
      std::unique_ptr<std::FILE, VerifyFileCloser> file(path ? std::fopen(path, "rb") : nullptr);
      std::error_code ec;
      const std::uint64_t size = path ? std::filesystem::file_size(path, ec) : 0;
      if (!file || ec) return VerifyOutcome::Failed;
      const auto read = [&file](char* to, std::size_t n) {
        return std::fread(to, 1, n, file.get());
      };
      const VerifyOutcome fork = compareFork(size, read, e.dataLBA, e.dataBlocks * unit);
      if (fork != VerifyOutcome::Passed) return fork;
    }
    if (e.rsrcBlocks > 0) {
      std::string bytes;
      if (!path || !readResourceForkBytes(path, bytes)) return VerifyOutcome::Failed;
      std::size_t at = 0;
      const auto read = [&bytes, &at](char* to, std::size_t n) {
        const std::size_t k = std::min(n, bytes.size() - at);
        std::memcpy(to, bytes.data() + at, k);
        at += k;
        return k;
      };
      const VerifyOutcome fork = compareFork(bytes.size(), read, e.rsrcLBA, e.rsrcBlocks * unit);
      if (fork != VerifyOutcome::Passed) return fork;
    }
  }
  setCurrentFile(0, nullptr);
  return VerifyOutcome::Passed;
}

std::string verificationLogLine(std::uint32_t verifyType, VerifyOutcome outcome) {
  const std::string kind = verifyType == kVerifyDetailed ? "Detailed" : "Quick";
  const char* verdict = outcome == VerifyOutcome::Passed      ? "Successful"
                        : outcome == VerifyOutcome::Cancelled ? "Cancelled"
                                                              : "Failed";
  return kind + " Verification " + verdict + "!\r\r";
}

}  // namespace quillion::burn
