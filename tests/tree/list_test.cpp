// SPDX-License-Identifier: GPL-2.0-or-later
// Track lists: order, moves, ownership of their nodes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "quillion/AudioNodeInfo.h"
#include "tree/fs_list.h"
#include "tree/fs_tree.h"

namespace {

struct ListDeleter {
  void operator()(FS_List* l) const { termList(l); }
};
using ListPtr = std::unique_ptr<FS_List, ListDeleter>;

FS_Node* track(const char* title, std::uint64_t bytes = 0, std::uint64_t rsrc = 0) {
  FS_Node* node = initNode(nullptr, title, nullptr, false);
  node->dataActualSize = bytes;
  node->rsrcActualSize = rsrc;
  return node;
}

std::string order(FS_List* list) {
  std::string out;
  for (std::uint32_t i = 0; i < SizeOfList(list); ++i) out += GetTitleNode(NodeAtIndex(list, i));
  return out;
}

// A list of four tracks titled A, B, C and D.
ListPtr abcd() {
  ListPtr list(initList());
  for (const char* t : {"A", "B", "C", "D"}) EXPECT_EQ(AppendItem(list.get(), track(t)), kNoErr);
  return list;
}

}  // namespace

TEST(List, MoveTable) {
  struct Case {
    const char* node;
    std::uint32_t index;
    EngineStatus status;
    const char* expected;
  };
  const Case cases[] = {
      {"A", 2, kNoErr, "BACD"},  {"D", 1, kNoErr, "ADBC"}, {"A", 4, kNoErr, "BCDA"},
      {"B", 1, kNoErr, "ABCD"},  {"B", 2, kNoErr, "ABCD"}, {"C", 0, kNoErr, "CABD"},
      {"A", 99, kNoErr, "BCDA"},  // past the end: to the end, never out of the list
      {"D", 99, kNoErr, "ABCD"},
  };
  for (const Case& c : cases) {
    ListPtr list = abcd();
    FS_Node* node = NodeAtIndex(list.get(), static_cast<std::uint32_t>(c.node[0] - 'A'));
    EXPECT_EQ(MoveItemTo(list.get(), node, c.index), c.status) << c.node << "->" << c.index;
    EXPECT_EQ(order(list.get()), c.expected) << c.node << "->" << c.index;
  }
}

TEST(List, MovingANodeThatIsNotThereIsRefused) {
  ListPtr list = abcd();
  FS_Node* stranger = track("X");
  EXPECT_EQ(MoveItemTo(list.get(), stranger, 0), kErrBadArgument);
  EXPECT_EQ(MoveItemTo(list.get(), nullptr, 0), kErrBadArgument);
  EXPECT_EQ(order(list.get()), "ABCD");
  termNode(stranger);
}

TEST(List, InsertAppendDeleteAndIndexes) {
  ListPtr list = abcd();
  FS_Node* e = track("E");
  EXPECT_EQ(InsertItemAt(list.get(), 4, e), kNoErr);
  EXPECT_EQ(SizeOfList(list.get()), 4u) << "an index at the end inserts nothing";
  EXPECT_EQ(InsertItemAt(list.get(), 1, e), kNoErr);
  EXPECT_EQ(order(list.get()), "AEBCD");
  EXPECT_EQ(IndexOfNodeInList(list.get(), e), 1);
  EXPECT_EQ(AppendItem(list.get(), e), kErrBadArgument) << "one entry per node";
  EXPECT_EQ(InsertItemAt(list.get(), 0, e), kErrBadArgument);

  EXPECT_EQ(FSL_DeleteNode(list.get(), e), kNoErr);
  EXPECT_EQ(IndexOfNodeInList(list.get(), e), -1);
  EXPECT_STREQ(GetTitleNode(e), "E") << "taken out, not destroyed";
  EXPECT_EQ(FSL_DeleteNode(list.get(), e), kErrBadArgument);
  termNode(e);

  EXPECT_EQ(DeleteItemAt(list.get(), 0), kNoErr);
  EXPECT_EQ(DeleteItemAt(list.get(), 10), kNoErr);
  EXPECT_EQ(order(list.get()), "BCD");
  EXPECT_EQ(NodeAtIndex(list.get(), 3), nullptr);
  EXPECT_EQ(NodeAtIndex(nullptr, 0), nullptr);
  EXPECT_EQ(IndexOfNodeInList(nullptr, nullptr), -1);
  EXPECT_EQ(SetListTitle(list.get(), "Mix"), kNoErr);
  EXPECT_EQ(SetListTitle(list.get(), ""), kNoErr);
  EXPECT_EQ(list->GetTitle(), "Mix");
  EXPECT_EQ(ClearList(list.get(), true), kNoErr);
  EXPECT_EQ(SizeOfList(list.get()), 0u);
}

TEST(List, IndexesBeyondSixteenBits) {
  ListPtr list(initList());
  FS_Node* last = nullptr;
  for (int i = 0; i < 70000; ++i) {
    last = track("t");
    ASSERT_EQ(AppendItem(list.get(), last), kNoErr);
  }
  EXPECT_EQ(IndexOfNodeInList(list.get(), last), 69999);
  EXPECT_EQ(NodeAtIndex(list.get(), 69999), last);
  EXPECT_EQ(MoveItemTo(list.get(), last, 0), kNoErr);
  EXPECT_EQ(NodeAtIndex(list.get(), 0), last);
}

TEST(List, BiggestFile) {
  ListPtr list(initList());
  ASSERT_EQ(AppendItem(list.get(), track("a", 4097, 0)), kNoErr);
  ASSERT_EQ(AppendItem(list.get(), track("b", 4096, 1)), kNoErr);
  EXPECT_EQ(BiggestFileBlksInList(list.get(), 2048, false), 3u);
  EXPECT_EQ(BiggestFileBlksInList(list.get(), 2048, true), 3u);
  EXPECT_EQ(BiggestFileBlksInList(list.get(), 4096, true), 2u);
  EXPECT_EQ(BiggestFileBlksInList(list.get(), 0, true), 0u);
}

// A list may refer to nodes that a tree holds; clearing it must not destroy them under
// the tree (the sanitizer reports a double free otherwise).
TEST(List, NodesHeldByATreeAreLeftToTheTree) {
  FS_Tree* tree = initTree(nullptr);
  FS_Node* shared = track("shared.mp3", 10);
  ASSERT_EQ(AddTreeNode(tree, shared, nullptr), kNoErr);
  FS_List* list = initList();
  ASSERT_EQ(AppendItem(list, shared), kNoErr);
  ASSERT_EQ(AppendItem(list, track("own.mp3")), kNoErr);
  termList(list);
  EXPECT_STREQ(GetTitleNode(GetChildNodeAtIndex(GetRootTreeNode(tree), 0)), "shared.mp3");
  termTree(tree);
}

// The audio layout hangs an AudioNodeInfo from each track node; the list's node owns it and
// frees it with free() when the track goes (AddressSanitizer would see a leak or a mismatch).
TEST(TrackList, AudioNodeInfoIsUserDataTheNodeFrees) {
  ListPtr list(initList());
  FS_Node* node = track("Song");
  auto* info = static_cast<AudioNodeInfo*>(std::calloc(1, sizeof(AudioNodeInfo)));
  ASSERT_NE(info, nullptr);
  std::snprintf(info->cdText.cdTextTitle, sizeof info->cdText.cdTextTitle, "%s", "Song");
  info->trackRate = 44'100;
  info->gain = 0.5f;
  SetUserData(node, info);
  ASSERT_EQ(AppendItem(list.get(), node), kNoErr);
  const auto* back = static_cast<const AudioNodeInfo*>(UsrData(NodeAtIndex(list.get(), 0)));
  ASSERT_EQ(back, info);
  EXPECT_STREQ(back->cdText.cdTextTitle, "Song");
  EXPECT_EQ(back->gain, 0.5f);
  EXPECT_EQ(DeleteItemAt(list.get(), 0), kNoErr);
  EXPECT_EQ(SizeOfList(list.get()), 0u);
}
