// SPDX-License-Identifier: GPL-2.0-or-later
// The header of a 16-bit PCM WAV file as the MP3 driver reads it: the RIFF/WAVE/"fmt " words
// in the first 36 bytes, then a byte-by-byte search for the "data" chunk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::mp3enc {

// Bytes of a file the header reader may look at: the fixed part, every position the
// "data" search may try, and the data length after the last one.
inline constexpr std::size_t kWavFixedHeader = 36;
inline constexpr int kWavDataSearchTries = 5000;
inline constexpr std::size_t kWavHeaderWindow = kWavFixedHeader + kWavDataSearchTries + 8;

enum class WavStatus {
  Ok,
  NotWav,             // no RIFF/WAVE/"fmt " words, or shorter than the fixed part
  UnsupportedFormat,  // not 16 bits per sample, or not PCM
  NoData,             // no "data" within the search limits, or no length after it
};

struct WavInfo {
  int channels = 0;
  std::int32_t sampleRate = 0;
  std::uint32_t riffSize = 0;
  std::uint32_t dataOffset = 0;  // first sample byte
  std::uint32_t dataLength = 0;
  int formatTag = 0;
};

// Reads the header from the first bytes of a file (at most kWavHeaderWindow are used).
[[nodiscard]] WavStatus parseWavHeader(const std::uint8_t* bytes, std::size_t size, WavInfo* info);

}  // namespace quillion::mp3enc
