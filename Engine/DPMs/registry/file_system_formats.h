// SPDX-License-Identifier: GPL-2.0-or-later
// The data disc formats this build can produce: one constant row per format code, with its
// name, the block sizes its producer makes and the factory that makes it. The burn job
// looks a format up here and never names a producer; a new file system is a new row.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "DPMs/base/dpm_filesystem_base.h"

class FS_Tree;

namespace quillion {

// What every file-system producer is made from: the job's data tree (not owned, it must
// outlive the producer), the track's first block and the job's options. A format ignores
// the options it has no use for.
struct FileSystemRequest {
  FS_Tree* tree = nullptr;
  std::uint32_t start = 0;
  bool appleExtensions = false;
  bool iso9660XA = false;
};

struct FileSystemFormat {
  std::uint16_t code = 0;  // as set with BP_SetDataDiscFormat
  std::string_view name;
  std::span<const std::uint16_t> blockSizes;  // what PrepareAll can be asked for
  // The volume has an ISO9660 part, so the XA option applies to it and its track is then
  // written in Mode 2 Form 1.
  bool iso9660Part = false;
  std::unique_ptr<DPM_FileSystem_Base> (*make)(const FileSystemRequest& request) = nullptr;

  bool makes(std::uint16_t blockSize) const;
};

// Every row, in code order.
std::span<const FileSystemFormat> fileSystemFormats();
// The row of `code`; null for a code this build has no producer for.
const FileSystemFormat* findFileSystemFormat(std::uint32_t code);

}  // namespace quillion
