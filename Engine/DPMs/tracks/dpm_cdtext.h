// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_CDText: the lead-in's CD-Text, 96-byte blocks that repeat the packs cyclically for as
// many blocks as the lead-in has.
#pragma once

#include <vector>

#include "DPMs/base/dpm_base.h"

class DPM_CDText : public DPM_Base {
 public:
  static constexpr std::uint32_t kBlockBytes = 96;

  // Copies the packs; none when `packs` is null or `bytes` is 0.
  DPM_CDText(std::uint32_t blocks, const void* packs, std::uint32_t bytes);

  // 0 without packs; the block size answered is always 96.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrBadArgument without buffer, maximum or result pointer.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;

 private:
  std::vector<std::uint8_t> packs_;
  std::size_t readAt_ = 0;
  std::uint32_t delivered_ = 0;
};
