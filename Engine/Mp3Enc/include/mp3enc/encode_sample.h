// SPDX-License-Identifier: GPL-2.0-or-later
// The WAV-to-MP3 driver: one 16-bit PCM WAV file in, one MP3 file out, through the handle API.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

// Called once with the size of the header, then once per block with the bytes just read.
using EncodeProgress = void (*)(int bytes, void* context);

inline constexpr int kEncodeSucceeded = 0;
inline constexpr int kEncodeFailed = 1;

// Encodes inputPath into outputPath at bitrate bit/s; ancillary bytes from ancPath when
// both it and ancBitrate are given. Messages go to standard error ("Encoding successful"
// to standard output). Returns kEncodeSucceeded, or kEncodeFailed after removing whatever
// part of the output was written.
int encode_to_mp3(const char* inputPath, const char* outputPath, std::int32_t bitrate,
                  std::int32_t ancBitrate, const char* ancPath, int rateMode,
                  EncodeProgress progress, void* context);

}  // namespace quillion::mp3enc
