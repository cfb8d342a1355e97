// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file/file_ref.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace quillion {
namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

bool resolve(const std::string& path, std::string& out) {
  std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
  if (!resolved) return false;
  out = resolved.get();
  return true;
}

// A leaf that realpath must handle itself: nothing, ".", ".." or a trailing slash.
bool leafNeedsResolving(std::string_view leaf) {
  return leaf.empty() || leaf == "." || leaf == "..";
}

}  // namespace

EngineStatus FileRef::make(std::string_view path, LinkMode mode, FileRef& out) {
  out = FileRef();
  if (path.empty()) return kErrBadArgument;
  const std::string text(path);
  if (text.find('\0') != std::string::npos) return kErrBadArgument;
  const auto slash = text.rfind('/');
  const std::string_view leaf = slash == std::string::npos
                                    ? std::string_view(text)
                                    : std::string_view(text).substr(slash + 1);

  std::string resolved;
  if (mode == LinkMode::follow || leafNeedsResolving(leaf)) {
    if (!resolve(text, resolved)) return kErrFileAccess;
  } else {
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
    if (!resolve(folder, resolved)) return kErrFileAccess;
    if (resolved != "/") resolved += '/';
    resolved += leaf;
    struct stat st {};
    if (::lstat(resolved.c_str(), &st) != 0) return kErrFileAccess;
  }
  out = FileRef(std::move(resolved));
  return kNoErr;
}

FileRef FileRef::inFolder(const FileRef& folder, std::string_view leaf) {
  std::string path = folder.path_;
  if (path != "/") path += '/';
  path += leaf;
  return FileRef(std::move(path));
}

std::string FileRef::leafName() const {
  const auto slash = path_.rfind('/');
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

std::string FileRef::parentPath() const {
  const auto slash = path_.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path_.substr(0, slash);
}

}  // namespace quillion
