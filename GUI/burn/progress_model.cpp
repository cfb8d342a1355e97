// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/progress_model.h"

#include <algorithm>

namespace quillion {

bool RunSnapshot::finished() const {
  if (!stop || !readDone) return false;
  return std::ranges::all_of(writers, [](const Writer& w) { return w.done; });
}

std::int32_t RunSnapshot::failureCode() const {
  for (const Writer& w : writers)
    if (w.errorCode != 0) return w.errorCode;
  return readError;
}

MMC_SenseData RunSnapshot::failureSense() const {
  for (const Writer& w : writers)
    if (w.errorCode != 0) return w.sense;
  return readSense;
}

RunSnapshot snapshotOf(const BP_RuntimeSharedData& shared) {
  RunSnapshot s;
  s.totalBlocks = shared.totalBlocks;
  s.cacheSizeKB = shared.appCacheSize;
  s.appCacheUsage = shared.appCacheUsage;
  s.stop = shared.bStop;
  s.readDone = shared.bReadDone;
  s.readError = shared.readErrorCode;
  s.readSense = shared.readSense.load();
  // The writers the run set up (a writer whose thread could not start is marked done by the
  // engine); the first record alone before the run.
  const std::uint16_t drives = std::max<std::uint16_t>(shared.numDrives, 1);
  const std::uint16_t n = std::clamp<std::uint16_t>(shared.numWriters, 1, drives);
  for (std::uint16_t i = 0; i < n; ++i) {
    const BP_WriterRTInfo& w = shared.writers[i];
    s.writers.push_back({w.phase, w.sectorsWritten, w.driveCacheUsage, w.actualBurnSpeed,
                         w.errorCode, w.curSense.load(), w.bWriteThreadDone});
  }
  return s;
}

std::string secondsToTimeString(std::int64_t seconds) {
  const std::uint64_t s =
      seconds < 0 ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
  const std::uint64_t rest = s % 60;
  return std::to_string(s / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

int percentOf(std::uint64_t written, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(written * 100 / total, 100));
}

std::optional<int> CacheBarFilter::feed(std::uint16_t usage) {
  const int value = std::min<int>(usage, 100);
  if (value == recorded_) return std::nullopt;
  if (shown_ == 100 && value >= 90) {
    recorded_ = value;
    return std::nullopt;
  }
  shown_ = value >= 90 ? 100 : value;
  recorded_ = shown_;
  return shown_;
}

const char* phaseKey(std::int16_t phase, bool simulating) {
  switch (phase) {
    case kBP_PhaseWaiting:
      return "Phase Fill Up Cache";
    case kBP_PhaseWriting:
      return simulating ? "Phase Simulating Data" : "Phase Writing Data";
    case kBP_PhaseSessionClosed:
      return "Phase Closing Session";
    default:
      return "Phase Preparing";
  }
}

void ProgressModel::reset(bool simulating, bool showLiveSpeed) {
  *this = ProgressModel{};
  simulating_ = simulating;
  showLiveSpeed_ = showLiveSpeed;
}

ProgressUpdate ProgressModel::tick(const RunSnapshot& s, std::int64_t elapsedSeconds) {
  ProgressUpdate u;
  if (s.finished()) {
    u.completed = s.failureCode() != 0 ? kResultError : kResultCompleted;
    return u;
  }
  const RunSnapshot::Writer first = s.writers.empty() ? RunSnapshot::Writer{} : s.writers[0];
  const bool knownPhase = first.phase >= kBP_PhaseSetUp && first.phase <= kBP_PhaseSessionClosed;
  if (!knownPhase) {
    u.phaseText = phaseKey(kBP_PhaseSetUp, simulating_);
  } else if (first.phase != phase_) {
    phase_ = first.phase;
    u.phaseText = phaseKey(first.phase, simulating_);
  }
  if (const std::uint32_t mb = s.cacheSizeKB / 1024; cacheMB_ != mb) u.cacheMB = cacheMB_ = mb;
  u.driveCacheBar = drive_.feed(first.driveCacheUsage);
  u.appCacheBar = app_.feed(s.appCacheUsage);
  if (elapsed_ != elapsedSeconds) u.elapsedSeconds = elapsed_ = elapsedSeconds;
  if (const int p = percentOf(first.sectorsWritten, s.totalBlocks); p != percent_)
    u.percent = percent_ = p;
  if (showLiveSpeed_ && speed_ != first.actualBurnSpeed) u.speed = speed_ = first.actualBurnSpeed;
  return u;
}

}  // namespace quillion
