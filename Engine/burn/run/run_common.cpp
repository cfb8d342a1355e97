// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/run/run_common.h"

#include <algorithm>

namespace quillion::burn {

HandleTable<WriterArgument>& writerArguments() {
  static HandleTable<WriterArgument> table;
  return table;
}

void showCacheUsage(BurnJob& job, std::uint32_t bias) {
  const std::uint32_t count = job.cache->BlockCount();
  if (count == 0) return;
  const std::uint64_t used = job.cache->WrittenBlocks();
  job.shared.appCacheUsage =
      static_cast<std::uint16_t>(std::min<std::uint64_t>(100, (used * 100 + bias) / count));
}

void setCacheReady(BurnJob& job, bool ready) {
  const bool was = job.cacheReady.exchange(ready);
  // Only a change wakes anyone: a reader that signalled every time it found the cache full
  // would wake itself and never wait.
  if (ready && !was && job.cache) job.cache->Signal();
}

namespace {

bool everyWriterQuit(BurnJob& job) {
  BP_RuntimeSharedData& shared = job.shared;
  const std::uint16_t writers = std::min(shared.numWriters.load(), job.numDrives());
  if (writers == 0) return false;
  for (std::uint16_t i = 0; i < writers; ++i) {
    if (!shared.writers[i].bForceQuit) return false;
  }
  return true;
}

}  // namespace

bool runStopped(BurnJob& job) { return job.shared.bStop || everyWriterQuit(job); }

void dropWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t destination) {
  record.bForceQuit = true;
  if (everyWriterQuit(job)) job.shared.bStop = true;
  // After the stop flag, so that a reader woken by the dropped position sees it and does not
  // go on reading the whole source for nobody.
  if (job.cache) job.cache->DeleteDrive(destination);
}

void finishWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t destination) {
  record.phase = record.errorCode != 0 ? kBP_PhaseFailed : kBP_PhaseDone;
  dropWriter(job, record, destination);
  record.bWriteThreadDone = true;
}

}  // namespace quillion::burn
