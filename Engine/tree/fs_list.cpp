// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/fs_list.h"

#include <algorithm>
#include <iterator>

#include "tree/fs_node.h"

namespace {

// A node that also lives in a tree belongs to the tree: the list only lets go of it.
void destroyOwned(FS_Node* node) {
  if (node->Parent() == nullptr && !node->IsTreeRoot()) delete node;
}

}  // namespace

FS_List::~FS_List() {
  (void)Clear(true);
}

std::int32_t FS_List::IndexOfNodeInList(const FS_Node* node) const {
  const auto it = std::find(nodes.begin(), nodes.end(), node);
  return it == nodes.end() ? -1 : static_cast<std::int32_t>(it - nodes.begin());
}

EngineStatus FS_List::Insert(std::uint32_t index, FS_Node* node) {
  if (node == nullptr || members.count(node) != 0) return kErrBadArgument;
  if (index >= nodes.size()) return kNoErr;
  nodes.insert(nodes.begin() + index, node);
  members.insert(node);
  return kNoErr;
}

EngineStatus FS_List::Append(FS_Node* node) {
  if (node == nullptr || members.count(node) != 0) return kErrBadArgument;
  nodes.push_back(node);
  members.insert(node);
  return kNoErr;
}

EngineStatus FS_List::Delete(std::uint32_t index) {
  if (index >= nodes.size()) return kNoErr;
  FS_Node* node = nodes[index];
  nodes.erase(nodes.begin() + index);
  members.erase(node);
  destroyOwned(node);
  return kNoErr;
}

EngineStatus FS_List::Delete(FS_Node* node) {
  const auto it = std::find(nodes.begin(), nodes.end(), node);
  if (node == nullptr || it == nodes.end()) return kErrBadArgument;
  nodes.erase(it);
  members.erase(node);
  return kNoErr;
}

EngineStatus FS_List::Move(FS_Node* node, std::uint32_t newIndex) {
  const std::int32_t found = IndexOfNodeInList(node);
  if (node == nullptr || found < 0) return kErrBadArgument;
  const auto j = static_cast<std::uint32_t>(found);
  const std::uint32_t clamped = std::min<std::uint32_t>(newIndex, SizeOfList());
  const std::uint32_t target = j < clamped ? clamped - 1 : clamped;
  if (target == j) return kNoErr;
  nodes.erase(nodes.begin() + j);
  nodes.insert(nodes.begin() + target, node);
  return kNoErr;
}

FS_Node* FS_List::NodeAtIdx(std::uint32_t index) const {
  return index < nodes.size() ? nodes[index] : nullptr;
}

EngineStatus FS_List::Clear(bool deleteNodes) {
  if (deleteNodes)
    for (FS_Node* node : nodes) destroyOwned(node);
  nodes.clear();
  members.clear();
  return kNoErr;
}

std::uint32_t FS_List::biggestFileBlks(std::uint32_t blockSize, bool withRsrc) const {
  if (blockSize == 0) return 0;
  std::uint64_t biggest = 0;
  for (const FS_Node* node : nodes) {
    std::uint64_t blocks = (node->dataActualSize + blockSize - 1) / blockSize;
    if (withRsrc) blocks += (node->rsrcActualSize + blockSize - 1) / blockSize;
    biggest = std::max(biggest, blocks);
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(biggest, UINT32_MAX));
}

EngineStatus FS_List::SetTitle(const char* text) {
  if (text == nullptr || *text == '\0') return kNoErr;
  title = text;
  return kNoErr;
}
