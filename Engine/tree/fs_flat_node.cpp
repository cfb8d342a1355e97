// SPDX-License-Identifier: GPL-2.0-or-later
// The flat functions on nodes.
#include "quillion/FS.h"
#include "tree/fs_node.h"

FS_Node* initNode(const char* path, const char* title, FS_Node* parent, bool symbolic) {
  return FS_Node::MakeForPath(path, title, parent, symbolic);
}

FS_Node* initNodeByFSRef(const quillion::FileRef* fsRef, const char* title, FS_Node* parent,
                         const quillion::CatalogInfo* catalogInfo) {
  return FS_Node::MakeForFSRef(fsRef, title, parent, catalogInfo);
}

void termNode(FS_Node* node) {
  delete node;
}

EngineStatus AddChildNode(FS_Node* node, FS_Node* child) {
  return node ? node->AddChild(child) : kBadArgument;
}

EngineStatus RemoveChildNode(FS_Node* node, FS_Node* child, bool deleteChild) {
  return node ? node->RemoveChild(child, deleteChild) : kBadArgument;
}

EngineStatus RemoveChildrenNode(FS_Node* node) {
  return node ? node->RemoveChildren() : kBadArgument;
}

EngineStatus WalkAllNodeChildren(FS_Node* node, FS_WalkProc proc, void* context,
                                 std::uint16_t* depth) {
  return node ? node->WalkAllChildren(proc, context, depth, true) : kBadArgument;
}

std::string RelativePathToMe(FS_Node* node) {
  return node ? node->RelativePathToMe() : std::string();
}

EngineStatus SetTitleNode(FS_Node* node, const char* title, bool rekey) {
  return node ? node->SetTitle(title, rekey) : kBadArgument;
}

const char* GetTitleNode(FS_Node* node) {
  return node ? node->Title().c_str() : nullptr;
}

bool SetFullPathNameNode(FS_Node* node, const char* path) {
  return node != nullptr && node->SetFullPathName(path, false);
}

const char* GetFullPathNameNode(FS_Node* node) {
  return node ? node->GetFullPathName().c_str() : nullptr;
}

const quillion::FileRef* GetNodeFSRef(FS_Node* node) {
  return node ? &node->fsRef : nullptr;
}

std::tm* modifiedDate(FS_Node* node) {
  return node ? &node->modifiedDate : nullptr;
}

void SetModifiedDate(FS_Node* node, const std::tm* date) {
  if (node && date) node->modifiedDate = *date;
}

std::tm* creationDate(FS_Node* node) {
  return node ? &node->creationDate : nullptr;
}

void SetCreationDate(FS_Node* node, const std::tm* date) {
  if (node && date) node->creationDate = *date;
}

void* UsrData(FS_Node* node) {
  return node ? node->UsrData() : nullptr;
}

void SetUserData(FS_Node* node, void* data) {
  if (node) node->SetUserData(data);
}

std::int16_t GetPauseLength(FS_Node* node) {
  return node ? node->pauseLength : -1;
}

void SetPauseLength(FS_Node* node, std::int16_t seconds) {
  if (node) node->pauseLength = seconds;
}

std::uint32_t NodeDiscID(FS_Node* node) {
  return node ? node->discID : 0;
}

FS_Node* GetParentNode(FS_Node* node) {
  return node ? node->Parent() : nullptr;
}

void SetParentNode(FS_Node* node, FS_Node* parent) {
  if (node) node->SetParent(parent);
}

bool IsDescendant(FS_Node* node, FS_Node* ancestor) {
  return node != nullptr && node->IsDescendant(ancestor);
}

std::uint64_t dataActualSizeNode(FS_Node* node) {
  return node ? node->dataActualSize : 0;
}
std::uint64_t rsrcActualSizeNode(FS_Node* node) {
  return node ? node->rsrcActualSize : 0;
}
std::uint64_t dataSizeNode(FS_Node* node) {
  return node ? node->dataSize : 0;
}
std::uint64_t rsrcSizeNode(FS_Node* node) {
  return node ? node->rsrcSize : 0;
}

void setDataSize(FS_Node* node, std::uint64_t bytes) {
  if (node == nullptr) return;
  node->dataActualSize = bytes;
  node->dataSize = roundUpToBlock(bytes, 2048);
}

std::uint32_t SubFoldersNode(FS_Node* node) {
  return node ? node->subFolders : 0;
}
std::uint32_t SubFilesNode(FS_Node* node) {
  return node ? node->subFiles : 0;
}
std::uint32_t GetNumberOfChildren(FS_Node* node) {
  return node ? node->GetNumberOfChildren() : 0;
}

FS_Node* GetChildNodeAtIndex(FS_Node* node, std::uint32_t index) {
  return node ? node->GetChildNodeAtIndex(index) : nullptr;
}

EngineStatus GetChildrenInfoNode(FS_Node* node, std::uint32_t* folders, std::uint32_t* files,
                                 std::uint64_t* dataBytes, std::uint64_t* rsrcBytes, bool deep) {
  return node ? node->GetChildrenInfo(folders, files, dataBytes, rsrcBytes, deep) : kBadArgument;
}

namespace {

bool flag(FS_Node* node, std::uint32_t bit) {
  return node != nullptr && node->HasFlag(bit);
}

void setFlag(FS_Node* node, std::uint32_t bit, bool on) {
  if (node) node->SetFlag(bit, on);
}

}  // namespace

bool IsValid(FS_Node* node) {
  return flag(node, kFSNodeValid);
}
bool IsFolderNode(FS_Node* node) {
  return flag(node, kFSNodeFolder);
}
bool IsShortcutNode(FS_Node* node) {
  return flag(node, kFSNodeShortcut);
}
bool isSymbolic(FS_Node* node) {
  return flag(node, kFSNodeSymbolic);
}
bool IsExpandedNode(FS_Node* node) {
  return flag(node, kFSNodeExpanded);
}
bool IsVisibleNode(FS_Node* node) {
  return flag(node, kFSNodeVisible);
}
bool IsPackageNode(FS_Node* node) {
  return flag(node, kFSNodePackage);
}
bool IsTempNode(FS_Node* node) {
  return flag(node, kFSNodeTemp);
}
bool IsISO9660ImportItem(FS_Node* node) {
  return flag(node, kFSNodeImportItem);
}
void SetIsExpandedNode(FS_Node* node, bool on) {
  setFlag(node, kFSNodeExpanded, on);
}
void setSymbolic(FS_Node* node, bool on) {
  setFlag(node, kFSNodeSymbolic, on);
}
void SetPackageNode(FS_Node* node, bool on) {
  setFlag(node, kFSNodePackage, on);
}
void SetTempNode(FS_Node* node, bool on) {
  setFlag(node, kFSNodeTemp, on);
}
void SetISO9660ImportItem(FS_Node* node, bool on) {
  setFlag(node, kFSNodeImportItem, on);
}
