// SPDX-License-Identifier: GPL-2.0-or-later
// Small routines shared by the audio and subpicture readers: big-endian words, and the sample
// count of an audio stream derived from its first and last time stamps.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

std::uint32_t be32(const std::uint8_t* bytes);
// be32 without the top bit.
std::uint32_t be31(const std::uint8_t* bytes);

// Sets the session's audio sample count from the time stamps of the quick scan, rounded up to
// whole frames with one frame added. 0, or 1 after a message when the stream has no samples
// per frame or no sample rate to count with (the count is then 0).
int audio_samples_from_pts(mpeg_in_info* record);

}  // namespace quillion::brindle
