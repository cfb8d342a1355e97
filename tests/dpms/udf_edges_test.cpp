// SPDX-License-Identifier: GPL-2.0-or-later
// The edges of the UDF layout, each read back by the descriptor checker: the 512-sector
// minimum, folders at and past the embedding limit, files over several extents, empty
// files, 1.02 against 1.50, a later session's start, the file locations for the verify
// pass, the format rows, and layouts that must be refused.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "DPMs/registry/file_system_formats.h"
#include "common/byte_order.h"
#include "tests/dpms/udf_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

// Names of ten characters take 60-byte identifiers, shorter ones 44 to 56 bytes: a folder
// of exactly `bytes` bytes of identifiers (the parent's 40 included).
std::vector<std::string> namesFilling(std::uint32_t bytes) {
  const auto size = [](std::size_t units) { return ((38 + 1 + 2 * units) + 3) & ~std::size_t{3}; };
  std::vector<std::string> names;
  std::uint32_t left = bytes - 40;
  while (left > 0) {
    std::size_t units = 10;
    while (units > 1 &&
           (size(units) > left || (left - size(units) != 0 && left - size(units) < 44)))
      --units;
    if (size(units) > left) return {};  // no list of identifiers has this size
    char name[16];
    std::snprintf(name, sizeof name, "%0*zu", static_cast<int>(units), names.size());
    names.emplace_back(name);
    left -= static_cast<std::uint32_t>(size(units));
  }
  return names;
}

std::uint32_t le32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return le::get32(b, at);
}

// Sets TZ for the test's time and puts the previous value back.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedZone() {
    if (previous_.empty())
      ::unsetenv("TZ");
    else
      ::setenv("TZ", previous_.c_str(), 1);
    ::tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::string previous_;
};

}  // namespace

// The recording time is the injected clock's, in local time with its offset from UTC as
// date(1) gives it for that zone and instant (winter, summer, west of Greenwich): in the
// integrity descriptor's timestamp and in the ISO9660 stub's creation date.
TEST_F(UdfImages, RecordingTimeCarriesTheLocalOffset) {
  QUILLION_REQUIRE_TOOL("date");
  source("a.txt", "a");
  struct Case {
    const char* zone;
    std::int64_t seconds;
  };
  for (const Case& c : {Case{"Europe/Berlin", 1'700'000'000}, Case{"Europe/Berlin", 1'720'000'000},
                        Case{"America/New_York", 1'700'000'000}}) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.seconds));
    const ToolResult local =
        runTool({"date", "-d", "@" + std::to_string(c.seconds), "+%Y%m%d%H%M%S %z"},
                ToolOptions{{}, {{"TZ", c.zone}}, true});
    ASSERT_EQ(local.exitCode, 0);
    const std::string digits = local.output.substr(0, 14);
    const int sign = local.output[15] == '-' ? -1 : 1;
    const int offset =
        sign * (std::stoi(local.output.substr(16, 2)) * 60 + std::stoi(local.output.substr(18, 2)));
    ScopedZone zone(c.zone);
    VirtualClock at{Clock::WallTime(std::chrono::seconds(c.seconds))};
    ScopedClockOverride useAt{at};
    ASSERT_GT(produce(DPM_UDF::kModeUDF102), 0u);
    EXPECT_EQ(faults(), "");
    const std::size_t lvid = 64 * 2048 + 16;
    EXPECT_EQ(le::get16(bytes, lvid), 0x1000 | (offset & 0x0FFF));
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u%02u%02u%02u%02u%02u", le::get16(bytes, lvid + 2),
                  bytes[lvid + 4], bytes[lvid + 5], bytes[lvid + 6], bytes[lvid + 7],
                  bytes[lvid + 8]);
    EXPECT_EQ(std::string(stamp), digits);
    const std::size_t created = 16 * 2048 + 813;
    EXPECT_EQ(std::string(bytes.begin() + created, bytes.begin() + created + 14), digits);
    EXPECT_EQ(static_cast<std::int8_t>(bytes[created + 16]), offset / 15);
  }
}

// A small tree fills exactly 512 sectors: headers, data, zeros, and the second anchor in
// the last one, which udfinfo finds there.
TEST_F(UdfImages, SmallTreesFillTheMinimum) {
  QUILLION_REQUIRE_TOOL("udfinfo");
  source("a.txt", "alpha");
  for (const std::uint16_t mode : {DPM_UDF::kModeUDF102, DPM_UDF::kModeDVDVideo}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(produce(mode), 512u);
    EXPECT_EQ(bytes.size(), 512u * 2048);
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(report.files.at("a.txt").data, "alpha");
    const std::string info = runReader({"udfinfo", image()});
    EXPECT_NE(info.find("start=511, blocks=1, type=ANCHOR"), std::string::npos) << info;
  }
}

// Identifiers of up to 1872 bytes live in the folder's entry; 1876 bytes (the next size an
// identifier list can have) get a block of their own. Files beyond the extent limit take
// several long descriptors, each starting where the previous one ended; an empty file has
// none.
TEST_F(UdfImages, EmbeddingAndExtentsAtTheirLimits) {
  struct Folder {
    const char* name;
    std::uint32_t bytes;
    std::uint16_t flags;
  };
  const std::vector<Folder> folders = {{"fits", 1872, 3}, {"spills", 1876, 1}, {"small", 84, 3}};
  for (const Folder& f : folders)
    for (const std::string& n : namesFilling(f.bytes)) source(fs::path(f.name) / n, "");
  const std::string big = patternBytes(10000, 5);
  source("big.bin", big);
  source("empty.bin", "");
  DPM_UDF::Options options;
  options.maxExtentBytes = 4096;
  ASSERT_GT(produce(DPM_UDF::kModeUDF150, 0, options), 0u);
  EXPECT_EQ(faults(), "");
  for (const Folder& f : folders) {
    SCOPED_TRACE(f.name);
    const UdfCheckedFile& d = report.files.at(std::string(f.name) + "/");
    EXPECT_EQ(d.size, f.bytes);
    EXPECT_EQ(d.icbFlags, f.flags);
    EXPECT_EQ(d.extents.empty(), f.flags == 3);
  }
  const UdfCheckedFile& b = report.files.at("big.bin");
  ASSERT_EQ(b.extents.size(), 3u);
  EXPECT_EQ(b.extents[1].first, b.extents[0].first + 2);
  EXPECT_EQ(b.extents[2].first, b.extents[0].first + 4);
  EXPECT_EQ(b.extents[2].second, 10000u - 8192);
  EXPECT_EQ(b.data, big);
  EXPECT_TRUE(report.files.at("empty.bin").extents.empty());
  EXPECT_EQ(report.files.at("empty.bin").size, 0u);
}

// 1.02 and 1.50 of one tree differ in the revision and in file permissions only: the same
// sectors hold the same files, and folders are alike.
TEST_F(UdfImages, RevisionsDifferInRevisionAndPermissions) {
  writeSource(richFixture());
  ASSERT_GT(produce(DPM_UDF::kModeUDF102), 0u);
  const UdfCheckReport old = report;
  const std::size_t oldSize = bytes.size();
  ASSERT_GT(produce(DPM_UDF::kModeUDF150), 0u);
  EXPECT_EQ(bytes.size(), oldSize);
  EXPECT_EQ(faults(), "");
  EXPECT_EQ(old.revision, 0x0102);
  EXPECT_EQ(report.revision, 0x0150);
  ASSERT_EQ(old.files.size(), report.files.size());
  for (const auto& [path, f] : report.files) {
    const UdfCheckedFile& o = old.files.at(path);
    EXPECT_EQ(f.extents, o.extents) << path;
    EXPECT_EQ(f.entryBlock, o.entryBlock) << path;
    EXPECT_EQ(o.permissions, f.folder ? 0x14A5u : 0x1084u) << path;
    EXPECT_EQ(f.permissions, 0x14A5u) << path;
  }
}

// A fixed tree and a fixed clock give the same bytes every time, DVD-Video order with its
// patched copies included.
TEST_F(UdfImages, SameTreeSameBytes) {
  writeSource(richFixture());
  for (const std::uint16_t mode : {DPM_UDF::kModeUDF150, DPM_UDF::kModeDVDVideo}) {
    SCOPED_TRACE(mode);
    ASSERT_GT(produce(mode), 0u);
    const std::vector<std::uint8_t> first = bytes;
    ASSERT_GT(produce(mode), 0u);
    EXPECT_TRUE(first == bytes);
    // Names beyond 8 bits are 16-bit in DVD-Video order too; every name reads back.
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(differences(checkedTree(report), filesBelow(dir.file("src"))), "");
  }
}

// The file entries and directories are made as their sectors are asked for: whatever
// chunks a reader asks in (one sector, 37 sectors as the fixture does, far more than the
// header has), the image is the same, and the checker verifies every tag in it, those of
// a folder whose identifiers span several blocks included.
TEST_F(UdfImages, SameBytesInAnyChunks) {
  writeSource(richFixture());
  for (int i = 0; i < 150; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "many/file_%03d_with_a_long_name.txt", i);
    source(name, patternBytes(static_cast<std::size_t>(i) * 37, static_cast<unsigned>(i)));
  }
  for (const std::uint16_t mode : {DPM_UDF::kModeUDF102, DPM_UDF::kModeDVDVideo}) {
    SCOPED_TRACE(mode);
    ASSERT_GT(produce(mode), 0u);
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(differences(checkedTree(report), filesBelow(dir.file("src"))), "");
    EXPECT_GT(report.files.at("many/").size, 5u * 2048) << "identifiers over several blocks";
    for (const std::uint32_t chunk : {1u, 4096u}) {
      SCOPED_TRACE(chunk);
      DPM_UDF::Options options;
      useTemporaryFolder(options);
      DPM_UDF again(tree.get(), 0, 0, mode, options);
      const DrainResult r = drainToFile(again, dir.file("again.udf"), 0, chunk);
      EXPECT_EQ(r.written, r.prepared);
      EXPECT_TRUE(readFile(dir.file("again.udf")) == bytes);
    }
  }
}

// An image that continues a disc at sector 1000: every tag carries its absolute sector,
// the partition starts at 257, the ISO9660 stub's path tables and root point past the
// start, and the verify list gives the sectors where the checker found each file.
TEST_F(UdfImages, LaterSessionShiftsEverySector) {
  source("one.bin", patternBytes(5000, 1));
  source("dir/two.bin", patternBytes(3000, 2));
  constexpr std::uint32_t kStart = 1000;
  ASSERT_GT(produce(DPM_UDF::kModeUDF102, kStart), 0u);
  EXPECT_EQ(faults(), "");
  EXPECT_EQ(report.partitionStart, 257u);
  EXPECT_EQ(report.files.at("dir/two.bin").data, patternBytes(3000, 2));
  EXPECT_EQ(le32At(bytes, 16 * 2048 + 80), kStart + 28) << "volume space";
  EXPECT_EQ(le32At(bytes, 16 * 2048 + 140), kStart + 21) << "L path table";
  EXPECT_EQ(le32At(bytes, 21 * 2048 + 2), kStart + 23) << "root in the path table";

  FS_FileLocList* list = nullptr;
  ASSERT_EQ(producer->GetFileLocList(&list), kNoErr);
  const FS_FileLocListPtr owned(list);
  ASSERT_EQ(list->count, 2u);
  for (std::uint32_t i = 0; i < list->count; ++i) {
    const FS_FileLocListEntry& e = FS_FileLocListEntries(list)[i];
    const std::string path =
        e.node->Parent()->Parent() == nullptr ? e.node->Title() : "dir/" + e.node->Title();
    EXPECT_EQ(e.dataLBA, report.files.at(path).extents.at(0).first) << path;
  }
  EXPECT_EQ(producer->GetFileLocList(nullptr), kErrBadArgument);

  std::vector<std::uint8_t> anchor(2048);
  ASSERT_EQ(producer->GetAVDP(anchor.data()), 1);
  EXPECT_TRUE(std::equal(anchor.begin(), anchor.end(), bytes.begin() + 256 * 2048));
  EXPECT_EQ(le32At(anchor, 12), kStart + 256);
  EXPECT_EQ(producer->GetAVDP(nullptr), 0);
}

// Layouts no image can be made of: each refused with its status and a reason.
TEST_F(UdfImages, ImpossibleLayoutsAreRefused) {
  source("file.bin", patternBytes(118 * 2048, 3));
  DPM_UDF::Options tiny;
  tiny.maxExtentBytes = 2048;  // 118 extents: more than one entry's 117 descriptors
  EXPECT_EQ(refusal(DPM_UDF::kModeUDF102, 0, tiny), kErrProducerTooManyFiles);
  EXPECT_NE(producer->LayoutProblem().find("file.bin"), std::string::npos);

  DPM_UDF::Options noConverter;
  noConverter.nameEncoding = 0x7EADBEEF;
  EXPECT_EQ(refusal(DPM_UDF::kModeUDF150, 0, noConverter), kErrOutOfMemory);

  tree = treeFromFolder(dir.file("src"), "T");
  producer = std::make_unique<DPM_UDF>(tree.get(), 0, 0, DPM_UDF::kModeUDF102);
  std::uint16_t mode2 = 2336;
  EXPECT_EQ(producer->PrepareAll(&mode2, nullptr, nullptr), 0u);
  EXPECT_EQ(producer->PrepareStatus(), kErrBadArgument);
  std::vector<std::uint8_t> anchor(2048);
  EXPECT_EQ(producer->GetAVDP(anchor.data()), 0) << "no anchor before a layout";

  // A file of an earlier session before the partition's first sector, 257.
  tree = treeFromFolder(dir.file("src"), "T");
  FS_Node* earlier = FS_Node::MakeImportFile("earlier.bin", tree->Root(), 100, 0);
  ASSERT_NE(earlier, nullptr);
  earlier->dataActualSize = 5000;
  producer = std::make_unique<DPM_UDF>(tree.get(), 1000, 0, DPM_UDF::kModeUDF102);
  std::uint16_t size = 0;
  EXPECT_EQ(producer->PrepareAll(&size, nullptr, nullptr), 0u);
  EXPECT_EQ(producer->PrepareStatus(), kErrProducerFormat);
  earlier->importDataLBA = 400;
  EXPECT_GT(producer->PrepareAll(&size, nullptr, nullptr), 0u) << producer->LayoutProblem();

  // Two titles that are one name once normalised (é composed and decomposed).
  fs::remove_all(dir.file("src"));
  source("\xC3\xA9.txt", "1");
  source("e\xCC\x81.txt", "2");
  EXPECT_EQ(refusal(DPM_UDF::kModeUDF102), kErrProducerName);
}

// The three format rows make UDF producers of their mode, with no ISO9660 XA part.
TEST(UdfFormats, RowsMakeTheirModes) {
  struct Case {
    std::uint32_t code;
    std::uint16_t revision;
    bool dvdVideo;
  };
  TreePtr tree(new FS_Tree(nullptr));
  for (const Case& c : {Case{16, 0x0102, false}, Case{32, 0x0150, false}, Case{64, 0x0102, true}}) {
    SCOPED_TRACE(c.code);
    const FileSystemFormat* format = findFileSystemFormat(c.code);
    ASSERT_NE(format, nullptr);
    EXPECT_FALSE(format->iso9660Part);
    EXPECT_TRUE(format->makes(2048));
    auto producer = format->make(FileSystemRequest{tree.get(), 0, false, false});
    auto* udf = dynamic_cast<DPM_UDF*>(producer.get());
    ASSERT_NE(udf, nullptr);
    EXPECT_EQ(udf->Revision(), c.revision);
    EXPECT_EQ(udf->DVDVideo(), c.dvdVideo);
    std::uint16_t size = 0;
    EXPECT_EQ(udf->PrepareAll(&size, nullptr, nullptr), 512u);
  }
}
