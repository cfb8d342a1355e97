// SPDX-License-Identifier: GPL-2.0-or-later
// Streams the forks that a file-location table lists, in table order (each file's resource
// fork, then its data fork), into whole blocks: every fork fills exactly the blocks it was
// allotted, with zeros after its last byte, whatever has become of the file since. Each
// file is looked at before its forks are read, empty ones too: one that is gone or no
// longer a plain file, or that grew or got another modification date since the table was
// made, is recorded once, so no file reaches the disc cut or changed without a word.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "DPMs/base/dpm_base.h"
#include "quillion/status.h"
#include "tree/file_loc_table.h"

class FS_FileWrapper;

class DPM_ForkReader {
 public:
  DPM_ForkReader();
  DPM_ForkReader(const DPM_ForkReader&) = delete;
  DPM_ForkReader& operator=(const DPM_ForkReader&) = delete;
  ~DPM_ForkReader();

  // Fills `bytes` bytes, continuing where the previous call stopped. kNoErr with
  // gotBytes == bytes; kErrProducerTableEnd when the table ran out first (gotBytes then
  // says how much was written).
  [[nodiscard]] EngineStatus fill(const FS_FileLocTable& table, std::uint8_t* buffer,
                                  std::uint32_t bytes, std::uint32_t& gotBytes);
  // Back to the first fork of the table; the missing-data records are kept.
  void rewind();
  void clear();  // rewind and forget the records

  const std::vector<DPM_MissingData>& missing() const { return missing_; }

 private:
  struct Fork {
    FS_Node* node = nullptr;
    bool resource = false;
    std::uint64_t allotted = 0;  // bytes of the fork's blocks
    std::uint64_t expected = 0;  // bytes of data the fork should hold
    std::uint64_t produced = 0;
    std::unique_ptr<FS_FileWrapper> file;  // open while data is still to be read
    bool active = false;
  };

  bool startNextFork(const FS_FileLocTable& table);
  void checkEntry(const FS_FileLocTable& table, const FS_FileLoc& entry);
  void open(Fork& fork);
  void recordShortfall(const Fork& fork);

  std::size_t next_ = 0;        // the table entry to take next
  bool resourceDone_ = false;   // the current entry's resource fork has been handed out
  bool entryRecorded_ = false;  // the current entry's file was recorded when looked at
  Fork fork_;
  std::vector<DPM_MissingData> missing_;
};
