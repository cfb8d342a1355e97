// SPDX-License-Identifier: GPL-2.0-or-later
// The file locations a file-system producer hands to the verify pass: one block of memory
// from malloc that the caller releases with free. The header is followed directly by
// `count` entries (FS_FileLocListEntries); entries keep the node as a native pointer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "quillion/status.h"
#include "tree/file_loc_table.h"

struct FS_FileLocListEntry {
  FS_Node* node;
  std::uint32_t dataLBA;  // absolute disc block; 0 when the file has no data blocks
  std::uint32_t dataBlocks;
  std::uint32_t rsrcLBA;  // 0 when there is no resource fork
  std::uint32_t rsrcBlocks;
};

struct FS_FileLocList {
  std::uint32_t count;
  std::uint32_t blockSize;  // always 2048
  std::uint32_t allocatedBlocks;
  std::uint32_t rsrcForks;  // 1 when resource forks were laid out
};

inline FS_FileLocListEntry* FS_FileLocListEntries(FS_FileLocList* list) {
  return reinterpret_cast<FS_FileLocListEntry*>(reinterpret_cast<std::uint8_t*>(list) +
                                                sizeof(FS_FileLocList));
}
static_assert(sizeof(FS_FileLocList) % alignof(FS_FileLocListEntry) == 0);

struct FS_FileLocListFree {
  void operator()(FS_FileLocList* list) const { std::free(list); }
};
using FS_FileLocListPtr = std::unique_ptr<FS_FileLocList, FS_FileLocListFree>;

namespace quillion {

// The list of `table`, whose starts count from the data area at absolute block
// `dataAreaLBA` (2048-byte blocks); table blocks of another size are converted to 2048.
// kErrBadArgument for a null output, kErrOutOfMemory when the list cannot be allocated.
[[nodiscard]] EngineStatus makeFileLocList(const FS_FileLocTable& table, std::uint64_t dataAreaLBA,
                                           FS_FileLocList** out);

// Blocks of `tableBlockSize` bytes, counted in 2048-byte blocks (a partial one counts).
constexpr std::uint64_t sectorsOfTableBlocks(std::uint64_t blocks, std::uint32_t tableBlockSize) {
  return (blocks * tableBlockSize + 2047) / 2048;
}

}  // namespace quillion
