// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer over an image file: sessions and tracks become the records of CDImageFile.
#include "device/writer_context.h"
#include "quillion/handle_table.h"

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

}  // namespace

std::unique_ptr<myBurnEng_Pack> createImage(std::uint32_t ref, const char* path,
                                            std::uint16_t imageType, bool trackAtOnce,
                                            bool closeDisc) {
  auto c = std::make_unique<myBurnEng_Pack>();
  c->ref = ref;
  c->image = std::make_unique<CDImageFile>(imageType == kCDWriterEx_IsoImage);
  if (c->image->Open(path, true) != kNoErr) return nullptr;
  c->closeDisc = closeDisc;
  c->sessionAtOnce = !trackAtOnce;
  return c;
}

EngineStatus imageSession(myBurnEng_Pack& c, std::uint8_t format, std::uint8_t firstTrackMode,
                          std::int32_t start, const std::uint8_t* cdText,
                          std::uint32_t cdTextLength) {
  if (cdText && cdTextLength) {
    if (const EngineStatus status = c.image->WriteCDTextRawData(cdText, cdTextLength);
        status != kNoErr) {
      return status;
    }
  }
  WLTSESSION session;
  session.sessionAtOnce = c.sessionAtOnce ? 1 : 0;
  session.marker = 1;
  session.sessionType = sessionType(format, firstTrackMode);
  session.closeDisc = c.closeDisc ? 1 : 0;
  session.startBlock = start;
  return c.image->NewSession(session);
}

EngineStatus imageTrack(myBurnEng_Pack& c, std::uint8_t number, std::uint8_t dataBlockType,
                        std::uint16_t blockSize, std::uint16_t pause,
                        const CDWriterEx_TrackExtra* extra, std::uint32_t start) {
  WLTTRACK track;
  track.trackType = trackType(dataBlockType);
  track.blockSize = blockSize;
  track.pregap = pause;
  track.startBlock = start;
  if (extra) putExtra(*extra, track.info);
  const EngineStatus status = c.image->NewTrack(track);
  if (status == kNoErr) c.currentTrack = number;
  return status;
}

}  // namespace quillion::writer
