// SPDX-License-Identifier: GPL-2.0-or-later
// The ISO9660 producer's layout at its edges: option combinations, a directory that fills
// a block exactly, the empty tree, 2336-byte blocks, the UDF bridge layout and the hybrid
// hooks, and layouts that cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "DPMs/base/dpm_mode2_form1.h"
#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "DPMs/iso9660/iso_dir_queue.h"
#include "common/byte_order.h"
#include "quillion/clock.h"
#include "tests/dpms/iso_fixture.h"
#include "tree/char_compare.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

class Iso9660Layout : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"isoinfo", "xorriso", "bsdtar"}) QUILLION_REQUIRE_TOOL(tool);
  }
  std::string src() const { return dir.file("src"); }
  std::string image() const { return dir.file("out.iso"); }
  std::map<std::string, std::string> extract(const std::string& from) {
    const std::string into = dir.file("x" + std::to_string(++extractions));
    fs::create_directories(into);
    (void)runReader({"xorriso", "-indev", from, "-osirrox", "on", "-extract", "/", into});
    return filesBelow(into);
  }

  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  int extractions = 0;
};

std::uint32_t pvdField32(const std::string& image, std::size_t at) {
  return le::get32({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()},
                   16 * 2048 + at);
}

using Options = std::tuple<DPM_FS_ISO9660::ISOFormat, bool, bool, bool>;  // apple, version, xa

class Iso9660Options : public Iso9660Layout, public ::testing::WithParamInterface<Options> {};

}  // namespace

// Every combination of format, Apple extensions, version suffix and XA fields sizes its
// directories as it writes them: xorriso and bsdtar list the whole fixture.
TEST_P(Iso9660Options, ReadersListTheWholeTree) {
  const auto [format, apple, version, xa] = GetParam();
  const auto entries = richFixture();
  writeFixture(src(), entries);
  TreePtr tree = treeFromFolder(src(), "OPTIONS");
  DPM_FS_ISO9660 producer(tree.get(), format, 0, apple, version, xa);
  const DrainResult r = drainToFile(producer, image());
  ASSERT_GT(r.prepared, 0u) << producer.LayoutProblem();
  ASSERT_EQ(r.written, r.prepared);
  if (format == DPM_FS_ISO9660::kJoliet) {
    EXPECT_EQ(differences(xorrisoListing(image()), expectedListing(entries)), "");
    EXPECT_EQ(differences(bsdtarListing(image()), expectedListing(entries)), "");
  }
  std::map<std::string, std::string> source;
  for (const FixtureEntry& e : entries) source[e.source] = e.bytes;
  EXPECT_EQ(contentsWithDepth(extract(image())), contentsWithDepth(source));
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, Iso9660Options,
    ::testing::Combine(::testing::Values(DPM_FS_ISO9660::kISO9660, DPM_FS_ISO9660::kJoliet),
                       ::testing::Bool(), ::testing::Bool(), ::testing::Bool()));

// 68 bytes of "." and "..", 39 records of 40 bytes and 10 of 42 fill one block exactly;
// one more record starts a second block, and readers find it there.
TEST_F(Iso9660Layout, DirectoryThatFillsABlockExactly) {
  fs::create_directories(src() + "/full");
  for (int i = 0; i < 39; ++i)
    writeFile(src() + "/full/a" + std::to_string(100 + i).substr(1) + ".txt", "a");
  for (int i = 0; i < 10; ++i) writeFile(src() + "/full/b00" + std::to_string(i) + ".txt", "b");
  for (const bool extra : {false, true}) {
    SCOPED_TRACE(extra);
    if (extra) writeFile(src() + "/full/z.txt", "z");
    TreePtr tree = treeFromFolder(src(), "FULL");
    DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kISO9660, 0, false, false, false);
    ASSERT_GT(drainToFile(producer, image()).written, 0u);
    const auto dirs = isoinfoListing(image());
    ASSERT_EQ(dirs.at("/").size(), 1u);
    EXPECT_EQ(dirs.at("/")[0].size, extra ? 4096u : 2048u);
    EXPECT_EQ(dirs.at("/FULL/").size(), extra ? 50u : 49u);
    EXPECT_EQ(dirs.at("/FULL/").back().name, extra ? "Z.TXT" : "B009.TXT");
    EXPECT_EQ(xorrisoListing(image()).size(), extra ? 51u : 50u);
  }
}

// Root only: one directory block, a 10-byte path table, 5 header blocks; the volume space
// counts the session's start.
TEST_F(Iso9660Layout, EmptyTree) {
  TreePtr tree(new FS_Tree(nullptr));
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kISO9660, 100, false, true, false);
  ASSERT_EQ(producer.GenerateStuffsForHeaders(), kNoErr);
  EXPECT_EQ(producer.GetISO9660HeaderSize(), 5u * 2048);
  const DrainResult r = drainToFile(producer, image());
  EXPECT_EQ(r.prepared, 21u);
  const std::string bytes = readText(image());
  EXPECT_EQ(pvdField32(bytes, 80), 121u) << "volume space";
  EXPECT_EQ(pvdField32(bytes, 132), 10u) << "path table bytes";
  const std::string d = runReader({"isoinfo", "-d", "-N", "100", "-i", image()});
  EXPECT_NE(d.find("Volume id: UNTITLED"), std::string::npos) << d;
  EXPECT_NE(d.find("Volume size is: 121"), std::string::npos) << d;
}

// The Video CD's ISO9660 part: plain ISO9660 whatever was asked, version suffixes, no Apple
// extensions, the CD-i bridge system identifier.
TEST_F(Iso9660Layout, VideoCDMode) {
  writeFixture(src(), {{"info.vcd", "", "INFO"}});
  TreePtr tree = treeFromFolder(src(), "VIDEOCD");
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kJoliet, 0, true, false, true);
  producer.SetVideoCDMode(true);
  ASSERT_GT(drainToFile(producer, image()).written, 0u);
  const std::string d = runReader({"isoinfo", "-d", "-i", image()});
  EXPECT_NE(d.find("System id: CD-RTOS CD-BRIDGE\n"), std::string::npos) << d;
  EXPECT_NE(d.find("NO Joliet present"), std::string::npos) << d;
  const auto root = isoinfoListing(image()).at("/");
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].name, "INFO.VCD;1");
  EXPECT_EQ(readText(image()).find("AA\x0E\x02"), std::string::npos) << "no Apple fields";
}

// 2336-byte blocks (the producer wrapped for Mode 2 Form 1): each is 8 zero bytes, the 2048
// bytes of the same block, 280 zero bytes.
TEST_F(Iso9660Layout, Mode2BlocksWrapEachDataBlock) {
  writeFixture(src(), {{"a.bin", "", patternBytes(5000)}, {"b/c.txt", "", "c"}});
  TreePtr tree = treeFromFolder(src(), "M2");
  DPM_FS_ISO9660 plain(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, true);
  DPM_Mode2Form1 wrapped(
      std::make_unique<DPM_FS_ISO9660>(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, true));
  const DrainResult a = drainToFile(plain, dir.file("plain.iso"));
  const DrainResult b = drainToFile(wrapped, dir.file("mode2.img"), 2336, 5);
  ASSERT_EQ(b.blockSize, 2336);
  ASSERT_EQ(a.written, b.written);
  const std::string data = readText(dir.file("plain.iso")),
                    sectors = readText(dir.file("mode2.img"));
  ASSERT_EQ(sectors.size(), std::size_t{b.written} * 2336);
  std::string unwrapped;
  for (std::size_t i = 0; i < b.written; ++i) {
    const std::string sector = sectors.substr(i * 2336, 2336);
    ASSERT_EQ(sector.substr(0, 8), std::string(8, '\0')) << i;
    ASSERT_EQ(sector.substr(2056), std::string(280, '\0')) << i;
    unwrapped += sector.substr(8, 2048);
  }
  EXPECT_TRUE(unwrapped == data);
}

// The UDF bridge layout: descriptors at 16-18, blocks 19-256 left free, the tables from
// block 257; no version suffixes, no XA, no system identifier. Readers still find every
// file.
TEST_F(Iso9660Layout, UdfBridgeLayout) {
  const std::vector<FixtureEntry> entries = {{"a.txt", "a.txt", "aaa"},
                                             {"dir/b.bin", "dir/b.bin", patternBytes(3000)}};
  writeFixture(src(), entries);
  TreePtr tree = treeFromFolder(src(), "BRIDGE");
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kUDFBridge, 0, false, true, true);
  ASSERT_GT(drainToFile(producer, image()).written, 0u);
  const std::string bytes = readText(image());
  EXPECT_EQ(bytes[16 * 2048], 1);
  EXPECT_EQ(bytes[17 * 2048], 2);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[18 * 2048]), 255u);
  EXPECT_EQ(bytes.substr(19 * 2048, 238 * 2048), std::string(238 * 2048, '\0'));
  EXPECT_EQ(pvdField32(bytes, 140), 257u) << "L path table";
  EXPECT_EQ(bytes.substr(16 * 2048 + 8, 32), std::string(32, ' ')) << "system identifier";
  EXPECT_EQ(bytes.substr(16 * 2048 + 1024, 8), std::string(8, '\0')) << "no XA marker";
  const auto dirs = isoinfoListing(image());
  ASSERT_EQ(dirs.at("/").size(), 2u);
  EXPECT_EQ(dirs.at("/")[0].name, "A.TXT");
  EXPECT_EQ(differences(extract(image()), expectedJolietTree(entries)), "");
}

// A hybrid part builds only headers, pointing its records into another producer's data
// area: its table of 4096-byte blocks and its data offset. A file the other side left out
// of its table gets no record, and the records after it close up so readers still find
// them.
TEST_F(Iso9660Layout, HybridHooksPointIntoAnotherDataArea) {
  std::vector<FixtureEntry> entries = {{"left out.bin", "left out.bin", patternBytes(5000, 1)},
                                       {"one.bin", "one.bin", patternBytes(5000, 2)},
                                       {"sub/two.txt", "sub/two.txt", "two"}};
  writeFixture(src(), entries);
  TreePtr tree = treeFromFolder(src(), "HYBRID");
  FS_FileLocTable other;
  ASSERT_EQ(tree->GenerateFileLocTable(4096, &other, false), kNoErr);
  other.index.erase(tree->Root()->FindChild("left out.bin"));
  entries.erase(entries.begin());
  DPM_FS_ISO9660 iso(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  iso.Hybrid(true);
  ASSERT_EQ(iso.GenerateStuffsForHeaders(), kNoErr);
  const std::uint32_t headerBytes = iso.GetISO9660HeaderSize();
  const std::uint32_t dataOffset = 32768 + headerBytes + 10 * 2048;  // room the other side keeps
  iso.SetFileLocTable(&other);
  iso.SetDataAreaOffset(dataOffset);
  std::uint16_t size = 0;
  ASSERT_GT(iso.PrepareAll(&size, nullptr, nullptr), 0u);

  // The image as the other side would lay it out: its data at its own offsets.
  std::string bytes(dataOffset + std::size_t{other.allocatedBlocks} * 4096, '\0');
  std::copy_n(iso.HeaderBuffer(), headerBytes, bytes.begin() + 32768);
  for (const FS_FileLoc& loc : other.entries)
    for (const FixtureEntry& e : entries)
      if (layoutPath(*loc.node) == e.source)
        std::copy(e.bytes.begin(), e.bytes.end(),
                  bytes.begin() + dataOffset + loc.dataStart * 4096);
  std::ofstream(image(), std::ios::binary) << bytes;
  EXPECT_EQ(differences(extract(image()), expectedJolietTree(entries)), "");
  EXPECT_EQ(isoinfoListing(image()).at("/").size(), 2u);
  std::uint32_t blocks = 0;
  EXPECT_GT(iso.GetNodeLBN(tree->Root(), &blocks, DPM_FS_ISO9660::kJoliet), 16u);
  EXPECT_EQ(blocks, 1u);
  EXPECT_EQ(iso.GetNodeLBN(tree->Root(), &blocks, DPM_FS_ISO9660::kUDFBridge), 0u);
}

// A title that is not UTF-8 (a name in an old 8-bit encoding) keeps its file and is read as
// Latin-1 in the Joliet tree, with a line for the burn log; plain ISO9660 names it in
// d-characters.
TEST_F(Iso9660Layout, TitleThatIsNotUtf8IsReadAsLatin1) {
  fs::create_directories(src());
  writeFile(src() + "/ok.txt", "ok");
  writeFile(src() + "/caf\xE9.txt", "latin-1 name");
  TreePtr tree = treeFromFolder(src(), "NAMES");
  DPM_FS_ISO9660 joliet(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  ASSERT_GT(drainToFile(joliet, image()).written, 0u) << joliet.LayoutProblem();
  ASSERT_EQ(joliet.LayoutNotes().size(), 1u);
  EXPECT_EQ(joliet.LayoutNotes()[0],
            "\r?? Name is not valid UTF-8, read as Latin-1 \"caf\xC3\xA9.txt\": " + src() +
                "/caf\xE9.txt\r");
  const auto files = extract(image());
  ASSERT_EQ(files.count("caf\xC3\xA9.txt"), 1u);
  EXPECT_EQ(files.at("caf\xC3\xA9.txt"), "latin-1 name");
  EXPECT_EQ(files.at("ok.txt"), "ok");

  DPM_FS_ISO9660 plain(tree.get(), DPM_FS_ISO9660::kISO9660, 0, false, true, false);
  ASSERT_GT(drainToFile(plain, image()).written, 0u);
  EXPECT_TRUE(plain.LayoutNotes().empty());
  const auto root = isoinfoListing(image()).at("/");
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].name, "CAF_.TXT;1");
}

// Children named the way they always were: each takes the first of numbers 0 to 999 that
// gives a name no earlier sibling holds.
std::vector<std::string> decimalNames(const FS_Node& dir, bool version) {
  std::set<std::string, CharCompareLess> taken;
  std::vector<std::string> names;
  for (const auto& [title, child] : dir.Children()) {
    for (std::uint32_t n = 0; n < 1000; ++n) {
      char out[kCS_ISO83NameBytes];
      const std::uint16_t length =
          CS_To_ISO_8_3_Name(child->Title().c_str(), out, n, child->IsFolder(), version);
      if (taken.insert(std::string(out, length)).second) {
        names.push_back(std::string(out, length));
        break;
      }
    }
  }
  return names;
}

// More look-alike names than the 999 decimal numbers can tell apart: the first ones keep
// the names they always had, the rest go on with a serial, and every child is named.
TEST_F(Iso9660Layout, LookAlikeNamesBeyondTheDecimalNumbersAllGetNames) {
  for (const bool folders : {true, false}) {
    SCOPED_TRACE(folders ? "folders" : "files");
    TreePtr tree(new FS_Tree(nullptr));
    for (int i = 0; i < 1100; ++i) {
      char title[32];
      std::snprintf(title, sizeof title, folders ? "samefolder%04d" : "long_file_%04d.dat", i);
      FS_Node* node = FS_Node::MakeFolder(title, nullptr, false);
      if (!folders) node->SetFolder(false);
      ASSERT_EQ(tree->Root()->AddChild(node), kNoErr);
    }
    const std::vector<std::string> before = decimalNames(*tree->Root(), !folders);
    std::vector<iso::IsoChild> named;
    std::string problem;
    ASSERT_EQ(
        iso::nameChildren(*tree->Root(), iso::IsoNaming{false, !folders, nullptr}, named, problem),
        kNoErr)
        << problem;
    ASSERT_EQ(named.size(), 1100u);
    std::map<const FS_Node*, std::string> byNode;
    for (const iso::IsoChild& c : named) byNode[c.node] = c.identifier;
    std::size_t index = 0, serials = 0;
    for (const auto& [title, child] : tree->Root()->Children()) {
      const std::string& name = byNode.at(child.get());
      if (index < before.size()) {
        EXPECT_EQ(name, before[index]) << title;
      } else {
        ++serials;
        EXPECT_NE(name.find('~'), std::string::npos) << name;
        EXPECT_LE(name.find('.') == std::string::npos ? name.size() : name.find('.'), 8u) << name;
      }
      ++index;
    }
    EXPECT_EQ(before.size() + serials, 1100u);
    EXPECT_GT(serials, 0u) << "the case must reach beyond the decimal numbers";
  }
}

// The path table numbers parents in 16 bits; a layout with more folders than the limit
// (shrunk here) is refused rather than written with wrapped numbers.
TEST_F(Iso9660Layout, MoreFoldersThanThePathTableNumbersIsRefused) {
  TreePtr tree(new FS_Tree(nullptr));
  FS_Node* parent = nullptr;
  for (int i = 0; i < 5; ++i) {
    FS_Node* folder = FS_Node::MakeFolder(("f" + std::to_string(i)).c_str(), nullptr, false);
    ASSERT_EQ(tree->Add(folder, parent), kNoErr);
    if (i % 2 == 0) parent = folder;
  }
  DPM_FS_ISO9660::Limits limits;
  limits.maxDirectories = 5;
  DPM_FS_ISO9660 over(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false, limits);
  EXPECT_EQ(over.GenerateStuffsForHeaders(), kErrProducerTooManyFiles);
  EXPECT_FALSE(over.LayoutProblem().empty());
  limits.maxDirectories = 6;
  DPM_FS_ISO9660 at(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false, limits);
  EXPECT_EQ(at.GenerateStuffsForHeaders(), kNoErr);
}

// A file that vanished between layout and production: the image is still whole, every
// other file reads back exactly, the vanished one as zeros of its size, and the producer
// reports it so the job cannot end as successful.
TEST_F(Iso9660Layout, FileThatVanishedBeforeProductionIsReported) {
  const std::vector<FixtureEntry> entries = {{"a.bin", "a.bin", patternBytes(3000, 1)},
                                             {"gone.bin", "gone.bin", patternBytes(4100, 2)},
                                             {"z.bin", "z.bin", patternBytes(2048, 3)}};
  writeFixture(src(), entries);
  TreePtr tree = treeFromFolder(src(), "GONE");
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  fs::remove(src() + "/gone.bin");
  const DrainResult r = drainToFile(producer, image());
  EXPECT_EQ(r.status, kNoErr);
  ASSERT_EQ(r.written, r.prepared);
  auto wanted = expectedJolietTree(entries);
  wanted["gone.bin"] = std::string(4100, '\0');
  EXPECT_EQ(differences(extract(image()), wanted), "");
  ASSERT_EQ(producer.MissingData().size(), 1u);
  EXPECT_EQ(producer.MissingData()[0].path, src() + "/gone.bin");
  EXPECT_EQ(producer.DataResult(), kErrFileAccess);
}

TEST_F(Iso9660Layout, ArgumentsAndStates) {
  DPM_FS_ISO9660 noTree(nullptr, DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  EXPECT_EQ(noTree.GenerateStuffsForHeaders(), kErrProducerNoSource);
  std::uint16_t size = 0;
  EXPECT_EQ(noTree.PrepareAll(&size, nullptr, nullptr), 0u);

  TreePtr tree(new FS_Tree(nullptr));
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  char buffer[2048];
  std::uint32_t got = 7;
  EXPECT_EQ(producer.NextBlocks(buffer, sizeof buffer, 1, &got), kNoErr) << "before preparing";
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(producer.PrepareAll(nullptr, nullptr, nullptr), 0u);
  size = 2352;
  EXPECT_EQ(producer.PrepareAll(&size, nullptr, nullptr), 0u) << "not a size of ISO9660 data";
  size = 0;
  EXPECT_EQ(producer.PrepareAll(&size, nullptr, nullptr), 16u + 9u) << "both trees, root only";
  EXPECT_EQ(size, 2048);
  EXPECT_EQ(producer.NextBlocks(nullptr, 2048, 1, &got), kErrBadArgument);
  EXPECT_EQ(producer.NextBlocks(buffer, 2048, 1, nullptr), kErrBadArgument);
  EXPECT_EQ(producer.GetFileLocList(nullptr), kErrBadArgument);
  DPM_FS_ISO9660 unknown(tree.get(), static_cast<DPM_FS_ISO9660::ISOFormat>(1), 0, false, true,
                         false);
  EXPECT_EQ(unknown.Init(), kErrProducerFormat);
  EXPECT_EQ(unknown.GenerateStuffsForHeaders(), kErrProducerFormat);
}
