// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bufstream.h"
#include "stream_test_support.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::collect;
using quillion::test::messages;
using quillion::test::pattern;
using quillion::test::readFile;
using quillion::test::TempDir;
using quillion::test::writeFile;

void putThroughRequest(bufstream* bs, const std::vector<std::uint8_t>& bytes) {
  std::uint8_t* area = bs->request(bs, static_cast<std::uint32_t>(bytes.size()));
  ASSERT_NE(area, nullptr);
  std::memcpy(area, bytes.data(), bytes.size());
  ASSERT_EQ(bs->confirm(bs, static_cast<std::uint32_t>(bytes.size())), bytes.size());
}

std::uint64_t byteCount(bufstream* bs) {
  std::uint64_t count = ~0ull;
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_COUNT, &count, 8), 0);
  return count;
}

TEST(FileWriter, SplitNamesPartsAndRestartsTheCount) {
  struct Case {
    std::string given;
    std::vector<std::string> parts;
  };
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "a.dir");
  const std::vector<Case> cases = {
      {"movie.mpg", {"movie001.mpg", "movie002.mpg", "movie003.mpg"}},
      {"movie", {"movie001", "movie002"}},
      {"a.dir/movie", {"a.dir/movie001"}},
      {"take.two.ts", {"take.two001.ts"}},
  };
  for (const Case& c : cases) {
    bufstream* bs = open_file_buf_write(dir.file(c.given).c_str(), 64, nullptr);
    ASSERT_NE(bs, nullptr);
    const auto first = pattern(100, 1);
    ASSERT_EQ(bs->copybytes(bs, const_cast<std::uint8_t*>(first.data()), 100), 100u);
    EXPECT_EQ(byteCount(bs), 100u);
    std::vector<std::vector<std::uint8_t>> written;
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      // One split through the slot, the others through the notice the multiplexer sends.
      ASSERT_EQ(i == 0 ? bs->split(bs) : bs->auxinfo(bs, 0, BUFSTREAM_AUX_SPLIT, nullptr, 0), 0);
      EXPECT_EQ(byteCount(bs), 0u);
      written.push_back(pattern(10 + i, static_cast<std::uint8_t>(i)));
      putThroughRequest(bs, written.back());
      std::uint32_t parts = 0;
      ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_PART_COUNT, &parts, 4), 0);
      EXPECT_EQ(parts, i + 1);
    }
    char name[4096];
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_FILE_NAME, name, sizeof name), 0);
    EXPECT_EQ(std::string(name), dir.file(c.parts.back()));
    EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_FILE_NAME, name,
                          static_cast<std::uint32_t>(std::strlen(name))),
              -1)
        << "a buffer not longer than the name is refused";
    EXPECT_EQ(close_file_buf(bs, 0), 0);
    EXPECT_EQ(bs, nullptr);
    EXPECT_EQ(readFile(dir.file(c.given)), first);
    for (std::size_t i = 0; i < c.parts.size(); ++i)
      EXPECT_EQ(readFile(dir.file(c.parts[i])), written[i]) << c.parts[i];
  }
}

TEST(FileWriter, RequestBeyondTheBufferFailsButLargeCopiesGoStraightThrough) {
  TempDir dir;
  bufstream* bs = open_file_buf_write(dir.file("out.bin").c_str(), 16, nullptr);
  ASSERT_NE(bs, nullptr);
  EXPECT_EQ(bs->chunksize(bs), 16u);
  EXPECT_EQ(bs->request(bs, 17), nullptr);
  const auto small = pattern(10, 3);
  const auto large = pattern(1000, 9);
  putThroughRequest(bs, small);
  EXPECT_EQ(bs->usable_bytes(bs), 6u);
  putThroughRequest(bs, small);  // forces the first 10 out
  ASSERT_EQ(bs->copybytes(bs, const_cast<std::uint8_t*>(large.data()), 1000), 1000u);
  EXPECT_EQ(byteCount(bs), 1020u);
  EXPECT_EQ(close_file_buf(bs, 0), 0);
  std::vector<std::uint8_t> expected = small;
  expected.insert(expected.end(), small.begin(), small.end());
  expected.insert(expected.end(), large.begin(), large.end());
  EXPECT_EQ(readFile(dir.file("out.bin")), expected);
}

TEST(FileWriter, FailedWritesAndFinalFlushAreReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  {
    bufstream* bs = open_file_buf_write("/dev/full", 64, nullptr);
    ASSERT_NE(bs, nullptr);
    putThroughRequest(bs, pattern(40, 1));
    EXPECT_EQ(close_file_buf(bs, 0), -1) << "the buffered bytes never reached the file";
    EXPECT_EQ(bs, nullptr);
  }
  {
    bufstream* bs = open_file_buf_write("/dev/full", 8, nullptr);
    ASSERT_NE(bs, nullptr);
    auto bytes = pattern(100, 1);
    EXPECT_EQ(bs->copybytes(bs, bytes.data(), 100), 0u);
    putThroughRequest(bs, pattern(8, 1));
    EXPECT_EQ(bs->request(bs, 8), nullptr) << "the full buffer cannot be written out";
    EXPECT_EQ(bs->done(bs, 0), -1);
    bs->free(bs);
  }
}

TEST(FileWriter, FailedSplitLeavesNoFileAndEveryLaterWriteFails) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "clip001.mpg");  // the next part's name
  bufstream* bs = open_file_buf_write(dir.file("clip.mpg").c_str(), 32, nullptr);
  ASSERT_NE(bs, nullptr);
  EXPECT_EQ(bs->split(bs), -1);
  EXPECT_EQ(bs->request(bs, 4), nullptr);
  std::uint8_t b[4] = {};
  EXPECT_EQ(bs->copybytes(bs, b, 4), 0u);
  EXPECT_EQ(close_file_buf(bs, 0), -1);
}

TEST(FileWriter, ExistingFileIsUpdatedFromItsStartAndMissingOneCreated) {
  TempDir dir;
  writeFile(dir.file("e.bin"), {9, 9, 9, 9, 9, 9});
  bufstream* bs = open_file_buf_write_existing(dir.file("e.bin").c_str(), 16, nullptr);
  ASSERT_NE(bs, nullptr);
  putThroughRequest(bs, {1, 2});
  EXPECT_EQ(close_file_buf(bs, 0), 0);
  EXPECT_EQ(readFile(dir.file("e.bin")), (std::vector<std::uint8_t>{1, 2, 9, 9, 9, 9}));

  bufstream own{};
  ASSERT_EQ(init_file_buf_write_existing(&own, dir.file("new.bin").c_str(), 16, nullptr), 0);
  EXPECT_EQ(own.free, nullptr) << "a caller's record is released by the caller";
  putThroughRequest(&own, {5});
  EXPECT_EQ(own.done(&own, 0), 0);
  EXPECT_EQ(own.implementation, nullptr);
  EXPECT_EQ(readFile(dir.file("new.bin")), (std::vector<std::uint8_t>{5}));
}

TEST(FileStreams, ConstructorFailuresReportTheirTexts) {
  TempDir dir;
  const std::string missing = dir.file("no/such/file");
  struct Case {
    bufstream* (*open)(const char*, std::uint32_t, bufstream_msg_fn);
    const char* text;
  };
  const Case cases[] = {
      {open_file_buf_write, "BUFSTRM:Unable to open file for writing"},
      {open_file_buf_write_flushable, "BUFSTRM:Unable to open file for writing."},
      {open_file_buf_write_existing, "BUFSTRM:Unable to open file for writing."},
      {open_file_buf_read, "BUFSTRM:Unable to open file for reading."},
  };
  for (const Case& c : cases) {
    messages.clear();
    EXPECT_EQ(c.open(missing.c_str(), 64, collect), nullptr);
    EXPECT_EQ(messages, std::vector<std::string>{c.text});
  }
  messages.clear();
  EXPECT_EQ(open_file_buf_read(missing.c_str(), 64, nullptr), nullptr) << "no message function";
  EXPECT_TRUE(messages.empty());
}

TEST(FileReader, RequestIsBoundByTheBufferWhileCopiesAreNot) {
  TempDir dir;
  const auto bytes = pattern(300, 5);
  writeFile(dir.file("in.bin"), bytes);
  bufstream* bs = open_file_buf_read(dir.file("in.bin").c_str(), 64, nullptr);
  ASSERT_NE(bs, nullptr);
  EXPECT_EQ(bs->flags, 0u);
  std::uint64_t size = 0;
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_FILE_SIZE, &size, 8), 0);
  EXPECT_EQ(size, 300u);
  EXPECT_EQ(bs->request(bs, 65), nullptr);
  const std::uint8_t* area = bs->request(bs, 40);
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(0, std::memcmp(area, bytes.data(), 40));
  ASSERT_EQ(bs->confirm(bs, 30), 30u);
  area = bs->request(bs, 60);  // moves the rest to the front and refills
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(0, std::memcmp(area, bytes.data() + 30, 60));
  std::vector<std::uint8_t> out(300);
  EXPECT_EQ(bs->copybytes(bs, out.data(), 200), 200u);
  EXPECT_EQ(0, std::memcmp(out.data(), bytes.data() + 30, 200));
  EXPECT_EQ(bs->copybytes(bs, out.data(), 200), 70u) << "the end of the file";
  EXPECT_EQ(bs->request(bs, 1), nullptr);
  EXPECT_EQ(byteCount(bs), 300u);
  EXPECT_EQ(close_file_buf(bs, 0), 0);
}

TEST(FileReader, ByteSwapKeepsPairsAcrossOddReads) {
  TempDir dir;
  writeFile(dir.file("five.bin"), {1, 2, 3, 4, 5});
  const std::vector<std::uint8_t> expected{2, 1, 4, 3, 5};
  for (std::uint32_t step : {1u, 2u, 3u, 5u}) {
    bufstream* bs = open_file_buf_read(dir.file("five.bin").c_str(), 3, nullptr);
    ASSERT_NE(bs, nullptr);
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_SWAP, nullptr, 0), 0);
    std::vector<std::uint8_t> got;
    for (int guard = 0; guard < 10 && got.size() < 5; ++guard) {
      std::uint8_t piece[5] = {};
      const std::uint32_t n = bs->copybytes(bs, piece, step);
      got.insert(got.end(), piece, piece + n);
    }
    EXPECT_EQ(got, expected) << "reads of " << step;
    EXPECT_EQ(exit_file_buf_read(bs), 0);
    bs->free(bs);
  }
  bufstream* bs = open_file_buf_read(dir.file("five.bin").c_str(), 3, nullptr);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_SWAP, nullptr, 0), 0);
  const std::uint8_t* area = bs->request(bs, 3);  // ends inside a pair
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(area, area + 3), (std::vector<std::uint8_t>{2, 1, 4}));
  bs->confirm(bs, 3);
  std::uint8_t rest[2] = {};
  EXPECT_EQ(bs->copybytes(bs, rest, 2), 2u);
  EXPECT_EQ(rest[0], 3);
  EXPECT_EQ(rest[1], 5);
  close_file_buf(bs, 0);
}

}  // namespace
