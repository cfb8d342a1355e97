// SPDX-License-Identifier: GPL-2.0-or-later
// The multiplexer's settings: presets, the range rules and the profile rules.
#pragma once

#include <cstdint>

#include "corvel.h"
#include "services.h"

namespace quillion::corvel {

inline constexpr std::int32_t kResultFailure = 16;
inline constexpr std::int32_t kRangeBase = 0x80000;

// Profile numbers (the mux_type field).
enum MuxType : std::int32_t {
  kMpeg1System = 0,
  kVcd = 1,
  kMpeg2Program = 2,
  kSvcd = 3,
  kDvd = 4,
  kNoMux = 7,
  kDvdMpeg1 = 13,
  kDvdVr = 14,
  kDvdVrMpeg1 = 15,
  kHdvHd2 = 19,
};

bool isProgramStreamType(std::int32_t type);
// MPEG-1 pack and packet layout (MPEG-1 system and Video CD).
bool isMpeg1Type(std::int32_t type);
bool isDvdType(std::int32_t type);

// Maps a preset code to its profile number; other values stand as they are.
std::int32_t profileOfPreset(std::int32_t preset);
const char* applyDefaults(mpeg_m_settings& settings, std::int32_t preset);

// `withMxfRefusal`: types 28 and 32 are refused before any rule.
std::int32_t checkSettings(const mpeg_m_settings* settings, std::int32_t options,
                           const mpeg::Services& services, bool withMxfRefusal);

}  // namespace quillion::corvel
