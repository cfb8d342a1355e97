// SPDX-License-Identifier: GPL-2.0-or-later
// Catalog information of one entry, read with statx and the two user attributes that hold
// a file's Finder information and resource fork. The record is plain data: producers copy
// it, and the interface hands one it read while listing a folder back to the engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/file/file_ref.h"
#include "quillion/status.h"

namespace quillion {

inline constexpr std::uint16_t kCatalogNodeLocked = 0x0001;     // no write permission for anyone
inline constexpr std::uint16_t kCatalogNodeDirectory = 0x0010;  // the entry is a folder

inline constexpr std::uint16_t kFinderFlagIsAlias = 0x8000;
inline constexpr std::uint16_t kFinderFlagIsInvisible = 0x4000;

// 'slnk' / 'rhap': what a symbolic link taken as itself reports as type and creator.
inline constexpr std::uint32_t kSymbolicLinkFileType = 0x736C6E6Bu;
inline constexpr std::uint32_t kSymbolicLinkCreator = 0x72686170u;

inline constexpr std::size_t kFinderInfoBytes = 32;

// Seconds and nanoseconds since 1970-01-01 00:00 UTC.
struct CatalogDate {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
};

struct CatalogInfo {
  std::uint16_t nodeFlags = 0;
  std::int16_t volume = 0;  // volume reference number; 0 names no volume
  std::uint64_t device = 0;
  std::uint64_t parentDirID = 0;  // inode of the folder that holds the entry
  std::uint64_t nodeID = 0;       // inode of the entry
  std::uint32_t linkCount = 0;
  CatalogDate createDate;        // birth time when the file system keeps one, else mtime
  CatalogDate contentModDate;    // mtime
  CatalogDate attributeModDate;  // ctime
  CatalogDate accessDate;        // atime
  CatalogDate backupDate;        // never kept: always 0
  std::uint32_t ownerID = 0;
  std::uint32_t groupID = 0;
  std::uint32_t mode = 0;  // st_mode: type and permission bits
  // Finder information followed by the extended Finder information, big-endian as stored.
  std::array<std::uint8_t, kFinderInfoBytes> finderInfo{};
  std::uint64_t dataLogicalSize = 0;
  std::uint64_t dataPhysicalSize = 0;
  std::uint64_t rsrcLogicalSize = 0;
  std::uint64_t rsrcPhysicalSize = 0;
  bool symbolicLink = false;  // the entry is a symbolic link taken as itself
  bool createDateIsBirth = false;

  bool isDirectory() const { return (nodeFlags & kCatalogNodeDirectory) != 0; }
  std::uint32_t fileType() const { return finderWord32(0); }
  std::uint32_t creatorType() const { return finderWord32(4); }
  std::uint16_t finderFlags() const {
    return static_cast<std::uint16_t>(finderInfo[8] << 8 | finderInfo[9]);
  }
  bool isAliasFile() const { return (finderFlags() & kFinderFlagIsAlias) != 0; }

 private:
  std::uint32_t finderWord32(std::size_t at) const {
    return std::uint32_t{finderInfo[at]} << 24 | std::uint32_t{finderInfo[at + 1]} << 16 |
           std::uint32_t{finderInfo[at + 2]} << 8 | std::uint32_t{finderInfo[at + 3]};
  }
};
static_assert(std::is_trivially_copyable_v<CatalogInfo>);

// kErrFileAccess when the entry is gone, cannot be examined, or one of its attributes
// exists but cannot be read.
[[nodiscard]] EngineStatus readCatalogInfo(const FileRef& ref, CatalogInfo& out);

// readCatalogInfo without the parent folder's inode (parentDirID is 0): one path walk
// less for a reader that has no use for it.
[[nodiscard]] EngineStatus readCatalogInfoWithoutParent(const FileRef& ref, CatalogInfo& out);

// What one statx tells of an entry: its type, sizes of the data fork, dates, owner and
// inode; the Finder information, the resource fork and the parent folder are left 0. For
// checks that a file is still the one laid out, which run for every file of a layout.
// kErrFileAccess when the entry is gone or cannot be examined.
[[nodiscard]] EngineStatus readEntryState(const FileRef& ref, CatalogInfo& out);

// A stable, non-zero volume reference number for a device, the same for the whole run.
std::int16_t volumeRefNumForDevice(std::uint64_t device);

struct FolderEntry {
  std::string name;
  FileRef ref;                   // the entry itself: a symbolic link is not followed
  EngineStatus status = kNoErr;  // of reading `info`; the entry is listed either way
  CatalogInfo info;
};

// Every entry of a folder but "." and "..", sorted by name bytes so that a listing is
// reproducible. kErrFileAccess when the folder cannot be read.
[[nodiscard]] EngineStatus listFolder(const FileRef& folder, std::vector<FolderEntry>& out);

}  // namespace quillion
