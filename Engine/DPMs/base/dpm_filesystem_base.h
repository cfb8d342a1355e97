// SPDX-License-Identifier: GPL-2.0-or-later
// The root of every file-system producer (ISO9660, hybrid, HFS, HFS Plus, UDF): a content
// tree it does not own, the table of where each file's forks lie in the data area, and the
// one reader that streams those forks into blocks.
#pragma once

#include <cstdint>
#include <string>

#include "DPMs/base/dpm_base.h"
#include "DPMs/base/fork_reader.h"
#include "DPMs/base/fs_file_loc_list.h"
#include "tree/file_loc_table.h"

class FS_Tree;

class DPM_FileSystem_Base : public DPM_Base {
 public:
  // Block size 2048, no blocks, all flags clear. The tree must outlive the producer.
  explicit DPM_FileSystem_Base(FS_Tree* tree);
  ~DPM_FileSystem_Base() override;

  virtual EngineStatus SetTree(FS_Tree* newTree);
  virtual FS_Tree* GetTree() const;
  // Names, directory queues, table sizes: everything whose size PrepareAll must know.
  virtual EngineStatus GenerateStuffsForHeaders() = 0;
  // A hybrid part reads another producer's file-location table instead of building one.
  virtual void Hybrid(bool on);
  // The list for the verify pass; the caller frees it with free().
  virtual EngineStatus GetFileLocList(FS_FileLocList** out) = 0;
  // Fills `bytes` bytes of file data from the forks `table` lists, in table order, going
  // on where the previous call stopped. kNoErr when filled; kErrProducerTableEnd when the
  // table ran out (gotBytes = bytes written); kErrBadArgument for a missing argument.
  virtual EngineStatus GetBlockFromFiles(FS_FileLocTable* table, void* buffer, std::uint32_t bytes,
                                         std::uint32_t* gotBytes);

  const std::vector<DPM_MissingData>& MissingData() const override;
  const std::vector<std::string>& LayoutNotes() const override { return layoutNotes; }
  // Why GenerateStuffsForHeaders or PrepareAll refused the layout, for the burn log; empty
  // when nothing was refused.
  const std::string& LayoutProblem() const { return layoutProblem; }

 protected:
  // Records the reason and hands back `status`, so a refusal is one statement.
  EngineStatus refuse(EngineStatus status, std::string why);

  FS_FileLocTable fileLocTable;
  bool headersGenerated = false;
  FS_Tree* tree = nullptr;
  bool hybrid = false;
  DPM_ForkReader forkReader;  // the read state of GetBlockFromFiles
  std::string layoutProblem;
  std::vector<std::string> layoutNotes;
};

namespace quillion {

// The node's place in the layout, "Folder/Sub/File", for messages.
std::string layoutPath(const FS_Node& node);

}  // namespace quillion
