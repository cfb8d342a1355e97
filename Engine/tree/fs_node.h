// SPDX-License-Identifier: GPL-2.0-or-later
// One entry of a layout: a file, a folder, an alias, a symbolic link, a package, an item
// of an imported session or a Form 2 file. A node owns its children and its user data.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file/catalog_info.h"
#include "platform/file/file_ref.h"
#include "quillion/FS.h"
#include "tree/char_compare.h"

class FS_FileWrapper;

class FS_Node {
 public:
  using ChildMap = std::map<std::string, std::unique_ptr<FS_Node>, CharCompareLess>;

  // Each maker returns a node that its parent owns when one was given and the node could
  // be added to it; otherwise the node is the caller's.
  // A file of an imported session, at the given blocks of that session.
  static FS_Node* MakeImportFile(const char* title, FS_Node* parent, std::uint32_t dataLBA,
                                 std::uint32_t rsrcLBA);
  // A folder by title alone.
  static FS_Node* MakeFolder(const char* title, FS_Node* parent, bool importItem);
  // A node for a local file or folder read from `path` (none: a folder made in the layout).
  static FS_Node* MakeForPath(const char* path, const char* title, FS_Node* parent, bool symbolic);
  // A node from a file reference; an invalid one is never added to the parent.
  static FS_Node* MakeForFSRef(const quillion::FileRef* fsRef, const char* title, FS_Node* parent,
                               const quillion::CatalogInfo* catalogInfo);

  FS_Node(const FS_Node&) = delete;
  FS_Node& operator=(const FS_Node&) = delete;
  ~FS_Node();

  // Takes ownership on success. Refused: null, a child that has a parent or is a tree's
  // root (-1001), a parent that is not a folder (-1001), a child that holds this node
  // (-1277), an equal title (-1271).
  [[nodiscard]] EngineStatus AddChild(FS_Node* child);
  // Takes the child out of the map and clears its parent; destroys it when asked, else it
  // is the caller's.
  EngineStatus RemoveChild(FS_Node* child, bool deleteChild);
  EngineStatus RemoveChildren();
  EngineStatus WalkAllChildren(FS_WalkProc proc, void* context, std::uint16_t* depth,
                               bool preOrder);
  EngineStatus CollectAndSetFolderSize(std::uint32_t blockSize);
  std::string RelativePathToMe() const;

  EngineStatus SetTitle(const char* title, bool rekey);
  const std::string& Title() const { return title; }
  bool SetFullPathName(const char* path, bool symbolic);
  bool SetPropertiesByFSRef(const quillion::FileRef* ref, const quillion::CatalogInfo* info);
  const std::string& GetFullPathName();
  bool GetPOSIX_lstat(struct stat* out);

  EngineStatus GetChildrenInfo(std::uint32_t* folders, std::uint32_t* files,
                               std::uint64_t* dataBytes, std::uint64_t* rsrcBytes, bool deep) const;
  std::uint32_t GetNumberOfChildren() const { return static_cast<std::uint32_t>(children.size()); }
  FS_Node* GetChildNodeAtIndex(std::uint32_t index) const;
  FS_Node* FindChild(std::string_view childTitle) const;
  const ChildMap& Children() const { return children; }
  FS_Node* Parent() const { return parent; }
  void SetParent(FS_Node* node) { parent = node; }
  bool IsDescendant(const FS_Node* ancestor) const;

  void SetUserData(void* data);
  void* UsrData() const { return userData; }

  std::uint32_t Flags() const { return flags; }
  bool HasFlag(std::uint32_t bit) const { return (flags & bit) != 0; }
  void SetFlag(std::uint32_t bit, bool on) { flags = on ? (flags | bit) : (flags & ~bit); }
  bool IsValid() const { return HasFlag(kFSNodeValid); }
  bool IsFolder() const { return HasFlag(kFSNodeFolder); }
  bool IsISO9660ImportItem() const { return HasFlag(kFSNodeImportItem); }
  bool IsForm2File() const { return HasFlag(kFSNodeForm2File); }
  bool IsPolluted() const { return HasFlag(kFSNodePolluted); }
  bool IsPackage() const { return HasFlag(kFSNodePackage); }
  bool IsTemp() const { return HasFlag(kFSNodeTemp); }
  void SetValid(bool on) { SetFlag(kFSNodeValid, on); }
  void SetFolder(bool on) { SetFlag(kFSNodeFolder, on); }
  void SetExpanded(bool on) { SetFlag(kFSNodeExpanded, on); }
  void SetExpandedNode(bool on) { SetFlag(kFSNodeExpanded, on); }
  void SetSymbolic(bool on) { SetFlag(kFSNodeSymbolic, on); }
  void SetPackage(bool on) { SetFlag(kFSNodePackage, on); }
  void SetISO9660ImportItem(bool on) { SetFlag(kFSNodeImportItem, on); }
  void SetForm2File(bool on) { SetFlag(kFSNodeForm2File, on); }
  void SetTemp(bool on) { SetFlag(kFSNodeTemp, on); }
  void SetUsed(bool on) { SetFlag(kFSNodeUsed, on); }
  void SetPolluted(bool on) { SetFlag(kFSNodePolluted, on); }

  // A copy without parent, user data or children; with `recursive`, the children are
  // copied the same way. A non-zero `discID` is stored in this node (the copy keeps the
  // value from before).
  FS_Node* CopyNode(bool recursive, std::uint32_t newDiscID);

  bool IsTreeRoot() const { return treeRoot; }

  quillion::FileRef fsRef;
  std::uint64_t dataActualSize = 0;
  std::uint64_t rsrcActualSize = 0;
  std::uint32_t subFolders = 0;
  std::uint32_t subFiles = 0;
  std::tm creationDate{};
  std::tm modifiedDate{};
  std::uint32_t fileType = 0;
  std::uint32_t creatorType = 0;
  std::uint16_t finderFlags = 0;
  // What the file system said of the entry when the node was read from it: its type and
  // permission bits (0 for a node not read from a file) and its content modification
  // time, which the layout keeps to tell at burn time whether the file changed since.
  std::uint32_t fileMode = 0;
  quillion::CatalogDate contentModDate;

 private:
  std::string title;
  std::string fullPathName;
  ChildMap children;
  FS_Node* parent = nullptr;
  void* userData = nullptr;

 public:
  std::int16_t pauseLength = -1;
  std::uint64_t dataSize = 0;
  std::uint64_t rsrcSize = 0;
  std::uint32_t importDataLBA = 0;
  std::uint32_t importRsrcLBA = 0;

 private:
  std::uint32_t flags = 0;

 public:
  std::uint32_t discID = 0;
  std::uint32_t placedChildren = 0;

 private:
  friend class FS_Tree;

  FS_Node();
  // The fresh state; `keep` leaves parent, children, counts, title, type, creator, Finder
  // flags and user data as they were. Without `keep` only for a node being made: it would
  // otherwise leave the node in a map that no longer matches its parent.
  void Reset(bool keep);
  void attachTo(FS_Node* newParent);
  void copyFromWrapper(const FS_FileWrapper& wrapper);
  void copyFieldsFrom(const FS_Node& source);
  void childrenChanged() { ++childrenVersion; }

  bool treeRoot = false;  // owned by a tree as its root: never a child of another node
  std::uint64_t childrenVersion = 0;
  // The last index asked for, so that walking the children by index stays linear.
  mutable struct {
    std::uint64_t version = ~std::uint64_t{0};
    std::uint32_t index = 0;
    ChildMap::const_iterator at;
  } indexCache;
};

std::uint64_t roundUpToBlock(std::uint64_t bytes, std::uint32_t blockSize);

// The status as a plain value, for conditional expressions beside other statuses.
inline constexpr EngineStatus kBadArgument = kErrBadArgument;
