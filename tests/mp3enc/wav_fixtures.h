// SPDX-License-Identifier: GPL-2.0-or-later
// WAV files made inside the tests, and the measures that compare a decoded stream with them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillion::test {

struct WavSpec {
  int rate = 44100;
  int channels = 2;
  int bitsPerSample = 16;
  int formatTag = 1;
  bool extensiblePcm = true;                  // the subformat when formatTag is 0xFFFE
  std::vector<std::uint8_t> chunkBeforeData;  // a whole chunk (id, size, body) before "data"
};

// Writes interleaved 16-bit samples (or, for other sizes, silence of that size) as a WAV file.
void writeWav(const std::filesystem::path& path, const WavSpec& spec,
              const std::vector<std::int16_t>& samples);

// Test signals, interleaved, channels differing where there are two.
enum class Signal { Sweep, PinkNoise, Clicks, Silence, Clipping };
[[nodiscard]] std::vector<std::int16_t> makeSignal(Signal kind, int rate, int channels,
                                                   double seconds);
[[nodiscard]] const char* signalName(Signal kind);
// The name in letters only ("PinkNoise"), for names of parameterised test cases.
[[nodiscard]] std::string signalIdentifier(Signal kind);

// Reads a 16-bit WAV file made by another program; false when it is not one.
[[nodiscard]] bool readWav16(const std::filesystem::path& path, int* rate, int* channels,
                             std::vector<std::int16_t>* samples);

struct Alignment {
  int delay = -1;     // decoded sample frame that matches input frame 0
  double snr = -1e9;  // dB over the aligned overlap
};
// Finds the delay (up to maxDelay frames) that aligns the decoded stream with the input
// best, by the signal-to-noise ratio of channel 0, and reports the SNR over all channels.
[[nodiscard]] Alignment align(const std::vector<std::int16_t>& input,
                              const std::vector<float>& decoded, int channels, int maxDelay);
[[nodiscard]] double snrAt(const std::vector<std::int16_t>& input,
                           const std::vector<float>& decoded, int channels, int delay);

}  // namespace quillion::test
