// SPDX-License-Identifier: GPL-2.0-or-later
// Creating, describing and deleting jobs.
#include "burn/job/burn_job.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/cd_image_file.h"

namespace quillion::burn {

BurnJob::BurnJob(BP_JobCode jobCode, std::uint16_t drives)
    : code(jobCode),
      driveCount(drives),
      writerRecords(new BP_WriterRTInfo[drives]),
      shared(writerRecords.get()) {
  shared.numDrives = drives;
}

// The record points at the list until the job goes.
BurnJob::~BurnJob() {
  shared.fileLocList = nullptr;
}

BP_WriterRTInfo* BurnJob::writerFor(std::uint32_t ref) {
  const std::uint16_t n = shared.numWriters.load();
  for (std::uint16_t i = 0; i < n && i < driveCount; ++i)
    if (writerRecords[i].deviceRef.load() == ref) return &writerRecords[i];
  return nullptr;
}

HandleTable<BurnJob>& jobTable() {
  static HandleTable<BurnJob> table;
  return table;
}

namespace {

template <std::size_t N>
void copyText(char (&field)[N], const std::optional<std::string>& text) {
  const std::size_t n = text ? std::min(text->size(), N - 1) : 0;
  if (n) std::memcpy(field, text->data(), n);
  field[n] = '\0';
}

}  // namespace
}  // namespace quillion::burn

using quillion::burn::BurnJob;
using quillion::burn::findJob;
using quillion::burn::jobTable;

BP_JobRef BP_Create(BP_JobCode code, BP_RuntimeSharedData** shared, std::uint16_t driveCount) {
  if (!shared) return 0;
  *shared = nullptr;
  try {
    auto job = std::make_shared<BurnJob>(code, driveCount);
    BP_RuntimeSharedData* record = &job->shared;
    const BP_JobRef ref = jobTable().insert(std::move(job));
    if (ref != 0) *shared = record;
    return ref;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

EngineStatus BP_Delete(BP_JobRef ref) {
  // Threads of a running job hold it: they see the stop flag, end, and the last of them
  // frees the job.
  if (auto job = jobTable().erase(ref)) job->shared.bStop = true;
  return kNoErr;
}

EngineStatus BP_GetJobSettings(BP_JobRef ref, BP_JobSettings* out) {
  auto job = findJob(ref);
  if (!job) return kErrNoJob;
  if (!out) return kErrBadArgument;
  std::lock_guard lock(job->mutex);
  const auto& o = job->options;
  BP_JobSettings& s = *out;
  std::memset(&s, 0, sizeof s);  // padding too: callers may compare two copies bytewise
  s.jobCode = job->code;
  s.prepared = job->prepared;
  s.srcDevice = o.srcDevice;
  s.dstCount = job->dstCount;
  s.firstDestination = job->firstDestination();
  quillion::burn::copyText(s.srcImagePath, job->srcImagePath);
  s.srcImageKind = o.srcImageKind;
  s.srcImageBlocks = o.srcImageBlocks;
  quillion::burn::copyText(s.dstImagePath, job->dstImagePath);
  s.dstImageType = o.dstImageType;
  s.writeCDText = o.writeCDText;
  s.cdTextLength = static_cast<std::uint32_t>(job->cdText.size());
  std::memcpy(s.audioCDText, job->audioCDText.data(), sizeof s.audioCDText);
  s.sao = o.sao;
  s.closeDisc = o.closeDisc;
  s.burnProof = o.burnProof;
  s.burnProofType = o.burnProofType;
  s.simulate = o.simulate;
  s.eraseBeforeBurn[0] = o.eraseBeforeBurn[0];
  s.eraseBeforeBurn[1] = o.eraseBeforeBurn[1];
  s.iso9660XA = o.iso9660XA;
  s.appleExtensions = o.appleExtensions;
  s.dataDiscFormat = o.dataDiscFormat;
  s.ejectSrcAfterRead = o.ejectSrcAfterRead;
  s.writeImageTrackByTrack = o.writeImageTrackByTrack;
  s.createMenu4VCD = o.createMenu4VCD;
  s.dvdPlusRWFullErase = o.dvdPlusRWFullErase;
  s.dvdPlusRWEraseBlocks = o.dvdPlusRWEraseBlocks;
  s.dvdPlusRWUsedBlocks = o.dvdPlusRWUsedBlocks;
  s.dataTree = o.dataTree;
  s.trackList = o.trackList;
  s.errorCallback = o.errorCallback;
  s.progressCallback = o.progressCallback;
  s.insertBlankDiscCallback = o.insertBlankDiscCallback;
  s.threadCreator = o.threadCreator;
  return kNoErr;
}

bool BP_RunFinished(const BP_RuntimeSharedData* shared) {
  if (!shared || !shared->bStop.load() || !shared->bReadDone.load()) return false;
  const std::uint16_t writers = std::min(shared->numWriters.load(), shared->numDrives.load());
  for (std::uint16_t i = 0; i < writers; ++i)
    if (!shared->writers[i].bWriteThreadDone.load()) return false;
  return true;
}
