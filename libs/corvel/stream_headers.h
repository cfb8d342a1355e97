// SPDX-License-Identifier: GPL-2.0-or-later
// The first bytes of an input tell its coding: these analysers read them (without taking
// them from the stream) and fill the stream facts.
#pragma once

#include <cstdint>

#include "access_unit.h"

struct bufstream;

namespace quillion::corvel {

// Frame rates by MPEG frame_rate_code 0..8 (0 for the forbidden code 0).
extern const double kFrameRates[9];

// 0, or 16 when the data is no MPEG-1/MPEG-2 video this library can carry.
// `givenBitRate` (bit/s, 0 = none) stands in for a variable-rate header.
std::int32_t analyseVideoHeader(bufstream* es, std::uint32_t window, std::uint32_t givenBitRate,
                                VideoFacts& facts);
// 0, or 16 for data that is no MPEG audio, AAC in ADTS frames, AC-3 or LPCM with its header.
// `givenBitRate` (bit/s) is the rate of ADTS input, which has none in its headers.
std::int32_t analyseAudioHeader(bufstream* es, std::uint32_t givenBitRate, AudioFacts& facts);

}  // namespace quillion::corvel
