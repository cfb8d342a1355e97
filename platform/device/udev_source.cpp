// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/udev_source.h"

#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/device/linux_drive.h"

namespace quillion {
namespace {

constexpr unsigned kUsbHighSpeedMbps = 480;

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

std::string trimmed(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
  return s.substr(start);
}

// The INQUIRY strings the kernel keeps for the SCSI device, else udev's sanitised copies.
std::string inquiryField(udev_device* dev, const char* attribute, const char* property) {
  if (udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(dev, "scsi", "scsi_device")) {
    const std::string value = trimmed(text(udev_device_get_sysattr_value(scsi, attribute)));
    if (!value.empty()) return value;
  }
  std::string value = text(udev_device_get_property_value(dev, property));
  std::replace(value.begin(), value.end(), '_', ' ');
  return trimmed(value);
}

unsigned usbSpeed(udev_device* dev) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
  const char* speed = usb ? udev_device_get_sysattr_value(usb, "speed") : nullptr;
  return speed ? static_cast<unsigned>(std::strtoul(speed, nullptr, 10)) : 0;
}

// udevd keeps its database (and forwards events) only while it runs; a container or a
// minimal system has the kernel's devices and events without it.
bool udevdRunning() { return ::access("/run/udev/control", F_OK) == 0; }

// The SCSI peripheral device type of the disk's SCSI device (5: CD/DVD), -1 when unknown.
int scsiType(udev_device* dev) {
  udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(dev, "scsi", "scsi_device");
  const char* type = scsi ? udev_device_get_sysattr_value(scsi, "type") : nullptr;
  return type ? std::atoi(type) : -1;
}

bool isOpticalDisk(udev_device* dev) {
  const char* type = udev_device_get_devtype(dev);
  if (!type || std::string_view(type) != "disk" || !udev_device_get_devnode(dev)) return false;
  const char* cdrom = udev_device_get_property_value(dev, "ID_CDROM");
  if (cdrom) return std::string_view(cdrom) == "1";
  // No udev properties: the device was never seen by udevd; the kernel's SCSI type says it.
  constexpr int kScsiTypeRom = 5;
  return !udev_device_get_is_initialized(dev) && scsiType(dev) == kScsiTypeRom;
}

// ID_BUS as udev's rules would set it, for devices that have no udev properties: USB when a
// USB device is above the disk, ATA when an ATA port is (libata names them "ataN"), else SCSI.
std::string busOf(udev_device* dev) {
  std::string bus = text(udev_device_get_property_value(dev, "ID_BUS"));
  if (!bus.empty() || udev_device_get_is_initialized(dev)) return bus;
  if (udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) return "usb";
  const std::string path = text(udev_device_get_syspath(dev));
  for (std::size_t at = path.find("/ata"); at != std::string::npos; at = path.find("/ata", at + 1)) {
    const std::size_t digit = at + 4;
    if (digit < path.size() && std::isdigit(static_cast<unsigned char>(path[digit]))) return "ata";
  }
  return scsiType(dev) >= 0 ? "scsi" : "";
}

std::shared_ptr<DriveBackend> driveOf(udev_device* dev) {
  DriveIdentity id;
  id.key = text(udev_device_get_syspath(dev));
  id.devNode = text(udev_device_get_devnode(dev));
  const std::string bus = busOf(dev);
  const bool sata = text(udev_device_get_property_value(dev, "ID_ATA_SATA")) == "1";
  id.interfaceText = interfaceTextFor(bus, sata, bus == "usb" ? usbSpeed(dev) : 0);
  id.vendor = inquiryField(dev, "vendor", "ID_VENDOR");
  id.model = inquiryField(dev, "model", "ID_MODEL");
  id.revision = inquiryField(dev, "rev", "ID_REVISION");
  return std::make_shared<LinuxDrive>(std::move(id));
}

class UdevDeviceSource final : public DeviceSource {
public:
  explicit UdevDeviceSource(udev* u) : udev_(u) {}
  ~UdevDeviceSource() override {
    if (monitor_) udev_monitor_unref(monitor_);
    udev_unref(udev_);
  }
  UdevDeviceSource(const UdevDeviceSource&) = delete;
  UdevDeviceSource& operator=(const UdevDeviceSource&) = delete;

  std::vector<std::shared_ptr<DriveBackend>> start() override {
    openMonitor();
    std::vector<std::shared_ptr<DriveBackend>> drives;
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (!e) return drives;
    // Matched here rather than by property, so that drives udevd never saw are found too.
    udev_enumerate_add_match_subsystem(e, "block");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
      if (!dev) continue;
      if (isOpticalDisk(dev)) {
        known_.insert(text(udev_device_get_syspath(dev)));
        drives.push_back(driveOf(dev));
      }
      udev_device_unref(dev);
    }
    udev_enumerate_unref(e);
    return drives;
  }

  int eventFd() const override { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

  std::vector<DeviceEvent> takeEvents() override {
    std::vector<DeviceEvent> events;
    if (!monitor_) return events;
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
      translate(dev, events);
      udev_device_unref(dev);
    }
    return events;
  }

private:
  void openMonitor() {
    // Without udevd the kernel's own events are the only ones (media changes included); without
    // either (a container, a build machine) there is no monitor: no hot-plug, no harm.
    monitor_ = udev_monitor_new_from_netlink(udev_, udevdRunning() ? "udev" : "kernel");
    if (!monitor_) return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }

  void translate(udev_device* dev, std::vector<DeviceEvent>& events) {
    const std::string action = text(udev_device_get_action(dev));
    const std::string key = text(udev_device_get_syspath(dev));
    if (action == "remove") {
      if (known_.erase(key)) events.push_back({DeviceEvent::Kind::DriveRemoved, key, nullptr});
      return;
    }
    if (!isOpticalDisk(dev)) return;
    if (!known_.contains(key)) {
      known_.insert(key);
      events.push_back({DeviceEvent::Kind::DriveAdded, key, driveOf(dev)});
      return;
    }
    // An eject request alone (the button pressed while the tray is locked) changes no medium.
    const bool ejectRequestOnly = udev_device_get_property_value(dev, "DISK_EJECT_REQUEST") &&
                                  !udev_device_get_property_value(dev, "DISK_MEDIA_CHANGE");
    if (action == "change" && !ejectRequestOnly) events.push_back({DeviceEvent::Kind::MediumChanged, key, nullptr});
  }

  udev* udev_;
  udev_monitor* monitor_ = nullptr;
  std::set<std::string> known_;
};

}  // namespace

std::string interfaceTextFor(std::string_view bus, bool sata, unsigned usbSpeedMbps) {
  if (bus == "usb") return usbSpeedMbps == kUsbHighSpeedMbps ? "USB2" : "USB";
  if (bus == "ata") return sata ? "SATA" : "ATAPI";
  if (bus == "scsi") return "SCSI";
  if (bus == "ieee1394") return "FireWire";
  if (bus.empty()) return "Unknown";
  std::string upper(bus);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::unique_ptr<DeviceSource> makeUdevDeviceSource() {
  udev* u = udev_new();
  if (!u) return nullptr;
  return std::make_unique<UdevDeviceSource>(u);
}

}  // namespace quillion
