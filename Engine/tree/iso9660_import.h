// SPDX-License-Identifier: GPL-2.0-or-later
// The ISO9660 half of session import: a session's volume descriptors, and its directories
// (Joliet names when the session has a supplementary descriptor) as a tree of import items.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tree/import_source.h"

namespace quillion::import {

// What the descriptors at session start + 16 name.
struct IsoVolumeDescriptors {
  std::vector<std::uint8_t> primary;        // empty when absent
  std::vector<std::uint8_t> supplementary;  // empty when absent; taken as Joliet
};

// Up to 20 descriptors, one block at a time, until the first that is not "CD001" of type 1
// or 2. -1361 when neither kind was found.
EngineStatus readIsoDescriptors(BlockSource& source, std::uint32_t start,
                                IsoVolumeDescriptors& out);

// The volume identifier of a descriptor (bytes 40-71) without trailing blanks: 16 UTF-16
// big-endian units for a supplementary descriptor, 32 bytes for a primary one.
std::string isoVolumeName(std::span<const std::uint8_t> descriptor, bool joliet);

// A primary descriptor's volume creation date (bytes 813-826, decimal digits).
std::tm isoVolumeCreationDate(std::span<const std::uint8_t> descriptor);

// The tree of the session at `start`: root "import" (flag bit 7) retitled with the volume
// name. -1361 for a session without a volume or with a damaged directory, -1363 when a
// directory cannot be read.
EngineStatus importIso9660(ImportWalk& walk, std::uint32_t start, std::unique_ptr<FS_Tree>& tree);

}  // namespace quillion::import
