// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_cdtext.h"

#include <algorithm>
#include <cstring>

DPM_CDText::DPM_CDText(std::uint32_t blocks, const void* packs, std::uint32_t bytes) {
  totalBlocks = blocks;
  blockSize = kBlockBytes;
  if (packs != nullptr && bytes != 0) {
    const auto* p = static_cast<const std::uint8_t*>(packs);
    packs_.assign(p, p + bytes);
  }
}

std::uint32_t DPM_CDText::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (packs_.empty()) return 0;
  if (size != nullptr) *size = kBlockBytes;
  readAt_ = 0;
  delivered_ = 0;
  return totalBlocks;
}

EngineStatus DPM_CDText::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                    std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (buffer == nullptr || maxBlocks == 0 || gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (packs_.empty()) return kErrBadArgument;
  const std::uint32_t n =
      std::min({maxBlocks, totalBlocks - delivered_, bufferBytes / kBlockBytes});
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t left = std::size_t{n} * kBlockBytes;
  while (left > 0) {
    const std::size_t run = std::min(left, packs_.size() - readAt_);
    std::memcpy(out, packs_.data() + readAt_, run);
    out += run;
    left -= run;
    readAt_ = (readAt_ + run) % packs_.size();
  }
  delivered_ += n;
  *gotBlocks = n;
  return kNoErr;
}
