// SPDX-License-Identifier: GPL-2.0-or-later
// The common base of the HFS and HFS Plus producers: the operations through which the
// hybrid producer lays an ISO9660 volume over either of them, sharing the file data.
#pragma once

#include <cstdint>

#include "DPMs/base/dpm_filesystem_base.h"

class DPM_FS_HFSBase : public DPM_FileSystem_Base {
 public:
  explicit DPM_FS_HFSBase(FS_Tree* contentTree);
  ~DPM_FS_HFSBase() override;

  // How many bytes of ISO9660 header (from image byte 32768 on) the image must make room
  // for; set by the hybrid before GenerateStuffsForHeaders.
  virtual void SetISO9660HeaderSize(std::uint64_t bytes) = 0;
  // The image byte at which file data begins.
  virtual std::uint64_t GetDataAreaOffset() const = 0;
  // Copies the ISO9660 header into the image at byte 32768; kErrProducerHeaderSize when
  // `bytes` is not the size set before.
  virtual EngineStatus CombineISO9660Header(const void* header, std::uint64_t bytes) = 0;
  // The producer's own table, so that the ISO9660 records point at the same file data.
  virtual FS_FileLocTable* GetFileLocTable();
};
