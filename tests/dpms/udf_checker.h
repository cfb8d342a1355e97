// SPDX-License-Identifier: GPL-2.0-or-later
// A reader of UDF images written for the tests from ECMA-167 and the UDF rules alone: it
// follows the anchors, both volume descriptor sequences, the integrity descriptor, the
// file set and every file entry and identifier, verifying each tag's identifier, checksum,
// CRC and location on the way, and gives back the tree with each file's data.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillion::test {

struct UdfCheckedFile {
  bool folder = false;
  std::uint64_t size = 0;
  std::uint16_t icbFlags = 0;
  std::uint32_t permissions = 0;
  std::uint16_t links = 0;
  std::uint32_t entryBlock = 0;  // partition block of the file entry
  std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;  // absolute sector, bytes
  std::string data;                                              // files only
  std::uint8_t nameCompression = 0;
};

struct UdfCheckReport {
  std::vector<std::string> faults;              // empty when every structure verified
  std::map<std::string, UdfCheckedFile> files;  // "a/b.txt", folders with a trailing '/'
  std::uint32_t partitionStart = 0;
  std::uint32_t partitionLength = 0;
  std::uint32_t integritySize = 0;
  std::uint32_t integrityFiles = 0, integrityDirs = 0;
  std::uint16_t revision = 0;  // the integrity descriptor's minimum read revision
  std::uint32_t tagsChecked = 0;
};

// `image` holds the sectors from absolute sector `start` on.
UdfCheckReport checkUdfImage(const std::vector<std::uint8_t>& image, std::uint32_t start = 0);

// CRC-16/CCITT as ECMA-167 1/7.2.6 defines it, bit by bit.
std::uint16_t ecmaCrc(const std::uint8_t* bytes, std::size_t length);

}  // namespace quillion::test
