// SPDX-License-Identifier: GPL-2.0-or-later
// HFS images read back by hfsutils: every name, size, type and creator listed, every data
// fork copied out equal to its source; the layout's sums read from the master directory
// block; refusals with their status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "DPMs/hfs/dpm_fs_hfs.h"
#include "common/byte_order.h"
#include "quillion/clock.h"
#include "tests/dpms/hfs_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMdbAt = 18432 + 1024;

class HfsProducer : public ::testing::Test {
 protected:
  std::uint32_t produce(const std::vector<MacEntry>& entries, DPM_FS_HFS::Limits limits = {}) {
    writeMacFixture(dir.file("src"), entries);
    tree = treeFromFolder(dir.file("src"), "Quillion HFS");
    return drain(limits);
  }

  std::uint32_t drain(DPM_FS_HFS::Limits limits = {}) {
    producer = std::make_unique<DPM_FS_HFS>(tree.get(), 0, limits);
    const DrainResult r = drainToFile(*producer, image());
    EXPECT_EQ(r.status, kNoErr);
    EXPECT_EQ(r.written, r.prepared) << producer->LayoutProblem();
    return r.prepared;
  }

  std::string image() const { return dir.file("out.img"); }
  std::vector<std::uint8_t> mdb() const {
    const auto bytes = readFile(image());
    return {bytes.begin() + kMdbAt, bytes.begin() + kMdbAt + 162};
  }

  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  TreePtr tree;
  std::unique_ptr<DPM_FS_HFS> producer;
};

// hfsutils open no volume under 800 KiB.
std::string filler() {
  return patternBytes(820 * 1024, 11);
}

// The HFS path a fixture path is listed under: the names this producer had to change.
std::string hfsPathOf(const std::string& source) {
  static const std::map<std::string, std::string> renamed = {
      {"A name that is far too long for HFS, number one.txt", "A name that is far too long.txt"},
      {"A name that is far too long for HFS, number two.txt", "A name that is far too lo~1.txt"},
      // HFS names are composed: the composed title comes first in the tree and keeps the
      // plain name, the decomposed one is numbered.
      {"Ne\u0301e.txt", "N\u00e9e~1.txt"},
  };
  const auto it = renamed.find(source);
  return it == renamed.end() ? source : it->second;
}

TEST_F(HfsProducer, HfsutilsListAndCopyEveryFileOfTheFixture) {
  QUILLION_REQUIRE_TOOL("hmount");
  QUILLION_REQUIRE_TOOL("iconv");
  const auto entries = macFixture();
  ASSERT_GT(produce(entries), 0u);
  EXPECT_TRUE(producer->MissingData().empty());

  const auto listing = hfsListing(image(), dir.path());
  std::map<std::string, std::string> wanted;
  for (const auto& [path, bytes] : dataForks(entries)) wanted[hfsPathOf(path)] = bytes;
  const auto copied = hfsExtract(listing, dir.path(), dir.file("out"));
  EXPECT_EQ(differences(copied, wanted), "");

  for (const MacEntry& e : entries) {
    if (e.path.back() == '/') continue;
    const auto it = listing.find(hfsPathOf(e.path));
    ASSERT_NE(it, listing.end()) << e.path;
    EXPECT_EQ(it->second.dataBytes, e.bytes.size()) << e.path;
    EXPECT_EQ(it->second.rsrcBytes, e.resource.size()) << e.path;
    if (!e.typeCreator.empty()) {
      EXPECT_EQ(it->second.typeCreator, e.typeCreator.substr(0, 4) + "/" + e.typeCreator.substr(4))
          << e.path;
    }
  }
  int status = 0;
  const std::string volume = runReader({"hvol"}, &status, dir.path());
  EXPECT_EQ(status, 0) << volume;
  EXPECT_NE(volume.find("Quillion HFS"), std::string::npos) << volume;
  (void)runReader({"humount"}, nullptr, dir.path());
}

// hcopy looks every name up through the catalog's index nodes: a name is found only where
// the catalog's order is the file system's own. The names go to hcopy in Mac Roman, with its
// pattern characters escaped.
TEST_F(HfsProducer, HfsutilsFindEveryMacRomanNameByItsName) {
  QUILLION_REQUIRE_TOOL("hmount");
  QUILLION_REQUIRE_TOOL("iconv");
  auto entries = macRomanNamesFixture(dir.file("names.txt"));
  ASSERT_EQ(entries.size(), 1u + 222u);
  entries.push_back({"filler.bin", filler(), "", ""});
  ASSERT_GT(produce(entries), 0u);

  const auto listing = hfsListing(image(), dir.path());  // leaves the volume mounted
  std::size_t listed = 0;
  for (const auto& [path, entry] : listing) listed += entry.macPath.starts_with(":Roman:");
  EXPECT_EQ(listed, 222u);
  int found = 0;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == ':' || b == '/') continue;
    const std::string code = hexOf(std::string(1, static_cast<char>(b)));
    std::string pattern = ":Roman:";
    if (std::string_view("\\{}[]*?").find(static_cast<char>(b)) != std::string_view::npos)
      pattern += '\\';
    pattern += static_cast<char>(b);
    pattern += "-" + code;
    const fs::path target = dir.file("copy-" + code);
    int status = 0;
    const std::string said =
        runReader({"hcopy", "-r", pattern, target.string()}, &status, dir.path());
    SCOPED_TRACE("byte 0x" + code);
    EXPECT_EQ(status, 0) << said;
    if (status != 0) continue;
    // The file's text is its name in UTF-8 and ends in its code: the right file was found.
    const std::string text = readText(target);
    EXPECT_TRUE(text.ends_with("-" + code + "\n")) << text;
    ++found;
  }
  EXPECT_EQ(found, 222);
  (void)runReader({"humount"}, nullptr, dir.path());
}

// Names the file system holds equal beyond ASCII (the two cases of a marked letter, a space
// and a no-break space) would be one catalog key: the later sibling is numbered, and every
// file comes back.
TEST_F(HfsProducer, SiblingsEqualUnderMacRomanCaseFoldingAreKeptApart) {
  QUILLION_REQUIRE_TOOL("hmount");
  QUILLION_REQUIRE_TOOL("iconv");
  const std::vector<MacEntry> entries = {
      {"\u00c4rger.txt", "capital\n", "", ""}, {"\u00e4rger.txt", "small\n", "", ""},
      {"two words", "space\n", "", ""},        {"two\u00a0words", "no-break\n", "", ""},
      {"filler.bin", filler(), "", ""},
  };
  ASSERT_GT(produce(entries), 0u);
  const auto listing = hfsListing(image(), dir.path());
  const auto copied = hfsExtract(listing, dir.path(), dir.file("out"));
  (void)runReader({"humount"}, nullptr, dir.path());
  std::multiset<std::string> texts;
  for (const auto& [path, bytes] : copied) texts.insert(bytes);
  EXPECT_EQ(texts, (std::multiset<std::string>{"capital\n", "small\n", "space\n", "no-break\n",
                                               filler()}));
}

TEST_F(HfsProducer, ResourceForksComeBackWithHcopyInMacBinary) {
  QUILLION_REQUIRE_TOOL("hmount");
  const std::string resource = patternBytes(3000, 9), data = patternBytes(1000, 8);
  ASSERT_GT(produce({{"Forked", data, "APPLMYAP", resource}, {"filler", filler(), "", ""}}), 0u);
  const auto listing = hfsListing(image(), dir.path());
  ASSERT_TRUE(listing.count("Forked"));
  // MacBinary: 128-byte header, the data fork padded to 128, then the resource fork.
  int status = 0;
  (void)runReader({"hcopy", "-m", ":Forked", dir.file("f.bin")}, &status, dir.path());
  ASSERT_EQ(status, 0);
  const std::string bin = readText(dir.file("f.bin"));
  ASSERT_GE(bin.size(), 128 + 1024 + resource.size());
  EXPECT_EQ(bin.substr(65, 8), "APPLMYAP");
  EXPECT_EQ(bin.substr(128, data.size()), data);
  EXPECT_EQ(bin.substr(128 + 1024, resource.size()), resource);
}

// Layout sums for small trees: allocation blocks of 2048, one extents block, the catalog in
// blocks of four 512-byte nodes, the bitmap's leading ones and the image size.
TEST_F(HfsProducer, LayoutSumsOfSmallTrees) {
  struct Case {
    std::vector<MacEntry> entries;
    std::uint32_t fileBlocks;
    std::uint32_t nextID;  // items take IDs from 200; the next one follows the last
  };
  const std::vector<Case> cases = {
      {{{"a", "x", "", ""}}, 1, 201},
      {{{"a", patternBytes(2048), "", ""}, {"b", patternBytes(2049), "", ""}}, 3, 202},
      {{{"d/", "", "", ""}, {"d/e", "", "", ""}, {"r", "1", "", patternBytes(10)}}, 2, 203},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(dir.file("src"));
    const std::uint32_t blocks = produce(cases[i].entries);
    const auto m = mdb();
    EXPECT_EQ(be::get16(m, 0), 0x4244);
    EXPECT_EQ(be::get32(m, 20), 2048u);  // allocation block size
    EXPECT_EQ(be::get16(m, 28), 19u);    // first allocation block, in sectors
    const std::uint32_t n = producer->CatalogNodes();
    EXPECT_EQ(producer->ExtentsBlocks(), 1u);
    EXPECT_EQ(producer->CatalogBlocks(), (n + 3) / 4);
    EXPECT_EQ(producer->FileBlocks(), cases[i].fileBlocks);
    const std::uint32_t used = 1 + (n + 3) / 4 + cases[i].fileBlocks;
    EXPECT_EQ(be::get16(m, 18), used);  // allocation blocks
    const auto bytes = readFile(image());
    for (std::uint32_t bit = 0; bit < used + 8; ++bit) {
      const bool set = (bytes[18432 + 1536 + bit / 8] >> (7 - bit % 8)) & 1;
      EXPECT_EQ(set, bit < used) << bit;
    }
    const std::uint64_t dataArea = 28160 + std::uint64_t{(n + 3) / 4 + 1} * 2048;
    EXPECT_EQ(producer->GetDataAreaOffset(), dataArea);
    EXPECT_EQ(blocks, (dataArea + cases[i].fileBlocks * 2048ull + 1024 + 2047) / 2048);
    // The alternate master directory block: 1024 bytes before the image's end.
    EXPECT_TRUE(std::equal(m.begin(), m.end(), bytes.end() - 1024));
    EXPECT_EQ(be::get32(m, 30), cases[i].nextID);
  }
}

TEST_F(HfsProducer, AFixedTreeAndClockGiveTheSameBytes) {
  ASSERT_GT(produce(macFixture()), 0u);
  const auto first = readFile(image());
  ASSERT_GT(drain(), 0u);
  EXPECT_EQ(readFile(image()), first);
}

TEST_F(HfsProducer, FilesNeedingMoreThan65535BlocksGet4096ByteBlocks) {
  QUILLION_REQUIRE_TOOL("hmount");
  fs::create_directories(dir.file("src"));
  {
    std::ofstream sparse(dir.file("src/huge"), std::ios::binary);
    sparse.seekp(65537LL * 2048 - 1);
    sparse.put('z');
  }
  writeFile(dir.file("src/small"), std::string("small"));
  tree = treeFromFolder(dir.file("src"), "Huge");
  ASSERT_GT(drain(), 0u);
  EXPECT_EQ(producer->AllocationBlockSize(), 4096u);
  const auto listing = hfsListing(image(), dir.path());
  ASSERT_TRUE(listing.count("huge"));
  EXPECT_EQ(listing.at("huge").dataBytes, 65537ull * 2048);
  EXPECT_EQ(hfsExtract({{"small", listing.at("small")}}, dir.path(), dir.file("x")).at("small"),
            "small");
}

TEST_F(HfsProducer, RefusalsGiveTheirStatus) {
  fs::create_directories(dir.file("src"));
  for (int i = 0; i < 4; ++i) writeFile(dir.file("src/f" + std::to_string(i)), std::string("x"));
  tree = treeFromFolder(dir.file("src"), "T");
  struct Case {
    const char* what;
    DPM_FS_HFS::Limits limits;
    bool hybrid;
    EngineStatus status;
  };
  const Case cases[] = {
      {"more files than the volume takes", {3, 65535}, false, kErrProducerTooManyFiles},
      {"no block size keeps the volume in bounds", {65536, 2}, false, kErrProducerBlockSize},
      {"hybrid without an ISO9660 header size", {}, true, kErrProducerNoSource},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DPM_FS_HFS hfs(tree.get(), 0, c.limits);
    hfs.Hybrid(c.hybrid);
    EXPECT_EQ(hfs.GenerateStuffsForHeaders(), c.status);
    EXPECT_FALSE(hfs.LayoutProblem().empty());
    std::uint16_t size = 0;
    EXPECT_EQ(hfs.PrepareAll(&size, nullptr, nullptr), 0u);
  }
  DPM_FS_HFS noTree(nullptr, 0);
  EXPECT_EQ(noTree.GenerateStuffsForHeaders(), kErrProducerNoRoot);
  DPM_FS_HFS hfs(tree.get(), 0);
  hfs.Hybrid(true);
  hfs.SetISO9660HeaderSize(3 * 2048);
  std::uint16_t size = 0;
  ASSERT_GT(hfs.PrepareAll(&size, nullptr, nullptr), 0u);
  const std::vector<std::uint8_t> header(4 * 2048);
  EXPECT_EQ(hfs.CombineISO9660Header(header.data(), header.size()), kErrProducerHeaderSize);
  EXPECT_EQ(hfs.CombineISO9660Header(nullptr, 3 * 2048), kErrBadArgument);
  EXPECT_EQ(hfs.CombineISO9660Header(header.data(), 3 * 2048), kNoErr);
}

TEST_F(HfsProducer, NamesWithNoFreeNumberAreRefusedNeverDoubled) {
  fs::create_directories(dir.file("src"));
  // Every one of these cuts to the same 27 bytes: the first 1000 get a name each.
  for (int i = 0; i < 1001; ++i)
    writeFile(dir.file("src/The same long beginning of a name " + std::to_string(10000 + i)),
              std::string());
  tree = treeFromFolder(dir.file("src"), "T");
  DPM_FS_HFS hfs(tree.get(), 0);
  EXPECT_EQ(hfs.GenerateStuffsForHeaders(), kErrProducerName);
  EXPECT_NE(hfs.LayoutProblem().find("The same long beginning"), std::string::npos);
}

TEST_F(HfsProducer, AVanishedFileIsLoggedAndFailsTheJob) {
  QUILLION_REQUIRE_TOOL("hmount");
  fs::create_directories(dir.file("src"));
  writeFile(dir.file("src/stays"), std::string("stays"));
  writeFile(dir.file("src/goes"), std::string("goes away"));
  writeFile(dir.file("src/filler"), filler());
  tree = treeFromFolder(dir.file("src"), "T");
  fs::remove(dir.file("src/goes"));
  ASSERT_GT(drain(), 0u);
  ASSERT_FALSE(producer->MissingData().empty());
  EXPECT_EQ(producer->MissingData().front().node->Title(), "goes");
  EXPECT_EQ(producer->DataResult(), kErrFileAccess);
  ASSERT_FALSE(producer->LayoutNotes().empty());
  EXPECT_NE(producer->LayoutNotes().front().find("goes"), std::string::npos);
  const auto listing = hfsListing(image(), dir.path());
  EXPECT_EQ(listing.size(), 2u);
  EXPECT_TRUE(listing.count("stays"));
  EXPECT_FALSE(listing.count("goes"));
}

TEST_F(HfsProducer, FileLocationsHoldEachForkInTheirSectors) {
  const auto entries = macFixture();
  ASSERT_GT(produce(entries), 0u);
  FS_FileLocList* raw = nullptr;
  ASSERT_EQ(producer->GetFileLocList(&raw), kNoErr);
  FS_FileLocListPtr list(raw);
  ASSERT_EQ(list->blockSize, 2048u);
  const auto bytes = readFile(image());
  const std::string img(bytes.begin(), bytes.end());
  std::size_t checked = 0;
  for (std::uint32_t i = 0; i < list->count; ++i) {
    const FS_FileLocListEntry& e = FS_FileLocListEntries(list.get())[i];
    const std::string data = readText(e.node->fsRef.path());
    if (data.empty()) {
      EXPECT_EQ(e.dataLBA, 0u);
      continue;
    }
    const std::string sectors =
        img.substr(std::size_t{e.dataLBA} * 2048, std::size_t{e.dataBlocks} * 2048);
    EXPECT_NE(sectors.find(data), std::string::npos) << e.node->Title();
    ++checked;
  }
  EXPECT_GT(checked, 70u);
}

}  // namespace

namespace {

// 7zz reads the partition map: the map's own entry at sector 1 and the volume from byte
// 18432 to the image's end.
TEST_F(HfsProducer, SevenZipReadsThePartitionMap) {
  QUILLION_REQUIRE_TOOL("7zz");
  ASSERT_GT(produce({{"a", "x", "", ""}}), 0u);
  const std::uint64_t size = fs::file_size(image());
  int status = 0;
  const std::string listed = runReader({"7zz", "l", "-slt", "-tAPM", image()}, &status);
  ASSERT_EQ(status, 0) << listed;
  EXPECT_NE(listed.find("Physical Size = " + std::to_string(size)), std::string::npos) << listed;
  EXPECT_NE(
      listed.find("Path = ZEB HFS/HFS+ Engine.Apple_partition_map\nSize = 1024\nOffset = 512"),
      std::string::npos)
      << listed;
  EXPECT_NE(listed.find("Path = ZEB HFS/HFS+ Engine.hfs\nSize = " + std::to_string(size - 18432) +
                        "\nOffset = 18432"),
            std::string::npos)
      << listed;
}

// A folder made in the layout has no file to take dates from: it gets the present moment,
// as the volume does (the virtual clock stands at 2023-11-14 22:13:20 UTC).
TEST_F(HfsProducer, AFolderWithNoFileBehindItCarriesTheCurrentDate) {
  QUILLION_REQUIRE_TOOL("hmount");
  fs::create_directories(dir.file("src"));
  writeFile(dir.file("src/filler"), filler());
  tree = treeFromFolder(dir.file("src"), "Dated");
  FS_Node* made = FS_Node::MakeFolder("Made here", tree->Root(), false);
  ASSERT_NE(made, nullptr);
  ASSERT_GT(drain(), 0u);
  int status = 0;
  (void)runReader({"hmount", image()}, &status, dir.path());
  ASSERT_EQ(status, 0);
  const std::string volume = runReader({"hvol"}, &status, dir.path());
  EXPECT_NE(volume.find("created on Tue Nov 14 22:13:20 2023"), std::string::npos) << volume;
  const std::string listed = runReader({"hls", "-l"}, &status, dir.path());
  ASSERT_EQ(status, 0) << listed;
  const auto line = listed.find("Made here");
  ASSERT_NE(line, std::string::npos) << listed;
  const std::string row =
      listed.substr(listed.rfind('\n', line) + 1, line - listed.rfind('\n', line));
  EXPECT_NE(row.find("Nov 14  2023"), std::string::npos) << row;
  (void)runReader({"humount"}, nullptr, dir.path());
}

// In a hybrid the bitmap has 13 sectors so that allocation block 0 lies at byte 26624, and
// the extents file reaches past the ISO9660 header copied to byte 32768.
TEST_F(HfsProducer, AHybridVolumeMakesRoomForTheIso9660Header) {
  fs::create_directories(dir.file("src"));
  writeFile(dir.file("src/a"), std::string("x"));
  tree = treeFromFolder(dir.file("src"), "T");
  for (const std::uint64_t header : {2048ull, 5 * 2048ull, 300 * 2048ull}) {
    SCOPED_TRACE(header);
    DPM_FS_HFS hfs(tree.get(), 0);
    hfs.Hybrid(true);
    hfs.SetISO9660HeaderSize(header);
    std::uint16_t size = 0;
    ASSERT_GT(hfs.PrepareAll(&size, nullptr, nullptr), 0u) << hfs.LayoutProblem();
    const std::uint64_t c = hfs.AllocationBlockSize();
    EXPECT_EQ(hfs.ExtentsBlocks(), (header + 6144 + c - 1) / c);
    EXPECT_GE(26624 + hfs.ExtentsBlocks() * c, 32768 + header);
    EXPECT_EQ(hfs.GetDataAreaOffset() % 2048, 0u);
    EXPECT_EQ(hfs.GetDataAreaOffset(), 26624 + (hfs.ExtentsBlocks() + hfs.CatalogBlocks()) * c);
  }
}

}  // namespace
