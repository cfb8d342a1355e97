// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_Audio_Base: an audio track decoded from an audio file, in 2352-byte CD-DA blocks, at
// least 300 blocks (4 seconds) long, with an optional gain that clips at full scale.
#pragma once

#include <string>

#include "DPMs/base/dpm_base.h"

class MP3Reader;

class DPM_Audio_Base : public DPM_Base {
 public:
  static constexpr std::uint32_t kBlockBytes = 2352;
  static constexpr std::uint32_t kMinimumBlocks = 300;

  // Opens the file at once (see Init).
  DPM_Audio_Base(std::string path, float gain);
  ~DPM_Audio_Base() override;

  // kErrProducerNoPath for an empty path, else the reader's opening status.
  EngineStatus Init() override;
  void Term() override;
  // 0 without a block-size pointer or when the file could not be opened (OpenStatus() says
  // why): a track is never made of silence in place of a file that cannot be read.
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // A decoding failure is answered with its status, with the blocks decoded before it.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;

  EngineStatus OpenStatus() const { return openStatus_; }

 private:
  void applyGain(std::uint8_t* pcm, std::size_t bytes) const;

  std::string path_;
  float gain_ = 1.0f;
  MP3Reader* reader_ = nullptr;
  EngineStatus openStatus_ = kNoErr;
  std::uint32_t owed_ = 0;
};
