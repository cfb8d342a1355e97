// SPDX-License-Identifier: GPL-2.0-or-later
// Sizing a layout before its burn is offered. On a worker, a burn job is made for the
// layout and destination, asked for its size and deleted again. Back on the main thread the
// size is judged against the destination and the file system's limits; when the layout
// fits only into the disc's overburn margin, the user is asked there, between sizing and
// going on. Each request is judged afresh: nothing of an earlier request is reused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "burn/burn_executor.h"
#include "burn/sizing_limits.h"
#include "quillion/BP.h"

namespace quillion::burn {

enum class SizingKind { Data, Audio };

// The medium in the destination drive, as the device list knows it.
struct DiscSpace {
  std::uint32_t freeBlocks = 0;
  bool isDVD = false;  // a DVD or BD medium
};

// A sizing job kept for the burn that follows. Whoever holds the last reference to it and
// has not taken it deletes it, so a pass that ends without a burn leaves no job behind.
class KeptJob {
 public:
  KeptJob(BP_JobRef ref, BP_RuntimeSharedData* shared) : ref_(ref), shared_(shared) {}
  ~KeptJob();
  KeptJob(const KeptJob&) = delete;
  KeptJob& operator=(const KeptJob&) = delete;
  // The job becomes the caller's.
  std::pair<BP_JobRef, BP_RuntimeSharedData*> take();
  BP_JobRef ref() const { return ref_; }

 private:
  BP_JobRef ref_ = 0;
  BP_RuntimeSharedData* shared_ = nullptr;
};

struct SizingRequest {
  SizingKind kind = SizingKind::Data;
  int layoutType = 0;       // the job kind (currentLayoutType)
  unsigned formatType = 0;  // data-disc format code
  bool verifyFileByFile = false;
  bool iso9660XA = true;
  bool appleExtensions = true;
  bool sao = false;
  FS_Tree* tree = nullptr;
  FS_List* audioList = nullptr;   // data pass: the tracks of a mixed-mode or CD Extra layout
  std::uint32_t destination = 0;  // a drive, kBP_NativeImageWriter or kBP_ISOImageWriter
  std::string cdImageWriterPath;
  std::string isoImageWriterPath;
  std::optional<DiscSpace> disc;                      // none: no disc record for the drive
  std::optional<std::uint32_t> overburnMarginBlocks;  // overburning on and supported
  BP_ThreadCreatorProc threadCreator = nullptr;
  // A rewritable DVD or BD written in place: the blocks its file system already uses.
  std::optional<std::uint32_t> dvdPlusRWUsedBlocks;
  // The job is kept for the burn when the layout fits (SizingOutcome::keptJob), and is then
  // made for the destination itself, so that the burn may run it as it was prepared.
  bool keepJob = false;
  // Disc spanning: a disc too small for the layout is still enough when it holds the
  // biggest file; the file system's limits are checked all the same.
  bool discSpanning = false;
  // Free bytes of the volume that will hold `path`; the default asks the file system.
  std::function<std::uint64_t(const std::string& path)> freeBytesAt;
};

// What the worker learns: the engine's answer and the facts the judgement needs.
struct SizingMeasure {
  bool jobCreated = false;
  EngineStatus status = kNoErr;
  std::uint32_t blocks = 0;
  std::uint64_t bytes = 0;              // the native image's size
  std::uint32_t biggestFileBlocks = 0;  // ISO9660 layouts only
  std::uint64_t imageFreeBytes = 0;     // image destinations only
  std::shared_ptr<KeptJob> keptJob;     // requests that keep their job, when it was prepared
};

bool isImageDestination(std::uint32_t ref);
// Job code, job settings, preparation and deletion; runs on a worker.
SizingMeasure measureLayout(const SizingRequest& request);

enum class SizingVerdictKind {
  Proceed,      // offer the burn options (drive) or start the burn (image)
  AskOverburn,  // fits only into the overburn margin
  Refused,      // an alert (titleKey, messageKey)
  EngineError,  // the engine's status is shown
  NoJob,        // the job could not be made: logged, no alert
};

struct SizingVerdict {
  SizingVerdictKind kind = SizingVerdictKind::Refused;
  const char* titleKey = "";
  const char* messageKey = "";
  EngineStatus status = kNoErr;
};

// The judgement, in this order: job, engine status, room at the destination, the file
// system's limits (data pass), and last the overburn question, so the question is asked
// only when its answer decides.
SizingVerdict judgeSizing(const SizingRequest& request, const SizingMeasure& measure);

// The end of one request.
struct SizingOutcome {
  bool proceed = false;  // go on with the burn
  bool enoughSpace = false;
  bool continueOverburn = false;  // the user accepted the overburn margin
  EngineStatus resultCode = kNoErr;
  SizingVerdict verdict;
  bool declinedOverburn = false;     // refused by the user's answer: no alert
  std::shared_ptr<KeptJob> keptJob;  // set only when the burn goes on
};

// The window's side of a pass. Every call arrives on the main thread.
struct SizingHooks {
  // Ask the overburn question; call `answer` once with the choice, now or later.
  std::function<void(std::function<void(bool accept)> answer)> askOverburn;
  std::function<void(const SizingOutcome&)> finished;
};

class SizingPass {
 public:
  SizingPass(BurnExecutor& executor, SizingHooks hooks);
  ~SizingPass();
  SizingPass(const SizingPass&) = delete;
  SizingPass& operator=(const SizingPass&) = delete;

  // Main thread; false while a pass runs.
  bool start(SizingRequest request);
  bool running() const { return running_; }

 private:
  void measured(const SizingRequest& request, const SizingMeasure& measure);
  void finish(SizingOutcome outcome);

  BurnExecutor& executor_;
  SizingHooks hooks_;
  bool running_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quillion::burn
