// SPDX-License-Identifier: GPL-2.0-or-later
// Session-import tests share: discs served by the emulated drive (an image as a closed disc,
// or tracks in sessions of their own), what outside readers list for an image, the import
// tree in the same form, and the patching of single directory records for damaged images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_environment.h"
#include "tree/fs_tree.h"

namespace quillion::test::importfx {

struct Entry {
  bool folder = false;
  std::uint64_t size = 0;
  std::uint32_t lba = 0;
  bool operator==(const Entry&) const = default;
};
using Listing = std::map<std::string, Entry>;  // "/dir/file" -> entry

// The data forks of a tree, by path from the root.
Listing entriesOf(const FS_Tree& tree);
// `isoinfo -l [-J] -i iso` (with -N/-T when `session` is not 0): ";1" removed.
Listing isoinfoListing(const std::filesystem::path& iso, bool joliet);
// `xorriso -indev iso -load sbsector N -find / -exec report_lba --`: files only.
Listing xorrisoFiles(const std::filesystem::path& iso, std::uint32_t sbsector);
// `7zz l -slt`: path -> size, folders with size 0 and folder set; no LBAs.
Listing sevenZipListing(const std::filesystem::path& image);
// The files only, for comparing with a reader that lists no folders.
Listing filesOnly(const Listing& all);

struct TocSession {
  std::uint32_t index = 0;
  std::uint32_t sbsector = 0;
  std::uint32_t blocks = 0;
  bool operator==(const TocSession&) const = default;
};
std::vector<TocSession> xorrisoToc(const std::filesystem::path& iso);

// One track to record in a session of its own: user data from `lba` on.
struct SessionData {
  std::uint32_t lba = 0;
  std::vector<std::uint8_t> blocks;  // a multiple of 2048 bytes
};

// An emulated drive with a disc, device control started on it.
class ServedDisc {
 public:
  // A closed disc (profile 08h CD-ROM, 10h DVD-ROM ...) holding `image`.
  bool serveImage(const std::filesystem::path& image, std::uint16_t profile);
  // A recordable disc written session by session, each closed and the last one too.
  bool serveSessions(std::uint16_t profile, const std::vector<SessionData>& sessions);
  // A CD-R of one closed CD-ROM XA session: `image` in Mode 2 Form 1 sectors from block 0.
  bool serveMode2Cd(const std::vector<std::uint8_t>& image);
  // The first block a CD's second session can start at, after one of `blocks` blocks.
  static std::uint32_t cdSecondSessionStart(std::uint32_t firstBlocks);

  std::uint32_t ref() const { return ref_; }
  const std::filesystem::path& folder() const { return env_.folder(); }
  emu::EmulatedDrive& drive() { return *drive_; }

 private:
  bool start(emu::Medium medium);
  emu::DeviceEnvironment env_;
  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

// Byte offset in `image` of the directory record named `identifier` (as stored, ";1"
// included) inside the directory at block `directory`; 0 when there is none.
std::size_t recordOffset(const std::vector<std::uint8_t>& image, std::uint32_t directory,
                         const std::string& identifier);
// The root directory's block in an image's primary descriptor.
std::uint32_t rootDirectory(const std::vector<std::uint8_t>& image);
std::vector<std::uint8_t> padToBlocks(std::vector<std::uint8_t> bytes);

}  // namespace quillion::test::importfx
