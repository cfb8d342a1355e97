// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/fs_file_wrapper.h"

#include <algorithm>
#include <cstring>

using quillion::CatalogDate;
using quillion::CatalogInfo;
using quillion::FileRef;

namespace {

EngineStatus toLocalTime(const CatalogDate& date, std::tm* out) {
  const std::time_t seconds = static_cast<std::time_t>(date.seconds);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return kErrBadArgument;
  out->tm_year = local.tm_year;
  out->tm_mon = local.tm_mon;
  out->tm_mday = local.tm_mday;
  out->tm_hour = local.tm_hour;
  out->tm_min = local.tm_min;
  out->tm_sec = local.tm_sec;
  out->tm_wday = local.tm_wday;
  return kNoErr;
}

}  // namespace

FS_FileWrapper::FS_FileWrapper(const FileRef* ref, const CatalogInfo* info) {
  (void)SetupByFSRef(ref, info);
}

FS_FileWrapper::FS_FileWrapper(const char* filePath, bool takeLinkItself)
    : linkItself(takeLinkItself) {
  if (filePath != nullptr) (void)SetFullPathName(filePath);
}

void FS_FileWrapper::invalidate() {
  valid = false;
  alias = false;
  fsRef = FileRef();
  catalogInfo = CatalogInfo();
}

EngineStatus FS_FileWrapper::SetupByFSRef(const FileRef* ref, const CatalogInfo* info) {
  fork.reset();
  invalidate();
  if (ref == nullptr || ref->empty()) return kErrBadArgument;
  if (info != nullptr) {
    catalogInfo = *info;
  } else if (const EngineStatus s = quillion::readCatalogInfo(*ref, catalogInfo); s != kNoErr) {
    catalogInfo = CatalogInfo();
    return s;
  }
  valid = true;
  fsRef = *ref;
  alias = catalogInfo.isAliasFile() || catalogInfo.fileType() == quillion::kSymbolicLinkFileType;
  return kNoErr;
}

// A link taken as itself is a shortcut; a path that is no link stays what it is even when
// asked for as itself.
EngineStatus FS_FileWrapper::SetFullPathName(const char* filePath) {
  fork.reset();
  invalidate();
  if (filePath == nullptr) return kErrBadArgument;
  path = filePath;
  const auto mode = linkItself ? quillion::LinkMode::linkItself : quillion::LinkMode::follow;
  FileRef ref;
  if (FileRef::make(path, mode, ref) != kNoErr) return kErrFileAccess;
  if (SetupByFSRef(&ref, nullptr) != kNoErr) return kErrFileAccess;
  if (catalogInfo.symbolicLink) alias = true;
  return kNoErr;
}

EngineStatus FS_FileWrapper::creationDate(std::tm* out) const {
  if (out == nullptr) return kErrBadArgument;
  if (!valid) return kNoErr;
  return toLocalTime(catalogInfo.createDate, out);
}

EngineStatus FS_FileWrapper::modificationDate(std::tm* out) const {
  if (out == nullptr) return kErrBadArgument;
  if (!valid) return kNoErr;
  return toLocalTime(catalogInfo.contentModDate, out);
}

EngineStatus FS_FileWrapper::GetFSCatalogInfo(void* buffer, std::size_t length) const {
  if (buffer == nullptr) return kErrBadArgument;
  if (valid) std::memcpy(buffer, &catalogInfo, std::min(length, sizeof(CatalogInfo)));
  return kNoErr;
}

EngineStatus FS_FileWrapper::GetFSCatalogInfo(CatalogInfo* out) const {
  if (out == nullptr) return kErrBadArgument;
  if (valid) *out = catalogInfo;
  return kNoErr;
}

EngineStatus FS_FileWrapper::Open(std::uint8_t permission, bool dataFork) {
  fork.reset();
  if ((permission & kFSWritePermission) != 0) return kErrNotSupported;
  if (!valid) return kErrFileAccess;
  const auto kind = dataFork ? quillion::ForkKind::data : quillion::ForkKind::resource;
  return quillion::Fork::open(fsRef, kind, fork) == kNoErr ? kNoErr : kErrFileAccess;
}

std::int64_t FS_FileWrapper::Seek(std::int64_t offset, std::uint8_t mode) {
  if (!valid || !fork) return 0;
  if (mode > 2) return -1;
  return fork->seek(offset, static_cast<quillion::SeekFrom>(mode));
}

std::uint32_t FS_FileWrapper::Read(void* buffer, std::uint32_t length) {
  if (!valid || !fork || buffer == nullptr) return 0;
  return static_cast<std::uint32_t>(fork->read(buffer, length));
}

EngineStatus FS_FileWrapper::Close() {
  fork.reset();
  return kNoErr;
}
