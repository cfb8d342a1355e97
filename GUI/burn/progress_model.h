// SPDX-License-Identifier: GPL-2.0-or-later
// What the progress sheet shows of a running burn, decided from a snapshot of the job's
// shared record. The model keeps its own copies of what it showed (clamped cache fills,
// phase, percent), so the engine's record is only ever read; the window writes nothing into
// it but the cancel flags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillion/BP.h"
#include "quillion/MMC.h"

namespace quillion {

// One reading of the shared record.
struct RunSnapshot {
  struct Writer {
    std::int16_t phase = 0;
    std::uint32_t sectorsWritten = 0;
    std::uint16_t driveCacheUsage = 0;
    std::uint16_t actualBurnSpeed = 0;
    std::int32_t errorCode = 0;
    MMC_SenseData sense{};
    bool done = false;
  };
  std::uint32_t totalBlocks = 0;
  std::uint32_t cacheSizeKB = 0;
  std::uint16_t appCacheUsage = 0;
  bool stop = false;
  bool readDone = false;
  std::int32_t readError = 0;
  MMC_SenseData readSense{};
  std::vector<Writer> writers;  // the writers the run started

  // The job has ended: stopped, the reader and every writer done.
  bool finished() const;
  // The first failure of the run: a writer's error, else the reader's; 0 when none.
  std::int32_t failureCode() const;
  MMC_SenseData failureSense() const;
};

RunSnapshot snapshotOf(const BP_RuntimeSharedData& shared);

// A duration as minutes, a colon and two-digit seconds: 125 gives "2:05". Negative
// durations count as their absolute value.
std::string secondsToTimeString(std::int64_t seconds);

// Percent of `written` over `total` in 64 bits, at most 100; 0 for a total of 0.
int percentOf(std::uint64_t written, std::uint64_t total);

// Burn results, as the result sheet and the burn log know them.
enum BurnResultCode : int { kResultCompleted = 0, kResultCancelled = 1, kResultError = 2 };

// A cache-fill bar that does not flicker near full: 90 % and more shows as full, and once it
// shows full it stays full until the fill drops below 90 %.
class CacheBarFilter {
 public:
  // The value the bar shows after `usage`; nullopt when the bar stays as it is.
  std::optional<int> feed(std::uint16_t usage);
  void reset() { recorded_ = shown_ = 0; }
  int shown() const { return shown_; }

 private:
  int recorded_ = 0;
  int shown_ = 0;
};

// Phase texts ("GUIMsgs" keys).
const char* phaseKey(std::int16_t phase, bool simulating);

// One tick of the progress sheet: each field is set only when the sheet must change.
struct ProgressUpdate {
  std::optional<int> completed;  // the run ended: its result
  const char* phaseText = nullptr;
  std::optional<std::uint32_t> cacheMB;
  std::optional<int> driveCacheBar;
  std::optional<int> appCacheBar;
  std::optional<std::int64_t> elapsedSeconds;
  std::optional<int> percent;
  std::optional<std::uint16_t> speed;
};

class ProgressModel {
 public:
  // `showLiveSpeed`: the destination reports its speed as it goes (the ISO image writer).
  void reset(bool simulating, bool showLiveSpeed);
  ProgressUpdate tick(const RunSnapshot& s, std::int64_t elapsedSeconds);
  int percent() const { return percent_; }

 private:
  bool simulating_ = false;
  bool showLiveSpeed_ = false;
  std::int16_t phase_ = -1;
  std::optional<std::uint32_t> cacheMB_;
  CacheBarFilter drive_;
  CacheBarFilter app_;
  std::optional<std::int64_t> elapsed_;
  int percent_ = 0;
  std::optional<std::uint16_t> speed_;
};

}  // namespace quillion
