// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/hfs_byte_order.h"

#include <algorithm>

#include "common/byte_order.h"

namespace quillion::hfs {
namespace {

// Writes fields one after another in big-endian order; the structure routines below read
// as the field lists of the formats. A field past the end of the span is dropped.
class BEWriter {
 public:
  explicit BEWriter(std::span<std::uint8_t> out) : out_(out) {}
  BEWriter& u8(std::uint8_t v) {
    if (at_ < out_.size()) out_[at_] = v;
    ++at_;
    return *this;
  }
  BEWriter& i8(std::int8_t v) { return u8(static_cast<std::uint8_t>(v)); }
  BEWriter& u16(std::uint16_t v) {
    be::put16(out_, at_, v);
    at_ += 2;
    return *this;
  }
  BEWriter& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
  BEWriter& u32(std::uint32_t v) {
    be::put32(out_, at_, v);
    at_ += 4;
    return *this;
  }
  BEWriter& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
  BEWriter& u64(std::uint64_t v) {
    be::put64(out_, at_, v);
    at_ += 8;
    return *this;
  }
  BEWriter& zeros(std::size_t n) { return bytes({}, n); }
  // `text` cut to `room` bytes, zero-filled to `room`.
  BEWriter& fixedText(const std::string& text, std::size_t room) {
    return bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, room);
  }
  // A Pascal string: length byte, at most `maxBytes` bytes, zero-filled to `maxBytes`.
  BEWriter& pascal(const std::string& text, std::size_t maxBytes) {
    const std::size_t n = std::min(text.size(), maxBytes);
    u8(static_cast<std::uint8_t>(n));
    return fixedText(text.substr(0, n), maxBytes);
  }
  BEWriter& units(const std::u16string& text) {
    for (char16_t c : text) u16(static_cast<std::uint16_t>(c));
    return *this;
  }
  // `data` cut to `room` bytes, zero-filled to `room`.
  BEWriter& bytes(std::span<const std::uint8_t> data, std::size_t room) {
    for (std::size_t i = 0; i < room; ++i) u8(i < data.size() ? data[i] : 0);
    return *this;
  }
  BEWriter& skip(std::size_t n) {
    at_ += n;
    return *this;
  }
  // The bytes from the write position on; empty past the end.
  std::span<std::uint8_t> rest() const {
    return at_ < out_.size() ? out_.subspan(at_) : std::span<std::uint8_t>();
  }

 private:
  std::span<std::uint8_t> out_;
  std::size_t at_ = 0;
};

void extentRecord(BEWriter& w, const HFSExtentRecord& record) {
  for (const HFSExtentDescriptor& e : record) w.u16(e.startBlock).u16(e.blockCount);
}

// A structure inside another, written by its own routine.
template <std::size_t N, typename T>
void nested(BEWriter& w, const T& value, void (*swap)(const T&, std::span<std::uint8_t, N>)) {
  if (const std::span<std::uint8_t> room = w.rest(); room.size() >= N) swap(value, room.first<N>());
  w.skip(N);
}

// The part folder and file records share, from the dates to the text encoding.
template <typename Record, typename UserInfo>
void datesAndInformation(BEWriter& w, const Record& h,
                         void (*swapUserInfo)(const UserInfo&,
                                              std::span<std::uint8_t, kFinderInfoRecordBytes>)) {
  w.u32(h.createDate)
      .u32(h.contentModDate)
      .u32(h.attributeModDate)
      .u32(h.accessDate)
      .u32(h.backupDate);
  nested(w, h.permissions, SwapHFSPlusBSDInfo);
  nested(w, h.userInfo, swapUserInfo);
  nested(w, h.finderInfo, SwapFndrExtendedInfo);
  w.u32(h.textEncoding);
}

}  // namespace

void BTNode::append(std::span<const std::uint8_t> record) {
  recordOffsets.push_back(static_cast<std::uint16_t>(kBTNodeDescriptorBytes + records.size()));
  records.insert(records.end(), record.begin(), record.end());
}

std::size_t BTNode::freeSpace(std::size_t nodeSize) const {
  const std::size_t used = kBTNodeDescriptorBytes + records.size() + 2 * (recordOffsets.size() + 2);
  return nodeSize > used ? nodeSize - used : 0;
}

// ---- partition map ----

void SwapBlock0(const Block0& h, std::span<std::uint8_t, kBlock0Bytes> out) {
  std::ranges::fill(out, std::uint8_t{0});
  BEWriter(out)
      .u16(h.sbSig)
      .u16(h.sbBlkSize)
      .u32(h.sbBlkCount)
      .u16(h.sbDevType)
      .u16(h.sbDevId)
      .u32(h.sbData)
      .u16(h.sbDrvrCount)
      .u32(h.firstDriver.ddBlock)
      .u16(h.firstDriver.ddSize)
      .u16(h.firstDriver.ddType);
}

void SwapPartition(const Partition& h, std::span<std::uint8_t, kPartitionBytes> out) {
  std::ranges::fill(out, std::uint8_t{0});
  BEWriter(out)
      .u16(h.pmSig)
      .u16(h.pmSigPad)
      .u32(h.pmMapBlkCnt)
      .u32(h.pmPyPartStart)
      .u32(h.pmPartBlkCnt)
      .fixedText(h.pmPartName, 32)
      .fixedText(h.pmParType, 32)
      .u32(h.pmLgDataStart)
      .u32(h.pmDataCnt)
      .u32(h.pmPartStatus)
      .u32(h.pmLgBootStart)
      .u32(h.pmBootSize)
      .u32(h.pmBootAddr)
      .u32(h.pmBootAddr2)
      .u32(h.pmBootEntry)
      .u32(h.pmBootEntry2)
      .u32(h.pmBootCksum);
}

// ---- B-trees ----

void SwapBTNodeDescriptor(const BTNodeDescriptor& h,
                          std::span<std::uint8_t, kBTNodeDescriptorBytes> out) {
  BEWriter(out).u32(h.fLink).u32(h.bLink).i8(h.kind).u8(h.height).u16(h.numRecords).u16(h.reserved);
}

void SwapBTHeaderRec(const BTHeaderRec& h, std::span<std::uint8_t, kBTHeaderRecBytes> out) {
  BEWriter(out)
      .u16(h.treeDepth)
      .u32(h.rootNode)
      .u32(h.leafRecords)
      .u32(h.firstLeafNode)
      .u32(h.lastLeafNode)
      .u16(h.nodeSize)
      .u16(h.maxKeyLength)
      .u32(h.totalNodes)
      .u32(h.freeNodes)
      .u16(h.reserved1)
      .u32(h.clumpSize)
      .u8(h.btreeType)
      .u8(h.keyCompareType)
      .u32(h.attributes)
      .zeros(64);
}

bool SwapBTNode(const BTNode& node, std::span<std::uint8_t> out) {
  const std::size_t count = node.recordOffsets.size();
  const std::size_t used = kBTNodeDescriptorBytes + node.records.size() + 2 * (count + 1);
  if (used > out.size() || count > 0xFFFF) return false;
  std::ranges::fill(out, std::uint8_t{0});
  BTNodeDescriptor descriptor = node.descriptor;
  descriptor.numRecords = static_cast<std::uint16_t>(count);
  SwapBTNodeDescriptor(descriptor, out.first<kBTNodeDescriptorBytes>());
  std::copy(node.records.begin(), node.records.end(), out.begin() + kBTNodeDescriptorBytes);
  const std::size_t end = out.size();
  for (std::size_t i = 0; i < count; ++i) be::put16(out, end - 2 * (i + 1), node.recordOffsets[i]);
  be::put16(out, end - 2 * (count + 1), kBTNodeDescriptorBytes + node.records.size());
  return true;
}

bool SwapHFSPlus_BTHeaderNode(const BTNodeDescriptor& descriptor, const BTHeaderRec& header,
                              std::span<const std::uint8_t> map, std::span<std::uint8_t> out) {
  const std::size_t mapStart = kBTNodeDescriptorBytes + kBTHeaderRecBytes + kBTUserDataBytes;
  const std::size_t offsetsBytes = 2 * 4;
  if (out.size() < mapStart + offsetsBytes || map.size() > out.size() - mapStart - offsetsBytes)
    return false;
  BTNode node;
  node.descriptor = descriptor;
  std::vector<std::uint8_t> record(kBTHeaderRecBytes);
  SwapBTHeaderRec(header, std::span(record).first<kBTHeaderRecBytes>());
  node.append(record);
  node.append(std::vector<std::uint8_t>(kBTUserDataBytes));
  std::vector<std::uint8_t> mapRecord(out.size() - mapStart - offsetsBytes);
  std::copy(map.begin(), map.end(), mapRecord.begin());
  node.append(mapRecord);
  return SwapBTNode(node, out);
}

// ---- Finder information ----

void SwapFndrDirInfo(const FndrDirInfo& h, std::span<std::uint8_t, kFinderInfoRecordBytes> out) {
  BEWriter w(out);
  for (std::int16_t v : h.frRect) w.i16(v);
  w.u16(h.frFlags);
  for (std::int16_t v : h.frLocation) w.i16(v);
  w.i16(h.frView);
}

void SwapFndrFileInfo(const FndrFileInfo& h, std::span<std::uint8_t, kFinderInfoRecordBytes> out) {
  BEWriter w(out);
  w.u32(h.fdType).u32(h.fdCreator).u16(h.fdFlags);
  for (std::int16_t v : h.fdLocation) w.i16(v);
  w.i16(h.fdFldr);
}

void SwapFndrExtendedInfo(const FndrExtendedInfo& h,
                          std::span<std::uint8_t, kFinderInfoRecordBytes> out) {
  BEWriter w(out);
  for (std::uint16_t v : h) w.u16(v);
}

// ---- HFS ----

void swapHFSExtentDescriptor(const HFSExtentDescriptor& h, std::span<std::uint8_t, 4> out) {
  BEWriter(out).u16(h.startBlock).u16(h.blockCount);
}

void swapHFSMasterDirectoryBlock(const HFSMasterDirectoryBlock& h,
                                 std::span<std::uint8_t, kHFSMasterDirectoryBlockBytes> out) {
  BEWriter w(out);
  w.u16(h.drSigWord)
      .u32(h.drCrDate)
      .u32(h.drLsMod)
      .u16(h.drAtrb)
      .u16(h.drNmFls)
      .u16(h.drVBMSt)
      .u16(h.drAllocPtr)
      .u16(h.drNmAlBlks)
      .u32(h.drAlBlkSiz)
      .u32(h.drClpSiz)
      .u16(h.drAlBlSt)
      .u32(h.drNxtCNID)
      .u16(h.drFreeBks)
      .pascal(h.drVN, 27)
      .u32(h.drVolBkUp)
      .u16(h.drVSeqNum)
      .u32(h.drWrCnt)
      .u32(h.drXTClpSiz)
      .u32(h.drCTClpSiz)
      .u16(h.drNmRtDirs)
      .u32(h.drFilCnt)
      .u32(h.drDirCnt);
  for (std::uint32_t v : h.drFndrInfo) w.u32(v);
  w.u16(h.drVCSize).u16(h.drVBMCSize).u16(h.drCtlCSize).u32(h.drXTFlSize);
  extentRecord(w, h.drXTExtRec);
  w.u32(h.drCTFlSize);
  extentRecord(w, h.drCTExtRec);
}

std::size_t swapHFSCatalogKey(const HFSCatalogKey& h, std::span<std::uint8_t> out,
                              std::size_t paddedTo) {
  const std::size_t n = h.nodeName.size();
  if (n > kHFSMaxNameBytes) return 0;
  const std::size_t natural = 7 + n;
  const std::size_t size = paddedTo != 0 ? paddedTo : natural + (natural & 1);
  if (size < natural || size > 256 || size > out.size()) return 0;
  std::ranges::fill(out.first(size), std::uint8_t{0});
  BEWriter(out)
      .u8(static_cast<std::uint8_t>(paddedTo != 0 ? paddedTo - 1 : 6 + n))
      .u8(0)
      .u32(h.parentID)
      .u8(static_cast<std::uint8_t>(n))
      .fixedText(h.nodeName, n);
  return size;
}

void swapHFSCatalogFolder(const HFSCatalogFolder& h,
                          std::span<std::uint8_t, kHFSCatalogFolderBytes> out) {
  BEWriter w(out);
  w.i8(h.recordType)
      .u8(0)
      .u16(h.flags)
      .u16(h.valence)
      .u32(h.folderID)
      .u32(h.createDate)
      .u32(h.modifyDate)
      .u32(h.backupDate);
  nested(w, h.userInfo, SwapFndrDirInfo);
  nested(w, h.finderInfo, SwapFndrExtendedInfo);
  w.zeros(16);
}

void swapHFSCatalogFile(const HFSCatalogFile& h,
                        std::span<std::uint8_t, kHFSCatalogFileBytes> out) {
  BEWriter w(out);
  w.i8(h.recordType).u8(0).u8(h.flags).i8(h.fileType);
  nested(w, h.userInfo, SwapFndrFileInfo);
  w.u32(h.fileID)
      .u16(h.dataStartBlock)
      .i32(h.dataLogicalSize)
      .i32(h.dataPhysicalSize)
      .u16(h.rsrcStartBlock)
      .i32(h.rsrcLogicalSize)
      .i32(h.rsrcPhysicalSize)
      .u32(h.createDate)
      .u32(h.modifyDate)
      .u32(h.backupDate);
  nested(w, h.finderInfo, SwapFndrExtendedInfo);
  w.u16(h.clumpSize);
  extentRecord(w, h.dataExtents);
  extentRecord(w, h.rsrcExtents);
  w.u32(0);
}

void swapHFSCatalogThread(const HFSCatalogThread& h,
                          std::span<std::uint8_t, kHFSCatalogThreadBytes> out) {
  BEWriter(out)
      .i8(h.recordType)
      .u8(0)
      .zeros(8)
      .u32(h.parentID)
      .pascal(h.nodeName, kHFSMaxNameBytes);
}

// ---- HFS Plus ----

void SwapHFSPlusForkData(const HFSPlusForkData& h,
                         std::span<std::uint8_t, kHFSPlusForkDataBytes> out) {
  BEWriter(out)
      .u64(h.logicalSize)
      .u32(h.clumpSize)
      .u32(h.totalBlocks)
      .u32(h.firstExtent.startBlock)
      .u32(h.firstExtent.blockCount)
      .zeros(7 * 8);
}

void SwapHFSPlusVolumeHeader(const HFSPlusVolumeHeader& h,
                             std::span<std::uint8_t, kHFSPlusVolumeHeaderBytes> out) {
  BEWriter w(out);
  w.u16(h.signature)
      .u16(h.version)
      .u32(h.attributes)
      .u32(h.lastMountedVersion)
      .u32(h.journalInfoBlock)
      .u32(h.createDate)
      .u32(h.modifyDate)
      .u32(h.backupDate)
      .u32(h.checkedDate)
      .u32(h.fileCount)
      .u32(h.folderCount)
      .u32(h.blockSize)
      .u32(h.totalBlocks)
      .u32(h.freeBlocks)
      .u32(h.nextAllocation)
      .u32(h.rsrcClumpSize)
      .u32(h.dataClumpSize)
      .u32(h.nextCatalogID)
      .u32(h.writeCount)
      .u64(h.encodingsBitmap);
  w.bytes(h.finderInfo, h.finderInfo.size());
  for (const HFSPlusForkData* fork :
       {&h.allocationFile, &h.extentsFile, &h.catalogFile, &h.attributesFile, &h.startupFile})
    nested(w, *fork, SwapHFSPlusForkData);
}

void SwapHFSPlusBSDInfo(const HFSPlusBSDInfo& h,
                        std::span<std::uint8_t, kHFSPlusBSDInfoBytes> out) {
  BEWriter(out)
      .u32(h.ownerID)
      .u32(h.groupID)
      .u8(h.adminFlags)
      .u8(h.ownerFlags)
      .u16(h.fileMode)
      .u32(h.special);
}

std::size_t SwapHFSPlusCatalogKey(const HFSPlusCatalogKey& h, std::span<std::uint8_t> out) {
  const std::size_t n = h.nodeName.size();
  const std::size_t size = 8 + 2 * n;
  if (n > kHFSPlusMaxNameUnits || size > out.size()) return 0;
  BEWriter(out)
      .u16(static_cast<std::uint16_t>(6 + 2 * n))
      .u32(h.parentID)
      .u16(static_cast<std::uint16_t>(n))
      .units(h.nodeName);
  return size;
}

void SwapHFSPlusCatalogFolder(const HFSPlusCatalogFolder& h,
                              std::span<std::uint8_t, kHFSPlusCatalogFolderBytes> out) {
  BEWriter w(out);
  w.i16(h.recordType).u16(h.flags).u32(h.valence).u32(h.folderID);
  datesAndInformation(w, h, SwapFndrDirInfo);
  w.u32(h.reserved);
}

void SwapHFSPlusCatalogFile(const HFSPlusCatalogFile& h,
                            std::span<std::uint8_t, kHFSPlusCatalogFileBytes> out) {
  BEWriter w(out);
  w.i16(h.recordType).u16(h.flags).u32(h.reserved1).u32(h.fileID);
  datesAndInformation(w, h, SwapFndrFileInfo);
  w.u32(h.reserved2);
  nested(w, h.dataFork, SwapHFSPlusForkData);
  nested(w, h.resourceFork, SwapHFSPlusForkData);
}

std::size_t SwapHFSPlusCatalogThread(const HFSPlusCatalogThread& h, std::span<std::uint8_t> out) {
  const std::size_t n = h.nodeName.size();
  const std::size_t size = 10 + 2 * n;
  if (n > kHFSPlusMaxNameUnits || size > out.size()) return 0;
  BEWriter(out)
      .i16(h.recordType)
      .i16(h.reserved)
      .u32(h.parentID)
      .u16(static_cast<std::uint16_t>(n))
      .units(h.nodeName);
  return size;
}

}  // namespace quillion::hfs
