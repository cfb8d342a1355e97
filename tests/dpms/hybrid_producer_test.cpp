// SPDX-License-Identifier: GPL-2.0-or-later
// Hybrid images read from both sides: the ISO9660/Joliet side by isoinfo and xorriso, the
// HFS side by hfsutils, the HFS Plus side by 7zz and the volume checker. Both sides give
// every file equal to its source, and each file's ISO9660 extent is its Macintosh one.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "DPMs/hfs/dpm_fs_hybrid.h"
#include "common/byte_order.h"
#include "quillion/clock.h"
#include "tests/dpms/hfs_fixture.h"
#include "tests/dpms/iso_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

// The Macintosh fixture without the two titles that only differ in normalisation: ISO9660
// and Joliet names of them are numbered by their own rules.
std::vector<MacEntry> hybridFixture() {
  std::vector<MacEntry> entries;
  for (MacEntry& e : macFixture())
    if (e.path != "Ne\u0301e.txt") entries.push_back(std::move(e));
  return entries;
}

// The files of a tree as "depth:size:digest", names left out: the two sides and the ISO9660
// level-1 view name files differently, their contents must still be the source's. Answers
// what differs, one line each.
std::string contentDifferences(const std::map<std::string, std::string>& got,
                               const std::map<std::string, std::string>& wanted) {
  const auto summary = [](const std::map<std::string, std::string>& tree) {
    std::multiset<std::string> out;
    for (const std::string& item : contentsWithDepth(tree)) {
      std::uint64_t digest = 1469598103934665603ull;
      for (const char c : item) digest = (digest ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
      out.insert(item.substr(0, item.find(':')) + ":" + std::to_string(item.size()) + ":" +
                 std::to_string(digest));
    }
    return out;
  };
  const auto a = summary(got), b = summary(wanted);
  std::string out;
  for (const auto& item : b)
    if (a.count(item) < b.count(item)) out += "missing " + item + "\n";
  for (const auto& item : a)
    if (b.count(item) < a.count(item)) out += "extra " + item + "\n";
  return out;
}

class HybridProducer : public ::testing::TestWithParam<std::uint16_t> {
 protected:
  void SetUp() override {
    for (const char* tool : {"isoinfo", "xorriso", "hmount", "7zz", "dd"})
      QUILLION_REQUIRE_TOOL(tool);
  }

  std::uint16_t code() const { return GetParam(); }
  bool plus() const { return (code() & 0xFF) == 2; }
  bool joliet() const { return (code() >> 8) == 2; }
  std::string image() const { return dir.file("hybrid.img"); }

  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
};

// The Macintosh side's files by path with their data bytes.
std::map<std::string, std::string> macSide(bool plus, const fs::path& image, const TempDir& dir) {
  if (!plus) {
    const auto listing = hfsListing(image, dir.path());
    auto files = hfsExtract(listing, dir.path(), dir.file("hfs"));
    (void)runReader({"humount"}, nullptr, dir.path());
    return files;
  }
  const std::string volume = dir.file("volume.hfsplus");
  EXPECT_EQ(runTool({"dd", "if=" + image.string(), "of=" + volume, "bs=18432", "skip=1"}).exitCode,
            0);
  int status = 0;
  const std::string said =
      runReader({"7zz", "x", "-y", "-o" + dir.file("plus").string(), volume}, &status);
  EXPECT_EQ(status, 0) << said;
  std::map<std::string, std::string> files;
  const std::string top = "Hybrid/";
  for (const auto& [path, bytes] : filesBelow(dir.file("plus")))
    if (path != top && path.find(":rsrc") == std::string::npos)
      files[path.substr(top.size())] = bytes;
  return files;
}

TEST_P(HybridProducer, BothSidesGiveEveryFileAndShareItsBlocks) {
  const auto entries = hybridFixture();
  writeMacFixture(dir.file("src"), entries);
  TreePtr tree = treeFromFolder(dir.file("src"), "Hybrid");
  DPM_FS_Hybrid hybrid(tree.get(), code(), 0, true, true, false);
  ASSERT_EQ(hybrid.Init(), kNoErr);
  const DrainResult r = drainToFile(hybrid, image());
  ASSERT_GT(r.prepared, 0u) << hybrid.LayoutProblem();
  ASSERT_EQ(r.written, r.prepared);
  EXPECT_TRUE(hybrid.MissingData().empty());
  const auto bytes = readFile(image());

  // The ISO9660 descriptors at session blocks 16 on, as the hybrid's own header buffer has them.
  ASSERT_NE(hybrid.GetISO9660AllHeaders(), nullptr);
  EXPECT_TRUE(std::equal(bytes.begin() + 32768, bytes.begin() + 32768 + 2048,
                         hybrid.GetISO9660AllHeaders()));
  EXPECT_EQ(std::string(bytes.begin() + 32769, bytes.begin() + 32774), "CD001");
  EXPECT_EQ(bytes[32768 + 2048], joliet() ? 2 : 255);

  // The ISO side: isoinfo lists it, xorriso extracts every file.
  int status = 0;
  const std::string listed =
      runReader(joliet() ? std::vector<std::string>{"isoinfo", "-J", "-l", "-i", image()}
                         : std::vector<std::string>{"isoinfo", "-l", "-i", image()},
                &status);
  EXPECT_EQ(status, 0) << listed;
  const std::string isoOut = dir.file("iso");
  const std::string said =
      runReader({"xorriso", "-indev", image(), "-osirrox", "on", "-extract", "/", isoOut}, &status);
  ASSERT_EQ(status, 0) << said;
  const auto isoFiles = filesBelow(isoOut);
  const auto wanted = dataForks(entries);
  // With Apple extensions a resource fork is an associated file beside its file, which
  // xorriso extracts under a name of its own: those are compared by content.
  std::map<std::string, std::string> forks;
  for (const MacEntry& e : entries)
    if (!e.resource.empty()) forks[e.path + " (resource)"] = e.resource;
  if (joliet()) {
    std::map<std::string, std::string> named, extras;
    for (const auto& [path, data] : isoFiles) (wanted.count(path) ? named : extras)[path] = data;
    EXPECT_EQ(differences(named, wanted), "");
    EXPECT_EQ(contentDifferences(extras, forks), "");
  } else {
    auto withForks = wanted;
    withForks.insert(forks.begin(), forks.end());
    EXPECT_EQ(contentDifferences(isoFiles, withForks), "");
  }

  // The Macintosh side gives the same files.
  const auto macFiles = macSide(plus(), image(), dir);
  EXPECT_EQ(contentDifferences(macFiles, wanted), "");

  // Each file's ISO9660 extent is the first block of its data on the Macintosh side.
  const auto extents = reportedExtents(
      runReader({"xorriso", "-indev", image(), "-find", "/", "-exec", "report_lba", "--"}));
  std::size_t compared = 0;
  if (plus()) {
    const PlusVolume v = checkPlusVolume(bytes);
    EXPECT_EQ(v.problems, "");
    for (const auto& [path, file] : v.files) {
      if (file.dataBlocks == 0) continue;
      const std::uint64_t lba = (18432 + std::uint64_t{file.dataStart} * 4096) / 2048;
      bool found = false;
      for (const auto& [isoPath, extent] : extents) found |= extent.first == lba;
      EXPECT_TRUE(found) << path;
      ++compared;
    }
  } else {
    for (const auto& [isoPath, extent] : extents) {
      const std::string data = readText(fs::path(isoOut) / isoPath);
      if (data.empty()) continue;
      ASSERT_LE(std::size_t{extent.first} * 2048 + data.size(), bytes.size()) << isoPath;
      EXPECT_EQ(std::string(bytes.begin() + std::size_t{extent.first} * 2048,
                            bytes.begin() + std::size_t{extent.first} * 2048 + data.size()),
                data)
          << isoPath;
      ++compared;
    }
  }
  EXPECT_GT(compared, 70u);
}

INSTANTIATE_TEST_SUITE_P(Codes, HybridProducer, ::testing::Values(257, 258, 513, 514));

TEST(HybridProducerCodes, CodesWithoutAnHfsKindAreRefused) {
  TreePtr tree(new FS_Tree(nullptr));
  for (const std::uint16_t code : {0, 1, 2, 256, 259, 512, 768, 771, 1025}) {
    DPM_FS_Hybrid hybrid(tree.get(), code, 0, true, true, false);
    EXPECT_EQ(hybrid.Init(), kErrProducerFormat) << code;
    EXPECT_EQ(hybrid.GenerateStuffsForHeaders(), kErrProducerFormat) << code;
    std::uint16_t size = 0;
    EXPECT_EQ(hybrid.PrepareAll(&size, nullptr, nullptr), 0u) << code;
    std::uint8_t block[2048];
    std::uint32_t got = 0;
    EXPECT_EQ(hybrid.NextBlocks(block, sizeof block, 1, &got), kErrProducerNoSource) << code;
  }
}

}  // namespace
