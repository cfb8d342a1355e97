// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/dpm_fs_hfs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "DPMs/hfs/apple_partition_map.h"
#include "DPMs/hfs/hfs_btree_maps.h"
#include "DPMs/hfs/hfs_catalog_source.h"
#include "common/byte_order.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

using namespace quillion::hfs;

namespace {

constexpr std::uint32_t kHFSNodeBytes = 512;
constexpr std::uint32_t kHFSFirstItemID = 200;
constexpr std::uint32_t kHFSRootParentID = 1;
constexpr std::uint32_t kHFSRootID = 2;
constexpr std::size_t kHFSIndexKeyBytes = 38;
constexpr std::size_t kHFSIndexRecordBytes = kHFSIndexKeyBytes + 4;
constexpr std::uint32_t kHFSFanOut = 11;
constexpr std::uint32_t kHFSMaxIndexLevels = 7;
constexpr std::size_t kHFSMaxVolumeName = 27;
constexpr std::uint32_t kHFSBootBytes = 1024;
constexpr std::uint32_t kHFSBitmapOffset = 1536;  // from the volume's start
constexpr std::uint16_t kHFSVolumeAttributes = 0x0500;
constexpr std::uint32_t kHFSWriteCount = 1021;
constexpr std::uint8_t kHFSLockedFlag = 0x01;
constexpr std::uint8_t kHFSThreadExistsFlag = 0x02;
constexpr std::uint16_t kHFSMaxValence = 0xFFFF;
constexpr const char* kHFSUntitled = "Untitled";

std::uint64_t ceilDivide(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

// Sets the first `count` bits of `bytes`, most significant bit first.
void setLeadingBits(std::span<std::uint8_t> bytes, std::uint64_t count) {
  for (std::uint64_t bit = 0; bit < count && bit / 8 < bytes.size(); ++bit)
    bytes[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
}

std::vector<std::uint8_t> hfsKeyBytes(const HFSCatalogKey& key, std::size_t paddedTo = 0) {
  std::vector<std::uint8_t> bytes(64);
  bytes.resize(swapHFSCatalogKey(key, bytes, paddedTo));
  return bytes;
}

}  // namespace

DPM_FS_HFS::DPM_FS_HFS(FS_Tree* contentTree, std::uint32_t start)
    : DPM_FS_HFS(contentTree, start, Limits{}) {}

DPM_FS_HFS::DPM_FS_HFS(FS_Tree* contentTree, std::uint32_t start, const Limits& formatLimits)
    : DPM_FS_HFSBase(contentTree), limits(formatLimits) {
  sessionStart = start;
}

DPM_FS_HFS::~DPM_FS_HFS() {
  DPM_FS_HFS::Term();
}

EngineStatus DPM_FS_HFS::Init() {
  return kNoErr;
}

void DPM_FS_HFS::Term() {
  clearImage();
  keyMap.clear();
  leafNodes.clear();
  leafFirstKeys.clear();
}

void DPM_FS_HFS::Hybrid(bool on) {
  DPM_FS_HFSBase::Hybrid(on);
  bitmapSectors = on ? 13 : 16;
}

std::uint64_t DPM_FS_HFS::allocationAreaStart() const {
  return kVolumeOffsetBytes + kHFSBitmapOffset + std::uint64_t{bitmapSectors} * 512;
}

std::uint32_t DPM_FS_HFS::GetTotalCatalogNodes(std::uint32_t leaves) {
  std::uint64_t total = leaves, level = leaves;
  for (std::uint32_t i = 0; i < kHFSMaxIndexLevels && level > 1; ++i) {
    level = ceilDivide(level, kHFSFanOut);
    total += level;
  }
  if (level > 1) return 0;
  total += 1;  // the header node
  return static_cast<std::uint32_t>(total + mapNodesFor(total, kHFSNodeBytes));
}

EngineStatus DPM_FS_HFS::addRecord(std::uint32_t parent, const std::string& name, LeafRecord record,
                                   LeafRecord** added) {
  record.key = HFSCatalogKey{parent, name};
  auto bytes = hfsKeyBytes(record.key);
  if (bytes.empty()) return refuse(kErrProducerName, "An HFS name is longer than 31 bytes");
  const auto [it, inserted] = keyMap.emplace(std::move(bytes), std::move(record));
  if (!inserted) return refuse(kErrProducerName, "Two HFS catalog keys are equal");
  if (added != nullptr) *added = &it->second;
  return kNoErr;
}

EngineStatus DPM_FS_HFS::CollectLeafRecs() {
  keyMap.clear();
  nextID = kHFSFirstItemID;
  files = folders = rootFiles = rootFolders = 0;
  createDate = GetLocalDateTime();
  if (converter.init() != kNoErr) return refuse(kErrOutOfMemory, "No Mac Roman converter");
  const char* title = tree->GetTreeTitle();
  std::string name;
  if (title == nullptr || converter.toMacRoman(title, name) != kNoErr) name.clear();
  volumeName = quillion::hfs::numberedName(name, 0, kHFSMaxVolumeName);
  if (volumeName.empty()) volumeName = kHFSUntitled;

  HFSCatalogFolder root;
  root.folderID = kHFSRootID;
  root.createDate = root.modifyDate = createDate;
  LeafRecord* rootRecord = nullptr;
  if (const EngineStatus s =
          addRecord(kHFSRootParentID, volumeName, LeafRecord{root, tree->Root(), {}}, &rootRecord);
      s != kNoErr)
    return s;
  HFSCatalogThread thread;
  thread.recordType = kHFSFolderThreadRecord;
  thread.parentID = kHFSRootParentID;
  thread.nodeName = volumeName;
  if (const EngineStatus s = addRecord(kHFSRootID, {}, LeafRecord{thread, tree->Root(), {}});
      s != kNoErr)
    return s;
  std::uint16_t valence = 0;
  if (const EngineStatus s = collectFolder(*tree->Root(), kHFSRootID, valence); s != kNoErr)
    return s;
  std::get<HFSCatalogFolder>(rootRecord->data).valence = valence;
  return kNoErr;
}

EngineStatus DPM_FS_HFS::collectFolder(FS_Node& folder, std::uint32_t folderID,
                                       std::uint16_t& valence) {
  std::vector<FS_Node*> children;
  for (const auto& [key, child] : folder.Children())
    if (!child->IsISO9660ImportItem()) children.push_back(child.get());
  if (children.size() > kHFSMaxValence)
    return refuse(kErrProducerTooManyFiles,
                  "A folder holds more items than HFS can count: " + quillion::layoutPath(folder));
  std::vector<std::string> names(children.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    bool latin1 = false;
    if (converter.toMacRoman(children[i]->Title(), names[i], &latin1) != kNoErr)
      return refuse(kErrProducerName,
                    "No HFS name can be made for " + quillion::layoutPath(*children[i]));
    if (latin1)
      layoutNotes.push_back("\r?? Name is not valid UTF-8, read as Latin-1: " +
                            quillion::layoutPath(*children[i]) + "\r");
  }
  std::size_t failed = 0;
  if (!uniqueHFSNames(names, &failed))
    return refuse(kErrProducerName,
                  "No unique HFS name found for " + quillion::layoutPath(*children[failed]));

  valence = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    FS_Node& child = *children[i];
    const NodeSource source = readNodeSource(child);
    if (source.kind == NodeSource::Kind::unreadable) {
      recordSkipped(child);
      continue;
    }
    if (nextID == std::numeric_limits<std::uint32_t>::max())
      return refuse(kErrProducerTooManyFiles, "The layout holds more items than HFS numbers");
    const std::uint32_t id = nextID++;
    const bool catalogued = source.kind == NodeSource::Kind::catalogued;
    HFSCatalogThread thread;
    thread.parentID = folderID;
    thread.nodeName = names[i];
    if (child.IsFolder()) {
      HFSCatalogFolder record;
      record.folderID = id;
      if (catalogued) {
        record.createDate = macLocalSeconds(source.info.createDate.seconds);
        record.modifyDate = macLocalSeconds(source.info.contentModDate.seconds);
        record.userInfo = folderFinderInfo(source.info);
        record.finderInfo = extendedFinderInfo(source.info);
      } else {
        record.createDate = record.modifyDate = record.backupDate = createDate;
      }
      LeafRecord* added = nullptr;
      if (const EngineStatus s =
              addRecord(folderID, names[i], LeafRecord{record, &child, {}}, &added);
          s != kNoErr)
        return s;
      thread.recordType = kHFSFolderThreadRecord;
      if (const EngineStatus s = addRecord(id, {}, LeafRecord{thread, &child, {}}); s != kNoErr)
        return s;
      std::uint16_t childValence = 0;
      if (const EngineStatus s = collectFolder(child, id, childValence); s != kNoErr) return s;
      std::get<HFSCatalogFolder>(added->data).valence = childValence;
      ++folders;
      if (folderID == kHFSRootID) ++rootFolders;
    } else {
      HFSCatalogFile record;
      record.flags = static_cast<std::uint8_t>((source.info.nodeFlags & kHFSLockedFlag) |
                                               kHFSThreadExistsFlag);
      record.userInfo = fileFinderInfo(source.info);
      record.finderInfo = extendedFinderInfo(source.info);
      record.fileID = id;
      record.createDate = macLocalSeconds(source.info.createDate.seconds);
      record.modifyDate = macLocalSeconds(source.info.contentModDate.seconds);
      if (child.dataActualSize > std::numeric_limits<std::int32_t>::max() ||
          child.rsrcActualSize > std::numeric_limits<std::int32_t>::max())
        return refuse(kErrProducerTooManyFiles,
                      "A file is too large for HFS: " + quillion::layoutPath(child));
      record.dataLogicalSize = static_cast<std::int32_t>(child.dataActualSize);
      record.rsrcLogicalSize =
          tree->useResourceFork ? static_cast<std::int32_t>(child.rsrcActualSize) : 0;
      if (const EngineStatus s = addRecord(folderID, names[i], LeafRecord{record, &child, {}});
          s != kNoErr)
        return s;
      thread.recordType = kHFSFileThreadRecord;
      if (const EngineStatus s = addRecord(id, {}, LeafRecord{thread, &child, {}}); s != kNoErr)
        return s;
      ++files;
      if (folderID == kHFSRootID) ++rootFiles;
    }
    ++valence;
  }
  return kNoErr;
}

std::size_t DPM_FS_HFS::recordSize(const LeafRecord& record) {
  const std::size_t natural = 7 + record.key.nodeName.size();
  const std::size_t key = natural + (natural & 1);
  return key + std::visit(
                   [](const auto& data) -> std::size_t {
                     using T = std::decay_t<decltype(data)>;
                     if constexpr (std::is_same_v<T, HFSCatalogFolder>)
                       return kHFSCatalogFolderBytes;
                     if constexpr (std::is_same_v<T, HFSCatalogFile>) return kHFSCatalogFileBytes;
                     return kHFSCatalogThreadBytes;
                   },
                   record.data);
}

std::vector<std::uint8_t> DPM_FS_HFS::recordBytes(const LeafRecord& record) const {
  std::vector<std::uint8_t> bytes = hfsKeyBytes(record.key);
  const std::size_t keyBytes = bytes.size();
  bytes.resize(recordSize(record));
  const std::span<std::uint8_t> data = std::span(bytes).subspan(keyBytes);
  if (const auto* folder = std::get_if<HFSCatalogFolder>(&record.data)) {
    swapHFSCatalogFolder(*folder, data.first<kHFSCatalogFolderBytes>());
  } else if (const auto* thread = std::get_if<HFSCatalogThread>(&record.data)) {
    swapHFSCatalogThread(*thread, data.first<kHFSCatalogThreadBytes>());
  } else {
    HFSCatalogFile file = std::get<HFSCatalogFile>(record.data);
    const auto it = fileLocTable.index.find(record.node);
    if (it != fileLocTable.index.end()) {
      const FS_FileLoc& entry = fileLocTable.entries[it->second];
      const std::uint32_t first = extentsBlocks + catalogBlocks;
      file.dataPhysicalSize = static_cast<std::int32_t>(entry.dataBlocks * allocationBlockSize);
      file.rsrcPhysicalSize = static_cast<std::int32_t>(entry.rsrcBlocks * allocationBlockSize);
      if (entry.dataBlocks != 0)
        file.dataExtents[0] = {static_cast<std::uint16_t>(entry.dataStart + first),
                               static_cast<std::uint16_t>(entry.dataBlocks)};
      if (entry.rsrcBlocks != 0)
        file.rsrcExtents[0] = {static_cast<std::uint16_t>(entry.rsrcStart + first),
                               static_cast<std::uint16_t>(entry.rsrcBlocks)};
    }
    swapHFSCatalogFile(file, data.first<kHFSCatalogFileBytes>());
  }
  return bytes;
}

std::uint32_t DPM_FS_HFS::packLeaves(std::vector<BTNode>* nodes,
                                     std::vector<HFSCatalogKey>* firstKeys) const {
  std::uint32_t count = 0;
  BTNode node;
  std::size_t used = 0;  // bytes of records in the node being counted
  std::size_t records = 0;
  const auto roomFor = [&](std::size_t bytes) {
    const std::size_t taken = kBTNodeDescriptorBytes + used + 2 * (records + 2);
    return taken + bytes <= kHFSNodeBytes;
  };
  const auto startNode = [&](const LeafRecord& first) {
    if (count > 0 && nodes != nullptr) nodes->push_back(std::move(node));
    node = BTNode{};
    node.descriptor.kind = kBTLeafNode;
    node.descriptor.height = 1;
    used = records = 0;
    ++count;
    if (firstKeys != nullptr) firstKeys->push_back(first.key);
  };
  for (const auto& [key, record] : keyMap) {
    const std::size_t size = recordSize(record);
    if (count == 0 || !roomFor(size)) startNode(record);
    if (nodes != nullptr) node.append(recordBytes(record));
    used += size;
    ++records;
  }
  if (count > 0 && nodes != nullptr) nodes->push_back(std::move(node));
  return count;
}

std::uint32_t DPM_FS_HFS::countLeafNodesByLeafRec() const {
  return packLeaves(nullptr, nullptr);
}

EngineStatus DPM_FS_HFS::AddAllLeafRecToNodes() {
  leafNodes.clear();
  leafFirstKeys.clear();
  packLeaves(&leafNodes, &leafFirstKeys);
  return kNoErr;
}

EngineStatus DPM_FS_HFS::allocateFiles(std::uint32_t size) {
  allocationBlockSize = size;
  return tree->GenerateFileLocTable(size, &fileLocTable, tree->useResourceFork);
}

EngineStatus DPM_FS_HFS::determineAllocationBlockSize() {
  std::uint32_t treeFolders = 0, treeFiles = 0;
  std::uint64_t treeData = 0, treeRsrc = 0;
  tree->Root()->GetChildrenInfo(&treeFolders, &treeFiles, &treeData, &treeRsrc, true);
  if (treeFiles > limits.maxFiles)
    return refuse(kErrProducerTooManyFiles, "The layout holds more files than HFS takes (" +
                                                std::to_string(limits.maxFiles) + ")");
  if (hybrid && isoHeaderBytes == 0)
    return refuse(kErrProducerNoSource, "The ISO9660 header size is not known");
  catalogNodes = GetTotalCatalogNodes(countLeafNodesByLeafRec());
  if (catalogNodes == 0)
    return refuse(kErrProducerTooManyFiles, "The catalog is deeper than HFS allows");
  // Every allocation block needs its bit, and the block count is a 16-bit field.
  const std::uint64_t limit =
      std::min<std::uint64_t>(limits.maxAllocationBlocks, std::uint64_t{bitmapSectors} * 512 * 8);
  std::uint32_t size = kSectorBytes;
  if (allocateFiles(size) != kNoErr)
    return refuse(kErrProducerTooManyFiles, "The files do not fit in one volume");
  if (fileLocTable.allocatedBlocks > limit) {
    size =
        static_cast<std::uint32_t>(ceilDivide(fileLocTable.allocatedBlocks, limit) * kSectorBytes);
    if (allocateFiles(size) != kNoErr)
      return refuse(kErrProducerTooManyFiles, "The files do not fit in one volume");
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::uint64_t k = ceilDivide(std::uint64_t{catalogNodes} * kHFSNodeBytes, size);
    const std::uint64_t e =
        hybrid ? ceilDivide(isoHeaderBytes + (kISO9660HeaderOffset - allocationAreaStart()), size)
               : 1;
    const std::uint64_t f = fileLocTable.allocatedBlocks;
    if (e + k + f <= limit) {
      catalogBlocks = static_cast<std::uint32_t>(k);
      extentsBlocks = static_cast<std::uint32_t>(e);
      fileBlocks = static_cast<std::uint32_t>(f);
      return kNoErr;
    }
    size += kSectorBytes;
    if (allocateFiles(size) != kNoErr) break;
  }
  fileLocTable.clear();
  return refuse(kErrProducerBlockSize, "No allocation block size keeps the HFS volume in bounds");
}

EngineStatus DPM_FS_HFS::GenerateStuffsForHeaders() {
  Term();
  layoutProblem.clear();
  layoutNotes.clear();
  if (tree == nullptr || tree->Root() == nullptr)
    return refuse(kErrProducerNoRoot, "There is no layout to write");
  if (hybrid && isoHeaderBytes == 0)
    return refuse(kErrProducerNoSource, "The ISO9660 header size is not known");
  try {
    if (const EngineStatus s = CollectLeafRecs(); s != kNoErr) return s;
    if (const EngineStatus s = determineAllocationBlockSize(); s != kNoErr) return s;
    if (const EngineStatus s = AddAllLeafRecToNodes(); s != kNoErr) return s;
    const std::uint64_t blocksStart = allocationAreaStart();
    const std::uint64_t areaBytes =
        blocksStart + std::uint64_t{extentsBlocks + catalogBlocks} * allocationBlockSize;
    headerArea.assign(areaBytes, 0);
    writeMasterDirectoryBlock();
    setLeadingBits(std::span(headerArea)
                       .subspan(kVolumeOffsetBytes + kHFSBitmapOffset, bitmapSectors * 512ull),
                   std::uint64_t{extentsBlocks} + catalogBlocks + fileBlocks);
    writeExtentsTree();
    if (const EngineStatus s = buildCatalog(headerArea.data() + blocksStart +
                                            std::uint64_t{extentsBlocks} * allocationBlockSize);
        s != kNoErr)
      return s;
    leafNodes.clear();
    leafFirstKeys.clear();
    keyMap.clear();
  } catch (const std::bad_alloc&) {
    Term();
    return refuse(kErrOutOfMemory, "No memory for the HFS headers");
  }
  headersGenerated = true;
  return kNoErr;
}

void DPM_FS_HFS::writeMasterDirectoryBlock() {
  mdb = HFSMasterDirectoryBlock{};
  mdb.drSigWord = kHFSSignature;
  mdb.drCrDate = mdb.drLsMod = createDate;
  mdb.drAtrb = kHFSVolumeAttributes;
  mdb.drNmFls = static_cast<std::uint16_t>(rootFiles);
  mdb.drVBMSt = static_cast<std::uint16_t>(kHFSBitmapOffset / 512);
  mdb.drAllocPtr = 1;
  mdb.drNmAlBlks = static_cast<std::uint16_t>(extentsBlocks + catalogBlocks + fileBlocks);
  mdb.drAlBlkSiz = allocationBlockSize;
  mdb.drClpSiz = allocationBlockSize;
  mdb.drAlBlSt = static_cast<std::uint16_t>(kHFSBitmapOffset / 512 + bitmapSectors);
  mdb.drNxtCNID = nextID;  // the highest ID in use + 1
  mdb.drFreeBks = 0;
  mdb.drVN = volumeName;
  mdb.drWrCnt = kHFSWriteCount;
  mdb.drXTClpSiz = mdb.drCTClpSiz = allocationBlockSize;
  mdb.drNmRtDirs = static_cast<std::uint16_t>(rootFolders);
  mdb.drFilCnt = files;
  mdb.drDirCnt = folders;
  mdb.drXTFlSize = extentsBlocks * allocationBlockSize;
  mdb.drXTExtRec[0] = {0, static_cast<std::uint16_t>(extentsBlocks)};
  mdb.drCTFlSize = catalogBlocks * allocationBlockSize;
  mdb.drCTExtRec[0] = {static_cast<std::uint16_t>(extentsBlocks),
                       static_cast<std::uint16_t>(catalogBlocks)};
  mdbBytes.assign(512, 0);
  swapHFSMasterDirectoryBlock(mdb, std::span(mdbBytes).first<kHFSMasterDirectoryBlockBytes>());
  std::copy(mdbBytes.begin(), mdbBytes.end(),
            headerArea.begin() + kVolumeOffsetBytes + kHFSBootBytes);
}

void DPM_FS_HFS::writeExtentsTree() {
  BTHeaderRec header;
  header.nodeSize = kHFSNodeBytes;
  header.maxKeyLength = 7;
  header.totalNodes = allocationBlockSize / kHFSNodeBytes * extentsBlocks;
  header.freeNodes = header.totalNodes - 1;
  const std::size_t at = allocationAreaStart();
  const bool written = writeHeaderAndMapNodes(header, 1, 0, [&](std::uint64_t) {
    return std::span(headerArea).subspan(at, kHFSNodeBytes);
  });
  (void)written;  // a 512-byte node always holds a one-bit map
}

EngineStatus DPM_FS_HFS::buildCatalog(std::uint8_t* catalog) {
  const auto leaves = static_cast<std::uint32_t>(leafNodes.size());
  std::uint64_t indexNodes = 0;
  for (std::uint64_t level = leaves; level > 1;) {
    level = ceilDivide(level, kHFSFanOut);
    indexNodes += level;
  }
  const std::uint64_t mapNodes = catalogNodes - (std::uint64_t{leaves} + indexNodes + 1);
  const std::uint64_t totalNodes =
      std::uint64_t{catalogBlocks} * allocationBlockSize / kHFSNodeBytes;
  const auto nodeAt = [&](std::uint64_t number) {
    return std::span<std::uint8_t>(catalog + number * kHFSNodeBytes, kHFSNodeBytes);
  };
  const auto write = [&](const BTNode& node, std::uint64_t number) -> EngineStatus {
    if (number >= totalNodes || !SwapBTNode(node, nodeAt(number)))
      return refuse(kErrProducerIndexFull, "A catalog node does not fit");
    return kNoErr;
  };

  struct Child {
    std::uint32_t number;
    HFSCatalogKey firstKey;
  };
  std::vector<Child> level;
  const std::uint32_t firstLeaf = static_cast<std::uint32_t>(1 + mapNodes);
  for (std::uint32_t i = 0; i < leaves; ++i) {
    BTNode& leaf = leafNodes[i];
    leaf.descriptor.fLink = i + 1 < leaves ? firstLeaf + i + 1 : 0;
    leaf.descriptor.bLink = i > 0 ? firstLeaf + i - 1 : 0;
    if (const EngineStatus s = write(leaf, firstLeaf + i); s != kNoErr) return s;
    level.push_back({firstLeaf + i, leafFirstKeys[i]});
  }
  std::uint32_t next = firstLeaf + leaves;
  std::uint8_t height = 1;
  while (level.size() > 1) {
    ++height;
    std::vector<Child> upper;
    const std::size_t groups = ceilDivide(level.size(), kHFSFanOut);
    const std::uint32_t levelStart = next;
    for (std::size_t g = 0; g < groups; ++g) {
      BTNode node;
      node.descriptor.kind = kBTIndexNode;
      node.descriptor.height = height;
      node.descriptor.fLink = g + 1 < groups ? levelStart + static_cast<std::uint32_t>(g) + 1 : 0;
      node.descriptor.bLink = g > 0 ? levelStart + static_cast<std::uint32_t>(g) - 1 : 0;
      const std::size_t end = std::min(level.size(), (g + 1) * kHFSFanOut);
      for (std::size_t c = g * kHFSFanOut; c < end; ++c) {
        if (node.freeSpace(kHFSNodeBytes) < kHFSIndexRecordBytes)
          return refuse(kErrProducerIndexFull, "An index node of the catalog is full");
        std::vector<std::uint8_t> record = hfsKeyBytes(level[c].firstKey, kHFSIndexKeyBytes);
        record.resize(kHFSIndexRecordBytes);
        quillion::be::put32(record, kHFSIndexKeyBytes, level[c].number);
        node.append(record);
      }
      if (const EngineStatus s = write(node, next); s != kNoErr) return s;
      upper.push_back({next, level[g * kHFSFanOut].firstKey});
      ++next;
    }
    level = std::move(upper);
  }
  if (next != catalogNodes || level.empty())
    return refuse(kErrProducerIndexFull, "The catalog came out larger than counted");

  BTHeaderRec header;
  header.treeDepth = height;
  header.rootNode = level.front().number;
  header.leafRecords = static_cast<std::uint32_t>(keyMap.size());
  header.firstLeafNode = firstLeaf;
  header.lastLeafNode = firstLeaf + leaves - 1;
  header.nodeSize = kHFSNodeBytes;
  header.maxKeyLength = 37;
  header.totalNodes = static_cast<std::uint32_t>(totalNodes);
  header.freeNodes = static_cast<std::uint32_t>(totalNodes - catalogNodes);
  if (!writeHeaderAndMapNodes(header, catalogNodes, static_cast<std::uint32_t>(mapNodes), nodeAt))
    return refuse(kErrProducerIndexFull, "The catalog header node does not fit");
  return kNoErr;
}

std::uint32_t DPM_FS_HFS::PrepareAll(std::uint16_t* requestedBlockSize, DPM_ProgressProc, void*) {
  if (requestedBlockSize == nullptr) return 0;
  if (!headersGenerated && GenerateStuffsForHeaders() != kNoErr) return 0;
  if (!acceptBlockSize(requestedBlockSize)) return 0;
  if (!finishImage(std::uint64_t{fileBlocks} * allocationBlockSize, 1024,
                   static_cast<std::uint16_t>(VolumeKind::hfs), mdbBytes.data()))
    return 0;
  return totalBlocks;
}

EngineStatus DPM_FS_HFS::GetFileLocList(FS_FileLocList** out) {
  if (out == nullptr) return kErrBadArgument;
  *out = nullptr;
  const std::size_t count = fileLocTable.entries.size();
  void* memory = std::malloc(sizeof(FS_FileLocList) + count * sizeof(FS_FileLocListEntry));
  if (memory == nullptr) return kErrOutOfMemory;
  const std::uint64_t c = allocationBlockSize, dataStart = headerArea.size();
  auto* list = new (memory) FS_FileLocList{
      static_cast<std::uint32_t>(count), kSectorBytes,
      static_cast<std::uint32_t>(ceilDivide(fileLocTable.allocatedBlocks * c, kSectorBytes)),
      fileLocTable.rsrcIncluded ? 1u : 0u};
  // The sectors that hold every byte of the fork's blocks.
  const auto place = [&](std::uint32_t start, std::uint32_t blocks, std::uint32_t& lba,
                         std::uint32_t& sectors) {
    lba = sectors = 0;
    if (blocks == 0) return;
    const std::uint64_t first = dataStart + start * c;
    const std::uint64_t end = first + blocks * c;
    lba = static_cast<std::uint32_t>(sessionStart + first / kSectorBytes);
    sectors = static_cast<std::uint32_t>(ceilDivide(end, kSectorBytes) - first / kSectorBytes);
  };
  FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
  for (std::size_t i = 0; i < count; ++i) {
    const FS_FileLoc& e = fileLocTable.entries[i];
    FS_FileLocListEntry entry{e.node, 0, 0, 0, 0};
    place(e.dataStart, e.dataBlocks, entry.dataLBA, entry.dataBlocks);
    place(e.rsrcStart, e.rsrcBlocks, entry.rsrcLBA, entry.rsrcBlocks);
    new (&entries[i]) FS_FileLocListEntry(entry);
  }
  *out = list;
  return kNoErr;
}
