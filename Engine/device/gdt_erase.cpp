// SPDX-License-Identifier: GPL-2.0-or-later
// GDT_Erase: a disc the drive blanks is erased here on the calling thread; a disc written
// anywhere is written over by a quick-erase burn job, whose end is waited for and whose
// result is the answer. Both end in the same erase routine.
#include <chrono>

#include "device/command_timeouts.h"
#include "device/disc_erase.h"
#include "device/gdt_support.h"
#include "device/medium_profile.h"
#include "quillion/BP.h"
#include "quillion/GDT.h"
#include "quillion/clock.h"

using namespace quillion;

namespace {

constexpr std::chrono::seconds kJobPollInterval{2};

void showProgress(const GDT_EraseController* c, std::uint32_t done, std::uint32_t total) {
  if (c && c->progress) c->progress(c->userData, done, total);
}

bool eraseCancelled(const GDT_EraseController* c) {
  return c && c->cancel && c->cancel->load();
}

// Runs a quick-erase job on the drive and waits for its writer; its status and sense are the
// answer. The job is deleted whatever happens.
EngineStatus eraseThroughJob(std::uint32_t ref, bool quick, const GDT_EraseController& c,
                             MMC_SenseData* sense) {
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(static_cast<BP_JobCode>(kBP_KindQuickErase), &shared, 1);
  if (job == 0 || !shared) return kErrOutOfMemory;
  EngineStatus status = BP_SetDstDevice(job, ref);
  if (status == kNoErr)
    status = BP_SetDVDPlusRWEraseType(job, !quick, quick ? kQuickEraseBlocks : 0);
  if (status == kNoErr) status = BP_SetThreadCreatorCallback(job, c.threadCreator);
  if (status == kNoErr) status = BP_Burn(job);
  if (status == kNoErr) {
    BP_WriterRTInfo& writer = shared->writers[0];
    while (!writer.bWriteThreadDone) {
      if (eraseCancelled(&c)) shared->bStop = true;
      showProgress(&c, writer.sectorsWritten, shared->totalBlocks);
      engineClock().sleepFor(kJobPollInterval, &writer.bWriteThreadDone);
    }
    showProgress(&c, writer.sectorsWritten, shared->totalBlocks);
    status = static_cast<EngineStatus>(writer.errorCode.load());
    if (sense) *sense = writer.curSense.load();
  }
  (void)BP_Delete(job);
  return status;
}

}  // namespace

EngineStatus GDT_Erase(std::uint32_t ref, std::uint8_t blankByte,
                       const GDT_EraseController* controller, MMC_SenseData* sense) {
  if (!gdt::namesDrive(ref)) return kErrBadArgument;
  if (DC_MacX_IsPureReader(ref)) return kNoErr;
  if (sense) *sense = {};
  if (const EngineStatus s = gdt::waitDeviceReady(ref, kReadyTriesForQuery, false); s != kNoErr) {
    (void)MMC_TestUnitReady(ref, sense);  // the sense of why the drive is not ready
    return s;
  }
  std::uint16_t writeSet = 0;
  (void)MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 0xFFFF, &writeSet);
  const std::uint16_t profile = currentProfile(ref);

  EngineStatus status = kNoErr;
  if (eraseMethodOf(profile) == EraseMethod::Overwrite) {
    if (!controller || !controller->threadCreator) return kErrBadArgument;
    status = eraseThroughJob(ref, (blankByte & 0x07) == kBlankMinimal, *controller, sense);
  } else {
    EraseObserver observer;
    observer.progress = [controller](std::uint32_t done, std::uint32_t total) {
      showProgress(controller, done, total);
    };
    status = eraseDisc(ref, profile, EraseRequest{blankByte, 0}, observer, sense);
  }
  gdt::refreshMediumView(ref);
  return status;
}
