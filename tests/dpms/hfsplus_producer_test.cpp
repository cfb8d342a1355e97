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

namespace {

using Bytes = std::vector<std::uint8_t>;
using Span = std::span<const std::uint8_t>;

// What the checker found in a volume.
struct PlusVolume {
  std::string problems;  // one line per fault, empty for a sound volume
  std::uint32_t blockSize = 0, totalBlocks = 0, nextCatalogID = 0;
  std::uint32_t fileCount = 0, folderCount = 0;
  struct File {
    std::uint32_t id = 0;
    std::uint64_t dataBytes = 0, rsrcBytes = 0;
    std::uint32_t dataStart = 0, dataBlocks = 0, rsrcStart = 0, rsrcBlocks = 0;
    std::uint32_t type = 0, creator = 0;
  };
  std::map<std::string, File> files;  // by path, UTF-16 names kept as UTF-8 bytes of units
  std::set<std::uint32_t> folderIDs;
};

std::string utf8Of(Span units) {
  std::string out;
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const std::uint32_t u = be::get16(units, i);
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | u >> 12);
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// Reads a volume the way the format's technical note describes it, noting every rule
// broken: the partition map, both volume headers, the allocation file, the catalog's
// header, leaf chain, key order and index nodes, and every fork's extent.
PlusVolume checkPlusVolume(const Bytes& image) {
  PlusVolume v;
  std::ostringstream bad;
  const Span img(image);
  if (image.size() < 18432 + 2048 || be::get16(img, 0) != 0x4552 || be::get16(img, 512) != 0x504D ||
      be::get32(img, 1024 + 8) != 36) {
    v.problems = "no partition map with a volume at sector 36\n";
    return v;
  }
  const Span volume = img.subspan(18432);
  const Span vh = volume.subspan(1024, 512);
  if (be::get16(vh, 0) != 0x482B || be::get16(vh, 2) != 4) bad << "volume header signature\n";
  if (be::get32(vh, 8) != 0x31302E30) bad << "last mounted version is not 10.0\n";
  v.fileCount = be::get32(vh, 32);
  v.folderCount = be::get32(vh, 36);
  v.blockSize = be::get32(vh, 40);
  v.totalBlocks = be::get32(vh, 44);
  v.nextCatalogID = be::get32(vh, 64);
  if (v.blockSize != 4096) {
    bad << "block size " << v.blockSize << "\n";
    v.problems = bad.str();
    return v;
  }
  if (std::uint64_t{v.totalBlocks} * 4096 != volume.size()) bad << "total blocks != volume size\n";
  if (!std::equal(vh.begin(), vh.end(), volume.end() - 1024)) bad << "alternate header differs\n";
  const auto fork = [&](std::size_t at) {
    return std::pair<std::uint32_t, std::uint32_t>{be::get32(vh, at + 16), be::get32(vh, at + 20)};
  };
  const auto [allocStart, allocBlocks] = fork(112);
  const auto [catStart, catBlocks] = fork(272);
  const Span bitmap =
      volume.subspan(std::size_t{allocStart} * 4096, std::size_t{allocBlocks} * 4096);
  for (std::uint32_t b = 0; b < v.totalBlocks + 8 && b / 8 < bitmap.size(); ++b) {
    const bool set = (bitmap[b / 8] >> (7 - b % 8)) & 1;
    if (set != (b < v.totalBlocks)) {
      bad << "allocation bit " << b << "\n";
      break;
    }
  }
  const Span catalog = volume.subspan(std::size_t{catStart} * 4096, std::size_t{catBlocks} * 4096);
  const Span header = catalog.subspan(0, 4096);
  if (static_cast<std::int8_t>(header[8]) != 1) bad << "catalog header node kind\n";
  const std::uint32_t root = be::get32(header, 16), leafRecords = be::get32(header, 20);
  const std::uint32_t firstLeaf = be::get32(header, 24), lastLeaf = be::get32(header, 28);
  const std::uint32_t nodeSize = be::get16(header, 32), totalNodes = be::get32(header, 36);
  const std::uint32_t attributes = be::get32(header, 14 + 38);
  if (nodeSize != 4096 || totalNodes != catBlocks) bad << "catalog node size or count\n";
  if ((attributes & 6) != 6) bad << "catalog attributes lack big or variable index keys\n";
  const auto node = [&](std::uint32_t n) { return catalog.subspan(std::size_t{n} * 4096, 4096); };
  const auto record = [&](Span nd, std::size_t i) {
    const std::size_t start = be::get16(nd, 4094 - 2 * i), end = be::get16(nd, 4092 - 2 * i);
    return nd.subspan(start, end - start);
  };
  const auto keyOf = [](Span rec) { return rec.subspan(0, 2 + be::get16(rec, 0)); };
  const auto less = [](Span a, Span b) { return hfs::UnicodeKey_Compare{}(a, b); };
  // Leaves in order, keys strictly increasing across the whole chain.
  std::map<std::uint32_t, std::pair<std::uint32_t, std::string>> threads;  // id -> parent, name
  std::vector<std::tuple<std::uint32_t, std::string, Span>> items;         // parent, name, data
  Bytes previous;
  std::uint32_t seen = 0, n = firstLeaf, last = 0, maxID = 0;
  while (n != 0 && n < totalNodes) {
    const Span nd = node(n);
    if (static_cast<std::int8_t>(nd[8]) != -1 || nd[9] != 1) bad << "node " << n << " is no leaf\n";
    const std::uint16_t count = be::get16(nd, 10);
    for (std::size_t i = 0; i < count; ++i) {
      const Span rec = record(nd, i);
      const Span key = keyOf(rec);
      if (!previous.empty() && !less(previous, key))
        bad << "keys out of order in node " << n << "\n";
      previous.assign(key.begin(), key.end());
      const Span data = rec.subspan(key.size());
      const std::uint32_t parent = be::get32(key, 2);
      const std::string name = utf8Of(key.subspan(8, 2 * be::get16(key, 6)));
      const std::int16_t type = static_cast<std::int16_t>(be::get16(data, 0));
      if (type == 3 || type == 4) {
        threads[parent] = {be::get32(data, 4), utf8Of(data.subspan(10, 2 * be::get16(data, 8)))};
      } else {
        items.emplace_back(parent, name, data);
        maxID = std::max(maxID, be::get32(data, 8));
      }
      ++seen;
    }
    last = n;
    n = be::get32(nd, 0);
  }
  if (seen != leafRecords) bad << "leaf records " << seen << " != " << leafRecords << "\n";
  if (last != lastLeaf) bad << "last leaf\n";
  if (v.nextCatalogID <= maxID) bad << "next catalog ID " << v.nextCatalogID << " in use\n";
  // Index nodes from the root: each record's key is its child's first key.
  std::vector<std::uint32_t> stack{root};
  while (!stack.empty()) {
    const std::uint32_t at = stack.back();
    stack.pop_back();
    const Span nd = node(at);
    if (static_cast<std::int8_t>(nd[8]) != 0) continue;
    for (std::size_t i = 0; i < be::get16(nd, 10); ++i) {
      const Span rec = record(nd, i);
      const Span key = keyOf(rec);
      const std::uint32_t child = be::get32(rec, key.size());
      const Span first = keyOf(record(node(child), 0));
      if (!std::equal(key.begin(), key.end(), first.begin(), first.end()))
        bad << "index key of node " << at << " differs from child " << child << "\n";
      stack.push_back(child);
    }
  }
  // Paths from the thread records; every fork inside the volume, no block twice.
  const auto pathOf = [&](std::uint32_t parent, const std::string& name) {
    std::string path = name;
    for (std::uint32_t p = parent; p != 2 && threads.count(p); p = threads[p].first)
      path = threads[p].second + "/" + path;
    return path;
  };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
  std::uint32_t files = 0, folders = 0;
  for (const auto& [parent, name, data] : items) {
    if (parent == 1) continue;  // the root folder
    const std::int16_t type = static_cast<std::int16_t>(be::get16(data, 0));
    if (type == 1) {
      ++folders;
      v.folderIDs.insert(be::get32(data, 8));
      continue;
    }
    ++files;
    PlusVolume::File f;
    f.id = be::get32(data, 8);
    f.type = be::get32(data, 48);
    f.creator = be::get32(data, 52);
    f.dataBytes = be::get64(data, 88);
    f.dataStart = be::get32(data, 88 + 16);
    f.dataBlocks = be::get32(data, 88 + 20);
    f.rsrcBytes = be::get64(data, 168);
    f.rsrcStart = be::get32(data, 168 + 16);
    f.rsrcBlocks = be::get32(data, 168 + 20);
    for (const auto& [start, blocks] :
         {std::pair{f.dataStart, f.dataBlocks}, {f.rsrcStart, f.rsrcBlocks}})
      if (blocks != 0) extents.emplace_back(start, blocks);
    v.files[pathOf(parent, name)] = f;
  }
  std::sort(extents.begin(), extents.end());
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].first + extents[i].second > v.totalBlocks) bad << "extent past the end\n";
    if (i > 0 && extents[i - 1].first + extents[i - 1].second > extents[i].first)
      bad << "extents overlap\n";
  }
  if (files != v.fileCount || folders != v.folderCount) bad << "file or folder count\n";
  v.problems = bad.str();
  return v;
}

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
