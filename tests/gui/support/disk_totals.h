// SPDX-License-Identifier: GPL-2.0-or-later
// What a folder on disk holds, counted independently of the layout's tree, for checking the
// tree's totals against the source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillion::test {

// The allocation block the layout's tree counts file sizes in.
inline constexpr std::uint64_t kTreeBlock = 4096;

struct DiskTotals {
  std::uint32_t folders = 0;  // the top and every folder below it
  std::uint32_t files = 0;    // regular files
  std::uint64_t bytes = 0;
  std::uint64_t blockBytes = 0;  // the files' sizes rounded up to whole tree blocks

  std::uint64_t items() const { return std::uint64_t{folders} + files; }
};

// Counts `top`; with `onlyExtension` (".doc"), files of other extensions are left out.
inline DiskTotals countOnDisk(const std::filesystem::path& top,
                              const std::string& onlyExtension = {}) {
  DiskTotals t;
  t.folders = 1;
  for (const auto& e : std::filesystem::recursive_directory_iterator(top)) {
    if (e.is_directory()) {
      ++t.folders;
    } else if (e.is_regular_file() &&
               (onlyExtension.empty() || e.path().extension() == onlyExtension)) {
      ++t.files;
      t.bytes += e.file_size();
      t.blockBytes += (e.file_size() + kTreeBlock - 1) / kTreeBlock * kTreeBlock;
    }
  }
  return t;
}

}  // namespace quillion::test
