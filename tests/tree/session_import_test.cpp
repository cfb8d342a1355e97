// SPDX-License-Identifier: GPL-2.0-or-later
// Session import through the emulated drive: images made by genisoimage and xorriso, a UDF
// bridge from our own producer, served as closed CDs and DVDs and as recordable discs of
// several sessions. The listed sessions are checked against xorriso's table of contents and
// every imported tree against isoinfo, xorriso and 7-Zip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "DPMs/udf/dpm_udf.h"
#include "common/byte_order.h"
#include "quillion/FS.h"
#include "quillion/TNC.h"
#include "tests/dpms/producer_support.h"
#include "tests/support/test_support.h"
#include "tests/tree/import_fixture.h"
#include "tree/fs_tree.h"

using namespace quillion;
using namespace quillion::test;
using namespace quillion::test::importfx;
namespace fs = std::filesystem;

namespace {

struct SessionList {
  EngineStatus status = kErrBadArgument;
  std::vector<TNC_ISO9660Session> sessions;
};

SessionList listSessions(std::uint32_t ref) {
  SessionList out;
  TNC_ISO9660Session* array = nullptr;
  std::uint16_t count = 0;
  out.status = TNC_GetValidISOSessionInfo(ref, &array, &count);
  if (array != nullptr) out.sessions.assign(array, array + count);
  std::free(array);
  return out;
}

struct Imported {
  EngineStatus status = kErrBadArgument;
  std::unique_ptr<FS_Tree> tree;
  std::vector<TNC_ImportNote> notes;
};

Imported importSession(const TNC_ISO9660Session& session) {
  Imported out;
  FS_Tree* tree = nullptr;
  out.status = TNC_ISO9660SessionToFSTree(&session, &tree, &out.notes);
  out.tree.reset(tree);
  return out;
}

// A source folder with a file of a known date, a folder, and enough long names that the
// root directory takes more than one block (records never cross a block).
fs::path makeSource(const TempDir& dir) {
  const fs::path src = dir.file("src");
  fs::create_directories(src / "sub");
  writeFile(src / "README.TXT", "hello\n");
  writeFile(src / "sub" / "data.bin", patternBytes(5000, 3));
  for (int i = 0; i < 60; ++i)
    writeFile(src / ("a_rather_long_file_name_number_" + std::to_string(i) + ".txt"),
              std::to_string(i));
  (void)runTool({"touch", "-d", "2021-03-04 05:06:07 UTC", (src / "README.TXT").string()});
  return src;
}

fs::path genisoimage(const TempDir& dir, const std::string& name, std::vector<std::string> options,
                     const fs::path& src) {
  const fs::path iso = dir.file(name);
  std::vector<std::string> argv = {"genisoimage", "-quiet"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-o", iso.string(), src.string()});
  EXPECT_EQ(runTool(argv, ToolOptions{.environment = {{"TZ", "UTC"}}}).exitCode, 0);
  return iso;
}

// Every file's bytes at its imported block equal the source file with the same path
// (ignoring case, as ISO9660 level 1 changes it). Level 1 also shortens long names: with
// `shortened`, a file whose source cannot be named is passed over.
std::string dataMismatches(const Listing& listing, const std::vector<std::uint8_t>& image,
                           std::uint32_t imageStart, const fs::path& src, bool shortened = false) {
  std::map<std::string, fs::path> sources;
  for (const auto& e : fs::recursive_directory_iterator(src)) {
    std::string key = "/" + fs::relative(e.path(), src).string();
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    sources[key] = e.path();
  }
  std::string out;
  for (const auto& [path, entry] : listing) {
    if (entry.folder) continue;
    std::string key = path;
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    const auto it = sources.find(key);
    if (it == sources.end()) {
      if (!shortened) out += "no source: " + path + "\n";
      continue;
    }
    const std::string want = readText(it->second);
    const std::size_t at = std::size_t{entry.lba - imageStart} * 2048;
    if (at + want.size() > image.size() ||
        std::memcmp(image.data() + at, want.data(), want.size()) != 0 || entry.size != want.size())
      out += "data differs: " + path + "\n";
  }
  return out;
}

std::size_t readsOf(emu::EmulatedDrive& drive, std::uint8_t opcode, bool* allExclusive) {
  std::size_t n = 0;
  for (const auto& c : drive.log()) {
    if (c.cdb.empty() || c.cdb[0] != opcode) continue;
    ++n;
    if (!c.exclusive) *allExclusive = false;
  }
  return n;
}

}  // namespace

// Plain and Joliet images on CD and DVD: the one session, its name and date, and a tree
// equal to isoinfo's listing; CDs are read with READ CD, DVDs with READ(12), with the drive
// held by the application for every read.
TEST(SessionImport, ClosedDiscsMatchIsoinfo) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  struct Case {
    const char* what;
    bool joliet;
    std::uint16_t profile;
  };
  for (const Case c : {Case{"plain CD", false, 0x08}, Case{"Joliet CD", true, 0x08},
                       Case{"plain DVD", false, 0x10}, Case{"Joliet DVD", true, 0x10}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path src = makeSource(dir);
    const fs::path iso = c.joliet ? genisoimage(dir, "v.iso", {"-J", "-r", "-V", "MY DISC"}, src)
                                  : genisoimage(dir, "v.iso", {"-V", "V"}, src);
    ServedDisc disc;
    ASSERT_TRUE(disc.serveImage(iso, c.profile));
    disc.drive().clearLog();

    const SessionList list = listSessions(disc.ref());
    ASSERT_EQ(list.status, kNoErr);
    ASSERT_EQ(list.sessions.size(), 1u);
    const TNC_ISO9660Session& s = list.sessions[0];
    EXPECT_EQ(s.sessionNumber, 1);
    EXPECT_EQ(s.dataMode, 1);
    EXPECT_EQ(s.firstTrack, 1);
    EXPECT_EQ(s.flags, kTNC_ISO9660Volume);
    EXPECT_EQ(s.startLBA, 0u);
    EXPECT_EQ(s.drive, disc.ref());
    EXPECT_STREQ(s.volumeName, c.joliet ? "MY DISC" : "V") << "trailing blanks removed";

    const Imported imported = importSession(s);
    ASSERT_EQ(imported.status, kNoErr);
    ASSERT_TRUE(imported.tree);
    EXPECT_TRUE(imported.notes.empty());
    const FS_Node* root = imported.tree->Root();
    EXPECT_TRUE(root->IsISO9660ImportItem());
    EXPECT_TRUE(root->IsFolder());
    EXPECT_STREQ(imported.tree->GetTreeTitle(), s.volumeName);

    const Listing ours = entriesOf(*imported.tree);
    const Listing theirs = isoinfoListing(iso, c.joliet);
    EXPECT_EQ(differences(ours, theirs), "");
    EXPECT_EQ(ours.size(), 63u);
    EXPECT_TRUE(ours.count("/README.TXT")) << "README.TXT;1 loses its version";
    EXPECT_EQ(dataMismatches(ours, readFile(iso), 0, src, !c.joliet), "");
    EXPECT_EQ(ours.count(c.joliet ? "/sub/data.bin" : "/SUB/DATA.BIN"), 1u);

    const FS_Node* readme = root->FindChild("README.TXT");
    ASSERT_NE(readme, nullptr);
    EXPECT_TRUE(readme->IsISO9660ImportItem());
    EXPECT_EQ(readme->modifiedDate.tm_year, 121);
    EXPECT_EQ(readme->modifiedDate.tm_mon, 2);
    EXPECT_EQ(readme->modifiedDate.tm_mday, 4);
    EXPECT_EQ(readme->modifiedDate.tm_hour, 5);
    EXPECT_EQ(readme->modifiedDate.tm_min, 6);
    EXPECT_EQ(readme->modifiedDate.tm_sec, 7);
    EXPECT_EQ(readme->creationDate.tm_mday, 4);

    bool exclusive = true;
    const std::size_t readCd = readsOf(disc.drive(), 0xBE, &exclusive);
    const std::size_t read12 = readsOf(disc.drive(), 0xA8, &exclusive);
    EXPECT_EQ(readCd > 0, c.profile == 0x08);
    EXPECT_EQ(read12 > 0, c.profile == 0x10);
    EXPECT_TRUE(exclusive) << "every read ran while the drive was held";
  }
}

// The volume's creation date of the primary descriptor, as xorriso -pvd_info shows it.
TEST(SessionImport, SessionDateIsTheVolumeCreationDate) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("xorriso");
  TempDir dir;
  const fs::path iso = genisoimage(dir, "v.iso", {"-V", "V"}, makeSource(dir));
  const std::string d = runTool({"xorriso", "-indev", iso.string(), "-pvd_info"}).output;
  const std::size_t at = d.find("Creation Time: ");
  ASSERT_NE(at, std::string::npos) << d;
  int y = 0, mo = 0, da = 0, h = 0, mi = 0, se = 0;
  ASSERT_EQ(
      std::sscanf(d.c_str() + at, "Creation Time: %4d%2d%2d%2d%2d%2d", &y, &mo, &da, &h, &mi, &se),
      6);
  ServedDisc disc;
  ASSERT_TRUE(disc.serveImage(iso, 0x08));
  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.sessions.size(), 1u);
  const std::tm& t = list.sessions[0].date;
  EXPECT_EQ(t.tm_year + 1900, y);
  EXPECT_EQ(t.tm_mon + 1, mo);
  EXPECT_EQ(t.tm_mday, da);
  EXPECT_EQ(t.tm_hour, h);
  EXPECT_EQ(t.tm_min, mi);
  EXPECT_EQ(t.tm_sec, se);
}

// Two sessions written by xorriso, recorded on a DVD+R as two closed sessions: the sessions
// are the ones xorriso -toc lists, and each tree holds the files xorriso reports for it.
TEST(SessionImport, XorrisoSessionsOnADvdPlusR) {
  QUILLION_REQUIRE_TOOL("xorriso");
  TempDir dir;
  fs::create_directories(dir.file("a"));
  fs::create_directories(dir.file("b"));
  writeFile(dir.file("a") / "one.txt", "first session\n");
  writeFile(dir.file("b") / "two.bin", patternBytes(7000, 5));
  const fs::path ms = dir.file("ms.iso");
  for (const char* folder : {"a", "b"}) {
    ASSERT_EQ(runTool({"xorriso", "-dev", ms.string(), "-joliet", "on", "-map",
                       dir.file(folder).string(), std::string("/") + folder, "-commit"})
                  .exitCode,
              0);
  }
  const std::vector<TocSession> toc = xorrisoToc(ms);
  ASSERT_EQ(toc.size(), 2u);
  const std::vector<std::uint8_t> image = padToBlocks(readFile(ms));
  const auto slice = [&](std::uint32_t from, std::uint32_t to) {
    return SessionData{
        from, std::vector<std::uint8_t>(image.begin() + from * 2048, image.begin() + to * 2048)};
  };
  const std::uint32_t end = toc[1].sbsector + (toc[1].blocks + 31) / 32 * 32;
  ServedDisc disc;
  ASSERT_TRUE(disc.serveSessions(
      0x1B, {slice(toc[0].sbsector, toc[1].sbsector), slice(toc[1].sbsector, end)}));

  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.status, kNoErr);
  ASSERT_EQ(list.sessions.size(), toc.size());
  for (std::size_t i = 0; i < toc.size(); ++i) {
    SCOPED_TRACE(i);
    const TNC_ISO9660Session& s = list.sessions[i];
    EXPECT_EQ(s.sessionNumber, toc[i].index);
    EXPECT_EQ(s.startLBA, toc[i].sbsector);
    EXPECT_EQ(s.firstTrack, toc[i].index);
    EXPECT_EQ(s.dataMode, 1);
    const Imported imported = importSession(s);
    ASSERT_EQ(imported.status, kNoErr);
    const Listing theirs = xorrisoFiles(ms, toc[i].sbsector);
    EXPECT_EQ(theirs.size(), i + 1);
    EXPECT_EQ(differences(filesOnly(entriesOf(*imported.tree)), theirs), "");
  }
  EXPECT_EQ(entriesOf(*importSession(list.sessions[1]).tree).count("/a/one.txt"), 1u)
      << "the second session carries the first one's files";
}

// A CD whose first session holds no volume: only session 2 is listed, and its tree lies at
// the blocks genisoimage placed it at for that start.
TEST(SessionImport, OnlyTheSecondSessionOfACdHoldsAVolume) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  TempDir dir;
  const fs::path src = makeSource(dir);
  const std::uint32_t second = ServedDisc::cdSecondSessionStart(300);
  const fs::path atZero = genisoimage(dir, "zero.iso", {"-V", "LATER"}, src);
  const fs::path later =
      genisoimage(dir, "later.iso", {"-V", "LATER", "-C", "0," + std::to_string(second)}, src);
  ServedDisc disc;
  ASSERT_TRUE(disc.serveSessions(0x09, {SessionData{0, std::vector<std::uint8_t>(300 * 2048, 0)},
                                        SessionData{second, padToBlocks(readFile(later))}}));
  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.status, kNoErr);
  ASSERT_EQ(list.sessions.size(), 1u);
  EXPECT_EQ(list.sessions[0].sessionNumber, 2);
  EXPECT_EQ(list.sessions[0].firstTrack, 2);
  EXPECT_EQ(list.sessions[0].startLBA, second);
  EXPECT_STREQ(list.sessions[0].volumeName, "LATER");
  const Imported imported = importSession(list.sessions[0]);
  ASSERT_EQ(imported.status, kNoErr);
  Listing shifted = isoinfoListing(atZero, false);
  for (auto& [path, e] : shifted)
    if (!e.folder) e.lba += second;
  EXPECT_EQ(differences(entriesOf(*imported.tree), shifted), "");
}

// genisoimage -udf: listed as UDF, named from the file set, imported from the UDF side with
// the original case of its names; sizes as 7-Zip lists them, blocks as isoinfo shows them
// for the same files on the Joliet side, and the bytes there are the files'.
TEST(SessionImport, GenisoimageUdfBridgeImportsFromItsFileSet) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("7zz");
  TempDir dir;
  const fs::path src = makeSource(dir);
  const fs::path iso = genisoimage(dir, "u.iso", {"-udf", "-J", "-V", "UDFVOL"}, src);
  ServedDisc disc;
  ASSERT_TRUE(disc.serveImage(iso, 0x10));
  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.sessions.size(), 1u);
  const TNC_ISO9660Session& s = list.sessions[0];
  EXPECT_EQ(s.flags & kTNC_UDFVolume, kTNC_UDFVolume);
  EXPECT_STREQ(s.volumeName, "UDFVOL");
  EXPECT_GT(s.udfPartitionStart, 256u);

  FS_Tree* raw = nullptr;
  ASSERT_EQ(TNC_UDFSessionToFSTree(&s, &raw, nullptr), kNoErr);
  std::unique_ptr<FS_Tree> tree(raw);
  ASSERT_TRUE(tree);
  EXPECT_TRUE(tree->Root()->IsISO9660ImportItem());
  const Listing ours = entriesOf(*tree);
  Listing sizesOnly = ours;
  for (auto& [path, e] : sizesOnly) e.lba = 0;
  EXPECT_EQ(differences(sizesOnly, sevenZipListing(iso)), "");
  EXPECT_EQ(ours.size(), 63u);
  EXPECT_TRUE(ours.count("/sub/data.bin")) << "UDF keeps the case ISO9660 level 1 loses";
  EXPECT_EQ(dataMismatches(ours, readFile(iso), 0, src), "");
  // The Joliet side names the same files with the same case, at the same blocks.
  EXPECT_EQ(differences(ours, isoinfoListing(iso, true)), "");
}

// Our own UDF bridge with extents of two blocks, made in a zone five hours west of UTC:
// 7-Zip finds the image sound, the session is named from the file set, files of several
// extents come back whole at their first block, and dates keep their -300 minutes.
TEST(SessionImport, OwnUdfBridgeWithFilesOfSeveralExtents) {
  QUILLION_REQUIRE_TOOL("7zz");
  TempDir dir;
  const fs::path src = dir.file("src");
  fs::create_directories(src / "docs");
  writeFile(src / "big.bin", patternBytes(10'000, 7));
  writeFile(src / "docs" / "small.txt", "small");
  writeFile(src / "docs" / "exact.bin", patternBytes(8192, 9));
  const char* zone = std::getenv("TZ");
  const std::string before = zone ? zone : "";
  ::setenv("TZ", "EST5", 1);
  ::tzset();
  TreePtr tree = treeFromFolder(src.string(), "OWN BRIDGE");
  DPM_UDF::Options options;
  options.maxExtentBytes = 4096;
  options.temporaryFolder = dir.file("tmp");
  fs::create_directories(options.temporaryFolder);
  DPM_UDF producer(tree.get(), 0, 0, DPM_UDF::kModeUDF102, options);
  const fs::path image = dir.file("own.udf");
  const DrainResult drained = drainToFile(producer, image.string());
  ::setenv("TZ", before.c_str(), 1);
  ::tzset();
  ASSERT_EQ(drained.status, kNoErr);
  ASSERT_EQ(runTool({"7zz", "t", image.string()}).exitCode, 0);

  ServedDisc disc;
  ASSERT_TRUE(disc.serveImage(image, 0x10));
  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.sessions.size(), 1u);
  const TNC_ISO9660Session& s = list.sessions[0];
  EXPECT_EQ(s.flags & kTNC_UDFVolume, kTNC_UDFVolume);
  EXPECT_STREQ(s.volumeName, "OWN BRIDGE");
  EXPECT_EQ(s.date.tm_gmtoff, -18000);
  const Imported imported = importSession(s);
  ASSERT_EQ(imported.status, kNoErr);
  EXPECT_TRUE(imported.notes.empty());
  const Listing ours = entriesOf(*imported.tree);
  Listing sizesOnly = ours;
  for (auto& [path, e] : sizesOnly) e.lba = 0;
  EXPECT_EQ(differences(sizesOnly, sevenZipListing(image)), "");
  EXPECT_EQ(ours.size(), 4u);
  EXPECT_EQ(ours.at("/big.bin").size, 10'000u) << "the information length, not one extent";
  EXPECT_EQ(dataMismatches(ours, readFile(image), 0, src), "");
  const FS_Node* big = imported.tree->Root()->FindChild("big.bin");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->modifiedDate.tm_gmtoff, -18000);
}

// A CD-ROM XA disc: the session is Mode 2 and read with READ CD asking for Mode 2 Form 1
// sectors, which a Mode 1 request would not get.
TEST(SessionImport, Mode2DiscIsReadAsForm1) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  TempDir dir;
  const fs::path iso = genisoimage(dir, "x.iso", {"-J", "-V", "XA"}, makeSource(dir));
  ServedDisc disc;
  ASSERT_TRUE(disc.serveMode2Cd(padToBlocks(readFile(iso))));
  const SessionList list = listSessions(disc.ref());
  ASSERT_EQ(list.sessions.size(), 1u);
  EXPECT_EQ(list.sessions[0].dataMode, 2);
  disc.drive().clearLog();
  const Imported imported = importSession(list.sessions[0]);
  ASSERT_EQ(imported.status, kNoErr);
  EXPECT_EQ(differences(entriesOf(*imported.tree), isoinfoListing(iso, true)), "");
  std::size_t mode2Reads = 0;
  for (const auto& c : disc.drive().log())
    if (c.cdb.size() > 9 && c.cdb[0] == 0xBE) {
      EXPECT_EQ(c.cdb[1], 0x10);
      EXPECT_EQ(c.cdb[9], 0x10);
      ++mode2Reads;
    }
  EXPECT_GT(mode2Reads, 0u);
}

// What the caller gets wrong, and a blank disc.
TEST(SessionImport, ArgumentsAndABlankDisc) {
  TNC_ISO9660Session* array = nullptr;
  std::uint16_t count = 7;
  EXPECT_EQ(TNC_GetValidISOSessionInfo(0, &array, &count), kErrBadArgument);
  EXPECT_EQ(TNC_GetValidISOSessionInfo(1, nullptr, &count), kErrBadArgument);
  FS_Tree* tree = nullptr;
  EXPECT_EQ(TNC_ISO9660SessionToFSTree(nullptr, &tree), kErrBadArgument);
  TNC_ISO9660Session iso{};
  iso.drive = 1;
  iso.flags = kTNC_ISO9660Volume;
  EXPECT_EQ(TNC_UDFSessionToFSTree(&iso, &tree), kErrBadArgument) << "not a UDF session";
  EXPECT_EQ(iso9660TrackToFSTree(0, 0, 1, &tree), kErrBadArgument);
  EXPECT_EQ(UDFTrackToFSTree(1, 0, 1, nullptr), kErrBadArgument);

  ServedDisc disc;
  ASSERT_TRUE(disc.serveSessions(0x11, {}));
  const SessionList list = listSessions(disc.ref());
  EXPECT_EQ(list.status, kNoErr);
  EXPECT_TRUE(list.sessions.empty());
}
