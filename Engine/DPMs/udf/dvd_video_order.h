// SPDX-License-Identifier: GPL-2.0-or-later
// DVD-Video order for a UDF bridge image. Players expect each title set as its navigation
// file (IFO), its video objects (VOB) and then its backup (BUP), contiguous; and the
// navigation files hold sector offsets of those objects, which are recomputed here from
// the final layout. The IFO fields are outside input: every offset and count read from
// one is checked against the file's size before it is used.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quillion/status.h"
#include "tree/file_loc_table.h"

namespace quillion::udf {

// A title set's IFO: the menu objects' start at 0xC0, the title objects' at 0xC4.
inline constexpr std::size_t kMenuObjectsField = 0xC0;
inline constexpr std::size_t kTitleObjectsField = 0xC4;
// The video manager's IFO: its menu objects at 0xC0, the title search table's sector at 0xC4.
inline constexpr std::size_t kTitleSearchField = 0xC4;
inline constexpr std::uint32_t kMaxTitleSets = 99;
// Navigation files are small; a larger one is not read into memory.
inline constexpr std::uint64_t kMaxNavigationBytes = 64ull << 20;

// The new order of `table`'s entries (indices) when every IFO and VOB file follows a BUP
// file in name order: each BUP moves behind the IFO and VOB files after it. None when some
// IFO or VOB file has no BUP before it; the table then keeps its order.
std::optional<std::vector<std::uint32_t>> dvdVideoOrder(const FS_FileLocTable& table);

// Rebuilds `table` in `order`: data starts follow one another from 0, the index is renewed.
void applyOrder(FS_FileLocTable& table, const std::vector<std::uint32_t>& order);

// Outcome of patching one navigation file in memory.
struct NavigationResult {
  EngineStatus status = kNoErr;  // kErrProducerFormat when the file is not what it claims
  std::string problem;
  bool changed = false;
};

// Sets a title set IFO's menu and title object starts (sectors from the IFO's start).
NavigationResult patchTitleSetIfo(std::span<std::uint8_t> ifo, std::optional<std::uint32_t> menu,
                                  std::optional<std::uint32_t> title);
// Sets the video manager's menu object start and, in its title search table, each title's
// title set start (`titleSets[n - 1]` for title set n, sectors from the manager's start).
NavigationResult patchVideoManagerIfo(std::span<std::uint8_t> ifo,
                                      std::optional<std::uint32_t> menu,
                                      std::span<const std::uint32_t> titleSets);

// One navigation file to replace: its new contents and the table entries (the IFO and, when
// there is one, its BUP) that are to read them.
struct NavigationPatch {
  std::vector<std::uint32_t> entries;
  std::vector<std::uint8_t> contents;
  const char* title = "";  // of the substitute node
};

// Reads a node's whole data fork; kErrFileAccess when it cannot be read in full.
using NavigationReader =
    std::function<EngineStatus(const FS_FileLoc& entry, std::vector<std::uint8_t>& out)>;

// Walks the table in DVD-Video order and gives the navigation files whose contents change.
// kErrFileAccess for a file that cannot be read, kErrProducerFormat for a navigation file
// that is not one or whose offsets, counts or title entries do not fit; `problem` says
// which file and why.
EngineStatus planNavigationPatches(const FS_FileLocTable& table, const NavigationReader& read,
                                   std::vector<NavigationPatch>& patches, std::string& problem);

}  // namespace quillion::udf
