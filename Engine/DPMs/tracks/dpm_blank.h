// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_Blank: a run of zero blocks (gaps, padding, run-out).
#pragma once

#include "DPMs/base/dpm_base.h"

class DPM_Blank : public DPM_Base {
 public:
  DPM_Blank(std::uint32_t blockSize, std::uint32_t blocks);

  // Takes a non-zero requested block size, or answers its own.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrOutOfMemory without a buffer (the engine's "no buffer" answer for producers).
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;

 private:
  std::uint32_t owed_ = 0;
};
