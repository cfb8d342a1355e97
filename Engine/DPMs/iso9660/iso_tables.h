// SPDX-License-Identifier: GPL-2.0-or-later
// The path tables and the directory extents of one tree (ISO9660 or Joliet): the same
// code serves both, since the queue holds identifiers already in their disc form.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>

#include "DPMs/iso9660/iso_dir_queue.h"
#include "DPMs/iso9660/iso_records.h"

namespace quillion::iso {

// Bytes of the path table of `queue`: 10 for the root, 8 + name (+ 1 when odd) for each
// other directory.
std::uint32_t PathTableBytes(const IsoDirQueue& queue);

// The little-endian (L) and big-endian (M) path tables, each PathTableBytes long; nothing
// is written into a table shorter than that.
void CreatePT(const IsoDirQueue& queue, std::uint32_t sessionStart, std::span<std::uint8_t> lTable,
              std::span<std::uint8_t> mTable);

// Where a file's fork lies; `present` false when the file has no blocks in the table in
// use (its record is then left out).
struct IsoForkPlace {
  bool present = false;
  std::uint32_t lba = 0;
};

struct IsoDirectoryContext {
  IsoRecordOptions options;
  std::uint32_t sessionStart = 0;
  std::tm now{};  // the date of directory records
  std::int8_t gmtOffset = 0;
  std::function<IsoForkPlace(const FS_Node& node, bool resource)> locate;
};

// Writes every directory of `queue` (first blocks and block counts already set) into
// `header`, whose first byte is session block `headerFirstBlock`. A record that is left
// out leaves no gap: the following records close up, and only the end of the extent stays
// zero, which readers pass over. A directory outside `header` is not written.
void CreateDT(const IsoDirQueue& queue, const IsoDirectoryContext& context,
              std::span<std::uint8_t> header, std::uint32_t headerFirstBlock);

}  // namespace quillion::iso
