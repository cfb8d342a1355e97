// SPDX-License-Identifier: GPL-2.0-or-later
// The on-disc structures of HFS, HFS Plus and the Apple partition map, held in host order
// while a producer fills them. Each goes to disc through its routine in hfs_byte_order.h,
// which writes the big-endian bytes; nothing here is ever copied onto a buffer as it is.
// Field names and sizes follow Apple's published volume formats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillion::hfs {

// ---- partition map (512-byte blocks) ----
inline constexpr std::uint16_t kDriverDescriptorSignature = 0x4552;  // "ER"
inline constexpr std::uint16_t kPartitionMapSignature = 0x504D;      // "PM"
inline constexpr std::size_t kBlock0Bytes = 512;
inline constexpr std::size_t kPartitionBytes = 512;

struct DriverDescriptor {
  std::uint32_t ddBlock = 0;
  std::uint16_t ddSize = 0;
  std::uint16_t ddType = 0;
};

// The driver descriptor map at block 0. Only the first driver entry is ever filled.
struct Block0 {
  std::uint16_t sbSig = 0;
  std::uint16_t sbBlkSize = 0;
  std::uint32_t sbBlkCount = 0;
  std::uint16_t sbDevType = 0;
  std::uint16_t sbDevId = 0;
  std::uint32_t sbData = 0;
  std::uint16_t sbDrvrCount = 0;
  DriverDescriptor firstDriver;
};

struct Partition {
  std::uint16_t pmSig = 0;
  std::uint16_t pmSigPad = 0;
  std::uint32_t pmMapBlkCnt = 0;
  std::uint32_t pmPyPartStart = 0;
  std::uint32_t pmPartBlkCnt = 0;
  std::string pmPartName;  // at most 32 bytes, zero-padded on disc
  std::string pmParType;   // at most 32 bytes, zero-padded on disc
  std::uint32_t pmLgDataStart = 0;
  std::uint32_t pmDataCnt = 0;
  std::uint32_t pmPartStatus = 0;
  std::uint32_t pmLgBootStart = 0;
  std::uint32_t pmBootSize = 0;
  std::uint32_t pmBootAddr = 0;
  std::uint32_t pmBootAddr2 = 0;
  std::uint32_t pmBootEntry = 0;
  std::uint32_t pmBootEntry2 = 0;
  std::uint32_t pmBootCksum = 0;
};

// ---- B-trees (both formats) ----
inline constexpr std::size_t kBTNodeDescriptorBytes = 14;
inline constexpr std::size_t kBTHeaderRecBytes = 106;
inline constexpr std::size_t kBTUserDataBytes = 128;  // the header node's second record

enum BTNodeKind : std::int8_t {
  kBTLeafNode = -1,
  kBTIndexNode = 0,
  kBTHeaderNode = 1,
  kBTMapNode = 2
};

struct BTNodeDescriptor {
  std::uint32_t fLink = 0;
  std::uint32_t bLink = 0;
  std::int8_t kind = 0;
  std::uint8_t height = 0;
  std::uint16_t numRecords = 0;
  std::uint16_t reserved = 0;
};

struct BTHeaderRec {
  std::uint16_t treeDepth = 0;
  std::uint32_t rootNode = 0;
  std::uint32_t leafRecords = 0;
  std::uint32_t firstLeafNode = 0;
  std::uint32_t lastLeafNode = 0;
  std::uint16_t nodeSize = 0;
  std::uint16_t maxKeyLength = 0;
  std::uint32_t totalNodes = 0;
  std::uint32_t freeNodes = 0;
  std::uint16_t reserved1 = 0;
  std::uint32_t clumpSize = 0;
  std::uint8_t btreeType = 0;
  std::uint8_t keyCompareType = 0;
  std::uint32_t attributes = 0;
};

// ---- Finder information (both formats) ----
inline constexpr std::size_t kFinderInfoRecordBytes = 16;

struct FndrDirInfo {
  std::array<std::int16_t, 4> frRect{};  // top, left, bottom, right
  std::uint16_t frFlags = 0;
  std::array<std::int16_t, 2> frLocation{};  // v, h
  std::int16_t frView = 0;
};

struct FndrFileInfo {
  std::uint32_t fdType = 0;
  std::uint32_t fdCreator = 0;
  std::uint16_t fdFlags = 0;
  std::array<std::int16_t, 2> fdLocation{};
  std::int16_t fdFldr = 0;
};

// The extended Finder information, eight 16-bit words in both formats.
using FndrExtendedInfo = std::array<std::uint16_t, 8>;

// ---- HFS ----
inline constexpr std::uint16_t kHFSSignature = 0x4244;  // "BD"
inline constexpr std::size_t kHFSMasterDirectoryBlockBytes = 162;
inline constexpr std::size_t kHFSMaxNameBytes = 31;
inline constexpr std::size_t kHFSCatalogFolderBytes = 70;
inline constexpr std::size_t kHFSCatalogFileBytes = 102;
inline constexpr std::size_t kHFSCatalogThreadBytes = 46;

enum HFSRecordType : std::int8_t {
  kHFSFolderRecord = 1,
  kHFSFileRecord = 2,
  kHFSFolderThreadRecord = 3,
  kHFSFileThreadRecord = 4,
};

struct HFSExtentDescriptor {
  std::uint16_t startBlock = 0;
  std::uint16_t blockCount = 0;
};
using HFSExtentRecord = std::array<HFSExtentDescriptor, 3>;

struct HFSMasterDirectoryBlock {
  std::uint16_t drSigWord = 0;
  std::uint32_t drCrDate = 0;
  std::uint32_t drLsMod = 0;
  std::uint16_t drAtrb = 0;
  std::uint16_t drNmFls = 0;
  std::uint16_t drVBMSt = 0;
  std::uint16_t drAllocPtr = 0;
  std::uint16_t drNmAlBlks = 0;
  std::uint32_t drAlBlkSiz = 0;
  std::uint32_t drClpSiz = 0;
  std::uint16_t drAlBlSt = 0;
  std::uint32_t drNxtCNID = 0;
  std::uint16_t drFreeBks = 0;
  std::string drVN;  // the volume name, at most 27 bytes (Mac Roman)
  std::uint32_t drVolBkUp = 0;
  std::uint16_t drVSeqNum = 0;
  std::uint32_t drWrCnt = 0;
  std::uint32_t drXTClpSiz = 0;
  std::uint32_t drCTClpSiz = 0;
  std::uint16_t drNmRtDirs = 0;
  std::uint32_t drFilCnt = 0;
  std::uint32_t drDirCnt = 0;
  std::array<std::uint32_t, 8> drFndrInfo{};
  std::uint16_t drVCSize = 0;
  std::uint16_t drVBMCSize = 0;
  std::uint16_t drCtlCSize = 0;
  std::uint32_t drXTFlSize = 0;
  HFSExtentRecord drXTExtRec{};
  std::uint32_t drCTFlSize = 0;
  HFSExtentRecord drCTExtRec{};
};

struct HFSCatalogKey {
  std::uint32_t parentID = 0;
  std::string nodeName;  // at most 31 bytes (Mac Roman)
};

struct HFSCatalogFolder {
  std::int8_t recordType = kHFSFolderRecord;
  std::uint16_t flags = 0;
  std::uint16_t valence = 0;
  std::uint32_t folderID = 0;
  std::uint32_t createDate = 0;
  std::uint32_t modifyDate = 0;
  std::uint32_t backupDate = 0;
  FndrDirInfo userInfo;
  FndrExtendedInfo finderInfo{};
};

struct HFSCatalogFile {
  std::int8_t recordType = kHFSFileRecord;
  std::uint8_t flags = 0;
  std::int8_t fileType = 0;
  FndrFileInfo userInfo;
  std::uint32_t fileID = 0;
  std::uint16_t dataStartBlock = 0;
  std::int32_t dataLogicalSize = 0;
  std::int32_t dataPhysicalSize = 0;
  std::uint16_t rsrcStartBlock = 0;
  std::int32_t rsrcLogicalSize = 0;
  std::int32_t rsrcPhysicalSize = 0;
  std::uint32_t createDate = 0;
  std::uint32_t modifyDate = 0;
  std::uint32_t backupDate = 0;
  FndrExtendedInfo finderInfo{};
  std::uint16_t clumpSize = 0;
  HFSExtentRecord dataExtents{};
  HFSExtentRecord rsrcExtents{};
};

struct HFSCatalogThread {
  std::int8_t recordType = kHFSFolderThreadRecord;
  std::uint32_t parentID = 0;
  std::string nodeName;  // at most 31 bytes
};

// ---- HFS Plus ----
inline constexpr std::uint16_t kHFSPlusSignature = 0x482B;  // "H+"
inline constexpr std::size_t kHFSPlusVolumeHeaderBytes = 512;
inline constexpr std::size_t kHFSPlusForkDataBytes = 80;
inline constexpr std::size_t kHFSPlusBSDInfoBytes = 16;
inline constexpr std::size_t kHFSPlusCatalogFolderBytes = 88;
inline constexpr std::size_t kHFSPlusCatalogFileBytes = 248;
inline constexpr std::size_t kHFSPlusMaxNameUnits = 255;

enum HFSPlusRecordType : std::int16_t {
  kHFSPlusFolderRecord = 1,
  kHFSPlusFileRecord = 2,
  kHFSPlusFolderThreadRecord = 3,
  kHFSPlusFileThreadRecord = 4,
};

struct HFSPlusExtentDescriptor {
  std::uint32_t startBlock = 0;
  std::uint32_t blockCount = 0;
};

// The producers use only the first extent; the other seven stay zero on disc.
struct HFSPlusForkData {
  std::uint64_t logicalSize = 0;
  std::uint32_t clumpSize = 0;
  std::uint32_t totalBlocks = 0;
  HFSPlusExtentDescriptor firstExtent;
};

struct HFSPlusVolumeHeader {
  std::uint16_t signature = 0;
  std::uint16_t version = 0;
  std::uint32_t attributes = 0;
  std::uint32_t lastMountedVersion = 0;
  std::uint32_t journalInfoBlock = 0;
  std::uint32_t createDate = 0;
  std::uint32_t modifyDate = 0;
  std::uint32_t backupDate = 0;
  std::uint32_t checkedDate = 0;
  std::uint32_t fileCount = 0;
  std::uint32_t folderCount = 0;
  std::uint32_t blockSize = 0;
  std::uint32_t totalBlocks = 0;
  std::uint32_t freeBlocks = 0;
  std::uint32_t nextAllocation = 0;
  std::uint32_t rsrcClumpSize = 0;
  std::uint32_t dataClumpSize = 0;
  std::uint32_t nextCatalogID = 0;
  std::uint32_t writeCount = 0;
  std::uint64_t encodingsBitmap = 0;
  std::array<std::uint8_t, 32> finderInfo{};  // kept in disc order as it is
  HFSPlusForkData allocationFile;
  HFSPlusForkData extentsFile;
  HFSPlusForkData catalogFile;
  HFSPlusForkData attributesFile;
  HFSPlusForkData startupFile;
};

struct HFSPlusBSDInfo {
  std::uint32_t ownerID = 0;
  std::uint32_t groupID = 0;
  std::uint8_t adminFlags = 0;
  std::uint8_t ownerFlags = 0;
  std::uint16_t fileMode = 0;
  std::uint32_t special = 0;
};

struct HFSPlusCatalogKey {
  std::uint32_t parentID = 0;
  std::u16string nodeName;  // at most 255 units
};

struct HFSPlusCatalogFolder {
  std::int16_t recordType = kHFSPlusFolderRecord;
  std::uint16_t flags = 0;
  std::uint32_t valence = 0;
  std::uint32_t folderID = 0;
  std::uint32_t createDate = 0;
  std::uint32_t contentModDate = 0;
  std::uint32_t attributeModDate = 0;
  std::uint32_t accessDate = 0;
  std::uint32_t backupDate = 0;
  HFSPlusBSDInfo permissions;
  FndrDirInfo userInfo;
  FndrExtendedInfo finderInfo{};
  std::uint32_t textEncoding = 0;
  std::uint32_t reserved = 0;
};

struct HFSPlusCatalogFile {
  std::int16_t recordType = kHFSPlusFileRecord;
  std::uint16_t flags = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t fileID = 0;
  std::uint32_t createDate = 0;
  std::uint32_t contentModDate = 0;
  std::uint32_t attributeModDate = 0;
  std::uint32_t accessDate = 0;
  std::uint32_t backupDate = 0;
  HFSPlusBSDInfo permissions;
  FndrFileInfo userInfo;
  FndrExtendedInfo finderInfo{};
  std::uint32_t textEncoding = 0;
  std::uint32_t reserved2 = 0;
  HFSPlusForkData dataFork;
  HFSPlusForkData resourceFork;
};

struct HFSPlusCatalogThread {
  std::int16_t recordType = kHFSPlusFolderThreadRecord;
  std::int16_t reserved = 0;
  std::uint32_t parentID = 0;
  std::u16string nodeName;
};

}  // namespace quillion::hfs
