// SPDX-License-Identifier: GPL-2.0-or-later
// What the HFS producers share: the catalog key orders (tables of cases), the big-endian
// form of the structures (minimal HFS and HFS Plus volumes assembled from them, read by
// hfsutils and 7zz) and the partition map (read by hfsutils and 7zz).
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "DPMs/hfs/apple_partition_map.h"
#include "DPMs/hfs/catalog_keys.h"
#include "DPMs/hfs/hfs_byte_order.h"
#include "tests/dpms/producer_support.h"

using namespace quillion;
using namespace quillion::hfs;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> hfsKey(std::uint32_t parent, const std::string& name) {
  std::vector<std::uint8_t> key(64);
  key.resize(swapHFSCatalogKey(HFSCatalogKey{parent, name}, key));
  return key;
}

std::vector<std::uint8_t> plusKey(std::uint32_t parent, const std::u16string& name) {
  std::vector<std::uint8_t> key(600);
  key.resize(SwapHFSPlusCatalogKey(HFSPlusCatalogKey{parent, name}, key));
  return key;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  return hexOf(std::string(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(HFSKeyOrder, ParentThenNamesInMacRomanOrderCaseFoldedMarksKept) {
  struct Case {
    std::uint32_t pa;
    std::string a;
    std::uint32_t pb;
    std::string b;
    int order;  // -1: a first, 0: equal keys, 1: b first
  };
  // Names in Mac Roman bytes.
  const Case cases[] = {
      {2, "abc", 2, "ABD", -1},
      {2, "ab", 2, "abc", -1},
      {1, "zzz", 2, "a", -1},
      {2, "ABC", 2, "abc", 0},
      {7, "", 7, "a", -1},
      {2, "a_b", 2, "a[b", 1},       // '_' after '[': symbols after 'Z' keep their byte order
      {2, "\x80", 2, "\x8A", 0},     // A and a with diaeresis are one letter in two cases
      {2, "\x8E", 2, "E", 1},        // e acute follows E ...
      {2, "\x8Et\x8E", 2, "F", -1},  // ... and comes before F, whatever its sign as a char
      {2, "\x8E", 2, "\x8F", -1},    // marks stay distinct: e acute before e grave
      {2, " x", 2, "\xCAx", 0},      // the no-break space is a space
      {2, "\xE9", 2, "A", 1},        // E grave capital came later: after every letter
      {2, "\xD8", 2, "z", -1},       // y diaeresis sorts with Y
      {2, "\xAE", 2, "B", -1},       // AE among the A forms
      {2, "\xD2", 2, "#", -1},       // curly quotes right after the straight '"'
      {2, "\xD2", 2, "\"", 1},
  };
  const Key_Compare less;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    const auto a = hfsKey(c.pa, c.a), b = hfsKey(c.pb, c.b);
    EXPECT_EQ(less(a, b), c.order < 0);
    EXPECT_EQ(less(b, a), c.order > 0);
    EXPECT_EQ(Key_Equals{a}(b), c.order == 0);
  }
  EXPECT_FALSE(Key_Equals{hfsKey(2, "abc")}(hfsKey(3, "abc")));
}

TEST(HFSPlusKeyOrder, CaseAndIgnorableUnitsFoldAwayNulSortsLast) {
  struct Case {
    std::u16string a, b;
    int order;
  };
  const Case cases[] = {
      {u"a", u"B", -1},
      {u"A", u"a", 0},
      {u"a\u200Cb", u"ab", 0},                  // zero-width non-joiner is ignorable
      {u"\uFEFFab", u"AB", 0},                  // so is the byte-order mark
      {u"\u00C9t\u00E9", u"\u00E9T\u00C9", 0},  // Latin-1 capitals fold
      {u"\u0411", u"\u0431", 0},                // Cyrillic
      {u"\u03A3", u"\u03C3", 0},                // Greek
      {u"\u10A0", u"\u10D0", 0},                // Georgian
      {u"\uFF21", u"\uFF41", 0},                // full-width
      {u"\u2160", u"\u2170", 0},                // Roman numerals
      {u"\u0130", u"i", 1},                     // never folded into ASCII
      {u"ab", u"a", 1},
      {u"a", std::u16string(u"a\0", 2), -1},  // U+0000 counts, as the highest unit
      {u"ab", std::u16string(u"a\0", 2), -1},
      {u"e\u0301", u"\u00E9", -1},  // no normalisation: decomposed and composed differ
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.a));
    EXPECT_EQ(FastUnicodeCompare(c.a, c.b), c.order);
    EXPECT_EQ(FastUnicodeCompare(c.b, c.a), -c.order);
    const UnicodeKey_Compare less;
    EXPECT_EQ(less(plusKey(9, c.a), plusKey(9, c.b)), c.order < 0);
  }
  const UnicodeKey_Compare less;
  EXPECT_TRUE(less(plusKey(8, u"z"), plusKey(9, u"a")));
}

// A key and a thread record once converted: counts and units big-endian.
TEST(HFSByteOrder, KeysAndThreadsAreBigEndian) {
  EXPECT_EQ(hex(plusKey(0x01020304, u"ab")),
            "000a0102030400020061"
            "0062");
  std::vector<std::uint8_t> thread(64);
  thread.resize(SwapHFSPlusCatalogThread(
      HFSPlusCatalogThread{kHFSPlusFileThreadRecord, 0, 0x10, u"\u00E9"}, thread));
  EXPECT_EQ(hex(thread), "0004000000000010000100e9");
  EXPECT_EQ(hex(hfsKey(0x10, "abc")), "09000000001003616263");
  EXPECT_EQ(hex(hfsKey(0x10, "ab")),
            "080000000010026162"
            "00")
      << "padded to an even size";
  std::vector<std::uint8_t> index(64);
  index.resize(swapHFSCatalogKey(HFSCatalogKey{1, "x"}, index, 38));
  ASSERT_EQ(index.size(), 38u);
  EXPECT_EQ(index[0], 37);
}

namespace {

constexpr std::uint32_t kBlock = 4096;
constexpr std::uint32_t kBlocks = 32;

template <std::size_t N, typename T>
void put(std::vector<std::uint8_t>& image, std::size_t at, const T& value,
         void (*swap)(const T&, std::span<std::uint8_t, N>)) {
  swap(value, std::span<std::uint8_t, N>(image.data() + at, N));
}

// The smallest HFS Plus volume that holds one file: volume header and its copy, allocation
// file, an empty extents tree and a catalog of one leaf node (root folder, its thread, the
// file and its thread), every structure through its byte-order routine.
std::vector<std::uint8_t> minimalHFSPlusVolume(const std::string& fileBytes) {
  std::vector<std::uint8_t> image(std::size_t{kBlocks} * kBlock);
  const auto fork = [](std::uint64_t bytes, std::uint32_t start, std::uint32_t blocks) {
    HFSPlusForkData f;
    f.logicalSize = bytes;
    f.clumpSize = kBlock;
    f.totalBlocks = blocks;
    f.firstExtent = {start, blocks};
    return f;
  };
  // Allocation file (block 1): blocks 0-5 and the last one in use.
  image[kBlock] = 0xFC;
  image[kBlock + kBlocks / 8 - 1] = 0x01;

  BTNodeDescriptor headerDescriptor;
  headerDescriptor.kind = kBTHeaderNode;
  BTHeaderRec extents;
  extents.nodeSize = kBlock;
  extents.maxKeyLength = 10;
  extents.totalNodes = 1;
  extents.clumpSize = kBlock;
  extents.attributes = 0x2;  // big keys
  const std::uint8_t oneNode[] = {0x80};
  EXPECT_TRUE(SwapHFSPlus_BTHeaderNode(headerDescriptor, extents, oneNode,
                                       std::span(image).subspan(2 * kBlock, kBlock)));

  BTHeaderRec catalog;
  catalog.treeDepth = 1;
  catalog.rootNode = 1;
  catalog.leafRecords = 4;
  catalog.firstLeafNode = 1;
  catalog.lastLeafNode = 1;
  catalog.nodeSize = kBlock;
  catalog.maxKeyLength = 516;
  catalog.totalNodes = 2;
  catalog.clumpSize = kBlock;
  catalog.attributes = 0x6;  // big keys, variable index keys
  const std::uint8_t twoNodes[] = {0xC0};
  EXPECT_TRUE(SwapHFSPlus_BTHeaderNode(headerDescriptor, catalog, twoNodes,
                                       std::span(image).subspan(3 * kBlock, kBlock)));

  BTNode leaf;
  leaf.descriptor.kind = kBTLeafNode;
  leaf.descriptor.height = 1;
  const auto record = [&leaf](std::uint32_t parent, const std::u16string& name,
                              const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> bytes = plusKey(parent, name);
    bytes.insert(bytes.end(), body.begin(), body.end());
    leaf.append(bytes);
  };
  HFSPlusCatalogFolder root;
  root.valence = 1;
  root.folderID = 2;
  root.createDate = root.contentModDate = 0xE0000000;
  root.permissions.fileMode = 040755;
  std::vector<std::uint8_t> body(kHFSPlusCatalogFileBytes);
  SwapHFSPlusCatalogFolder(root, std::span<std::uint8_t, kHFSPlusCatalogFolderBytes>(
                                     body.data(), kHFSPlusCatalogFolderBytes));
  record(1, u"Vol",
         std::vector<std::uint8_t>(body.begin(), body.begin() + kHFSPlusCatalogFolderBytes));
  std::vector<std::uint8_t> thread(600);
  thread.resize(SwapHFSPlusCatalogThread({kHFSPlusFolderThreadRecord, 0, 1, u"Vol"}, thread));
  record(2, u"", thread);
  HFSPlusCatalogFile file;
  file.fileID = 16;
  file.createDate = file.contentModDate = 0xE0000000;
  file.permissions.fileMode = 0100644;
  file.userInfo.fdType = 0x54455854;     // 'TEXT'
  file.userInfo.fdCreator = 0x74747874;  // 'ttxt'
  file.dataFork = fork(fileBytes.size(), 5, 1);
  SwapHFSPlusCatalogFile(file, std::span<std::uint8_t, kHFSPlusCatalogFileBytes>(
                                   body.data(), kHFSPlusCatalogFileBytes));
  record(2, u"f.txt", body);
  thread.assign(600, 0);
  thread.resize(SwapHFSPlusCatalogThread({kHFSPlusFileThreadRecord, 0, 2, u"f.txt"}, thread));
  record(16, u"", thread);
  EXPECT_TRUE(SwapBTNode(leaf, std::span(image).subspan(4 * kBlock, kBlock)));

  std::copy(fileBytes.begin(), fileBytes.end(), image.begin() + 5 * kBlock);

  HFSPlusVolumeHeader header;
  header.signature = kHFSPlusSignature;
  header.version = 4;
  header.attributes = 0x100;  // cleanly unmounted
  header.lastMountedVersion = 0x31302E30;
  header.createDate = header.modifyDate = 0xE0000000;
  header.fileCount = 1;
  header.blockSize = kBlock;
  header.totalBlocks = kBlocks;
  header.freeBlocks = kBlocks - 7;
  header.nextAllocation = 6;
  header.rsrcClumpSize = header.dataClumpSize = kBlock;
  header.nextCatalogID = 17;
  header.writeCount = 1;
  header.encodingsBitmap = 1;
  header.allocationFile = fork(kBlock, 1, 1);
  header.extentsFile = fork(kBlock, 2, 1);
  header.catalogFile = fork(2 * kBlock, 3, 2);
  put(image, 1024, header, SwapHFSPlusVolumeHeader);
  put(image, image.size() - 1024, header, SwapHFSPlusVolumeHeader);
  return image;
}

}  // namespace

// 7zz decodes the volume: names from the keys, sizes from the fork data, permissions from
// the BSD information, dates, and the file's bytes through its extent. (The hfsplus tools
// cannot open image files on this system: hpfsck tries to write to them and hpmount finds
// no volume, so they are no oracle here.)
TEST(HFSByteOrder, MinimalHFSPlusVolumeReadsIn7zz) {
  QUILLION_REQUIRE_TOOL("7zz");
  TempDir dir;
  const std::string bytes = "hello from every structure\n";
  writeFile(dir.file("plus.img"), minimalHFSPlusVolume(bytes));
  int status = -1;
  const std::string tested = runReader({"7zz", "t", dir.file("plus.img")}, &status);
  EXPECT_EQ(status, 0) << tested;
  const std::string listing = runReader({"7zz", "l", "-slt", dir.file("plus.img")});
  for (const char* expected :
       {"Path = Vol\nFolder = +\nSize = \nPacked Size = \nCreated = 2023-02-01 11:39:44\n"
        "Modified = 2023-02-01 11:39:44",
        "Mode = drwxr-xr-x",
        "Path = Vol/f.txt\nFolder = -\nSize = 27\nPacked Size = 4096\n"
        "Created = 2023-02-01 11:39:44\nModified = 2023-02-01 11:39:44",
        "Mode = -rw-r--r--"})
    EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
  fs::create_directories(dir.file("x"));
  (void)runReader({"7zz", "x", "-y", "-o" + dir.file("x").string(), dir.file("plus.img")});
  EXPECT_EQ(readText(dir.file("x/Vol/f.txt")), bytes);
}

namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kHFSSectors = 1600;

// The smallest HFS volume that holds one file, in 512-byte allocation blocks from sector 4:
// master directory block and its copy, bitmap, an empty extents tree and a catalog of one
// leaf node (root folder, its thread, the file).
std::vector<std::uint8_t> minimalHFSVolume(const std::string& fileBytes) {
  std::vector<std::uint8_t> image(std::size_t{kHFSSectors} * kSector);
  constexpr std::uint16_t kFirstAllocation = 4, kAllocationBlocks = kHFSSectors - 6;
  const auto sector = [&image](std::uint32_t n) {
    return std::span(image).subspan(std::size_t{n} * kSector, kSector);
  };
  image[3 * kSector] = 0xF0;  // allocation blocks 0-3 in use

  BTNodeDescriptor headerDescriptor;
  headerDescriptor.kind = kBTHeaderNode;
  BTHeaderRec extents;
  extents.nodeSize = kSector;
  extents.maxKeyLength = 7;
  extents.totalNodes = 1;
  const std::uint8_t oneNode[] = {0x80};
  EXPECT_TRUE(swapHFS_BTHeaderNode(
      headerDescriptor, extents, std::span<const std::uint8_t>(oneNode), sector(kFirstAllocation)));
  BTHeaderRec catalog;
  catalog.treeDepth = 1;
  catalog.rootNode = 1;
  catalog.leafRecords = 3;
  catalog.firstLeafNode = 1;
  catalog.lastLeafNode = 1;
  catalog.nodeSize = kSector;
  catalog.maxKeyLength = 37;
  catalog.totalNodes = 2;
  const std::uint8_t twoNodes[] = {0xC0};
  EXPECT_TRUE(swapHFS_BTHeaderNode(headerDescriptor, catalog,
                                   std::span<const std::uint8_t>(twoNodes),
                                   sector(kFirstAllocation + 1)));

  BTNode leaf;
  leaf.descriptor.kind = kBTLeafNode;
  leaf.descriptor.height = 1;
  const auto record = [&leaf](std::uint32_t parent, const std::string& name, auto swap,
                              const auto& value, std::size_t size) {
    std::vector<std::uint8_t> bytes = hfsKey(parent, name);
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    swap(value, std::span<std::uint8_t>(bytes).subspan(at, size));
    leaf.append(bytes);
  };
  HFSCatalogFolder root;
  root.valence = 1;
  root.folderID = 2;
  root.createDate = root.modifyDate = 0xE0000000;
  record(
      1, "Vol",
      [](const HFSCatalogFolder& v, std::span<std::uint8_t> out) {
        swapHFSCatalogFolder(v, out.first<kHFSCatalogFolderBytes>());
      },
      root, kHFSCatalogFolderBytes);
  record(
      2, "",
      [](const HFSCatalogThread& v, std::span<std::uint8_t> out) {
        swapHFSCatalogThread(v, out.first<kHFSCatalogThreadBytes>());
      },
      HFSCatalogThread{kHFSFolderThreadRecord, 1, "Vol"}, kHFSCatalogThreadBytes);
  HFSCatalogFile file;
  file.fileID = 16;
  file.userInfo.fdType = 0x54455854;     // 'TEXT'
  file.userInfo.fdCreator = 0x74747874;  // 'ttxt'
  file.dataStartBlock = 3;
  file.dataLogicalSize = static_cast<std::int32_t>(fileBytes.size());
  file.dataPhysicalSize = kSector;
  file.createDate = file.modifyDate = 0xE0000000;
  file.dataExtents[0] = {3, 1};
  record(
      2, "f.txt",
      [](const HFSCatalogFile& v, std::span<std::uint8_t> out) {
        swapHFSCatalogFile(v, out.first<kHFSCatalogFileBytes>());
      },
      file, kHFSCatalogFileBytes);
  EXPECT_TRUE(swapBTNode(leaf, sector(kFirstAllocation + 2)));
  std::copy(fileBytes.begin(), fileBytes.end(), image.begin() + (kFirstAllocation + 3) * kSector);

  HFSMasterDirectoryBlock mdb;
  mdb.drSigWord = kHFSSignature;
  mdb.drCrDate = mdb.drLsMod = 0xE0000000;
  mdb.drAtrb = 0x100;
  mdb.drNmFls = 1;
  mdb.drVBMSt = 3;
  mdb.drAllocPtr = 4;
  mdb.drNmAlBlks = kAllocationBlocks;
  mdb.drAlBlkSiz = kSector;
  mdb.drClpSiz = 4 * kSector;
  mdb.drAlBlSt = kFirstAllocation;
  mdb.drNxtCNID = 17;
  mdb.drFreeBks = kAllocationBlocks - 4;
  mdb.drVN = "Classic";
  mdb.drXTClpSiz = mdb.drCTClpSiz = kSector;
  mdb.drFilCnt = 1;
  mdb.drXTFlSize = kSector;
  mdb.drXTExtRec[0] = {0, 1};
  mdb.drCTFlSize = 2 * kSector;
  mdb.drCTExtRec[0] = {1, 2};
  for (const std::uint32_t at : {2u, kHFSSectors - 2})
    swapHFSMasterDirectoryBlock(mdb, sector(at).first<kHFSMasterDirectoryBlockBytes>());
  return image;
}

}  // namespace

// hfsutils read the classic volume: the name from the master directory block, the file's
// name, type, creator and size from the catalog, its bytes through its extent.
TEST(HFSByteOrder, MinimalHFSVolumeReadsInHfsutils) {
  QUILLION_REQUIRE_TOOL("hmount");
  TempDir dir;
  const std::string bytes = "classic volume\n";
  writeFile(dir.file("hfs.img"), minimalHFSVolume(bytes));
  const std::string mounted = runReader({"hmount", dir.file("hfs.img")}, nullptr, dir.path());
  EXPECT_NE(mounted.find("Volume name is \"Classic\""), std::string::npos) << mounted;
  const std::string listing = runReader({"hls", "-l"}, nullptr, dir.path());
  EXPECT_NE(listing.find("f  TEXT/ttxt         0        15"), std::string::npos) << listing;
  EXPECT_NE(listing.find("f.txt"), std::string::npos) << listing;
  (void)runReader({"hcopy", "-r", ":f.txt", dir.file("back.txt")}, nullptr, dir.path());
  (void)runReader({"humount"}, nullptr, dir.path());
  EXPECT_EQ(readText(dir.file("back.txt")), bytes);
}

// The map in front of a volume: hfsutils finds and mounts the HFS partition, 7zz lists
// both entries with their names, places and status; with an HFS Plus volume behind it 7zz
// reads on into the volume.
TEST(ApplePartitionMap, ReadBackByHfsutilsAnd7zz) {
  QUILLION_REQUIRE_TOOL("hformat");
  QUILLION_REQUIRE_TOOL("7zz");
  TempDir dir;
  const std::string volume = dir.file("vol");
  writeFile(volume, std::string(800 * 1024, '\0'));
  (void)runReader({"hformat", "-l", "Mapped", volume}, nullptr, dir.path());
  writeFile(dir.file("f.txt"), "inside the partition\n");
  (void)runReader({"hmount", volume}, nullptr, dir.path());
  (void)runReader({"hcopy", "-r", dir.file("f.txt"), ":f.txt"}, nullptr, dir.path());
  (void)runReader({"humount"}, nullptr, dir.path());

  const auto wrap = [&](const std::vector<std::uint8_t>& vol, VolumeKind kind) {
    std::vector<std::uint8_t> image(kVolumeOffsetBytes);
    const auto sectors = static_cast<std::uint32_t>(kVolumeStartSector + vol.size() / 512);
    EXPECT_TRUE(
        writeApplePartitionMap(sectors, kind, std::span<std::uint8_t, kVolumeOffsetBytes>(image)));
    image.insert(image.end(), vol.begin(), vol.end());
    return image;
  };
  const std::string hfsBytes = readText(volume);
  writeFile(dir.file("hfs.img"),
            wrap(std::vector<std::uint8_t>(hfsBytes.begin(), hfsBytes.end()), VolumeKind::hfs));
  const std::string mounted = runReader({"hmount", dir.file("hfs.img")}, nullptr, dir.path());
  EXPECT_NE(mounted.find("contains 1 HFS partition"), std::string::npos) << mounted;
  EXPECT_NE(mounted.find("Volume name is \"Mapped\""), std::string::npos) << mounted;
  (void)runReader({"hcopy", "-r", ":f.txt", dir.file("back.txt")}, nullptr, dir.path());
  (void)runReader({"humount"}, nullptr, dir.path());
  EXPECT_EQ(readText(dir.file("back.txt")), "inside the partition\n");

  const std::string map = runReader({"7zz", "l", "-slt", "-tAPM", dir.file("hfs.img")});
  const std::string entry1 =
      "Path = ZEB HFS/HFS+ Engine.Apple_partition_map\nSize = 1024\nOffset = 512\n"
      "Characteristics = VALID ALLOCATED READABLE WRITABLE";
  const std::string entry2 =
      "Path = ZEB HFS/HFS+ Engine.hfs\nSize = " + std::to_string(hfsBytes.size()) +
      "\nOffset = 18432\nCharacteristics = VALID ALLOCATED READABLE WRITABLE";
  EXPECT_NE(map.find(entry1), std::string::npos) << map;
  EXPECT_NE(map.find(entry2), std::string::npos) << map;

  const std::string content = "behind the map\n";
  writeFile(dir.file("plus.img"), wrap(minimalHFSPlusVolume(content), VolumeKind::hfsPlus));
  fs::create_directories(dir.file("x"));
  (void)runReader({"7zz", "x", "-y", "-o" + dir.file("x").string(), dir.file("plus.img")});
  EXPECT_EQ(readText(dir.file("x/Vol/f.txt")), content) << runReader({"ls", "-R", dir.file("x")});
  std::array<std::uint8_t, kVolumeOffsetBytes> tooSmall{};
  EXPECT_FALSE(writeApplePartitionMap(kVolumeStartSector, VolumeKind::hfs, tooSmall));
}
