// SPDX-License-Identifier: GPL-2.0-or-later
// The producer interface: file data streamed fork by fork into whole blocks, files that
// changed or vanished after the layout was made, and the file-location list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "DPMs/base/dpm_filesystem_base.h"
#include "platform/file/xattr.h"
#include "tests/dpms/producer_support.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;

namespace {

// The data area alone: the smallest file-system producer, so that GetBlockFromFiles is
// seen as every producer uses it.
class DataAreaProducer : public DPM_FileSystem_Base {
 public:
  using DPM_FileSystem_Base::DPM_FileSystem_Base;
  EngineStatus GenerateStuffsForHeaders() override { return kNoErr; }
  std::uint32_t PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) override {
    if (tree->GenerateFileLocTable(2048, &fileLocTable, true) != kNoErr) return 0;
    *size = 2048;
    totalBlocks = fileLocTable.allocatedBlocks;
    return totalBlocks;
  }
  EngineStatus NextBlocks(void* buffer, std::uint32_t bytes, std::uint32_t maxBlocks,
                          std::uint32_t* got) override {
    std::uint32_t gotBytes = 0;
    const EngineStatus s =
        GetBlockFromFiles(&fileLocTable, buffer, std::min(bytes, maxBlocks * 2048), &gotBytes);
    *got = gotBytes / 2048;
    return s;
  }
  EngineStatus GetFileLocList(FS_FileLocList** out) override {
    return makeFileLocList(fileLocTable, 1000, out);
  }
  FS_FileLocTable& table() { return fileLocTable; }
};

std::string padded(const std::string& bytes) {
  return bytes + std::string((2048 - bytes.size() % 2048) % 2048, '\0');
}

// Reads `bytes` of file data in calls of `chunk` bytes.
std::string readArea(DPM_FileSystem_Base& producer, FS_FileLocTable& table, std::size_t bytes,
                     std::uint32_t chunk) {
  std::string out;
  std::string buffer(chunk, '\x55');
  while (out.size() < bytes) {
    const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(chunk, bytes - out.size()));
    std::uint32_t got = 0;
    EXPECT_EQ(producer.GetBlockFromFiles(&table, buffer.data(), want, &got), kNoErr);
    EXPECT_EQ(got, want);
    out.append(buffer, 0, got);
  }
  return out;
}

void setResourceFork(const std::string& path, const std::string& bytes) {
  ASSERT_EQ(::setxattr(path.c_str(), kResourceForkXattr, bytes.data(), bytes.size(), 0), 0);
}

}  // namespace

// Resource fork before data fork, each padded to whole blocks; a fork of exactly one block
// is followed at once by the next; an empty file takes nothing and does not end the walk.
// Buffers that end inside a fork or its padding give the same stream as whole blocks.
TEST(GetBlockFromFiles, StreamsForksInTableOrderOnWholeBlocks) {
  TempDir dir;
  const std::string a = patternBytes(2048, 1), bRsrc = patternBytes(100, 2), bData = "x",
                    d = patternBytes(4097, 3);
  writeFile(dir.file("a.bin"), a);
  writeFile(dir.file("b.bin"), bData);
  setResourceFork(dir.file("b.bin"), bRsrc);
  writeFile(dir.file("c.empty"), "");
  std::filesystem::create_directory(dir.file("sub"));
  writeFile(dir.file("sub/d.bin"), d);
  const std::string expected = a + padded(bRsrc) + padded(bData) + padded(d);

  for (const std::uint32_t chunk : {2048u, 3000u, 1u << 20}) {
    SCOPED_TRACE(chunk);
    TreePtr tree = treeFromFolder(dir.path(), "T");
    DataAreaProducer producer(tree.get());
    std::uint16_t size = 0;
    ASSERT_EQ(producer.PrepareAll(&size, nullptr, nullptr), expected.size() / 2048);
    EXPECT_EQ(readArea(producer, producer.table(), expected.size(), chunk), expected);
    EXPECT_TRUE(producer.MissingData().empty());
    EXPECT_EQ(producer.DataResult(), kNoErr);
  }
}

// A file deleted, one shortened and one turned into something unreadable after the layout
// was made: each keeps exactly its blocks, as zeros where its data is missing, the files
// after them stay in place, and every shortfall is on record for the burn log and the job.
TEST(GetBlockFromFiles, MissingShortenedAndUnreadableFilesKeepTheirBlocksAndAreReported) {
  TempDir dir;
  const std::string gone = patternBytes(3000, 1), shrunk = patternBytes(5000, 2),
                    odd = patternBytes(700, 3), kept = patternBytes(2100, 4);
  writeFile(dir.file("1gone"), gone);
  writeFile(dir.file("2shrunk"), shrunk);
  writeFile(dir.file("3odd"), odd);
  writeFile(dir.file("4kept"), kept);
  TreePtr tree = treeFromFolder(dir.path(), "T");
  DataAreaProducer producer(tree.get());
  std::uint16_t size = 0;
  const std::uint32_t blocks = producer.PrepareAll(&size, nullptr, nullptr);
  ASSERT_EQ(blocks, 2u + 3u + 1u + 2u);

  std::filesystem::remove(dir.file("1gone"));
  ASSERT_EQ(::truncate(dir.file("2shrunk").c_str(), 1234), 0);
  std::filesystem::remove(dir.file("3odd"));
  ASSERT_EQ(::mkfifo(dir.file("3odd").c_str(), 0600), 0);

  const std::string area = readArea(producer, producer.table(), blocks * 2048, 2048 * 3);
  const std::string expected = std::string(4096, '\0') + padded(shrunk.substr(0, 1234)) +
                               std::string(4096, '\0') + std::string(2048, '\0') + padded(kept);
  ASSERT_EQ(area.size(), expected.size());
  EXPECT_EQ(area, expected);

  const auto& missing = producer.MissingData();
  ASSERT_EQ(missing.size(), 3u);
  EXPECT_EQ(missing[0].path, dir.file("1gone"));
  EXPECT_EQ(missing[0].readBytes, 0u);
  EXPECT_EQ(missing[0].expectedBytes, 3000u);
  EXPECT_EQ(missing[1].path, dir.file("2shrunk"));
  EXPECT_EQ(missing[1].readBytes, 1234u);
  EXPECT_EQ(missing[1].expectedBytes, 5000u);
  EXPECT_EQ(missing[2].path, dir.file("3odd"));
  EXPECT_FALSE(missing[2].resourceFork);
  EXPECT_EQ(producer.DataResult(), kErrFileAccess);
  const std::string line = DPM_MissingDataLogLine(missing[1]);
  EXPECT_NE(line.find(dir.file("2shrunk")), std::string::npos) << line;
  EXPECT_NE(line.find("1234 of 5000"), std::string::npos) << line;
}

TEST(GetBlockFromFiles, TableEndAndMissingArguments) {
  TempDir dir;
  writeFile(dir.file("f"), patternBytes(100));
  TreePtr tree = treeFromFolder(dir.path(), "T");
  DataAreaProducer producer(tree.get());
  std::uint16_t size = 0;
  ASSERT_EQ(producer.PrepareAll(&size, nullptr, nullptr), 1u);
  std::string buffer(3 * 2048, '\x55');
  std::uint32_t got = 99;
  EXPECT_EQ(producer.GetBlockFromFiles(&producer.table(), buffer.data(), 3 * 2048, &got),
            kErrProducerTableEnd);
  EXPECT_EQ(got, 2048u);
  EXPECT_EQ(buffer.substr(0, 2048), padded(patternBytes(100)));
  EXPECT_EQ(producer.GetBlockFromFiles(nullptr, buffer.data(), 2048, &got), kErrBadArgument);
  EXPECT_EQ(producer.GetBlockFromFiles(&producer.table(), nullptr, 2048, &got), kErrBadArgument);
  EXPECT_EQ(producer.GetBlockFromFiles(&producer.table(), buffer.data(), 2048, nullptr),
            kErrBadArgument);
  EXPECT_EQ(producer.GetCurrentSenseCode(nullptr), kErrNotSupported);
}

// Absolute addresses from the data area's block; forks without blocks have address 0; the
// table is not used up by streaming, so the list is the same after the data went out.
TEST(FileLocList, AbsoluteAddressesInTableOrderAfterStreaming) {
  TempDir dir;
  writeFile(dir.file("a"), patternBytes(5000));
  writeFile(dir.file("b"), "");
  writeFile(dir.file("c"), patternBytes(10));
  setResourceFork(dir.file("c"), "rsrc");
  TreePtr tree = treeFromFolder(dir.path(), "T");
  DataAreaProducer producer(tree.get());
  std::uint16_t size = 0;
  const std::uint32_t blocks = producer.PrepareAll(&size, nullptr, nullptr);
  ASSERT_EQ(blocks, 5u);
  (void)readArea(producer, producer.table(), blocks * 2048, 4096);

  FS_FileLocList* raw = nullptr;
  ASSERT_EQ(producer.GetFileLocList(&raw), kNoErr);
  FS_FileLocListPtr list(raw);
  EXPECT_EQ(list->count, 3u);
  EXPECT_EQ(list->blockSize, 2048u);
  EXPECT_EQ(list->allocatedBlocks, 5u);
  EXPECT_EQ(list->rsrcForks, 1u);
  const FS_FileLocListEntry* e = FS_FileLocListEntries(list.get());
  EXPECT_EQ(e[0].node->Title(), "a");
  EXPECT_EQ(e[0].dataLBA, 1000u);
  EXPECT_EQ(e[0].dataBlocks, 3u);
  EXPECT_EQ(e[0].rsrcLBA, 0u);
  EXPECT_EQ(e[1].node->Title(), "b");
  EXPECT_EQ(e[1].dataLBA, 0u);
  EXPECT_EQ(e[1].dataBlocks, 0u);
  EXPECT_EQ(e[2].rsrcLBA, 1003u);
  EXPECT_EQ(e[2].rsrcBlocks, 1u);
  EXPECT_EQ(e[2].dataLBA, 1004u);
  EXPECT_EQ(producer.GetFileLocList(nullptr), kErrBadArgument);
}
