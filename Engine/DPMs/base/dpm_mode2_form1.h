// SPDX-License-Identifier: GPL-2.0-or-later
// Mode 2 Form 1 blocks around any producer of 2048-byte blocks: each block goes out as
// 2336 bytes, an 8-byte subheader, the 2048 bytes of user data and 280 bytes left zero for
// the error codes the drive fills in. Session at once takes data tracks in this form; the
// producer inside never knows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "DPMs/base/dpm_base.h"

class DPM_Mode2Form1 : public DPM_Base {
 public:
  static constexpr std::uint16_t kUserDataBytes = 2048;
  static constexpr std::uint16_t kSubheaderBytes = 8;
  static constexpr std::uint16_t kBlockBytes = 2336;
  using Subheader = std::array<std::uint8_t, kSubheaderBytes>;

  // Owns `inner`; every block carries `subheader` (all zeros unless given).
  explicit DPM_Mode2Form1(std::unique_ptr<DPM_Base> inner, const Subheader& subheader = {});
  ~DPM_Mode2Form1() override;

  EngineStatus Init() override;
  void Term() override;
  // The inner producer's block count, prepared for 2048-byte blocks; 0 when it cannot be
  // prepared, makes blocks of another size, or the request is neither 0 nor 2336.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // The inner producer's blocks, each widened in place; its status is passed on as it is.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  void SetTotalBlocks(std::uint32_t blocks) override;
  EngineStatus GetCurrentSenseCode(MMC_SenseData* sense) override;
  const std::vector<DPM_MissingData>& MissingData() const override;
  const std::vector<std::string>& LayoutNotes() const override;

  DPM_Base& Inner() const { return *inner; }

 private:
  std::unique_ptr<DPM_Base> inner;
  Subheader subheader;
};
