// SPDX-License-Identifier: GPL-2.0-or-later
// The rules behind every settings check of the library, and the standard's bitrate table.
#pragma once

#include <cstdint>

#include "ferrule.h"
#include "services.h"

namespace quillion::ferrule {

inline constexpr std::int32_t kResultFailure = 2;
inline constexpr std::int32_t kGenericBase = 0x40000;

// kbps of `code` (0..14) for `layer` (1..3); 0 outside the table.
int bitrateKbps(std::int32_t layer, std::int32_t code);

// 0, the first violated rule's code, or 2 for null settings. Messages go to `out`'s error
// printer.
std::int32_t checkSettings(const mpeg_a_settings* settings, std::int32_t formatType,
                           std::int32_t sampleRate, std::int32_t options,
                           const mpeg::Services& out);

}  // namespace quillion::ferrule
