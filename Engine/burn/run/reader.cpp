// SPDX-License-Identifier: GPL-2.0-or-later
// The reader thread: every producer of every session, in order, into the cache.
#include "burn/job/job_log.h"
#include "burn/run/run_common.h"

namespace quillion::burn {
namespace {

class Reader {
 public:
  explicit Reader(BurnJob& job) : job_(job), shared_(job.shared), cache_(*job.cache) {}

  // kNoErr also when the run was stopped: a stop is no failure of the reader's.
  EngineStatus readAll() {
    EngineStatus dataResult = kNoErr;
    for (Session& session : job_.sessions) {
      for (const SaoItem& item : readingOrder(session)) {
        if (!item.producer) break;
        DPM_Base& producer = *item.producer;
        for (const std::string& note : producer.LayoutNotes()) logText(shared_, note);
        if (const EngineStatus s = readTrack(producer, item.blocks); s != kNoErr) return s;
        if (runStopped(job_)) return kNoErr;
        if (producer.DataResult() != kNoErr) {
          // The track is whole, with zeros where file data could not be read; the job must
          // still not end as if every file were on it.
          for (const DPM_MissingData& missing : producer.MissingData())
            logText(shared_, DPM_MissingDataLogLine(missing));
          if (dataResult == kNoErr) dataResult = kErrFileAccess;
        }
      }
      setCacheReady(job_, true);
    }
    return dataResult;
  }

 private:
  EngineStatus readTrack(DPM_Base& producer, std::uint32_t remaining) {
    const std::uint32_t blockSize = producer.BlockSize();
    while (remaining > 0) {
      CacheBlock block{};
      if (!takeEmptyBlock(block)) return kNoErr;
      if (blockSize == 0 || blockSize > block.bufferSize) return fail(block, kErrSourceRead);
      const std::uint32_t wanted = std::min(block.bufferSize / blockSize, remaining);
      std::uint32_t got = 0;
      const EngineStatus status = producer.NextBlocks(block.buffer, block.bufferSize, wanted, &got);
      if (status != kNoErr || got == 0) {
        MMC_SenseData sense{};
        if (status == kErrCheckCondition && producer.GetCurrentSenseCode(&sense) == kNoErr)
          shared_.readSense.store(sense);
        return fail(block, kErrSourceRead);
      }
      got = std::min(got, wanted);
      if (runStopped(job_)) {
        giveBack(block);
        return kNoErr;
      }
      block.dataLength = blockSize * got;
      block.blockSize = blockSize;
      if (cache_.Push_Data(&block) != kNoErr) return fail(block, kErrSourceRead);
      showCacheUsage(job_, 200);
      shared_.blocksRead += got;
      remaining -= got;
    }
    return kNoErr;
  }

  // False when the run was stopped first.
  bool takeEmptyBlock(CacheBlock& block) {
    for (;;) {
      if (runStopped(job_)) return false;
      const std::uint64_t seen = cache_.ChangeCount();
      if (cache_.Popup_Empty(&block) == kNoErr) return true;
      // The cache is full: a single writer may start now.
      setCacheReady(job_, true);
      cache_.WaitForChange(seen, kPollInterval);
    }
  }

  void giveBack(CacheBlock& block) {
    block.dataLength = 0;
    (void)cache_.Push_Data(&block);
  }

  EngineStatus fail(CacheBlock& block, EngineStatus status) {
    giveBack(block);
    shared_.bStop = true;
    return status;
  }

  BurnJob& job_;
  BP_RuntimeSharedData& shared_;
  MCacheMgr& cache_;
};

}  // namespace

void runReadInThread(std::uint32_t jobRef) {
  const auto job = findJob(jobRef);
  // Deleted before its reader began, there is nothing left to report into; and a job is
  // read once, however often the routine is called.
  if (!job || !job->started || job->readerRan.exchange(true)) return;
  BP_RuntimeSharedData& shared = job->shared;
  shared.bReadDone = false;
  EngineStatus result = kNoErr;
  if (!job->cache || shared.totalBlocks == 0) {
    shared.bStop = true;
    result = kErrPrepareFailed;
  } else {
    logFormat(shared, "\r\r=> Read thread start @ %s", logTimeText().c_str());
    result = Reader(*job).readAll();
  }
  if (job->cache) job->cache->Read_Done();
  std::int32_t none = 0;
  if (result != kNoErr) shared.readErrorCode.compare_exchange_strong(none, result);
  logFormat(shared, "\r\r=> Read thread finished @ %s", logTimeText().c_str());
  shared.bReadDone = true;
  setCacheReady(*job, true);
}

}  // namespace quillion::burn
