// SPDX-License-Identifier: GPL-2.0-or-later
// What a job code asks for: the inputs each kind needs, the checks of each route and the
// kind's name in the burn log.
#pragma once

#include <cstdint>

#include "burn/job/burn_job.h"

namespace quillion::burn {

// The kind's name as the burn log writes it; null for kinds without one (12, unknown).
const char* kindLogName(std::uint8_t kind);
// kErrUnknownJobKind when the route is unknown or lacks its source or destination, or the
// kind is unknown or lacks its tree or list. Call with the job's lock held.
[[nodiscard]] EngineStatus checkRouteAndKind(const BurnJob& job);

}  // namespace quillion::burn
