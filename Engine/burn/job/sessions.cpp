// SPDX-License-Identifier: GPL-2.0-or-later
// Sessions by kind, and the sizes a prepared job reports.
#include "burn/job/sessions.h"

#include <algorithm>

#include "burn/job/burn_job.h"
#include "burn/job/drive_start.h"
#include "burn/job/job_log.h"
#include "burn/job/prepare_audio.h"
#include "burn/job/prepare_copy.h"
#include "image/cd_image_file.h"
#include "burn/job/prepare_erase.h"
#include "image/wlt_format.h"

namespace quillion::burn {
namespace {

// The gap between the two sessions of a CD Extra disc.
constexpr std::uint32_t kCDExtraSessionGap = 11'400;
constexpr std::uint32_t kMaxCacheWishKB = 81'920;

std::uint32_t trackKB(const Track& t) {
  return static_cast<std::uint32_t>(std::uint64_t{t.blocks} * t.blockSize / 1024);
}

// The wished cache need not be larger than what one pass of the writer takes whole.
void limitCacheWish(BurnJob& job) {
  std::uint32_t largest = 0;
  for (const Session& s : job.sessions) {
    std::uint32_t sessionKB = 0;
    for (const Track& t : s.tracks) {
      sessionKB += trackKB(t);
      if (!job.options.sao) largest = std::max(largest, trackKB(t));
    }
    if (job.options.sao) largest = std::max(largest, sessionKB);
  }
  const std::uint32_t wish = job.shared.appCacheSize;
  job.shared.appCacheSize = std::min({wish, largest, kMaxCacheWishKB});
}

// The destination blocks of one session's tracks: 2 run-out blocks after each, and the
// pregap of every track but the first.
std::uint32_t sessionDeviceBlocks(const Session& s) {
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < s.tracks.size(); ++i)
    total += s.tracks[i].blocks + 2 + (i > 0 ? s.tracks[i].pregap : 0);
  return total;
}

// A native image receives the tracks one by one, each at its own address: numbered from 0
// across the sessions, the first at its session's start and each further one after the
// run-out of the one before and its gap.
void placeTracksForNativeImage(BurnJob& job) {
  std::uint16_t number = 0;
  for (Session& s : job.sessions) {
    const Track* previous = nullptr;
    for (Track& t : s.tracks) {
      t.number = number++;
      if (!previous) {
        t.start = s.start;
      } else {
        if (!t.data && previous->data) t.pregap = 150;
        const std::uint32_t gap = t.data ? (previous->data ? 150 : 0) : t.pregap;
        t.start = previous->start + previous->blocks + 2 + gap;
      }
      previous = &t;
    }
  }
}

// The preparation of each kind; a kind without a row is not prepared by this build (Video
// CD among them), and its job fails.
struct KindRow {
  std::uint8_t kind;
  KindPreparer prepare;
};
constexpr KindRow kKindRows[] = {
    {kBP_KindData, prepareDataSession},
    {kBP_KindMP3CD, prepareDataSession},
    {kBP_KindAudio, prepareAudioSessions},
    {kBP_KindAudioPlain, prepareAudioSessions},
    {kBP_KindMixedMode, prepareMixedModeSessions},
    {kBP_KindCDExtra, prepareCDExtraSessions},
    {kBP_KindDeviceCopy, prepareCopySessions},
};

}  // namespace

Session& appendNewSession(BurnJob& job, std::uint8_t format) {
  Session& s = job.sessions.emplace_back();
  s.number = static_cast<std::uint16_t>(job.sessions.size());
  s.format = format;
  return s;
}

EngineStatus prepareSessions(BurnJob& job) {
  job.sessions.clear();
  job.srcImage.reset();  // after the producers that read it
  job.shared.fileLocList = nullptr;
  job.fileLocList.reset();
  // An erase writes no layout: no track numbers, no cache, no image addresses.
  if (job.kind() == kBP_KindQuickErase) return prepareEraseSession(job);
  const auto row = std::ranges::find(kKindRows, job.kind(), &KindRow::kind);
  if (row == std::end(kKindRows)) return kErrPrepareFailed;
  // A copy numbers its tracks as its source does.
  std::uint16_t nextTrackNumber = job.kind() == kBP_KindDeviceCopy ? 0 : firstTrackNumber(job);
  if (const EngineStatus s = row->prepare(job, nextTrackNumber); s != kNoErr) return s;
  // A copy keeps its source's addresses.
  if (job.firstDestination() == kBP_NativeImageWriter && job.kind() != kBP_KindDeviceCopy)
    placeTracksForNativeImage(job);
  limitCacheWish(job);
  return kNoErr;
}

std::uint64_t nativeImageBytes(const BurnJob& job) {
  if (job.sessions.empty()) return 0;
  std::uint64_t total = kWltHeaderBytes + job.cdText.size();
  for (const Session& s : job.sessions)
    for (const Track& t : s.tracks) total += std::uint64_t{t.blocks} * t.blockSize;
  return total;
}

std::uint32_t deviceBlocksNeeded(const BurnJob& job) {
  const std::uint32_t first = job.firstDestination();
  if (job.sessions.empty() || first == 0 || first == kBP_NativeImageWriter) return 0;
  if (job.kind() == kBP_KindDeviceCopy) {
    const Session& last = job.sessions.back();
    return last.start + last.blocks + 2;
  }
  std::uint32_t total = sessionDeviceBlocks(job.sessions.front());
  if (job.kind() == kBP_KindCDExtra && job.sessions.size() > 1)
    total += kCDExtraSessionGap + sessionDeviceBlocks(job.sessions[1]);
  return total;
}

}  // namespace quillion::burn
