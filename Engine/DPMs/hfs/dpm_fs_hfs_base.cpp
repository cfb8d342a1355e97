// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/dpm_fs_hfs_base.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "DPMs/hfs/apple_partition_map.h"
#include "DPMs/hfs/hfs_catalog_source.h"
#include "tree/fs_node.h"

DPM_FS_HFSBase::DPM_FS_HFSBase(FS_Tree* contentTree) : DPM_FileSystem_Base(contentTree) {}

DPM_FS_HFSBase::~DPM_FS_HFSBase() = default;

void DPM_FS_HFSBase::SetISO9660HeaderSize(std::uint64_t bytes) {
  isoHeaderBytes = bytes;
}

std::uint64_t DPM_FS_HFSBase::GetDataAreaOffset() const {
  return headerArea.size();
}

EngineStatus DPM_FS_HFSBase::CombineISO9660Header(const void* header, std::uint64_t bytes) {
  if (header == nullptr) return kErrBadArgument;
  if (headerArea.empty()) return kErrOutOfMemory;
  if (bytes != isoHeaderBytes || kISO9660HeaderOffset + bytes > headerArea.size())
    return kErrProducerHeaderSize;
  std::memcpy(headerArea.data() + kISO9660HeaderOffset, header, bytes);
  return kNoErr;
}

FS_FileLocTable* DPM_FS_HFSBase::GetFileLocTable() {
  return &fileLocTable;
}

bool DPM_FS_HFSBase::acceptBlockSize(std::uint16_t* requested) {
  if (*requested != 0 && *requested != kSectorBytes) {
    refuse(kErrBadArgument, "HFS data is produced in blocks of 2048 bytes");
    return false;
  }
  *requested = kSectorBytes;
  blockSize = kSectorBytes;
  return true;
}

bool DPM_FS_HFSBase::finishImage(std::uint64_t fileDataBytes, std::uint32_t tailBytes,
                                 std::uint16_t deviceId, const std::uint8_t* alternateHeader) {
  using quillion::hfs::kVolumeOffsetBytes;
  dataBytes = fileDataBytes;
  const std::uint64_t used = headerArea.size() + dataBytes + tailBytes;
  const std::uint64_t blocks = (used + kSectorBytes - 1) / kSectorBytes;
  if (blocks + sessionStart > std::numeric_limits<std::uint32_t>::max() / 4 ||
      headerArea.size() < kVolumeOffsetBytes) {
    refuse(kErrProducerTooManyFiles, "The volume would be larger than its block numbers reach");
    return false;
  }
  imageBytes = blocks * kSectorBytes;
  if (!quillion::hfs::writeApplePartitionMap(
          static_cast<std::uint32_t>(imageBytes / quillion::hfs::kMapSectorBytes),
          static_cast<quillion::hfs::VolumeKind>(deviceId),
          std::span<std::uint8_t, kVolumeOffsetBytes>(headerArea.data(), kVolumeOffsetBytes)))
    return false;
  alternate.assign(alternateHeader, alternateHeader + 512);
  totalBlocks = static_cast<std::uint32_t>(blocks);
  position = 0;
  forkReader.rewind();
  prepared = true;
  return true;
}

void DPM_FS_HFSBase::recordSkipped(FS_Node& node) {
  DPM_MissingData missing;
  missing.node = &node;
  missing.path = node.fsRef.empty() ? quillion::layoutPath(node) : node.fsRef.path();
  missing.expectedBytes = node.dataActualSize;
  skipped.push_back(missing);
  layoutNotes.push_back(quillion::hfs::skippedNodeLine(node));
}

void DPM_FS_HFSBase::clearImage() {
  headerArea.clear();
  headerArea.shrink_to_fit();
  alternate.clear();
  skipped.clear();
  fileLocTable.clear();
  forkReader.clear();
  prepared = false;
  headersGenerated = false;
  dataBytes = imageBytes = position = 0;
  totalBlocks = 0;
}

const std::vector<DPM_MissingData>& DPM_FS_HFSBase::MissingData() const {
  const auto& read = DPM_FileSystem_Base::MissingData();
  if (skipped.empty()) return read;
  allMissing = skipped;
  allMissing.insert(allMissing.end(), read.begin(), read.end());
  return allMissing;
}

void DPM_FS_HFSBase::produce(std::uint8_t* out, std::size_t bytes) {
  const std::uint64_t dataStart = headerArea.size(), dataEnd = dataStart + dataBytes;
  const std::uint64_t alternateStart = imageBytes - 1024;
  while (bytes > 0) {
    std::size_t run = bytes;
    if (position < dataStart) {
      run = static_cast<std::size_t>(std::min<std::uint64_t>(run, dataStart - position));
      std::memcpy(out, headerArea.data() + position, run);
    } else if (position < dataEnd) {
      run = static_cast<std::size_t>(std::min<std::uint64_t>(run, dataEnd - position));
      std::uint32_t got = 0;
      if (GetBlockFromFiles(&fileLocTable, out, static_cast<std::uint32_t>(run), &got) != kNoErr)
        std::memset(out + got, 0, run - got);
    } else if (position < alternateStart) {
      run = static_cast<std::size_t>(std::min<std::uint64_t>(run, alternateStart - position));
      std::memset(out, 0, run);
    } else {
      run = static_cast<std::size_t>(std::min<std::uint64_t>(run, imageBytes - position));
      for (std::size_t i = 0; i < run; ++i) {
        const std::uint64_t at = position + i - alternateStart;
        out[i] = at < alternate.size() ? alternate[at] : 0;
      }
    }
    out += run;
    position += run;
    bytes -= run;
  }
}

EngineStatus DPM_FS_HFSBase::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                        std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (buffer == nullptr || gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (!prepared) return kNoErr;
  const std::uint64_t left = (imageBytes - position) / kSectorBytes;
  const auto n = static_cast<std::uint32_t>(
      std::min<std::uint64_t>({maxBlocks, bufferBytes / kSectorBytes, left}));
  produce(static_cast<std::uint8_t*>(buffer), std::size_t{n} * kSectorBytes);
  *gotBlocks = n;
  return kNoErr;
}
