// SPDX-License-Identifier: GPL-2.0-or-later
// The file wrapper and nodes read from real files, with and without the attributes that
// carry Finder information and resource forks (set and read back with setfattr and
// getfattr), missing files and symbolic links taken as themselves.
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/file/xattr.h"
#include "tests/support/test_support.h"
#include "tree/fs_file_wrapper.h"
#include "tree/fs_tree.h"

using namespace quillion;
using namespace quillion::test;

namespace {

// Type 'MooV', creator 'TVOD', Finder flags 0x4000 (invisible), the rest zero.
const std::string kFinderInfo("MooVTVOD\x40\x00", 10);

void setAttribute(const std::string& path, const char* name, const std::string& bytes) {
  ASSERT_EQ(::setxattr(path.c_str(), name, bytes.data(), bytes.size(), 0), 0) << path;
}

std::string readAll(FS_FileWrapper& wrapper) {
  std::string out;
  char chunk[1000];
  while (const std::uint32_t n = wrapper.Read(chunk, sizeof chunk)) out.append(chunk, n);
  return out;
}

struct UtcZone {
  UtcZone() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

}  // namespace

TEST(FileWrapper, ReadsCatalogAndBothForks) {
  TempDir dir;
  const std::string path = dir.file("movie.mov");
  const std::string data = patternBytes(10000), rsrc = patternBytes(700, 5);
  writeFile(path, data);
  setAttribute(path, kFinderInfoXattr, kFinderInfo);
  setAttribute(path, kResourceForkXattr, rsrc);

  FS_FileWrapper w(path.c_str(), false);
  ASSERT_TRUE(w.IsValid());
  EXPECT_TRUE(w.isExisted());
  EXPECT_FALSE(w.isFolder() || w.isShortcut());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.dataSize(), 10000u);
  EXPECT_EQ(w.rsrcSize(), 700u);
  EXPECT_EQ(w.fileType(), 0x4D6F6F56u);
  EXPECT_EQ(w.creatorType(), 0x54564F44u);
  EXPECT_EQ(w.FinderFlags(), 0x4000u);

  ASSERT_EQ(w.Open(kFSReadPermission, true), kNoErr);
  EXPECT_EQ(readAll(w), data);
  EXPECT_EQ(w.Seek(0, 2), 10000);
  EXPECT_EQ(w.Seek(-10, 1), 9990);
  EXPECT_EQ(w.Seek(0, 7), -1);
  ASSERT_EQ(w.Open(kFSReadPermission, false), kNoErr) << "closes the data fork first";
  EXPECT_EQ(readAll(w), rsrc);
  EXPECT_EQ(w.Seek(0, 2), 700);
  EXPECT_EQ(w.Close(), kNoErr);
  EXPECT_EQ(w.Read(nullptr, 0), 0u);
  EXPECT_EQ(w.Open(kFSWritePermission, true), kErrNotSupported);

  CatalogInfo info;
  ASSERT_EQ(w.GetFSCatalogInfo(&info), kNoErr);
  EXPECT_EQ(info.rsrcLogicalSize, 700u);
  std::uint8_t raw[8];
  EXPECT_EQ(w.GetFSCatalogInfo(raw, sizeof raw), kNoErr);
  EXPECT_EQ(w.GetFSCatalogInfo(nullptr, 8), kErrBadArgument);
}

TEST(FileWrapper, MissingFileReadsAsNothing) {
  TempDir dir;
  FS_FileWrapper w(dir.file("gone.txt").c_str(), false);
  EXPECT_FALSE(w.IsValid());
  EXPECT_FALSE(w.isExisted() || w.isFolder() || w.isShortcut());
  EXPECT_EQ(w.dataSize() + w.rsrcSize() + w.fileType() + w.creatorType() + w.FinderFlags(), 0u);
  EXPECT_EQ(w.Open(kFSReadPermission, true), kErrFileAccess);
  char buffer[4];
  EXPECT_EQ(w.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(w.Seek(0, 2), 0);
  std::tm date{};
  date.tm_year = 99;
  EXPECT_EQ(w.creationDate(&date), kNoErr);
  EXPECT_EQ(date.tm_year, 99) << "nothing is written for an invalid wrapper";
  EXPECT_EQ(w.modificationDate(nullptr), kErrBadArgument);
  EXPECT_EQ(w.SetFullPathName(nullptr), kErrBadArgument);
}

TEST(FileWrapper, DatesAreBrokenDownInLocalTime) {
  const UtcZone utc;
  TempDir dir;
  const std::string path = dir.file("dated");
  writeFile(path, "x");
  ASSERT_EQ(runTool({"touch", "-d", "2009-02-13 23:31:30 UTC", path}).exitCode, 0);  // a Friday
  FS_FileWrapper w(path.c_str(), false);
  std::tm date{};
  date.tm_yday = 123;
  ASSERT_EQ(w.modificationDate(&date), kNoErr);
  EXPECT_EQ(date.tm_year, 109);
  EXPECT_EQ(date.tm_mon, 1);
  EXPECT_EQ(date.tm_mday, 13);
  EXPECT_EQ(date.tm_hour, 23);
  EXPECT_EQ(date.tm_min, 31);
  EXPECT_EQ(date.tm_sec, 30);
  EXPECT_EQ(date.tm_wday, 5);
  EXPECT_EQ(date.tm_yday, 123) << "fields other than these are left alone";
}

TEST(FileWrapper, SymbolicLinkTakenAsItselfOrFollowed) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("real", dir.file("link").c_str()), 0);
  FS_FileWrapper itself(dir.file("link").c_str(), true);
  ASSERT_TRUE(itself.IsValid());
  EXPECT_TRUE(itself.isShortcut());
  EXPECT_FALSE(itself.isFolder());
  EXPECT_EQ(itself.fileType(), kSymbolicLinkFileType);
  EXPECT_EQ(itself.GetFSRef().leafName(), "link");
  ASSERT_EQ(itself.Open(kFSReadPermission, true), kNoErr);
  EXPECT_EQ(readAll(itself), "real");

  FS_FileWrapper followed(dir.file("link").c_str(), false);
  EXPECT_TRUE(followed.isFolder());
  EXPECT_FALSE(followed.isShortcut());
  EXPECT_EQ(followed.GetFSRef().leafName(), "real");

  FS_FileWrapper plain(dir.file("real").c_str(), true);
  EXPECT_TRUE(plain.isFolder()) << "a path that is no link stays what it is";
}

TEST(FileNode, NodesFromPathsAndReferences) {
  TempDir dir;
  const std::string path = dir.file("song.aiff");
  writeFile(path, patternBytes(3000));
  setAttribute(path, kFinderInfoXattr, kFinderInfo);
  FS_Node* parent = initNode(nullptr, "folder", nullptr, false);

  FS_Node* node = initNode(path.c_str(), "song.aiff", parent, false);
  EXPECT_TRUE(IsValid(node));
  EXPECT_FALSE(IsFolderNode(node));
  EXPECT_EQ(GetParentNode(node), parent);
  EXPECT_EQ(dataActualSizeNode(node), 3000u);
  EXPECT_EQ(node->fileType, 0x4D6F6F56u);
  EXPECT_EQ(node->finderFlags, 0x4000u);
  EXPECT_STREQ(GetFullPathNameNode(node), path.c_str());
  struct stat st {};
  EXPECT_TRUE(node->GetPOSIX_lstat(&st));
  EXPECT_EQ(st.st_size, 3000);

  // The file goes away and is read again: the node stops claiming to be valid.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_FALSE(SetFullPathNameNode(node, path.c_str()));
  EXPECT_FALSE(IsValid(node));
  EXPECT_TRUE(GetNodeFSRef(node)->empty());
  EXPECT_FALSE(node->GetPOSIX_lstat(&st));

  FS_Node* missing = initNodeByFSRef(GetNodeFSRef(node), "ghost", parent, nullptr);
  EXPECT_FALSE(IsValid(missing));
  EXPECT_EQ(GetParentNode(missing), nullptr) << "an invalid node is never added";
  termNode(missing);
  FS_Node* none = initNodeByFSRef(nullptr, "none", parent, nullptr);
  EXPECT_FALSE(IsValid(none));
  termNode(none);
  termNode(parent);
}

TEST(FileNode, FolderListingBecomesNodesAndLinksStayLinks) {
  TempDir dir;
  writeFile(dir.file("a.txt"), "aaaa");
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("a.txt", dir.file("to-a").c_str()), 0);
  FileRef folder;
  ASSERT_EQ(FileRef::make(dir.path().string(), LinkMode::follow, folder), kNoErr);
  std::vector<FolderEntry> entries;
  ASSERT_EQ(listFolder(folder, entries), kNoErr);
  FS_Node* root = initNode(nullptr, "root", nullptr, false);
  for (const FolderEntry& e : entries) {
    FS_Node* node = initNodeByFSRef(&e.ref, e.name.c_str(), root, &e.info);
    ASSERT_EQ(GetParentNode(node), root) << e.name;
  }
  EXPECT_TRUE(IsFolderNode(root->FindChild("sub")));
  FS_Node* link = root->FindChild("to-a");
  EXPECT_TRUE(IsShortcutNode(link));
  EXPECT_FALSE(IsFolderNode(link));
  EXPECT_EQ(dataActualSizeNode(link), 5u) << "the link's own text";

  FS_Node* viaPath = initNode(dir.file("to-a").c_str(), "to-a", nullptr, true);
  EXPECT_TRUE(IsShortcutNode(viaPath));
  EXPECT_TRUE(isSymbolic(viaPath));
  EXPECT_EQ(GetNodeFSRef(viaPath)->leafName(), "to-a");
  termNode(viaPath);
  termNode(root);
}

TEST(FileReferenceRoutines, VolumeAndFileSpecification) {
  TempDir dir;
  writeFile(dir.file("file"), "f");
  FileRef ref;
  ASSERT_EQ(FileRef::make(dir.file("file").string(), LinkMode::follow, ref), kNoErr);
  std::int16_t volume = 0;
  EXPECT_EQ(FSGetVRefNum(&ref, nullptr), kErrParam);
  ASSERT_EQ(FSGetVRefNum(&ref, &volume), kNoErr);
  EXPECT_NE(volume, 0);
  FileRef other;
  ASSERT_EQ(FileRef::make(dir.path().string(), LinkMode::follow, other), kNoErr);
  std::int16_t sameVolume = 0;
  ASSERT_EQ(FSGetVRefNum(&other, &sameVolume), kNoErr);
  EXPECT_EQ(volume, sameVolume);

  FS_FileSpec spec;
  EXPECT_EQ(FSRefMakeFSSpec(&ref, nullptr), kErrParam);
  ASSERT_EQ(FSRefMakeFSSpec(&ref, &spec), kNoErr);
  EXPECT_EQ(spec.vRefNum, volume);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(spec.name), 5), std::string("\x04"
                                                                                  "file"));
  EXPECT_EQ(std::to_string(spec.parID) + "\n", toolOutput({"stat", "-c", "%i", dir.path()}));
  FileRef gone = FileRef::inFolder(other, "gone");
  EXPECT_EQ(FSRefMakeFSSpec(&gone, &spec), kErrFileAccess);
}

// A producer's view: a tree read from a real folder, a file-location table, and each
// fork read through the wrapper into its blocks of a data area. Every file's data must
// equal the file on disc and every resource fork what getfattr reports.
TEST(FileLayout, DataAreaHoldsEveryForkAtItsBlocks) {
  QUILLION_REQUIRE_TOOL("getfattr");
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("src").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.file("src/inner").c_str(), 0755), 0);
  const std::vector<std::pair<std::string, std::size_t>> files = {{"src/one.bin", 5000},
                                                                  {"src/inner/two.bin", 2048},
                                                                  {"src/inner/empty", 0},
                                                                  {"src/zeta.bin", 1}};
  for (const auto& [name, size] : files) writeFile(dir.file(name), patternBytes(size, size & 7));
  setAttribute(dir.file("src/inner/two.bin"), kResourceForkXattr, patternBytes(3000, 2));

  FS_Tree* tree = initTree(nullptr);
  FS_Node* src = initNode(dir.file("src").c_str(), "src", nullptr, false);
  FS_Node* inner = initNode(dir.file("src/inner").c_str(), "inner", src, false);
  for (const auto& [name, size] : files) {
    const std::string leaf = name.substr(name.rfind('/') + 1);
    initNode(dir.file(name).c_str(), leaf.c_str(),
             name.find("inner") != std::string::npos ? inner : src, false);
  }
  ASSERT_EQ(AddTreeNode(tree, src, nullptr), kNoErr);
  FS_FileLocTable table;
  ASSERT_EQ(tree->GenerateFileLocTable(2048, &table, true), kNoErr);
  ASSERT_EQ(table.entries.size(), files.size());

  std::string area(std::size_t{table.allocatedBlocks} * 2048, '\0');
  for (const FS_FileLoc& e : table.entries) {
    for (bool dataFork : {false, true}) {
      const std::uint32_t blocks = dataFork ? e.dataBlocks : e.rsrcBlocks;
      if (blocks == 0) continue;
      FS_FileWrapper w(&e.node->fsRef, nullptr);
      ASSERT_EQ(w.Open(kFSReadPermission, dataFork), kNoErr);
      const std::uint32_t start = dataFork ? e.dataStart : e.rsrcStart;
      w.Read(area.data() + std::size_t{start} * 2048, blocks * 2048);
    }
  }
  for (const FS_FileLoc& e : table.entries) {
    const std::string path = GetFullPathNameNode(e.node);
    const std::string data = readText(path);
    EXPECT_EQ(area.substr(std::size_t{e.dataStart} * 2048, data.size()), data) << path;
    EXPECT_EQ(e.dataBlocks, (data.size() + 2047) / 2048) << path;
    const std::string rsrc =
        toolOutput({"getfattr", "--only-values", "-n", "user.com.apple.ResourceFork", path});
    EXPECT_EQ(e.rsrcBlocks, (rsrc.size() + 2047) / 2048) << path;
    EXPECT_EQ(area.substr(std::size_t{e.rsrcStart} * 2048, rsrc.size()), rsrc) << path;
  }
  termTree(tree);
}
