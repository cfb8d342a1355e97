// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_raw_data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DPMs/tracks/sector_cut.h"

namespace {

constexpr std::uint32_t kRawSector = 2352;
constexpr std::uint32_t kRawUserDataAt = 16;

// Reads until `length` bytes, the end of the file or an error; answers the count.
std::size_t readFully(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

DPM_RawDataFile::DPM_RawDataFile(const std::string& path, std::uint32_t size, std::uint32_t blocks,
                                 std::uint64_t startOffset, std::uint32_t sourceBlockSize)
    : path_(path), position_(startOffset), sourceBlockSize_(sourceBlockSize) {
  blockSize = size;
  totalBlocks = blocks;
  const bool deviceNode = path.rfind("/dev/", 0) == 0;
  // A device's size is not in its catalog entry, so its blocks must be given.
  if (deviceNode && (startOffset != 0 || blocks == 0)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  const bool usable =
      ::fstat(fd, &st) == 0 && (deviceNode ? S_ISBLK(st.st_mode) : S_ISREG(st.st_mode));
  if (!usable) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  if (blocks == 0 && !deviceNode && unit() != 0) {
    const std::uint64_t size64 = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t bytes = size64 > startOffset ? size64 - startOffset : 0;
    const std::uint64_t count = (bytes + unit() - 1) / unit();
    totalBlocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu));
    expectedBytes_ = std::min<std::uint64_t>(bytes, std::uint64_t{totalBlocks} * unit());
  } else {
    expectedBytes_ = std::uint64_t{totalBlocks} * unit();
  }
}

DPM_RawDataFile::~DPM_RawDataFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::uint32_t DPM_RawDataFile::unit() const {
  return sourceBlockSize_ == kRawSector ? kRawSector : blockSize;
}

std::uint32_t DPM_RawDataFile::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (fd_ < 0) return 0;
  if (size != nullptr) {
    if (*size != 0) {
      blockSize = *size;
    } else {
      *size = static_cast<std::uint16_t>(blockSize);
    }
  }
  if (blockSize == 0 || (sourceBlockSize_ == kRawSector && blockSize > kRawSector)) return 0;
  owed_ = totalBlocks;
  return totalBlocks;
}

void DPM_RawDataFile::SetTotalBlocks(std::uint32_t blocks) {
  const std::uint64_t bytes = std::uint64_t{blocks} * unit();
  expectedBytes_ = blocks > totalBlocks ? bytes : std::min(expectedBytes_, bytes);
  totalBlocks = blocks;
  owed_ = blocks > delivered_ ? blocks - delivered_ : 0;
}

EngineStatus DPM_RawDataFile::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                         std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (gotBlocks != nullptr) *gotBlocks = 0;
  if (buffer == nullptr || gotBlocks == nullptr) return kErrOutOfMemory;
  if (fd_ < 0) return kErrProducerNoSource;
  const std::uint32_t u = unit();
  if (u == 0) return kErrProducerNoSource;
  const std::uint32_t n = std::min({owed_, maxBlocks, bufferBytes / u});
  if (n == 0) return kNoErr;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::size_t want = std::size_t{n} * u;
  // Bytes past what the track should hold are not the track's: a larger file is cut.
  const std::size_t allowed = static_cast<std::size_t>(
      std::min<std::uint64_t>(want, expectedBytes_ > consumed_ ? expectedBytes_ - consumed_ : 0));
  const std::size_t got = readFully(fd_, position_, out, allowed);
  std::memset(out + got, 0, want - got);
  // Past an unreadable stretch too, so that every later block stays in its place.
  position_ += allowed;
  consumed_ += allowed;
  readBytes_ += got;
  if (got < allowed && missing_.empty()) {
    DPM_MissingData m;
    m.path = path_;
    m.expectedBytes = expectedBytes_;
    m.readBytes = readBytes_;
    missing_.push_back(m);
  }
  if (u != blockSize) quillion::cutSectors(out, n, u, kRawUserDataAt, blockSize);
  owed_ -= n;
  delivered_ += n;
  *gotBlocks = n;
  return kNoErr;
}
