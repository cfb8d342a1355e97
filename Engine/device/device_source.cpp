// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/device_source.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

#include "platform/device/udev_source.h"

namespace quillion {
namespace {

std::mutex g_factoryMutex;
EmulatedSourceFactory& emulatedFactory() {
  static EmulatedSourceFactory factory;
  return factory;
}

bool systemDrivesWanted() {
  const char* value = std::getenv("QUILLION_SYSTEM_DRIVES");
  return !(value && std::string_view(value) == "0");
}

}  // namespace

void setEmulatedSourceFactory(EmulatedSourceFactory factory) {
  std::lock_guard lock(g_factoryMutex);
  emulatedFactory() = std::move(factory);
}

std::vector<std::unique_ptr<DeviceSource>> makeDeviceSources() {
  std::vector<std::unique_ptr<DeviceSource>> sources;
  if (systemDrivesWanted()) {
    if (auto udev = makeUdevDeviceSource()) sources.push_back(std::move(udev));
  }
  const char* folder = std::getenv("QUILLION_EMULATED_DRIVES");
  std::lock_guard lock(g_factoryMutex);
  if (folder && *folder && emulatedFactory()) {
    if (auto emulated = emulatedFactory()(folder)) sources.push_back(std::move(emulated));
  }
  return sources;
}

}  // namespace quillion
