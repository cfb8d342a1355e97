// SPDX-License-Identifier: GPL-2.0-or-later
// ISO9660 and Joliet images read back by independent readers: isoinfo, xorriso, bsdtar,
// 7zz and iso-info list what the tree holds, and extracting the image gives every file
// byte for byte.
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "platform/file/xattr.h"
#include "quillion/clock.h"
#include "tests/dpms/iso_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

class Iso9660Readers : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"isoinfo", "xorriso", "bsdtar", "7zz", "iso-info"})
      QUILLION_REQUIRE_TOOL(tool);
  }

  // Writes `entries` below src/ and produces the image; the producer stays for questions.
  std::uint32_t produce(const std::vector<FixtureEntry>& entries, DPM_FS_ISO9660::ISOFormat format,
                        std::uint32_t start, bool apple, bool version, bool xa,
                        DPM_FS_ISO9660::Limits limits = {}) {
    writeFixture(dir.file("src"), entries);
    tree = treeFromFolder(dir.file("src"), "Quillion Test");
    producer =
        std::make_unique<DPM_FS_ISO9660>(tree.get(), format, start, apple, version, xa, limits);
    const DrainResult r = drainToFile(*producer, image());
    EXPECT_EQ(r.status, kNoErr);
    EXPECT_EQ(r.written, r.prepared) << producer->LayoutProblem();
    EXPECT_TRUE(producer->MissingData().empty());
    return r.prepared;
  }

  std::string image() const { return dir.file("out.iso"); }

  // Extracts the image with bsdtar, 7zz and xorriso and compares each result with `wanted`.
  void extractEverywhere(const std::map<std::string, std::string>& wanted) {
    const std::string img = image();
    const std::string b = dir.file("bsdtar"), z = dir.file("7zz"), x = dir.file("xorriso");
    EXPECT_EQ(differences(extractWith({"bsdtar", "-xf", img, "-C", b}, "bsdtar"), wanted), "");
    EXPECT_EQ(differences(extractWith({"7zz", "x", "-y", "-o" + z, img}, "7zz"), wanted), "");
    EXPECT_EQ(
        differences(extractWith({"xorriso", "-indev", img, "-osirrox", "on", "-extract", "/", x},
                                "xorriso"),
                    wanted),
        "");
  }

  std::map<std::string, std::string> extractWith(const std::vector<std::string>& argv,
                                                 const std::string& into) {
    fs::create_directories(dir.file(into));
    int status = 0;
    const std::string out = runReader(argv, &status);
    EXPECT_EQ(status, 0) << argv[0] << "\n" << out;
    return filesBelow(dir.file(into));
  }

  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  TreePtr tree;
  std::unique_ptr<DPM_FS_ISO9660> producer;
};

std::string field(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  if (at == std::string::npos) return {};
  const auto end = text.find('\n', at);
  return text.substr(at + label.size(), end - at - label.size());
}

}  // namespace

// The Joliet tree lists exactly the fixture's names and sizes in xorriso and bsdtar, and
// every extractor gives back every file and folder byte for byte.
TEST_F(Iso9660Readers, JolietTreeListsAndExtractsExactly) {
  const auto entries = richFixture();
  const std::uint32_t blocks = produce(entries, DPM_FS_ISO9660::kJoliet, 0, false, true, false);

  const std::string d = runReader({"isoinfo", "-d", "-i", image()});
  EXPECT_EQ(field(d, "Volume id: "), "QUILLION_TEST");
  EXPECT_EQ(field(d, "System id: "), "APPLE COMPUTER, INC., TYPE:0001");
  EXPECT_EQ(field(d, "Volume size is: "), std::to_string(blocks));
  EXPECT_NE(d.find("Joliet with UCS level 1 found"), std::string::npos) << d;
  const std::string joliet = runReader({"iso-info", "--no-header", "-i", image()});
  EXPECT_EQ(field(joliet, "Volume      : "), "Quillion Test") << joliet;
  EXPECT_EQ(field(joliet, "System      : "), "Apple Computer,") << "16 units of the text";

  const Listing expected = expectedListing(entries);
  // isoinfo prints Joliet names in Latin-1 only: compare the ASCII ones, and every size.
  Listing isoinfoJoliet;
  for (const auto& [dirPath, children] : isoinfoListing(image(), {"-J"})) {
    for (const IsoinfoEntry& e : children) {
      const bool folder = (e.flags & 2) != 0;
      isoinfoJoliet[dirPath.substr(1) + e.name + (folder ? "/" : "")] = folder ? 0 : e.size;
    }
  }
  EXPECT_EQ(isoinfoJoliet.size(), expected.size());
  for (const auto& [path, size] : expected) {
    if (std::any_of(path.begin(), path.end(), [](char c) { return c < 0; })) continue;
    EXPECT_EQ(isoinfoJoliet.count(path) ? isoinfoJoliet.at(path) : ~0ull, size) << path;
  }
  EXPECT_EQ(differences(xorrisoListing(image()), expected), "");
  EXPECT_EQ(differences(bsdtarListing(image()), expected), "");

  extractEverywhere(expectedJolietTree(entries));
}

// The ISO9660 tree beside it: every directory has one record per child, each with a
// non-empty level-1 identifier ending in ";1" for files, unique in its directory, and the
// sizes of the files; empty files have extent 0.
TEST_F(Iso9660Readers, Iso9660TreeNamesEveryChildIn83Form) {
  const auto entries = richFixture();
  produce(entries, DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  const auto dirs = isoinfoListing(image());
  std::multiset<std::uint64_t> sizes, expectedSizes;
  std::size_t files = 0, folders = 0;
  for (const auto& [path, children] : dirs) {
    std::set<std::string> names;
    for (const IsoinfoEntry& e : children) {
      const bool folder = (e.flags & 2) != 0;
      EXPECT_TRUE(isLevel1Identifier(e.name, folder)) << path << e.name;
      EXPECT_TRUE(names.insert(e.name).second) << "two records named " << path << e.name;
      if (folder) {
        ++folders;
        continue;
      }
      ++files;
      sizes.insert(e.size);
      if (e.size == 0) {
        EXPECT_EQ(e.extent, 0u) << e.name;
      }
    }
  }
  for (const auto& [path, bytes] : expectedJolietTree(entries)) {
    if (path.back() == '/')
      --folders;
    else
      expectedSizes.insert(bytes.size());
  }
  EXPECT_EQ(folders, 0u) << "every folder once";
  EXPECT_EQ(files, expectedSizes.size());
  EXPECT_EQ(sizes, expectedSizes);
}

// Plain ISO9660 with XA fields: no Joliet, 8.3 names only; the XA marker and attributes
// are seen by iso-info, and extracting the ISO9660 tree gives every file's bytes at its
// depth.
TEST_F(Iso9660Readers, PlainIso9660WithXAExtracts) {
  const auto entries = richFixture();
  produce(entries, DPM_FS_ISO9660::kISO9660, 0, false, true, true);
  const std::string d = runReader({"isoinfo", "-d", "-i", image()});
  EXPECT_NE(d.find("NO Joliet present"), std::string::npos) << d;
  EXPECT_EQ(readText(image()).substr(16 * 2048 + 1024, 8), "CD-XA001");
  // iso-info shows the XA attribute words: 0x8D55 on "." and "..", 0x8911 on folders,
  // 0x0911 on files.
  const std::string info = runReader({"iso-info", "--no-header", "-l", image()});
  EXPECT_NE(info.find("d---1xrxrxr 0 0 [fn 00] [LSN     20]      2048 Nov 14 2023 22:13:20  .\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("d---1-r-r-r 0 0 [fn 00] [LSN     21]"), std::string::npos) << info;
  EXPECT_NE(info.find("----1-r-r-r 0 0 [fn 00] [LSN      0]         0 "), std::string::npos)
      << info;

  std::map<std::string, std::string> source;
  for (const FixtureEntry& e : entries) source[e.source] = e.bytes;
  const auto expected = contentsWithDepth(source);
  EXPECT_EQ(contentsWithDepth(
                extractWith({"bsdtar", "-xf", image(), "-C", dir.file("bsdtar")}, "bsdtar")),
            expected);
  EXPECT_EQ(contentsWithDepth(extractWith({"xorriso", "-indev", image(), "-osirrox", "on",
                                           "-extract", "/", dir.file("xorriso")},
                                          "xorriso")),
            expected);
}

// Expiration and effective dates "not specified"; creation and modification from the
// producer's clock.
TEST_F(Iso9660Readers, VolumeDatesSpecifiedAndUnspecified) {
  produce({{"a.txt", "a.txt", "a"}}, DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  const std::string info = runReader({"xorriso", "-indev", image(), "-pvd_info"});
  EXPECT_EQ(field(info, "Creation Time: "), "2023111422132000") << info;
  EXPECT_EQ(field(info, "Modif. Time  : "), "2023111422132000");
  EXPECT_EQ(field(info, "Expir. Time  : "), "0000000000000000");
  EXPECT_EQ(field(info, "Eff. Time    : "), "0000000000000000");
}

// A second session at block 30,000: every address is 30,000 higher, isoinfo reads it with
// that offset, xorriso loads it from its superblock behind a first session, and the
// file-location list names exactly the blocks xorriso reports for each file, extents of a
// file larger than one record included.
TEST_F(Iso9660Readers, SecondSessionAddressesAndFileLocations) {
  constexpr std::uint32_t kStart = 30000;
  std::vector<FixtureEntry> entries = {{"one.txt", "one.txt", patternBytes(5000, 1)},
                                       {"zero.txt", "zero.txt", ""},
                                       {"sub/two.bin", "sub/two.bin", patternBytes(20000, 2)},
                                       {"sub/three.bin", "sub/three.bin", patternBytes(8192, 3)}};
  DPM_FS_ISO9660::Limits limits;
  limits.maxExtentBytes = 8192;
  const std::uint32_t blocks =
      produce(entries, DPM_FS_ISO9660::kJoliet, kStart, false, true, false, limits);

  const auto dirs = isoinfoListing(image(), {"-N", std::to_string(kStart)});
  ASSERT_TRUE(dirs.count("/SUB/")) << runReader({"isoinfo", "-N", "30000", "-l", "-i", image()});
  for (const IsoinfoEntry& e : dirs.at("/SUB/")) EXPECT_GE(e.extent, kStart) << e.name;
  const std::string d = runReader({"isoinfo", "-d", "-N", "30000", "-i", image()});
  EXPECT_EQ(field(d, "Volume size is: "), std::to_string(blocks + kStart));

  // Session 1 at block 0, this one at 30,000, in one sparse file.
  const std::string first = dir.file("first.iso"), disc = dir.file("disc.iso");
  {
    TempDir other;
    writeFile(other.file("first.txt"), "first session");
    TreePtr firstTree = treeFromFolder(other.path(), "FIRST");
    DPM_FS_ISO9660 firstProducer(firstTree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
    ASSERT_GT(drainToFile(firstProducer, first).written, 0u);
  }
  fs::copy_file(first, disc);
  fs::resize_file(disc, std::uint64_t{kStart} * 2048);
  {
    std::ofstream appended(disc, std::ios::binary | std::ios::app);
    appended << readText(image());
    ASSERT_TRUE(appended.flush());
  }
  const std::vector<std::string> load = {"-load", "sbsector", std::to_string(kStart)};
  const auto withLoad = [&](std::vector<std::string> argv,
                            std::initializer_list<std::string> rest) {
    argv.insert(argv.end(), load.begin(), load.end());
    argv.insert(argv.end(), rest);
    return argv;
  };
  EXPECT_EQ(differences(xorrisoListing(disc, load), expectedListing(entries)), "");
  EXPECT_EQ(differences(extractWith(withLoad({"xorriso", "-indev", disc},
                                             {"-osirrox", "on", "-extract", "/", dir.file("x")}),
                                    "x"),
                        expectedJolietTree(entries)),
            "");

  // File data lba:  xt , Startlba , Blocks , Filesize , path
  const std::string report =
      runReader(withLoad({"xorriso", "-indev", disc}, {"-find", "/", "-exec", "report_lba", "--"}));
  auto reported = reportedExtents(report);
  FS_FileLocList* raw = nullptr;
  ASSERT_EQ(producer->GetFileLocList(&raw), kNoErr);
  FS_FileLocListPtr list(raw);
  ASSERT_EQ(list->count, entries.size());
  const FS_FileLocListEntry* e = FS_FileLocListEntries(list.get());
  for (std::uint32_t i = 0; i < list->count; ++i) {
    const std::string path = layoutPath(*e[i].node);
    ASSERT_TRUE(reported.count(path)) << path << "\n" << report;
    EXPECT_EQ(e[i].dataLBA, reported[path].first) << path;
    EXPECT_EQ(e[i].dataBlocks, reported[path].second) << path;
  }
}

// Files larger than one record's length are written as consecutive extents; every reader
// joins them into the whole file.
TEST_F(Iso9660Readers, MultiExtentFilesReadWhole) {
  DPM_FS_ISO9660::Limits limits;
  limits.maxExtentBytes = 4096;
  const std::vector<FixtureEntry> entries = {{"exact.bin", "exact.bin", patternBytes(4096, 1)},
                                             {"over.bin", "over.bin", patternBytes(4097, 2)},
                                             {"five.bin", "five.bin", patternBytes(18000, 3)},
                                             {"after.txt", "after.txt", "after"}};
  produce(entries, DPM_FS_ISO9660::kJoliet, 0, false, true, false, limits);
  const auto dirs = isoinfoListing(image());
  std::map<std::string, int> records;
  for (const IsoinfoEntry& e : dirs.at("/")) ++records[e.name];
  EXPECT_EQ(records["EXACT.BIN;1"], 1);
  EXPECT_EQ(records["OVER.BIN;1"], 2);
  EXPECT_EQ(records["FIVE.BIN;1"], 5);
  EXPECT_EQ(differences(xorrisoListing(image()), expectedListing(entries)), "");
  extractEverywhere(expectedJolietTree(entries));
}

// Apple extensions: a file with a resource fork gets an associated-file record before its
// own, pointing at the resource fork's bytes, and both records carry type, creator and
// Finder flags.
TEST_F(Iso9660Readers, AppleExtensionsAndResourceForks) {
  fs::create_directories(dir.file("src"));
  writeFile(dir.file("src/doc.txt"), "data fork bytes");
  writeFile(dir.file("src/plain.txt"), "plain");
  const std::string rsrc = patternBytes(3000, 9);
  const std::string finder("TEXTttxt\x01\x00", 10);
  ASSERT_EQ(::setxattr(dir.file("src/doc.txt").c_str(), kResourceForkXattr, rsrc.data(),
                       rsrc.size(), 0),
            0);
  ASSERT_EQ(::setxattr(dir.file("src/doc.txt").c_str(), kFinderInfoXattr, finder.data(),
                       finder.size(), 0),
            0);
  produce({}, DPM_FS_ISO9660::kISO9660, 0, true, true, false);

  const auto root = isoinfoListing(image()).at("/");
  ASSERT_EQ(root.size(), 3u);
  EXPECT_EQ(root[0].name, "DOC.TXT;1");
  EXPECT_EQ(root[0].flags, 5u) << "associated, hidden";
  EXPECT_EQ(root[0].size, rsrc.size());
  EXPECT_EQ(root[1].name, "DOC.TXT;1");
  EXPECT_EQ(root[1].flags, 0u);
  EXPECT_EQ(root[1].size, 15u);
  const std::string bytes = readText(image());
  EXPECT_EQ(bytes.substr(std::size_t{root[0].extent} * 2048, rsrc.size()), rsrc);
  EXPECT_EQ(bytes.substr(std::size_t{root[1].extent} * 2048, 15), "data fork bytes");
  // "AA", 14, version 2, type, creator, Finder flags: in both records of the file, and in
  // the plain file's record with its (empty) Finder information.
  const std::string aa("AA\x0E\x02TEXTttxt\x01\x00", 14);
  std::size_t found = 0;
  for (auto at = bytes.find(aa); at != std::string::npos; at = bytes.find(aa, at + 1)) ++found;
  EXPECT_EQ(found, 2u);
  EXPECT_EQ(runReader({"isoinfo", "-i", image(), "-x", "/PLAIN.TXT;1"}), "plain");
}

// Apple extensions on while the layout leaves resource forks out: the associated-file
// records counted for the directory are not written, and the file records close up behind
// them, so readers find every file of a directory that spans several blocks.
TEST_F(Iso9660Readers, ResourceForksLeftOutLeaveNoHoleInDirectories) {
  std::vector<FixtureEntry> entries;
  for (int i = 0; i < 80; ++i) {
    const std::string name = "file " + std::to_string(100 + i) + ".txt";
    entries.push_back({name, name, "data " + std::to_string(i)});
  }
  writeFixture(dir.file("src"), entries);
  for (const FixtureEntry& e : entries)
    ASSERT_EQ(::setxattr(dir.file("src/" + e.source).c_str(), kResourceForkXattr, "rsrc", 4, 0), 0);
  tree = treeFromFolder(dir.file("src"), "NORSRC");
  tree->useResourceFork = false;
  producer =
      std::make_unique<DPM_FS_ISO9660>(tree.get(), DPM_FS_ISO9660::kJoliet, 0, true, true, false);
  ASSERT_GT(drainToFile(*producer, image()).written, 0u);
  const auto root = isoinfoListing(image()).at("/");
  EXPECT_EQ(root.size(), entries.size());
  for (const IsoinfoEntry& e : root) EXPECT_EQ(e.flags, 0u) << e.name;
  EXPECT_EQ(differences(xorrisoListing(image()), expectedListing(entries)), "");
}
