// SPDX-License-Identifier: GPL-2.0-or-later
// The windowed reader, the log primitives, byte swapping and the disc-copy arithmetic.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "quillion/GU.h"
#include "tests/support/test_support.h"

using namespace quillion::test;

namespace {

struct ReaderDeleter {
  void operator()(GU_SFB* r) const { EXPECT_EQ(GU_SFB_Term(r), 0); }
};
using ReaderPtr = std::unique_ptr<GU_SFB, ReaderDeleter>;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeAt(const std::string& path, std::uint64_t offset, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

}  // namespace

TEST(WindowedReader, OpensOnlyFilesOfMoreThan15Bytes) {
  TempDir dir;
  writeFile(dir.file("15"), std::string(15, 'x'));
  writeFile(dir.file("16"), std::string(16, 'x'));
  EXPECT_EQ(GU_SFB_Init(dir.file("15").c_str(), 4096), nullptr);
  ReaderPtr r(GU_SFB_Init(dir.file("16").c_str(), 4096));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(GU_SFB_FileSize(r.get()), 16u);
  EXPECT_EQ(GU_SFB_Init(dir.file("16").c_str(), 0), nullptr);
  EXPECT_EQ(GU_SFB_Init("", 4096), nullptr);
  EXPECT_EQ(GU_SFB_Init(dir.file("missing").c_str(), 4096), nullptr);
  EXPECT_EQ(GU_SFB_Init(dir.path().c_str(), 4096), nullptr) << "a folder";
  EXPECT_EQ(GU_SFB_Term(nullptr), -1);
  EXPECT_EQ(GU_SFB_GetByte(nullptr, 0), 255);
  EXPECT_EQ(GU_SFB_GetDirection(nullptr), 1);
}

// Where a window lies shows in what it still holds after the file changes under it.
TEST(WindowedReader, BackwardWindowEndsAtTheOffsetOrStartsAtZero) {
  TempDir dir;
  const std::string path = dir.file("f");
  writeFile(path, std::string(10000, 'a'));
  ReaderPtr r(GU_SFB_Init(path.c_str(), 4096));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(GU_SFB_SetDirection(r.get(), kGU_SFBBackward), kGU_SFBBackward);
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 8000), 'a');  // window [3905, 8001)
  writeFile(path, std::string(10000, 'b'));
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 3905), 'a');
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 8000), 'a');
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 100), 'b');  // window [0, 4096)
  writeFile(path, std::string(10000, 'c'));
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 0), 'b');
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 4095), 'b');
  GU_SFB_SetDirection(r.get(), kGU_SFBForward);
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 5000), 'c');  // window [5000, 9096)
  writeFile(path, std::string(10000, 'd'));
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 9095), 'c');
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 4999), 'd');
  EXPECT_EQ(GU_SFB_GetByte(r.get(), 10000), 255) << "past the end";
}

TEST(WindowedReader, DataInsideAndAcrossTheWindow) {
  TempDir dir;
  const std::string path = dir.file("f");
  const std::string content = patternBytes(20000);
  writeFile(path, content);
  ReaderPtr r(GU_SFB_Init(path.c_str(), 1024));
  char buffer[3000];
  EXPECT_EQ(GU_SFB_GetData(r.get(), buffer, 10, 100), 100u);
  EXPECT_EQ(std::string(buffer, 100), content.substr(10, 100));
  EXPECT_EQ(GU_SFB_GetData(r.get(), buffer, 900, 3000), 3000u);
  EXPECT_EQ(std::string(buffer, 3000), content.substr(900, 3000));
  EXPECT_EQ(GU_SFB_GetData(r.get(), buffer, 19000, 3000), 1000u) << "short at the end";
  EXPECT_EQ(GU_SFB_Get2Bytes(r.get(), 5),
            (static_cast<unsigned char>(content[5]) << 8) | static_cast<unsigned char>(content[6]));
  EXPECT_EQ(GU_SFB_GetData(nullptr, buffer, 0, 1), 0u);
}

// Movie files pass 4 GiB; a sparse file gets there without using the disc.
TEST(WindowedReader, OffsetsBeyondFourGiB) {
  TempDir dir;
  const std::string path = dir.file("big");
  const std::uint64_t size = 5ull << 30, marker = (9ull << 29) + 3;  // 4.5 GiB + 3
  writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  writeAt(path, marker, "\x12\x34\x56");
  ReaderPtr r(GU_SFB_Init(path.c_str(), 65536));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(GU_SFB_FileSize(r.get()), size);
  EXPECT_EQ(GU_SFB_Get2Bytes(r.get(), marker), 0x1234);
  EXPECT_EQ(GU_SFB_GetByte(r.get(), marker + 2), 0x56);
  EXPECT_EQ(GU_SFB_GetByte(r.get(), marker - (1ull << 32)), 0) << "not the byte 4 GiB lower";
  char tail[4];
  EXPECT_EQ(GU_SFB_GetData(r.get(), tail, size - 2, 4), 2u);
}

TEST(BurnLog, AppendsAndDumps) {
  TempDir dir;
  const std::string log = dir.file("vuklog.txt");
  for (const char* line : {"first\r", "second\r"}) {
    std::FILE* f = GU_Log_Open(log.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GU_Log_Write(f, line, std::strlen(line)), std::strlen(line));
    GU_Log_Close(f);
  }
  EXPECT_EQ(fileBytes(log), "first\rsecond\r");
  EXPECT_EQ(GU_Log_Write(nullptr, "x", 1), 0u);
  GU_Log_Close(nullptr);
  EXPECT_EQ(GU_Log_Open(dir.file("no/such/folder/log").c_str()), nullptr);

  const std::string dump = dir.file("dump.bin");
  ASSERT_EQ(GU_DumpDataToFile(dump.c_str(), "0123456789", 10), kNoErr);
  ASSERT_EQ(GU_DumpDataToFile(dump.c_str(), "ab", 2), kNoErr);
  EXPECT_EQ(fileBytes(dump), "ab") << "replaced, not appended";
  EXPECT_EQ(GU_DumpDataToFile(dir.file("no/such/file").c_str(), "x", 1), kErrFileAccess);
  EXPECT_EQ(GU_DumpDataToFile(nullptr, "x", 1), kErrBadArgument);
}

TEST(ByteOrder, Swaps) {
  static_assert(GU_Swap2Bytes(0x1234) == 0x3412);
  EXPECT_EQ(GU_Swap4Bytes(0x12345678u), 0x78563412u);
  EXPECT_EQ(GU_Swap8Bytes(0x0102030405060708ull), 0x0807060504030201ull);
  EXPECT_EQ(GU_Swap8Bytes(GU_Swap8Bytes(0xDEADBEEFCAFEF00Dull)), 0xDEADBEEFCAFEF00Dull);
}

TEST(CopyArithmetic, Table) {
  struct Case {
    std::uint32_t readRate, cache, total;
    std::uint32_t cd, dvd;
  };
  const Case cases[] = {
      {1000, 5000, 5000, 0xFFFFFFFFu, 0xFFFFFFFFu},  // the cache holds the whole copy
      {1000, 1000, 9000, 14, 1},                     // t = 8: 9000 / 608 = 14.8
      {1000, 1000, 1500, 0xFFFFFFFFu, 0xFFFFFFFFu},  // t = 0
      {0, 1000, 9000, 0, 0},                         // a reader that delivers nothing
      {76, 0, 760, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GU_CalculateMaxWriteCDSpeed(c.readRate, c.cache, c.total), c.cd) << c.readRate;
    EXPECT_EQ(GU_CalculateMaxWriteDVDSpeed(c.readRate, c.cache, c.total), c.dvd) << c.readRate;
  }
  EXPECT_EQ(GU_CalculateTotalCacheMgrBlocks(1000000, 65536, 2048), 488u);
  EXPECT_EQ(GU_CalculateTotalCacheMgrBlocks(8 << 20, 512 << 10, 2352), 3552u);
  EXPECT_EQ(GU_CalculateTotalCacheMgrBlocks(0, 65536, 2048), 0u);
  EXPECT_EQ(GU_CalculateTotalCacheMgrBlocks(1000, 0, 2048), 0u);
}
