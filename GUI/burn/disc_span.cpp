// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/disc_span.h"

#include <array>
#include <cstdio>
#include <memory>

#include "quillion/DSPN.h"
#include "quillion/FS.h"

namespace quillion::span {

const std::vector<DiscSize>& standardDiscSizes() {
  // Megabytes of 512 blocks; the DVD and BD sizes are the recordable capacities of a single
  // and a double layer.
  static const std::vector<DiscSize> sizes = {
      {"185 MB CD", 94'720},    {"650 MB CD", 332'800},    {"700 MB CD", 358'400},
      {"800 MB CD", 409'600},   {"4.7 GB DVD", 2'295'104}, {"8.5 GB DVD", 4'173'824},
      {"25 GB BD", 12'219'392}, {"50 GB BD", 24'438'784},
  };
  return sizes;
}

// ---- large files ----

LargeFiles& LargeFiles::operator=(LargeFiles&& other) noexcept {
  if (this != &other) {
    reset();
    list_ = other.list_;
    other.list_ = nullptr;
  }
  return *this;
}

void LargeFiles::reset() {
  if (list_ == nullptr) return;
  // The nodes are the tree's: the list lets go of them before it goes.
  (void)ClearList(list_, false);
  termList(list_);
  list_ = nullptr;
}

std::uint32_t LargeFiles::size() const {
  return list_ ? SizeOfList(list_) : 0;
}

FS_Node* LargeFiles::node(std::uint32_t index) const {
  return list_ ? NodeAtIndex(list_, index) : nullptr;
}

std::vector<FS_Node*> LargeFiles::nodes() const {
  std::vector<FS_Node*> out;
  for (std::uint32_t i = 0; i < size(); ++i)
    if (FS_Node* n = node(i)) out.push_back(n);
  return out;
}

std::vector<LargeFiles::Row> LargeFiles::rows() const {
  std::vector<Row> out;
  for (FS_Node* n : nodes()) {
    const char* title = GetTitleNode(n);
    out.push_back({title ? title : "", dataActualSizeNode(n) + rsrcActualSizeNode(n)});
  }
  return out;
}

Estimate estimateDiscs(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags) {
  FS_List* tooBig = nullptr;
  Estimate e;
  // Edits leave the folders' totals behind; they are brought up to date without touching
  // what a spanned burn recorded in the nodes.
  if (tree != nullptr) (void)TreeInfo(tree, nullptr, nullptr, nullptr, nullptr, true);
  e.discs = dspn_Estimate(tree, capacity, fsFlags, &tooBig);
  e.tooBig = LargeFiles(tooBig);
  return e;
}

std::uint32_t biggestFileBlocks(FS_Tree* tree, std::uint32_t fsFlags) {
  return BiggestFileBlks(tree, 2048, fsFlags, true);
}

bool formatAllowsSpanning(std::uint32_t fsFlags) {
  static constexpr std::array<std::uint32_t, 4> kWhole = {1, 257, 513, 64};
  for (std::uint32_t f : kWhole)
    if (f == fsFlags) return false;
  return true;
}

std::optional<std::size_t> searchDiscSize(const std::vector<std::uint32_t>& sizes,
                                          std::size_t selected,
                                          const std::function<bool(std::uint32_t)>& holds) {
  if (selected < sizes.size() && holds(sizes[selected])) return selected;
  for (std::size_t i = 0; i < sizes.size(); ++i)
    if (holds(sizes[i])) return i;
  return std::nullopt;
}

// ---- the wait for the next disc ----

NextDiscStep nextDiscStep(const std::optional<WaitingDisc>& disc, std::uint32_t biggestFileBlocks,
                          InsertDiscStatus shown) {
  NextDiscStep step;
  if (!disc) {
    // A refused disc taken out leaves its reason in view.
    step.status = shown;
    if (shown == InsertDiscStatus::kNoDisc) step.text = StatusText{"Insert Blank Media", {}};
    return step;
  }
  if (disc->discStatus != 0) {
    step.action = NextDiscAction::kEject;
    step.status = InsertDiscStatus::kNotBlank;
    step.text = StatusText{"Inserted Media Not Blank", {}};
    return step;
  }
  if (disc->freeBlocks >= biggestFileBlocks) {
    step.action = NextDiscAction::kBurn;
    step.status = shown;
    return step;
  }
  step.action = NextDiscAction::kEject;
  step.status = InsertDiscStatus::kTooSmall;
  step.text = StatusText{"Please Insert Size Disc", blocksToMegabytes(biggestFileBlocks)};
  return step;
}

// ---- the log ----

std::string spanLogLine(std::string_view relativePath, std::string_view treeTitle,
                        std::uint32_t discID) {
  std::string line(relativePath);
  line += " (";
  line += partTitle(treeTitle, discID);
  line += ")\r";
  return line;
}

std::string partTitle(std::string_view treeTitle, std::uint32_t discID) {
  std::string title(treeTitle);
  title += '-';
  title += std::to_string(discID);
  return title;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct SpanLogWalk {
  std::FILE* file = nullptr;
  std::string_view title;
  EngineStatus status = kNoErr;
};

void writeSpanLogLine(FS_Node* node, bool* stop, void* context, std::uint16_t, bool*) {
  auto& walk = *static_cast<SpanLogWalk*>(context);
  if (IsFolderNode(node)) return;
  const std::string line = spanLogLine(RelativePathToMe(node), walk.title, NodeDiscID(node));
  if (std::fwrite(line.data(), 1, line.size(), walk.file) != line.size()) {
    walk.status = kErrImageWrite;
    *stop = true;
  }
}

}  // namespace

EngineStatus writeSpanLog(FS_Tree* tree, const std::filesystem::path& path,
                          std::string_view treeTitle) {
  if (tree == nullptr || path.empty()) return kErrBadArgument;
  // "wb" replaces what an earlier log left: a shorter log never keeps old lines.
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return kErrFileAccess;
  SpanLogWalk walk{file.get(), treeTitle};
  const EngineStatus walked = WalkWholeTree(tree, writeSpanLogLine, &walk, nullptr);
  if (walk.status != kNoErr) return walk.status;
  if (walked != kNoErr) return walked;
  if (std::fclose(file.release()) != 0) return kErrImageWrite;
  return kNoErr;
}

}  // namespace quillion::span
