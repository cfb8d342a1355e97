// SPDX-License-Identifier: GPL-2.0-or-later
// Images an import must survive: directories that hold themselves, records past their block,
// extents past the medium, absurd directory sizes, names that clash, forks in two records,
// versions, and UDF files whose extents do not follow each other. Each damaged image gives
// its status with no tree, in bounded reads; each odd but sound one a tree with nothing lost.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DPMs/udf/udf_structures.h"
#include "common/byte_order.h"
#include "faults.h"
#include "quillion/TNC.h"
#include "tests/support/test_support.h"
#include "tests/tree/import_fixture.h"
#include "tree/import_source.h"
#include "tree/iso9660_import.h"
#include "tree/udf_import.h"

using namespace quillion;
using namespace quillion::test;
using namespace quillion::test::importfx;
using namespace quillion::import;
namespace fs = std::filesystem;

namespace {

// Counts what the reader asks for, so that a hostile size shows as a bounded read.
class CountingSource final : public BlockSource {
 public:
  explicit CountingSource(std::span<const std::uint8_t> image) : memory_(image) {}
  EngineStatus read(std::uint32_t lba, std::uint32_t blocks,
                    std::vector<std::uint8_t>& out) override {
    blocksAsked += blocks;
    return memory_.read(lba, blocks, out);
  }
  std::uint32_t mediumBlocks() const override { return memory_.mediumBlocks(); }
  std::uint64_t blocksAsked = 0;

 private:
  MemoryBlockSource memory_;
};

struct Outcome {
  EngineStatus status = kErrBadArgument;
  std::unique_ptr<FS_Tree> tree;
  std::vector<TNC_ImportNote> notes;
  std::uint64_t blocksAsked = 0;
};

Outcome importImage(const std::vector<std::uint8_t>& image, bool udf) {
  CountingSource source(image);
  ImportWalk walk(source, ImportLimits{});
  Outcome out;
  out.status = udf ? importUdf(walk, 0, out.tree) : importIso9660(walk, 0, out.tree);
  out.notes = walk.notes();
  out.blocksAsked = source.blocksAsked;
  return out;
}

// A plain ISO9660 image of a few files and a folder.
std::vector<std::uint8_t> plainImage(const TempDir& dir,
                                     const std::vector<std::string>& options = {}) {
  const fs::path src = dir.file("src");
  fs::create_directories(src / "sub");
  writeFile(src / "README.TXT", "hello\n");
  writeFile(src / "F.A", "resource");
  writeFile(src / "F.B", "data fork");
  writeFile(src / "x", "x");
  writeFile(src / "sub" / "inner.txt", "inner");
  for (int i = 0; i < 60; ++i) writeFile(src / "sub" / ("file_" + std::to_string(i) + ".txt"), "n");
  std::vector<std::string> argv = {"genisoimage", "-quiet", "-V", "V"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-o", dir.file("p.iso").string(), src.string()});
  EXPECT_EQ(runTool(argv).exitCode, 0);
  return readFile(dir.file("p.iso"));
}

void putBoth32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  le::put32(image, at, value);
  be::put32(image, at + 4, value);
}

std::size_t mustFind(const std::vector<std::uint8_t>& image, std::uint32_t dir,
                     const std::string& id) {
  const std::size_t at = recordOffset(image, dir, id);
  EXPECT_NE(at, 0u) << id;
  return at;
}

std::uint32_t subDirectory(const std::vector<std::uint8_t>& image) {
  return le::get32(image, mustFind(image, rootDirectory(image), "SUB") + 2);
}

}  // namespace

// Each damage ends the import with -1361 and no tree, after reading no more than the image.
TEST(ImportHostile, DamagedIso9660Directories) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  const std::vector<std::uint8_t> sound = plainImage(dir);
  ASSERT_EQ(importImage(sound, false).status, kNoErr);
  const std::uint32_t root = rootDirectory(sound);
  const std::uint32_t sub = subDirectory(sound);

  struct Case {
    const char* what;
    void (*damage)(std::vector<std::uint8_t>&, std::uint32_t root, std::uint32_t sub);
  };
  const Case cases[] = {
      {"a folder that holds itself",
       [](std::vector<std::uint8_t>& im, std::uint32_t r, std::uint32_t) {
         putBoth32(im, mustFind(im, r, "SUB") + 2, r);
       }},
      {"a record longer than what is left of its block",
       [](std::vector<std::uint8_t>& im, std::uint32_t, std::uint32_t s) {
         // The last record of the folder's first block.
         std::size_t at = std::size_t{s} * 2048, last = at;
         while (at < (std::size_t{s} + 1) * 2048 && im[at] != 0) {
           last = at;
           at += im[at];
         }
         const std::size_t room = (std::size_t{s} + 1) * 2048 - last;
         ASSERT_LT(room, 255u);
         im[last] = static_cast<std::uint8_t>(room + 2);
       }},
      {"a file extent past the medium",
       [](std::vector<std::uint8_t>& im, std::uint32_t r, std::uint32_t) {
         putBoth32(im, mustFind(im, r, "README.TXT;1") + 2, 0x00FFFFFF);
       }},
      {"an absurd folder size",
       [](std::vector<std::uint8_t>& im, std::uint32_t r, std::uint32_t) {
         putBoth32(im, mustFind(im, r, "SUB") + 10, 0xFFFFF800);
       }},
      {"a first record that is not '.'",
       [](std::vector<std::uint8_t>& im, std::uint32_t, std::uint32_t s) {
         im[std::size_t{s} * 2048 + 33] = 'Q';
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image = sound;
    c.damage(image, root, sub);
    const Outcome out = importImage(image, false);
    EXPECT_EQ(out.status, kErrImportNoVolume);
    EXPECT_FALSE(out.tree);
    EXPECT_LE(out.blocksAsked, 2 * image.size() / 2048) << "bounded reading";
  }
}

// The same damage served by a drive: the flat call answers -1361 and gives no tree.
TEST(ImportHostile, DamagedDirectoryThroughTheDrive) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = plainImage(dir);
  putBoth32(image, mustFind(image, rootDirectory(image), "SUB") + 2, rootDirectory(image));
  writeFile(dir.file("bad.iso"), image);
  ServedDisc disc;
  ASSERT_TRUE(disc.serveImage(dir.file("bad.iso"), 0x10));
  FS_Tree* tree = reinterpret_cast<FS_Tree*>(1);
  EXPECT_EQ(iso9660TrackToFSTree(disc.ref(), 0, 1, &tree), kErrImportNoVolume);
  EXPECT_EQ(tree, nullptr);
}

// Blocks the drive cannot read: a folder gives -1363 and no tree; a session whose volume
// descriptors cannot be read is left out of the list, which still succeeds.
TEST(ImportHostile, UnreadableBlocksOnTheDrive) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  const std::vector<std::uint8_t> image = plainImage(dir);
  const std::uint32_t sub = subDirectory(image);
  writeFile(dir.file("p2.iso"), image);
  {
    ServedDisc disc;
    ASSERT_TRUE(disc.serveImage(dir.file("p2.iso"), 0x10));
    disc.drive().addFault(emu::FaultRule{
        .opcode = 0xA8, .lbaFirst = sub, .lbaLast = sub, .key = 0x03, .asc = 0x11, .ascq = 0x00});
    FS_Tree* tree = nullptr;
    EXPECT_EQ(iso9660TrackToFSTree(disc.ref(), 0, 1, &tree), kErrImportConverter);
    EXPECT_EQ(tree, nullptr);
  }
  ServedDisc disc;
  ASSERT_TRUE(disc.serveImage(dir.file("p2.iso"), 0x10));
  disc.drive().addFault(emu::FaultRule{
      .opcode = 0xA8, .lbaFirst = 16, .lbaLast = 16, .key = 0x03, .asc = 0x11, .ascq = 0x00});
  TNC_ISO9660Session* sessions = nullptr;
  std::uint16_t count = 9;
  EXPECT_EQ(TNC_GetValidISOSessionInfo(disc.ref(), &sessions, &count), kNoErr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(sessions, nullptr);
}

// Odd but sound records: an associated file just before its data file gives one node with
// both forks; ";1" goes, ";2" stays; a name that clashes with a sibling in all but case is
// kept under a free name and noted.
TEST(ImportHostile, ForksVersionsAndClashingNames) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = plainImage(dir);
  const std::uint32_t root = rootDirectory(image);
  const std::size_t fa = mustFind(image, root, "F.A;1");
  const std::size_t fb = mustFind(image, root, "F.B;1");
  const std::uint32_t rsrcLba = le::get32(image, fa + 2);
  const std::uint32_t dataLba = le::get32(image, fb + 2);
  image[fa + 25] |= 0x04;    // F.A becomes the associated file ...
  image[fb + 33 + 2] = 'A';  // ... of a data file named F.A too
  image[mustFind(image, root, "X.;1") + 33 + 3] = '2';
  std::vector<std::uint8_t> clash = image;
  const Outcome out = importImage(image, false);
  ASSERT_EQ(out.status, kNoErr);
  const FS_Node* f = out.tree->Root()->FindChild("F.A");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->rsrcActualSize, 8u);
  EXPECT_EQ(f->importRsrcLBA, rsrcLba);
  EXPECT_EQ(f->dataActualSize, 9u);
  EXPECT_EQ(f->importDataLBA, dataLba);
  EXPECT_EQ(out.tree->Root()->FindChild("F.B"), nullptr);
  EXPECT_NE(out.tree->Root()->FindChild("README.TXT"), nullptr);
  EXPECT_NE(out.tree->Root()->FindChild("X.;2"), nullptr) << "only version 1 is dropped";

  // Two folders' files named alike but for case: "SUB/INNER.TXT" beside a renamed record.
  const std::uint32_t sub = subDirectory(clash);
  const std::size_t first = mustFind(clash, sub, "FILE_0.TXT;1");
  const std::size_t second = mustFind(clash, sub, "FILE_1.TXT;1");
  std::copy_n("file_0", 6, clash.begin() + static_cast<std::ptrdiff_t>(second + 33));
  const Outcome clashed = importImage(clash, false);
  ASSERT_EQ(clashed.status, kNoErr);
  ASSERT_EQ(clashed.notes.size(), 1u);
  EXPECT_EQ(clashed.notes[0].kind, TNC_ImportNote::kRenamed);
  EXPECT_EQ(clashed.notes[0].path, "/SUB/file_0.TXT");
  const FS_Node* folder = clashed.tree->Root()->FindChild("SUB");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->GetNumberOfChildren(), 61u) << "no entry left outside the tree";
  const FS_Node* renamed = folder->FindChild(clashed.notes[0].newName);
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->importDataLBA, le::get32(clash, second + 2));
  EXPECT_NE(renamed->importDataLBA, le::get32(clash, first + 2));
}

// A file recorded in several extents (flag 80h on all but the last record) is one node of
// their total size when each extent follows the one before; when one lies elsewhere the file
// cannot be written again by reference, and it is left out and noted.
TEST(ImportHostile, MultiExtentIso9660Files) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = plainImage(dir);
  const std::uint32_t root = rootDirectory(image);
  const std::size_t fa = mustFind(image, root, "F.A;1");
  const std::size_t fb = mustFind(image, root, "F.B;1");
  const std::uint32_t first = le::get32(image, fa + 2);
  ASSERT_EQ(le::get32(image, fb + 2), first + 1) << "genisoimage placed them one after the other";
  image[fa + 25] |= 0x80;
  putBoth32(image, fa + 10, 2048);
  image[fb + 33 + 2] = 'A';
  const Outcome whole = importImage(image, false);
  ASSERT_EQ(whole.status, kNoErr);
  EXPECT_TRUE(whole.notes.empty());
  const FS_Node* f = whole.tree->Root()->FindChild("F.A");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->dataActualSize, 2048u + 9u);
  EXPECT_EQ(f->importDataLBA, first);

  putBoth32(image, fb + 2, first + 5);
  const Outcome apart = importImage(image, false);
  ASSERT_EQ(apart.status, kNoErr);
  ASSERT_EQ(apart.notes.size(), 1u);
  EXPECT_EQ(apart.notes[0].kind, TNC_ImportNote::kFragmented);
  EXPECT_EQ(apart.notes[0].path, "/F.A");
  EXPECT_EQ(apart.tree->Root()->FindChild("F.A"), nullptr);
  EXPECT_NE(apart.tree->Root()->FindChild("README.TXT"), nullptr);
}

namespace {

// Block numbers of the file entries in a UDF image whose allocation descriptors are short
// ones and number at least `count`.
std::vector<std::uint32_t> fileEntriesWithExtents(const std::vector<std::uint8_t>& image,
                                                  std::size_t count) {
  std::vector<std::uint32_t> out;
  for (std::size_t b = 0; b + 1 <= image.size() / 2048; ++b) {
    const std::span<const std::uint8_t> block(image.data() + b * 2048, 2048);
    if (le::get16(block, 0) != 261 || block[27] == 4) continue;
    if ((le::get16(block, 34) & 7) == 0 && le::get32(block, 172) >= 8 * count)
      out.push_back(static_cast<std::uint32_t>(b));
  }
  return out;
}

std::vector<std::uint8_t> udfImage(const TempDir& dir) {
  const fs::path src = dir.file("usrc");
  fs::create_directories(src / "sub");
  writeFile(src / "sub" / "x.txt", "x");
  writeFile(src / "big.bin", patternBytes(9000, 2));
  EXPECT_EQ(runTool({"genisoimage", "-quiet", "-udf", "-V", "U", "-o", dir.file("u.iso").string(),
                     src.string()})
                .exitCode,
            0);
  return readFile(dir.file("u.iso"));
}

}  // namespace

// A UDF file whose second extent does not follow its first cannot be written again by
// reference: it is left out and noted, and the rest of the tree stands.
TEST(ImportHostile, UdfFileWithExtentsApartIsRefusedAndNoted) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = udfImage(dir);
  // genisoimage records a file in one extent: split big.bin's into two that lie apart.
  const std::vector<std::uint32_t> entries = fileEntriesWithExtents(image, 1);
  std::uint32_t entry = 0;
  for (std::uint32_t b : entries)
    if (le::get32(std::span<const std::uint8_t>(image), std::size_t{b} * 2048 + 176) == 9000)
      entry = b;
  ASSERT_NE(entry, 0u);
  const std::span<std::uint8_t> fe(image.data() + std::size_t{entry} * 2048, 2048);
  const std::uint32_t position = le::get32(fe, 180);
  le::put32(fe, 176, 4096);
  le::put32(fe, 184, 9000 - 4096);
  le::put32(fe, 188, position + 3);
  le::put32(fe, 172, 16);
  le::put16(fe, 10, static_cast<std::uint16_t>(176 + 16 - 16));
  udf::SetCrcTag(fe);
  const Outcome out = importImage(image, true);
  ASSERT_EQ(out.status, kNoErr);
  ASSERT_EQ(out.notes.size(), 1u);
  EXPECT_EQ(out.notes[0].kind, TNC_ImportNote::kFragmented);
  EXPECT_EQ(out.notes[0].path, "/big.bin");
  EXPECT_EQ(out.tree->Root()->FindChild("big.bin"), nullptr);
  EXPECT_NE(out.tree->Root()->FindChild("sub"), nullptr);

  // Made to follow each other, the same two extents import as one file.
  le::put32(fe, 188, position + 2);
  udf::SetCrcTag(fe);
  const Outcome whole = importImage(image, true);
  ASSERT_EQ(whole.status, kNoErr);
  EXPECT_TRUE(whole.notes.empty());
  const FS_Node* big = whole.tree->Root()->FindChild("big.bin");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->dataActualSize, 9000u);
}

// A UDF file whose data is kept inside its file entry has no blocks of its own to be
// written again by reference: it is left out and noted.
TEST(ImportHostile, UdfFileEmbeddedInItsEntryIsNoted) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = udfImage(dir);
  std::uint32_t entry = 0;
  for (std::uint32_t b : fileEntriesWithExtents(image, 1))
    if (le::get32(std::span<const std::uint8_t>(image), std::size_t{b} * 2048 + 176) == 1)
      entry = b;
  ASSERT_NE(entry, 0u) << "the entry of sub/x.txt";
  const std::span<std::uint8_t> fe(image.data() + std::size_t{entry} * 2048, 2048);
  le::put16(fe, 34, (le::get16(fe, 34) & ~7u) | 3u);
  le::put32(fe, 172, 1);
  fe[176] = 'x';
  le::put16(fe, 10, 176 + 1 - 16);
  udf::SetCrcTag(fe);
  const Outcome out = importImage(image, true);
  ASSERT_EQ(out.status, kNoErr);
  ASSERT_EQ(out.notes.size(), 1u);
  EXPECT_EQ(out.notes[0].kind, TNC_ImportNote::kEmbedded);
  EXPECT_EQ(out.notes[0].path, "/sub/x.txt");
  const FS_Node* sub = out.tree->Root()->FindChild("sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->GetNumberOfChildren(), 0u);
  EXPECT_NE(out.tree->Root()->FindChild("big.bin"), nullptr);
}

// A UDF folder whose identifier points back at the root's entry: -1361, no tree.
TEST(ImportHostile, UdfFolderThatHoldsItsParent) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir dir;
  std::vector<std::uint8_t> image = udfImage(dir);
  UdfFileSet fileSet;
  MemoryBlockSource source(image);
  ASSERT_EQ(findUdfFileSet(source, 0, fileSet), kNoErr);
  const std::uint32_t rootEntry = le::get32(fileSet.descriptor, 404);
  // The identifier of "sub": tag 257 with the name "sub" in 8-bit form.
  bool patched = false;
  for (std::size_t at = 0; at + 48 < image.size() && !patched; at += 4) {
    const std::span<std::uint8_t> fid(image.data() + at,
                                      std::min<std::size_t>(image.size() - at, 2048));
    if (le::get16(fid, 0) != 257 || fid[19] != 4 || fid[38 + le::get16(fid, 36)] != 8) continue;
    if (std::memcmp(&fid[39 + le::get16(fid, 36)], "sub", 3) != 0) continue;
    le::put32(fid, 24, rootEntry);
    udf::SetCrcTag(fid.first(16 + le::get16(fid, 10)));
    patched = true;
  }
  ASSERT_TRUE(patched);
  const Outcome out = importImage(image, true);
  EXPECT_EQ(out.status, kErrImportNoVolume);
  EXPECT_FALSE(out.tree);
}
