// SPDX-License-Identifier: GPL-2.0-or-later
// BP_Burn: the last options the destination forces, the cache, and the threads asked of the
// interface's thread creator.
#include <algorithm>
#include <span>

#include "burn/cue/cue_sheet_builder.h"
#include "burn/job/job_log.h"
#include "burn/job/prepare_copy.h"
#include "burn/run/erase_run.h"
#include "burn/run/run_common.h"
#include "device/medium_profile.h"

namespace quillion::burn {
namespace {

constexpr std::uint32_t kCacheBlockBytes = 524'288;
constexpr std::uint32_t kSmallestCacheKB = 8'192;
constexpr std::uint32_t kLayoutCacheKB = 36'864;
constexpr std::uint32_t kLargestCacheKB = 81'920;

bool isRealDrive(std::uint32_t ref) {
  return ref != 0 && ref != kBP_NativeImageWriter;
}

// The cache: the wish, or the job rounded up to whole megabytes when it is much smaller;
// a fixed 8 MB for the native image; at most 36 MB unless a drive is copied.
std::uint32_t cacheSizeKB(const BurnJob& job) {
  std::uint32_t size = job.shared.appCacheSize;
  const std::uint32_t blocks = deviceBlocksNeeded(job);
  if (blocks < size / 2) size = ((blocks + 511) >> 9) << 10;
  const bool copyFromDrive = job.kind() == kBP_KindDeviceCopy && isRealDrive(job.options.srcDevice);
  if (job.firstDestination() == kBP_NativeImageWriter) {
    size = kSmallestCacheKB;
  } else if (!copyFromDrive) {
    size = std::min(size, kLayoutCacheKB);
  }
  return std::clamp(size, kSmallestCacheKB, kLargestCacheKB);
}

// The job has one image path, so an image is its only destination; drives may be several,
// each once, each holding a medium it can write (one named after preparation may be no
// drive). The list must be the one the sessions were prepared for, since where a session
// starts depends on the destination.
bool destinationsCanRun(const BurnJob& job) {
  const std::span<const std::uint32_t> list(job.dst.get(), job.dstCount);
  if (!std::ranges::equal(list, job.preparedDestinations)) return false;
  if (list.size() == 1 && isImageWriter(list[0])) return true;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == 0 || isImageWriter(list[i])) return false;
    if (std::find(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(i), list[i]) !=
        list.begin() + static_cast<std::ptrdiff_t>(i))
      return false;
    if (!profileOf(job.writerRecords[i].mediaProfile).writable()) return false;
  }
  return true;
}

// Session at once to a CD recorder, from cue sheets; image files take the tracks alone.
bool sessionAtOnceOnCD(const BurnJob& job) {
  const std::uint32_t first = job.firstDestination();
  return job.options.sao && !isImageWriter(first) && job.writerRecords[0].mediaProfile <= 0x0F;
}

// Everything but the threads; call with the job's lock held.
EngineStatus setUpRun(BurnJob& job) {
  JobOptions& o = job.options;
  // Settings may have changed since the job was prepared.
  if (!o.threadCreator || job.dstCount == 0 || job.dstCount > job.numDrives())
    return kErrJobNotRunnable;
  if (!profileOf(job.writerRecords[0].mediaProfile).sessionAtOnce) o.sao = false;
  // A copy to a CD, or to a native image that keeps it, takes its source's CD-Text along.
  if (o.sao && job.firstDestination() != kBP_ISOImageWriter &&
      job.writerRecords[0].mediaProfile <= 0x0F)
    fetchSourceCDText(job);
  if (o.sao && job.firstDestination() == kBP_NativeImageWriter && job.dstImagePath &&
      !job.dstImagePath->empty()) {
    // The native image takes each track at its own address.
    o.writeImageTrackByTrack = true;
    o.sao = false;
  }
  if (!destinationsCanRun(job)) return kErrJobNotRunnable;
  // Session at once: the cue sheets, and the gaps they describe among the blocks to read.
  if (sessionAtOnceOnCD(job)) {
    if (const EngineStatus s = buildCueSheets(job); s != kNoErr) return s;
  }

  std::uint32_t total = 0;
  for (const Session& s : job.sessions) total += s.blocks;
  job.shared.totalBlocks = total;
  if (total == 0) return kErrPrepareFailed;

  const std::uint32_t sizeKB = cacheSizeKB(job);
  job.shared.appCacheSize = sizeKB;
  auto cache =
      std::make_unique<MCacheMgr>(sizeKB * 1024, kCacheBlockBytes, job.dst.get(), job.dstCount);
  if (const EngineStatus s = cache->Initialize(); s != kNoErr) return s;
  job.cache = std::move(cache);

  job.plan.options = o;
  job.plan.dstImagePath = job.dstImagePath.value_or(std::string());
  job.plan.destinations.assign(job.dst.get(), job.dst.get() + job.dstCount);
  job.plan.cdText = job.cdText;
  job.shared.numWriters = job.dstCount;
  job.prepared = true;
  return kNoErr;
}

// A writer whose thread could not be started ends before it began.
void writerNotStarted(BurnJob& job, std::uint16_t index) {
  BP_WriterRTInfo& record = job.writerRecords[index];
  record.errorCode = kErrJobNotRunnable;
  logFormat(job.shared, "\r?? No thread for the writer of Drive Ref: %u\r",
            job.plan.destinations[index]);
  finishWriter(job, record, job.plan.destinations[index]);
}

// Asks for the reader, then a writer per destination. Without a reader nothing can run:
// the record then shows every part ended, with the status.
EngineStatus startThreads(BurnJob& job, BP_JobRef ref) {
  const BP_ThreadCreatorProc create = job.plan.options.threadCreator;
  BP_RuntimeSharedData& shared = job.shared;
  if (create(kBP_ReaderThread, runReadInThread, &shared, ref) == 0) {
    logText(shared, "\r?? No thread for the reader\r");
    job.readerRan = true;
    shared.readErrorCode = kErrJobNotRunnable;
    shared.bReadDone = true;
    for (std::uint16_t i = 0; i < job.plan.destinations.size(); ++i) writerNotStarted(job, i);
    return kErrJobNotRunnable;
  }
  for (std::uint16_t i = 0; i < job.plan.destinations.size(); ++i) {
    const std::uint32_t destination = job.plan.destinations[i];
    const Handle32 argument = writerArguments().insert(
        std::make_shared<WriterArgument>(WriterArgument{ref, destination, i}));
    job.writerRecords[i].phase = kBP_PhaseWaiting;
    if (argument == kNoHandle ||
        create(kBP_WriterThread, runWriteInThread, &shared, argument) == 0) {
      writerArguments().erase(argument);
      writerNotStarted(job, i);
    }
  }
  return kNoErr;
}

}  // namespace
}  // namespace quillion::burn

EngineStatus BP_Burn(BP_JobRef ref) {
  using namespace quillion::burn;
  auto job = findJob(ref);
  if (!job) return kErrNoJob;
  {
    std::lock_guard lock(job->mutex);
    if (job->started) return kErrJobNotRunnable;
    try {
      // A job whose preparation failed never runs: the sessions made before the failure
      // would be written as if they were the whole layout.
      if (!job->prepared) {
        if (const EngineStatus s = prepareBurn(*job, nullptr, nullptr); s != kNoErr) return s;
      }
      const bool erase = job->kind() == kBP_KindQuickErase;
      if (const EngineStatus s = erase ? setUpEraseRun(*job) : setUpRun(*job); s != kNoErr)
        return s;
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
    job->started = true;
  }
  // Outside the lock: the creator may be slow, and the threads may begin at once.
  if (job->kind() == kBP_KindQuickErase) return startEraseThreads(*job, ref);
  return startThreads(*job, ref);
}
