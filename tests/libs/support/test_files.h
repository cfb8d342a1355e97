// SPDX-License-Identifier: GPL-2.0-or-later
// Test helpers for the byte-stream and MPEG library suites: a private temporary folder per
// test, whole-file reads and tool lookup.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quillion::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillion-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) path_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// True when `tool` is an executable on PATH.
inline bool haveTool(const std::string& tool) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t colon = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      const auto candidate = std::filesystem::path(dir) / tool;
      if (::access(candidate.c_str(), X_OK) == 0) return true;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return false;
}

}  // namespace quillion::test
