// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a written disc back after a burn. Quick verification reads every block of the
// written area; detailed verification reads every file's blocks and compares them with the
// file on this computer. Any read error or difference fails; a verification that was
// cancelled or could not start is never reported as passed.
//
// The verifier runs on a thread of its own that honours a cancel request. It works on the
// burn job's shared record: the owner joins it (join(), or the destructor) before the job is
// deleted and before the log is closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "quillion/BP.h"

namespace quillion::burn {

inline constexpr std::uint32_t kVerifyQuick = 1;
inline constexpr std::uint32_t kVerifyDetailed = 2;

enum class VerifyOutcome { Running, Passed, Failed, Cancelled };

struct VerifyProgress {
  std::uint32_t done = 0;
  std::uint32_t total = 0;
  std::string currentFile;  // detailed verification: the title of the file being compared
  VerifyOutcome outcome = VerifyOutcome::Running;
};

class Verifier {
 public:
  // `shared` belongs to a job whose run has finished.
  explicit Verifier(BP_RuntimeSharedData* shared);
  ~Verifier();  // cancel(), join()
  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;

  // Starts the thread once; the kind is the job's verifyType.
  void start();
  // Asks the thread to stop. True when the verification had not ended yet: it now ends as
  // cancelled, never with another verdict.
  bool cancel();
  void join();
  bool finished() const { return outcome() != VerifyOutcome::Running; }
  VerifyOutcome outcome() const { return outcome_.load(); }
  std::uint32_t verifyType() const { return type_; }
  VerifyProgress progress() const;

  // The blocks read per command, and the tries of a read before it fails.
  static constexpr std::uint32_t kQuickRun = 64;
  static constexpr std::uint32_t kDetailedRun = 32;
  static constexpr int kReadTries = 600;

 private:
  void run();
  VerifyOutcome quick();
  VerifyOutcome detailed();
  bool waitForDrive();
  bool readBlocks(std::uint32_t lba, std::uint32_t blocks, int tries);
  // One fork of one file (`size` bytes delivered by `read`) against `blocks` disc blocks
  // from `lba`.
  VerifyOutcome compareFork(std::uint64_t size,
                            const std::function<std::size_t(char*, std::size_t)>& read,
                            std::uint32_t lba, std::uint32_t blocks);
  void setCurrentFile(std::uint32_t index, const char* title);

  BP_RuntimeSharedData* const shared_;
  std::uint32_t type_ = 0;
  std::uint32_t ref_ = 0;
  bool useRead12_ = false;
  std::atomic<bool> cancel_{false};
  std::atomic<VerifyOutcome> outcome_{VerifyOutcome::Running};
  std::string disc_;     // the read buffer
  std::mutex endMutex_;  // a cancel and the verdict never cross
  mutable std::mutex fileMutex_;
  std::string currentFile_;
  std::thread thread_;
};

// The burn log's line for a verification's end, e.g. "Quick Verification Successful!\r\r".
std::string verificationLogLine(std::uint32_t verifyType, VerifyOutcome outcome);

}  // namespace quillion::burn
