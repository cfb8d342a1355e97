// SPDX-License-Identifier: GPL-2.0-or-later
// Burn-log lines of a job: written to the log file the interface put in the shared record,
// nothing when it put none. Lines begin with "\r", as every line of the burn log.
#pragma once

#include <string>
#include <string_view>

#include "quillion/BP.h"

namespace quillion::burn {

void logText(const BP_RuntimeSharedData& shared, std::string_view text);
void logFormat(const BP_RuntimeSharedData& shared, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The calendar time of the engine clock as the platform's ctime writes it (with its
// line feed).
std::string logTimeText();

}  // namespace quillion::burn
