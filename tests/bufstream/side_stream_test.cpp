// SPDX-License-Identifier: GPL-2.0-or-later
// The front streams (index, segment list, patch), the null stream and metadata storage.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bufstream_side.h"
#include "recording_stream.h"
#include "stream_test_support.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::collect;
using quillion::test::messages;
using quillion::test::pattern;
using quillion::test::readFile;
using quillion::test::RecordingStream;
using quillion::test::TempDir;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t put(bufstream* bs, const Bytes& bytes) {
  return bs->copybytes(bs, const_cast<std::uint8_t*>(bytes.data()),
                       static_cast<std::uint32_t>(bytes.size()));
}

// An index record of `bytes` bytes whose little-endian position is `position`, the rest
// marked with `tag`.
Bytes record(std::uint32_t bytes, std::uint64_t position, std::uint8_t tag) {
  Bytes r(bytes, tag);
  for (int i = 0; i < 8; ++i) r[i] = static_cast<std::uint8_t>(position >> (8 * i));
  return r;
}
std::vector<std::uint64_t> positionsIn(const Bytes& index, std::size_t header, std::size_t bytes) {
  std::vector<std::uint64_t> out;
  for (std::size_t at = header; at + bytes <= index.size(); at += bytes) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | index[at + i];
    out.push_back(v);
  }
  return out;
}

// ---- segment list ----

TEST(MzlWriter, ListsEveryPartWithItsTrueSize) {
  struct Case {
    int splits;
    bool bySlot;
  };
  for (const Case c : {Case{2, true}, Case{2, false}, Case{0, true}}) {
    TempDir dir;
    bufstream* file = open_file_buf_write(dir.file("movie.mpg").c_str(), 64, nullptr);
    ASSERT_NE(file, nullptr);
    bufstream* mzl = open_bufstream_write_with_mzl(file, nullptr);
    ASSERT_NE(mzl, nullptr);
    EXPECT_EQ(mzl->flags, 0u);
    for (int part = 0; part <= c.splits; ++part) {
      ASSERT_EQ(put(mzl, pattern(100 + 37 * part, 1, 13)), 100u + 37 * part);
      if (part == c.splits) break;
      if (c.bySlot)
        ASSERT_EQ(mzl->split(mzl), 0);
      else
        ASSERT_EQ(mzl->auxinfo(mzl, 0, BUFSTREAM_AUX_SPLIT, nullptr, 0), 0);
    }
    EXPECT_EQ(close_bufstream_write_with_mzl(&mzl, 0), 0);
    EXPECT_EQ(mzl, nullptr);
    ASSERT_EQ(close_file_buf(&file, 0), 0);

    std::string expected = "DZMP\n";
    const char* names[] = {"movie.mpg", "movie001.mpg", "movie002.mpg"};
    for (int part = 0; part <= c.splits; ++part)
      expected += std::string(names[part]) + "; " +
                  std::to_string(std::filesystem::file_size(dir.path() / names[part])) + "\n";
    const Bytes list = readFile(dir.file("movie.mzl"));
    EXPECT_EQ(std::string(list.begin(), list.end()), expected);
  }
}

TEST(MzlWriter, NeedsTheMainStreamsFileName) {
  RecordingStream nameless;
  EXPECT_EQ(open_bufstream_write_with_mzl(nameless.get(), nullptr), nullptr);
  messages.clear();
  EXPECT_EQ(open_bufstream_write_with_mzl(nullptr, collect), nullptr);
  EXPECT_EQ(messages, std::vector<std::string>{"No main stream buffer ."});
}

TEST(MzlWriter, ListNameReplacesOnlyTheFilesOwnExtension) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "a.dir");
  const std::pair<const char*, const char*> cases[] = {
      {"a.dir/take", "a.dir/take.mzl"}, {"a.dir/take.two.mpg", "a.dir/take.two.mzl"}};
  for (const auto& [given, list] : cases) {
    bufstream* file = open_file_buf_write(dir.file(given).c_str(), 64, nullptr);
    ASSERT_NE(file, nullptr);
    bufstream* mzl = open_bufstream_write_with_mzl(file, nullptr);
    ASSERT_NE(mzl, nullptr);
    EXPECT_EQ(close_bufstream_write_with_mzl(&mzl, 0), 0);
    EXPECT_EQ(close_file_buf(&file, 0), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file(list))) << given;
  }
}

// ---- index writer ----

class IndexWriterTest : public ::testing::Test {
 protected:
  RecordingStream main_, video_, audio_;
};

TEST_F(IndexWriterTest, VideoRecordsLeaveInPositionOrderOnceTheirSuccessorIsWritten) {
  bufstream* bs = open_bufstream_write_with_index(main_.get(), nullptr, video_.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  const Bytes header = pattern(254, 9, 13);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_HEADER,
                        const_cast<std::uint8_t*>(header.data()), 254),
            0);
  EXPECT_EQ(video_.bytes, header);
  for (std::uint64_t k = 0; k < 10; ++k) {
    Bytes r = record(32, main_.bytes.size(), static_cast<std::uint8_t>(k));
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, r.data(), 32), 0);
    // Record j leaves once record j + 1 lies before the main stream's position.
    EXPECT_EQ((video_.bytes.size() - 254) / 32, k >= 2 ? k - 1 : 0) << k;
    ASSERT_EQ(put(bs, pattern(1000, 1, 13)), 1000u);
  }
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 0), 0);
  std::vector<std::uint64_t> expected;
  for (std::uint64_t k = 0; k < 10; ++k) expected.push_back(k * 1000);
  EXPECT_EQ(positionsIn(video_.bytes, 254, 32), expected);
  EXPECT_EQ(main_.bytes.size(), 10000u);
  // The index records and headers never reach the main stream; each record written out is
  // announced to the index stream.
  for (std::uint32_t id : main_.ids()) EXPECT_NE(id & 0xFFF00, 0xF0000u) << std::hex << id;
  const auto announced = video_.ids();
  EXPECT_EQ(std::count(announced.begin(), announced.end(),
                       std::uint32_t{BUFSTREAM_AUX_VIDEO_INDEX_ENTRY}),
            10);
}

TEST_F(IndexWriterTest, AReorderedPictureWaitsForTheOneAfterIt) {
  bufstream* bs = open_bufstream_write_with_index(main_.get(), nullptr, video_.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  ASSERT_EQ(put(bs, pattern(5000, 1, 13)), 5000u);
  Bytes a = record(32, 1000, 1), b = record(32, 0, 2), c = record(32, 2000, 3);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, a.data(), 32), 0);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, b.data(), 32), 0);
  EXPECT_TRUE(video_.bytes.empty());  // b lies before a: the record after b decides
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, c.data(), 32), 0);
  EXPECT_EQ(positionsIn(video_.bytes, 0, 32), (std::vector<std::uint64_t>{1000, 0}));
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 1), 0);  // abort drops the last one
  EXPECT_EQ(positionsIn(video_.bytes, 0, 32), (std::vector<std::uint64_t>{1000, 0}));
}

TEST_F(IndexWriterTest, OnlyAnAudioIndexDropsVideoRecords) {
  bufstream* bs = open_bufstream_write_with_index(main_.get(), audio_.get(), nullptr, nullptr);
  ASSERT_NE(bs, nullptr);
  Bytes vh = pattern(254, 1, 13), v = record(32, 0, 1);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_HEADER, vh.data(), 254), 0);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, v.data(), 32), 0);
  const Bytes ah = pattern(208, 2, 13);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_AUDIO_INDEX_HEADER,
                        const_cast<std::uint8_t*>(ah.data()), 208),
            0);
  for (std::uint64_t k = 0; k < 5; ++k) {
    Bytes r = record(20, main_.bytes.size(), 7);
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_AUDIO_INDEX_ENTRY, r.data(), 20), 0);
    ASSERT_EQ(put(bs, pattern(300, 3, 13)), 300u);
  }
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 0), 0);
  EXPECT_TRUE(main_.calls.empty());
  EXPECT_EQ(Bytes(audio_.bytes.begin(), audio_.bytes.begin() + 208), ah);
  EXPECT_EQ(positionsIn(audio_.bytes, 208, 20),
            (std::vector<std::uint64_t>{0, 300, 600, 900, 1200}));
}

TEST_F(IndexWriterTest, AFullRingWritesItsOldestAtOnce) {
  main_.countBytes = false;  // no position: only a full ring lets records out
  main_.auxResult = -1;
  bufstream* bs = open_bufstream_write_with_index(main_.get(), nullptr, video_.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  for (std::uint64_t k = 0; k < 301; ++k) {
    Bytes r = record(32, k, 1);
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, r.data(), 32), 0);
    EXPECT_EQ(video_.bytes.size() / 32, k >= 299 ? k - 298 : 0) << k;
  }
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 0), 0);
  EXPECT_EQ(video_.bytes.size() / 32, 301u);
}

TEST_F(IndexWriterTest, SplitFlushesTheRingsBeforeTheMainStreamSplits) {
  bufstream* bs = open_bufstream_write_with_index(main_.get(), audio_.get(), video_.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  Bytes v = record(32, 0, 1), a = record(20, 0, 2);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, v.data(), 32), 0);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_AUDIO_INDEX_ENTRY, a.data(), 20), 0);
  EXPECT_TRUE(video_.bytes.empty());
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_SPLIT, nullptr, 0), 0);
  EXPECT_EQ(video_.bytes.size(), 32u);
  EXPECT_EQ(audio_.bytes.size(), 20u);
  EXPECT_EQ(video_.ids().back(), std::uint32_t{BUFSTREAM_AUX_SPLIT});
  EXPECT_EQ(audio_.ids().back(), std::uint32_t{BUFSTREAM_AUX_SPLIT});
  EXPECT_EQ(main_.ids(), std::vector<std::uint32_t>{BUFSTREAM_AUX_SPLIT});
  // Other ids and the data slots go to the main stream unchanged.
  std::uint32_t word = 77;
  ASSERT_EQ(bs->auxinfo(bs, 5, 0x12345, &word, 4), 0);
  EXPECT_EQ(main_.calls.back().offset, 5u);
  EXPECT_EQ(main_.calls.back().id, 0x12345u);
  EXPECT_EQ(main_.calls.back().data, (Bytes{77, 0, 0, 0}));
  EXPECT_EQ(bs->chunksize(bs), 4096u);
  ASSERT_EQ(bs->split(bs), 0);
  EXPECT_EQ(main_.splits, 1);
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 0), 0);
}

TEST_F(IndexWriterTest, ARefusedIndexWriteIsReported) {
  bufstream* bs = open_bufstream_write_with_index(main_.get(), nullptr, video_.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  video_.refuse = true;
  Bytes h = pattern(254, 1, 13);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_HEADER, h.data(), 254), -1);
  Bytes r = record(32, 0, 1);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, r.data(), 16), -1);  // short
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, r.data(), 32), 0);   // pending
  EXPECT_EQ(close_bufstream_write_with_index(&bs, 0), -1);
}

TEST_F(IndexWriterTest, ConstructorMessages) {
  messages.clear();
  EXPECT_EQ(open_bufstream_write_with_index(nullptr, audio_.get(), video_.get(), collect), nullptr);
  EXPECT_EQ(messages, std::vector<std::string>{"No main stream buffer ."});
  bufstream record{};
  EXPECT_EQ(init_bufstream_write_with_index(&record, main_.get(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(record.free, nullptr);
  EXPECT_EQ(record.done(&record, 0), 0);
}

// ---- null stream ----

TEST(NullStream, CountsAndDiscards) {
  bufstream* bs = open_null_buf_write(1024, nullptr);
  ASSERT_NE(bs, nullptr);
  EXPECT_EQ(bs->flags, 1u);
  EXPECT_EQ(bs->usable_bytes(bs), 1024u);
  EXPECT_EQ(bs->chunksize(bs), 1024u);
  std::uint8_t* area = bs->request(bs, 1024);
  ASSERT_NE(area, nullptr);
  std::memset(area, 1, 1024);
  EXPECT_EQ(bs->request(bs, 1025), nullptr);
  EXPECT_EQ(bs->confirm(bs, 1000), 1000u);
  EXPECT_EQ(put(bs, pattern(70000, 1, 13)), 70000u);
  EXPECT_EQ(bs->split(bs), 0);
  std::uint64_t count = 0;
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_COUNT, &count, 8), 0);
  EXPECT_EQ(count, 71000u);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_COUNT, &count, 4), -1);
  EXPECT_EQ(bs->auxinfo(bs, 0, 0x4444, nullptr, 0), 0);
  EXPECT_EQ(close_null_buf(&bs, 0), 0);
  EXPECT_EQ(bs, nullptr);
}

// ---- patch stream ----

class PatchStream : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("out.bin");
    main_ = open_file_buf_write(path_.c_str(), 256, nullptr);
    ASSERT_NE(main_, nullptr);
    ASSERT_EQ(put(main_, original_), original_.size());
    patch_ = bseek_open_file_buf(main_, nullptr);
    ASSERT_NE(patch_, nullptr);
  }
  void TearDown() override {
    close_file_buf(&main_, 0);
    bseek_close_file_buf(&patch_, 1);
  }
  std::int32_t queue(std::uint64_t offset, Bytes bytes) {
    bufstream_patch p{offset, bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    return patch_->auxinfo(patch_, 0, BUFSTREAM_AUX_PATCH, &p, sizeof p);
  }

  TempDir dir_;
  std::string path_;
  Bytes original_ = pattern(1000, 3, 13);
  bufstream* main_ = nullptr;
  bufstream* patch_ = nullptr;
};

TEST_F(PatchStream, WritesThePatchesInOrderIntoTheFinishedFile) {
  ASSERT_EQ(queue(10, {1, 2, 3}), 0);
  ASSERT_EQ(queue(11, {9}), 0);  // later patches win
  ASSERT_EQ(queue(998, {7, 7}), 0);
  ASSERT_EQ(close_file_buf(&main_, 0), 0);
  EXPECT_EQ(bseek_close_file_buf(&patch_, 0), 0);
  Bytes expected = original_;
  expected[10] = 1;
  expected[11] = 9;
  expected[12] = 3;
  expected[998] = expected[999] = 7;
  EXPECT_EQ(readFile(path_), expected);
}

TEST_F(PatchStream, AbortWritesNothing) {
  ASSERT_EQ(queue(0, {0, 0, 0}), 0);
  ASSERT_EQ(close_file_buf(&main_, 0), 0);
  EXPECT_EQ(bseek_close_file_buf(&patch_, 1), 0);
  EXPECT_EQ(readFile(path_), original_);
}

TEST_F(PatchStream, ARecordOfAnotherSizeIsNotAPatch) {
  Bytes bytes = {5};
  bufstream_patch p{0, bytes.data(), 1};
  EXPECT_EQ(patch_->auxinfo(patch_, 0, BUFSTREAM_AUX_PATCH, &p, 16), 0);  // passed on, ignored
  ASSERT_EQ(close_file_buf(&main_, 0), 0);
  EXPECT_EQ(bseek_close_file_buf(&patch_, 0), 0);
  EXPECT_EQ(readFile(path_), original_);
}

TEST_F(PatchStream, AFileThatCannotBeOpenedIsReported) {
  ASSERT_EQ(queue(0, {1}), 0);
  ASSERT_EQ(close_file_buf(&main_, 0), 0);
  if (::geteuid() != 0) {
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read);
    EXPECT_EQ(bseek_close_file_buf(&patch_, 0), -1);
    return;
  }
  // Root opens read-only files for writing: a file that has gone stands in.
  std::filesystem::remove(path_);
  EXPECT_EQ(bseek_close_file_buf(&patch_, 0), -1);
  EXPECT_FALSE(std::filesystem::exists(path_));  // never created
}

TEST_F(PatchStream, AShortWriteIsReported) {
  ASSERT_EQ(queue(4096, Bytes(8192, 1)), 0);
  ASSERT_EQ(close_file_buf(&main_, 0), 0);
  // A file-size limit makes the write stop early, whoever runs the test.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 8192;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = bseek_close_file_buf(&patch_, 0);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
}

TEST(PatchStreamOpen, NeedsAFileName) {
  RecordingStream nameless;
  messages.clear();
  EXPECT_EQ(bseek_open_file_buf(nameless.get(), collect), nullptr);
  EXPECT_EQ(bseek_open_file_buf(nullptr, collect), nullptr);
  EXPECT_EQ(messages, (std::vector<std::string>{"Unable to get filename from main bufstream.",
                                                "No main stream buffer ."}));
  bufstream* fifoForm = bseek_open_fifo_buf(nameless.get(), nullptr);
  ASSERT_NE(fifoForm, nullptr);
  EXPECT_EQ(bseek_close_fifo_buf(&fifoForm, 0), 0);  // nothing queued, nothing lost
  fifoForm = bseek_open_fifo_buf(nameless.get(), nullptr);
  Bytes bytes = {1};
  bufstream_patch p{0, bytes.data(), 1};
  ASSERT_EQ(fifoForm->auxinfo(fifoForm, 0, BUFSTREAM_AUX_PATCH, &p, sizeof p), 0);
  EXPECT_EQ(bseek_close_fifo_buf(&fifoForm, 0), -1);  // a queued patch had nowhere to go
}

// ---- metadata storage ----

TEST(MetadataStorage, SideFilesPerChannel) {
  TempDir dir;
  const std::string base = dir.file("movie");
  metadata_storage* md = new_metadata_file(base.c_str());
  ASSERT_NE(md, nullptr);
  Bytes block = pattern(100, 4, 13);
  for (std::uint32_t channel : {0u, 7u}) {
    ASSERT_EQ(auxinfo_metadata_file(md, channel, BUFSTREAM_AUX_MD_OPEN_WRITE, nullptr, 0), 0);
    EXPECT_EQ(auxinfo_metadata_file(md, channel, BUFSTREAM_AUX_MD_OPEN_WRITE, nullptr, 0), -1);
    ASSERT_EQ(auxinfo_metadata_file(md, channel, BUFSTREAM_AUX_MD_WRITE, block.data(), 100), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(auxinfo_metadata_file(md, channel, BUFSTREAM_AUX_MD_SIZE, &size, 8), 0);
    EXPECT_EQ(size, 100u);
    ASSERT_EQ(auxinfo_metadata_file(md, channel, BUFSTREAM_AUX_MD_CLOSE, nullptr, 0), 0);
    EXPECT_EQ(readFile(base + ".md" + std::to_string(channel)), block);
  }
  Bytes back(60);
  ASSERT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_OPEN_READ, nullptr, 0), 0);
  ASSERT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_READ, back.data(), 60), 0);
  EXPECT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_READ, back.data(), 60), -1);  // 40 left
  ASSERT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_REWIND, nullptr, 0), 0);
  ASSERT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_READ, back.data(), 60), 0);
  EXPECT_EQ(back, Bytes(block.begin(), block.begin() + 60));
  EXPECT_EQ(auxinfo_metadata_file(md, 7, BUFSTREAM_AUX_MD_EMPTY, nullptr, 0), -1);  // open
  // Refusals: channel 8, operations on a closed side file, ids without a wrapped stream.
  EXPECT_EQ(auxinfo_metadata_file(md, 8, BUFSTREAM_AUX_MD_OPEN_WRITE, nullptr, 0), -1);
  EXPECT_FALSE(std::filesystem::exists(base + ".md8"));
  EXPECT_EQ(auxinfo_metadata_file(md, 3, BUFSTREAM_AUX_MD_WRITE, block.data(), 10), -1);
  EXPECT_EQ(auxinfo_metadata_file(md, 3, BUFSTREAM_AUX_MD_REWIND, nullptr, 0), -1);
  std::uint64_t size = 0;
  EXPECT_EQ(auxinfo_metadata_file(md, 3, BUFSTREAM_AUX_MD_SIZE, &size, 8), -1);
  EXPECT_EQ(auxinfo_metadata_file(md, 0, 0x777, nullptr, 0), -1);
  // Emptying channel 0 marks every side file to be emptied at the end.
  ASSERT_EQ(auxinfo_metadata_file(md, 0, BUFSTREAM_AUX_MD_EMPTY, nullptr, 0), 0);
  EXPECT_EQ(std::filesystem::file_size(base + ".md0"), 0u);
  EXPECT_EQ(done_metadata_file(md, 0), 0);
  EXPECT_EQ(std::filesystem::file_size(base + ".md7"), 0u);
  free_metadata_file(md);
}

TEST(MetadataStorage, RefusesBadBaseNames) {
  EXPECT_EQ(new_metadata_file(nullptr), nullptr);
  EXPECT_EQ(new_metadata_file(""), nullptr);
  EXPECT_EQ(new_metadata_file(std::string(2048, 'a').c_str()), nullptr);
  metadata_storage* md = new_metadata_file(std::string(2047, 'a').c_str());
  ASSERT_NE(md, nullptr);
  free_metadata_file(md);
}

int previousDriveCalls = 0;
bufstream* previousDriveStream = nullptr;
int previousDrive(bufstream* bs) {
  ++previousDriveCalls;
  previousDriveStream = bs;
  return 5;
}

TEST(MetadataStorage, FilterStandsInFrontOfItsMainStream) {
  TempDir dir;
  auto* main = new RecordingStream;
  main->get()->flags = 1;
  main->get()->drive = reinterpret_cast<void*>(previousDrive);
  metadata_storage* md = new_metadata_file(dir.file("m").c_str());
  ASSERT_NE(md, nullptr);
  ASSERT_EQ(init_metadata_filter(md, main->get()), 0);
  bufstream* bs = &md->stream;
  EXPECT_EQ(bs->flags, 1u);
  ASSERT_EQ(put(bs, pattern(10, 1, 13)), 10u);
  EXPECT_EQ(main->bytes, pattern(10, 1, 13));
  std::uint32_t word = 3;
  ASSERT_EQ(bs->auxinfo(bs, 6, 0x999, &word, 4), 0);
  EXPECT_EQ(main->calls.back().offset, 6u);  // the channel travels as the offset
  EXPECT_EQ(bs->auxinfo(bs, 8, BUFSTREAM_AUX_MD_OPEN_WRITE, nullptr, 0), -1);
  // The main stream's drive now runs the drive installed before, with the storage.
  EXPECT_EQ(main->get()->drive_chain, bs);
  const auto drive = reinterpret_cast<bufstream_drive_fn>(main->get()->drive);
  EXPECT_EQ(drive(main->get()), 5);
  EXPECT_EQ(previousDriveCalls, 1);
  EXPECT_EQ(previousDriveStream, bs);
  EXPECT_EQ(done_metadata_file(md, 0), 0);
  free_metadata_file(md);
  delete main;
}

}  // namespace
