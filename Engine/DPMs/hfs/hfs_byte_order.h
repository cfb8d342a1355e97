// SPDX-License-Identifier: GPL-2.0-or-later
// The big-endian disc form of every HFS, HFS Plus and partition-map structure. The
// producers fill a structure in host order and hand it to its routine just before it lands
// in the image; the routine writes the structure's bytes into the place given. Fixed-size
// structures take a span of exactly their size; variable ones answer the bytes written, 0
// when the structure does not fit or its name is too long. The HFS and HFS Plus forms of
// the shared structures (node descriptor, header record, nodes, Finder information,
// partition map) are one routine known by both names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "DPMs/hfs/hfs_structures.h"

namespace quillion::hfs {

// A B-tree node being filled: descriptor and record offsets in host order, the records
// already in disc form.
struct BTNode {
  BTNodeDescriptor descriptor;
  std::vector<std::uint8_t> records;         // the bytes after the descriptor
  std::vector<std::uint16_t> recordOffsets;  // each record's start from the node's start

  void append(std::span<const std::uint8_t> record);
  // Bytes still free in a node of `nodeSize`, counting the offset the next record needs.
  std::size_t freeSpace(std::size_t nodeSize) const;
};

// ---- partition map ----
void SwapBlock0(const Block0& host, std::span<std::uint8_t, kBlock0Bytes> out);
void SwapPartition(const Partition& host, std::span<std::uint8_t, kPartitionBytes> out);
inline constexpr auto& swapBlock0 = SwapBlock0;
inline constexpr auto& swapPartition = SwapPartition;

// ---- B-trees ----
void SwapBTNodeDescriptor(const BTNodeDescriptor& host,
                          std::span<std::uint8_t, kBTNodeDescriptorBytes> out);
void SwapBTHeaderRec(const BTHeaderRec& host, std::span<std::uint8_t, kBTHeaderRecBytes> out);
// The whole node: descriptor (its record count taken from the offsets), records, then the
// record offsets and the free-space offset at the node's end. False when it does not fit.
[[nodiscard]] bool SwapBTNode(const BTNode& node, std::span<std::uint8_t> out);
// A header node: descriptor, header record, an empty user-data record, the map record
// (`map`, zero-filled to the end of its room) and the four offsets. False when the map
// does not fit in a node of out.size() bytes.
[[nodiscard]] bool SwapHFSPlus_BTHeaderNode(const BTNodeDescriptor& descriptor,
                                            const BTHeaderRec& header,
                                            std::span<const std::uint8_t> map,
                                            std::span<std::uint8_t> out);
inline constexpr auto& swapBTNodeDescriptor = SwapBTNodeDescriptor;
inline constexpr auto& swapBTHeaderRec = SwapBTHeaderRec;
inline constexpr auto& swapBTNode = SwapBTNode;
inline constexpr auto& swapHFS_BTHeaderNode = SwapHFSPlus_BTHeaderNode;

// ---- Finder information ----
void SwapFndrDirInfo(const FndrDirInfo& host, std::span<std::uint8_t, kFinderInfoRecordBytes> out);
void SwapFndrFileInfo(const FndrFileInfo& host,
                      std::span<std::uint8_t, kFinderInfoRecordBytes> out);
void SwapFndrExtendedInfo(const FndrExtendedInfo& host,
                          std::span<std::uint8_t, kFinderInfoRecordBytes> out);
inline constexpr auto& swapFndrDirInfo = SwapFndrDirInfo;
inline constexpr auto& swapFndrFileInfo = SwapFndrFileInfo;

// ---- HFS ----
void swapHFSMasterDirectoryBlock(const HFSMasterDirectoryBlock& host,
                                 std::span<std::uint8_t, kHFSMasterDirectoryBlockBytes> out);
void swapHFSExtentDescriptor(const HFSExtentDescriptor& host, std::span<std::uint8_t, 4> out);
// The key with its length byte counting the bytes after it, padded with a zero to an even
// size; with `paddedTo` (an index key, 38 bytes) the key fills exactly that many bytes.
std::size_t swapHFSCatalogKey(const HFSCatalogKey& host, std::span<std::uint8_t> out,
                              std::size_t paddedTo = 0);
void swapHFSCatalogFolder(const HFSCatalogFolder& host,
                          std::span<std::uint8_t, kHFSCatalogFolderBytes> out);
void swapHFSCatalogFile(const HFSCatalogFile& host,
                        std::span<std::uint8_t, kHFSCatalogFileBytes> out);
void swapHFSCatalogThread(const HFSCatalogThread& host,
                          std::span<std::uint8_t, kHFSCatalogThreadBytes> out);

// ---- HFS Plus ----
void SwapHFSPlusVolumeHeader(const HFSPlusVolumeHeader& host,
                             std::span<std::uint8_t, kHFSPlusVolumeHeaderBytes> out);
void SwapHFSPlusForkData(const HFSPlusForkData& host,
                         std::span<std::uint8_t, kHFSPlusForkDataBytes> out);
void SwapHFSPlusBSDInfo(const HFSPlusBSDInfo& host,
                        std::span<std::uint8_t, kHFSPlusBSDInfoBytes> out);
std::size_t SwapHFSPlusCatalogKey(const HFSPlusCatalogKey& host, std::span<std::uint8_t> out);
void SwapHFSPlusCatalogFolder(const HFSPlusCatalogFolder& host,
                              std::span<std::uint8_t, kHFSPlusCatalogFolderBytes> out);
void SwapHFSPlusCatalogFile(const HFSPlusCatalogFile& host,
                            std::span<std::uint8_t, kHFSPlusCatalogFileBytes> out);
std::size_t SwapHFSPlusCatalogThread(const HFSPlusCatalogThread& host, std::span<std::uint8_t> out);

}  // namespace quillion::hfs
