// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file/xattr.h"

#include <sys/xattr.h>

#include <cerrno>

namespace quillion {
namespace {

bool meansAbsent(int error) {
  return error == ENODATA || error == ENOTSUP;
}

}  // namespace

EngineStatus xattrSize(const std::string& path, const char* name, std::uint64_t& size) {
  size = 0;
  const ssize_t n = ::lgetxattr(path.c_str(), name, nullptr, 0);
  if (n >= 0) {
    size = static_cast<std::uint64_t>(n);
    return kNoErr;
  }
  return meansAbsent(errno) ? kNoErr : kErrFileAccess;
}

EngineStatus readXattr(const std::string& path, const char* name, std::vector<std::uint8_t>& out) {
  out.clear();
  // The attribute may grow between asking its size and reading it; ask again then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::uint64_t size = 0;
    if (const EngineStatus s = xattrSize(path, name, size); s != kNoErr) return s;
    if (size == 0) return kNoErr;
    out.resize(size);
    const ssize_t n = ::lgetxattr(path.c_str(), name, out.data(), out.size());
    if (n >= 0) {
      out.resize(static_cast<std::size_t>(n));
      return kNoErr;
    }
    if (errno == ERANGE) continue;
    out.clear();
    return meansAbsent(errno) ? kNoErr : kErrFileAccess;
  }
  out.clear();
  return kErrFileAccess;
}

}  // namespace quillion
