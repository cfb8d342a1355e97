// SPDX-License-Identifier: GPL-2.0-or-later
// The file locations a file-system producer hands to the verify pass (the list itself is
// public, quillion/FSFileLocList.h): one block of memory from malloc that the caller
// releases with free.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "quillion/FSFileLocList.h"
#include "quillion/status.h"
#include "tree/file_loc_table.h"

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
