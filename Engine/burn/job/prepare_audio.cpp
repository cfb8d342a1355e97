// SPDX-License-Identifier: GPL-2.0-or-later
// Audio, mixed-mode and CD Extra jobs: their sessions, audio tracks and lead-in CD-Text.
#include "burn/job/prepare_audio.h"

#include <array>
#include <chrono>

#include "DPMs/tracks/dpm_audio.h"
#include "burn/cue/cd_text_block.h"
#include "burn/job/burn_job.h"
#include "burn/job/drive_start.h"
#include "burn/job/sessions.h"
#include "burn/job/job_log.h"
#include "common/byte_order.h"
#include "quillion/AudioNodeInfo.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"

namespace quillion::burn {
namespace {

constexpr std::uint16_t kFirstAudioPregap = 150;
constexpr std::uint16_t kBlocksPerSecond = 75;
// The gap between the audio session of a CD Extra disc and its data session: the first
// session's lead-out, the second's lead-in and its first pregap.
constexpr std::uint32_t kCDExtraDataGap = 11'400;
constexpr std::int16_t kAudioModeCode = 0;

bool isImageDestination(std::uint32_t ref) {
  return ref == kBP_NativeImageWriter || ref == kBP_ISOImageWriter || ref == 0;
}

// The audio session's start: 0 on an image, the next writable address on a drive.
EngineStatus audioSessionStart(const BurnJob& job, std::uint32_t& start) {
  start = 0;
  const std::uint32_t ref = job.firstDestination();
  if (isImageDestination(ref)) return kNoErr;
  const EngineStatus status = nextWritableAddress(job, AddressQuery::AsCd, start);
  if (status != kNoErr)
    logFormat(job.shared, "\r?? No writable address found on Drive Ref: %u\r", ref);
  return status;
}

float nodeGain(const FS_Node* node, float before) {
  const auto* info = node ? static_cast<const AudioNodeInfo*>(node->UsrData()) : nullptr;
  return info && info->gain != 0.0f ? info->gain : before;
}

bool cdTextWanted(const BurnJob& job, std::uint32_t start) {
  if (!job.options.writeCDText) return false;
  return (job.options.sao && start == 0) || job.firstDestination() == kBP_NativeImageWriter;
}

bool cdTextWantedWithData(const BurnJob& job) {
  return job.options.writeCDText &&
         (job.options.sao || job.firstDestination() == kBP_NativeImageWriter);
}

}  // namespace

EngineStatus pauseBlocks(std::int16_t pause, std::uint16_t& blocks) {
  if (pause == -1) {
    blocks = kFirstAudioPregap;
    return kNoErr;
  }
  if (pause < 0 || pause > 0xFFFF / kBlocksPerSecond) return kErrBadArgument;
  blocks = static_cast<std::uint16_t>(pause * kBlocksPerSecond);
  return kNoErr;
}

EngineStatus appendAudioDPM(BurnJob& job, std::uint16_t& nextTrackNumber) {
  logText(job.shared, "\r---- Append Audio Track(s) ----");
  FS_List* list = job.options.trackList;
  if (!list || list->SizeOfList() == 0) {
    logText(job.shared, "\r?? The audio layout has no tracks\r");
    return kErrPrepareFailed;
  }
  Session& session = job.sessions.back();
  float gain = 1.0f;
  for (std::uint32_t i = 0; i < list->SizeOfList(); ++i) {
    FS_Node* node = list->NodeAtIdx(i);
    gain = nodeGain(node, gain);
    const std::string path = node ? node->GetFullPathName() : std::string();
    auto producer = std::make_unique<DPM_Audio_Base>(path, gain);
    std::uint16_t blockSize = 0;
    const std::uint32_t blocks = producer->PrepareAll(&blockSize, nullptr, nullptr);
    if (blocks == 0) {
      logFormat(job.shared, "\r?? The audio track cannot be made: %s (%d)\r", path.c_str(),
                int{producer->OpenStatus()});
      return kErrPrepareFailed;
    }
    Track track;
    track.number = nextTrackNumber++;
    track.mode = kAudioModeCode;
    track.blockSize = blockSize;
    const bool firstOfJob = job.sessions.size() == 1 && session.tracks.empty();
    track.pregap = kFirstAudioPregap;
    if (!firstOfJob && pauseBlocks(GetPauseLength(node), track.pregap) != kNoErr) {
      logFormat(job.shared, "\r?? The pause before %s is too long\r", path.c_str());
      return kErrPrepareFailed;
    }
    track.blocks = blocks;
    track.producer = std::move(producer);
    session.tracks.push_back(std::move(track));
    session.blocks += blocks;
    const std::uint32_t seconds = blocks / kBlocksPerSecond;
    logFormat(job.shared, "\r%2u: %2u:%2u:%2u[%6u], %s", unsigned{session.tracks.back().number},
              seconds / 60, seconds % 60, blocks % kBlocksPerSecond, blocks, "Audio");
  }
  return kNoErr;
}

void generateCDTEXTRawData(BurnJob& job, bool firstTrackIsData) {
  const auto* text = reinterpret_cast<const AudioCDText*>(job.audioCDText.data());
  std::uint32_t length = 0;
  std::uint8_t* block =
      CreateCDTextData(kCDTextEnglish, job.options.trackList, text->cdTextTitle,
                       text->cdTextPerformer, text->cdTextSongwriter, text->cdTextComposer,
                       text->cdTextArranger, &length, firstTrackIsData ? 1 : 0);
  job.cdText.assign(block, block + length);
  std::free(block);
}

EngineStatus prepareAudioSessions(BurnJob& job, std::uint16_t& number) {
  std::uint32_t start = 0;
  if (const EngineStatus s = audioSessionStart(job, start); s != kNoErr) return s;
  Session& session = appendNewSession(job, 0x00);
  session.start = start;
  if (const EngineStatus s = appendAudioDPM(job, number); s != kNoErr) return s;
  if (cdTextWanted(job, start)) generateCDTEXTRawData(job, false);
  return kNoErr;
}

EngineStatus prepareMixedModeSessions(BurnJob& job, std::uint16_t& number) {
  appendNewSession(job, 0x00);
  if (const EngineStatus s = appendDataDPM(job, 0, number); s != kNoErr) return s;
  if (const EngineStatus s = appendAudioDPM(job, number); s != kNoErr) return s;
  if (cdTextWantedWithData(job)) generateCDTEXTRawData(job, true);
  return kNoErr;
}

EngineStatus prepareCDExtraSessions(BurnJob& job, std::uint16_t& number) {
  appendNewSession(job, 0x20);
  if (const EngineStatus s = appendAudioDPM(job, number); s != kNoErr) return s;
  std::uint32_t audio = 0;
  const Session& first = job.sessions.front();
  for (std::size_t i = 0; i < first.tracks.size(); ++i)
    audio += first.tracks[i].blocks + (i > 0 ? first.tracks[i].pregap : 0);
  appendNewSession(job, 0x20);
  if (const EngineStatus s = appendDataDPM(job, audio + kCDExtraDataGap, number); s != kNoErr)
    return s;
  if (cdTextWantedWithData(job)) generateCDTEXTRawData(job, false);
  return kNoErr;
}

}  // namespace quillion::burn
