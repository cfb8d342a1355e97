// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer over an image file: sessions and tracks become the records of CDImageFile.
#include <array>

#include "device/destination.h"
#include "image/cd_image_file.h"

namespace quillion::writer {
namespace {

// Session type of the image's session record from the session format and its first track.
std::uint16_t sessionType(std::uint8_t format, std::uint8_t firstTrackMode) {
  switch (format) {
    case 0x10:
      return 3;  // CD-I
    case 0x20:
      return 2;  // CD-ROM XA
    case 0x00:
      return firstTrackMode != 0 ? 1 : 0;
    default:
      return 1;
  }
}

// Track type of the image's track record from the data block type.
std::uint16_t trackType(std::uint8_t dataBlockType) {
  switch (dataBlockType) {
    case 0:
      return 0;  // CD-DA
    case 10:
      return 3;  // Mode 2 Form 1
    case 12:
      return 4;  // Mode 2 Form 2
    case 9:
    case 13:
      return 5;  // Mode 2, formless or mixed forms
    default:
      return 1;  // Mode 1
  }
}

void putExtra(const CDWriterEx_TrackExtra& extra, std::array<std::uint8_t, 16>& info) {
  std::size_t at = 0;
  const auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) info[at++] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  for (std::uint32_t word : extra.words) put(word, 4);
  put(extra.last, 2);
}

class ImageDestination final : public Destination {
 public:
  ImageDestination(bool isoMode, bool trackAtOnce, bool closeDisc)
      : image_(isoMode), sessionAtOnce_(!trackAtOnce), closeDisc_(closeDisc) {}

  EngineStatus open(const char* path) { return image_.Open(path, true); }

  EngineStatus createSession(const SessionRequest& r) override {
    if (r.cdText && r.cdTextLength) {
      if (const EngineStatus status = image_.WriteCDTextRawData(r.cdText, r.cdTextLength);
          status != kNoErr) {
        return status;
      }
    }
    WLTSESSION session;
    session.sessionAtOnce = sessionAtOnce_ ? 1 : 0;
    session.marker = 1;
    session.sessionType = sessionType(r.format, r.firstTrackMode);
    session.closeDisc = closeDisc_ ? 1 : 0;
    session.startBlock = r.start;
    return image_.NewSession(session);
  }

  EngineStatus createTrack(const TrackRequest& r) override {
    WLTTRACK track;
    track.trackType = trackType(r.dataBlockType);
    track.blockSize = r.blockSize;
    track.pregap = r.pause;
    track.startBlock = r.imageStart;
    if (r.extra) putExtra(*r.extra, track.info);
    return image_.NewTrack(track);
  }

  EngineStatus write(const void* buffer, std::uint16_t blocks, std::uint16_t /*blockSize*/,
                     const std::atomic<bool>* /*stop*/) override {
    return image_.WriteData(buffer, blocks);
  }
  // An image has no room to reserve: its tracks take what is written.
  EngineStatus reserve(std::uint32_t /*blocks*/) override { return kNoErr; }
  EngineStatus closeTrack() override { return image_.CloseTrack(); }
  EngineStatus closeSession() override { return image_.CloseSession(); }
  EngineStatus finish() override { return image_.Close(); }
  MMC_SenseData sense() const override { return {}; }

 private:
  CDImageFile image_;
  bool sessionAtOnce_;
  bool closeDisc_;
};

}  // namespace

std::unique_ptr<Destination> openImage(const char* path, std::uint16_t imageType, bool trackAtOnce,
                                       bool closeDisc) {
  auto destination =
      std::make_unique<ImageDestination>(imageType == kCDWriterEx_IsoImage, trackAtOnce, closeDisc);
  if (destination->open(path) != kNoErr) return nullptr;
  return destination;
}

}  // namespace quillion::writer
