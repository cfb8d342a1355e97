// SPDX-License-Identifier: GPL-2.0-or-later
// Nodes on their own: order, titles, ownership, walks, folder totals, copies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tree/fs_node.h"

namespace {

struct NodeDeleter {
  void operator()(FS_Node* n) const { termNode(n); }
};
using NodePtr = std::unique_ptr<FS_Node, NodeDeleter>;

NodePtr folder(const char* title) {
  return NodePtr(initNode(nullptr, title, nullptr, false));
}

FS_Node* addFile(FS_Node* parent, const char* title, std::uint64_t bytes) {
  FS_Node* node = FS_Node::MakeImportFile(title, nullptr, 0, 0);
  node->SetISO9660ImportItem(false);
  node->dataActualSize = bytes;
  EXPECT_EQ(parent->AddChild(node), kNoErr) << title;
  return node;
}

FS_Node* addFolder(FS_Node* parent, const char* title) {
  return initNode(nullptr, title, parent, false);
}

std::vector<std::string> childTitles(FS_Node* node) {
  std::vector<std::string> titles;
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i)
    titles.push_back(GetTitleNode(GetChildNodeAtIndex(node, i)));
  return titles;
}

struct Visit {
  std::string title;
  std::uint16_t depth;
};

struct Recorder {
  std::vector<Visit> visits;
  std::string skipTitle;   // pre-order: do not enter this folder
  std::size_t stopAt = 0;  // set the stop flag on this visit (1-based)
  bool deleteVisited = false;
  bool sawNullSkip = false;
};

void record(FS_Node* node, bool* stop, void* context, std::uint16_t depth, bool* skip) {
  auto* r = static_cast<Recorder*>(context);
  r->visits.push_back({GetTitleNode(node), depth});
  if (skip == nullptr) r->sawNullSkip = true;
  if (skip != nullptr && r->skipTitle == GetTitleNode(node)) *skip = true;
  if (r->stopAt != 0 && r->visits.size() == r->stopAt) *stop = true;
  if (r->deleteVisited) {
    EXPECT_EQ(RemoveChildNode(GetParentNode(node), node, true), kNoErr);
  }
}

std::vector<std::string> titlesOf(const Recorder& r) {
  std::vector<std::string> titles;
  for (const Visit& v : r.visits) titles.push_back(v.title);
  return titles;
}

// root/A/B/song.mp3, root/A/x.txt, root/C/
NodePtr sampleTree() {
  NodePtr root = folder("root");
  FS_Node* a = addFolder(root.get(), "A");
  FS_Node* b = addFolder(a, "B");
  addFile(b, "song.mp3", 10);
  addFile(a, "x.txt", 20);
  addFolder(root.get(), "C");
  return root;
}

}  // namespace

TEST(Node, FreshNodeByTitleIsAValidVisibleFolder) {
  NodePtr node = folder("Untitled");
  EXPECT_TRUE(IsFolderNode(node.get()));
  EXPECT_TRUE(IsValid(node.get()));
  EXPECT_TRUE(IsVisibleNode(node.get()));
  EXPECT_FALSE(IsShortcutNode(node.get()) || isSymbolic(node.get()) || IsTempNode(node.get()));
  EXPECT_EQ(GetPauseLength(node.get()), -1);
  EXPECT_EQ(GetParentNode(node.get()), nullptr);
  EXPECT_STREQ(GetFullPathNameNode(node.get()), "") << "nothing on disc behind it";
  EXPECT_STREQ(GetTitleNode(node.get()), "Untitled");
}

TEST(Node, ChildrenFollowCharCompareOrder) {
  NodePtr root = folder("root");
  for (const char* t : {"b", "B2", "a", "_x", "\xC3\xA9"}) addFolder(root.get(), t);
  const std::vector<std::string> expected = {"\xC3\xA9", "a", "b", "B2", "_x"};
  EXPECT_EQ(childTitles(root.get()), expected);
  // Asked out of order, the cached position must not lead astray.
  for (std::uint32_t i : {3u, 1u, 4u, 0u, 2u, 2u})
    EXPECT_EQ(GetTitleNode(GetChildNodeAtIndex(root.get(), i)), expected[i]);
  EXPECT_EQ(GetChildNodeAtIndex(root.get(), 5), nullptr);
  EXPECT_EQ(GetChildNodeAtIndex(nullptr, 0), nullptr);
  EXPECT_LT(CharCompare("readme", "README2"), 0);
  EXPECT_EQ(CharCompare("ReadMe", "rEADmE"), 0);
}

TEST(Node, TitlesAreUniqueIgnoringAsciiCase) {
  NodePtr root = folder("root");
  addFolder(root.get(), "photos");
  NodePtr clash = folder("Photos");
  EXPECT_EQ(AddChildNode(root.get(), clash.get()), kErrTreeDuplicateTitle);
  EXPECT_EQ(GetParentNode(clash.get()), nullptr) << "refused: still the caller's";

  FS_Node* other = addFolder(root.get(), "music");
  EXPECT_EQ(SetTitleNode(other, "PHOTOS", true), kErrTreeDuplicateTitle);
  EXPECT_STREQ(GetTitleNode(other), "music");
  EXPECT_EQ(SetTitleNode(other, "Music", true), kNoErr) << "a case variant of its own title";
  EXPECT_EQ(SetTitleNode(other, "a:b", true), kNoErr);
  EXPECT_STREQ(GetTitleNode(other), "a/b");
  EXPECT_EQ(root->FindChild("A/B"), other);
  EXPECT_EQ(childTitles(root.get()), (std::vector<std::string>{"a/b", "photos"}));

  // Without rekey the child is still filed under its new title, so it can be found and
  // removed; a clash is refused the same way.
  EXPECT_EQ(SetTitleNode(other, "zeta", false), kNoErr);
  EXPECT_EQ(root->FindChild("zeta"), other);
  EXPECT_EQ(SetTitleNode(other, "Photos", false), kErrTreeDuplicateTitle);
  EXPECT_EQ(RemoveChildNode(root.get(), other, true), kNoErr);

  EXPECT_EQ(SetTitleNode(clash.get(), "", false), kErrBadArgument);
  EXPECT_EQ(SetTitleNode(clash.get(), nullptr, true), kNoErr) << "ignored without a parent";
  EXPECT_STREQ(GetTitleNode(clash.get()), "Photos");
}

TEST(Node, OneParentAtATime) {
  NodePtr first = folder("first");
  NodePtr second = folder("second");
  FS_Node* child = addFolder(first.get(), "child");
  EXPECT_EQ(AddChildNode(second.get(), child), kErrBadArgument) << "it already has a parent";
  EXPECT_EQ(GetParentNode(child), first.get());
  EXPECT_EQ(RemoveChildNode(first.get(), child, false), kNoErr);
  EXPECT_EQ(GetParentNode(child), nullptr) << "removal clears the parent";
  EXPECT_EQ(RemoveChildNode(first.get(), child, false), kErrTreeNotChild);
  EXPECT_EQ(AddChildNode(second.get(), child), kNoErr);

  // No cycles, no children under a file.
  FS_Node* grandchild = addFolder(child, "grandchild");
  EXPECT_EQ(RemoveChildNode(second.get(), child, false), kNoErr);
  EXPECT_EQ(AddChildNode(grandchild, child), kErrTreeBadMove);
  EXPECT_EQ(AddChildNode(child, child), kErrTreeBadMove);
  FS_Node* file = addFile(child, "file", 1);
  NodePtr orphan = folder("orphan");
  EXPECT_EQ(AddChildNode(file, orphan.get()), kErrBadArgument);
  EXPECT_EQ(AddChildNode(child, nullptr), kErrBadArgument);
  termNode(child);
}

TEST(Node, PreOrderWalkVisitsInOrderWithDepthsAndSkips) {
  NodePtr root = sampleTree();
  Recorder r;
  std::uint16_t depth = 0;
  EXPECT_EQ(WalkAllNodeChildren(root.get(), record, &r, &depth), kNoErr);
  EXPECT_EQ(titlesOf(r), (std::vector<std::string>{"A", "B", "song.mp3", "x.txt", "C"}));
  EXPECT_EQ(r.visits[2].depth, 3);
  EXPECT_EQ(r.visits[4].depth, 1);
  EXPECT_EQ(depth, 0) << "given back as it came";
  EXPECT_FALSE(r.sawNullSkip);

  Recorder skipping;
  skipping.skipTitle = "B";
  EXPECT_EQ(root->WalkAllChildren(record, &skipping, nullptr, true), kNoErr);
  EXPECT_EQ(titlesOf(skipping), (std::vector<std::string>{"A", "B", "x.txt", "C"}));

  Recorder post;
  post.skipTitle = "B";  // has no effect after the fact
  EXPECT_EQ(root->WalkAllChildren(record, &post, nullptr, false), kNoErr);
  EXPECT_EQ(titlesOf(post), (std::vector<std::string>{"song.mp3", "B", "x.txt", "A", "C"}));
  EXPECT_TRUE(post.sawNullSkip);

  EXPECT_EQ(root->WalkAllChildren(nullptr, &r, &depth, true), kErrBadArgument);
}

TEST(Node, StoppedWalkVisitsNothingMore) {
  NodePtr root = sampleTree();
  for (bool preOrder : {true, false}) {
    Recorder r;
    r.stopAt = 3;
    EXPECT_EQ(root->WalkAllChildren(record, &r, nullptr, preOrder), kErrTreeWalkStopped);
    EXPECT_EQ(r.visits.size(), 3u) << (preOrder ? "pre" : "post");
  }
}

TEST(Node, CallbackMayDestroyTheNodeItIsGiven) {
  for (bool preOrder : {true, false}) {
    NodePtr root = sampleTree();
    Recorder r;
    r.deleteVisited = true;
    EXPECT_EQ(root->WalkAllChildren(record, &r, nullptr, preOrder), kNoErr);
    EXPECT_EQ(GetNumberOfChildren(root.get()), 0u);
    // Pre-order destroys a folder before it could be entered; post-order empties it first.
    EXPECT_EQ(r.visits.size(), preOrder ? 2u : 5u);
  }
}

TEST(Node, FolderTotalsRoundEachFile) {
  NodePtr root = folder("root");
  addFile(root.get(), "one", 1);
  addFile(root.get(), "big", 4097);
  FS_Node* sub = addFolder(root.get(), "sub");
  addFile(sub, "inner", 4096);
  EXPECT_EQ(root->CollectAndSetFolderSize(4096), kNoErr);
  EXPECT_EQ(dataActualSizeNode(root.get()), 1u + 4097 + 4096);
  EXPECT_EQ(dataSizeNode(root.get()), 4096u + 8192 + 4096);
  EXPECT_EQ(SubFilesNode(root.get()), 3u);
  EXPECT_EQ(SubFoldersNode(root.get()), 1u);
  EXPECT_EQ(root->CollectAndSetFolderSize(0), kErrBadArgument);

  std::uint32_t folders = 9, files = 9;
  std::uint64_t data = 9, rsrc = 9;
  EXPECT_EQ(GetChildrenInfoNode(root.get(), &folders, &files, &data, &rsrc, false), kNoErr);
  EXPECT_EQ(folders, 1u);
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(data, 4098u);
  EXPECT_EQ(GetChildrenInfoNode(root.get(), &folders, &files, &data, nullptr, true), kNoErr);
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(data, 8194u);
  EXPECT_EQ(GetChildrenInfoNode(root->FindChild("one"), &folders, &files, &data, &rsrc, true),
            kNoErr);
  EXPECT_EQ(folders + files + data + rsrc, 0u) << "a file gives zeros";

  setDataSize(root->FindChild("one"), 2049);
  EXPECT_EQ(dataSizeNode(root->FindChild("one")), 4096u);
}

TEST(Node, RelativePathJoinsTitlesWithBackslashes) {
  NodePtr root = sampleTree();
  FS_Node* song = root->FindChild("A")->FindChild("B")->FindChild("song.mp3");
  EXPECT_EQ(RelativePathToMe(song), "A\\B\\song.mp3");
  EXPECT_EQ(RelativePathToMe(root->FindChild("C")), "C");
  EXPECT_EQ(RelativePathToMe(root.get()), "");
  EXPECT_EQ(RelativePathToMe(nullptr), "");
}

TEST(Node, UserDataIsOwnedAndFreedOnce) {
  NodePtr node = folder("n");
  void* block = std::malloc(16);
  SetUserData(node.get(), block);
  SetUserData(node.get(), block);  // the same block: kept, not freed
  EXPECT_EQ(UsrData(node.get()), block);
  std::memset(UsrData(node.get()), 0, 16);  // still usable
  SetUserData(node.get(), std::malloc(8));  // the old block is freed here
  // The node frees the last block when destroyed; the sanitizer reports a leak otherwise.
}

TEST(Node, CopyTakesFieldsButNotParentOrUserData) {
  NodePtr root = sampleTree();
  FS_Node* a = root->FindChild("A");
  a->discID = 4;
  SetUserData(a, std::malloc(4));
  NodePtr copy(a->CopyNode(true, 7));
  EXPECT_EQ(GetParentNode(copy.get()), nullptr);
  EXPECT_EQ(UsrData(copy.get()), nullptr);
  EXPECT_EQ(copy->discID, 4u) << "the copy keeps the value from before";
  EXPECT_EQ(a->discID, 7u);
  EXPECT_EQ(a->FindChild("x.txt")->discID, 7u);
  EXPECT_EQ(childTitles(copy.get()), (std::vector<std::string>{"B", "x.txt"}));
  EXPECT_EQ(copy->FindChild("B")->FindChild("song.mp3")->dataActualSize, 10u);
  EXPECT_NE(copy->FindChild("B"), a->FindChild("B"));

  NodePtr flat(a->CopyNode(false, 0));
  EXPECT_EQ(GetNumberOfChildren(flat.get()), 0u);
  EXPECT_EQ(a->discID, 7u);
}
