// SPDX-License-Identifier: GPL-2.0-or-later
// Lead-in CD-Text: the 18-byte packs of a layout's texts (CD-Text block 0, one language), their
// CRCs, and the raw form drives and native images take, where every 3 bytes are spread over 4
// bytes of 6 bits each. Also the packs a source disc reports with READ TOC format 5, turned into
// that raw form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class FS_List;

namespace quillion::burn {

inline constexpr std::size_t kCDTextPackBytes = 18;
inline constexpr std::size_t kCDTextRawPackBytes = 24;
// The work area of one text block: 2040 packs, more than the 8 x 255 a block may count.
inline constexpr std::size_t kCDTextMaxPacks = 2040;
inline constexpr std::uint8_t kCDTextEnglish = 9;

// The five texts of a pack type, in the order of their pack types 80h to 84h.
inline constexpr std::size_t kCDTextKinds = 5;
using CDTextStrings = std::array<std::string, kCDTextKinds>;

// What goes into one text block: the disc's texts and each track's, in track order. Tracks
// that have no texts of their own (a leading data track) carry "-" in every field.
struct CDTextInput {
  std::uint8_t language = kCDTextEnglish;
  CDTextStrings disc;
  std::vector<CDTextStrings> tracks;
};

// The packs of `input` with their CRCs, 18 bytes each; empty without tracks or when the texts
// do not fit in one block. At most 99 tracks are given texts.
std::vector<std::uint8_t> buildCDTextPacks(const CDTextInput& input);

// Lays `text` and its terminating zero byte into packs of `type` for track `track`, after what
// `packs` already holds of that type: the last pack is filled up before a new one is started.
// `sequence` numbers each new pack, and `charsBefore` counts the characters of this type's
// strings already laid, for the character-position byte. False when the work area is full.
bool PrepareCDTextPackData(std::vector<std::uint8_t>& packs, std::size_t& fill, std::uint8_t type,
                           std::uint8_t track, const std::string& text, std::uint8_t& sequence);

// Computes and stores the CRC of every whole pack of `packs`.
void setCDTextCrcs(std::span<std::uint8_t> packs);

// The raw form of `length` bytes of packs (whole packs only) into `out`, which holds at least
// length / 18 x 24 bytes; `outLength` receives the bytes written.
void ConvertToRawCDTextData(const std::uint8_t* packs, std::size_t length, std::uint8_t* out,
                            std::size_t& outLength);
std::vector<std::uint8_t> rawCDText(std::span<const std::uint8_t> packs);

// A raw block of the job's texts: the disc's five strings and each track's from its node
// record, behind `leadingDataTracks` data tracks. malloc'd; null with *length 0 when there is
// nothing to write.
std::uint8_t* CreateCDTextData(std::uint8_t language, const FS_List* tracks, const char* title,
                               const char* performer, const char* songwriter, const char* composer,
                               const char* arranger, std::uint32_t* length,
                               std::uint32_t leadingDataTracks);

// The raw block of the packs in a READ TOC format 5 reply of `received` bytes: as many whole
// packs as its data length says and the reply holds, CRCs recomputed. Empty when it holds none.
std::vector<std::uint8_t> rawCDTextFromTocReply(std::span<const std::uint8_t> received);

}  // namespace quillion::burn
