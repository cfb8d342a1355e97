// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/dpm_fs_hfs_base.h"

DPM_FS_HFSBase::DPM_FS_HFSBase(FS_Tree* contentTree) : DPM_FileSystem_Base(contentTree) {}

DPM_FS_HFSBase::~DPM_FS_HFSBase() = default;

FS_FileLocTable* DPM_FS_HFSBase::GetFileLocTable() {
  return &fileLocTable;
}
