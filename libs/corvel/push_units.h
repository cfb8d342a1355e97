// SPDX-License-Identifier: GPL-2.0-or-later
// Push mode: the notices of a producer's byte stream become unit records in the input's
// unit fifo, and the runs they start multiplex while every live input has its look-ahead.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

inline constexpr std::uint32_t kVideoRecordWords = 18;
inline constexpr std::uint32_t kVideoRecordSize = kVideoRecordWords * 4;
inline constexpr std::uint32_t kShortRecordSize = 16;

// Notice slots of the producers' byte streams (the bufstream auxinfo form).
std::int32_t videoUnitCallback(bufstream* bs, std::uint32_t offset, std::uint32_t code, void* data,
                               std::uint32_t size);
std::int32_t audioUnitCallback(bufstream* bs, std::uint32_t offset, std::uint32_t code, void* data,
                               std::uint32_t size);
std::int32_t subpicUnitCallback(bufstream* bs, std::uint32_t offset, std::uint32_t code, void* data,
                                std::uint32_t size);

// HDV HD2: hands every picture an input holds on to its unit fifo (Done). 0, or -1 when
// they cannot all be queued; they stay held then.
std::int32_t releaseHeldPictures(mpeg_m_muxer& mux, Input& in);

// The next queued unit of a pushed input. False when none is queued; the input is then marked
// ended when its producer said no more will come, or when Done is flushing.
bool takePushedUnit(mpeg_m_muxer& mux, Input& in, AccessUnit& unit);

// Fills the picture and scan-information offsets of a pushed I picture that just became the
// input's current unit, from its first bytes in the producer's stream.
void locatePushedPicture(mpeg_m_muxer& mux, Input& in);

// 0 when every live input has its look-ahead queued; otherwise the starved kinds (1 video,
// 2 audio, 32 subpicture), or 8 when nothing at all is queued.
std::int32_t checkInputReady(mpeg_m_muxer& mux);

}  // namespace quillion::corvel
