// SPDX-License-Identifier: GPL-2.0-or-later
// HFS Plus images read back by 7zz (listing, test, extraction equal to the source) and by a
// checker written here from the format's technical note: volume headers, allocation file,
// B-tree nodes and key order, extents of every file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "DPMs/hfs/catalog_keys.h"
#include "DPMs/hfs/dpm_fs_hfsplus.h"
#include "DPMs/hfs/hfs_names.h"
#include "common/byte_order.h"
#include "quillion/clock.h"
#include "tests/dpms/hfs_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;
using ByteView = std::span<const std::uint8_t>;
using namespace quillion::hfs;

namespace {

class HfsPlusProducer : public ::testing::Test {
 protected:
  std::uint32_t produce(const std::vector<MacEntry>& entries) {
    writeMacFixture(dir.file("src"), entries);
    tree = treeFromFolder(dir.file("src"), "Quillion HFS Plus");
    return drain();
  }

  std::uint32_t drain() {
    producer = std::make_unique<DPM_FS_HFSPlus>(tree.get(), 0);
    const DrainResult r = drainToFile(*producer, image());
    EXPECT_EQ(r.status, kNoErr);
    EXPECT_EQ(r.written, r.prepared) << producer->LayoutProblem();
    return r.prepared;
  }

  std::string image() const { return dir.file("out.img"); }

  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  TreePtr tree;
  std::unique_ptr<DPM_FS_HFSPlus> producer;
};

// The HFS Plus path of a fixture path: names are decomposed; of two titles that decompose
// alike, the one first in the tree keeps its name.
std::string plusPathOf(const std::string& source) {
  static const std::map<std::string, std::string> renamed = {
      {"Caf\u00e9 cr\u00e8me.txt", "Cafe\u0301 cre\u0300me.txt"},
      {"Accents/na\u00efve.txt", "Accents/nai\u0308ve.txt"},
      {"N\u00e9e.txt", "Ne\u0301e.txt"},
      {"Ne\u0301e.txt", "Ne\u0301e~1.txt"},
  };
  const auto it = renamed.find(source);
  return it == renamed.end() ? source : it->second;
}

TEST_F(HfsPlusProducer, SevenZipExtractsTheFixtureAndTheCheckerFindsNoFault) {
  QUILLION_REQUIRE_TOOL("7zz");
  const auto entries = macFixture();
  ASSERT_GT(produce(entries), 0u);
  EXPECT_TRUE(producer->MissingData().empty());

  int status = 0;
  const std::string tested = runReader({"7zz", "t", image()}, &status);
  EXPECT_EQ(status, 0) << tested;
  const std::string listed = runReader({"7zz", "l", "-slt", image()}, &status);
  EXPECT_EQ(status, 0) << listed;
  EXPECT_NE(listed.find("Type = APM"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Type = HFS"), std::string::npos) << listed;

  // 7zz takes the volume out of the partition map first; extract from the bare volume.
  const std::string volume = dir.file("volume.hfs");
  const ToolResult cut = runTool({"dd", "if=" + image(), "of=" + volume, "bs=18432", "skip=1"});
  ASSERT_EQ(cut.exitCode, 0) << cut.output;
  const std::string out = dir.file("x");
  const std::string extracted = runReader({"7zz", "x", "-y", "-o" + out, volume}, &status);
  EXPECT_EQ(status, 0) << extracted;
  std::map<std::string, std::string> wanted;
  for (const auto& [path, bytes] : dataForks(entries)) wanted[plusPathOf(path)] = bytes;
  // 7zz writes a resource fork beside its file as "name:rsrc".
  for (const MacEntry& e : entries)
    if (!e.resource.empty()) wanted[plusPathOf(e.path) + ":rsrc"] = e.resource;
  std::map<std::string, std::string> got;
  // The volume's name is the top folder of what 7zz extracts.
  const std::string top = "Quillion HFS Plus/";
  for (const auto& [path, bytes] : filesBelow(out)) {
    if (path == top) continue;
    EXPECT_EQ(path.rfind(top, 0), 0u) << path;
    got[path.substr(top.size())] = bytes;
  }
  EXPECT_EQ(differences(got, wanted), "");

  const PlusVolume v = checkPlusVolume(readFile(image()));
  EXPECT_EQ(v.problems, "");
  for (const MacEntry& e : entries) {
    if (e.path.back() == '/') continue;
    const auto it = v.files.find(plusPathOf(e.path));
    ASSERT_NE(it, v.files.end()) << e.path;
    EXPECT_EQ(it->second.dataBytes, e.bytes.size()) << e.path;
    EXPECT_EQ(it->second.rsrcBytes, e.resource.size()) << e.path;
    if (!e.typeCreator.empty()) {
      const ByteView code(reinterpret_cast<const std::uint8_t*>(e.typeCreator.data()), 8);
      EXPECT_EQ(it->second.type, be::get32(code, 0)) << e.path;
      EXPECT_EQ(it->second.creator, be::get32(code, 4)) << e.path;
    }
    // A resource fork comes before its file's data.
    if (e.resource.size() != 0 && e.bytes.size() != 0) {
      EXPECT_LT(it->second.rsrcStart, it->second.dataStart) << e.path;
    }
  }
}

}  // namespace

namespace {

// One folder and two files: IDs from 200 in the order of the tree, every file's blocks
// after the special files, a resource fork before its data, the next ID after the last.
TEST_F(HfsPlusProducer, LayoutOfASmallTree) {
  ASSERT_GT(produce({{"a.txt", "first", "", ""},
                     {"f/", "", "", ""},
                     {"f/r.bin", patternBytes(5000, 3), "TEXTttxt", patternBytes(100, 4)}}),
            0u);
  const PlusVolume v = checkPlusVolume(readFile(image()));
  ASSERT_EQ(v.problems, "");
  EXPECT_EQ(v.files.at("a.txt").id, 200u);
  EXPECT_EQ(v.folderIDs, std::set<std::uint32_t>{201});
  EXPECT_EQ(v.files.at("f/r.bin").id, 202u);
  EXPECT_EQ(v.nextCatalogID, 203u);
  EXPECT_EQ(v.fileCount, 2u);
  EXPECT_EQ(v.folderCount, 1u);
  const std::uint32_t first = producer->FirstFileBlock();
  EXPECT_EQ(first, 1 + producer->AllocationFileBlocks() + producer->ExtentsBlocks() +
                       producer->CatalogBlocks());
  EXPECT_EQ(v.files.at("a.txt").dataStart, first);
  EXPECT_EQ(v.files.at("f/r.bin").rsrcStart, first + 1);
  EXPECT_EQ(v.files.at("f/r.bin").dataStart, first + 2);
  EXPECT_EQ(v.files.at("f/r.bin").dataBlocks, 2u);
  EXPECT_EQ(v.totalBlocks, first + 4 + 1);
  EXPECT_EQ(producer->GetDataAreaOffset(), 18432 + std::uint64_t{first} * 4096);
}

TEST_F(HfsPlusProducer, AFixedTreeAndClockGiveTheSameBytes) {
  ASSERT_GT(produce(macFixture()), 0u);
  const auto first = readFile(image());
  ASSERT_GT(drain(), 0u);
  EXPECT_EQ(readFile(image()), first);
}

TEST_F(HfsPlusProducer, AVanishedFileIsLoggedAndFailsTheJob) {
  fs::create_directories(dir.file("src"));
  writeFile(dir.file("src/stays"), std::string("stays"));
  writeFile(dir.file("src/goes"), std::string("goes away"));
  tree = treeFromFolder(dir.file("src"), "T");
  fs::remove(dir.file("src/goes"));
  ASSERT_GT(drain(), 0u);
  ASSERT_FALSE(producer->MissingData().empty());
  EXPECT_EQ(producer->MissingData().front().node->Title(), "goes");
  EXPECT_EQ(producer->DataResult(), kErrFileAccess);
  ASSERT_FALSE(producer->LayoutNotes().empty());
  const PlusVolume v = checkPlusVolume(readFile(image()));
  EXPECT_EQ(v.problems, "");
  EXPECT_EQ(v.files.size(), 1u);
  EXPECT_TRUE(v.files.count("stays"));
}

// In a hybrid the extents file comes first and reaches past the ISO9660 header: E =
// ceil((header + 14336) / 4096), the allocation file after it.
TEST_F(HfsPlusProducer, AHybridVolumeMakesRoomForTheIso9660Header) {
  writeMacFixture(dir.file("src"), {{"a", "x", "", ""}});
  tree = treeFromFolder(dir.file("src"), "T");
  for (const std::uint64_t header : {2048ull, 3 * 2048ull, 40 * 2048ull}) {
    SCOPED_TRACE(header);
    DPM_FS_HFSPlus plus(tree.get(), 0);
    plus.Hybrid(true);
    EXPECT_EQ(plus.GenerateStuffsForHeaders(), kErrProducerNoSource);
    plus.SetISO9660HeaderSize(header);
    std::uint16_t size = 0;
    ASSERT_GT(plus.PrepareAll(&size, nullptr, nullptr), 0u) << plus.LayoutProblem();
    EXPECT_EQ(plus.ExtentsBlocks(), (header + 14336 + 4095) / 4096);
    EXPECT_GE(18432 + 4096 + plus.ExtentsBlocks() * 4096ull, 32768 + header);
    const std::vector<std::uint8_t> iso(header, 0xA5);
    EXPECT_EQ(plus.CombineISO9660Header(iso.data(), header + 2048), kErrProducerHeaderSize);
    EXPECT_EQ(plus.CombineISO9660Header(iso.data(), header), kNoErr);
    EXPECT_EQ(plus.GetDataAreaOffset() % 2048, 0u);
  }
}

// Names in their HFS and HFS Plus forms, cut and numbered.
TEST(HfsNames, NumberedCandidatesKeepTheExtensionWithinTheLimit) {
  struct Case {
    const char* name;
    std::uint32_t number;
    std::size_t max;
    const char* want;
  };
  const Case cases[] = {
      {"short.txt", 0, 31, "short.txt"},
      {"short.txt", 1, 31, "short~1.txt"},
      {"A name that is far too long for HFS.txt", 0, 31, "A name that is far too long.txt"},
      {"A name that is far too long for HFS.txt", 12, 31, "A name that is far too l~12.txt"},
      {"no extension at all but long enough", 3, 31, "no extension at all but long ~3"},
      {".hidden", 2, 31, ".hidden~2"},
      {"x.toolongext", 1, 31, "x.toolongext~1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hfs::numberedName(std::string(c.name), c.number, c.max), c.want) << c.name;
    EXPECT_LE(hfs::numberedName(std::string(c.name), c.number, c.max).size(), c.max);
  }
  // UTF-16: a surrogate pair is never split by the cut.
  const std::u16string emoji = u"ab\U0001F600cd";
  EXPECT_EQ(hfs::numberedName(emoji, 0, 3), u"ab");
}

TEST(HfsNames, SiblingsNeverShareAKeyUnderTheFormatsEquality) {
  std::vector<std::string> hfsNames = {"Read Me", "README", "read me", "other"};
  std::size_t failed = 99;
  ASSERT_TRUE(hfs::uniqueHFSNames(hfsNames, &failed));
  EXPECT_EQ(hfsNames, (std::vector<std::string>{"Read Me", "README", "read me~1", "other"}));

  // Case, and units the format ignores (zero-width non-joiner), do not tell names apart.
  std::vector<std::u16string> plusNames = {u"Report", u"REPORT", u"Re\u200Cport", u"Rapport"};
  ASSERT_TRUE(hfs::uniqueHFSPlusNames(plusNames, &failed));
  EXPECT_EQ(plusNames,
            (std::vector<std::u16string>{u"Report", u"REPORT~1", u"Re\u200Cport~2", u"Rapport"}));
  for (std::size_t i = 0; i < plusNames.size(); ++i)
    for (std::size_t j = i + 1; j < plusNames.size(); ++j)
      EXPECT_NE(hfs::FastUnicodeCompare(plusNames[i], plusNames[j]), 0) << i << " " << j;
}

TEST(HfsNames, HfsPlusNamesAreDecomposedOutsideTheExcludedRanges) {
  struct Case {
    const char* title;
    std::u16string want;
  };
  const Case cases[] = {
      {"Caf\u00e9", u"Cafe\u0301"},
      {"\u00c5ngstr\u00f6m", u"A\u030Angstro\u0308m"},
      // U+2126 OHM SIGN and U+F900 lie in ranges the format leaves as they are.
      {"\u2126 \uF900", u"\u2126 \uF900"},
      {"\ud55c", u"\u1112\u1161\u11AB"},  // Hangul syllables decompose into jamo
  };
  for (const Case& c : cases) {
    std::u16string got;
    ASSERT_EQ(hfs::hfsPlusName(c.title, got), kNoErr);
    EXPECT_EQ(got, c.want) << c.title;
  }
  // A title that is not UTF-8 is read as Latin-1, and said so.
  std::u16string got;
  bool latin1 = false;
  ASSERT_EQ(hfs::hfsPlusName("caf\xe9", got, &latin1), kNoErr);
  EXPECT_TRUE(latin1);
  EXPECT_EQ(got, u"cafe\u0301");
}

}  // namespace

namespace {

// Enough files for three index levels: every index record is its child's first key, the
// leaf chain holds every record in order, and 7zz finds every file.
TEST_F(HfsPlusProducer, ACatalogOfSeveralIndexLevelsReadsBack) {
  QUILLION_REQUIRE_TOOL("7zz");
  fs::create_directories(dir.file("src/many"));
  for (int i = 0; i < 3000; ++i)
    writeFile(dir.file("src/many/entry number " + std::to_string(100000 + i)), std::string());
  tree = treeFromFolder(dir.file("src"), "Deep");
  ASSERT_GT(drain(), 0u);
  const auto bytes = readFile(image());
  const PlusVolume v = checkPlusVolume(bytes);
  EXPECT_EQ(v.problems, "");
  EXPECT_EQ(v.files.size(), 3000u);
  // The catalog header's depth, from the volume header's catalog extent.
  const std::uint64_t catalog =
      18432 + std::uint64_t{be::get32(bytes, 18432 + 1024 + 272 + 16)} * 4096;
  EXPECT_GE(be::get16(bytes, catalog + 14), 3u);
  int status = 0;
  const std::string listed = runReader({"7zz", "l", image()}, &status);
  EXPECT_EQ(status, 0) << listed.substr(0, 2000);
  EXPECT_NE(listed.find("3000 files"), std::string::npos) << listed.substr(listed.size() - 500);
}

}  // namespace
