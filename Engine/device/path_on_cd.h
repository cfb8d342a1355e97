// SPDX-License-Identifier: GPL-2.0-or-later
// Whether a file comes from a CD in one of the drives: files on a mounted CD, and the
// "cdda://<device>/<track>" pseudo-paths that stand for the tracks of an audio CD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/device/path_medium.h"

namespace quillion {

// The device name of a "cdda://" pseudo-path without its scheme ("sr0/3", "/dev/sr0/3" give
// "sr0"); empty when it is malformed: no device, or a track number that is not 1 to 99.
std::string cddaDeviceName(std::string_view rest);

// GDT_IsPathFromCDROM, with the device database read from `roots`.
bool pathIsOnCd(const char* path, std::uint32_t* ref, const DeviceDatabaseRoots& roots);

}  // namespace quillion
