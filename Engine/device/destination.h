// SPDX-License-Identifier: GPL-2.0-or-later
// Where the disc writer sends a recording: one interface, with a drive spoken to through MMC
// commands (drive_writer.cpp) and an image file (image_writer.cpp) behind it. A new kind of
// destination is a new implementation; the CDWriterEx_* functions only forward to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "quillion/CDWriterEx.h"

namespace quillion::writer {

struct SessionRequest {
  std::uint8_t format = 0;  // session format of the write parameters page: 00h, 10h, 20h
  std::uint8_t firstTrackMode = 0;
  std::int32_t start = 0;
  const std::uint8_t* cueSheet = nullptr;  // a drive written at once takes the cue sheet
  std::uint32_t cueSheetLength = 0;
  const std::uint8_t* cdText = nullptr;  // an image keeps the raw CD-Text
  std::uint32_t cdTextLength = 0;
};

struct TrackRequest {
  std::uint8_t number = 0;
  std::uint8_t dataBlockType = 0;
  std::uint16_t blockSize = 0;
  std::uint16_t pause = 0;
  const CDWriterEx_TrackExtra* extra = nullptr;
  std::uint32_t imageStart = 0;
};

class Destination {
 public:
  virtual ~Destination() = default;
  Destination() = default;
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  [[nodiscard]] virtual EngineStatus createSession(const SessionRequest& session) = 0;
  [[nodiscard]] virtual EngineStatus createTrack(const TrackRequest& track) = 0;
  // `stop` ends the write early without error; a drive needs one, an image may go without.
  [[nodiscard]] virtual EngineStatus write(const void* buffer, std::uint16_t blocks,
                                           std::uint16_t blockSize,
                                           const std::atomic<bool>* stop) = 0;
  [[nodiscard]] virtual EngineStatus reserve(std::uint32_t blocks) = 0;
  [[nodiscard]] virtual EngineStatus closeTrack() = 0;
  [[nodiscard]] virtual EngineStatus closeSession() = 0;
  // The end of the recording: an image writes its header, a drive gets its defaults back.
  [[nodiscard]] virtual EngineStatus finish() = 0;
  // The sense of the last command the destination saw refused; empty for an image.
  virtual MMC_SenseData sense() const = 0;
};

// An image file at `path`: the native image, or an ISO image when `imageType` says so.
[[nodiscard]] std::unique_ptr<Destination> openImage(const char* path, std::uint16_t imageType,
                                                     bool trackAtOnce, bool closeDisc);

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

// A drive, held exclusively from here on; empty when it cannot be prepared for writing.
[[nodiscard]] std::unique_ptr<Destination> openDrive(const DriveRequest& request);

}  // namespace quillion::writer
