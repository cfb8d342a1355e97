// SPDX-License-Identifier: GPL-2.0-or-later
// CD-Text packs as READ TOC format 5 returns them (MMC-5 6.26.3.7), decoded into the table of
// GDT_CDTEXTInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillion {

// `entries` x kGDT_CDTextEntryBytes: entry 0 the disc, entry n track n. Strings of tracks
// beyond the table (the track number comes from the disc) are dropped. Empty when the reply
// holds no CD-Text packs.
std::optional<std::vector<char>> cdTextTable(std::span<const std::uint8_t> reply, std::uint32_t entries);

}  // namespace quillion
