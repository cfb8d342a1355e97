// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/linux_drive.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device/sg_io_transport.h"

namespace quillion {
namespace {

// Shared: the kernel lets read-type commands through on a read-only descriptor. Control:
// settings commands need a writable descriptor. Exclusive: O_EXCL keeps out other exclusive
// holders and mounts. O_NONBLOCK opens a drive without a medium (and a pressed disc for
// writing) and keeps the kernel from locking the tray.
int flagsFor(AccessMode mode) {
  switch (mode) {
    case AccessMode::Exclusive:
      return O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC;
    case AccessMode::Control:
      return O_RDWR | O_NONBLOCK | O_CLOEXEC;
    case AccessMode::Shared:
      break;
  }
  return O_RDONLY | O_NONBLOCK | O_CLOEXEC;
}

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

}  // namespace

OpenResult openFailure(int error) {
  OpenResult r;
  switch (error) {
    case EBUSY:
      r.status = kErrExclusiveAccess;  // held elsewhere, or a volume is still mounted
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      r.status = kErrNoDrive;
      break;
    case EINTR:
    case EAGAIN:
      r.status = kErrExclusiveAccess;
      r.retryable = true;
      break;
    default:
      r.status = kErrTransport;  // EACCES, EROFS, ...
      break;
  }
  return r;
}

OpenResult LinuxDrive::open(AccessMode mode) {
  const int fd = ::open(identity_.devNode.c_str(), flagsFor(mode));
  if (fd < 0) return openFailure(errno);
  OpenResult r;
  r.transport = std::make_unique<SgIoTransport>(fd);
  return r;
}

EngineStatus LinuxDrive::trayState(TrayState& state) {
  Fd fd(::open(identity_.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return openFailure(errno).status;
  const int rc = ::ioctl(fd.get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
  if (rc < 0) return kErrTransport;
  state = rc == CDS_TRAY_OPEN ? TrayState::Open : (rc == CDS_NO_INFO ? TrayState::Unknown : TrayState::Closed);
  return kNoErr;
}

EngineStatus LinuxDrive::setTray(bool open) {
  Fd fd(::open(identity_.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return openFailure(errno).status;
  return ::ioctl(fd.get(), open ? CDROMEJECT : CDROMCLOSETRAY, 0) < 0 ? kErrTransport : kNoErr;
}

// CDROM_LOCKDOOR sends PREVENT ALLOW MEDIUM REMOVAL and marks the lock as the user's, so the
// driver keeps it when descriptors close.
EngineStatus LinuxDrive::preventRemoval(bool prevent) {
  Fd fd(::open(identity_.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return openFailure(errno).status;
  return ::ioctl(fd.get(), CDROM_LOCKDOOR, prevent ? 1 : 0) < 0 ? kErrTransport : kNoErr;
}

EngineStatus LinuxDrive::mediumBytes(std::uint64_t& bytes) {
  bytes = 0;
  Fd fd(::open(identity_.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return openFailure(errno).status;
  return ::ioctl(fd.get(), BLKGETSIZE64, &bytes) < 0 ? kErrTransport : kNoErr;
}

EngineStatus LinuxDrive::readMedium(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
  Fd fd(::open(identity_.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return openFailure(errno).status;
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd.get(), buffer + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kErrTransport;  // a short medium is as unreadable as a failing one
    done += static_cast<std::size_t>(n);
  }
  return kNoErr;
}

}  // namespace quillion
