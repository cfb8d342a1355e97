// SPDX-License-Identifier: GPL-2.0-or-later
// Device control over emulated drives only, on a virtual clock, for one test: a temporary
// folder for QUILLION_EMULATED_DRIVES and the drives' discs, DC_Init at construction and
// DC_Term at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "device_list.h"
#include "emulated_bus.h"
#include "quillion/DC.h"
#include "quillion/clock.h"
#include "tests/support/test_support.h"

namespace quillion::emu {

class DeviceEnvironment {
public:
  DeviceEnvironment() : clockGuard_(clock_) {
    ::setenv("QUILLION_EMULATED_DRIVES", folder_.path().c_str(), 1);
    ::setenv("QUILLION_SYSTEM_DRIVES", "0", 1);
    EmulatedBus::instance().reset();
  }
  ~DeviceEnvironment() {
    stop();
    EmulatedBus::instance().reset();
    ::unsetenv("QUILLION_EMULATED_DRIVES");
    ::unsetenv("QUILLION_SYSTEM_DRIVES");
  }
  DeviceEnvironment(const DeviceEnvironment&) = delete;
  DeviceEnvironment& operator=(const DeviceEnvironment&) = delete;

  void start(double version = 1000) {
    (void)DC_Init(version);
    started_ = true;
  }
  void stop() {
    if (started_) DC_Term();
    started_ = false;
  }

  const std::filesystem::path& folder() const { return folder_.path(); }
  VirtualClock& clock() { return clock_; }

  // Plugs a drive of a preset (named `name`, product "<name>") with an optional disc.
  std::shared_ptr<EmulatedDrive> plug(const std::string& name, const std::string& preset = "dvd-writer") {
    auto config = DriveConfig::preset(preset);
    config->name = name;
    config->product = name;
    return EmulatedBus::instance().plug(*config);
  }

  // A blank disc (or unformatted, for random-writable profiles) in the drive's own folder.
  Medium blankDisc(const std::string& name, std::uint16_t profile, std::uint32_t capacity) {
    return Medium::blank(folder_.path() / (name + ".medium"), profile, capacity);
  }

  // The reference of the drive whose model is `name`; 0 when it is not listed.
  static std::uint32_t refOf(const std::string& name) {
    for (const auto& d : test::connectedDevices())
      if (name == d.model) return d.ref;
    return 0;
  }

  static std::size_t pump() {
    std::size_t delivered = 0;
    (void)pumpDeviceEvents(&delivered);
    return delivered;
  }

private:
  VirtualClock clock_;
  ScopedClockOverride clockGuard_;
  test::TempDir folder_;  // goes after the drives have stopped
  bool started_ = false;
};

}  // namespace quillion::emu
