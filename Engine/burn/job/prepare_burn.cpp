// SPDX-License-Identifier: GPL-2.0-or-later
// BP_PrepareBurn: the job's checks, the options a destination forces, the log line, then
// the sessions and producers, and the size the destination needs.
#include "burn/job/burn_job.h"
#include "burn/job/job_code.h"
#include "burn/job/job_log.h"
#include "device/medium_profile.h"

namespace quillion::burn {
namespace {

EngineStatus checkJob(const BurnJob& job) {
  if (job.kind() != kBP_KindQuickErase) {
    if (EngineStatus s = checkRouteAndKind(job); s != kNoErr) return s;
  }
  if (!job.options.threadCreator) return kErrJobNotRunnable;
  if (job.dstCount == 0 || job.dstCount > job.numDrives()) return kErrJobNotRunnable;
  return kNoErr;
}

void forceOptions(BurnJob& job) {
  JobOptions& o = job.options;
  if (job.firstDestination() == kBP_NativeImageWriter) {
    o.sao = true;
    if (job.kind() == kBP_KindDeviceCopy) o.closeDisc = true;
  }
  BP_WriterRTInfo& first = job.writerRecords[0];
  const MediumProfile& profile = profileOf(first.mediaProfile);
  if (job.kind() == kBP_KindQuickErase && profile.randomWritable) {
    o.sao = false;
    o.closeDisc = false;
    job.shared.appCacheSize = 1024;
    first.actualBurnSpeed = 0xFFFF;  // the drive's fastest
  }
  if (!profile.sessionAtOnce) o.sao = false;
}

void logLayoutLine(const BurnJob& job) {
  std::string line;
  if (const char* name = kindLogName(job.kind())) line = std::string("\r < Layout > : ") + name;
  line += job.dstCount == 1 ? "(1->1)" : "(1->N)";
  logText(job.shared, line);
}

void reportSize(const BurnJob& job, std::uint32_t* blocks, std::uint32_t* bytes) {
  if (job.firstDestination() == kBP_NativeImageWriter) {
    if (bytes) {
      const std::uint64_t total = nativeImageBytes(job);
      bytes[0] = static_cast<std::uint32_t>(total);
      bytes[1] = static_cast<std::uint32_t>(total >> 32);
    }
  } else if (blocks) {
    *blocks = deviceBlocksNeeded(job);
  }
}

}  // namespace

EngineStatus prepareBurn(BurnJob& job, std::uint32_t* blocks, std::uint32_t* bytes) {
  if (job.started) return kErrJobNotRunnable;
  if (EngineStatus s = checkJob(job); s != kNoErr) return s;
  forceOptions(job);
  logLayoutLine(job);
  job.prepared = false;
  if (EngineStatus s = prepareSessions(job); s != kNoErr) return s;
  reportSize(job, blocks, bytes);
  job.preparedDestinations.assign(job.dst.get(), job.dst.get() + job.dstCount);
  job.prepared = true;
  return kNoErr;
}

}  // namespace quillion::burn

EngineStatus BP_PrepareBurn(BP_JobRef ref, std::uint32_t* blocks, std::uint32_t* bytes) {
  auto job = quillion::burn::findJob(ref);
  if (!job) return kErrNoJob;
  std::lock_guard lock(job->mutex);
  try {
    return quillion::burn::prepareBurn(*job, blocks, bytes);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}
