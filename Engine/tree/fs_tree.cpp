// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/fs_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr const char* kUntitled = "Untitled";

std::uint64_t clampedAdd(std::uint64_t value, std::int64_t delta) {
  if (delta < 0) {
    const auto down = static_cast<std::uint64_t>(-(delta + 1)) + 1;
    return value > down ? value - down : 0;
  }
  return value + static_cast<std::uint64_t>(delta);
}

std::uint32_t clampedAdd32(std::uint32_t value, std::int32_t delta) {
  const std::int64_t sum = std::int64_t{value} + delta;
  return sum < 0 ? 0 : static_cast<std::uint32_t>(std::min<std::int64_t>(sum, UINT32_MAX));
}

std::uint64_t ceilBlocks(std::uint64_t bytes, std::uint32_t blockSize) {
  return (bytes + blockSize - 1) / blockSize;
}

// Moves what it can of `node` into `parent`: see MergeWithANode in FS.h.
EngineStatus mergeInto(FS_Node* parent, FS_Node* node) {
  const EngineStatus added = parent->AddChild(node);
  if (added != kErrTreeDuplicateTitle) return added;
  FS_Node* existing = parent->FindChild(node->Title());
  if (!node->IsFolder() || !existing->IsFolder()) return kErrTreeDuplicateTitle;
  std::vector<FS_Node*> children;
  for (const auto& [key, child] : node->Children()) children.push_back(child.get());
  EngineStatus result = kNoErr;
  for (FS_Node* child : children) {
    (void)node->RemoveChild(child, false);
    const EngineStatus merged = mergeInto(existing, child);
    if (merged != kNoErr) {
      (void)node->AddChild(child);  // its title was free here a moment ago
      result = merged;
    }
  }
  if (result == kNoErr) delete node;
  return result;
}

struct TempContext {
  FS_Tree* tree;
  bool remove;
  bool value;
};

void tempNodeProc(FS_Node* node, bool*, void* context, std::uint16_t, bool* skip) {
  auto* c = static_cast<TempContext*>(context);
  if (!c->remove) {
    node->SetTemp(c->value);
    return;
  }
  if (!node->IsTemp()) return;
  if (skip != nullptr) *skip = true;
  (void)c->tree->Remove(node, true);
}

void removeImportProc(FS_Node* node, bool*, void*, std::uint16_t, bool*) {
  if (!node->IsISO9660ImportItem()) return;
  if (node->IsFolder() && node->GetNumberOfChildren() > 0)
    node->SetISO9660ImportItem(false);
  else
    (void)node->Parent()->RemoveChild(node, true);
}

bool isInside(const FS_Node* node, const FS_Node* root) {
  return node && node->IsDescendant(root);
}

}  // namespace

FS_Tree::FS_Tree(FS_Node* node) {
  if (node != nullptr && !node->IsTreeRoot()) {
    if (node->Parent() != nullptr) (void)node->Parent()->RemoveChild(node, false);
    installRoot(node);
  } else {
    installRoot(FS_Node::MakeFolder(kUntitled, nullptr, false));
  }
}

FS_Tree::~FS_Tree() {
  delete takeRoot();
}

void FS_Tree::installRoot(FS_Node* node) {
  node->SetParent(nullptr);
  node->treeRoot = true;
  root = node;
}

FS_Node* FS_Tree::takeRoot() {
  FS_Node* old = root;
  if (old != nullptr) old->treeRoot = false;
  root = nullptr;
  return old;
}

void FS_Tree::adjustAncestors(FS_Node* node, int sign) {
  const bool folder = node->IsFolder();
  const auto folders = static_cast<std::int32_t>(folder ? node->subFolders + 1 : 0);
  const auto files = static_cast<std::int32_t>(folder ? node->subFiles : 1);
  const auto s64 = static_cast<std::int64_t>(sign);
  updateSizeOfAllParent(node, s64 * static_cast<std::int64_t>(node->dataActualSize),
                        s64 * static_cast<std::int64_t>(node->rsrcActualSize), sign * folders,
                        sign * files, s64 * static_cast<std::int64_t>(node->dataSize),
                        s64 * static_cast<std::int64_t>(node->rsrcSize));
}

void FS_Tree::updateSizeOfAllParent(FS_Node* node, std::int64_t dData, std::int64_t dRsrc,
                                    std::int32_t dFolders, std::int32_t dFiles,
                                    std::int64_t dDataRounded, std::int64_t dRsrcRounded) {
  if (node == nullptr || node == root) return;
  for (FS_Node* a = node->Parent(); a != nullptr; a = a->Parent()) {
    a->dataActualSize = clampedAdd(a->dataActualSize, dData);
    a->rsrcActualSize = clampedAdd(a->rsrcActualSize, dRsrc);
    a->subFolders = clampedAdd32(a->subFolders, dFolders);
    a->subFiles = clampedAdd32(a->subFiles, dFiles);
    a->dataSize = roundUpToBlock(clampedAdd(a->dataSize, dDataRounded), blockSize);
    a->rsrcSize = roundUpToBlock(clampedAdd(a->rsrcSize, dRsrcRounded), blockSize);
  }
}

// A node for a local file must name something a disc can hold: a file that was found (not
// a dangling link or a link loop) and is a plain file, not a device, FIFO or socket, which
// would otherwise come out as an empty file without a word.
EngineStatus FS_Tree::Admit(const FS_Node& node) {
  if (node.IsFolder() || node.IsISO9660ImportItem()) return kNoErr;
  if (!node.IsValid()) return kErrFileAccess;
  if (node.HasFlag(kFSNodeSymbolic) || node.fsRef.empty()) return kNoErr;
  // A node read from its file knows the entry's type already.
  std::uint32_t mode = node.fileMode;
  if (mode == 0) {
    quillion::CatalogInfo info;
    if (quillion::readEntryState(node.fsRef, info) != kNoErr) return kErrFileAccess;
    mode = info.mode;
  }
  const auto type = mode & S_IFMT;
  if (type == S_IFCHR || type == S_IFBLK || type == S_IFIFO || type == S_IFSOCK)
    return kErrTreeNotAFile;
  return kNoErr;
}

EngineStatus FS_Tree::Add(FS_Node* node, FS_Node* parent) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (node == nullptr) return kErrBadArgument;
  if (const EngineStatus s = Admit(*node); s != kNoErr) return s;
  return Attach(node, parent);
}

EngineStatus FS_Tree::Attach(FS_Node* node, FS_Node* parent) {
  FS_Node* target = parent != nullptr ? parent : root;
  if (!isInside(target, root)) return kErrBadArgument;
  if (const EngineStatus s = target->AddChild(node); s != kNoErr) return s;
  if (node->IsFolder()) (void)node->CollectAndSetFolderSize(blockSize);
  adjustAncestors(node, +1);
  return kNoErr;
}

EngineStatus FS_Tree::Remove(FS_Node* node, bool deleteNode) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (node == nullptr) return kErrBadArgument;
  if (node == root) {
    FS_Node* old = takeRoot();
    installRoot(FS_Node::MakeFolder(kUntitled, nullptr, false));
    if (deleteNode) delete old;
    return kNoErr;
  }
  FS_Node* parent = node->Parent();
  if (parent == nullptr) return kErrTreeNoParent;
  if (parent->FindChild(node->Title()) != node) return kErrTreeNotChild;
  adjustAncestors(node, -1);
  return parent->RemoveChild(node, deleteNode);
}

EngineStatus FS_Tree::Move(FS_Node* node, FS_Node* newParent) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (node == nullptr) return kErrBadArgument;
  if (node == root) return kErrTreeBadMove;
  FS_Node* oldParent = node->Parent();
  if (oldParent == nullptr) return kErrTreeMoveNoParent;
  FS_Node* target = newParent != nullptr ? newParent : root;
  if (target->IsDescendant(node)) return kErrTreeBadMove;
  if (target == oldParent) return kNoErr;
  if (!target->IsFolder() || !isInside(target, root)) return kErrBadArgument;
  if (target->FindChild(node->Title()) != nullptr) return kErrTreeDuplicateTitle;
  if (const EngineStatus s = Remove(node, false); s != kNoErr) return s;
  if (const EngineStatus s = Attach(node, target); s != kNoErr) {
    (void)Attach(node, oldParent);
    return s;
  }
  return kNoErr;
}

FS_Node* FS_Tree::TreeNodeAtIndex(FS_Node* parent, std::uint32_t index) const {
  if (root == nullptr) return nullptr;
  return (parent != nullptr ? parent : root)->GetChildNodeAtIndex(index);
}

std::uint32_t FS_Tree::NumNodeChildren(FS_Node* node) const {
  if (root == nullptr) return 0;
  return (node != nullptr ? node : root)->GetNumberOfChildren();
}

EngineStatus FS_Tree::RemoveISOImportItems() {
  if (root == nullptr) return kErrTreeNoRoot;
  return root->WalkAllChildren(removeImportProc, nullptr, nullptr, false);
}

EngineStatus FS_Tree::RemoveAllTempNodes() {
  if (root == nullptr) return kErrTreeNoRoot;
  TempContext context{this, true, false};
  return root->WalkAllChildren(tempNodeProc, &context, nullptr, true);
}

EngineStatus FS_Tree::ResetAllTempNodes(bool value) {
  if (root == nullptr) return kErrTreeNoRoot;
  TempContext context{this, false, value};
  return root->WalkAllChildren(tempNodeProc, &context, nullptr, true);
}

EngineStatus FS_Tree::TreeInfo(std::uint32_t* folders, std::uint32_t* files,
                               std::uint64_t* dataBytes, std::uint64_t* rsrcBytes, bool recompute) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (recompute) (void)root->CollectAndSetFolderSize(blockSize);
  if (folders) *folders = root->subFolders;
  if (files) *files = root->subFiles;
  if (dataBytes) *dataBytes = root->dataSize;
  if (rsrcBytes) *rsrcBytes = root->rsrcSize;
  return kNoErr;
}

EngineStatus FS_Tree::WalkAllTreeNodes(FS_WalkProc proc, void* context, std::uint16_t* depth) {
  if (root == nullptr) return kErrTreeNoRoot;
  return root->WalkAllChildren(proc, context, depth, true);
}

EngineStatus FS_Tree::MergeWithANode(FS_Node* parent, FS_Node* node) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (parent == nullptr || node == nullptr || !isInside(parent, root)) return kErrBadArgument;
  if (node->Parent() != nullptr || node->IsTreeRoot()) return kErrBadArgument;
  return mergeInto(parent, node);
}

EngineStatus FS_Tree::SetBlockSize(std::uint32_t size) {
  if (size == 0) return kErrBadArgument;
  if (size == blockSize) return kNoErr;
  blockSize = size;
  if (root == nullptr) return kErrTreeNoRoot;
  return root->CollectAndSetFolderSize(blockSize);
}

EngineStatus FS_Tree::SetTreeTitle(const char* title) {
  if (root == nullptr) return kErrTreeNoRoot;
  if (title == nullptr) return kErrBadArgument;
  return root->SetTitle(title, false);
}

const char* FS_Tree::GetTreeTitle() const {
  return root ? root->Title().c_str() : nullptr;
}

namespace {

std::uint64_t fileBlocks(const FS_Node& node, bool withRsrc) {
  return node.dataSize / 2048 + (withRsrc ? node.rsrcSize / 2048 : 0);
}

std::uint64_t biggestBelow(const FS_Node& folder, bool withRsrc, bool packagesWhole) {
  std::uint64_t biggest = 0;
  for (const auto& [key, child] : folder.Children()) {
    std::uint64_t blocks = 0;
    if (!child->IsFolder())
      blocks = fileBlocks(*child, withRsrc);
    else if (packagesWhole && child->IsPackage())
      blocks = fileBlocks(*child, withRsrc) + child->subFiles + 2ull * child->subFolders;
    else
      blocks = biggestBelow(*child, withRsrc, packagesWhole);
    biggest = std::max(biggest, blocks);
  }
  return biggest;
}

void allocate(const FS_Node& folder, std::uint32_t blockSize, bool useRsrc, std::uint64_t& next,
              FS_FileLocTable& table) {
  for (const auto& [key, child] : folder.Children()) {
    if (child->IsFolder()) {
      allocate(*child, blockSize, useRsrc, next, table);
      continue;
    }
    if (child->IsISO9660ImportItem()) continue;
    FS_FileLoc entry;
    entry.node = child.get();
    const std::uint64_t rsrcBlocks = useRsrc ? ceilBlocks(child->rsrcActualSize, blockSize) : 0;
    const std::uint64_t dataBlocks = ceilBlocks(child->dataActualSize, blockSize);
    entry.rsrcStart = static_cast<std::uint32_t>(next);
    entry.rsrcBlocks = static_cast<std::uint32_t>(rsrcBlocks);
    entry.dataStart = static_cast<std::uint32_t>(next + rsrcBlocks);
    entry.dataBlocks = static_cast<std::uint32_t>(dataBlocks);
    // The date the node's sizes were read with: a file changed after that is one the
    // layout did not see, whenever the table is made.
    quillion::CatalogInfo info;
    if (child->fileMode != 0) {
      entry.measured = true;
      entry.modSeconds = child->contentModDate.seconds;
      entry.modNanoseconds = child->contentModDate.nanoseconds;
    } else if (!child->fsRef.empty() && quillion::readEntryState(child->fsRef, info) == kNoErr) {
      entry.measured = true;
      entry.modSeconds = info.contentModDate.seconds;
      entry.modNanoseconds = info.contentModDate.nanoseconds;
    }
    next += rsrcBlocks + dataBlocks;
    table.index[entry.node] = static_cast<std::uint32_t>(table.entries.size());
    table.entries.push_back(entry);
  }
}

}  // namespace

std::uint32_t FS_Tree::BiggestFileBlks(std::uint32_t, std::uint32_t fsFlags,
                                       bool packagesWhole) const {
  if (root == nullptr) return 0;
  const bool withRsrc = (fsFlags & kFSFormatUDFMask) == 0;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(biggestBelow(*root, withRsrc, packagesWhole), UINT32_MAX));
}

EngineStatus FS_Tree::GenerateFileLocTable(std::uint32_t size, FS_FileLocTable* table,
                                           bool useRsrc) const {
  if (table == nullptr || size == 0) return kErrBadArgument;
  if (root == nullptr) return kErrTreeNoRoot;
  table->clear();
  table->blockSize = size;
  table->rsrcIncluded = useRsrc;
  std::uint64_t next = 0;
  allocate(*root, size, useRsrc, next, *table);
  // Block numbers are 32-bit on disc: a layout beyond them cannot be described.
  if (next > std::numeric_limits<std::uint32_t>::max()) {
    table->clear();
    return kErrBadArgument;
  }
  table->allocatedBlocks = static_cast<std::uint32_t>(next);
  return kNoErr;
}
