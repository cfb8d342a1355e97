// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/apple_partition_map.h"

#include <cstring>

#include "DPMs/hfs/hfs_byte_order.h"

namespace quillion::hfs {
namespace {

constexpr const char* kPartitionName = "ZEB HFS/HFS+ Engine";
constexpr std::uint32_t kEntryStatus = 0x33;  // valid, allocated, in use, readable
constexpr std::uint32_t kMapEntries = 2;

Partition entry(std::uint32_t start, std::uint32_t count, const char* type) {
  Partition p;
  p.pmSig = kPartitionMapSignature;
  p.pmMapBlkCnt = kMapEntries;
  p.pmPyPartStart = start;
  p.pmPartBlkCnt = count;
  p.pmPartName = kPartitionName;
  p.pmParType = type;
  p.pmLgDataStart = 0;
  p.pmDataCnt = count;
  p.pmPartStatus = kEntryStatus;
  return p;
}

}  // namespace

bool writeApplePartitionMap(std::uint32_t imageSectors, VolumeKind kind,
                            std::span<std::uint8_t, kVolumeOffsetBytes> out) {
  if (imageSectors <= kVolumeStartSector) return false;
  std::memset(out.data(), 0, out.size());
  Block0 block0;
  block0.sbSig = kDriverDescriptorSignature;
  block0.sbBlkSize = kMapSectorBytes;
  block0.sbBlkCount = imageSectors;
  block0.sbDevType = 1;
  block0.sbDevId = static_cast<std::uint16_t>(kind);
  SwapBlock0(block0, out.subspan<0, kBlock0Bytes>());
  SwapPartition(entry(1, kMapEntries, "Apple_partition_map"),
                out.subspan<kMapSectorBytes, kPartitionBytes>());
  SwapPartition(entry(kVolumeStartSector, imageSectors - kVolumeStartSector, "Apple_HFS"),
                out.subspan<2 * kMapSectorBytes, kPartitionBytes>());
  return true;
}

}  // namespace quillion::hfs
