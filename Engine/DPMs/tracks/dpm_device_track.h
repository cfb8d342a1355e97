// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_DeviceTrack: a track read from a source drive, for disc copies and track extraction:
// audio as 2352-byte CD-DA sectors (READ CD), Mode 1 as 2048 bytes of user data, Mode 2 as
// the 2336-byte data area (or 2332 bytes on request); DVD and BD tracks by READ(12).
//
// Unreadable blocks are never passed off as good data: only inside the last 152 blocks of the
// track (the run-out and link blocks a drive may not read back) do they become zeros, counted
// in ZeroFilledBlocks() for the burn log. Anywhere else, and for any failure that is not an
// unreadable sector (a medium taken out, a drive gone), the read stops with kErrSourceRead
// and the drive's sense is kept for GetCurrentSenseCode.
#pragma once

#include "DPMs/base/dpm_base.h"
#include "quillion/MMC.h"

class DPM_DeviceTrack : public DPM_Base {
 public:
  static constexpr std::uint32_t kWholeTrack = 0xFFFFFFFFu;
  // Blocks at a track's end that may be zero-filled when they cannot be read.
  static constexpr std::uint32_t kRunOutZone = 152;

  DPM_DeviceTrack(std::uint32_t ref, std::uint16_t track, std::uint32_t blocks = kWholeTrack);

  // -1 when the track cannot be described (no drive, no such track, an unknown mode).
  EngineStatus Init() override;
  // A request of 2332 (Mode 2 only) is taken; any other is answered with the track's size.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  EngineStatus GetCurrentSenseCode(MMC_SenseData* sense) override;

  // "audio" is true for 2352-byte CD-DA blocks.
  EngineStatus GetTrackParams(std::uint8_t* session, bool* audio, std::uint8_t* dataBlockType,
                              std::uint32_t* nextLBA, std::uint16_t* blockSize) const;

  std::uint32_t ZeroFilledBlocks() const { return zeroFilled_; }

 private:
  // One read of `blocks` blocks at `lba` into `out` (transfer blocks).
  EngineStatus read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out);
  // The last read failed because the medium could not be read there, as opposed to a drive
  // or medium that is gone or failing.
  bool unreadable() const;
  void spinUp();

  std::uint32_t ref_ = 0;
  std::uint16_t track_ = 0;
  std::uint32_t requestedBlocks_ = kWholeTrack;
  std::uint8_t sectorType_ = 0;  // READ CD byte 1
  std::uint8_t readFlags_ = 0;   // READ CD byte 9
  std::uint32_t nextLba_ = 0;
  std::uint8_t dataBlockType_ = 0;  // 0 audio, 8 Mode 1, 9 Mode 2, 13 Mode 2 in 2332 bytes
  std::uint8_t session_ = 0;
  bool useRead12_ = false;
  MMC_SenseData sense_{};
  std::uint32_t transferBlock_ = 0;
  std::uint32_t outputOffset_ = 0;
  std::uint32_t delivered_ = 0;
  std::uint32_t zeroFilled_ = 0;
  bool spunUp_ = false;
};
