// SPDX-License-Identifier: GPL-2.0-or-later
// The content tree's flat API: nodes, trees of data layouts and track lists of audio and
// video layouts, on opaque handles. Texts are UTF-8. Ownership, in short: a node owns its
// children and its user data; a tree owns its root; a list owns the nodes it holds when it
// is cleared with deletion or destroyed; a node taken out without deletion belongs to the
// caller, who frees it with termNode.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "quillion/status.h"

class FS_Node;
class FS_Tree;
class FS_List;

// A local file as the engine names it, and its catalog information: only pointers to them
// cross this interface.
namespace quillion {
class FileRef;
struct CatalogInfo;
}  // namespace quillion

// The flag bits of a node.
enum FS_NodeFlag : std::uint32_t {
  kFSNodeValid = 1u << 0,       // the file was found on disc
  kFSNodeFolder = 1u << 1,      // the node is a folder
  kFSNodeExpanded = 1u << 2,    // shown open in the outline
  kFSNodeShortcut = 1u << 3,    // an alias or a symbolic link
  kFSNodeSymbolic = 1u << 4,    // stands for a symbolic link itself, not its target
  kFSNodeVisible = 1u << 5,     // visible to the user
  kFSNodePackage = 1u << 6,     // a folder spanned as one unit
  kFSNodeImportItem = 1u << 7,  // from an earlier session; no local file
  kFSNodeForm2File = 1u << 8,   // written in Mode 2 Form 2 sectors
  kFSNodeTemp = 1u << 9,        // added by a drop the user may still cancel
  kFSNodeUsed = 1u << 10,       // disc spanning: wholly placed
  kFSNodePolluted = 1u << 11,   // disc spanning: partly placed
};

// The callback of every walk: (node, stop flag, context, depth, skip-children flag). A
// post-order walk passes a null skip flag.
using FS_WalkProc = void (*)(FS_Node* node, bool* stop, void* context, std::uint16_t depth,
                             bool* skipChildren);

// ---- nodes ----
// A node for a local file (path given) or a folder made in the layout (no path). When a
// parent is given the node is added to it; check GetParentNode when that matters, since a
// node whose title clashes stays detached and is the caller's.
FS_Node* initNode(const char* path, const char* title, FS_Node* parent, bool symbolic);
// A node from a file reference and, when the caller has it, its catalog information. An
// invalid node is never added to the parent.
FS_Node* initNodeByFSRef(const quillion::FileRef* fsRef, const char* title, FS_Node* parent,
                         const quillion::CatalogInfo* catalogInfo);
void termNode(FS_Node* node);

// AddChildNode refuses (-1001) a child that already has a parent or is a tree's root, and
// a node that is not a folder as parent; -1277 when the child would hold its own parent.
[[nodiscard]] EngineStatus AddChildNode(FS_Node* node, FS_Node* child);
[[nodiscard]] EngineStatus RemoveChildNode(FS_Node* node, FS_Node* child, bool deleteChild);
[[nodiscard]] EngineStatus RemoveChildrenNode(FS_Node* node);
[[nodiscard]] EngineStatus WalkAllNodeChildren(FS_Node* node, FS_WalkProc proc, void* context,
                                               std::uint16_t* depth);
std::string RelativePathToMe(FS_Node* node);

[[nodiscard]] EngineStatus SetTitleNode(FS_Node* node, const char* title, bool rekey);
const char* GetTitleNode(FS_Node* node);
bool SetFullPathNameNode(FS_Node* node, const char* path);
const char* GetFullPathNameNode(FS_Node* node);
const quillion::FileRef* GetNodeFSRef(FS_Node* node);

std::tm* modifiedDate(FS_Node* node);
void SetModifiedDate(FS_Node* node, const std::tm* date);
std::tm* creationDate(FS_Node* node);
void SetCreationDate(FS_Node* node, const std::tm* date);

void* UsrData(FS_Node* node);
void SetUserData(FS_Node* node, void* data);  // frees the replaced block with free()
std::int16_t GetPauseLength(FS_Node* node);
void SetPauseLength(FS_Node* node, std::int16_t seconds);
std::uint32_t NodeDiscID(FS_Node* node);
FS_Node* GetParentNode(FS_Node* node);
void SetParentNode(FS_Node* node, FS_Node* parent);  // changes no child map
bool IsDescendant(FS_Node* node, FS_Node* ancestor);

std::uint64_t dataActualSizeNode(FS_Node* node);
std::uint64_t rsrcActualSizeNode(FS_Node* node);
std::uint64_t dataSizeNode(FS_Node* node);
std::uint64_t rsrcSizeNode(FS_Node* node);
void setDataSize(FS_Node* node, std::uint64_t bytes);
std::uint32_t SubFoldersNode(FS_Node* node);
std::uint32_t SubFilesNode(FS_Node* node);
std::uint32_t GetNumberOfChildren(FS_Node* node);
FS_Node* GetChildNodeAtIndex(FS_Node* node, std::uint32_t index);
[[nodiscard]] EngineStatus GetChildrenInfoNode(FS_Node* node, std::uint32_t* folders,
                                               std::uint32_t* files, std::uint64_t* dataBytes,
                                               std::uint64_t* rsrcBytes, bool deep);

bool IsValid(FS_Node* node);
bool IsFolderNode(FS_Node* node);
bool IsShortcutNode(FS_Node* node);
bool isSymbolic(FS_Node* node);
bool IsExpandedNode(FS_Node* node);
bool IsVisibleNode(FS_Node* node);
bool IsPackageNode(FS_Node* node);
bool IsTempNode(FS_Node* node);
bool IsISO9660ImportItem(FS_Node* node);
void SetIsExpandedNode(FS_Node* node, bool on);
void setSymbolic(FS_Node* node, bool on);
void SetPackageNode(FS_Node* node, bool on);
void SetTempNode(FS_Node* node, bool on);
void SetISO9660ImportItem(FS_Node* node, bool on);

// ---- trees ----
FS_Tree* initTree(FS_Node* root);
void termTree(FS_Tree* tree);
FS_Node* GetRootTreeNode(FS_Tree* tree);
bool isRootNode(FS_Tree* tree, FS_Node* node);
[[nodiscard]] EngineStatus AddTreeNode(FS_Tree* tree, FS_Node* node, FS_Node* parent);
[[nodiscard]] EngineStatus RemoveTreeNode(FS_Tree* tree, FS_Node* node, bool deleteNode);
[[nodiscard]] EngineStatus MoveTreeNode(FS_Tree* tree, FS_Node* node, FS_Node* newParent);
FS_Node* TreeNodeAtIndex(FS_Tree* tree, FS_Node* parent, std::uint32_t index);
std::uint32_t NumNodeChildren(FS_Tree* tree, FS_Node* node);
[[nodiscard]] EngineStatus TreeInfo(FS_Tree* tree, std::uint32_t* folders, std::uint32_t* files,
                                    std::uint64_t* dataBytes, std::uint64_t* rsrcBytes,
                                    bool recompute);
std::uint32_t NumNodes(FS_Tree* tree);
// Merges `node` (detached, the caller's) into `parent`: added as it is when its title is
// free; a folder whose title a folder of `parent` bears has its children merged into that
// folder, recursively, and is then destroyed. 0: the node is consumed (added or merged and
// destroyed); do not use the pointer as the caller's any longer. -1271: some titles clashed
// with a file; the node is still the caller's and holds exactly what could not be merged.
[[nodiscard]] EngineStatus MergeWithANode(FS_Tree* tree, FS_Node* parent, FS_Node* node);
[[nodiscard]] EngineStatus RemoveISOImportItems(FS_Tree* tree);
[[nodiscard]] EngineStatus fstree_RemoveAllTempNodes(FS_Tree* tree);
[[nodiscard]] EngineStatus fstree_ResetAllTempNodes(FS_Tree* tree, bool value);
[[nodiscard]] EngineStatus WalkWholeTree(FS_Tree* tree, FS_WalkProc proc, void* context,
                                         std::uint16_t* depth);
void MAC_SetUseResourceFork(FS_Tree* tree, bool on);
bool MAC_UseResourceFork(FS_Tree* tree);
const char* GetTreeTitle(FS_Tree* tree);
[[nodiscard]] EngineStatus SetTreetitle(FS_Tree* tree, const char* title);
std::uint32_t BiggestFileBlks(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags,
                              bool packagesWhole);

// ---- track lists ----
FS_List* initList();
void termList(FS_List* list);
std::uint32_t SizeOfList(FS_List* list);
std::int32_t IndexOfNodeInList(FS_List* list, FS_Node* node);  // -1 when absent
[[nodiscard]] EngineStatus InsertItemAt(FS_List* list, std::uint32_t index, FS_Node* node);
[[nodiscard]] EngineStatus AppendItem(FS_List* list, FS_Node* node);
[[nodiscard]] EngineStatus DeleteItemAt(FS_List* list, std::uint32_t index);  // destroys the node
[[nodiscard]] EngineStatus FSL_DeleteNode(FS_List* list,
                                          FS_Node* node);  // the node is the caller's
FS_Node* NodeAtIndex(FS_List* list, std::uint32_t index);
// -1001 when the node is not in the list; an index past the end moves it to the end.
[[nodiscard]] EngineStatus MoveItemTo(FS_List* list, FS_Node* node, std::uint32_t newIndex);
[[nodiscard]] EngineStatus ClearList(FS_List* list, bool deleteNodes);
[[nodiscard]] EngineStatus SetListTitle(FS_List* list, const char* title);
std::uint32_t BiggestFileBlksInList(FS_List* list, std::uint32_t blockSize, bool withRsrc);

// ---- file references ----
// The volume reference number of the volume that holds the entry; kErrParam (-50) for a
// null output, kErrFileAccess when the entry cannot be examined.
[[nodiscard]] EngineStatus FSGetVRefNum(const quillion::FileRef* fsRef, std::int16_t* volume);

// The older file specification: volume, folder and leaf name (length-prefixed, at most 255
// bytes).
struct FS_FileSpec {
  std::int16_t vRefNum = 0;
  std::uint64_t parID = 0;
  std::uint8_t name[256] = {};
};
[[nodiscard]] EngineStatus FSRefMakeFSSpec(const quillion::FileRef* fsRef, FS_FileSpec* spec);
