// SPDX-License-Identifier: GPL-2.0-or-later
// Node construction, children, titles, walks and folder totals.
#include "tree/fs_node.h"

#include <chrono>
#include <cstdlib>
#include <iterator>

#include "quillion/clock.h"

namespace {

std::tm localNow() {
  const auto now = quillion::engineClock().wallNow();
  const std::time_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return local;
}

std::string withoutColons(const char* text) {
  std::string s(text);
  for (char& c : s)
    if (c == ':') c = '/';
  return s;
}

constexpr std::uint32_t kClearedByReset =
    kFSNodeFolder | kFSNodeExpanded | kFSNodeShortcut | kFSNodeSymbolic | kFSNodePackage |
    kFSNodeImportItem | kFSNodeForm2File | kFSNodeTemp | kFSNodeUsed | kFSNodePolluted;

}  // namespace

std::uint64_t roundUpToBlock(std::uint64_t bytes, std::uint32_t blockSize) {
  if (blockSize == 0) return bytes;
  return (bytes + blockSize - 1) / blockSize * blockSize;
}

FS_Node::FS_Node() {
  Reset(false);
}

FS_Node::~FS_Node() {
  std::free(userData);
}

// A node that its parent refuses stays detached: the caller owns it then.
void FS_Node::attachTo(FS_Node* newParent) {
  if (newParent != nullptr) (void)newParent->AddChild(this);
}

FS_Node* FS_Node::MakeImportFile(const char* nodeTitle, FS_Node* newParent, std::uint32_t dataLBA,
                                 std::uint32_t rsrcLBA) {
  auto* node = new FS_Node();
  (void)node->SetTitle(nodeTitle, false);
  node->importDataLBA = dataLBA;
  node->importRsrcLBA = rsrcLBA;
  node->SetFolder(false);
  node->SetISO9660ImportItem(true);
  node->attachTo(newParent);
  return node;
}

FS_Node* FS_Node::MakeFolder(const char* nodeTitle, FS_Node* newParent, bool importItem) {
  auto* node = new FS_Node();
  (void)node->SetTitle(nodeTitle, false);
  node->SetISO9660ImportItem(importItem);
  node->attachTo(newParent);
  return node;
}

FS_Node* FS_Node::MakeForPath(const char* path, const char* nodeTitle, FS_Node* newParent,
                              bool symbolic) {
  auto* node = new FS_Node();
  (void)node->SetTitle(nodeTitle, false);
  node->SetSymbolic(symbolic);
  if (path != nullptr) node->SetFullPathName(path, symbolic);
  node->attachTo(newParent);
  return node;
}

FS_Node* FS_Node::MakeForFSRef(const quillion::FileRef* ref, const char* nodeTitle,
                               FS_Node* newParent, const quillion::CatalogInfo* info) {
  auto* node = new FS_Node();
  (void)node->SetTitle(nodeTitle, false);
  node->SetValid(ref != nullptr && node->SetPropertiesByFSRef(ref, info));
  if (node->IsValid()) node->attachTo(newParent);
  return node;
}

void FS_Node::Reset(bool keep) {
  flags = (flags & ~kClearedByReset) | kFSNodeValid | kFSNodeVisible;
  importDataLBA = importRsrcLBA = 0;
  dataActualSize = rsrcActualSize = dataSize = rsrcSize = 0;
  discID = placedChildren = 0;
  pauseLength = -1;
  fullPathName.clear();
  creationDate = modifiedDate = localNow();
  fileMode = 0;
  contentModDate = quillion::CatalogDate{};
  if (keep) return;
  parent = nullptr;
  subFolders = subFiles = 0;
  SetFolder(true);
}

EngineStatus FS_Node::AddChild(FS_Node* child) {
  if (child == nullptr || child->parent != nullptr || child->treeRoot || !IsFolder())
    return kErrBadArgument;
  if (IsDescendant(child)) return kErrTreeBadMove;
  if (children.find(child->title) != children.end()) return kErrTreeDuplicateTitle;
  children.emplace(child->title, std::unique_ptr<FS_Node>(child));
  child->parent = this;
  childrenChanged();
  return kNoErr;
}

EngineStatus FS_Node::RemoveChild(FS_Node* child, bool deleteChild) {
  if (child == nullptr) return kErrBadArgument;
  auto it = children.find(child->title);
  if (it == children.end() || it->second.get() != child) return kErrTreeNotChild;
  std::unique_ptr<FS_Node> owned = std::move(it->second);
  children.erase(it);
  childrenChanged();
  owned->parent = nullptr;
  if (!deleteChild) (void)owned.release();
  return kNoErr;
}

EngineStatus FS_Node::RemoveChildren() {
  children.clear();
  childrenChanged();
  return kNoErr;
}

FS_Node* FS_Node::FindChild(std::string_view childTitle) const {
  auto it = children.find(childTitle);
  return it == children.end() ? nullptr : it->second.get();
}

FS_Node* FS_Node::GetChildNodeAtIndex(std::uint32_t index) const {
  if (index >= children.size()) return nullptr;
  auto& cache = indexCache;
  if (cache.version != childrenVersion || cache.index > index) {
    cache.version = childrenVersion;
    cache.index = 0;
    cache.at = children.begin();
  }
  cache.at = std::next(cache.at, index - cache.index);
  cache.index = index;
  return cache.at->second.get();
}

bool FS_Node::IsDescendant(const FS_Node* ancestor) const {
  if (ancestor == nullptr) return false;
  for (const FS_Node* n = this; n != nullptr; n = n->parent)
    if (n == ancestor) return true;
  return false;
}

void FS_Node::SetUserData(void* data) {
  if (userData != nullptr && userData != data) std::free(userData);
  userData = data;
}

// A child is always filed under its title, with or without `rekey`: a title that its map
// did not follow would leave the child where it can no longer be found or removed.
EngineStatus FS_Node::SetTitle(const char* newTitle, bool rekey) {
  if (newTitle == nullptr || *newTitle == '\0')
    return rekey && parent == nullptr ? kNoErr : kErrBadArgument;
  std::string key = withoutColons(newTitle);
  if (parent == nullptr) {
    title = std::move(key);
    return kNoErr;
  }
  auto& siblings = parent->children;
  if (FS_Node* other = parent->FindChild(key); other != nullptr && other != this)
    return kErrTreeDuplicateTitle;
  auto entry = siblings.extract(title);
  if (entry.empty()) return kErrTreeNotChild;
  entry.key() = key;
  siblings.insert(std::move(entry));
  parent->childrenChanged();
  title = std::move(key);
  return kNoErr;
}

std::string FS_Node::RelativePathToMe() const {
  if (parent == nullptr) return {};
  std::string path = title;
  for (const FS_Node* n = parent; n->parent != nullptr; n = n->parent)
    path = n->title + '\\' + path;
  return path;
}

// The next sibling is found by key after each visit, so a callback may take out or destroy
// the node it was given; a folder is entered only while it is still in this map.
EngineStatus FS_Node::WalkAllChildren(FS_WalkProc proc, void* context, std::uint16_t* depth,
                                      bool preOrder) {
  if (proc == nullptr) return kErrBadArgument;
  std::uint16_t localDepth = 0;
  std::uint16_t& level = depth != nullptr ? *depth : localDepth;
  ++level;
  bool stop = false;
  auto it = children.begin();
  while (it != children.end() && !stop) {
    const std::string key = it->first;
    FS_Node* child = it->second.get();
    if (preOrder) {
      bool skip = false;
      proc(child, &stop, context, level, &skip);
      if (!skip && !stop && FindChild(key) == child && child->IsFolder() &&
          child->WalkAllChildren(proc, context, &level, true) != kNoErr)
        stop = true;
    } else {
      if (child->IsFolder() && child->WalkAllChildren(proc, context, &level, false) != kNoErr)
        stop = true;
      if (!stop) proc(child, &stop, context, level, nullptr);
    }
    it = children.upper_bound(key);
  }
  --level;
  return stop ? kErrTreeWalkStopped : kNoErr;
}

EngineStatus FS_Node::CollectAndSetFolderSize(std::uint32_t blockSize) {
  if (!IsFolder()) return kNoErr;
  if (blockSize == 0) return kErrBadArgument;
  subFiles = subFolders = 0;
  dataActualSize = rsrcActualSize = dataSize = rsrcSize = 0;
  for (auto& [key, child] : children) {
    if (child->IsFolder()) {
      (void)child->CollectAndSetFolderSize(blockSize);
      subFiles += child->subFiles;
      subFolders += child->subFolders + 1;
    } else {
      child->dataSize = roundUpToBlock(child->dataActualSize, blockSize);
      child->rsrcSize = roundUpToBlock(child->rsrcActualSize, blockSize);
      subFiles += 1;
    }
    dataActualSize += child->dataActualSize;
    rsrcActualSize += child->rsrcActualSize;
    dataSize += child->dataSize;
    rsrcSize += child->rsrcSize;
  }
  return kNoErr;
}

EngineStatus FS_Node::GetChildrenInfo(std::uint32_t* folders, std::uint32_t* files,
                                      std::uint64_t* dataBytes, std::uint64_t* rsrcBytes,
                                      bool deep) const {
  std::uint32_t nFolders = 0, nFiles = 0;
  std::uint64_t data = 0, rsrc = 0;
  if (IsFolder()) {
    for (const auto& [key, child] : children) {
      if (child->IsFolder()) {
        ++nFolders;
        if (deep) {
          std::uint32_t f = 0, n = 0;
          std::uint64_t d = 0, r = 0;
          (void)child->GetChildrenInfo(&f, &n, &d, &r, true);
          nFolders += f;
          nFiles += n;
          data += d;
          rsrc += r;
        }
      } else {
        ++nFiles;
        data += child->dataActualSize;
        rsrc += child->rsrcActualSize;
      }
    }
  }
  if (folders) *folders = nFolders;
  if (files) *files = nFiles;
  if (dataBytes) *dataBytes = data;
  if (rsrcBytes) *rsrcBytes = rsrc;
  return kNoErr;
}

void FS_Node::copyFieldsFrom(const FS_Node& s) {
  fsRef = s.fsRef;
  dataActualSize = s.dataActualSize;
  rsrcActualSize = s.rsrcActualSize;
  subFolders = s.subFolders;
  subFiles = s.subFiles;
  creationDate = s.creationDate;
  modifiedDate = s.modifiedDate;
  fileType = s.fileType;
  creatorType = s.creatorType;
  finderFlags = s.finderFlags;
  fileMode = s.fileMode;
  contentModDate = s.contentModDate;
  title = s.title;
  fullPathName = s.fullPathName;
  pauseLength = s.pauseLength;
  dataSize = s.dataSize;
  rsrcSize = s.rsrcSize;
  importDataLBA = s.importDataLBA;
  importRsrcLBA = s.importRsrcLBA;
  flags = s.flags;
  discID = s.discID;
  placedChildren = s.placedChildren;
}

FS_Node* FS_Node::CopyNode(bool recursive, std::uint32_t newDiscID) {
  auto copy = std::unique_ptr<FS_Node>(new FS_Node());
  copy->copyFieldsFrom(*this);
  if (recursive) {
    for (auto& [key, child] : children) {
      std::unique_ptr<FS_Node> childCopy(child->CopyNode(true, newDiscID));
      if (copy->AddChild(childCopy.get()) == kNoErr) (void)childCopy.release();
    }
  }
  if (newDiscID != 0) discID = newDiscID;
  return copy.release();
}
