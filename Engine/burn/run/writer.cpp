// SPDX-License-Identifier: GPL-2.0-or-later
// A writer thread: its destination's read position of the cache, session by session and
// track by track (or a session at once), into the disc writer; for a drive also the steps
// around the blocks: formats, reservations, padding and the growth of a rewritable disc's
// file system.
#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "burn/job/job_log.h"
#include "burn/run/drive_steps.h"
#include "burn/run/lead_in_text.h"
#include "burn/run/run_common.h"
#include "common/byte_order.h"
#include "device/medium_profile.h"
#include "quillion/CDWriterEx.h"
#include "quillion/MMC.h"
#include "quillion/SCS.h"
#include "quillion/clock.h"

namespace quillion::burn {
namespace {

using namespace std::chrono_literals;

constexpr int kReadyTries = 10;
constexpr int kEndReadyTries = 240;
constexpr int kBufferDrainPolls = 45;
constexpr std::uint16_t kLastCdProfile = 0x0F;
constexpr std::uint16_t kPadBlocksPerCall = 256;

// The media the burn log names; any other is logged as a CD.
constexpr std::uint16_t kLoggedMedia[] = {0x09, 0x0A, 0x11, 0x12, 0x13,
                                          0x14, 0x15, 0x1A, 0x1B, 0x2B};

const char* mediumName(std::uint32_t ref, std::uint16_t profile) {
  if (ref == kBP_ISOImageWriter) return "ISO image file";
  if (ref == kBP_NativeImageWriter) return "CD/DVD image file";
  if (std::ranges::find(kLoggedMedia, profile) == std::end(kLoggedMedia)) return "CD-R/RW";
  return profileOf(profile).name;
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
        drive_(!isImageWriter(ref)),
        profile_(record.mediaProfile),
        trackByTrack_(!drive_ || writesTrackByTrack(job.plan.options, profile_)),
        cdAtOnce_(!trackByTrack_ && profile_ <= kLastCdProfile) {}

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
  // A drive takes a session at once when it is a CD written at once, a sequential DVD-RW or a
  // DVD+R DL; an image always takes its tracks one by one.
  static bool writesTrackByTrack(const JobOptions& o, std::uint16_t profile) {
    if (o.writeImageTrackByTrack) return true;
    const bool atOnce = profile == profiles::kSequentialRw || profile == profiles::kDvdPlusRDl ||
                        (profile <= 0x10 && o.sao);
    return !atOnce;
  }

  bool stopped() const { return shared_.bStop || record_.bForceQuit; }

  // The first failure is the writer's verdict, with the sense of the command that caused it:
  // the commands that close the recording afterwards may be refused too.
  void fail(EngineStatus status, const char* message = nullptr) {
    if (error_ != kNoErr) return;
    error_ = status;
    record_.errorCode = status;
    MMC_SenseData sense{};
    if (context_ && CDWriterEx_GetCurrentSense(context_, &sense) == kNoErr)
      record_.curSense.store(sense);
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
        trackByTrack_ && !o.writeImageTrackByTrack, static_cast<std::uint8_t>(job_.sessions.size()),
        o.closeDisc, o.burnProof, &speedSet, static_cast<std::uint32_t>(o.burnProofType));
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
    if (!cdAtOnce_ || !wanted || session.number != 1 || plan_.cdText.empty()) return nullptr;
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
    const bool atOnce = cdAtOnce_ && !session.cueSheet.empty();
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
    waitReady(kReadyTries);
    if (trackByTrack_) {
      writeTracks(session);
    } else if (atOnce) {
      writeCdAtOnce(session, leadIn.get());
    } else {
      writeSessionAtOnce(session);
    }
    if (stopped() || error_ != kNoErr) dropWriter(job_, record_, ref_);
    record_.phase = kBP_PhaseSessionClosed;
    record_.driveCacheUsage = 0;
    // A session that could not be closed is a failed recording.
    if (const EngineStatus s = CDWriterEx_CloseSession(context_); s != kNoErr) fail(s);
  }

  // TEST UNIT READY until the drive answers, at most `tries` times.
  void waitReady(int tries) const {
    if (drive_) (void)MMC_WaitTestUnitReady(ref_, tries);
  }

  bool reserve(std::uint32_t blocks) {
    if (CDWriterEx_ReserveTrack(context_, blocks) == kNoErr) return true;
    fail(kErrReserveTrack, "\r?? MMC_ReserveTrack() error! Abort write thread!!!\r");
    return false;
  }

  // A CD from its cue sheet: the lead-in CD-Text first, then every block of the cue sheet in
  // its order.
  void writeCdAtOnce(const Session& session, DPM_CDText* leadIn) {
    if (leadIn) {
      if (const EngineStatus s = writeLeadInText(context_, *leadIn, record_.bForceQuit);
          s != kNoErr) {
        fail(s, "\r?? CDWriterEx_WriteCD() error! Abort write thread!!!\r");
        return;
      }
    }
    const std::uint32_t written = writeBlocks(session.blocks, 0, 0);
    if (error_ != kNoErr || stopped() || written < session.blocks) return;
    if (session.number != job_.sessions.size()) drainDriveBuffer();
  }

  void writeTracks(const Session& session) {
    const bool ownAddresses = plan_.options.writeImageTrackByTrack;
    const bool closeDisc = plan_.options.closeDisc;
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
      std::uint32_t pad = 0;
      if (drive_) {
        if (!closeDisc) {
          MMC_SenseData sense{};
          if (const EngineStatus f = quickFormatForTrack(ref_, profile_, track.blocks, &sense);
              f != kNoErr) {
            fail(f, "\r?? The DVD-RW could not be formatted for the track\r");
            record_.curSense.store(sense);  // the drive's verdict on the format itself
            return;
          }
        }
        if (reservesTracks(profile_, closeDisc) &&
            !reserve(reservedBlocks(profile_, track.blocks))) {
          return;
        }
        if (padsTracks(profile_)) pad = reservedBlocks(profile_, track.blocks) - track.blocks;
      }
      const std::uint32_t written = writeBlocks(track.blocks, track.blockSize, pad);
      if (written > 0) {
        if (const EngineStatus c = CDWriterEx_CloseTrack(context_); c != kNoErr) fail(c);
      }
      if (error_ != kNoErr || stopped()) return;
      growVolume(track);
      if (error_ != kNoErr) return;
    }
  }

  // On a rewritable DVD the volume at the start of the disc is made to describe the session
  // just written. Only once its blocks are all on the disc: a run that fails before must
  // leave the disc's old volume as it was.
  void growVolume(const Track& track) {
    const std::uint16_t p = profile_;
    const bool rewritable =
        p == profiles::kRestrictedOverwrite || p == profiles::kDvdPlusRw || p == profiles::kDvdRam;
    if (!drive_ || !rewritable || track.start == 0 || job_.sessions.empty()) return;
    const Session& first = job_.sessions.front();
    if (first.tracks.empty() || !first.tracks.front().producer) return;
    const Track& fileSystem = first.tracks.front();
    if (const EngineStatus s = growFileSystem(ref_, *fileSystem.producer, fileSystem.dataDiscFormat,
                                              first.start, first.blocks);
        s != kNoErr) {
      fail(s, "\r?? The file system at the start of the disc could not be grown\r");
    }
  }

  void writeSessionAtOnce(const Session& session) {
    waitReady(kReadyTries);
    std::uint32_t pad = 0;
    if (drive_ && reservesSessions(profile_, plan_.options.closeDisc)) {
      if (profile_ == profiles::kDvdPlusRDl) (void)engineClock().sleepFor(10s);
      const std::uint32_t reserved = reservedBlocks(profile_, session.blocks);
      if (!reserve(reserved)) return;
      pad = reserved - session.blocks;
    }
    for (std::size_t i = 0; i < session.tracks.size(); ++i) {
      const Track& track = session.tracks[i];
      const bool last = i + 1 == session.tracks.size();
      const std::uint32_t written = writeBlocks(track.blocks, track.blockSize, last ? pad : 0);
      if (error_ != kNoErr || stopped() || written < track.blocks) return;
    }
    const bool lastSession = session.number == job_.sessions.size();
    if (drive_ && profile_ <= kLastCdProfile && !lastSession) drainDriveBuffer();
  }

  // Between the sessions of a CD the drive empties its buffer before the next session opens.
  void drainDriveBuffer() {
    if (MMC_SynchronizeCache(ref_, nullptr) != kNoErr) return;
    for (int poll = 0; poll < kBufferDrainPolls && !record_.bForceQuit; ++poll) {
      std::array<std::uint8_t, 12> caps{};
      if (MMC_GetBufferCaps(ref_, caps.data(), caps.size(), nullptr) != kNoErr) return;
      const std::uint32_t length = be::get32(caps, 4), free = be::get32(caps, 8);
      if (free == length || (poll == 0 && free == 0)) return;
      (void)engineClock().sleepFor(1s);
    }
  }

  // The drive's buffer fill, shown with a single destination: asked of a CD drive or a DVD
  // written at speed 1, else full.
  void showDriveBuffer() {
    if (!single_) return;
    std::int32_t fill = 100;
    if (drive_ && (profile_ < profiles::kDvdMinusR || record_.actualBurnSpeed == 1)) {
      std::array<std::uint8_t, 12> caps{};
      fill = 0;
      if (MMC_GetBufferCaps(ref_, caps.data(), caps.size(), nullptr) == kNoErr) {
        const std::uint32_t length = be::get32(caps, 4), free = be::get32(caps, 8);
        if (length > 0 && free <= length)
          fill = 100 - static_cast<std::int32_t>(std::uint64_t{free} * 100 / length);
      }
    }
    record_.driveCacheUsage = fill;
  }

  // `pad` zero blocks after the data, in as many calls as they take: the shared cache block
  // is never written into, and a pad larger than what follows the data still goes out whole.
  bool writePadding(std::uint32_t pad, std::uint16_t blockSize) {
    static const std::array<std::uint8_t, std::size_t{kPadBlocksPerCall} * 2048> zeros{};
    const std::uint16_t perCall = static_cast<std::uint16_t>(
        std::min<std::size_t>(kPadBlocksPerCall, zeros.size() / blockSize));
    while (pad > 0 && !stopped()) {
      const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(pad, perCall));
      if (const EngineStatus s =
              CDWriterEx_WriteCD(context_, zeros.data(), n, blockSize, &record_.bForceQuit);
          s != kNoErr) {
        fail(s, "\r?? CDWriterEx_WriteCD() error! Abort write thread!!!\r");
        return false;
      }
      pad -= n;
    }
    return pad == 0;
  }

  EngineStatus writeLastWithPadding(const std::uint8_t* data, std::uint32_t n, std::uint32_t pad,
                                   std::uint32_t size) {
    std::vector<std::uint8_t> blocks(std::size_t{n + pad} * size, 0);
    std::copy_n(data, std::size_t{n} * size, blocks.begin());
    return CDWriterEx_WriteCD(context_, blocks.data(), static_cast<std::uint16_t>(n + pad),
                              static_cast<std::uint16_t>(size), &record_.bForceQuit);
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
  // CD session written at once mixes them), then `pad` zero blocks; answers how many of the
  // track's blocks went out.
  std::uint32_t writeBlocks(std::uint32_t blocks, std::uint16_t blockSize, std::uint32_t pad) {
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
      // The track's last data goes out with its padding in one write: media written in whole
      // ECC blocks (a DVD-RW in restricted overwrite) refuse a write that ends inside one.
      const bool withPadding = n == remaining && pad > 0;
      const EngineStatus s = withPadding ? writeLastWithPadding(block.buffer, n, pad, size)
                                         : CDWriterEx_WriteCD(context_, block.buffer,
                                                              static_cast<std::uint16_t>(n),
                                                              static_cast<std::uint16_t>(size),
                                                              &record_.bForceQuit);
      if (withPadding && s == kNoErr) pad = 0;
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
      showDriveBuffer();
    }
    // A cancel stands as the writer's verdict, whatever closing the unfinished track says.
    if (remaining > 0 && stopped()) fail(kErrCancelled);
    if (remaining == 0 && error_ == kNoErr && pad > 0) (void)writePadding(pad, blockSize);
    if (!shared_.bReadDone) job_.cacheReady = false;
    return written;
  }

  void end() {
    if (stopped() || error_ != kNoErr) {
      dropWriter(job_, record_, ref_);
    } else {
      cache_.DeleteDrive(ref_);
    }
    waitReady(kEndReadyTries);
    if (context_) {
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
  const bool drive_;
  const std::uint16_t profile_;
  const bool trackByTrack_;
  const bool cdAtOnce_;  // a CD in a drive, written session at once from its cue sheets
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
