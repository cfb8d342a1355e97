// SPDX-License-Identifier: GPL-2.0-or-later
// The flat functions on trees, lists and file references.
#include <algorithm>
#include <cstring>

#include "quillion/FS.h"
#include "tree/fs_list.h"
#include "tree/fs_tree.h"

FS_Tree* initTree(FS_Node* root) {
  return new FS_Tree(root);
}
void termTree(FS_Tree* tree) {
  delete tree;
}
FS_Node* GetRootTreeNode(FS_Tree* tree) {
  return tree ? tree->Root() : nullptr;
}

bool isRootNode(FS_Tree* tree, FS_Node* node) {
  return tree != nullptr && node != nullptr && tree->Root() == node;
}

EngineStatus AddTreeNode(FS_Tree* tree, FS_Node* node, FS_Node* parent) {
  return tree ? tree->Add(node, parent) : kBadArgument;
}

EngineStatus RemoveTreeNode(FS_Tree* tree, FS_Node* node, bool deleteNode) {
  return tree ? tree->Remove(node, deleteNode) : kBadArgument;
}

EngineStatus MoveTreeNode(FS_Tree* tree, FS_Node* node, FS_Node* newParent) {
  return tree ? tree->Move(node, newParent) : kBadArgument;
}

FS_Node* TreeNodeAtIndex(FS_Tree* tree, FS_Node* parent, std::uint32_t index) {
  return tree ? tree->TreeNodeAtIndex(parent, index) : nullptr;
}

std::uint32_t NumNodeChildren(FS_Tree* tree, FS_Node* node) {
  return tree ? tree->NumNodeChildren(node) : 0;
}

EngineStatus TreeInfo(FS_Tree* tree, std::uint32_t* folders, std::uint32_t* files,
                      std::uint64_t* dataBytes, std::uint64_t* rsrcBytes, bool recompute) {
  return tree ? tree->TreeInfo(folders, files, dataBytes, rsrcBytes, recompute) : kBadArgument;
}

std::uint32_t NumNodes(FS_Tree* tree) {
  if (tree == nullptr || tree->Root() == nullptr) return 0;
  return tree->Root()->subFolders + tree->Root()->subFiles;
}

EngineStatus MergeWithANode(FS_Tree* tree, FS_Node* parent, FS_Node* node) {
  return tree ? tree->MergeWithANode(parent, node) : kBadArgument;
}

EngineStatus RemoveISOImportItems(FS_Tree* tree) {
  return tree ? tree->RemoveISOImportItems() : kBadArgument;
}

EngineStatus fstree_RemoveAllTempNodes(FS_Tree* tree) {
  return tree ? tree->RemoveAllTempNodes() : kBadArgument;
}

EngineStatus fstree_ResetAllTempNodes(FS_Tree* tree, bool value) {
  return tree ? tree->ResetAllTempNodes(value) : kBadArgument;
}

EngineStatus WalkWholeTree(FS_Tree* tree, FS_WalkProc proc, void* context, std::uint16_t* depth) {
  return tree ? tree->WalkAllTreeNodes(proc, context, depth) : kBadArgument;
}

void MAC_SetUseResourceFork(FS_Tree* tree, bool on) {
  if (tree) tree->useResourceFork = on;
}

bool MAC_UseResourceFork(FS_Tree* tree) {
  return tree != nullptr && tree->useResourceFork;
}

const char* GetTreeTitle(FS_Tree* tree) {
  return tree ? tree->GetTreeTitle() : nullptr;
}

EngineStatus SetTreetitle(FS_Tree* tree, const char* title) {
  return tree ? tree->SetTreeTitle(title) : kBadArgument;
}

std::uint32_t BiggestFileBlks(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags,
                              bool packagesWhole) {
  return tree ? tree->BiggestFileBlks(capacity, fsFlags, packagesWhole) : 0;
}

FS_List* initList() {
  return new FS_List();
}
void termList(FS_List* list) {
  delete list;
}
std::uint32_t SizeOfList(FS_List* list) {
  return list ? list->SizeOfList() : 0;
}

std::int32_t IndexOfNodeInList(FS_List* list, FS_Node* node) {
  return list ? list->IndexOfNodeInList(node) : -1;
}

EngineStatus InsertItemAt(FS_List* list, std::uint32_t index, FS_Node* node) {
  return list ? list->Insert(index, node) : kBadArgument;
}

EngineStatus AppendItem(FS_List* list, FS_Node* node) {
  return list ? list->Append(node) : kBadArgument;
}

EngineStatus DeleteItemAt(FS_List* list, std::uint32_t index) {
  return list ? list->Delete(index) : kBadArgument;
}

EngineStatus FSL_DeleteNode(FS_List* list, FS_Node* node) {
  return list ? list->Delete(node) : kBadArgument;
}

FS_Node* NodeAtIndex(FS_List* list, std::uint32_t index) {
  return list ? list->NodeAtIdx(index) : nullptr;
}

EngineStatus MoveItemTo(FS_List* list, FS_Node* node, std::uint32_t newIndex) {
  return list ? list->Move(node, newIndex) : kBadArgument;
}

EngineStatus ClearList(FS_List* list, bool deleteNodes) {
  return list ? list->Clear(deleteNodes) : kBadArgument;
}

EngineStatus SetListTitle(FS_List* list, const char* title) {
  return list ? list->SetTitle(title) : kBadArgument;
}

std::uint32_t BiggestFileBlksInList(FS_List* list, std::uint32_t blockSize, bool withRsrc) {
  return list ? list->biggestFileBlks(blockSize, withRsrc) : 0;
}

EngineStatus FSGetVRefNum(const quillion::FileRef* fsRef, std::int16_t* volume) {
  if (fsRef == nullptr || volume == nullptr) return kErrParam;
  quillion::CatalogInfo info;
  if (quillion::readCatalogInfo(*fsRef, info) != kNoErr) return kErrFileAccess;
  *volume = info.volume;
  return kNoErr;
}

EngineStatus FSRefMakeFSSpec(const quillion::FileRef* fsRef, FS_FileSpec* spec) {
  if (fsRef == nullptr || spec == nullptr) return kErrParam;
  quillion::CatalogInfo info;
  if (quillion::readCatalogInfo(*fsRef, info) != kNoErr) return kErrFileAccess;
  const std::string leaf = fsRef->leafName();
  if (leaf.size() > 255) return kErrFileAccess;
  *spec = FS_FileSpec();
  spec->vRefNum = info.volume;
  spec->parID = info.parentDirID;
  spec->name[0] = static_cast<std::uint8_t>(leaf.size());
  std::memcpy(spec->name + 1, leaf.data(), leaf.size());
  return kNoErr;
}
