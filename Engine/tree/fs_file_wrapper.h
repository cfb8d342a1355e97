// SPDX-License-Identifier: GPL-2.0-or-later
// The one object through which the engine reads a local file: its catalog information
// and either of its forks.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "platform/file/catalog_info.h"
#include "platform/file/file_ref.h"
#include "platform/file/fork.h"
#include "quillion/status.h"

inline constexpr std::uint8_t kFSReadPermission = 1;
inline constexpr std::uint8_t kFSWritePermission = 2;

class FS_FileWrapper {
 public:
  // From a reference and, when the caller has it, catalog information already read.
  FS_FileWrapper(const quillion::FileRef* fsRef, const quillion::CatalogInfo* catalogInfo);
  // From a path; `linkItself` takes a symbolic link at the end of the path as itself.
  FS_FileWrapper(const char* path, bool linkItself);
  FS_FileWrapper(const FS_FileWrapper&) = delete;
  FS_FileWrapper& operator=(const FS_FileWrapper&) = delete;
  ~FS_FileWrapper() = default;

  EngineStatus SetFullPathName(const char* path);
  EngineStatus SetupByFSRef(const quillion::FileRef* fsRef,
                            const quillion::CatalogInfo* catalogInfo);

  bool isExisted() const { return valid && catalogInfo.volume != 0; }
  bool isShortcut() const { return valid && alias; }
  bool isFolder() const { return valid && !alias && catalogInfo.isDirectory(); }
  bool isVisible() const { return true; }
  bool IsValid() const { return valid; }

  std::uint64_t dataSize() const { return valid ? catalogInfo.dataLogicalSize : 0; }
  std::uint64_t rsrcSize() const { return valid ? catalogInfo.rsrcLogicalSize : 0; }
  std::uint32_t fileType() const { return valid ? catalogInfo.fileType() : 0; }
  std::uint32_t creatorType() const { return valid ? catalogInfo.creatorType() : 0; }
  std::uint16_t FinderFlags() const { return valid ? catalogInfo.finderFlags() : 0; }

  // Local broken-down time; only year, month, day, hour, minute, second and weekday are
  // written. kErrBadArgument for a null record; nothing is written when not valid.
  EngineStatus creationDate(std::tm* out) const;
  EngineStatus modificationDate(std::tm* out) const;

  // kErrBadArgument for a null buffer; copies at most sizeof(CatalogInfo) bytes when valid.
  EngineStatus GetFSCatalogInfo(void* buffer, std::size_t length) const;
  EngineStatus GetFSCatalogInfo(quillion::CatalogInfo* out) const;

  // The wrapper only reads: a write permission is refused with kErrNotSupported.
  // kErrFileAccess when the fork cannot be opened.
  EngineStatus Open(std::uint8_t permission, bool dataFork);
  // Mode 0 from the start, 1 from the current position, 2 from the end. The new position;
  // 0 when not valid or no fork is open; -1 for a bad mode or a position before the start.
  std::int64_t Seek(std::int64_t offset, std::uint8_t mode);
  // Bytes read from the current position; fewer than asked only at the end of the fork or
  // on a read error; 0 when not valid or no fork is open.
  std::uint32_t Read(void* buffer, std::uint32_t length);
  EngineStatus Close();

  const quillion::FileRef& GetFSRef() const { return fsRef; }
  const std::string& GetPath() const { return path; }

 private:
  void invalidate();

  std::string path;
  quillion::FileRef fsRef;
  quillion::CatalogInfo catalogInfo;
  std::unique_ptr<quillion::Fork> fork;  // the open fork, none when closed
  bool valid = false;
  bool alias = false;
  bool linkItself = false;
};
