// SPDX-License-Identifier: GPL-2.0-or-later
// What the engine knows of each medium profile (MMC-5 5.3.1, table 91), in one table, and the
// one question for the profile of the medium in a drive. Code asks the table for a property,
// never compares profile codes: a new medium is a new row.
#pragma once

#include <cstdint>
#include <optional>

namespace quillion {

enum class MediumFamily : std::uint8_t { None, Cd, Dvd, Bd };

struct MediumProfile {
  std::uint16_t code = 0;
  const char* name = "";
  MediumFamily family = MediumFamily::None;
  bool recordable = false;  // written once
  bool rewritable = false;  // erased or written over
  bool plus = false;        // the DVD+ formats
  bool minus = false;       // the DVD- formats
  bool doubleLayer = false;
  // Any block may be written at any time (DVD-RAM, DVD+RW, BD-RE): a quick erase leaves
  // nothing to blank and the disc is never closed.
  bool randomWritable = false;
  // Written where the caller says: the drive is not asked for a next writable address.
  bool callerAddressed = false;
  // Written at once from a cue sheet; the engine writes DVD and BD media track by track.
  bool sessionAtOnce = false;
  // Written in fixed packets of 32 blocks with links of 16 (the DVD- sequential media).
  bool fixedPackets = false;
  // MMC gives the medium a close-track function; a drive refuses one on the others.
  bool closesTracks = true;
  // The track that takes data is the one after the last, found from the disc information.
  bool appendsAfterLastTrack = false;
  // CLOSE TRACK/SESSION function that ends the last session (MMC-5 6.3.3.2): 02h closes a
  // session; the DVD+R media finalize with their own.
  std::uint8_t finalCloseFunction = 2;
  // The disc kind of GDT_DiscKindOfProfile.
  std::uint8_t discKind = 0;

  constexpr bool dvdOrBd() const {
    return family == MediumFamily::Dvd || family == MediumFamily::Bd;
  }
  constexpr bool writable() const { return recordable || rewritable; }
};

// The code a drive reports without a medium, and the engine uses for "no profile known".
inline constexpr std::uint16_t kNoProfile = 0;

namespace profile_rows {

constexpr MediumProfile cd(std::uint16_t code, const char* name, bool recordable, bool rewritable) {
  MediumProfile p{.code = code, .name = name, .family = MediumFamily::Cd};
  p.recordable = recordable;
  p.rewritable = rewritable;
  p.sessionAtOnce = true;
  return p;
}

constexpr MediumProfile dvd(MediumProfile p) {
  p.family = MediumFamily::Dvd;
  return p;
}

constexpr MediumProfile bd(MediumProfile p) {
  p.family = MediumFamily::Bd;
  return p;
}

}  // namespace profile_rows

// Sorted by code. Where the writer's strategy for a medium is its own choice rather than the
// medium's nature, the row says what the writer does: DVD-RW is written in fixed packets in
// both of its modes, and at the caller's address in both.
inline constexpr MediumProfile kMediumProfiles[] = {
    profile_rows::cd(0x08, "CD-ROM", false, false),
    profile_rows::cd(0x09, "CD-R", true, false),
    profile_rows::cd(0x0A, "CD-RW", false, true),
    profile_rows::dvd({.code = 0x10, .name = "DVD-ROM", .discKind = 1}),
    profile_rows::dvd({.code = 0x11,
                       .name = "DVD-R",
                       .recordable = true,
                       .minus = true,
                       .fixedPackets = true,
                       .appendsAfterLastTrack = true,
                       .discKind = 2}),
    profile_rows::dvd({.code = 0x12,
                       .name = "DVD-RAM",
                       .rewritable = true,
                       .randomWritable = true,
                       .callerAddressed = true,
                       .closesTracks = false,
                       .discKind = 7}),
    profile_rows::dvd({.code = 0x13,  // restricted overwrite
                       .name = "DVD-RW",
                       .rewritable = true,
                       .minus = true,
                       .callerAddressed = true,
                       .fixedPackets = true,
                       .closesTracks = false,
                       .discKind = 3}),
    profile_rows::dvd({.code = 0x14,  // sequential recording
                       .name = "DVD-RW",
                       .rewritable = true,
                       .minus = true,
                       .callerAddressed = true,
                       .fixedPackets = true,
                       .discKind = 3}),
    profile_rows::dvd({.code = 0x15,  // sequential recording
                       .name = "DVD-R DL",
                       .recordable = true,
                       .minus = true,
                       .doubleLayer = true,
                       .fixedPackets = true,
                       .appendsAfterLastTrack = true,
                       .discKind = 8}),
    profile_rows::dvd({.code = 0x16,  // layer jump recording
                       .name = "DVD-R DL",
                       .recordable = true,
                       .minus = true,
                       .doubleLayer = true}),
    profile_rows::dvd({.code = 0x17,
                       .name = "DVD-RW DL",
                       .rewritable = true,
                       .minus = true,
                       .doubleLayer = true}),
    profile_rows::dvd({.code = 0x18, .name = "DVD-Download", .recordable = true}),
    profile_rows::dvd({.code = 0x1A,
                       .name = "DVD+RW",
                       .rewritable = true,
                       .plus = true,
                       .randomWritable = true,
                       .callerAddressed = true,
                       .closesTracks = false,
                       .discKind = 5}),
    profile_rows::dvd({.code = 0x1B,
                       .name = "DVD+R",
                       .recordable = true,
                       .plus = true,
                       .appendsAfterLastTrack = true,
                       .finalCloseFunction = 6,
                       .discKind = 4}),
    profile_rows::dvd({.code = 0x2A,
                       .name = "DVD+RW DL",
                       .rewritable = true,
                       .plus = true,
                       .doubleLayer = true,
                       .randomWritable = true,
                       .callerAddressed = true,
                       .closesTracks = false}),
    profile_rows::dvd({.code = 0x2B,
                       .name = "DVD+R DL",
                       .recordable = true,
                       .plus = true,
                       .doubleLayer = true,
                       .appendsAfterLastTrack = true,
                       .finalCloseFunction = 5,
                       .discKind = 6}),
    profile_rows::bd({.code = 0x40, .name = "BD-ROM", .discKind = 9}),
    profile_rows::bd({.code = 0x41, .name = "BD-R", .recordable = true, .discKind = 10}),  // SRM
    profile_rows::bd({.code = 0x42, .name = "BD-R", .recordable = true, .discKind = 10}),  // RRM
    profile_rows::bd({.code = 0x43,
                      .name = "BD-RE",
                      .rewritable = true,
                      .randomWritable = true,
                      .callerAddressed = true,
                      .closesTracks = false,
                      .discKind = 11}),
};

// What stands for a code the table does not hold, "no medium" among them: nothing is known,
// so nothing is refused that the caller asked for (session at once stays possible).
inline constexpr MediumProfile kUnknownProfile{.code = kNoProfile, .sessionAtOnce = true};

constexpr const MediumProfile& profileOf(std::uint16_t code) {
  for (const MediumProfile& row : kMediumProfiles) {
    if (row.code == code) return row;
  }
  return kUnknownProfile;
}

// The writer writes DVD media by their own rules and every other medium as a CD.
constexpr bool writtenAsDvd(std::uint16_t code) {
  const MediumProfile& p = profileOf(code);
  return p.family == MediumFamily::Dvd && p.writable();
}

// The current profile of the medium in a drive (GET CONFIGURATION, MMC-5 6.6, header bytes
// 6-7): kNoProfile when the drive has no medium; empty when the drive could not be asked
// (an image pseudo-drive, a drive gone or out of reach, a refused command).
[[nodiscard]] std::optional<std::uint16_t> readCurrentProfile(std::uint32_t ref);

// The same, with kNoProfile for a drive that could not be asked.
std::uint16_t currentProfile(std::uint32_t ref);

}  // namespace quillion
