// SPDX-License-Identifier: GPL-2.0-or-later
// Directory records: their sizes, where they fall in a directory's blocks, and their bytes.
// One plan of records per child serves both the sizing of a directory and its writing, so
// that what is counted is what is written.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "DPMs/iso9660/iso_dir_queue.h"

namespace quillion::iso {

enum IsoRecordKind : std::uint8_t {
  kAssociatedFileRecord = 1,  // the resource fork
  kFileRecord = 2,            // the data fork, or one extent of it
  kSubDirectoryRecord = 3,
  kDotRecord = 4,
  kDotDotRecord = 5,
};

struct IsoRecordOptions {
  bool xa = false;
  bool appleExtensions = false;
  bool bridge = false;
  std::uint64_t maxExtentBytes = 0xFFFFF800;  // a file larger than this takes several records
};

// 33 + name, a pad byte after an even name, then the system-use fields the options and
// the kind call for.
std::uint32_t CountADirRecSize(std::uint32_t nameLength, bool appleExt, bool noCopyField,
                               const IsoRecordOptions& options);
std::uint32_t recordSize(IsoRecordKind kind, std::uint32_t nameLength,
                         const IsoRecordOptions& options);

// Where a record of `recordBytes` starts when the previous one ended at `offset`: at
// `offset`, or at the next block when it would cross one.
std::uint32_t Round_Up(std::uint32_t offset, std::uint32_t blockBytes, std::uint32_t recordBytes);

// The records of one child in order: the associated file (Apple extensions and a resource
// fork), then the file's extents (`index` of `count`), or one record for a folder.
void forEachRecord(
    const IsoChild& child, const IsoRecordOptions& options,
    const std::function<void(IsoRecordKind kind, std::uint32_t index, std::uint32_t count)>& visit);

// Bytes of a directory whose children are `children`, rounded up to whole blocks.
std::uint32_t DirRecSize(const std::vector<IsoChild>& children, const IsoRecordOptions& options);

// What one record says.
struct IsoRecord {
  IsoRecordKind kind = kFileRecord;
  std::uint32_t extent = 0;   // absolute block
  std::uint32_t length = 0;   // bytes
  std::tm date{};             // local broken-down time
  std::int8_t gmtOffset = 0;  // 15-minute units
  bool hidden = false;
  bool moreExtents = false;  // not the last extent of a file
  bool form2 = false;
  std::string_view identifier;  // ignored for "." and ".."
  std::uint32_t fileType = 0, creator = 0;
  std::uint16_t finderFlags = 0;
};

// Writes `record` at byte `at` of `out` and answers its size; `noXA` for the root record
// inside a volume descriptor. 0, and nothing written, when the record does not fit.
std::uint32_t WriteDirectory(std::span<std::uint8_t> out, std::size_t at, const IsoRecord& record,
                             const IsoRecordOptions& options, bool noXA);

}  // namespace quillion::iso
