// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_device_file_track.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "DPMs/tracks/sector_cut.h"

namespace quillion::device_file_track {

constexpr std::uint32_t kRaw = 2352;
// ECMA-130 14.1: the sync pattern that opens every data sector.
constexpr std::array<std::uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::size_t kModeByte = 15;
constexpr std::size_t kSubmodeByte = 18;  // first copy of the Mode 2 subheader's submode
constexpr std::uint8_t kSubmodeForm2 = 0x20;
constexpr std::uint32_t kDataAreaAt = 16;

}  // namespace quillion::device_file_track

namespace qdft = quillion::device_file_track;

DPM_DeviceFileTrack::DPM_DeviceFileTrack(const std::string& path, std::uint32_t startBlock,
                                         std::uint32_t blocks, bool cooked)
    : path_(path), start_(startBlock), blocks_(blocks), cooked_(cooked) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

DPM_DeviceFileTrack::~DPM_DeviceFileTrack() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t DPM_DeviceFileTrack::readAt(std::uint64_t offset, std::uint8_t* out,
                                        std::size_t length) const {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::uint32_t DPM_DeviceFileTrack::probeTail(std::uint32_t blocks) const {
  if (blocks <= 2) return 0;
  std::vector<std::uint8_t> tail(2 * qdft::kRaw);
  const std::uint64_t at = (std::uint64_t{start_} + blocks - 2) * qdft::kRaw;
  const std::size_t got = readAt(at, tail.data(), tail.size());
  if (got == tail.size()) return blocks;
  if (got > 0) return blocks - 2 + static_cast<std::uint32_t>(got / qdft::kRaw);
  for (std::uint32_t i = 0; i < 2; ++i) {
    if (readAt(at + std::uint64_t{i} * qdft::kRaw, tail.data(), qdft::kRaw) != qdft::kRaw) {
      return blocks - 2 + i;
    }
  }
  return blocks;
}

std::uint32_t DPM_DeviceFileTrack::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  totalBlocks = 0;
  delivered_ = 0;
  zeroFilled_ = 0;
  if (fd_ < 0) return 0;
  std::array<std::uint8_t, qdft::kRaw> first{};
  if (cooked_) {
    blockSize = 2048;
    dataBlockType_ = 8;
    if (readAt(std::uint64_t{start_} * 2048, first.data(), 2048) != 2048) return 0;
    totalBlocks = blocks_;
  } else {
    if (readAt(std::uint64_t{start_} * qdft::kRaw, first.data(), qdft::kRaw) != qdft::kRaw) {
      return 0;
    }
    audio_ = !std::equal(qdft::kSync.begin(), qdft::kSync.end(), first.begin());
    if (audio_) {
      dataBlockType_ = 0;
      blockSize = qdft::kRaw;
      offset_ = 0;
    } else {
      mode_ = first[qdft::kModeByte];
      if (mode_ == 1) {
        dataBlockType_ = 8;
        blockSize = 2048;
      } else if (mode_ == 2 || mode_ == 0) {
        form_ = (first[qdft::kSubmodeByte] & qdft::kSubmodeForm2) != 0 ? 2 : 1;
        dataBlockType_ = 9;
        blockSize = 2336;
      } else {
        return 0;
      }
      offset_ = qdft::kDataAreaAt;
    }
    totalBlocks = probeTail(blocks_);
  }
  if (size != nullptr) *size = static_cast<std::uint16_t>(blockSize);
  return totalBlocks;
}

EngineStatus DPM_DeviceFileTrack::GetTrackParams(bool* audio, std::uint8_t* dataBlockType,
                                                 std::uint8_t* mode, std::uint8_t* form) const {
  if (audio != nullptr) *audio = audio_;
  if (dataBlockType != nullptr) *dataBlockType = dataBlockType_;
  if (mode != nullptr) *mode = mode_;
  if (form != nullptr) *form = form_;
  return kNoErr;
}

EngineStatus DPM_DeviceFileTrack::SetDataBlockType(std::uint8_t type) {
  if (type == 13 && !cooked_ && !audio_ && mode_ == 2) {
    dataBlockType_ = 13;
    blockSize = 2332;
    offset_ = qdft::kDataAreaAt;
  }
  return kNoErr;
}

EngineStatus DPM_DeviceFileTrack::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                             std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (fd_ < 0 || blockSize == 0) return kErrProducerNoSource;
  const std::uint32_t u = unit();
  std::uint32_t n = std::min({maxBlocks, totalBlocks - delivered_, bufferBytes / u});
  if (n == 0) return kNoErr;
  if (buffer == nullptr) return kErrBadArgument;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t at = (std::uint64_t{start_} + delivered_) * u;
  const std::size_t bytes = readAt(at, out, std::size_t{n} * u);
  std::uint32_t got = static_cast<std::uint32_t>(bytes / u);
  EngineStatus status = kNoErr;
  if (got < n) {
    const std::uint32_t zoneStart = totalBlocks > kRunOutZone ? totalBlocks - kRunOutZone : 0;
    if (delivered_ + got >= zoneStart) {
      // Only the run-out may be missing: the rest of the request becomes zeros.
      std::memset(out + std::size_t{got} * u, 0, std::size_t{n - got} * u);
      zeroFilled_ += n - got;
      got = n;
    } else if (got == 0) {
      status = kErrSourceRead;
    }
  }
  if (!cooked_ && blockSize != qdft::kRaw) {
    quillion::cutSectors(out, got, qdft::kRaw, offset_, blockSize);
  }
  delivered_ += got;
  *gotBlocks = got;
  return status;
}
