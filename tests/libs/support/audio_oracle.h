// SPDX-License-Identifier: GPL-2.0-or-later
// Test signals made by ffmpeg, decoding of our streams by independent decoders, and the SNR
// of a decoded stream against its input after aligning by the decoder's delay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quillion::test {

// The independent decoders over one stream: ffmpeg with CRC and strict checks decoding into
// `<dir>/ffmpeg.raw`, mpg123's test mode, and mpg123 decoding into `<dir>/mpg123.raw`.
struct OracleDecodes {
  ToolResult ffmpeg;
  ToolResult mpg123Test;
  ToolResult mpg123;  // its output holds what it reported; the samples went to the file
  // What went wrong, one line each; empty when every decoder was content.
  std::string faults() const;
};
OracleDecodes decodeWithOracles(const std::string& stream, const std::string& dir);

enum class Signal { Sine, Noise, Music };

// Interleaved 16-bit PCM made by ffmpeg (empty when ffmpeg fails).
std::vector<std::int16_t> makeSignal(Signal kind, int sampleRate, int channels, double seconds,
                                     const std::string& scratchDir);

// Reads interleaved 16-bit PCM written by a decoder.
std::vector<std::int16_t> readPcm(const std::string& path);

// SNR in dB of `decoded` against `input` (interleaved, same channel count), searching the
// decoder's delay within +-`maxDelay` sample frames and leaving out the edges. A negative
// delay covers a decoder that dropped leading frames.
double alignedSnrDb(const std::vector<std::int16_t>& input,
                    const std::vector<std::int16_t>& decoded, int channels, int maxDelay = 2000);

}  // namespace quillion::test
