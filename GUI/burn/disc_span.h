// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning's decisions without widgets: the disc sizes the data window offers, the
// estimate with the files too large for one disc, the search for a disc size that holds the
// biggest file, what the wait between two discs does with the disc it finds, and the log
// that says on which disc each file went. The window shows the answers; the splitting itself
// is the engine's (quillion/DSPN.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillion/status.h"

class FS_Tree;
class FS_List;
class FS_Node;

namespace quillion::span {

// One item of the disc-size list: its title and the size of one disc in 2048-byte blocks.
struct DiscSize {
  std::string title;
  std::uint32_t blocks = 0;
};

// Items of the list whose size is this or more are disc sizes (smaller tags are not).
inline constexpr std::uint32_t kSmallestDiscSizeBlocks = 94'720;

// The sizes the window offers, smallest first.
const std::vector<DiscSize>& standardDiscSizes();

// The files of an estimate that fit on no disc: nodes of the layout's tree, held in a list
// that this object owns (the nodes stay the tree's).
class LargeFiles {
 public:
  struct Row {
    std::string title;
    std::uint64_t bytes = 0;  // data fork plus resource fork
  };

  LargeFiles() = default;
  explicit LargeFiles(FS_List* list) : list_(list) {}
  ~LargeFiles() { reset(); }
  LargeFiles(LargeFiles&& other) noexcept : list_(other.list_) { other.list_ = nullptr; }
  LargeFiles& operator=(LargeFiles&& other) noexcept;
  LargeFiles(const LargeFiles&) = delete;
  LargeFiles& operator=(const LargeFiles&) = delete;

  void reset();
  bool empty() const { return size() == 0; }
  std::uint32_t size() const;
  FS_Node* node(std::uint32_t index) const;
  std::vector<FS_Node*> nodes() const;
  // The rows of the warning table, in list order.
  std::vector<Row> rows() const;

 private:
  FS_List* list_ = nullptr;
};

struct Estimate {
  std::uint32_t discs = 0;  // 0 for an empty layout
  LargeFiles tooBig;
};

// How many discs of `capacity` blocks the layout needs in format `fsFlags`, and which of its
// files fit none of them.
Estimate estimateDiscs(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags);

// The biggest file of the layout in blocks; packages count as one file.
std::uint32_t biggestFileBlocks(FS_Tree* tree, std::uint32_t fsFlags);

// Formats that cannot be spread over several discs: HFS, the HFS hybrids and DVD-Video.
bool formatAllowsSpanning(std::uint32_t fsFlags);

// The search made when spanning is switched on. `holds(blocks)` says whether a disc of that
// size takes every file of the layout. The selected size is kept when it holds them;
// otherwise the sizes are tried in list order from the first. The index found, or nullopt
// when no size of the list holds them.
std::optional<std::size_t> searchDiscSize(const std::vector<std::uint32_t>& sizes,
                                          std::size_t selected,
                                          const std::function<bool(std::uint32_t)>& holds);

// ---- the wait for the next disc ----

// What the insert-disc sheet says of the last disc it saw.
enum class InsertDiscStatus : int { kNoDisc = 0, kNotBlank = 1, kTooSmall = 2 };

// The disc now in the destination drive; nullopt when there is none.
struct WaitingDisc {
  std::uint8_t discStatus = 0;  // 0 blank, 1 closed, 2 appendable
  std::uint32_t freeBlocks = 0;
};

enum class NextDiscAction {
  kBurn,   // the disc takes the next part: the wait ends
  kEject,  // the disc is refused: out it goes
  kKeepWaiting,
};

// A status line: a "GUIMsgs" key, and for the size request the minimum size in MB.
struct StatusText {
  std::string key;
  std::optional<std::uint32_t> megabytes;
  bool operator==(const StatusText&) const = default;
};

struct NextDiscStep {
  NextDiscAction action = NextDiscAction::kKeepWaiting;
  InsertDiscStatus status = InsertDiscStatus::kNoDisc;
  std::optional<StatusText> text;  // nullopt: the status line keeps its text
};

// One tick of the wait between two discs. A blank disc takes the next part when its free
// blocks hold the biggest file left (an exact fit included).
NextDiscStep nextDiscStep(const std::optional<WaitingDisc>& disc, std::uint32_t biggestFileBlocks,
                          InsertDiscStatus shown);

// Blocks of 2048 bytes as the sheet's megabytes (512 blocks each, rounded down).
constexpr std::uint32_t blocksToMegabytes(std::uint32_t blocks) {
  return blocks / 512;
}

// The counters dspn_NextTree leaves after cutting a part: what is left for later discs.
struct Remainder {
  std::uint32_t files = 0;
  std::uint32_t blocks = 0;
  std::uint32_t biggestBlocks = 0;
};

// ---- the log ----

// One line per file of the spanned tree (none per folder): its path in the layout, a blank,
// and the tree title and the file's disc number joined by a dash in parentheses, ended by a
// carriage return. An existing file is replaced; the text is UTF-8.
EngineStatus writeSpanLog(FS_Tree* tree, const std::filesystem::path& path,
                          std::string_view treeTitle);

// The line of one file, as writeSpanLog writes it.
std::string spanLogLine(std::string_view relativePath, std::string_view treeTitle,
                        std::uint32_t discID);

// The title of the tree of one disc: the layout's title and the disc number.
std::string partTitle(std::string_view treeTitle, std::uint32_t discID);

}  // namespace quillion::span
