// SPDX-License-Identifier: GPL-2.0-or-later
// The lead-in CD-Text track of a CD written session at once: the raw packs repeated over every
// block of the lead-in, written before the session's first pregap.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "DPMs/tracks/dpm_cdtext.h"
#include "quillion/CDWriterEx.h"

namespace quillion::burn {

// The track for the drive's disc: as long as the lead-in READ DISC INFORMATION gives the start
// of, on an empty disc only; null when the disc is not empty, the drive cannot say, or there
// are no packs.
std::unique_ptr<DPM_CDText> makeLeadInTextTrack(std::uint32_t ref,
                                                std::span<const std::uint8_t> rawPacks);

// Writes every block of the track; a refused write answers its status.
[[nodiscard]] EngineStatus writeLeadInText(myBurnEng_Pack* context, DPM_CDText& track,
                                           const std::atomic<bool>& stop);

}  // namespace quillion::burn
