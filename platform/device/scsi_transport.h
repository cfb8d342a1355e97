// SPDX-License-Identifier: GPL-2.0-or-later
// The one seam between command execution and whatever carries a command block to a drive:
// SG_IO on a Linux device node, or the emulated drive of the tests. Everything above it
// (status mapping, sense parsing, locking) exists once.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "quillion/status.h"

namespace quillion {

enum class DataDirection : std::uint8_t { None, In, Out };

struct ScsiRequest {
  std::span<const std::uint8_t> cdb;
  DataDirection direction = DataDirection::None;
  std::span<std::uint8_t> buffer;  // read from for Out, filled for In
  // Always set: the caller turns "no limit" into a long bound.
  std::chrono::milliseconds timeout{0};
};

// SCSI status byte values (SAM).
inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;
inline constexpr std::uint8_t kScsiBusy = 0x08;

// Host status values as the Linux SCSI mid-layer reports them.
inline constexpr std::uint16_t kHostOk = 0x00;
inline constexpr std::uint16_t kHostNoConnect = 0x01;
inline constexpr std::uint16_t kHostBusBusy = 0x02;
inline constexpr std::uint16_t kHostTimeOut = 0x03;
inline constexpr std::uint16_t kHostError = 0x07;

// Driver status: the sense buffer holds valid sense (SG's DRIVER_SENSE).
inline constexpr std::uint16_t kDriverSense = 0x08;
inline constexpr std::uint16_t kDriverTimeout = 0x06;

struct ScsiResult {
  // False when the command never reached a verdict from the drive (the ioctl failed, the
  // device went away, the host adapter timed out): the status is -1179 whatever else says.
  bool delivered = false;
  int sysError = 0;  // errno of a failed ioctl, 0 otherwise
  std::uint8_t scsiStatus = kScsiGood;
  std::uint16_t hostStatus = kHostOk;
  std::uint16_t driverStatus = 0;
  std::array<std::uint8_t, 64> sense{};
  std::uint8_t senseLength = 0;
  std::uint32_t residual = 0;  // bytes of the data phase that were not moved
};

// One open path to one drive. Not shared between threads without the caller's own lock.
class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  virtual ScsiResult execute(const ScsiRequest& request) = 0;
};

}  // namespace quillion
