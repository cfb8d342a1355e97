// SPDX-License-Identifier: GPL-2.0-or-later
// A drive behind a Linux device node (/dev/srN): commands through SG_IO, exclusive access
// through O_EXCL, the tray and medium size through the cdrom and block ioctls.
#pragma once

#include "platform/device/drive_backend.h"

namespace quillion {

class LinuxDrive final : public DriveBackend {
public:
  explicit LinuxDrive(DriveIdentity identity) : identity_(std::move(identity)) {}

  const DriveIdentity& identity() const override { return identity_; }
  OpenResult open(AccessMode mode) override;
  EngineStatus trayState(TrayState& state) override;
  EngineStatus setTray(bool open) override;
  EngineStatus mediumBytes(std::uint64_t& bytes) override;
  EngineStatus readMedium(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
  EngineStatus preventRemoval(bool prevent) override;

private:
  DriveIdentity identity_;
};

// The status an open() failure stands for, and whether another attempt may help.
OpenResult openFailure(int error);

}  // namespace quillion
