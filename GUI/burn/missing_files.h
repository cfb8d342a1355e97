// SPDX-License-Identifier: GPL-2.0-or-later
// The missing-files sheet's model: the files the check could not find, each of which the
// user points at a new file or deletes from the layout. Plain data and the engine's flat
// tree and list functions; the sheet (missing_files_sheet.h) only shows it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "burn/file_check.h"
#include "quillion/status.h"

namespace quillion::burn {

// The pass that sizes the layout once nothing is missing any more.
enum class SizingRoute { None, Data, Audio, Video };

class MissingFilesList {
 public:
  MissingFilesList(const CheckedLayout& layout, std::vector<FS_Node*> missing);

  std::size_t size() const { return missing_.size(); }
  bool empty() const { return missing_.empty(); }
  FS_Node* node(std::size_t row) const { return missing_.at(row); }
  // The row's full path, or its title when the path is empty.
  std::string displayText(std::size_t row) const;

  static bool canBrowse(std::size_t selectedRows) { return selectedRows == 1; }
  static bool canDelete(std::size_t selectedRows) { return selectedRows >= 1; }
  // "Cancel" while files are missing, "OK" once none is.
  const char* closeButtonKey() const { return empty() ? "OK" : "Cancel"; }

  // The row's node takes `path` as its file and the path's last component as its title; the
  // row leaves the list. Answers the model that holds the node, so the window can set up its
  // track record again and post that model's notification. kErrBadArgument for a bad row or
  // an empty path.
  [[nodiscard]] EngineStatus relink(std::size_t row, const std::string& path, LayoutModel* owner);

  // Deletes the rows' nodes from the layout, last row first: a track from its list, any
  // other node from the tree. Rows out of range are ignored; a node the layout no longer
  // holds only leaves the list. The first failing engine status, kNoErr otherwise.
  [[nodiscard]] EngineStatus remove(std::vector<std::size_t> rows);

  // The pass to go on with: a tree with nodes sizes as data, else a non-empty track list
  // as audio, else a movie list as video.
  SizingRoute nextSizing() const;

 private:
  LayoutModel ownerOf(FS_Node* node) const;

  CheckedLayout layout_;
  std::vector<FS_Node*> missing_;
};

}  // namespace quillion::burn
