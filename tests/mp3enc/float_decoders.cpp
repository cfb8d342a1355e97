// SPDX-License-Identifier: GPL-2.0-or-later
#include "float_decoders.h"

#include <cstring>

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

}  // namespace quillion::test
