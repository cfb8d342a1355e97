// SPDX-License-Identifier: GPL-2.0-or-later
// Layout records: what the writers put in a buffer is read back by an independent reader
// written from the record table (layout_records_reader.py), trees and lists come back with
// every kind and flag that is stored, and damaged buffers give what came before the damage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "quillion/FS.h"
#include "quillion/TNCMap.h"
#include "tests/support/test_support.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"
#include "tree/layout_maps.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

// A buffer from the writers, released with free() as the caller must.
struct MapBytes {
  void* data = nullptr;
  std::int32_t size = 0;
  ~MapBytes() { std::free(data); }
  std::span<const std::uint8_t> span() const {
    return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
  }
  std::vector<std::uint8_t> bytes() const { return {span().begin(), span().end()}; }
};

struct TreeOwner {
  FS_Tree* tree = nullptr;
  ~TreeOwner() { termTree(tree); }
};

struct ListOwner {
  FS_List* list = nullptr;
  ~ListOwner() { termList(list); }
};

std::string readerScript() {
  const char* source = std::getenv("QUILLION_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/tree/layout_records_reader.py";
}

// What the independent reader prints for `bytes`; its exit code through `status`.
std::string readWithPython(const TempDir& dir, const std::vector<std::uint8_t>& bytes,
                           int* status) {
  const fs::path file = dir.file("map.bin");
  writeFile(file, bytes);
  ToolResult r = runTool({"python3", readerScript(), file.string()});
  *status = r.exitCode;
  return r.output;
}

std::string readerLine(unsigned kind, unsigned expanded, std::uint32_t parent, int pause,
                       const std::string& title, const std::string& path) {
  return "2\t" + std::to_string(59 + title.size() + path.size()) + "\t" + std::to_string(kind) +
         "\t" + std::to_string(expanded) + "\t" + std::to_string(parent) + "\t" +
         std::to_string(pause) + "\t" + title + "\t" + path + "\n";
}

// Every stored property of every node below `node`, in pre-order, one line each.
void describe(FS_Node* node, int depth, std::string& out) {
  out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + GetTitleNode(node) +
         (IsFolderNode(node) ? " folder" : " file") + (isSymbolic(node) ? " symbolic" : "") +
         (IsExpandedNode(node) ? " expanded" : "") + (IsValid(node) ? "" : " invalid") +
         " pause=" + std::to_string(GetPauseLength(node)) +
         " bytes=" + std::to_string(dataActualSizeNode(node)) +
         " path=" + GetFullPathNameNode(node) + "\n";
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i)
    describe(GetChildNodeAtIndex(node, i), depth + 1, out);
}

std::string describe(FS_Tree* tree) {
  std::string out;
  describe(GetRootTreeNode(tree), 0, out);
  return out;
}

FS_Node* addPath(FS_Tree* tree, const fs::path& path, FS_Node* parent, bool symbolic = false) {
  FS_Node* node = initNode(path.c_str(), path.filename().c_str(), nullptr, symbolic);
  EXPECT_EQ(AddTreeNode(tree, node, parent), kNoErr) << path;
  return node;
}

class LayoutRecords : public ::testing::Test {
 protected:
  void SetUp() override { QUILLION_REQUIRE_TOOL("python3"); }

  // Vol holding folder A (with a.txt) and file b.txt, on disc below the temporary folder.
  FS_Tree* smallTree() {
    fs::create_directories(dir.file("A"));
    writeFile(dir.file("A") / "a.txt", "abc");
    writeFile(dir.file("b.txt"), "defgh");
    FS_Tree* tree = initTree(nullptr);
    EXPECT_EQ(SetTreetitle(tree, "Vol"), kNoErr);
    FS_Node* a = addPath(tree, dir.file("A"), nullptr);
    addPath(tree, dir.file("A") / "a.txt", a);
    addPath(tree, dir.file("b.txt"), nullptr);
    return tree;
  }

  TempDir dir;
};

}  // namespace

// Records Vol (parent 0), A (parent 0), a.txt (parent 1), b.txt (parent 0), field by field
// as the table gives them, and the tree reads back the same.
TEST_F(LayoutRecords, SmallTreeWritesItsRecordsAndReadsBack) {
  TreeOwner source{smallTree()};
  MapBytes map;
  ASSERT_EQ(TNC_FSTreeToTreeMap(source.tree, &map.data, &map.size), kNoErr);
  const std::string a = dir.file("A").string(), at = (dir.file("A") / "a.txt").string(),
                    b = dir.file("b.txt").string();
  int status = 0;
  EXPECT_EQ(readWithPython(dir, map.bytes(), &status),
            readerLine(1, 0, 0, -1, "Vol", "-") + readerLine(1, 0, 0, -1, "A", a) +
                readerLine(0, 0, 1, -1, "a.txt", at) + readerLine(0, 0, 0, -1, "b.txt", b) +
                "end 4 " + std::to_string(map.size) + "\n");
  EXPECT_EQ(status, 0);

  TreeOwner back;
  ASSERT_EQ(TNC_TreeMapToFSTree(map.data, map.size, &back.tree), kNoErr);
  EXPECT_EQ(describe(back.tree), describe(source.tree));
  std::uint32_t folders = 0, files = 0;
  std::uint64_t bytes = 0;
  ASSERT_EQ(TreeInfo(back.tree, &folders, &files, &bytes, nullptr, false), kNoErr);
  EXPECT_EQ(folders, 1u);
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(bytes, 2u * 4096) << "the root's totals are computed in the tree's block size";
}

// A 1-byte title and a 6-byte path make a 66-byte record whose length field says 66.
TEST_F(LayoutRecords, RecordLengthCountsHeadTitleAndPath) {
  ListOwner list{initList()};
  ASSERT_EQ(AppendItem(list.list, initNode("/x/y/z", "t", nullptr, false)), kNoErr);
  MapBytes map;
  ASSERT_EQ(TNC_FSListToListMap(list.list, &map.data, &map.size), kNoErr);
  ASSERT_EQ(map.size, 66);
  EXPECT_EQ(le::get16(map.span(), 6), 66u);
  int status = 0;
  EXPECT_EQ(readWithPython(dir, map.bytes(), &status),
            readerLine(0, 0, 0, -1, "t", "/x/y/z") + "end 1 66\n");
  EXPECT_EQ(status, 0);
}

// Every kind and stored flag survives a tree round trip: real and virtual folders, open and
// closed, files, a symbolic link kept as a link, a file that is gone (kept, not valid) and a
// folder ten levels deep; children come back in title order.
TEST_F(LayoutRecords, EveryKindAndFlagRoundTripsInATree) {
  fs::create_directories(dir.file("open/deep/1/2/3/4/5/6/7/8"));
  writeFile(dir.file("open/deep/1/2/3/4/5/6/7/8/leaf.bin"), patternBytes(5000));
  writeFile(dir.file("target.txt"), "target");
  fs::create_symlink(dir.file("target.txt"), dir.file("link"));
  writeFile(dir.file("gone.txt"), "soon gone");

  TreeOwner source{initTree(nullptr)};
  ASSERT_EQ(SetTreetitle(source.tree, "Every Kind"), kNoErr);
  FS_Node* open = addPath(source.tree, dir.file("open"), nullptr);
  SetIsExpandedNode(open, true);
  FS_Node* parent = open;
  fs::path at = dir.file("open");
  for (const char* level : {"deep", "1", "2", "3", "4", "5", "6", "7", "8"}) {
    at /= level;
    parent = addPath(source.tree, at, parent);
  }
  addPath(source.tree, at / "leaf.bin", parent);
  FS_Node* made = initNode(nullptr, "Made In Layout", nullptr, false);
  ASSERT_EQ(AddTreeNode(source.tree, made, nullptr), kNoErr);
  SetIsExpandedNode(made, true);
  addPath(source.tree, dir.file("target.txt"), made);
  FS_Node* link = addPath(source.tree, dir.file("link"), nullptr, true);
  ASSERT_TRUE(isSymbolic(link));
  addPath(source.tree, dir.file("gone.txt"), nullptr);

  MapBytes map;
  ASSERT_EQ(TNC_FSTreeToTreeMap(source.tree, &map.data, &map.size), kNoErr);
  int status = 0;
  const std::string lines = readWithPython(dir, map.bytes(), &status);
  ASSERT_EQ(status, 0) << lines;
  EXPECT_NE(lines.find(readerLine(2, 0, 0, -1, "link", dir.file("link").string())),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find(readerLine(1, 1, 0, -1, "Made In Layout", "-")), std::string::npos) << lines;

  fs::remove(dir.file("gone.txt"));
  std::string wanted = describe(source.tree);
  const std::string goneLine = "gone.txt file pause=-1 bytes=9";
  ASSERT_NE(wanted.find(goneLine), std::string::npos);
  wanted.replace(wanted.find(goneLine), goneLine.size(), "gone.txt file invalid pause=-1 bytes=0");
  const std::string rootLine =
      "bytes=" + std::to_string(dataActualSizeNode(GetRootTreeNode(source.tree))) + " ";
  wanted.replace(
      wanted.find(rootLine), rootLine.size(),
      "bytes=" + std::to_string(dataActualSizeNode(GetRootTreeNode(source.tree)) - 9) + " ");

  TreeOwner back;
  ASSERT_EQ(TNC_TreeMapToFSTree(map.data, map.size, &back.tree), kNoErr);
  EXPECT_EQ(describe(back.tree), wanted);
  EXPECT_EQ(GetFullPathNameNode(GetChildNodeAtIndex(GetRootTreeNode(back.tree), 2)), std::string())
      << "a folder made in the layout has no path after reading either";
}

// A list keeps its order (not title order), its pauses and its files' flags.
TEST_F(LayoutRecords, ListRoundTripKeepsOrderAndPauses) {
  writeFile(dir.file("b.wav"), patternBytes(100));
  writeFile(dir.file("a.wav"), patternBytes(200));
  ListOwner list{initList()};
  FS_Node* first = initNode(dir.file("b.wav").c_str(), "b.wav", nullptr, false);
  FS_Node* second = initNode(dir.file("a.wav").c_str(), "a.wav", nullptr, false);
  FS_Node* third = initNode("/no/such/track.wav", "track.wav", nullptr, false);
  SetPauseLength(first, 0);
  SetPauseLength(second, 2);
  for (FS_Node* n : {first, second, third}) ASSERT_EQ(AppendItem(list.list, n), kNoErr);

  MapBytes map;
  ASSERT_EQ(TNC_FSListToListMap(list.list, &map.data, &map.size), kNoErr);
  int status = 0;
  EXPECT_EQ(readWithPython(dir, map.bytes(), &status),
            readerLine(0, 0, 0, 0, "b.wav", dir.file("b.wav").string()) +
                readerLine(0, 0, 0, 2, "a.wav", dir.file("a.wav").string()) +
                readerLine(0, 0, 0, -1, "track.wav", "/no/such/track.wav") + "end 3 " +
                std::to_string(map.size) + "\n");

  ListOwner back;
  ASSERT_EQ(TNC_ListMapToFSList(map.data, map.size, &back.list), kNoErr);
  ASSERT_EQ(SizeOfList(back.list), 3u);
  std::string got, wanted;
  for (std::uint32_t i = 0; i < 3; ++i) {
    describe(NodeAtIndex(back.list, i), 0, got);
    describe(NodeAtIndex(list.list, i), 0, wanted);
  }
  EXPECT_EQ(got, wanted);
  EXPECT_FALSE(IsValid(NodeAtIndex(back.list, 2)));
}

// Buffers grow in steps while being written: 2,000 entries with long paths need more than
// the first guess, and every record is still where the reader expects it.
TEST_F(LayoutRecords, BuffersGrowPastTheirFirstSize) {
  ListOwner list{initList()};
  const std::string folder = "/" + std::string(150, 'p') + "/";
  for (int i = 0; i < 2000; ++i) {
    const std::string title = "track " + std::to_string(i);
    ASSERT_EQ(
        AppendItem(list.list, initNode((folder + title).c_str(), title.c_str(), nullptr, false)),
        kNoErr);
  }
  MapBytes map;
  ASSERT_EQ(TNC_FSListToListMap(list.list, &map.data, &map.size), kNoErr);
  EXPECT_GT(map.size, 2000 * 132 + 131072) << "two growth steps at least";
  int status = 0;
  const std::string lines = readWithPython(dir, map.bytes(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(lines.find("end 2000 " + std::to_string(map.size) + "\n"), std::string::npos);
  ListOwner back;
  ASSERT_EQ(TNC_ListMapToFSList(map.data, map.size, &back.list), kNoErr);
  ASSERT_EQ(SizeOfList(back.list), 2000u);
  EXPECT_STREQ(GetTitleNode(NodeAtIndex(back.list, 1999)), "track 1999");
}

// Title and path share one 16-bit length with the head: 65,476 bytes of names fit, one more
// is refused with nothing returned rather than written with a wrapped length.
TEST_F(LayoutRecords, NamesTooLongForTheLengthFieldAreRefused) {
  for (const std::size_t names : {std::size_t{65476}, std::size_t{65477}}) {
    ListOwner list{initList()};
    const std::string path = "/" + std::string(names - 2, 'n');
    ASSERT_EQ(AppendItem(list.list, initNode(path.c_str(), "t", nullptr, false)), kNoErr);
    MapBytes map;
    const EngineStatus s = TNC_FSListToListMap(list.list, &map.data, &map.size);
    if (names == 65476) {
      ASSERT_EQ(s, kNoErr);
      EXPECT_EQ(map.size, 65535);
      EXPECT_EQ(le::get16(map.span(), 6), 65535u);
    } else {
      EXPECT_EQ(s, kErrNotSupported);
      EXPECT_EQ(map.data, nullptr);
      EXPECT_EQ(map.size, 0);
    }
  }
  TreeOwner tree{initTree(nullptr)};
  FS_Node* node = initNode(nullptr, std::string(65477, 't').c_str(), nullptr, false);
  ASSERT_EQ(AddTreeNode(tree.tree, node, nullptr), kNoErr);
  MapBytes map;
  EXPECT_EQ(TNC_FSTreeToTreeMap(tree.tree, &map.data, &map.size), kErrNotSupported);
  EXPECT_EQ(map.data, nullptr);
}

TEST_F(LayoutRecords, MissingArgumentsAndEmptyList) {
  TreeOwner tree{initTree(nullptr)};
  ListOwner list{initList()};
  MapBytes map;
  FS_Tree* outTree = nullptr;
  FS_List* outList = nullptr;
  const std::uint8_t byte = 0;
  EXPECT_EQ(TNC_FSTreeToTreeMap(nullptr, &map.data, &map.size), kErrBadArgument);
  EXPECT_EQ(TNC_FSTreeToTreeMap(tree.tree, nullptr, &map.size), kErrBadArgument);
  EXPECT_EQ(TNC_FSTreeToTreeMap(tree.tree, &map.data, nullptr), kErrBadArgument);
  EXPECT_EQ(TNC_TreeMapToFSTree(nullptr, 1, &outTree), kErrBadArgument);
  EXPECT_EQ(TNC_TreeMapToFSTree(&byte, 0, &outTree), kErrBadArgument);
  EXPECT_EQ(TNC_TreeMapToFSTree(&byte, -5, &outTree), kErrBadArgument);
  EXPECT_EQ(TNC_TreeMapToFSTree(&byte, 1, nullptr), kErrBadArgument);
  EXPECT_EQ(TNC_FSListToListMap(nullptr, &map.data, &map.size), kErrBadArgument);
  EXPECT_EQ(TNC_FSListToListMap(list.list, nullptr, &map.size), kErrBadArgument);
  EXPECT_EQ(TNC_ListMapToFSList(nullptr, 1, &outList), kErrBadArgument);
  EXPECT_EQ(TNC_ListMapToFSList(&byte, 0, &outList), kErrBadArgument);
  EXPECT_EQ(TNC_ListMapToFSList(&byte, 1, nullptr), kErrBadArgument);
  EXPECT_EQ(outTree, nullptr);
  EXPECT_EQ(outList, nullptr);

  map.size = 99;
  EXPECT_EQ(TNC_FSListToListMap(list.list, &map.data, &map.size), kNoErr);
  EXPECT_EQ(map.data, nullptr);
  EXPECT_EQ(map.size, 0);
}

// ---- damaged buffers ----

namespace {

// Vol, A (parent 0), a.txt (parent 1), b.txt (parent 0) with no files behind them: four
// records whose offsets the cases below damage.
std::vector<std::uint8_t> fourRecordMap(std::vector<std::size_t>* starts) {
  TreeOwner tree{initTree(nullptr)};
  EXPECT_EQ(SetTreetitle(tree.tree, "Vol"), kNoErr);
  FS_Node* a = initNode(nullptr, "A", nullptr, false);
  EXPECT_EQ(AddTreeNode(tree.tree, a, nullptr), kNoErr);
  EXPECT_EQ(AddTreeNode(tree.tree, FS_Node::MakeImportFile("a.txt", nullptr, 0, 0), a), kNoErr);
  EXPECT_EQ(AddTreeNode(tree.tree, FS_Node::MakeImportFile("b.txt", nullptr, 0, 0), nullptr),
            kNoErr);
  MapBytes map;
  EXPECT_EQ(TNC_FSTreeToTreeMap(tree.tree, &map.data, &map.size), kNoErr);
  std::vector<std::uint8_t> bytes = map.bytes();
  for (std::size_t at = 0; at < bytes.size(); at += le::get16(bytes, at + 6)) starts->push_back(at);
  return bytes;
}

struct Damage {
  const char* name;
  void (*apply)(std::vector<std::uint8_t>& bytes, const std::vector<std::size_t>& starts);
  layout::ReadStop stop;
  const char* tree;  // titles in pre-order, folders' children indented
};

std::string outline(FS_Node* node, int depth = 0) {
  std::string out = std::string(static_cast<std::size_t>(depth), '.') + GetTitleNode(node) + "\n";
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i)
    out += outline(GetChildNodeAtIndex(node, i), depth + 1);
  return out;
}

const Damage kDamages[] = {
    {"third record's magic broken", [](auto& b, const auto& s) { b[s[2]] = 'X'; },
     layout::ReadStop::kNoMagic, "Vol\n.A\n"},
    {"third record's length zero", [](auto& b, const auto& s) { le::put16(b, s[2] + 6, 0); },
     layout::ReadStop::kBadLength, "Vol\n.A\n"},
    {"third record's length one short of its names",
     [](auto& b, const auto& s) { le::put16(b, s[2] + 6, le::get16(b, s[2] + 6) - 1); },
     layout::ReadStop::kBadLength, "Vol\n.A\n"},
    {"third record's title length past the buffer",
     [](auto& b, const auto& s) {
       le::put16(b, s[2] + 8, 60000);
       le::put16(b, s[2] + 6, 59 + 60000 + le::get16(b, s[2] + 10));
     },
     layout::ReadStop::kBadLength, "Vol\n.A\n"},
    {"path of the last record cut short", [](auto& b, const auto&) { b.resize(b.size() - 1); },
     layout::ReadStop::kBadLength, "Vol\n.A\n..a.txt\n"},
    {"head of the last record cut short", [](auto& b, const auto& s) { b.resize(s[3] + 30); },
     layout::ReadStop::kBadLength, "Vol\n.A\n..a.txt\n"},
    {"garbage after the last record",
     [](auto& b, const auto&) {
       b.insert(b.end(), {'T', 'M', 'N'});
     },
     layout::ReadStop::kNoMagic, "Vol\n.A\n..a.txt\n.b.txt\n"},
    {"third record dropped", [](auto& b, const auto& s) { le::put32(b, s[2] + 16, 0xFFFFFFFF); },
     layout::ReadStop::kDropped, "Vol\n.A\n"},
    {"parent index 7 of four records", [](auto& b, const auto& s) { le::put32(b, s[2] + 16, 7); },
     layout::ReadStop::kEnd, "Vol\n.A\n.b.txt\n"},
    {"parent index 7 in a map of three records",
     [](auto& b, const auto& s) {
       b.resize(s[3]);
       le::put32(b, s[2] + 16, 7);
     },
     layout::ReadStop::kEnd, "Vol\n.A\n"},
    {"a record naming itself as parent", [](auto& b, const auto& s) { le::put32(b, s[1] + 16, 1); },
     layout::ReadStop::kEnd, "Vol\n.b.txt\n"},
    {"two folders naming each other",
     [](auto& b, const auto& s) {
       le::put32(b, s[1] + 16, 2);
       le::put32(b, s[2] + 16, 1);
       le::put16(b, s[2] + 12, 1);
     },
     layout::ReadStop::kEnd, "Vol\n.b.txt\n"},
    {"a child of a file", [](auto& b, const auto& s) { le::put32(b, s[3] + 16, 2); },
     layout::ReadStop::kEnd, "Vol\n.A\n..a.txt\n"},
    {"a title clashing with a sibling's in another case",
     [](auto& b, const auto& s) {
       b[s[3] + 59] = 'A';
       le::put32(b, s[3] + 16, 1);
     },
     layout::ReadStop::kEnd, "Vol\n.A\n..a.txt\n"},
    {"a record moved to the root takes its place in title order",
     [](auto& b, const auto& s) { le::put32(b, s[2] + 16, 0); }, layout::ReadStop::kEnd,
     "Vol\n.A\n.a.txt\n.b.txt\n"},
};

}  // namespace

// Each damaged buffer gives the tree of the records before the damage (or without the
// records that cannot hang anywhere), says why reading stopped, and leaks nothing.
TEST(LayoutRecordsDamaged, TreeMapsKeepWhatCameBeforeTheDamage) {
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.name);
    std::vector<std::size_t> starts;
    std::vector<std::uint8_t> bytes = fourRecordMap(&starts);
    ASSERT_EQ(starts.size(), 4u);
    d.apply(bytes, starts);
    TreeOwner tree;
    layout::MapReadReport report;
    ASSERT_EQ(layout::readTreeMap(bytes, &tree.tree, &report), kNoErr);
    EXPECT_EQ(report.stop, d.stop);
    EXPECT_EQ(outline(GetRootTreeNode(tree.tree)), d.tree);
    TreeOwner flat;
    ASSERT_EQ(
        TNC_TreeMapToFSTree(bytes.data(), static_cast<std::int32_t>(bytes.size()), &flat.tree),
        kNoErr);
    EXPECT_EQ(outline(GetRootTreeNode(flat.tree)), d.tree);
  }
}

// A map that must come back whole: every damage that loses a record or leaves bytes unread
// gives -1003 and no tree; a record that still hangs somewhere, and the undamaged map, read.
TEST(LayoutRecordsDamaged, AWholeReadRefusesEveryMapThatLostARecord) {
  std::vector<std::size_t> starts;
  const std::vector<std::uint8_t> good = fourRecordMap(&starts);
  TreeOwner back;
  ASSERT_EQ(
      TNC_TreeMapToFSTreeWhole(good.data(), static_cast<std::int32_t>(good.size()), &back.tree),
      kNoErr);
  EXPECT_EQ(outline(GetRootTreeNode(back.tree)), "Vol\n.A\n..a.txt\n.b.txt\n");
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.name);
    std::vector<std::uint8_t> bytes = good;
    d.apply(bytes, starts);
    const bool whole = d.stop == layout::ReadStop::kEnd &&
                       std::count(d.tree, d.tree + std::strlen(d.tree), '\n') == 4;
    const TreeOwner sentinel{initTree(nullptr)};
    FS_Tree* tree = sentinel.tree;  // a refusal clears it
    const EngineStatus status =
        TNC_TreeMapToFSTreeWhole(bytes.data(), static_cast<std::int32_t>(bytes.size()), &tree);
    TreeOwner owner{whole ? tree : nullptr};
    if (whole) {
      EXPECT_EQ(status, kNoErr);
      ASSERT_NE(tree, nullptr);
      EXPECT_EQ(outline(GetRootTreeNode(tree)), d.tree);
    } else {
      EXPECT_EQ(status, kErrNotSupported);
      EXPECT_EQ(tree, nullptr);
    }
  }
  FS_Tree* none = nullptr;
  EXPECT_EQ(TNC_TreeMapToFSTreeWhole(nullptr, 4, &none), kErrBadArgument);
  EXPECT_EQ(TNC_TreeMapToFSTreeWhole(good.data(), 0, &none), kErrBadArgument);
}

// A list reads up to the first damaged record and skips dropped ones.
TEST(LayoutRecordsDamaged, ListMapsStopAtTheDamageAndSkipDropped) {
  ListOwner list{initList()};
  for (const char* title : {"one", "two", "three", "four"})
    ASSERT_EQ(AppendItem(list.list, initNode("/none", title, nullptr, false)), kNoErr);
  MapBytes map;
  ASSERT_EQ(TNC_FSListToListMap(list.list, &map.data, &map.size), kNoErr);
  std::vector<std::uint8_t> dropped = map.bytes();
  le::put32(dropped, le::get16(dropped, 6) + 16, 0xFFFFFFFF);  // the second record
  std::vector<std::uint8_t> zero = map.bytes();
  const std::size_t third =
      std::size_t{le::get16(zero, 6)} + le::get16(zero, le::get16(zero, 6) + 6);
  le::put16(zero, third + 6, 0);

  const auto titles = [](const std::vector<std::uint8_t>& bytes, layout::ReadStop* stop) {
    ListOwner back;
    layout::MapReadReport report;
    EXPECT_EQ(layout::readListMap(bytes, &back.list, &report), kNoErr);
    *stop = report.stop;
    std::string out;
    for (std::uint32_t i = 0; i < SizeOfList(back.list); ++i)
      out += std::string(GetTitleNode(NodeAtIndex(back.list, i))) + " ";
    return out;
  };
  layout::ReadStop stop{};
  EXPECT_EQ(titles(dropped, &stop), "one three four ");
  EXPECT_EQ(stop, layout::ReadStop::kEnd);
  EXPECT_EQ(titles(zero, &stop), "one two ");
  EXPECT_EQ(stop, layout::ReadStop::kBadLength);
}
