// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/run/erase_run.h"

#include "burn/job/job_log.h"
#include "burn/run/run_common.h"
#include "device/disc_erase.h"
#include "device/medium_profile.h"
#include "quillion/SCS.h"

namespace quillion::burn {
namespace {

// What a destination's disc is erased with. Media the drive blanks are blanked minimally for
// an erase of a few blocks (a quick erase) and wholly otherwise.
EraseRequest eraseRequestOf(const JobOptions& o) {
  EraseRequest r;
  const bool quick = o.dvdPlusRWEraseBlocks != 0 && o.dvdPlusRWEraseBlocks <= kQuickEraseBlocks;
  r.blankByte =
      static_cast<std::uint8_t>((quick ? kBlankMinimal : kBlankWholeDisc) | kBlankImmediate);
  r.overwriteBlocks = o.dvdPlusRWEraseBlocks;
  return r;
}

void endEraseWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t ref, EngineStatus status,
                    const MMC_SenseData& sense) {
  record.errorCode = status;
  if (status != kNoErr) {
    record.curSense.store(sense);
    char senseText[kSCS_TextCapacity] = {};
    SCS_GetStringFromSense(&sense, senseText);
    logFormat(job.shared,
              "\r=> Erase thread finished with ERROR!!! @ %sDrive Ref: %u\rError %d %s\r\r",
              logTimeText().c_str(), ref, int{status}, senseText);
  } else {
    logFormat(job.shared, "\r=> Erase thread finished @ %s   Drive Ref: %u\r\r",
              logTimeText().c_str(), ref);
  }
  finishWriter(job, record, ref);
}

void eraseDestination(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t ref, bool first) {
  BP_RuntimeSharedData& shared = job.shared;
  logFormat(shared, "\r=> Erase thread start @ %s   Drive Ref : %u\r", logTimeText().c_str(), ref);
  record.phase = kBP_PhaseWriting;
  const std::uint16_t profile = currentProfile(ref);
  record.mediaProfile = profile;
  EraseObserver observer;
  observer.progress = [&](std::uint32_t done, std::uint32_t total) {
    if (first) shared.totalBlocks = total;  // the shared total has one writer: the first drive
    record.sectorsWritten = done;
  };
  observer.stop = [&] { return shared.bStop.load() || record.bForceQuit.load(); };
  MMC_SenseData sense{};
  EngineStatus status = kNoErr;
  if (observer.stop()) {
    status = kErrCancelled;
  } else {
    status = eraseDisc(ref, profile, eraseRequestOf(job.plan.options), observer, &sense);
  }
  endEraseWriter(job, record, ref, status, sense);
}

void runEraseInThread(std::uint32_t argument) {
  const std::shared_ptr<WriterArgument> arg = writerArguments().erase(argument);
  if (!arg) return;
  const auto job = findJob(arg->job);
  if (!job || arg->index >= job->numDrives()) return;
  eraseDestination(*job, job->writerRecords[arg->index], arg->destination, arg->index == 0);
}

}  // namespace

EngineStatus setUpEraseRun(BurnJob& job) {
  const JobOptions& o = job.options;
  if (!o.threadCreator || job.dstCount == 0 || job.dstCount > job.numDrives())
    return kErrJobNotRunnable;
  job.plan.options = o;
  job.plan.destinations.assign(job.dst.get(), job.dst.get() + job.dstCount);
  job.shared.totalBlocks = o.dvdPlusRWEraseBlocks;
  job.shared.numWriters = job.dstCount;
  // Nothing is read: the writers erase on their own.
  job.readerRan = true;
  job.shared.bReadDone = true;
  job.prepared = true;
  return kNoErr;
}

EngineStatus startEraseThreads(BurnJob& job, BP_JobRef ref) {
  const BP_ThreadCreatorProc create = job.plan.options.threadCreator;
  for (std::uint16_t i = 0; i < job.plan.destinations.size(); ++i) {
    const std::uint32_t destination = job.plan.destinations[i];
    const Handle32 argument = writerArguments().insert(
        std::make_shared<WriterArgument>(WriterArgument{ref, destination, i}));
    job.writerRecords[i].phase = kBP_PhaseWaiting;
    if (argument == kNoHandle ||
        create(kBP_WriterThread, runEraseInThread, &job.shared, argument) == 0) {
      writerArguments().erase(argument);
      logFormat(job.shared, "\r?? No thread for the erase of Drive Ref: %u\r", destination);
      endEraseWriter(job, job.writerRecords[i], destination, kErrJobNotRunnable, MMC_SenseData{});
    }
  }
  return kNoErr;
}

}  // namespace quillion::burn
