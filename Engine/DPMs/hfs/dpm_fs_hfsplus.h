// SPDX-License-Identifier: GPL-2.0-or-later
// The HFS Plus producer: a content tree becomes an HFS Plus (Mac OS Extended) volume behind
// an Apple partition map, in allocation blocks of 4096 bytes from image byte 18432.
//
// Blocks: 0 holds the volume header at byte 1024; then the allocation file (A blocks), the
// extents overflow file (E) and the catalog file (K), in a hybrid the extents file first,
// made large enough to cover the ISO9660 header at image byte 32768; then the file data
// (F, each file's resource fork before its data fork); the last block holds the alternate
// volume header 1024 bytes before the image's end.
#pragma once

#include <cstdint>
#include <map>
#include <variant>
#include <vector>

#include "DPMs/hfs/catalog_keys.h"
#include "DPMs/hfs/dpm_fs_hfs_base.h"
#include "DPMs/hfs/hfs_byte_order.h"
#include "DPMs/hfs/hfs_structures.h"

class DPM_FS_HFSPlus : public DPM_FS_HFSBase {
 public:
  // `start`: the image's first block on the disc.
  DPM_FS_HFSPlus(FS_Tree* tree, std::uint32_t start);
  ~DPM_FS_HFSPlus() override;

  EngineStatus Init() override;
  void Term() override;
  // The image size in 2048-byte blocks; 0 when it cannot be prepared (LayoutProblem says
  // why).
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrProducerNoRoot, kErrProducerNoSource (a hybrid without an ISO9660 header size),
  // kErrProducerTooManyFiles, kErrProducerName, kErrProducerIndexFull, kErrOutOfMemory.
  EngineStatus GenerateStuffsForHeaders() override;
  EngineStatus GetFileLocList(FS_FileLocList** out) override;

  // The catalog nodes of leaves whose first keys have the given key lengths: the leaves,
  // the index levels packed into 4080 bytes a node, the header node and the map nodes.
  // 0 when nine index levels do not reach one root.
  static std::uint32_t GetTotalCatalogNodes(const std::vector<std::size_t>& firstKeyLengths);

  std::uint32_t AllocationFileBlocks() const { return allocationBlocks; }
  std::uint32_t ExtentsBlocks() const { return extentsBlocks; }
  std::uint32_t CatalogBlocks() const { return catalogBlocks; }
  std::uint32_t FileBlocks() const { return fileBlocks; }
  std::uint32_t FirstFileBlock() const {
    return 1 + allocationBlocks + extentsBlocks + catalogBlocks;
  }

 protected:
  struct LeafRecord {
    std::variant<quillion::hfs::HFSPlusCatalogFolder, quillion::hfs::HFSPlusCatalogFile,
                 quillion::hfs::HFSPlusCatalogThread>
        data;
    FS_Node* node = nullptr;
    quillion::hfs::HFSPlusCatalogKey key;
  };
  struct KeyLess {
    bool operator()(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
      return quillion::hfs::UnicodeKey_Compare{}(a, b);
    }
  };
  using KeyMap = std::map<std::vector<std::uint8_t>, LeafRecord, KeyLess>;

  virtual EngineStatus CollectLeafRecs();
  virtual EngineStatus AddAllLeafRecToNodes();
  virtual EngineStatus buildCatalog(std::uint8_t* catalog);

 private:
  EngineStatus collectFolder(FS_Node& folder, std::uint32_t folderID, std::uint32_t& valence);
  EngineStatus addRecord(std::uint32_t parent, const std::u16string& name, LeafRecord record,
                         LeafRecord** added = nullptr);
  std::vector<std::uint8_t> recordBytes(const LeafRecord& record) const;
  std::uint32_t packLeaves(std::vector<quillion::hfs::BTNode>* nodes,
                           std::vector<std::vector<std::uint8_t>>* firstKeys) const;
  void layOut();
  void writeVolumeHeader();
  EngineStatus writeSpecialFiles();

  std::uint32_t allocationStart = 1, allocationBlocks = 1;
  std::uint32_t extentsStart = 2, extentsBlocks = 1;
  std::uint32_t catalogStart = 3, catalogBlocks = 1;
  std::uint32_t fileBlocks = 0;
  std::uint32_t createDate = 0;  // local, as the volume header's creation date is kept
  std::uint32_t createDateUTC = 0;
  std::uint32_t nextID = 0;
  std::uint32_t files = 0, folders = 0;
  std::u16string volumeName;
  KeyMap keyMap;
  std::vector<quillion::hfs::BTNode> leafNodes;
  std::vector<std::vector<std::uint8_t>> leafFirstKeys;
  std::vector<std::uint8_t> volumeHeader;  // 512 bytes, big-endian
};
