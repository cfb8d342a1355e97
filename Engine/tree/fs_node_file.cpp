// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a node's properties from its local file.
#include "tree/fs_file_wrapper.h"
#include "tree/fs_node.h"

void FS_Node::copyFromWrapper(const FS_FileWrapper& wrapper) {
  SetFolder(wrapper.isFolder());
  SetFlag(kFSNodeShortcut, wrapper.isShortcut());
  SetFlag(kFSNodeVisible, wrapper.isVisible());
  dataActualSize = wrapper.dataSize();
  rsrcActualSize = wrapper.rsrcSize();
  if (!wrapper.isFolder()) {
    fileType = wrapper.fileType();
    creatorType = wrapper.creatorType();
    finderFlags = wrapper.FinderFlags();
  }
  (void)wrapper.modificationDate(&modifiedDate);
  (void)wrapper.creationDate(&creationDate);
  quillion::CatalogInfo info;
  (void)wrapper.GetFSCatalogInfo(&info);
  fileMode = info.mode;
  contentModDate = info.contentModDate;
}

// The valid bit follows the result, so a node whose file is gone never claims to be read.
bool FS_Node::SetFullPathName(const char* path, bool symbolic) {
  Reset(true);
  SetSymbolic(symbolic);
  fsRef = quillion::FileRef();
  if (path != nullptr) fullPathName = path;
  const FS_FileWrapper wrapper(path, symbolic);
  if (path == nullptr || !wrapper.IsValid()) {
    SetValid(false);
    return false;
  }
  copyFromWrapper(wrapper);
  fullPathName = path;
  fsRef = wrapper.GetFSRef();
  SetValid(true);
  return true;
}

bool FS_Node::SetPropertiesByFSRef(const quillion::FileRef* ref,
                                   const quillion::CatalogInfo* info) {
  const FS_FileWrapper wrapper(ref, info);
  if (!wrapper.IsValid()) return false;
  fsRef = *ref;
  copyFromWrapper(wrapper);
  return true;
}

// A node with no file behind it (a folder made in the layout, an imported item) has an
// empty path.
const std::string& FS_Node::GetFullPathName() {
  if (fullPathName.empty() && !fsRef.empty()) fullPathName = fsRef.path();
  return fullPathName;
}

bool FS_Node::GetPOSIX_lstat(struct stat* out) {
  if (out == nullptr) return false;
  const std::string& path = GetFullPathName();
  return !path.empty() && ::lstat(path.c_str(), out) == 0;
}
