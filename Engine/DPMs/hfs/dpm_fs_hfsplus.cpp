// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/dpm_fs_hfsplus.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "DPMs/hfs/apple_partition_map.h"
#include "DPMs/hfs/hfs_btree_maps.h"
#include "DPMs/hfs/hfs_catalog_source.h"
#include "DPMs/hfs/hfs_names.h"
#include "common/byte_order.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

using namespace quillion::hfs;

namespace {

constexpr std::uint32_t kPlusBlockBytes = 4096;
constexpr std::uint32_t kPlusNodeBytes = 4096;
constexpr std::uint32_t kPlusIndexRoom = kPlusNodeBytes - 14 - 2;  // 4080
constexpr std::uint32_t kPlusMaxIndexLevels = 9;
constexpr std::uint32_t kPlusFirstItemID = 200;
constexpr std::uint32_t kPlusRootParentID = 1;
constexpr std::uint32_t kPlusRootID = 2;
constexpr std::uint32_t kPlusTextEncoding = 0x08000100;
constexpr std::uint32_t kPlusVolumeAttributes = 0x00000500;
constexpr std::uint32_t kPlusLastMountedVersion = 0x31302E30;  // "10.0"
constexpr std::uint16_t kPlusVersion = 4;
constexpr std::uint16_t kPlusThreadExistsFlag = 0x0002;
constexpr std::uint16_t kPlusMaxCatalogKey = 516;
constexpr std::uint16_t kPlusMaxExtentsKey = 10;
// Readers take the key length of an HFS Plus tree as 16 bits and the catalog's index keys
// as variable only when the header says so.
constexpr std::uint32_t kPlusBigKeys = 0x00000002;
constexpr std::uint32_t kPlusVariableIndexKeys = 0x00000004;
// A hybrid's extents file starts at image byte 22528 and must reach past the ISO9660
// header, which starts at 32768.
constexpr std::uint64_t kPlusHybridExtentsSlack = 14336;
constexpr const char16_t* kPlusUntitled = u"Untitled";

std::uint64_t plusCeil(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

std::vector<std::uint8_t> plusKeyBytes(const HFSPlusCatalogKey& key) {
  std::vector<std::uint8_t> bytes(8 + 2 * key.nodeName.size());
  bytes.resize(SwapHFSPlusCatalogKey(key, bytes));
  return bytes;
}

// Groups consecutive children into index nodes: each takes children while their records
// (key length field + key + 4-byte pointer + offset word) fit in 4080 bytes. Answers each
// group's size.
std::vector<std::size_t> indexGroups(const std::vector<std::size_t>& recordBytes) {
  std::vector<std::size_t> groups;
  std::size_t used = 0;
  for (const std::size_t bytes : recordBytes) {
    if (groups.empty() || used + bytes > kPlusIndexRoom) {
      groups.push_back(0);
      used = 0;
    }
    ++groups.back();
    used += bytes;
  }
  return groups;
}

// key length + 8: the key with its length field, the pointer and the offset word.
std::size_t indexRecordCost(std::size_t keyBytesWithLength) {
  return keyBytesWithLength + 4 + 2;
}

// The index nodes each level above the leaves needs, bottom up, for leaves whose first keys
// cost the given index records; empty when nine levels do not reach one root.
std::vector<std::size_t> indexLevelNodes(std::vector<std::size_t> costs, bool* tooDeep) {
  std::vector<std::size_t> levels;
  *tooDeep = false;
  while (costs.size() > 1) {
    if (levels.size() == kPlusMaxIndexLevels) {
      *tooDeep = true;
      return {};
    }
    const std::vector<std::size_t> groups = indexGroups(costs);
    std::vector<std::size_t> upper;
    std::size_t at = 0;
    for (const std::size_t g : groups) {
      upper.push_back(costs[at]);  // an upper record repeats its child's first key
      at += g;
    }
    levels.push_back(groups.size());
    costs = std::move(upper);
  }
  return levels;
}

HFSPlusForkData forkOf(std::uint64_t logical, std::uint32_t start, std::uint32_t blocks) {
  HFSPlusForkData fork;
  fork.logicalSize = logical;
  fork.clumpSize = kPlusBlockBytes;
  fork.totalBlocks = blocks;
  if (blocks != 0) fork.firstExtent = {start, blocks};
  return fork;
}

}  // namespace

DPM_FS_HFSPlus::DPM_FS_HFSPlus(FS_Tree* contentTree, std::uint32_t start)
    : DPM_FS_HFSBase(contentTree) {
  sessionStart = start;
}

DPM_FS_HFSPlus::~DPM_FS_HFSPlus() {
  DPM_FS_HFSPlus::Term();
}

EngineStatus DPM_FS_HFSPlus::Init() {
  return kNoErr;
}

void DPM_FS_HFSPlus::Term() {
  clearImage();
  keyMap.clear();
  leafNodes.clear();
  leafFirstKeys.clear();
}

std::uint32_t DPM_FS_HFSPlus::GetTotalCatalogNodes(
    const std::vector<std::size_t>& firstKeyLengths) {
  std::vector<std::size_t> costs;
  for (const std::size_t key : firstKeyLengths) costs.push_back(indexRecordCost(key));
  bool tooDeep = false;
  std::uint64_t total = firstKeyLengths.size() + 1;  // the leaves and the header node
  for (const std::size_t nodes : indexLevelNodes(std::move(costs), &tooDeep)) total += nodes;
  if (tooDeep) return 0;
  return static_cast<std::uint32_t>(total + mapNodesFor(total, kPlusNodeBytes));
}

EngineStatus DPM_FS_HFSPlus::addRecord(std::uint32_t parent, const std::u16string& name,
                                       LeafRecord record, LeafRecord** added) {
  record.key = HFSPlusCatalogKey{parent, name};
  auto bytes = plusKeyBytes(record.key);
  if (bytes.empty()) return refuse(kErrProducerName, "An HFS Plus name is longer than 255 units");
  const auto [it, inserted] = keyMap.emplace(std::move(bytes), std::move(record));
  if (!inserted) return refuse(kErrProducerName, "Two HFS Plus catalog keys are equal");
  if (added != nullptr) *added = &it->second;
  return kNoErr;
}

EngineStatus DPM_FS_HFSPlus::CollectLeafRecs() {
  keyMap.clear();
  nextID = kPlusFirstItemID;
  files = folders = 0;
  createDate = GetLocalDateTime();
  createDateUTC = GetUTCDateTime();
  const char* title = tree->GetTreeTitle();
  std::u16string name;
  if (title == nullptr || hfsPlusName(title, name) != kNoErr) name.clear();
  volumeName = numberedName(name, 0, kHFSPlusMaxNameUnits);
  if (volumeName.empty()) volumeName = kPlusUntitled;

  HFSPlusCatalogFolder root;
  root.folderID = kPlusRootID;
  root.createDate = root.contentModDate = createDateUTC;
  root.textEncoding = kPlusTextEncoding;
  LeafRecord* rootRecord = nullptr;
  if (const EngineStatus s =
          addRecord(kPlusRootParentID, volumeName, LeafRecord{root, tree->Root(), {}}, &rootRecord);
      s != kNoErr)
    return s;
  HFSPlusCatalogThread thread;
  thread.recordType = kHFSPlusFolderThreadRecord;
  thread.parentID = kPlusRootParentID;
  thread.nodeName = volumeName;
  if (const EngineStatus s = addRecord(kPlusRootID, {}, LeafRecord{thread, tree->Root(), {}});
      s != kNoErr)
    return s;
  std::uint32_t valence = 0;
  if (const EngineStatus s = collectFolder(*tree->Root(), kPlusRootID, valence); s != kNoErr)
    return s;
  std::get<HFSPlusCatalogFolder>(rootRecord->data).valence = valence;
  return kNoErr;
}

EngineStatus DPM_FS_HFSPlus::collectFolder(FS_Node& folder, std::uint32_t folderID,
                                           std::uint32_t& valence) {
  std::vector<FS_Node*> children;
  for (const auto& [key, child] : folder.Children())
    if (!child->IsISO9660ImportItem()) children.push_back(child.get());
  std::vector<std::u16string> names(children.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    bool latin1 = false;
    if (hfsPlusName(children[i]->Title(), names[i], &latin1) != kNoErr)
      return refuse(kErrProducerName,
                    "No HFS Plus name can be made for " + quillion::layoutPath(*children[i]));
    if (latin1)
      layoutNotes.push_back("\r?? Name is not valid UTF-8, read as Latin-1: " +
                            quillion::layoutPath(*children[i]) + "\r");
  }
  std::size_t failed = 0;
  if (!uniqueHFSPlusNames(names, &failed))
    return refuse(kErrProducerName,
                  "No unique HFS Plus name found for " + quillion::layoutPath(*children[failed]));

  valence = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    FS_Node& child = *children[i];
    const NodeSource source = readNodeSource(child);
    if (source.kind == NodeSource::Kind::unreadable) {
      recordSkipped(child);
      continue;
    }
    if (nextID == std::numeric_limits<std::uint32_t>::max())
      return refuse(kErrProducerTooManyFiles, "The layout holds more items than HFS Plus numbers");
    const std::uint32_t id = nextID++;
    const bool catalogued = source.kind == NodeSource::Kind::catalogued;
    HFSPlusCatalogThread thread;
    thread.parentID = folderID;
    thread.nodeName = names[i];
    if (child.IsFolder()) {
      HFSPlusCatalogFolder record;
      record.flags = 0;
      record.folderID = id;
      record.textEncoding = kPlusTextEncoding;
      if (catalogued) {
        record.createDate = macUTCSeconds(source.info.createDate.seconds);
        record.contentModDate = macUTCSeconds(source.info.contentModDate.seconds);
        record.userInfo = folderFinderInfo(source.info);
        record.finderInfo = extendedFinderInfo(source.info);
      } else {
        record.createDate = record.contentModDate = createDateUTC;
      }
      LeafRecord* added = nullptr;
      if (const EngineStatus s =
              addRecord(folderID, names[i], LeafRecord{record, &child, {}}, &added);
          s != kNoErr)
        return s;
      thread.recordType = kHFSPlusFolderThreadRecord;
      if (const EngineStatus s = addRecord(id, {}, LeafRecord{thread, &child, {}}); s != kNoErr)
        return s;
      std::uint32_t childValence = 0;
      if (const EngineStatus s = collectFolder(child, id, childValence); s != kNoErr) return s;
      std::get<HFSPlusCatalogFolder>(added->data).valence = childValence;
      ++folders;
    } else {
      HFSPlusCatalogFile record;
      record.flags = kPlusThreadExistsFlag;
      record.fileID = id;
      record.createDate = macUTCSeconds(source.info.createDate.seconds);
      record.contentModDate = macUTCSeconds(source.info.contentModDate.seconds);
      record.userInfo = fileFinderInfo(source.info);
      record.finderInfo = extendedFinderInfo(source.info);
      record.textEncoding = kPlusTextEncoding;
      if (const EngineStatus s = addRecord(folderID, names[i], LeafRecord{record, &child, {}});
          s != kNoErr)
        return s;
      thread.recordType = kHFSPlusFileThreadRecord;
      if (const EngineStatus s = addRecord(id, {}, LeafRecord{thread, &child, {}}); s != kNoErr)
        return s;
      ++files;
    }
    ++valence;
  }
  return kNoErr;
}

std::vector<std::uint8_t> DPM_FS_HFSPlus::recordBytes(const LeafRecord& record) const {
  std::vector<std::uint8_t> bytes = plusKeyBytes(record.key);
  const std::size_t keyBytes = bytes.size();
  if (const auto* folder = std::get_if<HFSPlusCatalogFolder>(&record.data)) {
    bytes.resize(keyBytes + kHFSPlusCatalogFolderBytes);
    SwapHFSPlusCatalogFolder(
        *folder, std::span(bytes).subspan(keyBytes).first<kHFSPlusCatalogFolderBytes>());
  } else if (const auto* thread = std::get_if<HFSPlusCatalogThread>(&record.data)) {
    bytes.resize(keyBytes + 10 + 2 * thread->nodeName.size());
    bytes.resize(keyBytes + SwapHFSPlusCatalogThread(*thread, std::span(bytes).subspan(keyBytes)));
  } else {
    HFSPlusCatalogFile file = std::get<HFSPlusCatalogFile>(record.data);
    const auto it = fileLocTable.index.find(record.node);
    if (it != fileLocTable.index.end()) {
      const FS_FileLoc& e = fileLocTable.entries[it->second];
      const std::uint32_t first = FirstFileBlock();
      file.dataFork = forkOf(record.node->dataActualSize, e.dataStart + first, e.dataBlocks);
      if (fileLocTable.rsrcIncluded)
        file.resourceFork = forkOf(record.node->rsrcActualSize, e.rsrcStart + first, e.rsrcBlocks);
    }
    bytes.resize(keyBytes + kHFSPlusCatalogFileBytes);
    SwapHFSPlusCatalogFile(file,
                           std::span(bytes).subspan(keyBytes).first<kHFSPlusCatalogFileBytes>());
  }
  return bytes;
}

std::uint32_t DPM_FS_HFSPlus::packLeaves(std::vector<BTNode>* nodes,
                                         std::vector<std::vector<std::uint8_t>>* firstKeys) const {
  std::uint32_t count = 0;
  BTNode node;
  for (const auto& [key, record] : keyMap) {
    std::vector<std::uint8_t> bytes = recordBytes(record);
    if (count == 0 || node.freeSpace(kPlusNodeBytes) < bytes.size()) {
      if (count > 0 && nodes != nullptr) nodes->push_back(std::move(node));
      node = BTNode{};
      node.descriptor.kind = kBTLeafNode;
      node.descriptor.height = 1;
      ++count;
      if (firstKeys != nullptr) firstKeys->push_back(key);
    }
    node.append(bytes);
  }
  if (count > 0 && nodes != nullptr) nodes->push_back(std::move(node));
  return count;
}

EngineStatus DPM_FS_HFSPlus::AddAllLeafRecToNodes() {
  leafNodes.clear();
  leafFirstKeys.clear();
  packLeaves(&leafNodes, &leafFirstKeys);
  return kNoErr;
}

void DPM_FS_HFSPlus::layOut() {
  const std::uint64_t f = fileBlocks, k = catalogBlocks;
  if (hybrid) {
    extentsBlocks = static_cast<std::uint32_t>(
        plusCeil(isoHeaderBytes + kPlusHybridExtentsSlack, kPlusBlockBytes));
  } else {
    extentsBlocks = 1;
  }
  // Every block of the volume, the allocation file's own included, has its bit.
  std::uint64_t a = 1;
  while (a * kPlusBlockBytes * 8 < f + k + extentsBlocks + a + 2) ++a;
  allocationBlocks = static_cast<std::uint32_t>(a);
  if (hybrid) {
    extentsStart = 1;
    allocationStart = 1 + extentsBlocks;
    catalogStart = allocationStart + allocationBlocks;
  } else {
    allocationStart = 1;
    extentsStart = 1 + allocationBlocks;
    catalogStart = extentsStart + extentsBlocks;
  }
}

EngineStatus DPM_FS_HFSPlus::GenerateStuffsForHeaders() {
  Term();
  layoutProblem.clear();
  layoutNotes.clear();
  if (tree == nullptr || tree->Root() == nullptr)
    return refuse(kErrProducerNoRoot, "There is no layout to write");
  if (hybrid && isoHeaderBytes == 0)
    return refuse(kErrProducerNoSource, "The ISO9660 header size is not known");
  try {
    if (tree->GenerateFileLocTable(kPlusBlockBytes, &fileLocTable, tree->useResourceFork) != kNoErr)
      return refuse(kErrProducerTooManyFiles, "The files do not fit in one volume");
    fileBlocks = fileLocTable.allocatedBlocks;
    if (const EngineStatus s = CollectLeafRecs(); s != kNoErr) return s;
    std::vector<std::vector<std::uint8_t>> firstKeys;
    packLeaves(nullptr, &firstKeys);
    std::vector<std::size_t> lengths;
    for (const auto& key : firstKeys) lengths.push_back(key.size());
    catalogBlocks = GetTotalCatalogNodes(lengths);
    if (catalogBlocks == 0)
      return refuse(kErrProducerTooManyFiles, "The catalog is deeper than HFS Plus allows");
    layOut();
    const std::uint64_t total =
        std::uint64_t{FirstFileBlock()} + fileBlocks + 1;  // the last block: alternate header
    if (total > std::numeric_limits<std::uint32_t>::max())
      return refuse(kErrProducerTooManyFiles, "The volume would hold more than 2^32 blocks");
    if (const EngineStatus s = AddAllLeafRecToNodes(); s != kNoErr) return s;
    headerArea.assign(kVolumeOffsetBytes + std::uint64_t{FirstFileBlock()} * kPlusBlockBytes, 0);
    writeVolumeHeader();
    if (const EngineStatus s = writeSpecialFiles(); s != kNoErr) return s;
    leafNodes.clear();
    leafFirstKeys.clear();
    keyMap.clear();
  } catch (const std::bad_alloc&) {
    Term();
    return refuse(kErrOutOfMemory, "No memory for the HFS Plus headers");
  }
  headersGenerated = true;
  return kNoErr;
}

void DPM_FS_HFSPlus::writeVolumeHeader() {
  HFSPlusVolumeHeader h;
  h.signature = kHFSPlusSignature;
  h.version = kPlusVersion;
  h.attributes = kPlusVolumeAttributes;
  h.lastMountedVersion = kPlusLastMountedVersion;
  h.createDate = createDate;  // the one date the format keeps in local time
  h.modifyDate = createDateUTC;
  h.fileCount = files;
  h.folderCount = folders;
  h.blockSize = kPlusBlockBytes;
  h.totalBlocks = FirstFileBlock() + fileBlocks + 1;
  h.freeBlocks = 0;
  h.nextAllocation = 0;
  h.rsrcClumpSize = h.dataClumpSize = kPlusBlockBytes;
  h.nextCatalogID = nextID;  // the highest ID in use + 1
  h.writeCount = 1;
  h.encodingsBitmap = 1;
  const auto special = [](std::uint32_t start, std::uint32_t blocks) {
    HFSPlusForkData fork;
    fork.logicalSize = std::uint64_t{blocks} * kPlusBlockBytes;
    fork.clumpSize = blocks * kPlusBlockBytes;
    fork.totalBlocks = blocks;
    fork.firstExtent = {start, blocks};
    return fork;
  };
  h.allocationFile = special(allocationStart, allocationBlocks);
  h.extentsFile = special(extentsStart, extentsBlocks);
  h.catalogFile = special(catalogStart, catalogBlocks);
  volumeHeader.assign(512, 0);
  SwapHFSPlusVolumeHeader(h, std::span(volumeHeader).first<kHFSPlusVolumeHeaderBytes>());
  std::copy(volumeHeader.begin(), volumeHeader.end(),
            headerArea.begin() + kVolumeOffsetBytes + 1024);
}

EngineStatus DPM_FS_HFSPlus::writeSpecialFiles() {
  const auto blockAt = [&](std::uint64_t block) {
    return headerArea.data() + kVolumeOffsetBytes + block * kPlusBlockBytes;
  };
  // Allocation file: every block is in use.
  const std::uint64_t used = std::uint64_t{FirstFileBlock()} + fileBlocks + 1;
  std::uint8_t* bitmap = blockAt(allocationStart);
  std::memset(bitmap, 0xFF, used / 8);
  if (used % 8 != 0) bitmap[used / 8] = static_cast<std::uint8_t>(0xFF00u >> (used % 8));

  BTHeaderRec extents;
  extents.nodeSize = kPlusNodeBytes;
  extents.maxKeyLength = kPlusMaxExtentsKey;
  extents.totalNodes = extentsBlocks;
  extents.freeNodes = extentsBlocks - 1;
  extents.attributes = kPlusBigKeys;
  std::uint8_t* extentsFile = blockAt(extentsStart);
  if (!writeHeaderAndMapNodes(extents, 1, 0, [&](std::uint64_t) {
        return std::span<std::uint8_t>(extentsFile, kPlusNodeBytes);
      }))
    return refuse(kErrProducerIndexFull, "The extents header node does not fit");
  return buildCatalog(blockAt(catalogStart));
}

EngineStatus DPM_FS_HFSPlus::buildCatalog(std::uint8_t* catalog) {
  const auto leaves = static_cast<std::uint32_t>(leafNodes.size());
  const auto nodeAt = [&](std::uint64_t number) {
    return std::span<std::uint8_t>(catalog + number * kPlusNodeBytes, kPlusNodeBytes);
  };
  // Header, map nodes, leaves, index levels: count the index nodes to know the map nodes.
  std::vector<std::size_t> lengths;
  for (const auto& key : leafFirstKeys) lengths.push_back(key.size());
  const std::uint32_t nodes = GetTotalCatalogNodes(lengths);
  if (nodes != catalogBlocks) return refuse(kErrProducerIndexFull, "The catalog was miscounted");
  std::vector<std::size_t> leafCosts;
  for (const std::size_t l : lengths) leafCosts.push_back(indexRecordCost(l));
  bool tooDeep = false;
  std::uint64_t indexNodes = 0;
  for (const std::size_t n : indexLevelNodes(std::move(leafCosts), &tooDeep)) indexNodes += n;
  const std::uint64_t mapNodes = nodes - (std::uint64_t{leaves} + indexNodes + 1);
  const auto firstLeaf = static_cast<std::uint32_t>(1 + mapNodes);

  struct Child {
    std::uint32_t number;
    std::vector<std::uint8_t> firstKey;
  };
  std::vector<Child> level;
  for (std::uint32_t i = 0; i < leaves; ++i) {
    BTNode& leaf = leafNodes[i];
    leaf.descriptor.fLink = i + 1 < leaves ? firstLeaf + i + 1 : 0;
    leaf.descriptor.bLink = i > 0 ? firstLeaf + i - 1 : 0;
    if (!SwapBTNode(leaf, nodeAt(firstLeaf + i)))
      return refuse(kErrProducerIndexFull, "A catalog leaf does not fit");
    level.push_back({firstLeaf + i, leafFirstKeys[i]});
  }
  std::uint32_t next = firstLeaf + leaves;
  std::uint8_t height = 1;
  while (level.size() > 1) {
    ++height;
    std::vector<std::size_t> costs;
    for (const Child& c : level) costs.push_back(indexRecordCost(c.firstKey.size()));
    const std::vector<std::size_t> groups = indexGroups(costs);
    std::vector<Child> upper;
    const std::uint32_t levelStart = next;
    std::size_t at = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
      BTNode node;
      node.descriptor.kind = kBTIndexNode;
      node.descriptor.height = height;
      node.descriptor.fLink =
          g + 1 < groups.size() ? levelStart + static_cast<std::uint32_t>(g) + 1 : 0;
      node.descriptor.bLink = g > 0 ? levelStart + static_cast<std::uint32_t>(g) - 1 : 0;
      for (std::size_t c = at; c < at + groups[g]; ++c) {
        std::vector<std::uint8_t> record = level[c].firstKey;
        record.resize(record.size() + 4);
        quillion::be::put32(record, record.size() - 4, level[c].number);
        if (node.freeSpace(kPlusNodeBytes) < record.size())
          return refuse(kErrProducerIndexFull, "An index node of the catalog is full");
        node.append(record);
      }
      if (next >= nodes || !SwapBTNode(node, nodeAt(next)))
        return refuse(kErrProducerIndexFull, "A catalog index node does not fit");
      upper.push_back({next, level[at].firstKey});
      at += groups[g];
      ++next;
    }
    level = std::move(upper);
  }
  if (next != nodes || level.empty())
    return refuse(kErrProducerIndexFull, "The catalog came out larger than counted");

  BTHeaderRec header;
  header.treeDepth = height;
  header.rootNode = level.front().number;
  std::uint32_t records = 0;
  for (const BTNode& leaf : leafNodes)
    records += static_cast<std::uint32_t>(leaf.recordOffsets.size());
  header.leafRecords = records;
  header.firstLeafNode = firstLeaf;
  header.lastLeafNode = firstLeaf + leaves - 1;
  header.nodeSize = kPlusNodeBytes;
  header.maxKeyLength = kPlusMaxCatalogKey;
  header.totalNodes = nodes;
  header.freeNodes = 0;
  header.attributes = kPlusBigKeys | kPlusVariableIndexKeys;
  if (!writeHeaderAndMapNodes(header, nodes, static_cast<std::uint32_t>(mapNodes), nodeAt))
    return refuse(kErrProducerIndexFull, "The catalog header node does not fit");
  return kNoErr;
}

std::uint32_t DPM_FS_HFSPlus::PrepareAll(std::uint16_t* requestedBlockSize, DPM_ProgressProc,
                                         void*) {
  if (requestedBlockSize == nullptr) return 0;
  if (!headersGenerated && GenerateStuffsForHeaders() != kNoErr) return 0;
  if (!acceptBlockSize(requestedBlockSize)) return 0;
  if (!finishImage(std::uint64_t{fileBlocks} * kPlusBlockBytes, kPlusBlockBytes,
                   static_cast<std::uint16_t>(VolumeKind::hfsPlus), volumeHeader.data()))
    return 0;
  return totalBlocks;
}

EngineStatus DPM_FS_HFSPlus::GetFileLocList(FS_FileLocList** out) {
  return quillion::makeFileLocList(
      fileLocTable, std::uint64_t{sessionStart} + headerArea.size() / kSectorBytes, out);
}
