// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/registry/file_system_formats.h"

#include <algorithm>
#include <array>

#include "DPMs/hfs/dpm_fs_hfs.h"
#include "DPMs/hfs/dpm_fs_hfsplus.h"
#include "DPMs/hfs/dpm_fs_hybrid.h"
#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "DPMs/udf/dpm_udf.h"

namespace quillion {
namespace {

constexpr std::array<std::uint16_t, 1> kUserDataBlocks = {2048};

// ISO9660 volumes always carry version suffixes in their names.
template <DPM_FS_ISO9660::ISOFormat kFormat>
std::unique_ptr<DPM_FileSystem_Base> makeIso9660(const FileSystemRequest& r) {
  return std::make_unique<DPM_FS_ISO9660>(r.tree, kFormat, r.start, r.appleExtensions, true,
                                          r.iso9660XA);
}

// UDF bridge images: the mode is the revision, or DVD-Video order.
template <std::uint16_t kMode>
std::unique_ptr<DPM_FileSystem_Base> makeUdf(const FileSystemRequest& r) {
  return std::make_unique<DPM_UDF>(r.tree, r.start, 0, kMode);
}

std::unique_ptr<DPM_FileSystem_Base> makeHFS(const FileSystemRequest& r) {
  return std::make_unique<DPM_FS_HFS>(r.tree, r.start);
}

std::unique_ptr<DPM_FileSystem_Base> makeHFSPlus(const FileSystemRequest& r) {
  return std::make_unique<DPM_FS_HFSPlus>(r.tree, r.start);
}

// The ISO9660 part of a hybrid carries version suffixes, as every ISO9660 volume here.
template <std::uint16_t kCode>
std::unique_ptr<DPM_FileSystem_Base> makeHybrid(const FileSystemRequest& r) {
  return std::make_unique<DPM_FS_Hybrid>(r.tree, kCode, r.start, r.appleExtensions, true,
                                         r.iso9660XA);
}

constexpr std::array kFormats = {
    FileSystemFormat{1, "HFS", kUserDataBlocks, false, makeHFS},
    FileSystemFormat{2, "HFS Plus", kUserDataBlocks, false, makeHFSPlus},
    FileSystemFormat{16, "UDF 1.02", kUserDataBlocks, false, makeUdf<DPM_UDF::kModeUDF102>},
    FileSystemFormat{32, "UDF 1.50", kUserDataBlocks, false, makeUdf<DPM_UDF::kModeUDF150>},
    FileSystemFormat{64, "UDF DVD-Video", kUserDataBlocks, false, makeUdf<DPM_UDF::kModeDVDVideo>},
    FileSystemFormat{256, "ISO9660", kUserDataBlocks, true, makeIso9660<DPM_FS_ISO9660::kISO9660>},
    FileSystemFormat{257, "HFS and ISO9660", kUserDataBlocks, true, makeHybrid<257>},
    FileSystemFormat{258, "HFS Plus and ISO9660", kUserDataBlocks, true, makeHybrid<258>},
    FileSystemFormat{512, "ISO9660 with Joliet", kUserDataBlocks, true,
                     makeIso9660<DPM_FS_ISO9660::kJoliet>},
    FileSystemFormat{513, "HFS and ISO9660 with Joliet", kUserDataBlocks, true, makeHybrid<513>},
    FileSystemFormat{514, "HFS Plus and ISO9660 with Joliet", kUserDataBlocks, true,
                     makeHybrid<514>},
};

static_assert(std::ranges::is_sorted(kFormats, {}, &FileSystemFormat::code));

}  // namespace

bool FileSystemFormat::makes(std::uint16_t size) const {
  return std::ranges::find(blockSizes, size) != blockSizes.end();
}

std::span<const FileSystemFormat> fileSystemFormats() {
  return kFormats;
}

const FileSystemFormat* findFileSystemFormat(std::uint32_t code) {
  const auto it = std::ranges::find(kFormats, code, &FileSystemFormat::code);
  return it != kFormats.end() ? &*it : nullptr;
}

}  // namespace quillion
