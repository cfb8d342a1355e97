// SPDX-License-Identifier: GPL-2.0-or-later
// A reference to one entry of the local file system. It is an absolute path in which every
// folder is resolved, so two references to the same entry compare equal. Only the last
// component may still be a symbolic link: that is how a link is named as itself rather
// than as its target.
#pragma once

#include <string>
#include <string_view>

#include "quillion/status.h"

namespace quillion {

enum class LinkMode {
  follow,      // a link at the end of the path is replaced by its target
  linkItself,  // a link at the end of the path is the entry named
};

class FileRef {
 public:
  FileRef() = default;  // names nothing

  // Resolves `path` (absolute, or relative to the working folder). kErrFileAccess when the
  // entry (or, for linkItself, its folder) does not exist or cannot be reached;
  // kErrBadArgument for an empty path.
  [[nodiscard]] static EngineStatus make(std::string_view path, LinkMode mode, FileRef& out);

  // For entries found by listing a folder whose reference is already resolved.
  static FileRef inFolder(const FileRef& folder, std::string_view leaf);

  const std::string& path() const { return path_; }
  bool empty() const { return path_.empty(); }
  std::string leafName() const;
  std::string parentPath() const;

  friend bool operator==(const FileRef&, const FileRef&) = default;

 private:
  explicit FileRef(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace quillion
