// SPDX-License-Identifier: GPL-2.0-or-later
// The state of a drive destination, shared by its preparation (drive_preparation.cpp), its
// session, track and close commands (drive_writer.cpp) and its writes (chunk_writer.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/destination.h"
#include "device/medium_profile.h"
#include "quillion/MMC.h"

namespace quillion::writer {

struct DriveState {
  std::uint32_t ref = 0;
  std::int32_t nextWriteAddress = 0;  // negative in the lead-in of a session written at once
  std::uint8_t currentTrack = 0;
  bool closeDisc = false;
  bool sessionAtOnce = false;
  bool testWrite = false;
  bool underrunOn = false;  // cleared when the drive offers no protection
  std::uint32_t underrunKind = kCDWriterEx_UnderrunNone;
  std::uint16_t sessionCounter = 0;
  std::uint16_t sessionTotal = 0;
  std::uint16_t speed = 0;             // x actually set
  std::uint16_t profile = kNoProfile;  // a DVD written as such; kNoProfile: written as a CD
  bool writeContinue = false;          // the drive takes the vendor WRITE CONTINUE command
  MMC_SenseData sense{};

  bool lastSession() const { return sessionCounter == sessionTotal && closeDisc; }
  bool dvd() const { return profile != kNoProfile; }
  const MediumProfile& medium() const { return profileOf(profile); }
};

// WRITE(10) or the vendor WRITE CONTINUE in chunks, at the state's next address.
[[nodiscard]] EngineStatus driveWrite(DriveState& c, const std::uint8_t* buffer,
                                      std::uint16_t blocks, std::uint16_t blockSize,
                                      const std::atomic<bool>& stop);

// The destination over a prepared drive.
[[nodiscard]] std::unique_ptr<Destination> makeDriveDestination(const DriveState& state);

}  // namespace quillion::writer
