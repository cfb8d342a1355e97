// SPDX-License-Identifier: GPL-2.0-or-later
// MPEG audio frame headers (Layers I to III; MPEG-1, MPEG-2 and MPEG-2.5): the first one in
// the priming bytes chooses the layer's decoder, and each frame's header gives its length.
#pragma once

#include "audio_decoder.h"

namespace quillion::lorrimer {

decoder::AudioStart probeMpegAudio(const std::uint8_t* data, std::uint32_t size);
// The frame's length in bytes from its header, padding included; 0 for no valid header.
std::uint32_t mpegAudioFrameLength(const std::uint8_t* frame, std::uint32_t size);

inline constexpr decoder::AudioFormat kMpegAudio = {&probeMpegAudio, &mpegAudioFrameLength};

}  // namespace quillion::lorrimer
