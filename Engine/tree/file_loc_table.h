// SPDX-License-Identifier: GPL-2.0-or-later
// Where each file's forks lie in the data area of a file system: filled from a tree by
// FS_Tree::GenerateFileLocTable and read by the file-system producers, which own it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>

class FS_Node;

// One file. Start blocks count from the first block of the data area, in blocks of the
// table's block size; an empty fork has 0 blocks and starts at the block where it would.
struct FS_FileLoc {
  FS_Node* node = nullptr;
  std::uint32_t dataStart = 0;
  std::uint32_t dataBlocks = 0;
  std::uint32_t rsrcStart = 0;
  std::uint32_t rsrcBlocks = 0;
  // The file's modification date when the table was made, so that a file changed before
  // it is read can be told; `measured` is false when the file could not be asked then.
  bool measured = false;
  std::int64_t modSeconds = 0;
  std::uint32_t modNanoseconds = 0;
};

struct FS_FileLocTable {
  std::uint32_t blockSize = 0;
  std::uint32_t allocatedBlocks = 0;  // running total of all blocks given out
  bool rsrcIncluded = false;
  std::deque<FS_FileLoc> entries;                 // in allocation order
  std::map<const FS_Node*, std::uint32_t> index;  // node -> position in `entries`

  void clear() {
    allocatedBlocks = 0;
    entries.clear();
    index.clear();
  }
};
