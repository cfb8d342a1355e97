// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/missing_files.h"

#include <algorithm>
#include <filesystem>

#include "quillion/FS.h"

namespace quillion::burn {

MissingFilesList::MissingFilesList(const CheckedLayout& layout, std::vector<FS_Node*> missing)
    : layout_(layout), missing_(std::move(missing)) {}

std::string MissingFilesList::displayText(std::size_t row) const {
  FS_Node* n = missing_.at(row);
  const char* path = GetFullPathNameNode(n);
  if (path && *path) return path;
  const char* title = GetTitleNode(n);
  return title ? title : "";
}

LayoutModel MissingFilesList::ownerOf(FS_Node* n) const {
  if (layout_.audioList && IndexOfNodeInList(layout_.audioList, n) >= 0) return LayoutModel::Audio;
  if (layout_.videoList && IndexOfNodeInList(layout_.videoList, n) >= 0) return LayoutModel::Video;
  return LayoutModel::Data;
}

EngineStatus MissingFilesList::relink(std::size_t row, const std::string& path,
                                      LayoutModel* owner) {
  if (row >= missing_.size() || path.empty()) return kErrBadArgument;
  FS_Node* n = missing_[row];
  const std::string title = std::filesystem::path(path).filename().string();
  // A title that clashes in its folder keeps the old one; the new file is what matters.
  (void)SetTitleNode(n, title.c_str(), true);
  if (!SetFullPathNameNode(n, path.c_str())) return kErrBadArgument;
  if (owner) *owner = ownerOf(n);
  missing_.erase(missing_.begin() + static_cast<std::ptrdiff_t>(row));
  return kNoErr;
}

EngineStatus MissingFilesList::remove(std::vector<std::size_t> rows) {
  std::ranges::sort(rows, std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  EngineStatus first = kNoErr;
  for (std::size_t row : rows) {
    if (row >= missing_.size()) continue;
    FS_Node* n = missing_[row];
    EngineStatus status = kNoErr;
    const LayoutModel owner = ownerOf(n);
    if (owner == LayoutModel::Audio) {
      status = DeleteItemAt(layout_.audioList,
                            static_cast<std::uint32_t>(IndexOfNodeInList(layout_.audioList, n)));
    } else if (owner == LayoutModel::Video) {
      status = DeleteItemAt(layout_.videoList,
                            static_cast<std::uint32_t>(IndexOfNodeInList(layout_.videoList, n)));
    } else if (layout_.tree && IsDescendant(n, GetRootTreeNode(layout_.tree))) {
      status = RemoveTreeNode(layout_.tree, n, true);
    }
    if (status != kNoErr && first == kNoErr) first = status;
    missing_.erase(missing_.begin() + static_cast<std::ptrdiff_t>(row));
  }
  return first;
}

SizingRoute MissingFilesList::nextSizing() const {
  if (layout_.tree) {
    FS_Node* root = GetRootTreeNode(layout_.tree);
    if (root && GetNumberOfChildren(root) > 0) return SizingRoute::Data;
  }
  if (layout_.audioList && SizeOfList(layout_.audioList) > 0) return SizingRoute::Audio;
  if (layout_.videoList && SizeOfList(layout_.videoList) > 0) return SizingRoute::Video;
  return SizingRoute::None;
}

}  // namespace quillion::burn
