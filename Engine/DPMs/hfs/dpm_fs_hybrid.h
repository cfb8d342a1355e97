// SPDX-License-Identifier: GPL-2.0-or-later
// The hybrid producer: one image that is at the same time an HFS or HFS Plus volume and an
// ISO9660 (optionally Joliet) volume over the same tree, the file data stored once. The
// Macintosh side lays out the image and places the files; the ISO9660 side builds only its
// header blocks, whose records point into that allocation, and they are copied into the
// image from session block 16 on.
//
// Format codes: the low byte 1 (HFS) or 2 (HFS Plus), the high byte 1 (ISO9660 names) or
// 2 (ISO9660 and Joliet): 257, 258, 513 and 514.
#pragma once

#include <cstdint>
#include <memory>

#include "DPMs/hfs/dpm_fs_hfs_base.h"
#include "DPMs/iso9660/dpm_fs_iso9660.h"

class DPM_FS_Hybrid : public DPM_FileSystem_Base {
 public:
  DPM_FS_Hybrid(FS_Tree* tree, std::uint16_t formatCode, std::uint32_t start, bool appleExtensions,
                bool versionSuffix, bool xa);
  ~DPM_FS_Hybrid() override;

  // kErrProducerFormat for a code that names no hybrid this producer writes.
  EngineStatus Init() override;
  void Term() override;
  // Makes both parts; kErrProducerFormat when they cannot be made.
  EngineStatus GenerateStuffsForHeaders() override;
  // The image's blocks; 0 when either part cannot be prepared (LayoutProblem says why).
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // The Macintosh side's blocks; kErrProducerNoSource before preparation.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  EngineStatus GetFileLocList(FS_FileLocList** out) override;
  const std::vector<DPM_MissingData>& MissingData() const override;

  // The ISO9660 header blocks from session block 16 on; null before PrepareAll.
  const std::uint8_t* GetISO9660AllHeaders() const;
  DPM_FS_HFSBase* MacPart() const { return mac.get(); }

 private:
  bool validCode() const;
  void takeProblem(const DPM_FileSystem_Base& part);

  std::unique_ptr<DPM_FS_HFSBase> mac;
  std::unique_ptr<DPM_FS_ISO9660> iso;
  std::uint16_t formatCode = 0;
  bool appleExtensions = false;
  bool versionSuffix = false;
  bool xa = false;
  std::uint32_t sessionStart = 0;
  bool prepared = false;
};
