// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/base/dpm_filesystem_base.h"

#include <utility>

#include "tree/fs_node.h"

DPM_FileSystem_Base::DPM_FileSystem_Base(FS_Tree* newTree) : tree(newTree) {
  blockSize = 2048;
  totalBlocks = 0;
}

DPM_FileSystem_Base::~DPM_FileSystem_Base() = default;

EngineStatus DPM_FileSystem_Base::SetTree(FS_Tree* newTree) {
  tree = newTree;
  return kNoErr;
}

FS_Tree* DPM_FileSystem_Base::GetTree() const {
  return tree;
}

void DPM_FileSystem_Base::Hybrid(bool on) {
  hybrid = on;
}

EngineStatus DPM_FileSystem_Base::GetBlockFromFiles(FS_FileLocTable* table, void* buffer,
                                                    std::uint32_t bytes, std::uint32_t* gotBytes) {
  if (table == nullptr || buffer == nullptr || gotBytes == nullptr) return kErrBadArgument;
  return forkReader.fill(*table, static_cast<std::uint8_t*>(buffer), bytes, *gotBytes);
}

const std::vector<DPM_MissingData>& DPM_FileSystem_Base::MissingData() const {
  return forkReader.missing();
}

EngineStatus DPM_FileSystem_Base::refuse(EngineStatus status, std::string why) {
  layoutProblem = std::move(why);
  return status;
}

namespace quillion {

std::string layoutPath(const FS_Node& node) {
  std::string path = node.Title();
  for (const FS_Node* n = node.Parent(); n != nullptr && n->Parent() != nullptr; n = n->Parent())
    path = n->Title() + '/' + path;
  return path;
}

}  // namespace quillion
