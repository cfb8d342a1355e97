// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning: first-fit estimates and the next disc's tree.
#include "tree/disc_spanning.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "quillion/DSPN.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

// Named, so that these helpers never meet a namesake when files are compiled together.
namespace quillion::span_detail {
namespace {

constexpr std::uint32_t kNothingFits = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kSpanBlockBytes = 2048;

std::uint32_t clamp32(std::uint64_t v) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, kNothingFits));
}

// The format code read as spanning needs it: an HFS part (low four bits), a UDF part (bits 4
// to 7, which also leave resource forks out) and the ISO9660 naming (bits 8 to 11).
struct SpanFormat {
  bool hfs = false;
  bool udf = false;
  std::uint32_t isoNames = 0;  // 1: ISO9660 names, 2: Joliet
};

SpanFormat spanFormat(std::uint32_t fsFlags) {
  return {(fsFlags & 0xFu) != 0, (fsFlags & 0xF0u) != 0, (fsFlags >> 8) & 0xFu};
}

// What one node adds to a disc when it goes there whole.
struct Share {
  std::uint32_t blocks = 0;
  std::uint32_t files = 0;
  std::uint32_t folders = 0;
};

Share shareOf(const FS_Node& node, std::uint32_t fsFlags) {
  const bool withRsrc = !spanFormat(fsFlags).udf;
  Share s;
  s.blocks =
      clamp32(node.dataSize / kSpanBlockBytes + (withRsrc ? node.rsrcSize / kSpanBlockBytes : 0));
  if (node.IsFolder()) {
    s.files = node.subFiles;
    s.folders = clamp32(std::uint64_t{node.subFolders} + 1);
  } else {
    s.files = 1;
  }
  return s;
}

bool fitsIn(std::uint32_t capacity, std::uint32_t fsFlags, std::uint64_t folders,
            std::uint64_t files, std::uint64_t blocks) {
  const std::uint32_t need =
      fsEstimation(fsFlags, clamp32(folders), clamp32(files), clamp32(blocks));
  return need != kNothingFits && capacity >= need;
}

// A node that goes on a disc alone or whole: a file, a package, or a folder with nothing in
// it to place one by one.
bool placedWhole(const FS_Node& node) {
  return !node.IsFolder() || node.IsPackage() || node.GetNumberOfChildren() == 0;
}

// ---- estimate ----

// The folders between `node` and the root that `disc` does not hold yet.
std::uint32_t newParents(const FS_Node& node, const FS_Node* root, const dspn_DiscInfo& disc) {
  std::uint32_t count = 0;
  for (const FS_Node* p = node.Parent(); p != nullptr && p != root; p = p->Parent())
    if (disc.parents.count(p) == 0) ++count;
  return count;
}

void addToDisc(dspn_DiscInfo& disc, const FS_Node& node, const FS_Node* root, const Share& s) {
  disc.blocks = clamp32(std::uint64_t{disc.blocks} + s.blocks);
  disc.files = clamp32(std::uint64_t{disc.files} + s.files);
  disc.folders = clamp32(std::uint64_t{disc.folders} + s.folders);
  for (const FS_Node* p = node.Parent(); p != nullptr && p != root; p = p->Parent())
    if (disc.parents.insert(p).second) disc.folders = clamp32(std::uint64_t{disc.folders} + 1);
}

bool fitsDisc(const dspn_pack& pack, const dspn_DiscInfo& disc, const FS_Node& node,
              const FS_Node* root, const Share& s) {
  // The folders the node would bring along count too, so a disc never ends above capacity.
  return fitsIn(pack.capacity, pack.fsFlags,
                std::uint64_t{disc.folders} + s.folders + newParents(node, root, disc),
                std::uint64_t{disc.files} + s.files, std::uint64_t{disc.blocks} + s.blocks);
}

// `depth`: the folders between the children of `folder` and the root.
void estimateBelow(const FS_Node& folder, const FS_Node* root, std::uint32_t depth,
                   dspn_pack& pack) {
  const bool tooDeep = depth > kSpanMaxDepth;
  for (const auto& entry : folder.Children()) {
    const FS_Node& child = *entry.second;
    const Share s = shareOf(child, pack.fsFlags);
    auto disc =
        tooDeep ? pack.discs.end()
                : std::find_if(pack.discs.begin(), pack.discs.end(), [&](const dspn_DiscInfo& d) {
                    return fitsDisc(pack, d, child, root, s);
                  });
    if (disc != pack.discs.end()) {
      addToDisc(*disc, child, root, s);
      continue;
    }
    if (!placedWhole(child)) {
      estimateBelow(child, root, depth + 1, pack);
      continue;
    }
    dspn_DiscInfo fresh;
    if (tooDeep || !fitsDisc(pack, fresh, child, root, s)) {
      if (pack.tooBig != nullptr) (void)pack.tooBig->Append(entry.second.get());
      continue;
    }
    addToDisc(fresh, child, root, s);
    pack.discs.push_back(std::move(fresh));
  }
}

// ---- next tree ----

void noteRemaining(dspn_Tree_pack& pack, const Share& s) {
  pack.remainingFiles = clamp32(std::uint64_t{pack.remainingFiles} + 1);
  pack.remainingBlocks = clamp32(std::uint64_t{pack.remainingBlocks} + s.blocks);
  pack.biggestBlocks = std::max(pack.biggestBlocks, s.blocks);
}

// The folders between `node` and the root that have no copy in the new tree yet.
std::uint32_t uncopiedParents(const FS_Node& node, const FS_Node* root,
                              const dspn_Tree_pack& pack) {
  std::uint32_t count = 0;
  for (const FS_Node* p = node.Parent(); p != nullptr && p != root; p = p->Parent()) {
    if (pack.folderCopies.count(p) != 0) break;
    ++count;
  }
  return count;
}

// Hangs `copy` (the copy of `node`) into the new tree under copies of the node's folders,
// making the ones that are missing. False, with nothing changed and `copy` destroyed, when
// the folders are too deep or the new tree refuses the piece.
bool hangCopy(FS_Node* copy, const FS_Node& node, const FS_Node* root, dspn_Tree_pack& pack) {
  std::unique_ptr<FS_Node> piece(copy);
  std::vector<const FS_Node*> made;
  FS_Node* target = nullptr;
  FS_Node* source = node.Parent();
  for (std::uint32_t level = 0;; ++level) {
    if (source == nullptr) break;
    if (source == root) {
      target = pack.newTree->Root();
      break;
    }
    if (const auto it = pack.folderCopies.find(source); it != pack.folderCopies.end()) {
      target = it->second;
      break;
    }
    if (level >= kSpanMaxDepth) break;
    std::unique_ptr<FS_Node> folderCopy(source->CopyNode(false, 0));
    // The copy stands for a whole folder of the new disc, not for a partly placed one.
    folderCopy->SetPolluted(false);
    folderCopy->placedChildren = 0;
    if (folderCopy->AddChild(piece.get()) != kNoErr) break;
    (void)piece.release();
    piece = std::move(folderCopy);
    made.push_back(source);
    pack.folderCopies[source] = piece.get();
    source = source->Parent();
  }
  if (target != nullptr && pack.newTree->Add(piece.get(), target) == kNoErr) {
    (void)piece.release();
    return true;
  }
  for (const FS_Node* f : made) pack.folderCopies.erase(f);
  return false;
}

// After `node` went on a disc: a folder becomes used only once every child of it is used,
// so a folder skipped on later discs never hides a file that no disc holds. Folders on the
// way up that are not complete become polluted: entered on later discs, never copied whole.
void markPlaced(FS_Node& node, const FS_Node* root) {
  node.SetUsed(true);
  bool completing = true;
  for (FS_Node* p = node.Parent(); p != nullptr && p != root; p = p->Parent()) {
    if (completing) {
      ++p->placedChildren;
      if (p->placedChildren >= p->GetNumberOfChildren()) {
        p->SetUsed(true);
        continue;
      }
      completing = false;
    } else if (p->IsPolluted()) {
      break;  // its own folders were polluted with it
    }
    p->SetPolluted(true);
  }
}

void nextBelow(FS_Node& folder, const FS_Node* root, std::uint32_t depth, dspn_Tree_pack& pack) {
  const bool tooDeep = depth > kSpanMaxDepth;
  for (const auto& [key, child] : folder.Children()) {
    FS_Node& node = *child;
    if (node.HasFlag(kFSNodeUsed)) continue;
    if (node.IsFolder() && node.IsPolluted()) {
      nextBelow(node, root, depth + 1, pack);
      continue;
    }
    const Share s = shareOf(node, pack.fsFlags);
    const std::uint32_t parents = uncopiedParents(node, root, pack);
    // A node below more folders than are copied stays where it is, reported as left.
    const bool fits =
        !tooDeep &&
        fitsIn(pack.capacity, pack.fsFlags, std::uint64_t{pack.folders} + s.folders + parents,
               std::uint64_t{pack.files} + s.files, std::uint64_t{pack.blocks} + s.blocks);
    if (!fits && node.IsFolder() && !node.IsPackage()) {
      nextBelow(node, root, depth + 1, pack);
      continue;
    }
    if (!fits || !hangCopy(node.CopyNode(true, pack.discID), node, root, pack)) {
      if (!node.IsFolder() || node.IsPackage()) noteRemaining(pack, s);
      continue;
    }
    pack.blocks = clamp32(std::uint64_t{pack.blocks} + s.blocks);
    pack.files = clamp32(std::uint64_t{pack.files} + s.files);
    pack.folders = clamp32(std::uint64_t{pack.folders} + s.folders + parents);
    markPlaced(node, root);
  }
}

void resetSpanState(FS_Node* node, bool*, void*, std::uint16_t, bool*) {
  node->SetTemp(false);
  node->SetUsed(false);
  node->SetPolluted(false);
  node->discID = 0;
  node->placedChildren = 0;
}

}  // namespace
}  // namespace quillion::span_detail

std::uint32_t fsEstimation(std::uint32_t fsFlags, std::uint32_t folders, std::uint32_t files,
                           std::uint32_t blocks) {
  const quillion::span_detail::SpanFormat f = quillion::span_detail::spanFormat(fsFlags);
  if (!f.hfs && !f.udf && f.isoNames != 1 && f.isoNames != 2)
    return quillion::span_detail::kNothingFits;
  const std::uint64_t d = folders, n = files;
  std::uint64_t need = std::uint64_t{blocks} + 1000;
  if (f.hfs) need += (d + n + 4) / 5 + 20;
  if (f.udf) need += d + n + (n + 24) / 25 + 520;
  if (f.isoNames == 1) need += d + (n + 59) / 60 + 25;
  if (f.isoNames == 2) need += (n + 19) / 20 + 2 * d + 25;
  return quillion::span_detail::clamp32(need);
}

void FS_Tree::dspn_Start() {
  if (root == nullptr) return;
  // The sizes that decide what fits are the rounded totals: bring them up to date once
  // here rather than trust totals that an edit left behind.
  (void)root->CollectAndSetFolderSize(blockSize);
  quillion::span_detail::resetSpanState(root, nullptr, nullptr, 0, nullptr);
  (void)root->WalkAllChildren(quillion::span_detail::resetSpanState, nullptr, nullptr, true);
}

std::uint32_t FS_Tree::dspn_Estimate(std::uint32_t capacity, std::uint32_t fsFlags,
                                     FS_List** tooBig) const {
  if (tooBig != nullptr) *tooBig = nullptr;
  if (root == nullptr || root->GetNumberOfChildren() == 0) return 0;
  dspn_pack pack;
  pack.capacity = capacity;
  pack.fsFlags = fsFlags;
  std::unique_ptr<FS_List> list;
  if (tooBig != nullptr) {
    list = std::make_unique<FS_List>();
    pack.tooBig = list.get();
  }
  pack.discs.emplace_back();
  quillion::span_detail::estimateBelow(*root, root, 0, pack);
  if (tooBig != nullptr) *tooBig = list.release();
  return static_cast<std::uint32_t>(pack.discs.size());
}

FS_Tree* FS_Tree::dspn_NextTree(std::uint32_t discID, std::uint32_t fsFlags, std::uint32_t capacity,
                                std::uint32_t* remainingFiles, std::uint32_t* remainingBlocks,
                                std::uint32_t* biggestBlocks) {
  if (remainingFiles) *remainingFiles = 0;
  if (remainingBlocks) *remainingBlocks = 0;
  if (biggestBlocks) *biggestBlocks = 0;
  if (root == nullptr) return nullptr;
  auto made = std::make_unique<FS_Tree>(nullptr);
  made->useResourceFork = useResourceFork;
  dspn_Tree_pack pack;
  pack.discID = discID;
  pack.newTree = made.get();
  pack.fsFlags = fsFlags;
  pack.capacity = capacity;
  quillion::span_detail::nextBelow(*root, root, 0, pack);
  if (remainingFiles) *remainingFiles = pack.remainingFiles;
  if (remainingBlocks) *remainingBlocks = pack.remainingBlocks;
  if (biggestBlocks) *biggestBlocks = pack.biggestBlocks;
  if (made->Root()->GetNumberOfChildren() == 0) return nullptr;
  return made.release();
}

void dspn_Start(FS_Tree* tree) {
  if (tree != nullptr) tree->dspn_Start();
}

std::uint32_t dspn_Estimate(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags,
                            FS_List** tooBig) {
  if (tree == nullptr) {
    if (tooBig != nullptr) *tooBig = nullptr;
    return 0;
  }
  return tree->dspn_Estimate(capacity, fsFlags, tooBig);
}

FS_Tree* dspn_NextTree(FS_Tree* tree, std::uint32_t discID, std::uint32_t fsFlags,
                       std::uint32_t capacity, std::uint32_t* remainingFiles,
                       std::uint32_t* remainingBlocks, std::uint32_t* biggestBlocks) {
  if (tree == nullptr) {
    for (std::uint32_t* out : {remainingFiles, remainingBlocks, biggestBlocks})
      if (out) *out = 0;
    return nullptr;
  }
  return tree->dspn_NextTree(discID, fsFlags, capacity, remainingFiles, remainingBlocks,
                             biggestBlocks);
}

void dspn_Stop() {}
