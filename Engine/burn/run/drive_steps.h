// SPDX-License-Identifier: GPL-2.0-or-later
// What a writer does to a drive besides handing it blocks: which medium wants its tracks
// reserved or padded, a DVD-RW's quick format before a track, and the file system at the
// start of a rewritable DVD grown over a new session.
#pragma once

#include <cstdint>

#include "DPMs/base/dpm_base.h"
#include "quillion/MMC.h"
#include "quillion/status.h"

namespace quillion::burn {

// The profiles a writer tells apart.
namespace profiles {
inline constexpr std::uint16_t kDvdMinusR = 0x11, kDvdRam = 0x12, kRestrictedOverwrite = 0x13,
                               kSequentialRw = 0x14, kDvdMinusRDl = 0x15, kDvdPlusRw = 0x1A,
                               kDvdPlusR = 0x1B, kDvdPlusRDl = 0x2B, kBdRe = 0x43;
}

// The blocks of a reservation: a multiple of the medium's ECC block.
std::uint32_t reservedBlocks(std::uint16_t profile, std::uint32_t blocks);
// A track written track by track is reserved first on these media (sequential ones only).
bool reservesTracks(std::uint16_t profile, bool closeDisc);
// A session written at once is reserved first on these media.
bool reservesSessions(std::uint16_t profile, bool closeDisc);
// The last data of a track written track by track is followed by zero blocks up to a multiple
// of 16 on these media.
bool padsTracks(std::uint16_t profile);

// A DVD-RW not to be closed gets a quick format for `blocks` before its track: the grow format
// in restricted overwrite, the quick format in sequential recording. kNoErr when the medium
// wants none, the drive does not offer the format or offers less than the track; else the
// status of FORMAT UNIT, with the drive's sense in `sense` (when given).
[[nodiscard]] EngineStatus quickFormatForTrack(std::uint32_t ref, std::uint16_t profile,
                                               std::uint32_t blocks, MMC_SenseData* sense);

// The volume at the start of the disc in `ref` is made to describe a new session: its
// partition map, ISO9660 volume descriptors or UDF anchor are patched from `producer` (the
// file system of the session starting at `sessionStart`, `sessionBlocks` long, of data disc
// format `format`). kNoErr also when the disc holds no volume to grow.
[[nodiscard]] EngineStatus growFileSystem(std::uint32_t ref, const DPM_Base& producer,
                                          std::uint32_t format, std::uint32_t sessionStart,
                                          std::uint32_t sessionBlocks);

}  // namespace quillion::burn
