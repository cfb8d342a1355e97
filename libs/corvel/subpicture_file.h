// SPDX-License-Identifier: GPL-2.0-or-later
// The subpicture file reader: a file of records, each an 8-byte time stamp and one
// subpicture unit whose first two bytes give its length. The reader hands out the units
// whole (length bytes included) and passes the time stamps over.
#pragma once

#include "services.h"

struct bufstream;

namespace quillion::corvel {

inline constexpr unsigned kSubpictureUnitMax = 65536;

// Null when the file cannot be opened, memory runs out or the first record cannot be read.
bufstream* openSubpictureFile(const char* name, const mpeg::Services& services);

}  // namespace quillion::corvel
