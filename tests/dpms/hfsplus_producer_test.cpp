// SPDX-License-Identifier: GPL-2.0-or-later
// HFS Plus images read back by 7zz (listing, test, extraction equal to the source) and by a
// checker written here from the format's technical note: volume headers, allocation file,
// B-tree nodes and key order, extents of every file.
#include <gtest/gtest.h>

#include <filesystem>

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
using Span = std::span<const std::uint8_t>;

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
      const Span code(reinterpret_cast<const std::uint8_t*>(e.typeCreator.data()), 8);
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
