// SPDX-License-Identifier: GPL-2.0-or-later
// What device control needs from one drive, whoever provides it (a Linux device node found
// through udev, or an emulated drive): its identity, a way to open a command path in shared
// or exclusive mode, and the side channels that are not MMC commands.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device/scsi_transport.h"
#include "quillion/status.h"

namespace quillion {

struct DriveIdentity {
  std::string key;  // stable identity for the drive's lifetime (udev syspath, "emulated:<name>")
  std::string devNode;        // "/dev/sr0"; empty when the drive has no device node
  bool takesCommands = true;  // false: a pure reader (no command path)
  bool parallelScsi = false;  // cut command blocks to the opcode group's length
  std::string interfaceText;  // "USB2", "ATAPI", "SATA", "SCSI", ...
  std::string vendor;
  std::string model;
  std::string revision;
};

enum class AccessMode : std::uint8_t {
  Shared,     // queries: other openers stay possible
  Control,    // drive settings: writable, but others stay possible
  Exclusive,  // writing and DC_LockDevice: nobody else may hold exclusive access or mount
};

struct OpenResult {
  EngineStatus status = kNoErr;  // kErrExclusiveAccess (busy), kErrNoDrive (gone), kErrTransport
  bool retryable = false;        // a passing failure worth another attempt
  std::unique_ptr<ScsiTransport> transport;
};

enum class TrayState : std::uint8_t { Unknown, Closed, Open };

class DriveBackend {
 public:
  virtual ~DriveBackend() = default;

  virtual const DriveIdentity& identity() const = 0;
  [[nodiscard]] virtual OpenResult open(AccessMode mode) = 0;

  // Side channels (the Linux cdrom ioctls and the block device itself).
  [[nodiscard]] virtual EngineStatus trayState(TrayState& state) = 0;
  [[nodiscard]] virtual EngineStatus setTray(bool open) = 0;
  // Size of the medium in bytes (0 without a medium).
  [[nodiscard]] virtual EngineStatus mediumBytes(std::uint64_t& bytes) = 0;
  // Reads `length` bytes of the medium's user data from byte `offset`.
  [[nodiscard]] virtual EngineStatus readMedium(std::uint64_t offset, std::uint8_t* buffer,
                                                std::size_t length) = 0;
  // Prevents (allows) medium removal in a way that outlasts the path it was asked on. The
  // Linux cdrom driver allows removal again when its last descriptor closes, unless it was
  // told through its own call; kErrNotSupported sends PREVENT ALLOW MEDIUM REMOVAL instead.
  [[nodiscard]] virtual EngineStatus preventRemoval(bool /*prevent*/) { return kErrNotSupported; }
};

}  // namespace quillion
