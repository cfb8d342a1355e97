// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a DVD set through its IFO file: the IFO copy, the VOB files as one file list, the
// streams of program 0 and the chosen cells with their time offsets.
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

// Opens the set named in the context; false after a message.
[[nodiscard]] bool openDvdSet(Context& ctx);
// Releases the IFO copy and the cells.
void closeDvdSet(Context& ctx);

// The cell that holds `position` (the first whose last byte is at or past it; the last cell
// when none is).
int cellAt(const Context& ctx, std::uint64_t position);

}  // namespace quillion::daskin
