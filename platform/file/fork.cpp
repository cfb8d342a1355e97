// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file/fork.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file/xattr.h"

namespace quillion {
namespace {

EngineStatus readLinkText(const std::string& path, std::vector<std::uint8_t>& out) {
  std::vector<char> text(256);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
    if (n < 0) return kErrFileAccess;
    if (static_cast<std::size_t>(n) < text.size()) {
      out.assign(text.begin(), text.begin() + n);
      return kNoErr;
    }
    text.resize(text.size() * 2);
  }
}

// A plain file opened for reading, or (`isLink`) the path ends in a symbolic link.
EngineStatus openRegular(const std::string& path, int& fd, bool& isLink) {
  isLink = false;
  fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    // O_NOFOLLOW refuses a link at the end of the path with ELOOP (as it does a loop of
    // links in the folders above, which lstat tells apart).
    struct stat st {};
    isLink = errno == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    return kErrFileAccess;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    fd = -1;
    return kErrFileAccess;
  }
  return kNoErr;
}

}  // namespace

Fork::~Fork() {
  if (fd_ >= 0) ::close(fd_);
}

EngineStatus Fork::open(const FileRef& ref, ForkKind kind, std::unique_ptr<Fork>& out) {
  out.reset();
  if (ref.empty()) return kErrBadArgument;
  std::unique_ptr<Fork> fork(new Fork());
  if (kind == ForkKind::resource) {
    if (readXattr(ref.path(), kResourceForkXattr, fork->memory_) != kNoErr) return kErrFileAccess;
  } else {
    // Opened first and examined through the descriptor: most entries are plain files, and
    // this spares a walk of the whole path for each.
    bool isLink = false;
    if (openRegular(ref.path(), fork->fd_, isLink) != kNoErr) {
      if (!isLink || readLinkText(ref.path(), fork->memory_) != kNoErr) return kErrFileAccess;
    }
  }
  out = std::move(fork);
  return kNoErr;
}

std::size_t Fork::read(void* buffer, std::size_t length) {
  auto* dest = static_cast<std::uint8_t*>(buffer);
  if (fd_ < 0) {
    const std::uint64_t end = memory_.size();
    const std::uint64_t at = static_cast<std::uint64_t>(position_);
    if (at >= end) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, end - at));
    std::memcpy(dest, memory_.data() + at, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, dest + done, length - done, position_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
    position_ += n;
  }
  return done;
}

std::uint64_t Fork::size() const {
  if (fd_ < 0) return memory_.size();
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::int64_t Fork::seek(std::int64_t offset, SeekFrom from) {
  std::int64_t base = 0;
  if (from == SeekFrom::current) base = position_;
  if (from == SeekFrom::end) base = static_cast<std::int64_t>(size());
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  position_ = target;
  return position_;
}

}  // namespace quillion
