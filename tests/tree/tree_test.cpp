// SPDX-License-Identifier: GPL-2.0-or-later
// Trees: adding, removing and moving with their folder totals, merging, imported and
// temporary items, the biggest file and the file-location table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/fs_tree.h"

namespace {

struct TreeDeleter {
  void operator()(FS_Tree* t) const { termTree(t); }
};
using TreePtr = std::unique_ptr<FS_Tree, TreeDeleter>;

FS_Node* file(const char* title, std::uint64_t data, std::uint64_t rsrc = 0) {
  FS_Node* node = FS_Node::MakeImportFile(title, nullptr, 0, 0);
  node->SetISO9660ImportItem(false);
  node->dataActualSize = data;
  node->rsrcActualSize = rsrc;
  return node;
}

FS_Node* folderWith(const char* title, std::initializer_list<FS_Node*> children) {
  FS_Node* node = initNode(nullptr, title, nullptr, false);
  for (FS_Node* child : children) EXPECT_EQ(AddChildNode(node, child), kNoErr);
  return node;
}

struct Totals {
  std::uint32_t folders = 0, files = 0;
  std::uint64_t data = 0, rsrc = 0, actualData = 0;
  bool operator==(const Totals&) const = default;
};

Totals totals(FS_Tree* tree, bool recompute = false) {
  Totals t;
  EXPECT_EQ(TreeInfo(tree, &t.folders, &t.files, &t.data, &t.rsrc, recompute), kNoErr);
  t.actualData = dataActualSizeNode(GetRootTreeNode(tree));
  return t;
}

std::vector<std::string> titles(FS_Node* node) {
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i)
    out.push_back(GetTitleNode(GetChildNodeAtIndex(node, i)));
  return out;
}

}  // namespace

TEST(Tree, AddAndRemoveKeepRootTotals) {
  TreePtr tree(initTree(nullptr));
  EXPECT_STREQ(GetTreeTitle(tree.get()), "Untitled");
  FS_Node* docs = folderWith("Docs", {file("a", 100), file("b", 5000), file("c", 0)});
  ASSERT_EQ(AddTreeNode(tree.get(), docs, nullptr), kNoErr);
  EXPECT_EQ(totals(tree.get()), (Totals{1, 3, 12288, 0, 5100}));
  EXPECT_EQ(NumNodes(tree.get()), 4u);

  ASSERT_EQ(RemoveTreeNode(tree.get(), docs, false), kNoErr);
  EXPECT_EQ(totals(tree.get()), Totals{});
  EXPECT_EQ(GetParentNode(docs), nullptr);
  termNode(docs);  // taken out without deletion: the caller's

  // A lone file raises the actual totals at once; its rounded size waits for a folder
  // computation.
  FS_Node* lone = file("lone", 10);
  ASSERT_EQ(AddTreeNode(tree.get(), lone, nullptr), kNoErr);
  EXPECT_EQ(totals(tree.get()), (Totals{0, 1, 0, 0, 10}));
  EXPECT_EQ(totals(tree.get(), true), (Totals{0, 1, 4096, 0, 10}));
  FS_Node* clash = file("LONE", 1);
  EXPECT_EQ(AddTreeNode(tree.get(), clash, nullptr), kErrTreeDuplicateTitle);
  termNode(clash);  // refused: still the caller's
  EXPECT_EQ(AddTreeNode(tree.get(), nullptr, nullptr), kErrBadArgument);
}

TEST(Tree, TotalsStayRightAfterEveryChange) {
  TreePtr tree(initTree(nullptr));
  FS_Node* root = GetRootTreeNode(tree.get());
  auto check = [&](const char* step) {
    const Totals running = totals(tree.get());
    const Totals fresh = totals(tree.get(), true);
    EXPECT_EQ(running.folders, fresh.folders) << step;
    EXPECT_EQ(running.files, fresh.files) << step;
    EXPECT_EQ(running.actualData, fresh.actualData) << step;
    EXPECT_EQ(running.data, fresh.data) << step;
  };
  FS_Node* music = folderWith("Music", {file("s1.mp3", 3000000), file("s2.mp3", 4100)});
  ASSERT_EQ(AddTreeNode(tree.get(), music, nullptr), kNoErr);
  check("add folder");
  FS_Node* deep = folderWith("Deep", {folderWith("Deeper", {file("leaf", 1)})});
  ASSERT_EQ(AddTreeNode(tree.get(), deep, music), kNoErr);
  check("add nested folder");
  FS_Node* photos = folderWith("Photos", {file("p.jpg", 70000)});
  ASSERT_EQ(AddTreeNode(tree.get(), photos, root), kNoErr);
  ASSERT_EQ(MoveTreeNode(tree.get(), deep, photos), kNoErr);
  check("move");
  ASSERT_EQ(RemoveTreeNode(tree.get(), music, true), kNoErr);
  check("remove with deletion");
  ASSERT_EQ(MoveTreeNode(tree.get(), deep, nullptr), kNoErr);
  check("move to the root");
  EXPECT_EQ(totals(tree.get()).files, 2u);
}

TEST(Tree, RefusedMovesChangeNothing) {
  TreePtr tree(initTree(nullptr));
  FS_Node* outer = folderWith("Outer", {folderWith("Inner", {file("same", 1)})});
  FS_Node* other = folderWith("Other", {file("same", 2)});
  ASSERT_EQ(AddTreeNode(tree.get(), outer, nullptr), kNoErr);
  ASSERT_EQ(AddTreeNode(tree.get(), other, nullptr), kNoErr);
  FS_Node* inner = outer->FindChild("Inner");
  FS_Node* same = other->FindChild("same");
  const Totals before = totals(tree.get());

  EXPECT_EQ(MoveTreeNode(tree.get(), outer, inner), kErrTreeBadMove);
  EXPECT_EQ(MoveTreeNode(tree.get(), outer, outer), kErrTreeBadMove);
  EXPECT_EQ(MoveTreeNode(tree.get(), same, inner), kErrTreeDuplicateTitle);
  EXPECT_EQ(GetParentNode(same), other);
  EXPECT_EQ(MoveTreeNode(tree.get(), GetRootTreeNode(tree.get()), other), kErrTreeBadMove);
  FS_Node* detached = file("detached", 1);
  EXPECT_EQ(MoveTreeNode(tree.get(), detached, other), kErrTreeMoveNoParent);
  EXPECT_EQ(RemoveTreeNode(tree.get(), detached, true), kErrTreeNoParent);
  termNode(detached);
  EXPECT_EQ(MoveTreeNode(tree.get(), same, other), kNoErr) << "already there";
  EXPECT_EQ(totals(tree.get()), before);
}

TEST(Tree, RemovingTheRootLeavesAFreshUntitledRoot) {
  TreePtr tree(initTree(folderWith("Volume", {file("f", 10)})));
  EXPECT_STREQ(GetTreeTitle(tree.get()), "Volume");
  FS_Node* old = GetRootTreeNode(tree.get());
  ASSERT_EQ(RemoveTreeNode(tree.get(), old, true), kNoErr);
  FS_Node* fresh = GetRootTreeNode(tree.get());
  EXPECT_STREQ(GetTreeTitle(tree.get()), "Untitled");
  EXPECT_EQ(GetNumberOfChildren(fresh), 0u);
  EXPECT_TRUE(isRootNode(tree.get(), fresh));

  FS_Node* keep = GetRootTreeNode(tree.get());
  ASSERT_EQ(RemoveTreeNode(tree.get(), keep, false), kNoErr);
  EXPECT_NE(GetRootTreeNode(tree.get()), keep);
  TreePtr other(initTree(keep));  // a root removed without deletion can start a new tree
  EXPECT_TRUE(isRootNode(other.get(), keep));
  // A tree's root can never become another node's child.
  FS_Node* root = GetRootTreeNode(tree.get());
  EXPECT_EQ(AddTreeNode(tree.get(), keep, root), kErrBadArgument);
  EXPECT_EQ(AddTreeNode(tree.get(), root, root), kErrBadArgument);
}

TEST(Tree, MergeCombinesFoldersAndReportsClashes) {
  TreePtr tree(initTree(nullptr));
  FS_Node* root = GetRootTreeNode(tree.get());
  ASSERT_EQ(AddTreeNode(tree.get(), folderWith("docs", {file("b.txt", 2)}), nullptr), kNoErr);
  FS_Node* docs = root->FindChild("docs");

  EXPECT_EQ(MergeWithANode(tree.get(), root, folderWith("Docs", {file("a.txt", 1)})), kNoErr);
  EXPECT_EQ(GetNumberOfChildren(root), 1u);
  EXPECT_EQ(titles(docs), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(GetParentNode(docs->FindChild("a.txt")), docs);

  FS_Node* clashingFile = file("DOCS", 5);
  EXPECT_EQ(MergeWithANode(tree.get(), root, clashingFile), kErrTreeDuplicateTitle);
  EXPECT_EQ(GetParentNode(clashingFile), nullptr) << "still the caller's";
  termNode(clashingFile);

  // A clash deep inside: everything else moves over, the clash stays with the caller.
  FS_Node* incoming =
      folderWith("docs", {file("c.txt", 3), folderWith("Sub", {file("d.txt", 4), file("B.TXT", 5)}),
                          file("b.txt", 6)});
  ASSERT_EQ(AddTreeNode(tree.get(), folderWith("sub", {file("b.txt", 7)}), docs), kNoErr);
  EXPECT_EQ(MergeWithANode(tree.get(), root, incoming), kErrTreeDuplicateTitle);
  EXPECT_EQ(titles(docs), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "sub"}));
  EXPECT_EQ(titles(docs->FindChild("sub")), (std::vector<std::string>{"b.txt", "d.txt"}));
  EXPECT_EQ(docs->FindChild("b.txt")->dataActualSize, 2u) << "the existing file stays";
  EXPECT_EQ(titles(incoming), (std::vector<std::string>{"b.txt", "Sub"}));
  EXPECT_EQ(titles(incoming->FindChild("Sub")), (std::vector<std::string>{"B.TXT"}));
  termNode(incoming);

  EXPECT_EQ(totals(tree.get(), true).files, 5u);
  EXPECT_EQ(MergeWithANode(tree.get(), root, nullptr), kErrBadArgument);
  EXPECT_EQ(MergeWithANode(tree.get(), root, docs), kErrBadArgument) << "it has a parent";
}

TEST(Tree, ImportedItemsGoUnlessLocalFilesWereAddedInside) {
  TreePtr tree(initTree(nullptr));
  FS_Node* root = GetRootTreeNode(tree.get());
  FS_Node* old = FS_Node::MakeFolder("old", root, true);
  FS_Node::MakeImportFile("old1", old, 100, 0);
  FS_Node* mixed = FS_Node::MakeFolder("mixed", root, true);
  FS_Node::MakeImportFile("old2", mixed, 200, 0);
  ASSERT_EQ(AddChildNode(mixed, file("new", 1)), kNoErr);
  FS_Node::MakeImportFile("oldfile", root, 300, 0);
  EXPECT_EQ(GetNumberOfChildren(root), 3u);

  EXPECT_EQ(RemoveISOImportItems(tree.get()), kNoErr);
  EXPECT_EQ(titles(root), (std::vector<std::string>{"mixed"}));
  EXPECT_FALSE(IsISO9660ImportItem(mixed));
  EXPECT_EQ(titles(mixed), (std::vector<std::string>{"new"}));
}

TEST(Tree, TemporaryNodes) {
  TreePtr tree(initTree(nullptr));
  FS_Node* keep = folderWith("keep", {file("k", 10)});
  FS_Node* dropped = folderWith("dropped", {file("d1", 4096), file("d2", 1)});
  ASSERT_EQ(AddTreeNode(tree.get(), keep, nullptr), kNoErr);
  ASSERT_EQ(AddTreeNode(tree.get(), dropped, nullptr), kNoErr);
  FS_Node* tempFile = file("t", 5);
  ASSERT_EQ(AddTreeNode(tree.get(), tempFile, keep), kNoErr);
  SetTempNode(dropped, true);
  SetTempNode(tempFile, true);
  SetTempNode(dropped->FindChild("d1"), true);  // inside a temporary folder: goes with it
  EXPECT_EQ(fstree_RemoveAllTempNodes(tree.get()), kNoErr);
  EXPECT_EQ(titles(GetRootTreeNode(tree.get())), (std::vector<std::string>{"keep"}));
  EXPECT_EQ(totals(tree.get()), (Totals{1, 1, 4096, 0, 10}));

  EXPECT_EQ(fstree_ResetAllTempNodes(tree.get(), true), kNoErr);
  EXPECT_TRUE(IsTempNode(keep->FindChild("k")));
  EXPECT_EQ(fstree_ResetAllTempNodes(tree.get(), false), kNoErr);
  EXPECT_FALSE(IsTempNode(keep));
}

namespace {

// App (package) { bin: 3 blocks, res: 1 + 1 rsrc }, empty, imp (imported), movie: 4 + 1 rsrc;
// blocks of 2048 bytes.
TreePtr sizedTree() {
  TreePtr tree(initTree(nullptr));
  FS_Node* app = folderWith("App", {file("bin", 3 * 2048), file("res", 2048, 2048)});
  SetPackageNode(app, true);
  EXPECT_EQ(AddTreeNode(tree.get(), app, nullptr), kNoErr);
  EXPECT_EQ(AddTreeNode(tree.get(), file("movie", 4 * 2048 - 100, 2048), nullptr), kNoErr);
  EXPECT_EQ(AddTreeNode(tree.get(), file("empty", 0), nullptr), kNoErr);
  FS_Node::MakeImportFile("imp", GetRootTreeNode(tree.get()), 500, 0)->dataActualSize = 4096;
  EXPECT_EQ(tree->SetBlockSize(2048), kNoErr);
  return tree;
}

}  // namespace

TEST(Tree, BiggestFileInBlocks) {
  TreePtr tree = sizedTree();
  struct Case {
    std::uint32_t fsFlags;
    bool packagesWhole;
    std::uint32_t blocks;
  };
  const Case cases[] = {
      {0, false, 5},     // movie with its resource fork
      {0, true, 7},      // App: 4 + 1 blocks, 2 files, no folders
      {0x10, false, 4},  // UDF: resource forks do not count
      {0x12, true, 6},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BiggestFileBlks(tree.get(), 0, c.fsFlags, c.packagesWhole), c.blocks)
        << c.fsFlags << " " << c.packagesWhole;
  EXPECT_EQ(tree->SetBlockSize(0), kErrBadArgument);
  EXPECT_EQ(BiggestFileBlks(nullptr, 0, 0, false), 0u);
}

TEST(Tree, FileLocationTableInPreOrderWithResourceForksFirst) {
  TreePtr tree = sizedTree();
  FS_FileLocTable table;
  ASSERT_EQ(tree->GenerateFileLocTable(2048, &table, true), kNoErr);
  struct Row {
    const char* title;
    std::uint32_t dataStart, dataBlocks, rsrcStart, rsrcBlocks;
  };
  const Row rows[] = {
      {"bin", 0, 3, 0, 0}, {"res", 4, 1, 3, 1}, {"empty", 5, 0, 5, 0}, {"movie", 6, 4, 5, 1}};
  ASSERT_EQ(table.entries.size(), std::size(rows)) << "the imported file has no entry";
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const FS_FileLoc& e = table.entries[i];
    EXPECT_STREQ(GetTitleNode(e.node), rows[i].title);
    EXPECT_EQ(e.dataStart, rows[i].dataStart) << rows[i].title;
    EXPECT_EQ(e.dataBlocks, rows[i].dataBlocks) << rows[i].title;
    EXPECT_EQ(e.rsrcStart, rows[i].rsrcStart) << rows[i].title;
    EXPECT_EQ(e.rsrcBlocks, rows[i].rsrcBlocks) << rows[i].title;
    EXPECT_EQ(table.index.at(e.node), i);
  }
  EXPECT_EQ(table.allocatedBlocks, 10u);
  EXPECT_TRUE(table.rsrcIncluded);

  ASSERT_EQ(tree->GenerateFileLocTable(2048, &table, false), kNoErr);
  EXPECT_EQ(table.allocatedBlocks, 8u);
  EXPECT_EQ(table.entries[3].dataStart, 4u);
  EXPECT_EQ(table.entries[3].rsrcBlocks, 0u);
  EXPECT_EQ(tree->GenerateFileLocTable(0, &table, true), kErrBadArgument);
  EXPECT_EQ(tree->GenerateFileLocTable(2048, nullptr, true), kErrBadArgument);
}

TEST(Tree, FlatCallsOnNullHandles) {
  EXPECT_EQ(GetRootTreeNode(nullptr), nullptr);
  EXPECT_EQ(AddTreeNode(nullptr, nullptr, nullptr), kErrBadArgument);
  EXPECT_EQ(TreeInfo(nullptr, nullptr, nullptr, nullptr, nullptr, true), kErrBadArgument);
  EXPECT_EQ(NumNodes(nullptr), 0u);
  EXPECT_EQ(GetTreeTitle(nullptr), nullptr);
  EXPECT_EQ(TreeNodeAtIndex(nullptr, nullptr, 0), nullptr);
  EXPECT_FALSE(MAC_UseResourceFork(nullptr));
  termTree(nullptr);
  TreePtr tree(initTree(nullptr));
  EXPECT_TRUE(MAC_UseResourceFork(tree.get()));
  MAC_SetUseResourceFork(tree.get(), false);
  EXPECT_FALSE(MAC_UseResourceFork(tree.get()));
  EXPECT_EQ(SetTreetitle(tree.get(), nullptr), kErrBadArgument);
  EXPECT_EQ(SetTreetitle(tree.get(), "Disc:One"), kNoErr);
  EXPECT_STREQ(GetTreeTitle(tree.get()), "Disc/One");
  EXPECT_EQ(NumNodeChildren(tree.get(), nullptr), 0u);
}
