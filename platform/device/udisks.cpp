// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/udisks.h"

#include <systemd/sd-bus.h>

#include <cctype>
#include <cstdio>

namespace quillion {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";

// Calls a Filesystem method that takes only an empty options dictionary.
bool callWithEmptyOptions(sd_bus* bus, const std::string& path, const char* method) {
  sd_bus_message* request = nullptr;
  sd_bus_message* reply = nullptr;
  // All fields zero, which is what SD_BUS_ERROR_NULL spells as a C compound literal.
  sd_bus_error error{};
  bool ok = sd_bus_message_new_method_call(bus, &request, kService, path.c_str(), kFilesystem, method) >= 0 &&
            sd_bus_message_open_container(request, 'a', "{sv}") >= 0 &&
            sd_bus_message_close_container(request) >= 0;
  // Waits for the daemon's reply (sd-bus's default bound of 25 s).
  ok = ok && sd_bus_call(bus, request, 0, &error, &reply) >= 0;
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(request);
  return ok;
}

}  // namespace

struct UDisksClient::Bus {
  sd_bus* bus = nullptr;
  ~Bus() { sd_bus_flush_close_unref(bus); }
};

UDisksClient::UDisksClient(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}
UDisksClient::~UDisksClient() = default;

std::unique_ptr<UDisksClient> UDisksClient::connect() {
  auto bus = std::make_unique<Bus>();
  if (sd_bus_open_system(&bus->bus) < 0) return nullptr;
  // Ping activates the service when it is installed but not running.
  sd_bus_error error{};
  const int rc = sd_bus_call_method(bus->bus, kService, "/org/freedesktop/UDisks2", "org.freedesktop.DBus.Peer",
                                    "Ping", &error, nullptr, "");
  sd_bus_error_free(&error);
  if (rc < 0) return nullptr;
  return std::unique_ptr<UDisksClient>(new UDisksClient(std::move(bus)));
}

bool UDisksClient::unmount(std::string_view blockName) {
  return callWithEmptyOptions(bus_->bus, udisksObjectPath(blockName), "Unmount");
}

bool UDisksClient::mount(std::string_view blockName) {
  return callWithEmptyOptions(bus_->bus, udisksObjectPath(blockName), "Mount");
}

std::string udisksObjectPath(std::string_view blockName) {
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (char c : blockName) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) {
      path.push_back(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "_%02x", u);
      path += escaped;
    }
  }
  return path;
}

}  // namespace quillion
