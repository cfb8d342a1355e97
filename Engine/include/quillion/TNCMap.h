// SPDX-License-Identifier: GPL-2.0-or-later
// Layout records: a data layout's tree or a track layout's list as one binary value that a
// layout document stores. Only titles, paths, kinds, the expanded state and pauses are kept;
// everything else about a file is read again from the file system when a map is read.
// Buffers made here are released by the caller with free().
#pragma once

#include <cstdint>

#include "quillion/status.h"

class FS_Tree;
class FS_List;

// The root first, then every node in pre-order, each naming its parent's record by index.
// -1001 for a null argument or a tree without a root; -1002 when the buffer cannot be
// allocated; -1363 when it cannot be grown; -1003 when a node's title and path together are
// too long for one record. Nothing is returned on failure.
[[nodiscard]] EngineStatus TNC_FSTreeToTreeMap(FS_Tree* tree, void** buffer, std::int32_t* size);

// A new tree owned by the caller, made from as many records as could be read: a damaged
// buffer gives the tree of the records before the damage. Nodes whose files are gone stay
// in the tree with their valid flag clear. -1001 for a null buffer or output or a size that
// is not positive; -1002 when the tree cannot be made.
[[nodiscard]] EngineStatus TNC_TreeMapToFSTree(const void* buffer, std::int32_t size,
                                               FS_Tree** tree);

// As TNC_TreeMapToFSTree, for a map that must come back whole or not at all, such as one
// read from a layout document: every byte of the buffer is in records and every record is a
// node of the tree. A damaged map gives -1003 and no tree.
[[nodiscard]] EngineStatus TNC_TreeMapToFSTreeWhole(const void* buffer, std::int32_t size,
                                                    FS_Tree** tree);

// The list's entries in list order. An empty list gives 0, a null buffer and size 0. -1001
// for a null argument; -1002 when memory runs out; -1003 as for a tree map.
[[nodiscard]] EngineStatus TNC_FSListToListMap(FS_List* list, void** buffer, std::int32_t* size);

// A new list owned by the caller, made as a tree is; -1001 and -1002 as for a tree map.
[[nodiscard]] EngineStatus TNC_ListMapToFSList(const void* buffer, std::int32_t size,
                                               FS_List** list);
