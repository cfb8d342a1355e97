// SPDX-License-Identifier: GPL-2.0-or-later
// The bus that emulated drives sit on: device control sees it as one more device source, so
// drives can be plugged, loaded, emptied and unplugged by a test while the engine runs as it
// does with real drives. It also keeps the drives' mount table (standing in for udisks).
//
// A folder of drive definitions (one "<name>.drive" file per drive, see README) is read when
// device control starts with QUILLION_EMULATED_DRIVES naming that folder.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "emulated_drive.h"
#include "platform/device/device_source.h"

namespace quillion::emu {

inline constexpr const char* kDevicePrefix = "/dev/quillion-emu/";

class EmulatedBus {
public:
  static EmulatedBus& instance();

  // Plugs a drive in (announced to device control when it runs); replaces none.
  std::shared_ptr<EmulatedDrive> plug(const DriveConfig& config);
  void unplug(const std::string& name);
  std::shared_ptr<EmulatedDrive> find(const std::string& name) const;
  // Forgets every drive (between tests).
  void reset();

  // Reads every "<name>.drive" file of `folder`; false when one cannot be used.
  bool loadFolder(const std::filesystem::path& folder);
  // Plugs the drive of one "<name>.drive" file (with its medium); false when it cannot be
  // used or a drive of that name is plugged.
  bool loadDriveFile(const std::filesystem::path& folder, const std::filesystem::path& file);

  // The source device control starts; one at a time.
  std::unique_ptr<DeviceSource> makeSource();

  // Used by the bus's own pieces.
  void post(DeviceEvent event);
  void attach(class BusSource* source);
  void detach(class BusSource* source);
  std::vector<std::shared_ptr<DriveBackend>> backends() const;

private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<EmulatedDrive>> drives_;
  BusSource* source_ = nullptr;
};

// The source for a folder of drive files: the bus's source, and a watch on the folder that
// plugs a drive when its file appears and unplugs it when the file goes, as drives come and
// go on a real machine.
std::unique_ptr<DeviceSource> makeWatchedFolderSource(const std::filesystem::path& folder);

// Parses one drive definition ("key = value" lines); empty when it names no usable preset.
std::optional<DriveConfig> parseDriveDefinition(const std::string& name, const std::string& text,
                                                std::string* mediumPath = nullptr,
                                                std::string* mediumProfile = nullptr);

}  // namespace quillion::emu
