// SPDX-License-Identifier: GPL-2.0-or-later
#include "float_decoders.h"

#include <cstring>
#include <sstream>
#include <string>

namespace quillion::test {

namespace {

void readFloats(const std::filesystem::path& raw, std::vector<float>* samples) {
  samples->clear();
  const std::vector<std::uint8_t> bytes = readFile(raw);
  samples->resize(bytes.size() / sizeof(float));
  if (!samples->empty())
    std::memcpy(samples->data(), bytes.data(), samples->size() * sizeof(float));
}

}  // namespace

ToolResult decodeToFloat(const std::filesystem::path& stream, const std::filesystem::path& raw,
                         std::vector<float>* samples) {
  ToolResult r = runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-err_detect", "explode", "-i",
                          stream.string(), "-f", "f32le", raw.string()});
  readFloats(raw, samples);
  return r;
}

ToolResult decodeToFloatMpg123(const std::filesystem::path& stream,
                               const std::filesystem::path& raw, std::vector<float>* samples) {
  ToolResult r =
      runTool({"mpg123", "--no-gapless", "-e", "f32", "-O", raw.string(), stream.string()});
  readFloats(raw, samples);
  return r;
}

std::string mp3valWarnings(const std::filesystem::path& file) {
  const ToolResult val = runTool({"mp3val", file.string()});
  std::string warnings;
  std::istringstream report(val.output);
  for (std::string line; std::getline(report, line);) {
    if (line.find("WARNING") != std::string::npos &&
        line.find("No supported tags") == std::string::npos) {
      warnings += line + "\n";
    }
  }
  return warnings;
}

std::string checkerComplaints(const std::filesystem::path& file) {
  std::string said;
  const std::string val = mp3valWarnings(file);
  if (!val.empty()) said += "mp3val: " + val;
  const ToolResult test = runTool({"mpg123", "-q", "-t", file.string()});
  if (test.exitCode != 0 || !test.output.empty())
    said += "mpg123 (" + std::to_string(test.exitCode) + "): " + test.output + "\n";
  const ToolResult ff = runTool({"ffmpeg", "-nostdin", "-v", "error", "-err_detect", "explode",
                                 "-i", file.string(), "-f", "null", "-"});
  if (ff.exitCode != 0 || !ff.output.empty())
    said += "ffmpeg (" + std::to_string(ff.exitCode) + "): " + ff.output + "\n";
  return said;
}

}  // namespace quillion::test
