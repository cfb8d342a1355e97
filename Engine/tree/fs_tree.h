// SPDX-License-Identifier: GPL-2.0-or-later
// The file tree of a data layout: one root whose title is the volume name, the block size
// in which folder totals are rounded, and whether resource forks are written.
#pragma once

#include <cstdint>

#include "quillion/FS.h"
#include "tree/file_loc_table.h"
#include "tree/fs_node.h"

// The UDF bits of a data-disc format code (its low byte): no resource forks are written.
inline constexpr std::uint32_t kFSFormatUDFMask = 0xF0;

class FS_Tree {
 public:
  explicit FS_Tree(FS_Node* root);  // null: a fresh folder titled "Untitled"
  FS_Tree(const FS_Tree&) = delete;
  FS_Tree& operator=(const FS_Tree&) = delete;
  ~FS_Tree();

  // kErrFileAccess for a file node whose file was not found (a dangling link, a link
  // loop) and kErrTreeNotAFile for a device, FIFO or socket; nothing is added then.
  EngineStatus Add(FS_Node* node, FS_Node* parent);
  EngineStatus Remove(FS_Node* node, bool deleteNode);
  EngineStatus Move(FS_Node* node, FS_Node* newParent);
  FS_Node* TreeNodeAtIndex(FS_Node* parent, std::uint32_t index) const;
  std::uint32_t NumNodeChildren(FS_Node* node) const;
  EngineStatus RemoveISOImportItems();
  EngineStatus RemoveAllTempNodes();
  EngineStatus ResetAllTempNodes(bool value);
  EngineStatus TreeInfo(std::uint32_t* folders, std::uint32_t* files, std::uint64_t* dataBytes,
                        std::uint64_t* rsrcBytes, bool recompute);
  EngineStatus WalkAllTreeNodes(FS_WalkProc proc, void* context, std::uint16_t* depth);
  // See MergeWithANode in FS.h for who owns `node` afterwards.
  EngineStatus MergeWithANode(FS_Node* parent, FS_Node* node);
  void updateSizeOfAllParent(FS_Node* node, std::int64_t dData, std::int64_t dRsrc,
                             std::int32_t dFolders, std::int32_t dFiles, std::int64_t dDataRounded,
                             std::int64_t dRsrcRounded);

  EngineStatus SetBlockSize(std::uint32_t size);
  std::uint32_t BlockSize() const { return blockSize; }
  EngineStatus SetTreeTitle(const char* title);
  const char* GetTreeTitle() const;
  std::uint32_t BiggestFileBlks(std::uint32_t capacity, std::uint32_t fsFlags,
                                bool packagesWhole) const;
  // Files in pre-order, imported items left out: the resource fork (when `useRsrc` and not
  // empty), then the data fork, each on whole blocks. kErrBadArgument for a null table or
  // block size 0, or when the blocks do not fit in 32 bits.
  EngineStatus GenerateFileLocTable(std::uint32_t blockSize, FS_FileLocTable* table,
                                    bool useRsrc) const;

  // Disc spanning (see quillion/DSPN.h): flags and counters of every node are reset; the
  // estimate changes no node; each next tree marks what it placed.
  void dspn_Start();
  std::uint32_t dspn_Estimate(std::uint32_t capacity, std::uint32_t fsFlags,
                              FS_List** tooBig) const;
  FS_Tree* dspn_NextTree(std::uint32_t discID, std::uint32_t fsFlags, std::uint32_t capacity,
                         std::uint32_t* remainingFiles, std::uint32_t* remainingBlocks,
                         std::uint32_t* biggestBlocks);

  FS_Node* Root() const { return root; }
  bool useResourceFork = true;

 private:
  static EngineStatus Admit(const FS_Node& node);
  EngineStatus Attach(FS_Node* node, FS_Node* parent);
  void installRoot(FS_Node* node);
  FS_Node* takeRoot();
  void adjustAncestors(FS_Node* node, int sign);

  FS_Node* root = nullptr;
  std::uint32_t blockSize = 4096;
};
