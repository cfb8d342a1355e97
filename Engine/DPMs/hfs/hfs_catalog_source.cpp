// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/hfs_catalog_source.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "DPMs/base/dpm_filesystem_base.h"
#include "quillion/clock.h"
#include "tree/fs_node.h"

namespace quillion::hfs {
namespace {

std::uint16_t word16(const CatalogInfo& info, std::size_t at) {
  return static_cast<std::uint16_t>(info.finderInfo[at] << 8 | info.finderInfo[at + 1]);
}

std::uint32_t word32(const CatalogInfo& info, std::size_t at) {
  return std::uint32_t{word16(info, at)} << 16 | word16(info, at + 2);
}

}  // namespace

std::uint32_t macLocalSeconds(std::int64_t unixSeconds) {
  const auto t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  std::int64_t offset = 0;
  if (::localtime_r(&t, &local) != nullptr) offset = local.tm_gmtoff;
  const std::int64_t mac = unixSeconds + offset + kMacEpochOffset;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(mac, 0, 0xFFFFFFFF));
}

std::uint32_t GetLocalDateTime() {
  const auto now = engineClock().wallNow();
  return macLocalSeconds(
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

std::uint32_t macUTCSeconds(std::int64_t unixSeconds) {
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(unixSeconds + kMacEpochOffset, 0, 0xFFFFFFFF));
}

std::uint32_t GetUTCDateTime() {
  const auto now = engineClock().wallNow();
  return macUTCSeconds(
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

NodeSource readNodeSource(const FS_Node& node) {
  NodeSource source;
  if (node.fsRef.empty()) {
    source.kind = node.IsFolder() ? NodeSource::Kind::madeFolder : NodeSource::Kind::unreadable;
    return source;
  }
  if (readCatalogInfoWithoutParent(node.fsRef, source.info) != kNoErr ||
      source.info.isDirectory() != node.IsFolder()) {
    source.kind = NodeSource::Kind::unreadable;
    return source;
  }
  source.kind = NodeSource::Kind::catalogued;
  return source;
}

FndrFileInfo fileFinderInfo(const CatalogInfo& info) {
  FndrFileInfo f;
  f.fdType = word32(info, 0);
  f.fdCreator = word32(info, 4);
  f.fdFlags = word16(info, 8);
  f.fdLocation = {static_cast<std::int16_t>(word16(info, 10)),
                  static_cast<std::int16_t>(word16(info, 12))};
  f.fdFldr = static_cast<std::int16_t>(word16(info, 14));
  return f;
}

FndrDirInfo folderFinderInfo(const CatalogInfo& info) {
  FndrDirInfo d;
  for (std::size_t i = 0; i < 4; ++i) d.frRect[i] = static_cast<std::int16_t>(word16(info, 2 * i));
  d.frFlags = word16(info, 8);
  d.frLocation = {static_cast<std::int16_t>(word16(info, 10)),
                  static_cast<std::int16_t>(word16(info, 12))};
  d.frView = static_cast<std::int16_t>(word16(info, 14));
  return d;
}

FndrExtendedInfo extendedFinderInfo(const CatalogInfo& info) {
  FndrExtendedInfo e{};
  for (std::size_t i = 0; i < e.size(); ++i) e[i] = word16(info, 16 + 2 * i);
  return e;
}

std::string skippedNodeLine(const FS_Node& node) {
  return "\r?? Left out, it cannot be read any more: " + layoutPath(node) + "\r";
}

}  // namespace quillion::hfs
