// SPDX-License-Identifier: GPL-2.0-or-later
// The sessions and tracks a prepared job writes, and the sizes they add up to.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "DPMs/base/dpm_base.h"
#include "quillion/status.h"

namespace quillion::burn {

class BurnJob;

struct Track {
  std::uint16_t number = 0;
  std::int16_t mode = 0;  // block mode code: 0 audio, 8 Mode 1, 10 Mode 2 Form 1, ...
  std::uint16_t blockSize = 0;
  std::uint16_t pregap = 0;
  bool data = false;
  std::uint32_t start = 0;
  std::uint32_t blocks = 0;
  std::uint32_t dataDiscFormat = 0;
  std::unique_ptr<DPM_Base> producer;
};

// One producer of a session written at once, with the blocks it is to deliver.
struct SaoItem {
  DPM_Base* producer = nullptr;
  std::uint32_t blocks = 0;
};

struct Session {
  std::uint16_t number = 0;
  std::uint8_t format = 0;  // 00h, 10h or 20h (Mode 2 data)
  std::uint32_t blocks = 0;
  std::vector<Track> tracks;
  std::uint32_t start = 0;
  std::uint32_t leadOut = 0xFFFFFFFFu;
  // Session at once on a CD: the drive's cue sheet, and every block from the first pregap to
  // the last track's end in disc order, the tracks' producers and the gaps between them.
  std::vector<std::uint8_t> cueSheet;
  std::vector<SaoItem> saoList;
  std::vector<std::unique_ptr<DPM_Base>> saoGaps;  // the gap producers of saoList
};

// What the reader delivers for a session: its SAO list when it has one, else its tracks.
std::vector<SaoItem> readingOrder(const Session& session);

// Checks, forced options, log line, sessions and size outputs; call with the job's lock held.
[[nodiscard]] EngineStatus prepareBurn(BurnJob& job, std::uint32_t* blocks, std::uint32_t* bytes);
// Builds the job's sessions for its kind (the list is cleared first).
[[nodiscard]] EngineStatus prepareSessions(BurnJob& job);
// Appends an empty session with the next number and the given format byte.
Session& appendNewSession(BurnJob& job, std::uint8_t format);
// Appends one file-system track of the job's data disc format, starting at `start`, to the
// last session. kErrPrepareFailed when no producer serves the format or the producer
// refused the layout (the burn log says why).
[[nodiscard]] EngineStatus appendDataDPM(BurnJob& job, std::uint32_t start,
                                         std::uint16_t& nextTrackNumber);

// The sessions of one kind of job, built at the end of the job's (empty) session list;
// `nextTrackNumber` is the number the destination's next track gets.
using KindPreparer = EngineStatus (*)(BurnJob& job, std::uint16_t& nextTrackNumber);
// Data and MP3 data: one file-system session where the destination takes it.
[[nodiscard]] EngineStatus prepareDataSession(BurnJob& job, std::uint16_t& nextTrackNumber);
// The native image's size: its header, every track's bytes and the lead-in CD-Text.
std::uint64_t nativeImageBytes(const BurnJob& job);
// The blocks a drive or ISO image destination needs; 0 without sessions or for the native
// image.
std::uint32_t deviceBlocksNeeded(const BurnJob& job);

}  // namespace quillion::burn
