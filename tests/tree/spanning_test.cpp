// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning through its flat functions: the overhead estimate field by field, the
// packing cases at the exact capacity where they change, and whole runs over a mixed tree
// at many capacities, where every file must land on exactly one disc within capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quillion/DSPN.h"
#include "quillion/FS.h"
#include "tests/support/test_support.h"
#include "tree/disc_spanning.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kISO9660 = 0x100, kJoliet = 0x200, kHFS = 0x1, kUDF = 0x10;
constexpr std::uint32_t kBlock = 2048;

struct SpanTree {
  FS_Tree* tree = nullptr;
  ~SpanTree() { termTree(tree); }
};

// The trees of a run, kept for questions and freed together.
struct DiscTrees {
  std::vector<FS_Tree*> trees;
  ~DiscTrees() {
    for (FS_Tree* t : trees) termTree(t);
  }
};

// The too-big list holds the tree's own nodes: emptied without deleting, then freed.
struct TooBig {
  FS_List* list = nullptr;
  ~TooBig() {
    if (list != nullptr) {
      EXPECT_EQ(ClearList(list, false), kNoErr);
      termList(list);
    }
  }
  std::string titles() const {
    std::string out;
    for (std::uint32_t i = 0; list && i < SizeOfList(list); ++i)
      out += std::string(GetTitleNode(NodeAtIndex(list, i))) + " ";
    return out;
  }
};

// Path below the tree's root, '/' between titles.
std::string pathOf(FS_Node* node) {
  std::string path = GetTitleNode(node);
  for (FS_Node* p = GetParentNode(node); p != nullptr && GetParentNode(p) != nullptr;
       p = GetParentNode(p))
    path = std::string(GetTitleNode(p)) + "/" + path;
  return path;
}

void collectFiles(FS_Node* folder, std::map<std::string, FS_Node*>& out) {
  for (std::uint32_t i = 0; i < GetNumberOfChildren(folder); ++i) {
    FS_Node* child = GetChildNodeAtIndex(folder, i);
    if (IsFolderNode(child) && !IsPackageNode(child))
      collectFiles(child, out);
    else if (IsFolderNode(child))
      collectFiles(child, out);
    else
      out[pathOf(child)] = child;
  }
}

// A layout on disc: entries "dir/file:blocks" (sparse files of that many 2048-byte blocks)
// and "dir/" for folders; folders named in `packages` become packages.
class Layout {
 public:
  Layout(const std::vector<std::string>& entries, const std::vector<std::string>& packages = {}) {
    for (const std::string& e : entries) {
      const auto colon = e.find(':');
      const fs::path path = dir.path() / "src" / e.substr(0, colon);
      if (colon == std::string::npos) {
        fs::create_directories(path);
        continue;
      }
      fs::create_directories(path.parent_path());
      writeFile(path, "");
      fs::resize_file(path, std::stoull(e.substr(colon + 1)) * kBlock);
    }
    fs::create_directories(dir.path() / "src");
    owner.tree = initTree(nullptr);
    add(dir.path() / "src", GetRootTreeNode(owner.tree));
    for (const std::string& p : packages) SetPackageNode(find(p), true);
  }

  FS_Tree* tree() const { return owner.tree; }

  FS_Node* find(const std::string& path) const {
    FS_Node* node = GetRootTreeNode(owner.tree);
    std::size_t at = 0;
    while (at < path.size()) {
      const std::size_t end = std::min(path.find('/', at), path.size());
      node = node->FindChild(path.substr(at, end - at));
      if (node == nullptr) return nullptr;
      at = end + 1;
    }
    return node;
  }

 private:
  void add(const fs::path& folder, FS_Node* parent) {
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
    for (const fs::path& p : entries) {
      FS_Node* node = initNode(p.c_str(), p.filename().c_str(), nullptr, false);
      EXPECT_EQ(AddTreeNode(owner.tree, node, parent), kNoErr);
      if (IsFolderNode(node)) add(p, node);
    }
  }

  TempDir dir;
  SpanTree owner;
};

// One disc's share as the tests see it: its files by path.
struct Disc {
  std::vector<std::string> files;
  std::uint32_t remainingFiles = 0, remainingBlocks = 0, biggestBlocks = 0;
};

// A whole run: dspn_Start, then next trees for discs 1, 2, ... until null. The last entry is
// the pass that gave null, with what it reported left.
std::vector<Disc> runAll(FS_Tree* tree, std::uint32_t fsFlags, std::uint32_t capacity,
                         DiscTrees* trees = nullptr) {
  dspn_Start(tree);
  std::vector<Disc> discs;
  for (std::uint32_t id = 1; id < 200; ++id) {
    Disc d;
    FS_Tree* next = dspn_NextTree(tree, id, fsFlags, capacity, &d.remainingFiles,
                                  &d.remainingBlocks, &d.biggestBlocks);
    if (next != nullptr) {
      std::map<std::string, FS_Node*> files;
      collectFiles(GetRootTreeNode(next), files);
      for (const auto& [path, node] : files) d.files.push_back(path);
    }
    discs.push_back(d);
    if (next == nullptr) break;
    if (trees)
      trees->trees.push_back(next);
    else
      termTree(next);
  }
  dspn_Stop();
  return discs;
}

std::string filesOf(const Disc& d) {
  std::string out;
  for (const std::string& f : d.files) out += f + " ";
  return out;
}

}  // namespace

// Each field of the format code adds its own overhead; a code naming no file system fits
// nothing.
TEST(Spanning, OverheadEstimateByFormat) {
  struct Case {
    std::uint32_t flags, folders, files, blocks, need;
  };
  const Case cases[] = {
      {kISO9660, 3, 61, 10, 10 + 1000 + 3 + 2 + 25},
      {kISO9660, 3, 60, 10, 10 + 1000 + 3 + 1 + 25},
      {kJoliet, 3, 21, 10, 10 + 1000 + 2 + 6 + 25},
      {kJoliet, 3, 20, 10, 10 + 1000 + 1 + 6 + 25},
      {kHFS, 3, 8, 10, 10 + 1000 + 3 + 20},
      {kHFS, 3, 7, 10, 10 + 1000 + 2 + 20},
      {kHFS, 3, 2, 10, 10 + 1000 + 1 + 20},
      {kUDF, 3, 26, 10, 10 + 1000 + 3 + 26 + 2 + 520},
      {kUDF, 3, 25, 10, 10 + 1000 + 3 + 25 + 1 + 520},
      {kHFS | kJoliet, 0, 0, 0, 1000 + 0 + 20 + 0 + 25},
      {kHFS | kUDF | kISO9660, 1, 1, 1, 1 + 1000 + 1 + 20 + 1 + 1 + 1 + 520 + 1 + 1 + 25},
      {0x300, 0, 0, 0, 0xFFFFFFFF},
      {0, 0, 0, 0, 0xFFFFFFFF},
      {kJoliet, 0, 0, 0xFFFFFFF0, 0xFFFFFFFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fsEstimation(c.flags, c.folders, c.files, c.blocks), c.need)
        << std::hex << c.flags << std::dec << " " << c.folders << " " << c.files << " " << c.blocks;
}

// The packing cases at the capacity where their outcome changes (Joliet: blocks + 1000 +
// (files + 19) / 20 + 2 x folders + 25).
TEST(Spanning, CasesAtExactCapacities) {
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::vector<std::string> packages;
    std::uint32_t fsFlags, capacity, estimate;
    const char* tooBig;
    std::vector<std::string> discs;  // files of each disc, then what the null pass left
    std::uint32_t leftFiles, leftBlocks, leftBiggest;
  };
  const Case cases[] = {
      {"one file fits exactly", {"a:100"}, {}, kJoliet, 1126, 1, "", {"a "}, 0, 0, 0},
      {"one file a block too big", {"a:100"}, {}, kJoliet, 1125, 1, "a ", {}, 1, 100, 100},
      {"two files fit together exactly",
       {"a:100", "b:100"},
       {},
       kJoliet,
       1226,
       1,
       "",
       {"a b "},
       0,
       0,
       0},
      {"two files a block apart",
       {"a:100", "b:100"},
       {},
       kJoliet,
       1225,
       2,
       "",
       {"a ", "b "},
       0,
       0,
       0},
      // A (1 folder, 2 files, 100 blocks) needs 1128; A and B whole need 1230.
      {"two folders fit whole exactly",
       {"A/a1:50", "A/a2:50", "B/b1:50", "B/b2:50"},
       {},
       kJoliet,
       1230,
       1,
       "",
       {"A/a1 A/a2 B/b1 B/b2 "},
       0,
       0,
       0},
      // B fits no disc whole: b1 joins A (1180), b2 opens disc 2.
      {"the second folder splits a block short",
       {"A/a1:50", "A/a2:50", "B/b1:50", "B/b2:50"},
       {},
       kJoliet,
       1229,
       2,
       "",
       {"A/a1 A/a2 B/b1 ", "B/b2 "},
       0,
       0,
       0},
      // a needs 1126, a with package P 1228, P alone 1128: P waits for disc 2 although one
      // of its files would fit beside a.
      {"a package waits for the next disc",
       {"a:100", "P/p1:50", "P/p2:50"},
       {"P"},
       kJoliet,
       1227,
       2,
       "",
       {"a ", "P/p1 P/p2 "},
       0,
       0,
       0},
      {"a package fits beside a file exactly",
       {"a:100", "P/p1:50", "P/p2:50"},
       {"P"},
       kJoliet,
       1228,
       1,
       "",
       {"P/p1 P/p2 a "},
       0,
       0,
       0},
      {"a package a block larger than a disc",
       {"a:100", "P/p1:50", "P/p2:50"},
       {"P"},
       kJoliet,
       1127,
       1,
       "P ",
       {"a "},
       1,
       100,
       100},
      {"no file system named: everything is too big",
       {"a:1", "B/b:1"},
       {},
       0,
       0xFFFFFFFE,
       1,
       "a b ",
       {},
       2,
       4,
       2},
      // Folders brought along count: x alone 1000 + 1 + 25 + 3 x 2 = 1032 for three folders.
      {"a deep file counts its folders",
       {"D/E/F/x:0"},
       {},
       kJoliet,
       1032,
       1,
       "",
       {"D/E/F/x "},
       0,
       0,
       0},
      {"a deep file a block short of its folders",
       {"D/E/F/x:0"},
       {},
       kJoliet,
       1031,
       1,
       "x ",
       {},
       1,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Layout layout(c.entries, c.packages);
    dspn_Start(layout.tree());
    TooBig tooBig;
    EXPECT_EQ(dspn_Estimate(layout.tree(), c.capacity, c.fsFlags, &tooBig.list), c.estimate);
    EXPECT_EQ(tooBig.titles(), c.tooBig);
    const std::vector<Disc> discs = runAll(layout.tree(), c.fsFlags, c.capacity);
    ASSERT_EQ(discs.size(), c.discs.size() + 1);
    for (std::size_t i = 0; i < c.discs.size(); ++i) EXPECT_EQ(filesOf(discs[i]), c.discs[i]);
    EXPECT_EQ(discs.back().remainingFiles, c.leftFiles);
    EXPECT_EQ(discs.back().remainingBlocks, c.leftBlocks);
    EXPECT_EQ(discs.back().biggestBlocks, c.leftBiggest);
  }
}

TEST(Spanning, EmptyTreeNeedsNoDisc) {
  SpanTree tree{initTree(nullptr)};
  dspn_Start(tree.tree);
  FS_List* sentinel = initList();
  FS_List* tooBig = sentinel;
  EXPECT_EQ(dspn_Estimate(tree.tree, 100000, kJoliet, &tooBig), 0u);
  EXPECT_EQ(tooBig, nullptr);
  termList(sentinel);
  std::uint32_t left = 7;
  EXPECT_EQ(dspn_NextTree(tree.tree, 1, kJoliet, 100000, &left, nullptr, nullptr), nullptr);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(dspn_Estimate(nullptr, 100000, kJoliet, nullptr), 0u);
}

// With a UDF part, resource forks are left out of sizes; without one they count.
TEST(Spanning, ResourceForksCountOnlyWithoutUDF) {
  Layout layout({"a:100"});
  layout.find("a")->rsrcActualSize = 100 * kBlock;
  dspn_Start(layout.tree());
  struct Case {
    std::uint32_t flags, capacity;
    const char* tooBig;
  };
  // UDF: 100 + 1000 + 1 + 1 + 520; HFS and ISO9660: 200 + 1000 + 1 + 20 + 1 + 25.
  for (const Case& c : {Case{kUDF, 1622, ""}, Case{kUDF, 1621, "a "},
                        Case{kHFS | kISO9660, 1247, ""}, Case{kHFS | kISO9660, 1246, "a "}}) {
    TooBig tooBig;
    EXPECT_EQ(dspn_Estimate(layout.tree(), c.capacity, c.flags, &tooBig.list), 1u);
    EXPECT_EQ(tooBig.titles(), c.tooBig) << std::hex << c.flags << std::dec << " " << c.capacity;
  }
}

// The estimate changes no node; dspn_Start forgets an earlier run, so a second run places
// the same files again.
TEST(Spanning, EstimateLeavesNodesAndStartResets) {
  Layout layout({"A/a1:50", "A/a2:50", "B/b1:50", "B/b2:50"});
  dspn_Start(layout.tree());
  EXPECT_EQ(dspn_Estimate(layout.tree(), 1229, kJoliet, nullptr), 2u);
  EXPECT_EQ(layout.find("A")->Flags() & (kFSNodeUsed | kFSNodePolluted), 0u);
  const auto first = runAll(layout.tree(), kJoliet, 1229);
  EXPECT_EQ(NodeDiscID(layout.find("B/b2")), 2u);
  EXPECT_TRUE(layout.find("B")->HasFlag(kFSNodeUsed));
  const auto second = runAll(layout.tree(), kJoliet, 1229);
  ASSERT_EQ(second.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(filesOf(second[i]), filesOf(first[i]));
}

// A folder counts as placed only once every child is. F holds S (s1, s2), x1 and x2: disc 1
// takes a and s1; on disc 2, s2 completes S and x1 follows while x2 still waits, so F must
// not be skipped on disc 3. (1000 + 25 + 1 + blocks + 2 x folders: x1 beside s2 needs 1150.)
TEST(Spanning, FolderIsUsedOnlyWhenEveryChildIsPlaced) {
  Layout layout({"F/S/s1:60", "F/S/s2:60", "F/x1:60", "F/x2:60", "a:6"});
  const auto discs = runAll(layout.tree(), kJoliet, 1150);
  ASSERT_EQ(discs.size(), 4u);
  EXPECT_EQ(filesOf(discs[0]), "F/S/s1 a ");
  EXPECT_EQ(filesOf(discs[1]), "F/S/s2 F/x1 ");
  EXPECT_EQ(filesOf(discs[2]), "F/x2 ");
  EXPECT_EQ(discs[3].remainingFiles, 0u);
  EXPECT_TRUE(layout.find("F")->HasFlag(kFSNodeUsed));
}

namespace {

// The source files that the estimate lists as too big, packages by their files.
std::set<std::string> tooBigFiles(FS_Tree* tree, std::uint32_t fsFlags, std::uint32_t capacity,
                                  std::uint32_t* nodes) {
  TooBig tooBig;
  (void)dspn_Estimate(tree, capacity, fsFlags, &tooBig.list);
  *nodes = SizeOfList(tooBig.list);
  std::set<std::string> out;
  for (std::uint32_t i = 0; i < SizeOfList(tooBig.list); ++i) {
    FS_Node* node = NodeAtIndex(tooBig.list, i);
    std::map<std::string, FS_Node*> files;
    if (IsFolderNode(node))
      collectFiles(node, files);
    else
      files[pathOf(node)] = node;
    for (const auto& [path, n] : files) out.insert(path);
  }
  return out;
}

}  // namespace

// Whole runs over a mixed tree at many capacities: every file lands on exactly one disc, under
// the path it has in the source and with its disc number stored, except the files the
// estimate found too big, which are reported left over; no disc's own estimate exceeds the
// capacity.
TEST(Spanning, EveryFileOnExactlyOneDiscAtEveryCapacity) {
  std::vector<std::string> entries = {"empty/", "P/x:7", "P/y/z:9", "top:130"};
  for (int i = 0; i < 12; ++i)
    entries.push_back("d" + std::to_string(i % 3) + "/e" + std::to_string(i % 2) + "/f" +
                      std::to_string(i) + ":" + std::to_string(3 + i * 11));
  entries.push_back("deep/1/2/3/4/5/6/7/8/9/leaf:40");
  Layout layout(entries, {"P"});
  std::map<std::string, FS_Node*> sourceFiles;
  collectFiles(GetRootTreeNode(layout.tree()), sourceFiles);

  std::set<std::uint32_t> discCounts;
  for (std::uint32_t capacity = 1040; capacity <= 1500; capacity += 23) {
    SCOPED_TRACE(capacity);
    DiscTrees trees;
    const auto discs = runAll(layout.tree(), kJoliet, capacity, &trees);
    discCounts.insert(static_cast<std::uint32_t>(trees.trees.size()));
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < trees.trees.size(); ++i) {
      for (const std::string& f : discs[i].files) {
        ++seen[f];
        ASSERT_TRUE(sourceFiles.count(f)) << f;
        EXPECT_EQ(NodeDiscID(sourceFiles[f]), i + 1) << f;
      }
      std::uint32_t folders = 0, files = 0;
      std::uint64_t bytes = 0;
      ASSERT_EQ(TreeInfo(trees.trees[i], &folders, &files, &bytes, nullptr, true), kNoErr);
      EXPECT_LE(fsEstimation(kJoliet, folders, files, static_cast<std::uint32_t>(bytes / kBlock)),
                capacity)
          << "disc " << i + 1;
    }
    std::set<std::string> left;
    for (const auto& [path, node] : sourceFiles) {
      EXPECT_LE(seen[path], 1) << path << " on more than one disc";
      if (seen[path] == 0) left.insert(path);
    }
    std::uint32_t tooBigNodes = 0;
    EXPECT_EQ(left, tooBigFiles(layout.tree(), kJoliet, capacity, &tooBigNodes));
    EXPECT_EQ(discs.back().remainingFiles, tooBigNodes) << "files on no disc are reported";
  }
  EXPECT_GE(discCounts.size(), 3u) << "the capacities give runs of different lengths";
}

// Folders are copied up to 1,000 levels above a placed file: below 1,000 folders the two
// files go on a disc each under copies of all their folders; below 1,001 both are too big
// for every disc, in the estimate and in the run alike. (One file with its folders needs
// 1126 + 2 x levels.)
TEST(Spanning, FoldersAreCopiedUpToAThousandLevels) {
  for (const std::uint32_t levels : {1000u, 1001u}) {
    SCOPED_TRACE(levels);
    SpanTree tree{initTree(nullptr)};
    FS_Node* parent = nullptr;
    for (std::uint32_t i = 0; i < levels; ++i) {
      FS_Node* folder = initNode(nullptr, ("D" + std::to_string(i)).c_str(), nullptr, false);
      ASSERT_EQ(AddTreeNode(tree.tree, folder, parent), kNoErr);
      parent = folder;
    }
    for (const char* name : {"f1", "f2"}) {
      FS_Node* file = FS_Node::MakeImportFile(name, nullptr, 0, 0);
      file->dataActualSize = 100 * kBlock;
      ASSERT_EQ(AddTreeNode(tree.tree, file, parent), kNoErr);
    }
    const std::uint32_t capacity = 1126 + 2 * levels;
    dspn_Start(tree.tree);
    TooBig tooBig;
    const std::uint32_t estimate = dspn_Estimate(tree.tree, capacity, kJoliet, &tooBig.list);
    const auto discs = runAll(tree.tree, kJoliet, capacity);
    if (levels == 1000) {
      EXPECT_EQ(estimate, 2u);
      EXPECT_EQ(tooBig.titles(), "");
      ASSERT_EQ(discs.size(), 3u);
      ASSERT_EQ(discs[0].files.size(), 1u);
      ASSERT_EQ(discs[1].files.size(), 1u);
      EXPECT_EQ(std::count(discs[0].files[0].begin(), discs[0].files[0].end(), '/'), 1000);
      EXPECT_EQ(discs[0].files[0].substr(discs[0].files[0].size() - 8), "/D999/f1");
      EXPECT_EQ(discs[2].remainingFiles, 0u);
    } else {
      EXPECT_EQ(estimate, 1u);
      EXPECT_EQ(tooBig.titles(), "f1 f2 ");
      ASSERT_EQ(discs.size(), 1u);
      EXPECT_EQ(discs[0].remainingFiles, 2u);
      EXPECT_EQ(discs[0].remainingBlocks, 200u);
    }
  }
}
