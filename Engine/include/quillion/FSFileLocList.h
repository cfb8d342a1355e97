// SPDX-License-Identifier: GPL-2.0-or-later
// Where a file-system producer put each file of a data layout: the list the burn job hands
// to the interface's file-by-file verification (BP_RuntimeSharedData::fileLocList). One
// block of memory from malloc: the header is followed directly by `count` entries; entries
// keep the node as a native pointer.
#pragma once

#include <cstdint>

class FS_Node;

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
inline const FS_FileLocListEntry* FS_FileLocListEntries(const FS_FileLocList* list) {
  return reinterpret_cast<const FS_FileLocListEntry*>(reinterpret_cast<const std::uint8_t*>(list) +
                                                      sizeof(FS_FileLocList));
}
static_assert(sizeof(FS_FileLocList) % alignof(FS_FileLocListEntry) == 0);
