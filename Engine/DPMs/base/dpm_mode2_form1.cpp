// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/base/dpm_mode2_form1.h"

#include <algorithm>
#include <cstring>
#include <span>

DPM_Mode2Form1::DPM_Mode2Form1(std::unique_ptr<DPM_Base> producer, const Subheader& header)
    : inner(std::move(producer)), subheader(header) {}

DPM_Mode2Form1::~DPM_Mode2Form1() = default;

EngineStatus DPM_Mode2Form1::Init() {
  if (!inner) return kErrBadArgument;
  return inner->Init();
}

void DPM_Mode2Form1::Term() {
  if (inner) inner->Term();
}

std::uint32_t DPM_Mode2Form1::PrepareAll(std::uint16_t* requested, DPM_ProgressProc progress,
                                         void* userData) {
  blockSize = 0;
  totalBlocks = 0;
  if (!inner || requested == nullptr || (*requested != 0 && *requested != kBlockBytes)) return 0;
  std::uint16_t innerSize = kUserDataBytes;
  const std::uint32_t blocks = inner->PrepareAll(&innerSize, progress, userData);
  if (blocks == 0 || innerSize != kUserDataBytes) return 0;
  blockSize = kBlockBytes;
  totalBlocks = blocks;
  *requested = kBlockBytes;
  return blocks;
}

EngineStatus DPM_Mode2Form1::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                        std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (buffer == nullptr || gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (!inner || blockSize != kBlockBytes) return kNoErr;
  // The inner producer fills the front of the buffer; there is room to widen every block
  // it hands out, since it is asked for no more than fit at 2336 bytes.
  const std::uint32_t fit = std::min(maxBlocks, bufferBytes / kBlockBytes);
  const EngineStatus status = inner->NextBlocks(buffer, bufferBytes, fit, gotBlocks);
  const std::uint32_t n = std::min(*gotBlocks, fit);
  *gotBlocks = n;
  const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer),
                                    std::size_t{n} * kBlockBytes);
  // From the last block back, so that no block is overwritten before it has moved.
  for (std::uint32_t i = n; i-- > 0;) {
    const std::span<std::uint8_t> sector = out.subspan(std::size_t{i} * kBlockBytes, kBlockBytes);
    std::memmove(sector.data() + kSubheaderBytes, out.data() + std::size_t{i} * kUserDataBytes,
                 kUserDataBytes);
    std::ranges::copy(subheader, sector.begin());
    std::ranges::fill(sector.subspan(kSubheaderBytes + kUserDataBytes), std::uint8_t{0});
  }
  return status;
}

void DPM_Mode2Form1::SetTotalBlocks(std::uint32_t blocks) {
  totalBlocks = blocks;
  if (inner) inner->SetTotalBlocks(blocks);
}

EngineStatus DPM_Mode2Form1::GetCurrentSenseCode(MMC_SenseData* sense) {
  if (!inner) return kErrNotSupported;
  return inner->GetCurrentSenseCode(sense);
}

const std::vector<DPM_MissingData>& DPM_Mode2Form1::MissingData() const {
  return inner ? inner->MissingData() : DPM_Base::MissingData();
}

const std::vector<std::string>& DPM_Mode2Form1::LayoutNotes() const {
  return inner ? inner->LayoutNotes() : DPM_Base::LayoutNotes();
}
