// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_image_file_track.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "DPMs/tracks/sector_cut.h"
#include "image/cd_image_file.h"

namespace {
constexpr std::uint32_t kMode2SubHeaderBytes = 8;
}  // namespace

DPM_ImageFileTrack::DPM_ImageFileTrack(CDImageFile* image, std::uint16_t track)
    : image_(image), track_(track) {}

void DPM_ImageFileTrack::SetFilterTo2048(bool) {
  filter2048_ = true;
  filter2332_ = false;
  blockSize = 2048;
}

void DPM_ImageFileTrack::SetFilterTo2332(bool) {
  filter2332_ = true;
  filter2048_ = false;
  blockSize = 2332;
}

std::uint32_t DPM_ImageFileTrack::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (image_ == nullptr) return 0;
  WLTTRACK info;
  if (image_->GetTrackInfo(track_, &info) != kNoErr || info.blockSize == 0) return 0;
  storedBlockSize_ = info.blockSize;
  present_ = static_cast<std::uint32_t>(info.dataLength / info.blockSize);
  totalBlocks = present_;
  if (!filter2048_ && !filter2332_) blockSize = storedBlockSize_;
  // A filter cuts what the stored block holds; it cannot make a block larger.
  if (blockSize > storedBlockSize_ ||
      (filter2048_ && kMode2SubHeaderBytes + 2048 > storedBlockSize_)) {
    return 0;
  }
  if (size != nullptr) *size = static_cast<std::uint16_t>(blockSize);
  delivered_ = 0;
  opened_ = false;
  return totalBlocks;
}

EngineStatus DPM_ImageFileTrack::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                            std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (image_ == nullptr || buffer == nullptr || maxBlocks == 0 || gotBlocks == nullptr) {
    return kErrBadArgument;
  }
  *gotBlocks = 0;
  if (storedBlockSize_ == 0) return kErrProducerNoSource;
  if (!opened_) {
    std::uint32_t stored = 0;
    if (image_->OpenTrack(track_, &stored) != present_ || stored != storedBlockSize_) {
      return kErrSourceRead;
    }
    opened_ = true;
  }
  const std::uint32_t n = std::min({maxBlocks, totalBlocks - delivered_, bufferBytes / blockSize});
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t fromImage = delivered_ < present_ ? std::min(n, present_ - delivered_) : 0;
  if (fromImage > 0) {
    std::uint32_t read = 0;
    if (storedBlockSize_ == blockSize) {
      read = image_->ReadData(out, fromImage);
    } else {
      std::vector<std::uint8_t> sector(storedBlockSize_);
      const std::uint32_t offset = filter2048_ ? kMode2SubHeaderBytes : 0;
      while (read < fromImage && image_->ReadData(sector.data(), 1) == 1) {
        std::memcpy(out + std::size_t{read} * blockSize, sector.data() + offset, blockSize);
        ++read;
      }
    }
    if (read != fromImage) return kErrSourceRead;
  }
  // Blocks beyond what the image holds (the total was raised) are zeros.
  std::memset(out + std::size_t{fromImage} * blockSize, 0, std::size_t{n - fromImage} * blockSize);
  delivered_ += n;
  *gotBlocks = n;
  return kNoErr;
}
