// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/base/fs_file_loc_list.h"

#include <new>

namespace quillion {

EngineStatus makeFileLocList(const FS_FileLocTable& table, std::uint64_t dataAreaLBA,
                             FS_FileLocList** out) {
  if (out == nullptr) return kErrBadArgument;
  *out = nullptr;
  const std::size_t count = table.entries.size();
  void* memory = std::malloc(sizeof(FS_FileLocList) + count * sizeof(FS_FileLocListEntry));
  if (memory == nullptr) return kErrOutOfMemory;
  auto* list = new (memory) FS_FileLocList{
      static_cast<std::uint32_t>(count), 2048,
      static_cast<std::uint32_t>(sectorsOfTableBlocks(table.allocatedBlocks, table.blockSize)),
      table.rsrcIncluded ? 1u : 0u};
  FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
  const auto lba = [&](std::uint32_t start, std::uint32_t blocks) -> std::uint32_t {
    if (blocks == 0) return 0;
    return static_cast<std::uint32_t>(dataAreaLBA + sectorsOfTableBlocks(start, table.blockSize));
  };
  for (std::size_t i = 0; i < count; ++i) {
    const FS_FileLoc& e = table.entries[i];
    new (&entries[i]) FS_FileLocListEntry{
        e.node, lba(e.dataStart, e.dataBlocks),
        static_cast<std::uint32_t>(sectorsOfTableBlocks(e.dataBlocks, table.blockSize)),
        lba(e.rsrcStart, e.rsrcBlocks),
        static_cast<std::uint32_t>(sectorsOfTableBlocks(e.rsrcBlocks, table.blockSize))};
  }
  *out = list;
  return kNoErr;
}

}  // namespace quillion
