// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_device_track.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "DPMs/tracks/sector_cut.h"
#include "device/cdb.h"
#include "device/disc_replies.h"
#include "device/medium_profile.h"
#include "device/sense_table.h"
#include "quillion/DC.h"

namespace quillion::device_track {

constexpr std::uint32_t kReadTimeoutMs = 30'000;
constexpr int kReadyTriesBeforeReading = 30;
constexpr int kReadyTriesAfterStart = 120;
constexpr int kSpinUpReads = 300;
constexpr std::uint16_t kFastest = 0xFFFF;

// READ CD selections (MMC-5 6.19): the expected sector type of byte 1 and the fields of byte 9.
constexpr std::uint8_t kSectorAny = 0x00, kSectorCdDa = 0x04, kSectorMode1 = 0x08;
constexpr std::uint8_t kFieldsUserData = 0x10;
constexpr std::uint8_t kFieldsSubheaderUserDataEdc = 0x58;

struct TrackLayout {
  std::uint8_t sectorType;
  std::uint8_t flags;
  std::uint32_t blockSize;
  std::uint8_t dataBlockType;
};

// The disc type of a session from the full TOC (A0 PSEC): 0x00 CD-DA or CD-ROM, 0x10 CD-I,
// 0x20 CD-ROM XA.
std::optional<std::uint8_t> sessionDiscType(std::uint32_t ref, std::uint16_t session) {
  std::vector<std::uint8_t> reply(4 + 11 * 110);
  MMC_SenseData sense{};
  if (MMC_GetTOC(ref, reply.data(), static_cast<std::uint32_t>(reply.size()), 2, 1, true, &sense) !=
      kNoErr) {
    return std::nullopt;
  }
  const auto toc = quillion::parseFullToc(reply);
  if (!toc) return std::nullopt;
  for (const TocSession& s : toc->sessions) {
    if (s.number == session && s.discType != 0xFF) return s.discType;
  }
  return std::nullopt;
}

}  // namespace quillion::device_track

namespace qdt = quillion::device_track;

DPM_DeviceTrack::DPM_DeviceTrack(std::uint32_t ref, std::uint16_t track, std::uint32_t blocks)
    : ref_(ref), track_(track), requestedBlocks_(blocks) {
  (void)DPM_DeviceTrack::Init();
}

EngineStatus DPM_DeviceTrack::Init() {
  totalBlocks = 0;
  blockSize = 0;
  if (ref_ == 0 || track_ == 0 || track_ > 0xFF) return -1;
  const std::optional<std::uint16_t> profile = quillion::readCurrentProfile(ref_);
  useRead12_ = profile && quillion::profileOf(*profile).dvdOrBd();
  std::array<std::uint8_t, 32> reply{};
  if (MMC_GetTrackInfo(ref_, static_cast<std::uint8_t>(track_), reply.data(), reply.size(),
                       &sense_) != kNoErr) {
    return -1;
  }
  const auto info = quillion::parseTrackInformation(reply);
  if (!info) return -1;
  std::uint8_t mode = info->dataMode;
  if (info->data && mode == 0x0F) {
    const auto type = qdt::sessionDiscType(ref_, info->session);
    if (type == 0x00) mode = 1;
    if (type == 0x10 || type == 0x20) mode = 2;
  }
  qdt::TrackLayout layout{};
  if (!info->data) {
    layout = {qdt::kSectorCdDa, qdt::kFieldsUserData, 2352, 0};
  } else if (mode == 1) {
    layout = {qdt::kSectorMode1, qdt::kFieldsUserData, 2048, 8};
  } else if (mode == 2) {
    layout = {qdt::kSectorAny, qdt::kFieldsSubheaderUserDataEdc, 2336, 9};
  } else {
    return -1;
  }
  // DVD and BD hold 2048-byte user data only.
  if (useRead12_ && layout.blockSize != 2048) return -1;
  sectorType_ = layout.sectorType;
  readFlags_ = layout.flags;
  blockSize = layout.blockSize;
  transferBlock_ = layout.blockSize;
  dataBlockType_ = layout.dataBlockType;
  outputOffset_ = 0;
  session_ = static_cast<std::uint8_t>(info->session);
  nextLba_ = info->start;
  totalBlocks = requestedBlocks_ != kWholeTrack ? requestedBlocks_ : info->size;
  return blockSize != 0 && totalBlocks != 0 ? EngineStatus{kNoErr} : EngineStatus{-1};
}

std::uint32_t DPM_DeviceTrack::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (size != nullptr) {
    if (*size == 2332 && dataBlockType_ == 9) {
      blockSize = 2332;
      dataBlockType_ = 13;
      outputOffset_ = 0;
    }
    *size = static_cast<std::uint16_t>(blockSize);
  }
  delivered_ = 0;
  zeroFilled_ = 0;
  return totalBlocks;
}

EngineStatus DPM_DeviceTrack::GetTrackParams(std::uint8_t* session, bool* audio,
                                             std::uint8_t* dataBlockType, std::uint32_t* nextLBA,
                                             std::uint16_t* size) const {
  if (session != nullptr) *session = session_;
  if (audio != nullptr) *audio = blockSize == 2352 && sectorType_ == qdt::kSectorCdDa;
  if (dataBlockType != nullptr) *dataBlockType = dataBlockType_;
  if (nextLBA != nullptr) *nextLBA = nextLba_;
  if (size != nullptr) *size = static_cast<std::uint16_t>(blockSize);
  return kNoErr;
}

EngineStatus DPM_DeviceTrack::GetCurrentSenseCode(MMC_SenseData* sense) {
  if (sense != nullptr) *sense = sense_;
  return kNoErr;
}

EngineStatus DPM_DeviceTrack::read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out) {
  const std::uint32_t bytes = blocks * transferBlock_;
  MMC_SenseData sense{};
  EngineStatus s;
  if (useRead12_) {
    const quillion::cdb::Block block = quillion::cdb::read12(lba, blocks);
    s = DC_ExecuteMMCCmd_Sync(ref_, block.data(), static_cast<std::uint8_t>(block.size()), out,
                              bytes, kDC_DataIn, qdt::kReadTimeoutMs, &sense);
  } else {
    s = MMC_ReadCD(ref_, sectorType_, readFlags_, lba, blocks, out, bytes, &sense);
  }
  if (s != kNoErr) sense_ = sense;
  return s;
}

bool DPM_DeviceTrack::unreadable() const {
  // The drive tried and could not read these sectors (a medium error), or refuses them as
  // outside any track or of another mode, as drives answer for the link blocks after a track.
  const std::uint8_t key = sense_.key & 0x0F;
  return key == 0x03 || (key == 0x05 && (sense_.code == 0x21 || sense_.code == 0x64));
}

void DPM_DeviceTrack::spinUp() {
  spunUp_ = true;
  (void)MMC_WaitTestUnitReady(ref_, qdt::kReadyTriesBeforeReading);
  std::uint16_t written = 0;
  (void)MMC_Util_SetReadWriteSpeed(ref_, qdt::kFastest, qdt::kFastest, &written);
  MMC_SenseData sense{};
  (void)MMC_StartUnit(ref_, false, &sense);
  (void)MMC_WaitTestUnitReady(ref_, qdt::kReadyTriesAfterStart);
}

EngineStatus DPM_DeviceTrack::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                         std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (transferBlock_ == 0) return kErrProducerNoSource;
  std::uint32_t n = std::min({maxBlocks, totalBlocks - delivered_, bufferBytes / transferBlock_});
  if (n == 0) return kNoErr;
  if (buffer == nullptr) return kErrBadArgument;
  auto* out = static_cast<std::uint8_t*>(buffer);
  EngineStatus status = kNoErr;
  if (!spunUp_) {
    spinUp();
    // The drive may still be becoming ready: the first read is tried again while it says so.
    for (int attempt = 0; attempt < qdt::kSpinUpReads; ++attempt) {
      status = read(nextLba_, n, out);
      if (status == kNoErr ||
          quillion::classifySense(sense_) != quillion::SenseClass::BecomingReady)
        break;
    }
  } else {
    status = read(nextLba_, n, out);
  }
  std::uint32_t got = n;
  if (status != kNoErr) {
    if (!unreadable()) return kErrSourceRead;
    // Block by block: which blocks cannot be read, and where they lie.
    const std::uint32_t zoneStart = totalBlocks > kRunOutZone ? totalBlocks - kRunOutZone : 0;
    got = 0;
    status = kNoErr;
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t* block = out + std::size_t{i} * transferBlock_;
      if (read(nextLba_ + i, 1, block) == kNoErr) continue;
      if (!unreadable() || delivered_ + i < zoneStart) {
        // Outside the run-out, or not a medium error: what came before is delivered, and
        // the copy ends here with the drive's sense.
        got = i;
        status = kErrSourceRead;
        break;
      }
      std::memset(block, 0, transferBlock_);
      ++zeroFilled_;
    }
    if (status == kNoErr) got = n;
  }
  if (transferBlock_ != blockSize) {
    quillion::cutSectors(out, got, transferBlock_, outputOffset_, blockSize);
  }
  nextLba_ += got;
  delivered_ += got;
  *gotBlocks = got;
  return status;
}
