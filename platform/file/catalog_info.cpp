// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file/catalog_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/file/xattr.h"

namespace quillion {
namespace {

CatalogDate fromStatx(const struct statx_timestamp& t) {
  return CatalogDate{t.tv_sec, t.tv_nsec};
}

std::uint64_t roundUp512(std::uint64_t bytes) {
  return (bytes + 511) / 512 * 512;
}

void putWord32(std::array<std::uint8_t, kFinderInfoBytes>& info, std::size_t at,
               std::uint32_t value) {
  for (int i = 0; i < 4; ++i) info[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void fillFromStatx(const struct statx& sx, CatalogInfo& out) {
  out.mode = sx.stx_mode;
  out.symbolicLink = S_ISLNK(sx.stx_mode);
  if (S_ISDIR(sx.stx_mode)) out.nodeFlags |= kCatalogNodeDirectory;
  if ((sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) out.nodeFlags |= kCatalogNodeLocked;
  out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  out.volume = volumeRefNumForDevice(out.device);
  out.nodeID = sx.stx_ino;
  out.linkCount = sx.stx_nlink;
  out.ownerID = sx.stx_uid;
  out.groupID = sx.stx_gid;
  out.createDateIsBirth = (sx.stx_mask & STATX_BTIME) != 0;
  out.createDate = fromStatx(out.createDateIsBirth ? sx.stx_btime : sx.stx_mtime);
  out.contentModDate = fromStatx(sx.stx_mtime);
  out.attributeModDate = fromStatx(sx.stx_ctime);
  out.accessDate = fromStatx(sx.stx_atime);
  // A folder has no data fork of its own; its st_size is a file-system detail.
  if (!S_ISDIR(sx.stx_mode)) {
    out.dataLogicalSize = sx.stx_size;
    out.dataPhysicalSize = sx.stx_blocks * 512;
  }
}

// Which of the two attributes the entry carries, from one listing of its attribute names:
// most files carry neither, and asking for each by name costs a call apiece. Unknown when
// the names cannot be listed (the caller then asks for each).
struct ForkAttributesPresent {
  bool known = false;
  bool finderInfo = false;
  bool resourceFork = false;
};

ForkAttributesPresent listForkAttributes(const std::string& path) {
  ForkAttributesPresent present;
  std::array<char, 1024> names;
  const ssize_t n = ::llistxattr(path.c_str(), names.data(), names.size());
  if (n < 0) {
    present.known = errno == ENOTSUP;  // a file system without attributes has none
    return present;
  }
  present.known = true;
  for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
    const std::string_view name(names.data() + at);
    if (name == kFinderInfoXattr) present.finderInfo = true;
    if (name == kResourceForkXattr) present.resourceFork = true;
    at += name.size() + 1;
  }
  return present;
}

EngineStatus readForkAttributes(const std::string& path, CatalogInfo& out) {
  const ForkAttributesPresent present = listForkAttributes(path);
  if (present.known && !present.finderInfo && !present.resourceFork) return kNoErr;
  std::vector<std::uint8_t> finder;
  if (readXattr(path, kFinderInfoXattr, finder) != kNoErr) return kErrFileAccess;
  std::copy_n(finder.begin(), std::min(finder.size(), kFinderInfoBytes), out.finderInfo.begin());
  std::uint64_t rsrc = 0;
  if (xattrSize(path, kResourceForkXattr, rsrc) != kNoErr) return kErrFileAccess;
  out.rsrcLogicalSize = rsrc;
  out.rsrcPhysicalSize = roundUp512(rsrc);
  return kNoErr;
}

std::uint64_t parentInode(const FileRef& ref) {
  struct stat st {};
  const std::string parent = ref.parentPath();
  if (parent.empty() || ::stat(parent.c_str(), &st) != 0) return 0;
  return st.st_ino;
}

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;
constexpr int kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;

// The rest of readCatalogInfo once the entry's statx is in `sx`.
EngineStatus completeCatalogInfo(const FileRef& ref, const struct statx& sx,
                                 std::uint64_t parentDirID, CatalogInfo& out) {
  out = CatalogInfo();
  fillFromStatx(sx, out);
  if (const EngineStatus s = readForkAttributes(ref.path(), out); s != kNoErr) {
    out = CatalogInfo();
    return s;
  }
  if (out.symbolicLink && out.fileType() == 0 && out.creatorType() == 0) {
    putWord32(out.finderInfo, 0, kSymbolicLinkFileType);
    putWord32(out.finderInfo, 4, kSymbolicLinkCreator);
  }
  out.parentDirID = parentDirID;
  return kNoErr;
}

// The entry's statx; `out` cleared.
EngineStatus statEntry(const FileRef& ref, struct statx& sx, CatalogInfo& out) {
  out = CatalogInfo();
  if (ref.empty()) return kErrBadArgument;
  if (::statx(AT_FDCWD, ref.path().c_str(), kStatxFlags, kStatxMask, &sx) != 0)
    return kErrFileAccess;
  return kNoErr;
}

}  // namespace

EngineStatus readCatalogInfo(const FileRef& ref, CatalogInfo& out) {
  struct statx sx {};
  if (const EngineStatus s = statEntry(ref, sx, out); s != kNoErr) return s;
  return completeCatalogInfo(ref, sx, parentInode(ref), out);
}

EngineStatus readCatalogInfoWithoutParent(const FileRef& ref, CatalogInfo& out) {
  struct statx sx {};
  if (const EngineStatus s = statEntry(ref, sx, out); s != kNoErr) return s;
  return completeCatalogInfo(ref, sx, 0, out);
}

EngineStatus readEntryState(const FileRef& ref, CatalogInfo& out) {
  struct statx sx {};
  if (const EngineStatus s = statEntry(ref, sx, out); s != kNoErr) return s;
  fillFromStatx(sx, out);
  return kNoErr;
}

std::int16_t volumeRefNumForDevice(std::uint64_t device) {
  // Numbered downwards from -100 like the volumes of the original platform; the
  // numbers are handed out once and never reused during a run.
  static std::mutex mutex;
  static std::map<std::uint64_t, std::int16_t> numbers;
  static std::int16_t next = -100;
  std::lock_guard lock(mutex);
  auto it = numbers.find(device);
  if (it != numbers.end()) return it->second;
  const std::int16_t number = next;
  if (next > INT16_MIN) --next;
  numbers.emplace(device, number);
  return number;
}

EngineStatus listFolder(const FileRef& folder, std::vector<FolderEntry>& out) {
  out.clear();
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.path().c_str()));
  if (!dir) return kErrFileAccess;
  // Every entry has this folder for parent: it is examined once, and each entry relative
  // to it, which spares walking the whole path for every entry.
  const int dirFd = ::dirfd(dir.get());
  struct stat self {};
  const std::uint64_t parentDirID = ::fstat(dirFd, &self) == 0 ? self.st_ino : 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    FolderEntry item;
    item.name = std::string(name);
    item.ref = FileRef::inFolder(folder, name);
    struct statx sx {};
    if (::statx(dirFd, entry->d_name, kStatxFlags, kStatxMask, &sx) != 0)
      item.status = kErrFileAccess;
    else
      item.status = completeCatalogInfo(item.ref, sx, parentDirID, item.info);
    out.push_back(std::move(item));
  }
  std::sort(out.begin(), out.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return kNoErr;
}

}  // namespace quillion
