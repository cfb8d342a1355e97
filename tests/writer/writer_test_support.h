// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the writer tests: deterministic payloads, the test-side .wlt reader (a
// Python script written from the format table, not from our code) and the shared test support.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quillion::test {

using Bytes = std::vector<std::uint8_t>;

// Bytes that differ from block to block and from one seed to another.
inline Bytes payload(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// The image as the test-side reader sees it; empty when it refuses the file. With `outdir`,
// the reader also writes trackNN.bin and cdtext.bin there.
inline std::optional<nlohmann::json> readWlt(const std::filesystem::path& image,
                                             const std::filesystem::path& outdir = {}) {
  const char* source = std::getenv("QUILLION_SOURCE_DIR");
  if (!source) return std::nullopt;
  const std::filesystem::path script =
      std::filesystem::path(source) / "tests" / "writer" / "wlt_reader.py";
  std::vector<std::string> argv = {"python3", script.string(), image.string()};
  if (!outdir.empty()) argv.push_back(outdir.string());
  const std::string out = toolOutput(argv);
  auto json = nlohmann::json::parse(out, nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

}  // namespace quillion::test
