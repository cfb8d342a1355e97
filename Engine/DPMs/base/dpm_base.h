// SPDX-License-Identifier: GPL-2.0-or-later
// The root of every track and file-system producer. A producer knows its block size and
// block count once prepared, and then hands out consecutive blocks on demand; the burn
// process never looks inside one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillion/status.h"

struct MMC_SenseData;
class FS_Node;

// The progress callback a caller may hand to PrepareAll: (status, value, user data). The
// producers accept it and pass it on; none of them calls it.
using DPM_ProgressProc = void (*)(EngineStatus status, std::uint32_t* value, void* userData);

// A fork whose data could not be read in full while blocks were produced. Its blocks still
// went out, filled with zeros where the data was missing, so that every later file stays
// where the directories say it is; the record lets the burn log name the file and the job
// end with an error rather than report success.
struct DPM_MissingData {
  FS_Node* node = nullptr;  // the tree's node; the tree outlives the producer
  std::string path;         // the file as it was to be read
  bool resourceFork = false;
  std::uint64_t expectedBytes = 0;  // the fork's size when the layout was made
  std::uint64_t readBytes = 0;      // what could be read before it failed (0: not opened)
  // The file was still there but no longer the one measured: another size or another
  // modification date. Its first expectedBytes bytes as they are now were written.
  bool changed = false;
  std::uint64_t currentBytes = 0;  // its size when it was read (changed files)
};

// The burn-log line for one record: "\r?? ... \r", as the engine's other log lines.
std::string DPM_MissingDataLogLine(const DPM_MissingData& missing);

class DPM_Base {
 public:
  DPM_Base() = default;
  DPM_Base(const DPM_Base&) = delete;
  DPM_Base& operator=(const DPM_Base&) = delete;
  virtual ~DPM_Base();

  virtual EngineStatus Init();
  virtual void Term();
  // The number of blocks of the track, 0 when the producer cannot be prepared. On entry
  // *blockSize is a request (0: the producer tells its own); on return it is the size used.
  virtual std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                                   void* userData) = 0;
  virtual EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                                  std::uint32_t* gotBlocks) = 0;
  virtual void SetTotalBlocks(std::uint32_t blocks);
  virtual std::uint32_t BlockSize() const;
  // kErrNotSupported: only producers that read a drive have sense data to give.
  virtual EngineStatus GetCurrentSenseCode(MMC_SenseData* sense);

  std::uint32_t TotalBlocks() const { return totalBlocks; }

  // Forks that came out as zeros, in the order they were met. Read it from the thread that
  // calls NextBlocks, or once that thread has finished.
  virtual const std::vector<DPM_MissingData>& MissingData() const;
  // kErrFileAccess when any file data was missing, so the job cannot end as successful.
  EngineStatus DataResult() const;
  // Burn-log lines ("\r?? ...\r") about parts of the layout written otherwise than given,
  // such as a name read in another encoding; known once the producer is prepared.
  virtual const std::vector<std::string>& LayoutNotes() const;

 protected:
  std::uint32_t blockSize = 0;
  std::uint32_t totalBlocks = 0;
};
