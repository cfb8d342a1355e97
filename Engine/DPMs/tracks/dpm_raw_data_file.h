// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_RawDataFile: the blocks of a track stored in a file (a bin image's track, a raw data
// file), or read from a block device node. From a source of raw 2352-byte sectors it can hand
// out 2048, 2332 or 2336 bytes of each sector, taken from byte 16.
//
// Data the file no longer holds is handed out as zeros so that later blocks stay in place,
// and recorded in MissingData(), so the job cannot end as a good copy.
#pragma once

#include <string>
#include <vector>

#include "DPMs/base/dpm_base.h"

class DPM_RawDataFile : public DPM_Base {
 public:
  // blocks 0: as many as the file holds after `startOffset`, the last one completed with
  // zeros. A device node ("/dev/...") is read only from offset 0 and for a given count.
  DPM_RawDataFile(const std::string& path, std::uint32_t blockSize, std::uint32_t blocks,
                  std::uint64_t startOffset, std::uint32_t sourceBlockSize);
  ~DPM_RawDataFile() override;

  // 0 when nothing could be opened; takes a non-zero requested block size.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrOutOfMemory without a buffer, kErrProducerNoSource without an open source.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  const std::vector<DPM_MissingData>& MissingData() const override { return missing_; }
  // A copy written track at once may end a track earlier or carry it on over the gap after
  // it: the source is then read on from where the track's bytes ended.
  void SetTotalBlocks(std::uint32_t blocks) override;

 private:
  // Bytes of source per block handed out.
  std::uint32_t unit() const;

  std::string path_;
  int fd_ = -1;
  std::uint64_t position_ = 0;       // next byte to read
  std::uint64_t expectedBytes_ = 0;  // what the track should find in the source
  std::uint64_t consumed_ = 0;       // of those, passed over (read or not)
  std::uint64_t readBytes_ = 0;
  std::uint32_t owed_ = 0;
  std::uint32_t delivered_ = 0;
  std::uint32_t sourceBlockSize_ = 0;
  std::vector<DPM_MissingData> missing_;
};
