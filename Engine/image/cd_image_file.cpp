// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/cd_image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "quillion/clock.h"

namespace {

// Writes all of `length` bytes at `offset`, going on after interruptions and partial writes;
// false when the file refused any of it (full disk, size limit, I/O error).
bool writeAll(int fd, std::uint64_t offset, const std::uint8_t* data, std::uint64_t length) {
  while (length) {
    const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::uint64_t>(n);
  }
  return true;
}

// Reads up to `length` bytes at `offset`; answers how many were read (fewer only at the end of
// the file), or -1 on an error.
ssize_t readAll(int fd, std::uint64_t offset, std::uint8_t* out, std::uint64_t length) {
  std::uint64_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  return static_cast<ssize_t>(done);
}

std::uint32_t secondsSinceEpoch() {
  const auto now = quillion::engineClock().wallNow().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

CDImageFile::CDImageFile(bool isoMode) : isoMode_(isoMode) {}

CDImageFile::~CDImageFile() {
  closeFile();
}

void CDImageFile::closeFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  mode_ = Mode::Closed;
}

EngineStatus CDImageFile::Open(const char* path, bool forWriting) {
  if (!path) return kErrBadArgument;
  closeFile();
  header_ = WltHeader{};
  fileEnd_ = 0;
  trackTakesData_ = false;
  openSession_ = -1;
  readTrack_ = -1;
  return forWriting ? openForWriting(path) : openForReading(path);
}

EngineStatus CDImageFile::openForWriting(const char* path) {
  // An earlier image at the path is replaced, but nothing else is: run as root, a mistyped
  // path could otherwise delete a device node or a folder's entry that is not ours.
  struct stat existing {};
  if (::lstat(path, &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
    return kErrImageOpen;
  if (::unlink(path) != 0 && errno != ENOENT) return kErrImageOpen;
  // O_EXCL: whatever appears at the path between the unlink and here is not written through.
  fd_ = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) return kErrImageOpen;
  mode_ = Mode::Writing;
  header_.created = secondsSinceEpoch();
  if (isoMode_) return kNoErr;
  // Until Close the header on disk holds only the magic and the time.
  WltHeader first;
  first.created = header_.created;
  const auto bytes = quillion::wlt::encode(first);
  if (!writeAll(fd_, 0, bytes.data(), bytes.size())) {
    closeFile();
    return kErrImageWrite;
  }
  fileEnd_ = bytes.size();
  return kNoErr;
}

EngineStatus CDImageFile::openForReading(const char* path) {
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return kErrImageOpen;
  struct stat st {};
  std::vector<std::uint8_t> bytes(kWltHeaderBytes);
  if (::fstat(fd_, &st) != 0 ||
      readAll(fd_, 0, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    closeFile();
    return kErrImageOpen;
  }
  auto header = quillion::wlt::decode(bytes);
  if (!header) {
    closeFile();
    return kErrImageMagic;
  }
  if (const EngineStatus status =
          quillion::wlt::validate(*header, static_cast<std::uint64_t>(st.st_size));
      status != kNoErr) {
    closeFile();
    return status;
  }
  header_ = *header;
  mode_ = Mode::Reading;
  return kNoErr;
}

EngineStatus CDImageFile::writeAt(std::uint64_t offset, const void* data, std::uint64_t length) {
  return writeAll(fd_, offset, static_cast<const std::uint8_t*>(data), length) ? kNoErr
                                                                               : kErrImageWrite;
}

EngineStatus CDImageFile::Close() {
  if (mode_ != Mode::Writing) {
    closeFile();
    return kNoErr;
  }
  EngineStatus status = kNoErr;
  // A session left open still owns its tracks; the header must say so to be read again.
  if (openSession_ >= 0) status = CloseSession();
  if (!isoMode_ && status == kNoErr) {
    const auto bytes = quillion::wlt::encode(header_);
    status = writeAt(0, bytes.data(), bytes.size());
  }
  // A full disk or a failing device can show itself only when the data reach it.
  if (::fsync(fd_) != 0 && status == kNoErr) status = kErrImageWrite;
  const int closed = ::close(fd_);
  fd_ = -1;
  mode_ = Mode::Closed;
  if (closed != 0 && status == kNoErr) status = kErrImageWrite;
  return status;
}

EngineStatus CDImageFile::NewSession(const WLTSESSION& session) {
  if (mode_ != Mode::Writing) return kErrImageMode;
  if (header_.sessionCount >= kWltMaxSessions) return kErrImageTrackCount;
  WLTSESSION& s = header_.sessions[header_.sessionCount];
  s = WLTSESSION{};
  s.sessionAtOnce = session.sessionAtOnce;
  s.marker = session.marker;
  s.sessionType = session.sessionType;
  s.closeDisc = session.closeDisc;
  s.startBlock = session.startBlock;
  s.firstTrack = static_cast<std::uint16_t>(header_.trackCount + 1);
  openSession_ = header_.sessionCount;
  return kNoErr;
}

EngineStatus CDImageFile::CloseSession() {
  if (mode_ != Mode::Writing) return kErrImageMode;
  if (openSession_ < 0) return kErrBadArgument;
  WLTSESSION& s = header_.sessions[static_cast<std::size_t>(openSession_)];
  s.trackCount = static_cast<std::uint16_t>(header_.trackCount + 1 - s.firstTrack);
  ++header_.sessionCount;
  openSession_ = -1;
  trackTakesData_ = false;
  return kNoErr;
}

EngineStatus CDImageFile::NewTrack(const WLTTRACK& track) {
  if (mode_ != Mode::Writing) return kErrImageMode;
  if (isoMode_ && header_.trackCount > 0) return kErrImageTrackCount;
  if (header_.trackCount >= kWltMaxTracks) return kErrImageTrackCount;
  // What the reader would refuse is not written: a block size no disc block has, or a track
  // outside every session.
  if (track.blockSize == 0 || track.blockSize > kWltMaxBlockSize) return kErrBadArgument;
  if (!isoMode_ && openSession_ < 0) return kErrBadArgument;
  if (isoMode_) {
    // An ISO image is the one track's data alone.
    if (::ftruncate(fd_, 0) != 0) return kErrImageWrite;
    fileEnd_ = 0;
  }
  WLTTRACK& t = header_.tracks[header_.trackCount];
  t = WLTTRACK{};
  t.trackType = track.trackType;
  t.typeExtra = track.typeExtra;
  t.blockSize = track.blockSize;
  t.info = track.info;
  t.pregap = track.pregap;
  t.startBlock = track.startBlock;
  t.number = static_cast<std::uint16_t>(header_.trackCount + 1);
  t.dataOffset = fileEnd_;
  ++header_.trackCount;
  trackTakesData_ = true;
  return kNoErr;
}

EngineStatus CDImageFile::WriteData(const void* buffer, std::uint32_t blocks) {
  if (!buffer || blocks == 0) return kErrBadArgument;
  if (mode_ != Mode::Writing) return kErrImageMode;
  if (!trackTakesData_) return kErrBadArgument;
  WLTTRACK& t = header_.tracks[header_.trackCount - 1u];
  const std::uint64_t bytes = std::uint64_t{blocks} * t.blockSize;
  // The track's data stay contiguous: each write lands right after what it already holds.
  const std::uint64_t at = t.dataOffset + t.dataLength;
  if (const EngineStatus status = writeAt(at, buffer, bytes); status != kNoErr) return status;
  t.dataLength += bytes;
  fileEnd_ = std::max(fileEnd_, at + bytes);
  return kNoErr;
}

EngineStatus CDImageFile::CloseTrack() {
  if (mode_ != Mode::Writing) return kErrImageMode;
  trackTakesData_ = false;
  return kNoErr;
}

EngineStatus CDImageFile::WriteCDTextRawData(const void* buffer, std::uint32_t length) {
  if (!buffer || length == 0) return kErrBadArgument;
  if (mode_ != Mode::Writing) return kErrImageMode;
  if (isoMode_) return kNoErr;
  // Appended behind a track that still takes data, the block would be overwritten by it.
  if (trackTakesData_) return kErrImageMode;
  if (fileEnd_ + length > 0xFFFFFFFFu) return kErrImageWrite;  // the header keeps 32-bit offsets
  if (const EngineStatus status = writeAt(fileEnd_, buffer, length); status != kNoErr)
    return status;
  header_.cdTextOffset = static_cast<std::uint32_t>(fileEnd_);
  header_.cdTextLength = length;
  fileEnd_ += length;
  return kNoErr;
}

EngineStatus CDImageFile::CDImageInfo(std::uint16_t* sessions, std::uint16_t* tracks) const {
  if (sessions) *sessions = header_.sessionCount;
  if (tracks) *tracks = header_.trackCount;
  return kNoErr;
}

EngineStatus CDImageFile::GetSessionInfo(std::uint16_t number, WLTSESSION* out) const {
  if (mode_ == Mode::Writing) return kErrImageMode;
  if (!out || number == 0 || number > header_.sessionCount) return kErrBadArgument;
  *out = header_.sessions[number - 1u];
  return kNoErr;
}

EngineStatus CDImageFile::GetTrackInfo(std::uint16_t number, WLTTRACK* out) const {
  if (mode_ == Mode::Writing) return kErrImageMode;
  if (!out || number == 0 || number > header_.trackCount) return kErrBadArgument;
  *out = header_.tracks[number - 1u];
  return kNoErr;
}

EngineStatus CDImageFile::GetCDTextRawData(std::vector<std::uint8_t>& out) const {
  out.clear();
  if (mode_ != Mode::Reading) return kErrImageMode;
  if (header_.cdTextOffset == 0 || header_.cdTextLength == 0) return kNoErr;
  out.resize(header_.cdTextLength);
  if (readAll(fd_, header_.cdTextOffset, out.data(), out.size()) !=
      static_cast<ssize_t>(out.size())) {
    out.clear();
    return kErrImageWrite;
  }
  return kNoErr;
}

std::uint32_t CDImageFile::OpenTrack(std::uint16_t number, std::uint32_t* blockSize) {
  if (mode_ != Mode::Reading || number == 0 || number > header_.trackCount) return 0;
  const WLTTRACK& t = header_.tracks[number - 1u];
  readTrack_ = number - 1;
  readPosition_ = 0;
  if (blockSize) *blockSize = t.blockSize;
  return static_cast<std::uint32_t>(t.dataLength / t.blockSize);
}

std::uint32_t CDImageFile::ReadData(void* buffer, std::uint32_t blocks) {
  if (mode_ != Mode::Reading || readTrack_ < 0 || !buffer) return 0;
  const WLTTRACK& t = header_.tracks[static_cast<std::size_t>(readTrack_)];
  const std::uint64_t left = (t.dataLength - readPosition_) / t.blockSize;
  const std::uint64_t want = std::min<std::uint64_t>(blocks, left) * t.blockSize;
  const ssize_t n =
      readAll(fd_, t.dataOffset + readPosition_, static_cast<std::uint8_t*>(buffer), want);
  if (n < 0) return 0;
  const std::uint64_t whole = static_cast<std::uint64_t>(n) / t.blockSize;
  readPosition_ += whole * t.blockSize;
  return static_cast<std::uint32_t>(whole);
}
