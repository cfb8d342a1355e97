// SPDX-License-Identifier: GPL-2.0-or-later
// The BP_Set* family. Each answers the status the flat API has always given for a missing
// job (-1001 for the older setters, -1121 for the later ones), so callers keep working. A
// started job refuses them all (-1124): its threads own the writer records and work from
// the settings as they were at the start.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "burn/job/burn_job.h"
#include "device/medium_profile.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

namespace {

using quillion::burn::BurnJob;
using quillion::burn::JobOptions;

template <typename Change>
EngineStatus onJob(BP_JobRef ref, EngineStatus noJob, Change&& change) {
  auto job = quillion::burn::findJob(ref);
  if (!job) return noJob;
  std::lock_guard lock(job->mutex);
  if (job->started) return kErrJobNotRunnable;
  try {
    return change(*job);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

// A setter that cannot fail but for a missing job.
template <typename Change>
EngineStatus setOption(BP_JobRef ref, EngineStatus noJob, Change&& change) {
  return onJob(ref, noJob, [&](BurnJob& job) {
    change(job.options);
    return kNoErr;
  });
}

}  // namespace

EngineStatus BP_SetSrcImageFilePath(BP_JobRef ref, const char* path, std::uint32_t kind,
                                    std::uint32_t blocks) {
  if (!path || !*path) return kErrBadArgument;
  return onJob(ref, kErrBadArgument, [&](BurnJob& job) {
    job.srcImagePath = std::string(path);
    job.options.srcImageKind = kind;
    job.options.srcImageBlocks = blocks;
    return kNoErr;
  });
}

EngineStatus BP_SetDstImageFilePath(BP_JobRef ref, const char* path, std::uint32_t type) {
  if (!path) return kErrBadArgument;
  return onJob(ref, kErrBadArgument, [&](BurnJob& job) {
    job.dstImagePath = std::string(path);
    job.options.dstImageType = type;
    return kNoErr;
  });
}

EngineStatus BP_SetSrcDevice(BP_JobRef ref, std::uint32_t device) {
  if (device == 0) return kErrBadArgument;
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.srcDevice = device; });
}

EngineStatus BP_SetDstDriveList(BP_JobRef ref, std::uint32_t* refs, std::uint16_t count) {
  std::unique_ptr<std::uint32_t[], quillion::burn::FreeDeleter> list(refs);
  if (!list) return kErrBadArgument;
  return onJob(ref, kErrBadArgument, [&](BurnJob& job) {
    job.dst = std::move(list);
    job.dstCount = count;
    if (count == 0 || count > job.numDrives()) return kErrBadArgument;
    job.shared.numWriters = count;
    for (std::uint16_t i = 0; i < count; ++i) {
      BP_WriterRTInfo& w = job.writerRecords[i];
      w.deviceRef = job.dst[i];
      w.phase = kBP_PhaseSetUp;
      w.actualBurnSpeed = 1;
      w.mediaProfile = quillion::currentProfile(job.dst[i]);
    }
    return kNoErr;
  });
}

EngineStatus BP_SetDstDevice(BP_JobRef ref, std::uint32_t device) {
  if (device == 0 || !quillion::burn::findJob(ref)) return kErrBadArgument;
  auto* one = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t)));
  if (!one) return kErrOutOfMemory;
  *one = device;
  return BP_SetDstDriveList(ref, one, 1);
}

EngineStatus BP_SetDataTree(BP_JobRef ref, FS_Tree* tree) {
  if (!tree) return kErrBadArgument;
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.dataTree = tree; });
}

EngineStatus BP_SetAudioList(BP_JobRef ref, FS_List* list) {
  if (!list) return kErrBadArgument;
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.trackList = list; });
}

EngineStatus BP_SetVideoList(BP_JobRef ref, FS_List* list) {
  return BP_SetAudioList(ref, list);
}

EngineStatus BP_SetWriteSpeed(BP_JobRef ref, std::uint32_t device, std::uint16_t speed) {
  if (speed == 0) return kErrBadArgument;
  return onJob(ref, kErrBadArgument, [&](BurnJob& job) {
    if (BP_WriterRTInfo* w = job.writerFor(device)) w->actualBurnSpeed = speed;
    return kNoErr;
  });
}

EngineStatus BP_SetBurnProof(BP_JobRef ref, bool on) {
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.burnProof = on; });
}

EngineStatus BP_SetSimulate(BP_JobRef ref, bool on) {
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.simulate = on; });
}

EngineStatus BP_SetEraseBeforeBurn(BP_JobRef ref, bool erase, bool second) {
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) {
    o.eraseBeforeBurn[0] = erase;
    o.eraseBeforeBurn[1] = second;
  });
}

EngineStatus BP_SetCloseDisc(BP_JobRef ref, bool on) {
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.closeDisc = on; });
}

EngineStatus BP_SetCDTextInfo(BP_JobRef ref, const std::uint8_t* bytes, std::uint32_t length) {
  if (!bytes || length == 0) return kErrBadArgument;
  return onJob(ref, kErrBadArgument, [&](BurnJob& job) {
    job.cdText.assign(bytes, bytes + length);
    return kNoErr;
  });
}

EngineStatus BP_SetDataDiscFormat(BP_JobRef ref, std::uint16_t format) {
  if (format == 0) return kErrBadArgument;
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.dataDiscFormat = format; });
}

EngineStatus BP_SetSAO(BP_JobRef ref, bool on) {
  return setOption(ref, kErrBadArgument, [&](JobOptions& o) { o.sao = on; });
}

EngineStatus BP_SetErrorCallback(BP_JobRef ref, BP_StoredProc proc) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.errorCallback = proc; });
}

EngineStatus BP_SetProgressCallback(BP_JobRef ref, BP_StoredProc proc) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.progressCallback = proc; });
}

EngineStatus BP_SetInsertBlankDiscCallback(BP_JobRef ref, BP_StoredProc proc) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.insertBlankDiscCallback = proc; });
}

EngineStatus BP_SetThreadCreatorCallback(BP_JobRef ref, BP_ThreadCreatorProc proc) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.threadCreator = proc; });
}

EngineStatus BP_SetExpectCacheSize(BP_JobRef ref, std::uint32_t kilobytes) {
  return onJob(ref, kErrNoJob, [&](BurnJob& job) {
    job.shared.appCacheSize = kilobytes;
    return kNoErr;
  });
}

EngineStatus BP_SetISO9660_XA(BP_JobRef ref, bool on) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.iso9660XA = on; });
}

EngineStatus BP_SetISO9660_AppendAppleExt(BP_JobRef ref, bool on) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.appleExtensions = on; });
}

EngineStatus BP_SetDiscAudio_CDText(BP_JobRef ref, const std::uint8_t* block800) {
  return onJob(ref, kErrNoJob, [&](BurnJob& job) {
    if (!block800) return kErrBadArgument;
    std::copy_n(block800, job.audioCDText.size(), job.audioCDText.begin());
    return kNoErr;
  });
}

EngineStatus BP_SetEncodeCDText(BP_JobRef ref, bool on) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.writeCDText = on; });
}

EngineStatus BP_SetEjectSrcAfterFinishRead(BP_JobRef ref, bool on) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.ejectSrcAfterRead = on; });
}

EngineStatus BP_SetBurnProofType(BP_JobRef ref, std::int32_t type) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.burnProofType = type; });
}

EngineStatus BP_SetDVDPlusRWUsedBlocks(BP_JobRef ref, std::uint32_t blocks) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.dvdPlusRWUsedBlocks = blocks; });
}

EngineStatus BP_SetDVDPlusRWEraseType(BP_JobRef ref, bool fullErase, std::uint32_t blocks) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) {
    o.dvdPlusRWFullErase = fullErase;
    o.dvdPlusRWEraseBlocks = blocks;
  });
}

EngineStatus BP_SetVerifyType(BP_JobRef ref, std::uint32_t type) {
  return onJob(ref, kErrNoJob, [&](BurnJob& job) {
    job.shared.verifyType = type & 0xFFFF;  // the interface's codes are 16-bit
    return kNoErr;
  });
}

EngineStatus BP_SetCreateMenu4VCD(BP_JobRef ref, bool on) {
  return setOption(ref, kErrNoJob, [&](JobOptions& o) { o.createMenu4VCD = on; });
}
