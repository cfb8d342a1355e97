// SPDX-License-Identifier: GPL-2.0-or-later
// A writer thread: its destination's read position of the cache, session by session and
// track by track, into the disc writer. The destinations of this build are the two image
// writers; the drive steps (formats, reservations, buffer waits) are not part of it.
#include "burn/job/job_log.h"
#include "burn/run/lead_in_text.h"
#include "burn/run/run_common.h"
#include "device/medium_profile.h"
#include "quillion/CDWriterEx.h"
#include "quillion/MMC.h"
#include "quillion/SCS.h"

namespace quillion::burn {
namespace {

const char* mediumName(std::uint32_t ref, std::uint16_t profile) {
  if (ref == kBP_ISOImageWriter) return "ISO image file";
  if (ref == kBP_NativeImageWriter) return "CD/DVD image file";
  const MediumProfile& medium = profileOf(profile);
  return medium.writable() ? medium.name : "CD-R/RW";
}

class DestinationWriter {
 public:
  DestinationWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t ref)
      : job_(job),
        shared_(job.shared),
        record_(record),
        ref_(ref),
        plan_(job.plan),
        cache_(*job.cache),
        single_(job.plan.destinations.size() == 1),
        sessionAtOnce_(writesSessionAtOnce(job.plan, ref, record.mediaProfile)) {}

  void run() {
    logStart();
    record_.bWriteThreadDone = false;
    if (!record_.bForceQuit && open()) {
      for (const Session& session : job_.sessions) {
        if (stopped() || error_ != kNoErr) break;
        writeSession(session);
      }
    }
    end();
  }

 private:
  // A CD in a drive, written session at once from the cue sheets: each session in one pass.
  static bool writesSessionAtOnce(const RunPlan& plan, std::uint32_t ref, std::uint16_t profile) {
    const bool drive = ref != kBP_NativeImageWriter && ref != kBP_ISOImageWriter;
    return drive && plan.options.sao && !plan.options.writeImageTrackByTrack && profile <= 0x10;
  }

  bool stopped() const { return shared_.bStop || record_.bForceQuit; }

  void fail(EngineStatus status, const char* message = nullptr) {
    if (error_ != kNoErr) return;
    error_ = status;
    record_.errorCode = status;
    if (message) logText(shared_, message);
  }

  void logStart() {
    const JobOptions& o = plan_.options;
    logFormat(shared_,
              "\r=> Write thread start @ %s   Drive Ref : %u\r   Burn Type : %s\r   Media     : "
              "%s\r   Write     : %s\r   Speed     : %ux\r   BUP Status: %s\r",
              logTimeText().c_str(), ref_, o.sao ? "SAO/DAO" : "TAO",
              mediumName(ref_, record_.mediaProfile), o.simulate ? "Simulation" : "Real Write",
              unsigned{record_.actualBurnSpeed}, o.burnProof ? "ON" : "OFF");
  }

  bool open() {
    const JobOptions& o = plan_.options;
    // The reference says which image is written; the path is the job's. An image keeps its
    // tracks itself, so it is given them one by one, each at its own address when it is a
    // native image written track by track.
    const std::uint16_t imageType =
        ref_ == kBP_ISOImageWriter ? kCDWriterEx_IsoImage : kBP_DstNativeImage;
    std::uint16_t speedSet = record_.actualBurnSpeed;
    context_ = CDWriterEx_CreateCD(
        ref_, plan_.dstImagePath.c_str(), imageType, o.simulate, record_.actualBurnSpeed,
        sessionAtOnce_ ? false : !o.writeImageTrackByTrack,
        static_cast<std::uint8_t>(job_.sessions.size()), o.closeDisc, o.burnProof, &speedSet,
        static_cast<std::uint32_t>(o.burnProofType));
    if (!context_) {
      fail(kErrDestinationOpen, "\r?? CDWriterEx_CreateCD() error! Abort write thread!!!\r");
      return false;
    }
    record_.actualBurnSpeed = speedSet;
    return true;
  }

  // The lead-in CD-Text goes into a native image with the first session it belongs to.
  std::pair<const std::uint8_t*, std::uint32_t> cdTextFor(const Session& session) const {
    const JobOptions& o = plan_.options;
    const bool wanted = o.writeCDText || plan_.destinations.size() > 1 ||
                        (session.number == 1 && o.writeImageTrackByTrack);
    if (ref_ != kBP_NativeImageWriter || !wanted || plan_.cdText.empty()) return {nullptr, 0};
    return {plan_.cdText.data(), static_cast<std::uint32_t>(plan_.cdText.size())};
  }

  // A drive's lead-in CD-Text goes with the first session, as a track of its own.
  std::unique_ptr<DPM_CDText> leadInTextFor(const Session& session) const {
    const JobOptions& o = plan_.options;
    const bool wanted = o.writeCDText || plan_.destinations.size() > 1;
    if (!sessionAtOnce_ || !wanted || session.number != 1 || plan_.cdText.empty()) return nullptr;
    return makeLeadInTextTrack(ref_, plan_.cdText);
  }

  void writeSession(const Session& session) {
    record_.phase = kBP_PhaseWaiting;
    auto [cdText, cdTextLength] = cdTextFor(session);
    std::unique_ptr<DPM_CDText> leadIn = leadInTextFor(session);
    auto start = static_cast<std::int32_t>(session.start);
    if (leadIn) {
      cdText = plan_.cdText.data();
      cdTextLength = static_cast<std::uint32_t>(plan_.cdText.size());
      start -= static_cast<std::int32_t>(leadIn->TotalBlocks());
    }
    const bool atOnce = sessionAtOnce_ && !session.cueSheet.empty();
    const std::uint8_t firstMode =
        session.tracks.empty() ? 0 : static_cast<std::uint8_t>(session.tracks.front().mode);
    if (CDWriterEx_CreateSession(context_, session.format, firstMode, start,
                                 atOnce ? session.cueSheet.data() : nullptr,
                                 atOnce ? static_cast<std::uint32_t>(session.cueSheet.size()) : 0,
                                 cdText, cdTextLength) != kNoErr) {
      fail(kErrSessionOpen, "\r?? CDWriterEx_CreateSession() error! Abort write thread!!!\r");
      dropWriter(job_, record_, ref_);
      return;
    }
    record_.phase = kBP_PhaseWriting;
    if (atOnce)
      writeAtOnce(session, leadIn.get());
    else
      writeTracks(session);
    if (stopped() || error_ != kNoErr) dropWriter(job_, record_, ref_);
    record_.phase = kBP_PhaseSessionClosed;
    record_.driveCacheUsage = 0;
    // A session that could not be closed is a failed recording.
    if (const EngineStatus s = CDWriterEx_CloseSession(context_); s != kNoErr) fail(s);
  }

  // The lead-in CD-Text first, then every block of the cue sheet in its order.
  void writeAtOnce(const Session& session, DPM_CDText* leadIn) {
    (void)MMC_WaitTestUnitReady(ref_, 10);
    if (leadIn) {
      if (const EngineStatus s = writeLeadInText(context_, *leadIn, record_.bForceQuit);
          s != kNoErr) {
        fail(s, "\r?? CDWriterEx_WriteCD() error! Abort write thread!!!\r");
        return;
      }
    }
    writeBlocks(session.blocks, 0);
  }

  void writeTracks(const Session& session) {
    const bool ownAddresses = plan_.options.writeImageTrackByTrack;
    for (const Track& track : session.tracks) {
      if (record_.bForceQuit) break;
      const EngineStatus s = CDWriterEx_CreateTrack(
          context_, static_cast<std::uint8_t>(track.number), static_cast<std::uint8_t>(track.mode),
          track.blockSize, track.pregap, nullptr, ownAddresses ? track.start : 0);
      if (s != kNoErr) {
        fail(s, "\r?? CDWriterEx_CreateTrack() error! Abort write thread!!!\r");
        dropWriter(job_, record_, ref_);
        return;
      }
      const std::uint32_t written = writeBlocks(track.blocks, track.blockSize);
      if (written > 0) {
        if (const EngineStatus c = CDWriterEx_CloseTrack(context_); c != kNoErr) fail(c);
      }
      if (error_ != kNoErr || stopped()) return;
    }
  }

  // Waits for this destination's next block; false when the run stopped first.
  bool nextBlock(CacheBlock& block) {
    for (;;) {
      if (stopped()) return false;
      if (shared_.bReadDone) job_.cacheReady = true;
      const std::uint64_t seen = cache_.ChangeCount();
      // A single destination starts with a full cache and, when it ran dry, waits until the
      // cache has filled again, as a drive's buffer wants.
      if (!single_ || job_.cacheReady) {
        if (cache_.Popup_Data(ref_, &block) == kNoErr && block.dataLength > 0) return true;
        job_.cacheReady = false;
      }
      cache_.WaitForChange(seen, kPollInterval);
    }
  }

  // Writes `blocks` blocks of `blockSize` bytes (0: of the sizes the cache blocks carry, as a
  // session written at once mixes them); answers how many went out.
  std::uint32_t writeBlocks(std::uint32_t blocks, std::uint16_t blockSize) {
    std::uint32_t remaining = blocks;
    std::uint32_t written = 0;
    CacheBlock block{};
    while (remaining > 0 && nextBlock(block)) {
      const std::uint32_t size = block.blockSize;
      const std::uint32_t n = size ? block.dataLength / size : 0;
      if (n == 0 || n > remaining || block.dataLength % size != 0 ||
          (blockSize != 0 && size != blockSize)) {
        fail(kErrBadArgument, "\r?? The cache handed out a block of another track\r");
        break;
      }
      const EngineStatus s =
          CDWriterEx_WriteCD(context_, block.buffer, static_cast<std::uint16_t>(n),
                             static_cast<std::uint16_t>(size), &record_.bForceQuit);
      if (s != kNoErr) {
        fail(s, "\r?? CDWriterEx_WriteCD() error! Abort write thread!!!\r");
        break;
      }
      if (stopped()) break;  // the write may have ended early: these blocks do not count
      (void)cache_.Push_Empty(ref_, &block);
      showCacheUsage(job_, 100);
      record_.sectorsWritten += n;
      written += n;
      remaining -= n;
    }
    if (!shared_.bReadDone) job_.cacheReady = false;
    return written;
  }

  void end() {
    if (stopped() || error_ != kNoErr) {
      dropWriter(job_, record_, ref_);
    } else {
      cache_.DeleteDrive(ref_);
    }
    if (context_) {
      if (error_ != kNoErr) {
        MMC_SenseData sense{};
        if (CDWriterEx_GetCurrentSense(context_, &sense) == kNoErr) record_.curSense.store(sense);
      }
      // Closing an image stores its header: a failure here loses the image.
      if (const EngineStatus s = CDWriterEx_CloseCD(context_); s != kNoErr) fail(s);
      context_ = nullptr;
    }
    // Stopped before every block was written, the destination is incomplete: no success.
    if (error_ == kNoErr && record_.sectorsWritten < shared_.totalBlocks) fail(kErrCancelled);
    if (error_ != kNoErr) {
      const MMC_SenseData sense = record_.curSense.load();
      char senseText[kSCS_TextCapacity] = {};
      SCS_GetStringFromSense(&sense, senseText);
      logFormat(shared_,
                "\r=> Write thread finished with ERROR!!! @ %sDrive Ref: %u\rError %d %s\r\r",
                logTimeText().c_str(), ref_, int{error_}, senseText);
    } else {
      logFormat(shared_, "\r=> Write thread finished @ %s   Drive Ref: %u\r\r",
                logTimeText().c_str(), ref_);
    }
    finishWriter(job_, record_, ref_);
  }

  BurnJob& job_;
  BP_RuntimeSharedData& shared_;
  BP_WriterRTInfo& record_;
  const std::uint32_t ref_;
  const RunPlan& plan_;
  MCacheMgr& cache_;
  const bool single_;
  const bool sessionAtOnce_;
  myBurnEng_Pack* context_ = nullptr;
  EngineStatus error_ = kNoErr;
};

}  // namespace

void runWriteInThread(std::uint32_t argument) {
  // The argument's record is released first, whatever follows.
  const std::shared_ptr<WriterArgument> arg = writerArguments().erase(argument);
  if (!arg) return;
  const auto job = findJob(arg->job);
  if (!job) return;  // deleted before its writer began: nothing left to report into
  if (arg->index >= job->numDrives() || !job->cache || arg->destination == 0) {
    if (arg->index < job->numDrives()) {
      BP_WriterRTInfo& record = job->writerRecords[arg->index];
      record.errorCode = kErrDestinationOpen;
      finishWriter(*job, record, arg->destination);
    }
    return;
  }
  DestinationWriter(*job, job->writerRecords[arg->index], arg->destination).run();
}

}  // namespace quillion::burn
