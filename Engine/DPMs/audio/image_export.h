// SPDX-License-Identifier: GPL-2.0-or-later
// Pictures for the interface: the first picture of a file the FFmpeg libraries can read
// (PNG, JPEG, BMP, TIFF, GIF...), written again as a 24-bit BMP file.
#pragma once

#include <string>

#include "quillion/status.h"

namespace quillion {

// kErrFileAccess when the source cannot be read or the output cannot be written;
// kErrNotSupported when the source holds no picture that can be decoded.
EngineStatus exportPictureAsBmp(const std::string& source, const std::string& output);

}  // namespace quillion
