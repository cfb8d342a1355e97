// SPDX-License-Identifier: GPL-2.0-or-later
// The ordered track list of an audio, MP3 or video layout.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>

#include "quillion/FS.h"

class FS_List {
 public:
  FS_List() = default;
  FS_List(const FS_List&) = delete;
  FS_List& operator=(const FS_List&) = delete;
  ~FS_List();  // destroys every node that no tree holds

  std::uint32_t SizeOfList() const { return static_cast<std::uint32_t>(nodes.size()); }
  std::int32_t IndexOfNodeInList(const FS_Node* node) const;
  // A node already in the list is refused (-1001): one entry per node, so no node is
  // destroyed twice. Insert at or past the end does nothing.
  EngineStatus Insert(std::uint32_t index, FS_Node* node);
  EngineStatus Append(FS_Node* node);
  EngineStatus Delete(std::uint32_t index);  // destroys the node unless a tree holds it
  EngineStatus Delete(FS_Node* node);        // the node is the caller's
  // The node ends just before the entry that was at `newIndex`; past the end it goes to
  // the end. -1001 when the node is not in the list.
  EngineStatus Move(FS_Node* node, std::uint32_t newIndex);
  FS_Node* NodeAtIdx(std::uint32_t index) const;
  EngineStatus Clear(bool deleteNodes);
  std::uint32_t biggestFileBlks(std::uint32_t blockSize, bool withRsrc) const;
  EngineStatus SetTitle(const char* text);
  const std::string& GetTitle() const { return title; }

 private:
  std::deque<FS_Node*> nodes;
  std::string title;
  std::unordered_set<const FS_Node*> members;  // the nodes of `nodes`, for quick refusal
};
