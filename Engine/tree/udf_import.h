// SPDX-License-Identifier: GPL-2.0-or-later
// The UDF half of session import: the file set of a session (anchor, main volume descriptor
// sequence, partition, file set descriptor) and its directories as a tree of import items.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tree/import_source.h"

namespace quillion::import {

struct UdfFileSet {
  std::uint32_t partitionStart = 0;  // absolute block of logical block 0
  std::vector<std::uint8_t> descriptor;
};

// The file set of the session at `start`. -1361 when the session has no UDF volume (no
// anchor at start + 256, no "BEA01" among the 16 blocks from start + 16, no partition or
// logical volume in the main sequence, no valid file set descriptor).
EngineStatus findUdfFileSet(BlockSource& source, std::uint32_t start, UdfFileSet& out);

// The logical volume identifier of a file set descriptor (bytes 112-239, a dstring).
std::string udfVolumeName(std::span<const std::uint8_t> fileSet);
// A 12-byte timestamp as local time; tm_gmtoff carries its offset from UTC when it has one.
std::tm udfTimestamp(std::span<const std::uint8_t> stamp);

// The tree of the session at `start`, its root "import" (flag bit 7). Status 0 and no tree
// when the session has no UDF file set; -1361 for a damaged directory or file entry, -1363
// when a directory cannot be read.
EngineStatus importUdf(ImportWalk& walk, std::uint32_t start, std::unique_ptr<FS_Tree>& tree);

}  // namespace quillion::import
