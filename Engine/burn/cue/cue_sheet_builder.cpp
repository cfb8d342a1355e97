// SPDX-License-Identifier: GPL-2.0-or-later
// The three cue sheet builders of session at once: audio sessions, sessions that begin with a
// data track, and copies that keep their source's addresses.
#include "burn/cue/cue_sheet_builder.h"

#include "DPMs/tracks/dpm_blank.h"
#include "burn/job/burn_job.h"

namespace quillion::burn {
namespace {

constexpr std::uint32_t kCuePregapBlocks = 150;
constexpr std::uint32_t kCueRunOutBlocks = 2;
constexpr std::uint32_t kShortestDataTrack = 300;
constexpr std::uint32_t kFramesPerSecond = 75;
constexpr std::uint32_t kSecondsPerMinute = 60;

// One session's cue sheet and SAO list as they are built.
class CueWriter {
 public:
  explicit CueWriter(Session& session) : session_(session) {
    session_.cueSheet.clear();
    session_.saoList.clear();
    session_.saoGaps.clear();
    session_.cueSheet.reserve(2000);
  }

  void entry(std::uint8_t control, std::uint8_t track, std::uint8_t index, std::uint8_t form,
             std::uint32_t time) {
    const std::uint8_t e[kCueEntryBytes] = {
        control,
        track,
        index,
        form,
        0,
        static_cast<std::uint8_t>(time / (kFramesPerSecond * kSecondsPerMinute)),
        static_cast<std::uint8_t>(time / kFramesPerSecond % kSecondsPerMinute),
        static_cast<std::uint8_t>(time % kFramesPerSecond)};
    session_.cueSheet.insert(session_.cueSheet.end(), e, e + kCueEntryBytes);
  }

  // A run of zero blocks; false when it cannot be made.
  bool gap(std::uint32_t blocks, std::uint16_t blockSize) {
    if (blocks == 0) return true;
    if (blockSize == 0) return false;
    auto blank = std::make_unique<DPM_Blank>(blockSize, blocks);
    std::uint16_t size = blockSize;
    if (blank->PrepareAll(&size, nullptr, nullptr) != blocks || size != blockSize) return false;
    session_.saoList.push_back({blank.get(), blocks});
    session_.saoGaps.push_back(std::move(blank));
    total_ += blocks;
    return true;
  }

  void track(const Track& t) {
    session_.saoList.push_back({t.producer.get(), t.blocks});
    total_ += t.blocks;
  }

  EngineStatus finish() {
    session_.blocks = total_;
    return kNoErr;
  }

  // A failed gap leaves no half-built list behind.
  EngineStatus fail() {
    session_.cueSheet.clear();
    session_.saoList.clear();
    session_.saoGaps.clear();
    return kErrOutOfMemory;
  }

 private:
  Session& session_;
  std::uint32_t total_ = 0;
};

bool cueUsable(const Session& s) {
  if (s.tracks.empty()) return false;
  for (const Track& t : s.tracks)
    if (!t.producer) return false;
  return true;
}

std::uint8_t dataTrackForm(const Session& s) {
  return s.format != 0 ? kFormXATrack : kFormMode1Track;
}

std::uint8_t dataLeadForm(const Session& s) {
  return s.format != 0 ? kFormXALeadInOut : kFormMode1LeadInOut;
}

std::uint8_t cueTrackNumber(const Track& t) {
  return static_cast<std::uint8_t>(t.number);
}

}  // namespace

EngineStatus PrepareAudioCDCueSheet(Session& session, bool leadInCDText) {
  if (!cueUsable(session)) return kErrBadArgument;
  CueWriter cue(session);
  std::uint32_t time = session.start;
  cue.entry(kCueAudio, kCueLeadIn, 0, leadInCDText ? kFormLeadInCDText : kFormAudioLeadInOut, time);
  for (const Track& t : session.tracks) {
    if (t.pregap != 0) {
      cue.entry(kCueAudio, cueTrackNumber(t), 0, kFormAudioTrack, time);
      if (!cue.gap(t.pregap, t.blockSize)) return cue.fail();
      time += t.pregap;
    }
    cue.entry(kCueAudio, cueTrackNumber(t), 1, kFormAudioTrack, time);
    cue.track(t);
    time += t.blocks;
  }
  cue.entry(kCueAudio, kCueLeadOut, 1, kFormAudioLeadInOut, time);
  return cue.finish();
}

EngineStatus PrepareDataCDCueSheet(Session& session, bool leadInCDText) {
  if (!cueUsable(session) || !session.tracks.front().data) return kErrBadArgument;
  CueWriter cue(session);
  const Track& first = session.tracks.front();
  const bool several = session.tracks.size() > 1;
  const std::uint32_t pad =
      first.blocks < kShortestDataTrack ? kShortestDataTrack - first.blocks : 0;
  const std::uint32_t gap = several ? kCuePregapBlocks : 0;
  const std::uint8_t leadIn =
      leadInCDText && several && session.number == 1 ? kFormLeadInCDText : dataLeadForm(session);
  const std::uint8_t form = dataTrackForm(session);
  std::uint32_t time = session.start;
  cue.entry(kCueData, kCueLeadIn, 0, leadIn, time);
  cue.entry(kCueData, cueTrackNumber(first), 0, form, time);
  if (!cue.gap(kCuePregapBlocks, first.blockSize)) return cue.fail();
  time += kCuePregapBlocks;
  cue.entry(kCueData, cueTrackNumber(first), 1, form, time);
  cue.track(first);
  if (!cue.gap(pad + gap + kCueRunOutBlocks, first.blockSize)) return cue.fail();
  time += first.blocks + pad + gap + kCueRunOutBlocks;
  for (std::size_t i = 1; i < session.tracks.size(); ++i) {
    const Track& t = session.tracks[i];
    if (t.pregap != 0) {
      cue.entry(kCueAudio, cueTrackNumber(t), 0, kFormAudioTrack, time);
      if (!cue.gap(t.pregap, t.blockSize)) return cue.fail();
      time += t.pregap;
    }
    cue.entry(kCueAudio, cueTrackNumber(t), 1, kFormAudioTrack, time);
    cue.track(t);
    if (!cue.gap(kCueRunOutBlocks, t.blockSize)) return cue.fail();
    time += t.blocks + kCueRunOutBlocks;
  }
  if (several)
    cue.entry(kCueAudio, kCueLeadOut, 1, kFormAudioLeadInOut, time);
  else
    cue.entry(kCueData, kCueLeadOut, 1, dataLeadForm(session), time);
  return cue.finish();
}

EngineStatus PrepareCopyCDCueSheet(Session& session, bool leadInCDText) {
  if (!cueUsable(session)) return kErrBadArgument;
  CueWriter cue(session);
  const Track& first = session.tracks.front();
  std::uint32_t time = session.number == 1 ? 0 : session.start;
  std::uint8_t control = first.data ? kCueData : kCueAudio;
  std::uint8_t leadForm = first.data ? dataLeadForm(session) : kFormAudioLeadInOut;
  if (leadInCDText && session.number == 1) leadForm = kFormLeadInCDText;
  cue.entry(control, kCueLeadIn, 0, leadForm, time);

  const Track* previous = nullptr;
  for (const Track& t : session.tracks) {
    control = t.data ? kCueData : kCueAudio;
    const std::uint8_t form = t.data ? dataTrackForm(session) : kFormAudioTrack;
    const std::uint32_t indexOne = t.start + kCuePregapBlocks;
    if (!previous) {
      const std::uint32_t pregap = kCuePregapBlocks + (session.number == 1 ? t.start : 0);
      cue.entry(control, cueTrackNumber(t), 0, form, time);
      if (!cue.gap(pregap, t.blockSize)) return cue.fail();
      time += pregap;
    } else {
      if (indexOne > time + 1) {
        if (!cue.gap(kCueRunOutBlocks, previous->blockSize)) return cue.fail();
        time += kCueRunOutBlocks;
      }
      if (indexOne > time) {
        cue.entry(control, cueTrackNumber(t), 0, form, time);
        if (!cue.gap(indexOne - time, t.blockSize)) return cue.fail();
        time = indexOne;
      }
    }
    cue.entry(control, cueTrackNumber(t), 1, form, time);
    cue.track(t);
    time += t.blocks;
    previous = &t;
  }
  const std::uint64_t leadOut = std::uint64_t{session.leadOut} + kCuePregapBlocks;
  if (session.leadOut != 0xFFFFFFFFu && leadOut > time) {
    if (!cue.gap(static_cast<std::uint32_t>(leadOut - time), previous->blockSize))
      return cue.fail();
    time = static_cast<std::uint32_t>(leadOut);
  }
  if (previous->data)
    cue.entry(kCueData, kCueLeadOut, 1, dataLeadForm(session), time);
  else
    cue.entry(kCueAudio, kCueLeadOut, 1, kFormAudioLeadInOut, time);
  return cue.finish();
}

std::vector<SaoItem> readingOrder(const Session& session) {
  if (!session.saoList.empty()) return session.saoList;
  std::vector<SaoItem> order;
  for (const Track& t : session.tracks) order.push_back({t.producer.get(), t.blocks});
  return order;
}

CueBuilder cueBuilderFor(const BurnJob& job, const Session& session) {
  const std::uint8_t kind = job.kind();
  if (job.options.srcDevice != 0 || kind == kBP_KindVCDMovie || kind == kBP_KindSVCDMovie)
    return CueBuilder::Copy;
  if (!session.tracks.empty() && session.tracks.front().data) return CueBuilder::Data;
  return CueBuilder::Audio;
}

EngineStatus buildCueSheets(BurnJob& job) {
  const std::uint32_t route = job.route();
  const bool toDrives = route == kBP_RouteLayoutToDrives || route == kBP_RouteImageToDrives ||
                        route == kBP_RouteDriveToDrives;
  bool leadInCDText = !job.cdText.empty() && toDrives;
  for (Session& session : job.sessions) {
    if (session.tracks.empty()) continue;  // nothing to write: the job's size says so
    EngineStatus status = kNoErr;
    switch (cueBuilderFor(job, session)) {
      case CueBuilder::Copy:
        status = PrepareCopyCDCueSheet(session, leadInCDText);
        break;
      case CueBuilder::Data:
        status = PrepareDataCDCueSheet(session, leadInCDText);
        break;
      case CueBuilder::Audio:
        status = PrepareAudioCDCueSheet(session, leadInCDText && session.number == 1);
        break;
    }
    if (status != kNoErr) return status;
    leadInCDText = false;
  }
  return kNoErr;
}

}  // namespace quillion::burn
