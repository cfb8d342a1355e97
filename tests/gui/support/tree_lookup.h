// SPDX-License-Identifier: GPL-2.0-or-later
// Finds a node of a layout's tree by the titles on its way down, as a test names it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "quillion/FS.h"

namespace quillion::test {

// The node at `relative` ("sub/file.txt") below the tree's root, or null.
inline FS_Node* nodeAtPath(FS_Tree* tree, const std::string& relative) {
  FS_Node* node = GetRootTreeNode(tree);
  for (const auto& part : std::filesystem::path(relative)) {
    FS_Node* next = nullptr;
    for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i)
      if (GetTitleNode(GetChildNodeAtIndex(node, i)) == part.string())
        next = GetChildNodeAtIndex(node, i);
    if (next == nullptr) return nullptr;
    node = next;
  }
  return node;
}

}  // namespace quillion::test
