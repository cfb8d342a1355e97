// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/udev_source.h"

#include <libudev.h>

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

bool isOpticalDisk(udev_device* dev) {
  const char* cdrom = udev_device_get_property_value(dev, "ID_CDROM");
  const char* type = udev_device_get_devtype(dev);
  return cdrom && std::string_view(cdrom) == "1" && type && std::string_view(type) == "disk" &&
         udev_device_get_devnode(dev);
}

std::shared_ptr<DriveBackend> driveOf(udev_device* dev) {
  DriveIdentity id;
  id.key = text(udev_device_get_syspath(dev));
  id.devNode = text(udev_device_get_devnode(dev));
  const std::string bus = text(udev_device_get_property_value(dev, "ID_BUS"));
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
    udev_enumerate_add_match_subsystem(e, "block");
    udev_enumerate_add_match_property(e, "ID_CDROM", "1");
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
    // Without udevd (a container, a build machine) there is no monitor: no hot-plug, no harm.
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
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
    if (action == "change") events.push_back({DeviceEvent::Kind::MediumChanged, key, nullptr});
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
