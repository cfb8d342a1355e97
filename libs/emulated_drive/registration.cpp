// SPDX-License-Identifier: GPL-2.0-or-later
// Compiled into every program that links the emulated drive: it lets device control find the
// drives of QUILLION_EMULATED_DRIVES. (A static library would drop an object nobody calls.)
#include "device/device_source.h"
#include "emulated_bus.h"

namespace {

const bool g_registered = [] {
  quillion::setEmulatedSourceFactory([](const std::filesystem::path& folder) -> std::unique_ptr<quillion::DeviceSource> {
    return quillion::emu::makeWatchedFolderSource(folder);
  });
  return true;
}();

}  // namespace
