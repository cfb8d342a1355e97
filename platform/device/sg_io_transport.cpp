// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/sg_io_transport.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace quillion {

SgIoTransport::~SgIoTransport() {
  if (fd_ >= 0) ::close(fd_);
}

ScsiResult interpretSgIo(int ioctlResult, int error, std::uint8_t status, std::uint16_t hostStatus,
                         std::uint16_t driverStatus, std::uint32_t residual, const std::uint8_t* sense,
                         std::uint8_t senseLength) {
  ScsiResult r;
  if (ioctlResult < 0) {
    r.sysError = error;
    return r;  // never reached the drive, or the device went away
  }
  r.hostStatus = hostStatus;
  r.driverStatus = driverStatus;
  r.scsiStatus = status;
  r.residual = residual;
  r.senseLength = std::min<std::uint8_t>(senseLength, static_cast<std::uint8_t>(r.sense.size()));
  if (sense && r.senseLength) std::memcpy(r.sense.data(), sense, r.senseLength);
  // A host adapter that lost the device or timed out gives no verdict from the drive, even
  // when the status byte reads GOOD. A driver-side sense flag with GOOD status still means
  // CHECK CONDITION (older kernels report it that way).
  const bool driverTimeout = (driverStatus & 0x0F) == kDriverTimeout;
  r.delivered = hostStatus == kHostOk && !driverTimeout;
  if (r.delivered && r.scsiStatus == kScsiGood && (driverStatus & kDriverSense) && r.senseLength) {
    r.scsiStatus = kScsiCheckCondition;
  }
  return r;
}

ScsiResult SgIoTransport::execute(const ScsiRequest& request) {
  sg_io_hdr_t hdr{};
  std::uint8_t sense[64]{};
  std::uint8_t cdb[16]{};
  const std::size_t cdbLength = std::min(request.cdb.size(), sizeof cdb);
  std::memcpy(cdb, request.cdb.data(), cdbLength);
  hdr.interface_id = 'S';
  hdr.cmdp = cdb;
  hdr.cmd_len = static_cast<unsigned char>(cdbLength);
  hdr.sbp = sense;
  hdr.mx_sb_len = sizeof sense;
  switch (request.direction) {
    case DataDirection::In:
      hdr.dxfer_direction = SG_DXFER_FROM_DEV;
      break;
    case DataDirection::Out:
      hdr.dxfer_direction = SG_DXFER_TO_DEV;
      break;
    case DataDirection::None:
      hdr.dxfer_direction = SG_DXFER_NONE;
      break;
  }
  if (request.direction != DataDirection::None) {
    hdr.dxferp = request.buffer.data();
    hdr.dxfer_len = static_cast<unsigned>(request.buffer.size());
  }
  // 0 would make the kernel use its own default; the caller always gives a bound.
  const auto ms = std::clamp<std::int64_t>(request.timeout.count(), 1, std::numeric_limits<unsigned>::max());
  hdr.timeout = static_cast<unsigned>(ms);
  // No retry on EINTR: the command may already have run, and a repeated WRITE at the next
  // writable address would not be the same command any more.
  const int rc = ::ioctl(fd_, SG_IO, &hdr);
  return interpretSgIo(rc, rc < 0 ? errno : 0, hdr.status, hdr.host_status, hdr.driver_status,
                       static_cast<std::uint32_t>(std::max(hdr.resid, 0)), sense, hdr.sb_len_wr);
}

}  // namespace quillion
