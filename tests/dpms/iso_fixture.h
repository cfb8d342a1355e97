// SPDX-License-Identifier: GPL-2.0-or-later
// Small trees on disc for the ISO9660 tests, with what each outside reader must find in
// the image, and parsers for the readers' listings.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/dpms/producer_support.h"

namespace quillion::test {

// One file or folder of a fixture: where it lies on disc, and its path in the Joliet tree.
struct FixtureEntry {
  std::string source;  // relative path; a folder ends in '/'
  std::string joliet;  // relative path as Joliet readers list it
  std::string bytes;
};

// Nested and empty folders, empty files, sizes around 2048-byte boundaries, 130 files in
// one folder, names that clash once converted to 8.3 or Joliet form (ASCII and accented
// capitals), non-ASCII and overlong names, and a path ten folders deep.
std::vector<FixtureEntry> richFixture();

// Writes the entries below `root`.
void writeFixture(const std::string& root, const std::vector<FixtureEntry>& entries);

// What extracting the Joliet tree must give: path -> bytes, folders with a trailing '/'.
std::map<std::string, std::string> expectedJolietTree(const std::vector<FixtureEntry>& entries);

// path -> size; folders with a trailing '/' and size 0.
using Listing = std::map<std::string, std::uint64_t>;
Listing expectedListing(const std::vector<FixtureEntry>& entries);
// `xorriso -indev IMG [load] -find / -exec lsdl`.
Listing xorrisoListing(const std::string& image, const std::vector<std::string>& load = {});
// `bsdtar -tvf IMG`.
Listing bsdtarListing(const std::string& image);

// One directory of `isoinfo -l`: its entries (not "." and "..") as name, size, extent, flags.
struct IsoinfoEntry {
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t extent = 0;
  unsigned flags = 0;
};
std::map<std::string, std::vector<IsoinfoEntry>> isoinfoListing(
    const std::string& image, const std::vector<std::string>& options = {});

// `xorriso -find / -exec report_lba`: path -> first block and blocks of all its extents.
std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> reportedExtents(
    const std::string& report);

// An ISO9660 level-1 identifier as this producer writes it: up to 8 d-characters (or '~')
// for a folder; for a file, 1-8 of them, '.', up to 3, and ";1".
bool isLevel1Identifier(const std::string& name, bool folder);

// The bytes of every file below `folder` with its depth, order ignored.
std::multiset<std::string> contentsWithDepth(const std::map<std::string, std::string>& tree);

}  // namespace quillion::test
