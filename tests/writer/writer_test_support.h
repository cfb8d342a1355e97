// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the writer tests: deterministic payloads, the test-side .wlt reader (a
// Python script written from the format table, not from our code) and files as bytes.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "test_tools.h"

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

inline Bytes fileBytes(const std::filesystem::path& file) {
  const std::string s = slurp(file);
  return Bytes(s.begin(), s.end());
}

inline void writeFile(const std::filesystem::path& file, const Bytes& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::string quoted(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

// The image as the test-side reader sees it; empty when it refuses the file. With `outdir`,
// the reader also writes trackNN.bin and cdtext.bin there.
inline std::optional<nlohmann::json> readWlt(const std::filesystem::path& image,
                                             const std::filesystem::path& outdir = {}) {
  const char* source = std::getenv("QUILLION_SOURCE_DIR");
  if (!source) return std::nullopt;
  const std::filesystem::path script =
      std::filesystem::path(source) / "tests" / "writer" / "wlt_reader.py";
  const std::string out =
      run("python3 " + quoted(script) + " " + quoted(image) +
          (outdir.empty() ? std::string() : " " + quoted(outdir)) + " 2>/dev/null");
  auto json = nlohmann::json::parse(out, nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

}  // namespace quillion::test
