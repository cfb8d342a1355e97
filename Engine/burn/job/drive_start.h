// SPDX-License-Identifier: GPL-2.0-or-later
// What a drive destination tells the preparation before any track is made: the number its
// next track gets, and the block where a new session begins.
#pragma once

#include <cstdint>

#include "quillion/status.h"

namespace quillion::burn {

class BurnJob;

// The number the destination's next track gets, from its disc information: the first track
// of an empty disc, the incomplete track of an appendable one, the one after the last of a
// complete one. 0 when the destination is no drive or does not answer.
std::uint16_t firstTrackNumber(const BurnJob& job);

// How the next writable address is looked up.
enum class AddressQuery {
  ByMedium,  // the track the medium writes next: track 1, the track after the last, or 0xFF
  AsCd,      // the invisible track, whatever the medium
};

// The next writable address of the first destination, asked once a second until the drive
// gives a usable answer, for up to three minutes. When it never does, the status of the last
// attempt (never success): block 0 would write over what the disc holds.
[[nodiscard]] EngineStatus nextWritableAddress(const BurnJob& job, AddressQuery query,
                                               std::uint32_t& address);

// Where a data session begins on the first destination: the used blocks the client gave for
// a random-writable disc, the size of track 1 of a DVD-RW in restricted overwrite, else the
// next writable address. 0 for an image.
[[nodiscard]] EngineStatus dataSessionStart(const BurnJob& job, std::uint32_t& start);

}  // namespace quillion::burn
