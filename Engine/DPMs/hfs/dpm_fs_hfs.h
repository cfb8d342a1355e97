// SPDX-License-Identifier: GPL-2.0-or-later
// The HFS producer: a content tree becomes an HFS (Mac OS Standard) volume behind an Apple
// partition map. The header area (map, master directory block, volume bitmap, extents and
// catalog B-trees) is built in memory; file data is read as blocks are asked for.
//
// Image bytes: 0-18431 partition map; the volume from 18432: boot blocks, the master
// directory block at +1024, the bitmap at +1536 (16 sectors, 13 in a hybrid so that
// allocation block 0 lies on a 2048-byte boundary), then the allocation blocks: extents
// file (E), catalog file (K), file data (F), and the alternate master directory block
// 1024 bytes before the image's end.
#pragma once

#include <cstdint>
#include <map>
#include <variant>
#include <vector>

#include "DPMs/hfs/catalog_keys.h"
#include "DPMs/hfs/dpm_fs_hfs_base.h"
#include "DPMs/hfs/hfs_byte_order.h"
#include "DPMs/hfs/hfs_names.h"
#include "DPMs/hfs/hfs_structures.h"

class DPM_FS_HFS : public DPM_FS_HFSBase {
 public:
  struct Limits {
    std::uint32_t maxFiles = 65536;
    // Allocation blocks a volume may hold; a hybrid's smaller bitmap lowers it further.
    std::uint32_t maxAllocationBlocks = 65535;
  };

  // `start`: the image's first block on the disc.
  DPM_FS_HFS(FS_Tree* tree, std::uint32_t start);
  DPM_FS_HFS(FS_Tree* tree, std::uint32_t start, const Limits& limits);
  ~DPM_FS_HFS() override;

  EngineStatus Init() override;
  void Term() override;
  // The image size in 2048-byte blocks; 0 when it cannot be prepared (LayoutProblem says
  // why).
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // kErrProducerNoRoot, kErrProducerNoSource (a hybrid without an ISO9660 header size),
  // kErrProducerTooManyFiles, kErrProducerBlockSize, kErrProducerName,
  // kErrProducerIndexFull, kErrOutOfMemory.
  EngineStatus GenerateStuffsForHeaders() override;
  void Hybrid(bool on) override;
  // Plain HFS data does not begin on 2048-byte sectors: each fork is reported as the
  // sectors that hold all of its blocks, from the one its first byte lies in.
  EngineStatus GetFileLocList(FS_FileLocList** out) override;

  // The catalog nodes of a tree of `leafNodes` leaves: leaves, index levels of up to 11
  // children, the header node and the map nodes the count needs.
  static std::uint32_t GetTotalCatalogNodes(std::uint32_t leafNodes);

  std::uint32_t AllocationBlockSize() const { return allocationBlockSize; }
  std::uint32_t ExtentsBlocks() const { return extentsBlocks; }
  std::uint32_t CatalogBlocks() const { return catalogBlocks; }
  std::uint32_t FileBlocks() const { return fileBlocks; }
  std::uint32_t CatalogNodes() const { return catalogNodes; }

 protected:
  struct LeafRecord {
    std::variant<quillion::hfs::HFSCatalogFolder, quillion::hfs::HFSCatalogFile,
                 quillion::hfs::HFSCatalogThread>
        data;
    FS_Node* node = nullptr;
    quillion::hfs::HFSCatalogKey key;
  };
  struct KeyLess {
    bool operator()(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
      return quillion::hfs::Key_Compare{}(a, b);
    }
  };
  using KeyMap = std::map<std::vector<std::uint8_t>, LeafRecord, KeyLess>;

  virtual EngineStatus determineAllocationBlockSize();
  virtual EngineStatus CollectLeafRecs();
  virtual EngineStatus AddAllLeafRecToNodes();
  virtual std::uint32_t countLeafNodesByLeafRec() const;
  virtual EngineStatus buildCatalog(std::uint8_t* catalog);

 private:
  EngineStatus collectFolder(FS_Node& folder, std::uint32_t folderID, std::uint16_t& valence);
  EngineStatus addRecord(std::uint32_t parent, const std::string& name, LeafRecord record,
                         LeafRecord** added = nullptr);
  std::vector<std::uint8_t> recordBytes(const LeafRecord& record) const;
  static std::size_t recordSize(const LeafRecord& record);
  std::uint32_t packLeaves(std::vector<quillion::hfs::BTNode>* nodes,
                           std::vector<quillion::hfs::HFSCatalogKey>* firstKeys) const;
  std::uint64_t allocationAreaStart() const;
  EngineStatus allocateFiles(std::uint32_t size);
  void writeMasterDirectoryBlock();
  void writeExtentsTree();

  Limits limits;
  std::uint32_t bitmapSectors = 16;
  std::uint32_t allocationBlockSize = 2048;
  std::uint32_t extentsBlocks = 1;
  std::uint32_t catalogBlocks = 1;
  std::uint32_t fileBlocks = 0;
  std::uint32_t catalogNodes = 0;
  std::uint32_t createDate = 0;
  std::uint32_t nextID = 0;
  std::uint32_t files = 0, folders = 0, rootFiles = 0, rootFolders = 0;
  std::string volumeName;
  KeyMap keyMap;
  quillion::hfs::HFSNameConverter converter;
  std::vector<quillion::hfs::BTNode> leafNodes;
  std::vector<quillion::hfs::HFSCatalogKey> leafFirstKeys;
  quillion::hfs::HFSMasterDirectoryBlock mdb;
  std::vector<std::uint8_t> mdbBytes;
};
