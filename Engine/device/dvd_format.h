// SPDX-License-Identifier: GPL-2.0-or-later
// The basic format of a DVD+RW (format type 26h, MMC-5 6.5.4.2.14), for writing and erasing.
#pragma once

#include <cstdint>

#include "quillion/status.h"

namespace quillion {

// Formats the DVD+RW in the drive unless it is formatted already (or `force`, which formats
// it again from the start). 0 when there was nothing to do or no medium, else the status of
// READ FORMAT CAPACITIES or FORMAT UNIT; afterwards the drive is waited for and the format is
// finished with CLOSE TRACK/SESSION, whose answers do not change the result.
[[nodiscard]] EngineStatus formatDvdPlusRw(std::uint32_t ref, bool force);

}  // namespace quillion
