// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file/catalog_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

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

EngineStatus readForkAttributes(const std::string& path, CatalogInfo& out) {
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

}  // namespace

EngineStatus readCatalogInfo(const FileRef& ref, CatalogInfo& out) {
  out = CatalogInfo();
  if (ref.empty()) return kErrBadArgument;
  struct statx sx {};
  const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  if (::statx(AT_FDCWD, ref.path().c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0)
    return kErrFileAccess;
  fillFromStatx(sx, out);
  if (const EngineStatus s = readForkAttributes(ref.path(), out); s != kNoErr) {
    out = CatalogInfo();
    return s;
  }
  if (out.symbolicLink && out.fileType() == 0 && out.creatorType() == 0) {
    putWord32(out.finderInfo, 0, kSymbolicLinkFileType);
    putWord32(out.finderInfo, 4, kSymbolicLinkCreator);
  }
  out.parentDirID = parentInode(ref);
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
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    FolderEntry item;
    item.name = std::string(name);
    item.ref = FileRef::inFolder(folder, name);
    item.status = readCatalogInfo(item.ref, item.info);
    out.push_back(std::move(item));
  }
  std::sort(out.begin(), out.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return kNoErr;
}

}  // namespace quillion
