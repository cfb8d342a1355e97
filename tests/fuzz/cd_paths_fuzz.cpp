// SPDX-License-Identifier: GPL-2.0-or-later
// What tells a file on a CD: udev's property record of a block device, and the cdda://
// pseudo-paths of audio CD tracks. No input may crash either reader; a record is a CD only
// when it says so, and a pseudo-path names one device, never a path.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "device/path_on_cd.h"
#include "fuzz_support.h"
#include "platform/device/path_medium.h"

using quillion::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (quillion::udevRecordSaysCd(text))
    check(text.find("E:ID_CDROM_MEDIA_CD") != std::string_view::npos, "a CD no record names");
  const std::string device = quillion::cddaDeviceName(text);
  check(device.find('/') == std::string::npos, "a device name with a slash");
  check(device.empty() || device.size() < size, "a device name longer than the path");
  return 0;
}
