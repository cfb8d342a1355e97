// SPDX-License-Identifier: GPL-2.0-or-later
// Burn jobs: the engine's unit of work for everything that writes a disc or an image file.
// The interface names a job by a 32-bit handle, sets its inputs and options one by one,
// prepares it (producers built, size known), starts it and then polls the shared progress
// record until the job has finished; it never sees an engine class.
//
// Threads: the engine starts none itself. BP_Burn asks the thread-creator callback for one
// reader thread and one writer thread per destination; they meet in the block cache and in
// the shared record. Every field of the shared record is atomic, so the interface may read
// it from any thread at any time while the engine's threads write it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "quillion/MMC.h"
#include "quillion/status.h"

class FS_Tree;
class FS_List;
struct FS_FileLocList;

// The job handle; 0 names no job, and a handle is never given out twice.
using BP_JobRef = std::uint32_t;

// The job code: the kind of job in the low byte, the route in the second byte.
using BP_JobCode = std::uint32_t;

enum BP_JobKind : std::uint8_t {
  kBP_KindData = 1,
  kBP_KindAudio = 2,
  kBP_KindMixedMode = 3,
  kBP_KindCDExtra = 4,
  kBP_KindMP3CD = 5,
  kBP_KindVCDMovie = 6,
  kBP_KindVCDSlide = 7,
  kBP_KindSVCDMovie = 8,
  kBP_KindSVCDSlide = 9,
  kBP_KindDeviceCopy = 10,
  kBP_KindQuickErase = 11,  // DVD+RW/DVD-RAM quick erase: neither kind nor route is checked
  kBP_KindAudioPlain = 12,  // an audio job whose log line names no kind
};

enum BP_JobRoute : std::uint32_t {
  kBP_RouteLayoutToImage = 0x100,
  kBP_RouteLayoutToDrives = 0x200,
  kBP_RouteDriveToImage = 0x300,
  kBP_RouteImageToDrives = 0x400,
  kBP_RouteDriveToDrives = 0x500,
};

constexpr BP_JobCode BP_MakeJobCode(BP_JobKind kind, BP_JobRoute route) {
  return static_cast<BP_JobCode>(route) | kind;
}

// Destination references besides drives (the same numbers as the image pseudo-drives of
// device control).
inline constexpr std::uint32_t kBP_NativeImageWriter = 0xFFFFFFFFu;
inline constexpr std::uint32_t kBP_ISOImageWriter = 0xFFFFFFFEu;

// Destination image types of BP_SetDstImageFilePath.
inline constexpr std::uint32_t kBP_DstNativeImage = 1;
inline constexpr std::uint32_t kBP_DstISOImage = 2;

// Writer phases (BP_WriterRTInfo::phase).
enum BP_WriterPhase : std::int16_t {
  kBP_PhaseNone = 0,
  kBP_PhaseSetUp = 1,
  kBP_PhaseWaiting = 2,  // waiting for data, or preparing a session
  kBP_PhaseWriting = 3,
  kBP_PhaseSessionClosed = 4,
  kBP_PhaseFailed = 5,
  kBP_PhaseDone = 7,
};

// Thread flags handed to the thread creator.
inline constexpr std::int16_t kBP_ReaderThread = 1;
inline constexpr std::int16_t kBP_WriterThread = 2;

// Sense data that the engine writes and the interface reads as one whole: the three bytes
// travel in one atomic word, so a reader never sees the key of one failure beside the code
// of another.
class BP_SenseField {
 public:
  MMC_SenseData load() const noexcept {
    const std::uint32_t v = packed_.load(std::memory_order_acquire);
    return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v)};
  }
  void store(const MMC_SenseData& s) noexcept {
    packed_.store(std::uint32_t{s.key} << 16 | std::uint32_t{s.code} << 8 | s.qualifier,
                  std::memory_order_release);
  }

 private:
  std::atomic<std::uint32_t> packed_{0};
};

// One per destination, in the order of the destination list. Each field has one writer
// (the destination's writer thread), except bForceQuit, which the interface also sets to
// cancel this destination. The last four fields belong to the interface's verification.
struct BP_WriterRTInfo {
  std::atomic<std::uint32_t> deviceRef{0};
  std::atomic<std::int16_t> phase{kBP_PhaseNone};
  std::atomic<std::uint32_t> sectorsWritten{0};
  std::atomic<std::uint32_t> driveCacheSize{0};
  std::atomic<std::uint16_t> driveCacheUsage{0};
  std::atomic<std::uint16_t> actualBurnSpeed{0};  // requested before the run, accepted during it
  std::atomic<bool> bForceQuit{false};
  std::atomic<std::uint16_t> mediaProfile{0};
  std::atomic<std::int32_t> errorCode{0};
  BP_SenseField curSense;
  std::atomic<bool> bWriteThreadDone{false};
  std::atomic<std::uint32_t> verifyResult{0};
  std::atomic<std::uint32_t> currentProcessNodeRef{0};
  std::atomic<std::uint32_t> startVerifyLBA{0};
  std::atomic<std::uint32_t> totalVerifyBlks{0};
};

// The progress record a job shares with the interface; valid from BP_Create to BP_Delete.
// During a run the interface writes only bStop and the writers' bForceQuit (and logFile
// before the run); the job has finished when bStop, bReadDone and every started writer's
// bWriteThreadDone are set (BP_RunFinished).
struct BP_RuntimeSharedData {
  std::atomic<std::uint32_t> totalBlocks{0};
  std::atomic<std::uint32_t> appCacheSize{0};   // KB; before the run, the wished size
  std::atomic<std::uint16_t> appCacheUsage{0};  // percent
  std::atomic<bool> bStop{false};
  std::atomic<std::FILE*> logFile{nullptr};           // the open burn log, or null for no log lines
  std::atomic<std::uint32_t> verifyType{0};           // 0 none, 1 block range, 2 file by file
  std::atomic<FS_FileLocList*> fileLocList{nullptr};  // owned by the job
  std::atomic<std::uint32_t> blocksRead{0};
  std::atomic<bool> bReadDone{false};
  std::atomic<std::int32_t> readErrorCode{0};
  BP_SenseField readSense;
  std::atomic<std::uint16_t> numDrives{0};
  std::atomic<std::uint16_t> numWriters{0};
  BP_WriterRTInfo* const writers;  // numDrives records

  explicit BP_RuntimeSharedData(BP_WriterRTInfo* records) : writers(records) {}
  BP_RuntimeSharedData(const BP_RuntimeSharedData&) = delete;
  BP_RuntimeSharedData& operator=(const BP_RuntimeSharedData&) = delete;
};

// The routine a created thread runs, with the user data it was given.
using BP_ThreadRoutine = void (*)(std::uint32_t userData);
// Starts `routine(userData)` on a new thread and returns at once: non-zero when the thread
// was started, 0 when it could not be. For the reader the user data is the job handle; for
// a writer it is a handle naming {job, destination} that the writer releases as its first
// act. The flag and the shared record are for the callback's own use.
using BP_ThreadCreatorProc = std::int32_t (*)(std::int16_t flag, BP_ThreadRoutine routine,
                                              BP_RuntimeSharedData* shared, std::uint32_t userData);
// The error, progress and insert-blank-disc callbacks are stored and never called: all
// progress and every error reach the interface through the shared record.
using BP_StoredProc = void (*)();

// A copy of a job's settings, for the interface and for tests.
struct BP_JobSettings {
  BP_JobCode jobCode;
  bool prepared;
  std::uint32_t srcDevice;
  std::uint16_t dstCount;          // destinations kept, even when more than the job's drive count
  std::uint32_t firstDestination;  // 0 without a list
  char srcImagePath[4096];         // empty when not set
  std::uint32_t srcImageKind;
  std::uint32_t srcImageBlocks;
  char dstImagePath[4096];
  std::uint32_t dstImageType;
  bool writeCDText;
  std::uint32_t cdTextLength;  // of the lead-in CD-Text block
  std::uint8_t audioCDText[800];
  bool sao;
  bool closeDisc;
  bool burnProof;
  std::int32_t burnProofType;
  bool simulate;
  bool eraseBeforeBurn[2];
  bool iso9660XA;
  bool appleExtensions;
  std::uint16_t dataDiscFormat;
  bool ejectSrcAfterRead;
  bool writeImageTrackByTrack;
  bool createMenu4VCD;
  bool dvdPlusRWFullErase;
  std::uint32_t dvdPlusRWEraseBlocks;
  std::uint32_t dvdPlusRWUsedBlocks;
  FS_Tree* dataTree;
  FS_List* trackList;
  BP_StoredProc errorCallback;
  BP_StoredProc progressCallback;
  BP_StoredProc insertBlankDiscCallback;
  BP_ThreadCreatorProc threadCreator;
};

// Creates a job; 0 when `shared` is null or memory runs out (*shared is then null).
BP_JobRef BP_Create(BP_JobCode code, BP_RuntimeSharedData** shared, std::uint16_t driveCount);
// Frees the job and everything it owns (never the data tree or the track list). Always 0.
// Asked while the job's threads still run, it stops them first; they finish on their own.
[[nodiscard]] EngineStatus BP_Delete(BP_JobRef job);
// Builds the job's producers and reports its size: *blocks for a drive or an ISO image
// (the blocks the destination needs), bytes[0..1] (low word first) for the native image.
// Either output may be null. A job that has been started is refused (-1124).
[[nodiscard]] EngineStatus BP_PrepareBurn(BP_JobRef job, std::uint32_t* blocks,
                                          std::uint32_t* bytes);
// Starts the job and returns at once; the outcome arrives in the shared record. A job that
// is not prepared is prepared first, and when that fails its status is returned and no
// thread is started.
[[nodiscard]] EngineStatus BP_Burn(BP_JobRef job);

// kErrNoJob for an unknown handle, kErrBadArgument for a null output.
[[nodiscard]] EngineStatus BP_GetJobSettings(BP_JobRef job, BP_JobSettings* out);

// ---- setters ----
// Before the run only: a job that has been started refuses them all (-1124).
[[nodiscard]] EngineStatus BP_SetSrcImageFilePath(BP_JobRef job, const char* path,
                                                  std::uint32_t kind, std::uint32_t blocks);
[[nodiscard]] EngineStatus BP_SetDstImageFilePath(BP_JobRef job, const char* path,
                                                  std::uint32_t type);
[[nodiscard]] EngineStatus BP_SetSrcDevice(BP_JobRef job, std::uint32_t ref);
// Takes ownership of `refs`, which must come from malloc: the job frees it, and so does an
// unknown job at once. Count 0 or above the job's drive count answers -1001 but the array
// is kept all the same.
[[nodiscard]] EngineStatus BP_SetDstDriveList(BP_JobRef job, std::uint32_t* refs,
                                              std::uint16_t count);
[[nodiscard]] EngineStatus BP_SetDstDevice(BP_JobRef job, std::uint32_t ref);
[[nodiscard]] EngineStatus BP_SetDataTree(BP_JobRef job, FS_Tree* tree);
[[nodiscard]] EngineStatus BP_SetAudioList(BP_JobRef job, FS_List* list);
[[nodiscard]] EngineStatus BP_SetVideoList(BP_JobRef job, FS_List* list);
[[nodiscard]] EngineStatus BP_SetWriteSpeed(BP_JobRef job, std::uint32_t ref, std::uint16_t speed);
[[nodiscard]] EngineStatus BP_SetBurnProof(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetSimulate(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetEraseBeforeBurn(BP_JobRef job, bool erase, bool second);
[[nodiscard]] EngineStatus BP_SetCloseDisc(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetCDTextInfo(BP_JobRef job, const std::uint8_t* bytes,
                                            std::uint32_t length);
[[nodiscard]] EngineStatus BP_SetDataDiscFormat(BP_JobRef job, std::uint16_t format);
[[nodiscard]] EngineStatus BP_SetSAO(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetErrorCallback(BP_JobRef job, BP_StoredProc proc);
[[nodiscard]] EngineStatus BP_SetProgressCallback(BP_JobRef job, BP_StoredProc proc);
[[nodiscard]] EngineStatus BP_SetInsertBlankDiscCallback(BP_JobRef job, BP_StoredProc proc);
[[nodiscard]] EngineStatus BP_SetThreadCreatorCallback(BP_JobRef job, BP_ThreadCreatorProc proc);
[[nodiscard]] EngineStatus BP_SetExpectCacheSize(BP_JobRef job, std::uint32_t kilobytes);
[[nodiscard]] EngineStatus BP_SetISO9660_XA(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetISO9660_AppendAppleExt(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetDiscAudio_CDText(BP_JobRef job, const std::uint8_t* block800);
[[nodiscard]] EngineStatus BP_SetEncodeCDText(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetEjectSrcAfterFinishRead(BP_JobRef job, bool on);
[[nodiscard]] EngineStatus BP_SetBurnProofType(BP_JobRef job, std::int32_t type);
[[nodiscard]] EngineStatus BP_SetDVDPlusRWUsedBlocks(BP_JobRef job, std::uint32_t blocks);
[[nodiscard]] EngineStatus BP_SetDVDPlusRWEraseType(BP_JobRef job, bool fullErase,
                                                    std::uint32_t blocks);
[[nodiscard]] EngineStatus BP_SetVerifyType(BP_JobRef job, std::uint32_t type);
[[nodiscard]] EngineStatus BP_SetCreateMenu4VCD(BP_JobRef job, bool on);

// True once bStop is set and the reader and every writer have ended: the job's threads
// have done their work and written their last field, and BP_Delete may follow.
bool BP_RunFinished(const BP_RuntimeSharedData* shared);
