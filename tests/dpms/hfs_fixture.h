// SPDX-License-Identifier: GPL-2.0-or-later
// Trees on disc for the HFS, HFS Plus and hybrid producer tests, with the Finder
// information and resource forks a Macintosh volume carries, and parsers for what the
// outside readers print about such volumes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/dpms/producer_support.h"

namespace quillion::test {

struct MacEntry {
  std::string path;  // relative; a folder ends in '/'
  std::string bytes;
  std::string typeCreator;  // 8 characters, or empty for none
  std::string resource;     // resource fork bytes, empty for none
};

// Nested and empty folders, empty files, sizes around 512-, 2048- and 4096-byte bounds,
// 70 files in one folder (several levels of catalog index), overlong names that cut to the
// same text, non-ASCII names, names that differ only in normalisation, type/creator and a resource
// fork (ext4 keeps at most about 4 KiB in one attribute). Large enough for hfsutils, which
// open no volume under 800 KiB.
std::vector<MacEntry> macFixture();

// One file per printable Mac Roman byte in the folder "Roman/": 0x20 to 0xFF but ':' (the
// HFS path separator) and '/' (which no Linux name holds). Each name is its byte (in UTF-8,
// through iconv's Mac Roman table; `scratch` is a work file) then "-" and the byte in hex, and
// holds that text, so the siblings differ from their first byte on: a reader that binary-
// searches the catalog finds each one only if the catalog is in the reader's order.
std::vector<MacEntry> macRomanNamesFixture(const std::filesystem::path& scratch);

// Writes the entries below `root`; type/creator and forks go into the user attributes.
void writeMacFixture(const std::filesystem::path& root, const std::vector<MacEntry>& entries);

// path -> bytes of the data forks, folders with a trailing '/' and no bytes.
std::map<std::string, std::string> dataForks(const std::vector<MacEntry>& entries);

// One entry of `hls -laR` (hfsutils): path with ':' turned into '/', folder flag, type and
// creator, resource and data fork sizes.
struct HlsEntry {
  std::string macPath;  // as hfsutils take it: ":Folder:File" in Mac Roman
  bool folder = false;
  std::string typeCreator;
  std::uint64_t rsrcBytes = 0;
  std::uint64_t dataBytes = 0;
};
// Mounts the image for hfsutils (state kept in `home`), lists it recursively, and answers
// path -> entry with names read as Mac Roman and given in UTF-8.
std::map<std::string, HlsEntry> hfsListing(const std::filesystem::path& image,
                                           const std::filesystem::path& home);
// Copies every file of `listing` out with `hcopy -r` (the volume must still be mounted)
// and answers path -> data fork bytes; folders with a trailing '/'.
std::map<std::string, std::string> hfsExtract(const std::map<std::string, HlsEntry>& listing,
                                              const std::filesystem::path& home,
                                              const std::filesystem::path& into);

// What checkPlusVolume found in an HFS Plus volume.
struct PlusVolume {
  std::string problems;  // one line per fault, empty for a sound volume
  std::uint32_t blockSize = 0, totalBlocks = 0, nextCatalogID = 0;
  std::uint32_t fileCount = 0, folderCount = 0;
  struct File {
    std::uint32_t id = 0;
    std::uint64_t dataBytes = 0, rsrcBytes = 0;
    std::uint32_t dataStart = 0, dataBlocks = 0, rsrcStart = 0, rsrcBlocks = 0;
    std::uint32_t type = 0, creator = 0;
  };
  std::map<std::string, File> files;  // by path, UTF-16 names kept as UTF-8 bytes of units
  std::set<std::uint32_t> folderIDs;
};

// Reads an HFS Plus image (behind its partition map) the way the format's technical note
// describes it, noting every rule broken: both volume headers, the allocation file, the
// catalog's header, leaf chain, key order and index nodes, every fork's extent.
PlusVolume checkPlusVolume(const std::vector<std::uint8_t>& image);

}  // namespace quillion::test
