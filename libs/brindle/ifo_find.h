// SPDX-License-Identifier: GPL-2.0-or-later
// The DVD information file of a title opened through its IFO: which kind of IFO it is, the
// title-set number its name gives, and the eight 16-bit level words of the parental
// management table the frame and seek layers use. The file's bytes stay with the session
// until it closes. The byte readers are pure and check every offset against what they hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

constexpr std::size_t kIfoSector = 2048;

enum ifo_kind : std::uint32_t {
  kIfoUnknown = 0,
  kIfoVideoManager = 1,
  kIfoTitleSetMenu = 2,
  kIfoTitleSet = 3,
  kIfoRecordingManager = 4
};

// The kind the first 12 bytes name; a title set counts as its menu when `dvdFlag` is set.
std::uint32_t ifo_kind_of(const std::uint8_t* bytes, std::size_t size, bool dvdFlag);
// The two decimal digits at positions 5 and 6 of the name after its last '/'; 0 without.
std::uint32_t ifo_title_set_of(const char* path);
// The sector number of the parental management table (big-endian at byte 204); 0 without.
std::uint32_t ifo_level_sector(const std::uint8_t* bytes, std::size_t size);
// Reads the eight level words from that table's sector; false when the table does not cover
// the title set or its rows lie outside the sector (the words are then left as they were).
bool ifo_level_words(const std::uint8_t* sector, std::size_t size, std::uint32_t kind,
                     std::uint32_t titleSet, std::uint16_t words[8]);

// Reads the IFO of the session's file into the session; 0, or 1 after a message.
int FindStreams_IFO(mpeg_in_info* record);
// Releases the kept IFO bytes.
void free_ifo(mpeg_in_info* record);

}  // namespace quillion::brindle
