// SPDX-License-Identifier: GPL-2.0-or-later
// What the HFS and HFS Plus producers read about each node of the tree before they
// catalogue it: its catalog information (dates, Finder information, fork sizes), whether a
// file stands behind it at all, and the dates as both formats count them: local seconds
// since 1 January 1904.
#pragma once

#include <cstdint>
#include <string>

#include "DPMs/hfs/hfs_structures.h"
#include "platform/file/catalog_info.h"
#include "quillion/status.h"

class FS_Node;

namespace quillion::hfs {

// Seconds between 1904-01-01 and 1970-01-01.
inline constexpr std::int64_t kMacEpochOffset = 2082844800;

// A point in time (seconds since 1970, UTC) as local seconds since 1904, clamped to the
// 32 bits the formats keep.
std::uint32_t macLocalSeconds(std::int64_t unixSeconds);
// The engine clock's present moment, in the same count: the date of everything made now.
std::uint32_t GetLocalDateTime();
// HFS Plus keeps every date but the volume's creation date in UTC.
std::uint32_t macUTCSeconds(std::int64_t unixSeconds);
std::uint32_t GetUTCDateTime();

struct NodeSource {
  enum class Kind : std::uint8_t {
    catalogued,  // a local file or folder whose information was read
    madeFolder,  // a folder made in the layout, nothing behind it on disc
    unreadable,  // a local item that is gone or cannot be examined any more
  };
  Kind kind = Kind::unreadable;
  CatalogInfo info;
};

// Reads the node's catalog information; never fails, the kind says what was found.
NodeSource readNodeSource(const FS_Node& node);

// The Finder information of `info` in host order: file or folder form, and the extended
// eight words that follow it.
FndrFileInfo fileFinderInfo(const CatalogInfo& info);
FndrDirInfo folderFinderInfo(const CatalogInfo& info);
FndrExtendedInfo extendedFinderInfo(const CatalogInfo& info);

// The burn-log line for a node left out of the catalog because it could not be read.
std::string skippedNodeLine(const FS_Node& node);

}  // namespace quillion::hfs
