// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated recorder's view of the write parameters page (MMC-5 7.5.4) and of a cue sheet
// for session at once (MMC-5 6.33): both parsed field by field and checked as a drive checks
// them, answering the sense a drive gives for what it refuses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cd_sector.h"
#include "medium.h"

namespace quillion::emu {

using SenseTriple = std::array<std::uint8_t, 3>;
inline constexpr SenseTriple kInvalidParameterList{0x05, 0x26, 0x00};

struct WriteParameters {
  std::uint8_t writeType = 1;  // 0 packet/incremental, 1 track at once, 2 session at once, 3 raw
  bool bufe = false;
  bool linkSizeValid = false;
  bool testWrite = false;
  std::uint8_t multiSession = 0;  // 11b: a next session may follow
  bool fixedPackets = false;
  std::uint8_t trackMode = 4;  // the Q sub-channel control nibble: 4 = data
  std::uint8_t dataBlockType = 8;
  std::uint8_t linkSize = 0;
  std::uint8_t sessionFormat = 0;
  std::uint32_t packetSize = 0;
  std::uint16_t audioPause = 150;

  static WriteParameters parse(std::span<const std::uint8_t> page);
  bool audioTrack() const { return (trackMode & 0x04) == 0; }
  bool nextSessionAllowed() const { return multiSession == 3; }
};

inline constexpr std::uint8_t kTrackAtOnce = 1, kSessionAtOnce = 2, kIncremental = 0;

// How the host hands over blocks of a data block type; empty for types the drive does not take.
std::optional<HostBlock> hostBlockOf(std::uint8_t dataBlockType);

// The sense a drive answers to these parameters on this medium (empty when it takes them): on
// CD media the write types (track and session at once) and block types this drive records, a
// track mode that fits the block type, a known session format; the link size of DVD-R; BUFE
// only on a drive that has it. Other media do not use the page.
std::optional<SenseTriple> checkWriteParameters(const WriteParameters& p, const ProfileInfo& medium,
                                                bool bufeSupported);

// ---- Cue sheets ----

// A stretch of the session between two cue sheet entries.
struct CueRegion {
  std::int32_t from = 0;
  std::int32_t to = 0;  // the block after it
  std::uint8_t track = 0;
  std::uint8_t index = 0;
  std::uint8_t form = 0;  // main data form
  bool data = false;      // CONTROL says data track
};

struct CueSession {
  std::vector<CueRegion> regions;  // from the first track's first index to the lead-out
  std::int32_t leadOut = 0;
  bool leadInText = false;  // the host writes the lead-in's R-W sub-channel (CD-Text)
  std::uint8_t firstTrack = 0;
  std::uint8_t lastTrack = 0;
};

// Bytes the host sends per block of a main data form; 0 for blocks the drive makes itself.
std::size_t cueHostBytes(std::uint8_t form);
std::optional<HostBlock> cueHostBlock(std::uint8_t form);
SectorKind cueKind(std::uint8_t form);

struct CueCheck {
  std::optional<CueSession> session;
  SenseTriple sense{};
};

// Reads and checks a cue sheet for the session that begins (with its first pregap) at
// `firstAddress` and numbers its tracks from `firstTrack`; the lead-out must begin by
// `lastLeadOut`.
CueCheck parseCueSheet(std::span<const std::uint8_t> sheet, std::uint8_t firstTrack,
                       std::int32_t firstAddress, std::int64_t lastLeadOut);

}  // namespace quillion::emu
