// SPDX-License-Identifier: GPL-2.0-or-later
// Replies that describe a disc, decoded byte by byte: READ DISC INFORMATION, READ TRACK
// INFORMATION, READ TOC (formats 0 and 2) and GET EVENT STATUS NOTIFICATION (media class).
// A field counts only when the drive's own length says it was sent and the buffer holds it;
// what was not sent reads as absent, never as a stale byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillion {

// MMC-5 6.22.3, Disc Information Block (data type 000b).
struct DiscInformation {
  std::uint8_t discStatus = 0;        // 0 empty, 1 incomplete, 2 complete, 3 other
  std::uint8_t lastSessionState = 0;  // 0 empty, 1 incomplete, 3 complete
  bool erasable = false;
  std::uint8_t firstTrack = 0;
  std::uint16_t sessions = 0;
  std::uint16_t firstTrackInLastSession = 0;
  std::uint16_t lastTrackInLastSession = 0;
  std::uint8_t discType = 0;
  // Lead-out start of a blank CD as the drive announces it (bytes 21-23, MSF), in blocks;
  // absent when not sent.
  std::optional<std::uint32_t> leadOutBlocks;
};
std::optional<DiscInformation> parseDiscInformation(std::span<const std::uint8_t> reply);

// MMC-5 6.27.3, Track Information Block.
struct TrackInformation {
  std::uint16_t track = 0;
  std::uint16_t session = 0;
  bool data = false;          // track mode bit 2
  std::uint8_t dataMode = 0;  // 1, 2 or 15 (unknown)
  std::uint32_t start = 0;
  std::optional<std::uint32_t> freeBlocks;
  std::uint32_t size = 0;
};
std::optional<TrackInformation> parseTrackInformation(std::span<const std::uint8_t> reply);

// One track as the TOC describes it.
struct TocTrack {
  std::uint8_t session = 0;
  std::uint8_t track = 0;
  bool data = false;      // CONTROL bit 2
  std::uint32_t start = 0;
  std::uint32_t end = 0;  // first block after the track: the next track's start, or the session's lead-out
};

struct TocSession {
  std::uint8_t number = 0;
  std::uint8_t discType = 0xFF;  // A0 PSEC; 0xFF when the session has no A0
  std::uint32_t leadOut = 0;     // A2, in blocks
};

struct Toc {
  std::vector<TocSession> sessions;
  std::vector<TocTrack> tracks;
};

// MMC-5 6.26.3.4, format 2 (full TOC) with MSF addresses. Empty when the reply is not a full
// TOC: every session must name its lead-out (A2), and tracks must lie inside their session.
// Some drives answer a format-2 request with format-0 data; that reply is refused here
// rather than read as 11-byte descriptors.
std::optional<Toc> parseFullToc(std::span<const std::uint8_t> reply);

// MMC-5 6.26.3.2, format 0 with LBA addresses: one session, tracks up to the AAh lead-out.
std::optional<Toc> parseTrackToc(std::span<const std::uint8_t> reply);

// (M x 60 + S) x 75 + F - 150: the block of an MSF address.
std::int64_t msfToLba(std::uint8_t m, std::uint8_t s, std::uint8_t f);

// MMC-5 6.7.2.4, media event descriptor of GET EVENT STATUS NOTIFICATION.
struct MediaStatus {
  std::uint8_t event = 0;  // 0 none, 1 eject request, 2 new media, 3 media removal, 4 media changed
  bool trayOpen = false;
  bool present = false;
};
std::optional<MediaStatus> parseMediaEvent(std::span<const std::uint8_t> reply);

// READ CAPACITY(10), SBC 5.10: the number of blocks (last LBA + 1) and the block length.
struct Capacity {
  std::uint32_t blocks = 0;
  std::uint32_t blockLength = 0;
};
std::optional<Capacity> parseCapacity(std::span<const std::uint8_t> reply);

}  // namespace quillion
