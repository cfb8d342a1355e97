// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the independent tools that check our streams (ffmpeg, ffprobe, mpg123, mp3val) and
// gives every test its own temporary directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillion::test {

struct ToolResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

[[nodiscard]] bool toolAvailable(const std::string& name);
// Runs argv[0] found on PATH with the given arguments; no shell is involved.
[[nodiscard]] ToolResult runTool(const std::vector<std::string>& argv);

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
[[nodiscard]] std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

// Decodes a stream with ffmpeg to 32-bit float samples (all channels interleaved);
// errors come back in the result.
[[nodiscard]] ToolResult decodeToFloat(const std::filesystem::path& stream, const std::filesystem::path& raw,
                                       std::vector<float>* samples);
// The same with mpg123, which keeps every sample (no gapless trimming); what it reports
// about the stream comes back in the result's output.
[[nodiscard]] ToolResult decodeToFloatMpg123(const std::filesystem::path& stream,
                                             const std::filesystem::path& raw,
                                             std::vector<float>* samples);

// What mp3val warns about. A bare stream has no tags; any other warning is a fault of ours.
[[nodiscard]] std::string mp3valWarnings(const std::filesystem::path& file);

}  // namespace quillion::test

#define QUILLION_REQUIRE_TOOL(name)                                          \
  do {                                                                       \
    if (!::quillion::test::toolAvailable(name)) GTEST_SKIP() << name << " is not installed"; \
  } while (0)
