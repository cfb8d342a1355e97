// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "device/path_on_cd.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"

namespace quillion {
namespace {

constexpr std::string_view kCddaScheme = "cdda://";
constexpr std::string_view kDevPrefix = "/dev/";
constexpr unsigned kLastTrack = 99;

}  // namespace

std::string cddaDeviceName(std::string_view rest) {
  const std::size_t slash = rest.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return {};
  const std::string_view track = rest.substr(slash + 1);
  if (track.empty() || track.size() > 2 ||
      track.find_first_not_of("0123456789") != std::string_view::npos) {
    return {};
  }
  const unsigned number = static_cast<unsigned>(std::stoul(std::string(track)));
  if (number == 0 || number > kLastTrack) return {};
  std::string_view node = rest.substr(0, slash);
  if (node.starts_with(kDevPrefix)) node.remove_prefix(kDevPrefix.size());
  if (node.empty() || node.find('/') != std::string_view::npos) return {};
  return std::string(node);
}

namespace {

// The connected drive whose medium's device node has the kernel name `device` ("sr0" for
// "/dev/sr0"); 0 when none has.
std::uint32_t driveWithMedium(const std::string& device) {
  DC_Device* list = nullptr;
  const std::uint16_t count = GDT_GetConnectedDeviceList(&list);
  std::uint32_t found = 0;
  for (std::uint16_t i = 0; i < count && !found; ++i) {
    char node[256] = {};
    if (GDT_GetBSDPath(list[i].ref, node, sizeof node, true) != kNoErr) continue;
    const std::string_view path(node);
    const std::size_t slash = path.rfind('/');
    if (!path.empty() && path.substr(slash == std::string_view::npos ? 0 : slash + 1) == device)
      found = list[i].ref;
  }
  std::free(list);
  return found;
}

}  // namespace

bool pathIsOnCd(const char* path, std::uint32_t* ref, const DeviceDatabaseRoots& roots) {
  if (ref) *ref = 0;
  if (!path || !*path) return false;
  std::string device;
  const std::string_view text(path);
  if (text.starts_with(kCddaScheme)) {
    device = cddaDeviceName(text.substr(kCddaScheme.size()));
    if (device.empty()) return false;
  } else {
    const auto medium = mediumOfPath(path, roots);
    if (!medium || !medium->cdMedium) return false;
    device = medium->device;
  }
  if (ref) *ref = driveWithMedium(device);
  return true;
}

}  // namespace quillion

bool GDT_IsPathFromCDROM(const char* path, std::uint32_t* ref) {
  return quillion::pathIsOnCd(path, ref, {});
}
