// SPDX-License-Identifier: GPL-2.0-or-later
// Preparation of disc and image copies: the sessions and tracks of a native, raw or bin/cue
// image, or of a source drive's disc, each track read by its own producer; and the lead-in
// CD-Text a copy takes from its source.
#pragma once

#include <cstdint>
#include <span>

#include "quillion/status.h"

namespace quillion::burn {

class BurnJob;
struct Session;

// Kind 10. kErrPrepareFailed when the source cannot be read or described.
[[nodiscard]] EngineStatus prepareCopySessions(BurnJob& job, std::uint16_t& nextTrackNumber);
[[nodiscard]] EngineStatus prepareSessionTAODequeByImageFile(BurnJob& job);
[[nodiscard]] EngineStatus prepareSessionTAODequeByMMC(std::uint32_t sourceDrive, BurnJob& job);

// Track at once keeps no gaps of its own: every track but a session's last ends 152 blocks
// before the next (2 run-out and 150 pregap blocks) when it is data, or before the next
// track's pregap and 2 run-out blocks when it is audio; the last ends 2 blocks before the
// lead-out. The producers and the sessions' blocks follow.
void adjustToTAOCDCopy(BurnJob& job);

// A session's lead-out from the full TOC (READ TOC format 2) of its source: point A2 of the
// session, when it lies between the end of its last track and 20 blocks after it.
void applyTocLeadOuts(std::span<const std::uint8_t> toc, std::span<Session> sessions);

// Session at once to a CD from a source drive or image: the source's CD-Text becomes the
// job's lead-in block, and writing CD-Text is switched on when there is any.
void fetchSourceCDText(BurnJob& job);

}  // namespace quillion::burn
