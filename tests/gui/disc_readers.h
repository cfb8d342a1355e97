// SPDX-License-Identifier: GPL-2.0-or-later
// A written data disc image read back by outside readers, one per file system the data
// formats write: xorriso (ISO9660 and Joliet), hfsutils (HFS), 7zz (HFS Plus and UDF).
// Each answers every file it extracted with its bytes, by path relative to the disc.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace quillion::test {

using FileBytes = std::map<std::string, std::string>;

struct ReadBack {
  bool ok = false;
  std::string said;  // what the reader printed, for failure messages
  FileBytes files;
};

// The ISO9660 (or, with Joliet, the Joliet) tree as xorriso extracts it.
ReadBack readIso9660Side(const std::filesystem::path& image, const std::filesystem::path& scratch);
// The HFS volume as hfsutils sees it: hls for the names, hcopy for each file's data fork.
ReadBack readHfsSide(const std::filesystem::path& image, const std::filesystem::path& scratch);
// The HFS Plus volume, found by its volume header anywhere in the first megabyte (a
// hybrid keeps it behind its ISO9660 header), extracted by 7zz.
ReadBack readHfsPlusSide(const std::filesystem::path& image, const std::filesystem::path& scratch);
// The UDF volume as 7zz extracts it.
ReadBack readUdfSide(const std::filesystem::path& image, const std::filesystem::path& scratch);

// What differs between two trees, one line each ("missing x", "extra y", "bytes of z").
std::string treeDifferences(const FileBytes& got, const FileBytes& wanted);

}  // namespace quillion::test
