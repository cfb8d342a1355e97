// SPDX-License-Identifier: GPL-2.0-or-later
// The rules behind every settings check of the library.
#pragma once

#include <cstdint>

#include "gantrel.h"
#include "services.h"

namespace quillion::gantrel {

inline constexpr std::int32_t kResultFailure = 2;

// 0, the first violated rule's code, or 2 for null settings (with a message when `out` has
// an error printer).
std::int32_t checkSettings(const pcm_a_settings* settings, std::int32_t formatType,
                           std::int32_t sampleRate, std::int32_t options,
                           const mpeg::Services& out);

}  // namespace quillion::gantrel
