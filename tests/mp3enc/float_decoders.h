// SPDX-License-Identifier: GPL-2.0-or-later
// Our Layer III streams decoded to float samples by the independent decoders (ffmpeg,
// mpg123), for comparison against what went in, and checked by mp3val.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quillion::test {

// Decodes a stream with ffmpeg to 32-bit float samples (all channels interleaved);
// errors come back in the result.
[[nodiscard]] ToolResult decodeToFloat(const std::filesystem::path& stream,
                                       const std::filesystem::path& raw,
                                       std::vector<float>* samples);
// The same with mpg123, which keeps every sample (no gapless trimming); what it reports
// about the stream comes back in the result's output.
[[nodiscard]] ToolResult decodeToFloatMpg123(const std::filesystem::path& stream,
                                             const std::filesystem::path& raw,
                                             std::vector<float>* samples);

// What mp3val warns about. A bare stream has no tags; any other warning is a fault of ours.
[[nodiscard]] std::string mp3valWarnings(const std::filesystem::path& file);

// What mp3val, mpg123 -t and ffmpeg -err_detect explode say about a stream, each line
// named by its tool; empty when all three are silent and succeed.
[[nodiscard]] std::string checkerComplaints(const std::filesystem::path& file);

}  // namespace quillion::test
