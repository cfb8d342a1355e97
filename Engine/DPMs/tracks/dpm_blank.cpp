// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_blank.h"

#include <algorithm>
#include <cstring>

DPM_Blank::DPM_Blank(std::uint32_t size, std::uint32_t blocks) {
  blockSize = size;
  totalBlocks = blocks;
}

std::uint32_t DPM_Blank::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (size != nullptr) {
    if (*size != 0) {
      blockSize = *size;
    } else {
      *size = static_cast<std::uint16_t>(blockSize);
    }
  }
  owed_ = totalBlocks;
  return totalBlocks;
}

EngineStatus DPM_Blank::NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                                   std::uint32_t* gotBlocks) {
  if (gotBlocks != nullptr) *gotBlocks = 0;
  if (buffer == nullptr || gotBlocks == nullptr) return kErrOutOfMemory;
  std::uint32_t n = std::min(owed_, maxBlocks);
  if (blockSize > 0) n = std::min(n, bufferBytes / blockSize);
  std::memset(buffer, 0, std::size_t{n} * blockSize);
  owed_ -= n;
  *gotBlocks = n;
  return kNoErr;
}
