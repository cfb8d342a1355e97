// SPDX-License-Identifier: GPL-2.0-or-later
// An image file described as if it were a closed disc in a drive, so that the copy panels and
// the job preparation treat images and discs alike. Each kind has its own reader: the native
// image file, a bin/cue pair, or a plain image taken as one data track.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/disc_description.h"
#include "image/bin_cue_parser.h"
#include "image/cd_image_file.h"
#include "quillion/GDT.h"

namespace {

// A multisession CD holds, after the first session, its lead-out, the next lead-in and the
// first pregap (6,750 + 4,500 + 150) and two run-out blocks; after each later session the
// shorter lead-out (2,250 + 4,500 + 150) and the run-out.
constexpr std::uint32_t kGapAfterFirstSession = 11'402;
constexpr std::uint32_t kGapAfterLaterSession = 6'902;
constexpr std::uint64_t kPlainBlockBytes = 2048;

// An image's description: every image is a closed disc.
struct ImageDescription : quillion::gdt::DiscDescription {
  void finish(std::uint8_t mediumClass) {
    header.mediumClass = mediumClass;
    header.discState = kGDT_DiscClosed;
    sumSessions();
  }
};

std::uint32_t clampBlocks(std::uint64_t blocks) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, 0xFFFFFFFFu));
}

// The disc type byte a native image's first session stands for.
std::uint8_t discTypeOfSessionType(std::uint16_t sessionType) {
  switch (sessionType) {
    case 2:
      return 0x20;  // CD-ROM XA
    case 3:
      return 0x10;  // CD-I
    default:
      return 0x00;
  }
}

std::uint16_t modeOfWltTrackType(std::uint16_t trackType) {
  switch (trackType) {
    case 0:
      return kGDT_ModeAudio;
    case 3:
      return kGDT_ModeForm1;
    case 4:
      return kGDT_ModeForm2;
    case 5:
      return kGDT_ModeData2;
    default:
      return kGDT_ModeData1;
  }
}

EngineStatus describeNativeImage(const char* path, ImageDescription& d) {
  CDImageFile image(false);
  if (EngineStatus s = image.Open(path, false); s != kNoErr) return s;
  std::uint16_t sessions = 0;
  std::uint16_t trackTotal = 0;
  if (EngineStatus s = image.CDImageInfo(&sessions, &trackTotal); s != kNoErr) return s;
  std::uint64_t used = 0;
  for (std::uint16_t n = 1; n <= sessions; ++n) {
    WLTSESSION session{};
    if (EngineStatus s = image.GetSessionInfo(n, &session); s != kNoErr) return s;
    if (n == 1) d.header.discType = discTypeOfSessionType(session.sessionType);
    if (n == 2) used += kGapAfterFirstSession;
    if (n > 2) used += kGapAfterLaterSession;
    for (std::uint16_t i = 0; i < session.trackCount; ++i) {
      WLTTRACK track{};
      const auto number = static_cast<std::uint16_t>(session.firstTrack + i);
      if (EngineStatus s = image.GetTrackInfo(number, &track); s != kNoErr) return s;
      // The header was checked against the file on opening: every block size is at least 1.
      const std::uint32_t length = clampBlocks(track.dataLength / track.blockSize);
      d.add({n, track.number, modeOfWltTrackType(track.trackType), 0, track.startBlock, length});
      used += length;
    }
  }
  d.header.usedBlocks = clampBlocks(used);
  d.header.sessions = sessions;
  d.finish(kGDT_MediumNativeImage);
  return kNoErr;
}

std::uint16_t modeOfCueTrack(std::uint16_t mode) {
  switch (mode) {
    case 0:
      return kGDT_ModeAudio;
    case 2:
      return kGDT_ModeRawMode2;
    default:
      return kGDT_ModeData1;
  }
}

EngineStatus describeBinCueImage(const char* cuePath, ImageDescription& d) {
  BinCue_Parser parser;
  if (EngineStatus s = parser.parse(cuePath); s != kNoErr) return s;
  const quillion::cue::BinQ_Info* info = parser.info();
  if (!info) return kErrCueParse;
  std::uint16_t number = 1;
  for (const auto& t : info->tracks) {
    d.add({1, number++, modeOfCueTrack(t.mode), 0, t.start, t.blocks});
    d.header.usedBlocks = std::max(d.header.usedBlocks, t.start + t.blocks);
  }
  if (info->mode2Tracks > 0) d.header.discType = 0x20;  // Mode 2 sectors make an XA disc
  d.header.reserved = 1;
  d.header.sessions = 1;
  d.finish(kGDT_MediumBinCueImage);
  return kNoErr;
}

EngineStatus describePlainImage(const char* path, ImageDescription& d) {
  struct stat st {};
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return kErrFileAccess;
  const std::uint64_t bytes = static_cast<std::uint64_t>(st.st_size);
  const std::uint32_t blocks = clampBlocks((bytes + kPlainBlockBytes - 1) / kPlainBlockBytes);
  d.add({1, 1, kGDT_ModeData1, 0, 0, blocks});
  d.header.usedBlocks = blocks;
  d.header.sessions = 1;
  d.finish(kGDT_MediumPlainImage);
  return kNoErr;
}

}  // namespace

EngineStatus GDT_GetCDImageInfo(const char* path, GDT_DiscInfo** info, std::uint32_t kind) {
  if (!path || !*path || !info) return kErrBadArgument;
  ImageDescription d;
  EngineStatus status = kNoErr;
  try {
    switch (kind) {
      case kGDT_ImageNative:
        status = describeNativeImage(path, d);
        break;
      case kGDT_ImageBinCue:
        status = describeBinCueImage(path, d);
        break;
      case kGDT_ImagePlain:
        status = describePlainImage(path, d);
        break;
      default:
        return kNoErr;  // no reader for this kind: nothing to describe
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  if (status != kNoErr) return status;
  return d.publish(info);
}
