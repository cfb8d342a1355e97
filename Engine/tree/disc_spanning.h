// SPDX-License-Identifier: GPL-2.0-or-later
// The state of disc spanning: the discs of an estimate and the context of one next-tree
// pass, and the overhead estimate that decides what fits.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>

class FS_Node;
class FS_Tree;
class FS_List;

// The blocks a volume of the format `fsFlags` needs for the given entries and file blocks;
// 0xFFFFFFFF when the code names no file system (nothing fits then).
std::uint32_t fsEstimation(std::uint32_t fsFlags, std::uint32_t folders, std::uint32_t files,
                           std::uint32_t blocks);

// One disc of an estimate.
struct dspn_DiscInfo {
  std::set<const FS_Node*> parents;  // source folders whose entries the disc already holds
  std::uint32_t blocks = 0;
  std::uint32_t files = 0;
  std::uint32_t folders = 0;  // parents included
};

// The context of an estimate.
struct dspn_pack {
  std::deque<dspn_DiscInfo> discs;
  FS_List* tooBig = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t fsFlags = 0;
};

// The context of one next-tree pass.
struct dspn_Tree_pack {
  std::map<const FS_Node*, FS_Node*> folderCopies;  // source folder -> its copy
  std::uint32_t discID = 0;
  FS_Tree* newTree = nullptr;
  std::uint32_t fsFlags = 0;
  std::uint32_t capacity = 0;
  std::uint32_t remainingFiles = 0;
  std::uint32_t remainingBlocks = 0;
  std::uint32_t biggestBlocks = 0;
  // What the new tree holds so far, counted as an estimate counts a disc.
  std::uint32_t blocks = 0;
  std::uint32_t files = 0;
  std::uint32_t folders = 0;
};

// How many folders may lie between a placed node and the root: its folders are copied level
// by level. A deeper node fits no disc (it may still go inside a folder placed whole).
inline constexpr std::uint32_t kSpanMaxDepth = 1000;
