// SPDX-License-Identifier: GPL-2.0-or-later
// The burn job behind a BP_JobRef: its settings, destination list and shared record.
// Flat calls find it through the job table and work under its mutex; once the job has
// been started its sessions are frozen, and the run's threads read them without the lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "burn/cache/cache_mgr.h"
#include "burn/job/sessions.h"
#include "common/handle_table.h"
#include "quillion/BP.h"

class CDImageFile;

namespace quillion::burn {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The job's scalar settings, with their defaults.
struct JobOptions {
  std::uint32_t srcDevice = 0;
  std::uint32_t srcImageKind = 0;
  std::uint32_t srcImageBlocks = 0;
  std::uint32_t dstImageType = 0;
  bool writeCDText = false;
  bool sao = false;
  bool closeDisc = false;
  bool burnProof = true;
  std::int32_t burnProofType = 1;
  bool simulate = false;
  bool eraseBeforeBurn[2] = {false, true};
  bool iso9660XA = true;
  bool appleExtensions = true;
  std::uint16_t dataDiscFormat = 2;
  bool ejectSrcAfterRead = false;
  bool writeImageTrackByTrack = false;
  bool createMenu4VCD = false;
  bool dvdPlusRWFullErase = true;
  std::uint32_t dvdPlusRWEraseBlocks = 0;
  std::uint32_t dvdPlusRWUsedBlocks = 0;
  FS_Tree* dataTree = nullptr;
  FS_List* trackList = nullptr;  // audio or video: one slot
  BP_StoredProc errorCallback = nullptr;
  BP_StoredProc progressCallback = nullptr;
  BP_StoredProc insertBlankDiscCallback = nullptr;
  BP_ThreadCreatorProc threadCreator = nullptr;
};

// Whether a destination is a drive, not one of the image writers.
inline bool isDriveDestination(std::uint32_t ref) {
  return ref != 0 && ref != kBP_NativeImageWriter && ref != kBP_ISOImageWriter;
}

// What the run's threads work from: the settings as they were when the job was started.
struct RunPlan {
  JobOptions options;
  std::string dstImagePath;
  std::vector<std::uint32_t> destinations;
  std::vector<std::uint8_t> cdText;
};

class BurnJob {
 public:
  BurnJob(BP_JobCode jobCode, std::uint16_t driveCount);
  ~BurnJob();
  BurnJob(const BurnJob&) = delete;
  BurnJob& operator=(const BurnJob&) = delete;

  std::uint8_t kind() const { return static_cast<std::uint8_t>(code & 0xFF); }
  std::uint32_t route() const { return code & 0xFF00; }
  std::uint32_t firstDestination() const { return dstCount > 0 ? dst[0] : 0; }
  std::uint16_t numDrives() const { return driveCount; }
  // The writer record of `ref` among the current destinations; null when it is none.
  BP_WriterRTInfo* writerFor(std::uint32_t ref);

  const BP_JobCode code;
  const std::uint16_t driveCount;

  std::mutex mutex;  // everything below but the shared record
  JobOptions options;
  std::optional<std::string> srcImagePath;
  std::optional<std::string> dstImagePath;
  std::vector<std::uint8_t> cdText;  // the raw lead-in CD-Text block
  std::array<std::uint8_t, 800> audioCDText{};
  std::unique_ptr<std::uint32_t[], FreeDeleter> dst;  // the caller's malloc'd array
  std::uint16_t dstCount = 0;
  bool prepared = false;
  // The image a copy reads; its tracks' producers read through it, so it outlives them.
  std::unique_ptr<CDImageFile> srcImage;
  // The destinations the sessions were prepared for: where a session starts depends on them.
  std::vector<std::uint32_t> preparedDestinations;
  std::vector<Session> sessions;
  std::unique_ptr<FS_FileLocList, FreeDeleter> fileLocList;  // shown in the shared record
  std::atomic<bool> started{false};

  // The run: set up by BP_Burn before the threads start, read-only for them afterwards
  // but for the cache, which does its own locking, and the cache-ready flag.
  RunPlan plan;
  std::unique_ptr<MCacheMgr> cache;
  std::atomic<bool> cacheReady{false};
  std::atomic<bool> readerRan{false};  // the reader routine runs once per job

  const std::unique_ptr<BP_WriterRTInfo[]> writerRecords;  // driveCount records
  BP_RuntimeSharedData shared;  // points at writerRecords, so it comes after them
};

HandleTable<BurnJob>& jobTable();
inline std::shared_ptr<BurnJob> findJob(BP_JobRef ref) {
  return jobTable().find(ref);
}

}  // namespace quillion::burn
