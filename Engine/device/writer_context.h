// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer's context and the two kinds of destination it stands for: a drive, spoken
// to with MMC commands (drive_writer.cpp), and an image file (image_writer.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "image/cd_image_file.h"
#include "quillion/CDWriterEx.h"

struct myBurnEng_Pack {
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
  std::unique_ptr<CDImageFile> image;
  std::uint16_t speed = 0;     // x actually set
  std::uint16_t profile = 0;   // current profile in 11h..2Bh; 0 for CD media
  bool writeContinue = false;  // the drive takes the vendor WRITE CONTINUE command
  MMC_SenseData sense{};

  bool isImage() const { return image != nullptr; }
  bool lastSession() const { return sessionCounter == sessionTotal && closeDisc; }
};

namespace quillion::writer {

// Image destinations.
[[nodiscard]] std::unique_ptr<myBurnEng_Pack> createImage(std::uint32_t ref, const char* path,
                                                          std::uint16_t imageType, bool trackAtOnce,
                                                          bool closeDisc);
[[nodiscard]] EngineStatus imageSession(myBurnEng_Pack& c, std::uint8_t format,
                                        std::uint8_t firstTrackMode, std::int32_t start,
                                        const std::uint8_t* cdText, std::uint32_t cdTextLength);
[[nodiscard]] EngineStatus imageTrack(myBurnEng_Pack& c, std::uint8_t number,
                                      std::uint8_t dataBlockType, std::uint16_t blockSize,
                                      std::uint16_t pause, const CDWriterEx_TrackExtra* extra,
                                      std::uint32_t start);

// Drive destinations.
struct DriveRequest {
  std::uint32_t ref = 0;
  bool simulate = false;
  std::uint16_t speedX = 0;
  bool trackAtOnce = true;
  std::uint8_t sessions = 1;
  bool closeDisc = false;
  bool underrunProtection = false;
  std::uint16_t* speedSet = nullptr;
  std::uint32_t underrunKind = kCDWriterEx_UnderrunNone;
};
[[nodiscard]] std::unique_ptr<myBurnEng_Pack> createDrive(const DriveRequest& request);
[[nodiscard]] EngineStatus driveSession(myBurnEng_Pack& c, std::uint8_t format,
                                        std::uint8_t firstTrackMode, std::int32_t start,
                                        const std::uint8_t* cueSheet, std::uint32_t cueLength);
[[nodiscard]] EngineStatus driveTrack(myBurnEng_Pack& c, std::uint8_t number,
                                      std::uint8_t dataBlockType, std::uint16_t pause);
[[nodiscard]] EngineStatus driveWrite(myBurnEng_Pack& c, const std::uint8_t* buffer,
                                      std::uint16_t blocks, std::uint16_t blockSize,
                                      const std::atomic<bool>& stop);
[[nodiscard]] EngineStatus driveReserveTrack(myBurnEng_Pack& c, std::uint32_t blocks);
[[nodiscard]] EngineStatus driveCloseTrack(myBurnEng_Pack& c);
[[nodiscard]] EngineStatus driveCloseSession(myBurnEng_Pack& c);
[[nodiscard]] EngineStatus driveRestoreDefaults(myBurnEng_Pack& c);

}  // namespace quillion::writer
