// SPDX-License-Identifier: GPL-2.0-or-later
// DPM_ImageFileTrack: one track of an open native image file, as stored or cut to 2048 bytes
// of user data (from byte 8 of each stored Mode 2 block) or to the first 2332 bytes.
#pragma once

#include "DPMs/base/dpm_base.h"

class CDImageFile;

class DPM_ImageFileTrack : public DPM_Base {
 public:
  // The image belongs to the caller and must outlive the producer.
  DPM_ImageFileTrack(CDImageFile* image, std::uint16_t track);

  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrBadArgument without image, buffer, maximum or result pointer; kErrSourceRead when a
  // block the image holds cannot be read (a damaged image is never copied as a good one).
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;

  // Both switch their filter on, whatever the argument.
  void SetFilterTo2048(bool on);
  void SetFilterTo2332(bool on);

 private:
  CDImageFile* image_ = nullptr;
  std::uint16_t track_ = 0;
  std::uint32_t delivered_ = 0;
  std::uint32_t present_ = 0;  // blocks the image holds; the total may have been raised
  std::uint32_t storedBlockSize_ = 0;
  bool opened_ = false;
  bool filter2048_ = false;
  bool filter2332_ = false;
};
