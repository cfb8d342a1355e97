// SPDX-License-Identifier: GPL-2.0-or-later
// Test-only helpers for the producers: content trees made from folders on disc, images
// drained from a producer into a file, and the outside readers that check them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DPMs/base/dpm_base.h"
#include "tests/support/test_support.h"
#include "tree/fs_tree.h"

namespace quillion::test {

struct TreeDeleter {
  void operator()(FS_Tree* tree) const { delete tree; }
};
using TreePtr = std::unique_ptr<FS_Tree, TreeDeleter>;

// A tree titled `title` holding everything below `folder`, entries added in name order.
TreePtr treeFromFolder(const std::string& folder, const std::string& title);

// Files below `folder` by relative path ("a/b/c.txt") with their bytes; folders, empty
// ones included, by relative path with a trailing '/'.
std::map<std::string, std::string> filesBelow(const std::string& folder);

// Prepares `producer` (block size request in `blockSize`) and drains it into `path` in
// calls of `chunkBlocks` blocks. Answers the blocks written; `status` the first non-zero
// NextBlocks status, `prepared` what PrepareAll answered.
struct DrainResult {
  std::uint32_t prepared = 0;
  std::uint32_t written = 0;
  EngineStatus status = kNoErr;
  std::uint16_t blockSize = 0;
};
DrainResult drainToFile(DPM_Base& producer, const std::string& path, std::uint16_t blockSize = 0,
                        std::uint32_t chunkBlocks = 37);

// Runs an outside reader with LC_ALL=C.UTF-8 (names are UTF-8), TZ=UTC and, when given,
// `home` as HOME (hfsutils keep their current volume there); standard output and error
// together, the exit code through `status`.
std::string runReader(const std::vector<std::string>& argv, int* status = nullptr,
                      const std::filesystem::path& home = {});

// What differs between two path maps, one line per path; empty when they are equal.
template <typename Value>
std::string differences(const std::map<std::string, Value>& got,
                        const std::map<std::string, Value>& wanted) {
  std::string out;
  for (const auto& [path, value] : wanted) {
    const auto it = got.find(path);
    if (it == got.end())
      out += "missing: " + path + "\n";
    else if (!(it->second == value))
      out += "differs: " + path + "\n";
  }
  for (const auto& [path, value] : got)
    if (!wanted.count(path)) out += "extra:   " + path + "\n";
  return out;
}

}  // namespace quillion::test
