// SPDX-License-Identifier: GPL-2.0-or-later
// Commands through the Linux SG_IO ioctl on an open optical device node.
#pragma once

#include "platform/device/scsi_transport.h"

namespace quillion {

class SgIoTransport final : public ScsiTransport {
public:
  explicit SgIoTransport(int fd) : fd_(fd) {}  // takes ownership of fd
  ~SgIoTransport() override;
  SgIoTransport(const SgIoTransport&) = delete;
  SgIoTransport& operator=(const SgIoTransport&) = delete;

  ScsiResult execute(const ScsiRequest& request) override;
  int fd() const { return fd_; }

private:
  int fd_;
};

// The verdict of one sg_io_hdr after the ioctl returned (exposed for tests).
ScsiResult interpretSgIo(int ioctlResult, int error, std::uint8_t status, std::uint16_t hostStatus,
                         std::uint16_t driverStatus, std::uint32_t residual, const std::uint8_t* sense,
                         std::uint8_t senseLength);

}  // namespace quillion
