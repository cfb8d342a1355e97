// SPDX-License-Identifier: GPL-2.0-or-later
// Preparation of the jobs that carry audio tracks: audio CDs, mixed mode (a data track, then
// the audio) and CD Extra (the audio, then a data session), and their lead-in CD-Text.
#pragma once

#include <cstdint>

#include "quillion/status.h"

namespace quillion::burn {

class BurnJob;

// One audio track per node of the job's track list, at the end of the last session. A track
// whose producer cannot be made fails the preparation (kErrPrepareFailed): left out, it would
// make a disc without it that reports success.
[[nodiscard]] EngineStatus appendAudioDPM(BurnJob& job, std::uint16_t& nextTrackNumber);

// The sessions of kinds 2 and 12, 3 and 4.
[[nodiscard]] EngineStatus prepareAudioSessions(BurnJob& job, std::uint16_t& nextTrackNumber);
[[nodiscard]] EngineStatus prepareMixedModeSessions(BurnJob& job, std::uint16_t& nextTrackNumber);
[[nodiscard]] EngineStatus prepareCDExtraSessions(BurnJob& job, std::uint16_t& nextTrackNumber);

// The job's lead-in CD-Text block from its texts; a first data track gets "-" texts.
void generateCDTEXTRawData(BurnJob& job, bool firstTrackIsData);

// The blocks of audio before a track at `pause` seconds (the node's setting; -1: not set,
// which means the usual two seconds). kErrBadArgument for a pause the pregap field cannot hold.
[[nodiscard]] EngineStatus pauseBlocks(std::int16_t pause, std::uint16_t& blocks);

}  // namespace quillion::burn
