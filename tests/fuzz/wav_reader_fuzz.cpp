// SPDX-License-Identifier: GPL-2.0-or-later
// The MP3 driver's WAV header reader on arbitrary bytes: it must never read outside them, and
// what it accepts must describe a "data" chunk that lies inside what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mp3enc/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillion::mp3enc;
  WavInfo info;
  if (parseWavHeader(data, size, &info) == WavStatus::Ok) {
    if (info.dataOffset < kWavFixedHeader + 8 || info.dataOffset > size ||
        info.dataOffset > kWavHeaderWindow) {
      std::abort();
    }
  }
  return 0;
}
