// SPDX-License-Identifier: GPL-2.0-or-later
// A small client of udisks2 over the D-Bus system bus (sd-bus): mount and unmount one block
// device's file system and wait for the daemon's answer.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace quillion {

class UDisksClient {
public:
  // Null when there is no system bus or no udisks2 service on it.
  static std::unique_ptr<UDisksClient> connect();
  ~UDisksClient();
  UDisksClient(const UDisksClient&) = delete;
  UDisksClient& operator=(const UDisksClient&) = delete;

  // True when the daemon did it; false on any refusal (busy, not authorised, no file system).
  [[nodiscard]] bool unmount(std::string_view blockName);
  [[nodiscard]] bool mount(std::string_view blockName);

private:
  struct Bus;
  explicit UDisksClient(std::unique_ptr<Bus> bus);
  std::unique_ptr<Bus> bus_;
};

// udisks2's object path of a block device ("sr0" -> /org/freedesktop/UDisks2/block_devices/sr0),
// with the characters D-Bus does not allow escaped as _xx.
std::string udisksObjectPath(std::string_view blockName);

}  // namespace quillion
