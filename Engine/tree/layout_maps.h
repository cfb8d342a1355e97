// SPDX-License-Identifier: GPL-2.0-or-later
// Tree maps and list maps read with a report of how far reading got, for callers (and
// tests) that want to know whether a stored layout came back whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "quillion/status.h"
#include "tree/layout_record.h"

class FS_Tree;
class FS_List;

namespace quillion::layout {

struct MapReadReport {
  std::size_t records = 0;         // records read, dropped ones included
  std::size_t bytesRead = 0;       // where the last record read ends
  ReadStop stop = ReadStop::kEnd;  // kEnd: the whole buffer was read
  std::size_t attached = 0;        // records that became nodes of the tree, the root included
};

// The writers behind TNC_FSTreeToTreeMap and TNC_FSListToListMap, for a checked tree or
// non-empty list; `buffer` is the caller's (free()) on success.
[[nodiscard]] EngineStatus writeTreeMap(FS_Tree& tree, void** buffer, std::int32_t* size);
[[nodiscard]] EngineStatus writeListMap(FS_List& list, void** buffer, std::int32_t* size);

[[nodiscard]] EngineStatus readTreeMap(std::span<const std::uint8_t> buffer, FS_Tree** tree,
                                       MapReadReport* report);
[[nodiscard]] EngineStatus readListMap(std::span<const std::uint8_t> buffer, FS_List** list,
                                       MapReadReport* report);

}  // namespace quillion::layout
