// SPDX-License-Identifier: GPL-2.0-or-later
// The file layer on real files: references, catalog information (checked against stat and
// attributes set by setfattr), forks and folder listings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file/catalog_info.h"
#include "platform/file/fork.h"
#include "platform/file/xattr.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::test;

namespace {

// Type 'TEXT', creator 'ttxt', Finder flags 0x0100, the rest zero.
const std::string kFinderInfoHex =
    "5445585474747874010000000000000000000000000000000000000000000000";

void setAttributeWithTool(const std::string& path, const std::string& name,
                          const std::string& hex) {
  const ToolResult r = runTool({"setfattr", "-n", name, "-v", "0x" + hex, path});
  ASSERT_EQ(r.exitCode, 0) << "setfattr failed on " << path << ": " << r.output;
}

std::string statField(const std::string& format, const std::string& path) {
  return toolOutput({"stat", "-c", format, path});
}

}  // namespace

TEST(FileRef, ResolvesFoldersAndNamesLinksEitherWay) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  writeFile(dir.file("target.txt"), "abc");
  ASSERT_EQ(::symlink("target.txt", dir.file("link").c_str()), 0);

  FileRef viaDots, direct, followed, itself;
  ASSERT_EQ(FileRef::make(dir.file("sub/../target.txt").string(), LinkMode::follow, viaDots),
            kNoErr);
  ASSERT_EQ(FileRef::make(dir.file("target.txt").string(), LinkMode::follow, direct), kNoErr);
  EXPECT_EQ(viaDots, direct);
  ASSERT_EQ(FileRef::make(dir.file("link").string(), LinkMode::follow, followed), kNoErr);
  EXPECT_EQ(followed, direct);
  ASSERT_EQ(FileRef::make(dir.file("sub/../link").string(), LinkMode::linkItself, itself), kNoErr);
  EXPECT_EQ(itself.leafName(), "link");
  EXPECT_NE(itself, direct);
}

TEST(FileRef, RefusesWhatNamesNothing) {
  TempDir dir;
  ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
  struct Case {
    std::string path;
    LinkMode mode;
    EngineStatus expected;
  };
  const Case cases[] = {
      {"", LinkMode::follow, kErrBadArgument},
      {dir.file("missing"), LinkMode::follow, kErrFileAccess},
      {dir.file("missing"), LinkMode::linkItself, kErrFileAccess},
      {dir.file("no/such/folder/file"), LinkMode::linkItself, kErrFileAccess},
      {dir.file("dangling"), LinkMode::follow, kErrFileAccess},
      {dir.file("dangling"), LinkMode::linkItself, kNoErr},
  };
  for (const Case& c : cases) {
    FileRef ref;
    EXPECT_EQ(FileRef::make(c.path, c.mode, ref), c.expected) << c.path;
    EXPECT_EQ(ref.empty(), c.expected != kNoErr) << c.path;
  }
}

TEST(CatalogInfo, PlainFileAgreesWithStat) {
  TempDir dir;
  const std::string path = dir.file("plain.bin");
  writeFile(path, patternBytes(5000));
  ASSERT_EQ(runTool({"touch", "-d", "@1234567890", path}).exitCode, 0);
  FileRef ref;
  ASSERT_EQ(FileRef::make(path, LinkMode::follow, ref), kNoErr);
  CatalogInfo info;
  ASSERT_EQ(readCatalogInfo(ref, info), kNoErr);

  EXPECT_EQ(info.dataLogicalSize, 5000u);
  EXPECT_EQ(info.rsrcLogicalSize, 0u);
  EXPECT_FALSE(info.isDirectory());
  EXPECT_FALSE(info.symbolicLink);
  EXPECT_EQ(info.fileType(), 0u);
  EXPECT_EQ(info.finderFlags(), 0u);
  EXPECT_NE(info.volume, 0);
  EXPECT_EQ(std::to_string(info.nodeID) + "\n", statField("%i", path));
  EXPECT_EQ(std::to_string(info.parentDirID) + "\n", statField("%i", dir.path()));
  EXPECT_EQ(info.contentModDate.seconds, 1234567890);
  const long birth = std::stol(statField("%W", path));
  EXPECT_EQ(info.createDate.seconds, birth > 0 ? birth : 1234567890);
}

TEST(CatalogInfo, ReadsFinderInfoAndResourceForkSetBySetfattr) {
  QUILLION_REQUIRE_TOOL("setfattr");
  TempDir dir;
  const std::string path = dir.file("doc.txt");
  writeFile(path, "hello");
  setAttributeWithTool(path, kFinderInfoXattr, kFinderInfoHex);
  setAttributeWithTool(path, kResourceForkXattr, hexOf(patternBytes(1000, 3)));
  FileRef ref;
  ASSERT_EQ(FileRef::make(path, LinkMode::follow, ref), kNoErr);
  CatalogInfo info;
  ASSERT_EQ(readCatalogInfo(ref, info), kNoErr);
  EXPECT_EQ(info.fileType(), 0x54455854u);     // 'TEXT'
  EXPECT_EQ(info.creatorType(), 0x74747874u);  // 'ttxt'
  EXPECT_EQ(info.finderFlags(), 0x0100u);
  EXPECT_EQ(info.dataLogicalSize, 5u);
  EXPECT_EQ(info.rsrcLogicalSize, 1000u);
  EXPECT_EQ(info.rsrcPhysicalSize, 1024u);
}

TEST(CatalogInfo, FoldersAndLinksTakenAsThemselves) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("folder", dir.file("link").c_str()), 0);
  FileRef folder, link;
  ASSERT_EQ(FileRef::make(dir.file("folder").string(), LinkMode::follow, folder), kNoErr);
  ASSERT_EQ(FileRef::make(dir.file("link").string(), LinkMode::linkItself, link), kNoErr);
  CatalogInfo info;
  ASSERT_EQ(readCatalogInfo(folder, info), kNoErr);
  EXPECT_TRUE(info.isDirectory());
  EXPECT_EQ(info.dataLogicalSize, 0u);
  ASSERT_EQ(readCatalogInfo(link, info), kNoErr);
  EXPECT_FALSE(info.isDirectory());
  EXPECT_TRUE(info.symbolicLink);
  EXPECT_EQ(info.fileType(), kSymbolicLinkFileType);
  EXPECT_EQ(info.dataLogicalSize, 6u) << "the size of a link is the length of its text";
}

TEST(CatalogInfo, FileSystemWithoutAttributesReadsAsAbsent) {
  FileRef ref;
  ASSERT_EQ(FileRef::make("/proc/version", LinkMode::follow, ref), kNoErr);
  CatalogInfo info;
  ASSERT_EQ(readCatalogInfo(ref, info), kNoErr);
  EXPECT_EQ(info.rsrcLogicalSize, 0u);
  EXPECT_EQ(info.fileType(), 0u);
}

// An attribute that exists but cannot be read must not pass for an absent one. Reading
// user attributes needs read permission on the file; root has it everywhere, so as root
// the check runs in a child process that gives up its privileges.
TEST(CatalogInfo, UnreadableAttributeIsAnError) {
  TempDir dir;
  const std::string path = dir.file("locked.bin");
  writeFile(path, "secret");
  ASSERT_EQ(::setxattr(path.c_str(), kResourceForkXattr, "rsrc", 4, 0), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  FileRef ref;
  ASSERT_EQ(FileRef::make(path, LinkMode::follow, ref), kNoErr);
  auto check = [&ref, &path] {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 2;  // the entry itself must be reachable
    std::uint64_t size = 0;
    if (xattrSize(path, kResourceForkXattr, size) != kErrFileAccess) return 3;
    CatalogInfo info;
    return readCatalogInfo(ref, info) == kErrFileAccess ? 0 : 4;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(check(), 0);
    return;
  }
  EXPECT_EXIT(
      {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
          std::_Exit(1);
        std::_Exit(check());
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Fork, DataForkReadsTheWholeFileAndSeeks) {
  TempDir dir;
  const std::string path = dir.file("data.bin");
  const std::string content = patternBytes(70001);
  writeFile(path, content);
  FileRef ref;
  ASSERT_EQ(FileRef::make(path, LinkMode::follow, ref), kNoErr);
  std::unique_ptr<Fork> fork;
  ASSERT_EQ(Fork::open(ref, ForkKind::data, fork), kNoErr);
  EXPECT_EQ(fork->size(), content.size());
  std::string read;
  char chunk[4093];
  while (const std::size_t n = fork->read(chunk, sizeof chunk)) read.append(chunk, n);
  EXPECT_EQ(read, content);
  EXPECT_EQ(fork->seek(0, SeekFrom::end), 70001);
  EXPECT_EQ(fork->seek(-1, SeekFrom::current), 70000);
  EXPECT_EQ(fork->seek(-70001, SeekFrom::current), -1) << "a position before the start";
  EXPECT_EQ(fork->position(), 70000);
  ASSERT_EQ(fork->read(chunk, 10), 1u);
  EXPECT_EQ(chunk[0], content.back());
}

TEST(Fork, ResourceForkIsTheAttributeAndAbsentMeansEmpty) {
  TempDir dir;
  const std::string with = dir.file("with"), without = dir.file("without");
  writeFile(with, "data");
  writeFile(without, "data");
  const std::string rsrc = patternBytes(3000, 9);
  ASSERT_EQ(::setxattr(with.c_str(), kResourceForkXattr, rsrc.data(), rsrc.size(), 0), 0);
  FileRef a, b;
  ASSERT_EQ(FileRef::make(with, LinkMode::follow, a), kNoErr);
  ASSERT_EQ(FileRef::make(without, LinkMode::follow, b), kNoErr);
  std::unique_ptr<Fork> fork;
  ASSERT_EQ(Fork::open(a, ForkKind::resource, fork), kNoErr);
  std::string read(4000, '\0');
  read.resize(fork->read(read.data(), read.size()));
  EXPECT_EQ(read, rsrc);
  ASSERT_EQ(Fork::open(b, ForkKind::resource, fork), kNoErr);
  EXPECT_EQ(fork->size(), 0u);
  EXPECT_EQ(fork->read(read.data(), 1), 0u);
}

TEST(Fork, LinkTakenAsItselfReadsItsTextAndSpecialFilesAreRefused) {
  TempDir dir;
  ASSERT_EQ(::symlink("../elsewhere/target", dir.file("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  FileRef link, pipe;
  ASSERT_EQ(FileRef::make(dir.file("link").string(), LinkMode::linkItself, link), kNoErr);
  ASSERT_EQ(FileRef::make(dir.file("pipe").string(), LinkMode::follow, pipe), kNoErr);
  std::unique_ptr<Fork> fork;
  ASSERT_EQ(Fork::open(link, ForkKind::data, fork), kNoErr);
  char text[64] = {};
  EXPECT_EQ(std::string(text, fork->read(text, sizeof text)), "../elsewhere/target");
  // A pipe with no writer would block a reader for ever.
  EXPECT_EQ(Fork::open(pipe, ForkKind::data, fork), kErrFileAccess);
  EXPECT_EQ(fork, nullptr);
}

TEST(ListFolder, ListsEntriesSortedWithLinksAsThemselves) {
  TempDir dir;
  writeFile(dir.file("b.txt"), "bb");
  ASSERT_EQ(::mkdir(dir.file("a").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("b.txt", dir.file("c").c_str()), 0);
  FileRef folder;
  ASSERT_EQ(FileRef::make(dir.path().string(), LinkMode::follow, folder), kNoErr);
  std::vector<FolderEntry> entries;
  ASSERT_EQ(listFolder(folder, entries), kNoErr);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "a");
  EXPECT_TRUE(entries[0].info.isDirectory());
  EXPECT_EQ(entries[1].info.dataLogicalSize, 2u);
  EXPECT_TRUE(entries[2].info.symbolicLink);
  EXPECT_EQ(entries[2].ref.path(), folder.path() + "/c");

  FileRef missing = FileRef::inFolder(folder, "gone");
  EXPECT_EQ(listFolder(missing, entries), kErrFileAccess);
  EXPECT_TRUE(entries.empty());
}
