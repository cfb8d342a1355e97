// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_DeviceFileTrack: a track read with plain file calls from a device node or an image file
// of whole sectors: cooked 2048-byte blocks, or raw 2352-byte sectors whose first sector tells
// the mode (audio without a sync pattern; Mode 1 as 2048 bytes of user data; Mode 2 as the
// 2336-byte data area, or 2332 bytes after SetDataBlockType(13)).
//
// A raw track's unreadable tail (up to its last two sectors) is cut off while preparing. Later,
// unreadable blocks become zeros only inside the last 152 blocks; anywhere else the read ends
// with kErrSourceRead, so a damaged source is never copied as a good one.
#pragma once

#include <string>

#include "DPMs/base/dpm_base.h"

class DPM_DeviceFileTrack : public DPM_Base {
 public:
  static constexpr std::uint32_t kRunOutZone = 152;

  DPM_DeviceFileTrack(const std::string& path, std::uint32_t startBlock, std::uint32_t blocks,
                      bool cooked);
  ~DPM_DeviceFileTrack() override;

  // 0 when the file cannot be opened or its first block read; a raw track of two blocks or
  // fewer has no readable blocks and answers 0 too.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;

  EngineStatus GetTrackParams(bool* audio, std::uint8_t* dataBlockType, std::uint8_t* mode,
                              std::uint8_t* form) const;
  // Type 13 on a Mode 2 track: 2332-byte blocks from byte 16; anything else is ignored. 0.
  EngineStatus SetDataBlockType(std::uint8_t type);

  std::uint32_t ZeroFilledBlocks() const { return zeroFilled_; }

 private:
  std::uint32_t unit() const { return cooked_ ? 2048u : 2352u; }
  // Bytes read at `offset`, up to `length`; stops at the end of the file or an error.
  std::size_t readAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) const;
  // The raw track's length once its last two sectors have been probed.
  std::uint32_t probeTail(std::uint32_t blocks) const;

  std::string path_;
  int fd_ = -1;
  std::uint32_t start_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint32_t delivered_ = 0;
  std::uint32_t zeroFilled_ = 0;
  bool audio_ = false;
  std::uint8_t mode_ = 1;
  std::uint8_t form_ = 1;
  std::uint8_t dataBlockType_ = 8;
  bool cooked_ = false;
  std::uint32_t offset_ = 0;  // of the output block inside a 2352-byte sector
};
