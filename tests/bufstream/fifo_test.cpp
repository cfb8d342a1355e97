// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bufstream.h"

namespace {

struct FifoPair {
  explicit FifoPair(std::uint32_t size, std::uint32_t chunk, std::uint32_t element = 1)
      : writer(new_fifo_buf_elements(size, chunk, element)),
        reader(writer ? writer + 1 : nullptr) {}
  ~FifoPair() { free_fifo_buf(writer); }
  bufstream* writer;
  bufstream* reader;
};

TEST(Fifo, ChunkSizeIsOneBelowTheChunkAndBoundsRequests) {
  FifoPair fifo(0x200000, 4097);
  ASSERT_NE(fifo.writer, nullptr);
  EXPECT_EQ(fifo.writer->chunksize(fifo.writer), 4096u);
  EXPECT_EQ(fifo.reader->chunksize(fifo.reader), 4096u);
  EXPECT_EQ(fifo.writer->flags, 1u);
  EXPECT_EQ(fifo.reader->flags, 0u);
  EXPECT_EQ(fifo.writer->split, nullptr);
  EXPECT_EQ(fifo.writer->free, nullptr);
  EXPECT_EQ(fifo.writer->drive_chain, nullptr);
  EXPECT_NE(fifo.writer->request(fifo.writer, 4096), nullptr);
  EXPECT_EQ(new_fifo_buf(100, 101), nullptr);
  free_fifo_buf(nullptr);
}

TEST(Fifo, FullRingNeverReadsAsEmpty) {
  FifoPair fifo(16, 5);
  std::vector<std::uint8_t> in(20);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i + 1);
  // Move the indexes off the ring start first, so that the fill wraps round the end.
  ASSERT_EQ(fifo.writer->copybytes(fifo.writer, in.data(), 7), 7u);
  std::vector<std::uint8_t> out(20);
  ASSERT_EQ(fifo.reader->copybytes(fifo.reader, out.data(), 7), 7u);

  EXPECT_EQ(fifo.writer->copybytes(fifo.writer, in.data(), 20), 15u) << "one element stays free";
  EXPECT_EQ(fifo.writer->usable_bytes(fifo.writer), 0u);
  EXPECT_EQ(fifo.reader->usable_bytes(fifo.reader), 15u);
  EXPECT_EQ(fifo.writer->request(fifo.writer, 1), nullptr);
  EXPECT_EQ(fifo.writer->copybytes(fifo.writer, in.data(), 1), 0u);
  ASSERT_EQ(fifo.reader->copybytes(fifo.reader, out.data(), 15), 15u);
  EXPECT_EQ(0, std::memcmp(out.data(), in.data(), 15));
  EXPECT_EQ(fifo.reader->usable_bytes(fifo.reader), 0u);
  EXPECT_EQ(fifo.writer->usable_bytes(fifo.writer), 15u);
}

// Writes and reads with every area size up to the chunk size, so that areas straddle the
// ring's end on both sides in many phases; the byte sequence must come through unchanged.
TEST(Fifo, AreasAcrossTheRingEndKeepTheByteOrder) {
  for (std::uint32_t ring : {17u, 64u, 257u}) {
    FifoPair fifo(ring, 9);  // chunk size 8
    std::uint8_t nextIn = 0;
    std::uint8_t nextOut = 0;
    std::uint64_t moved = 0;
    for (std::uint32_t step = 0; step < 3000; ++step) {
      const std::uint32_t w = 1 + step % 8;
      if (std::uint8_t* area = fifo.writer->request(fifo.writer, w)) {
        for (std::uint32_t i = 0; i < w; ++i) area[i] = nextIn++;
        ASSERT_EQ(fifo.writer->confirm(fifo.writer, w), w);
      }
      const std::uint32_t r = 1 + (step * 5) % 8;
      if (const std::uint8_t* area = fifo.reader->request(fifo.reader, r)) {
        for (std::uint32_t i = 0; i < r; ++i) ASSERT_EQ(area[i], nextOut++) << "ring " << ring;
        ASSERT_EQ(fifo.reader->confirm(fifo.reader, r), r);
        moved += r;
      }
      ASSERT_EQ(fifo.writer->usable_bytes(fifo.writer) + fifo.reader->usable_bytes(fifo.reader),
                ring - 1);
    }
    EXPECT_GT(moved, 4u * ring) << "the ring wrapped several times";
  }
}

TEST(Fifo, ReaderCopyIsWholeOrNothingAndSpansTheEnd) {
  FifoPair fifo(8, 3);
  std::uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
  std::uint8_t out[7] = {};
  ASSERT_EQ(fifo.writer->copybytes(fifo.writer, bytes, 6), 6u);
  ASSERT_EQ(fifo.reader->copybytes(fifo.reader, out, 5), 5u);
  ASSERT_EQ(fifo.writer->copybytes(fifo.writer, bytes, 6), 6u);  // wraps
  EXPECT_EQ(fifo.reader->copybytes(fifo.reader, out, 8), 0u) << "only 7 queued";
  ASSERT_EQ(fifo.reader->copybytes(fifo.reader, out, 7), 7u);
  const std::uint8_t expected[7] = {6, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(0, std::memcmp(out, expected, 7));
}

struct Notice {
  bufstream* stream = nullptr;
  std::uint32_t offset = 0;
  std::uint32_t id = 0;
  void* data = nullptr;
  std::uint32_t size = 0;
};
Notice lastNotice;

std::int32_t consumer(bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                      std::uint32_t size) {
  lastNotice = {bs, offset, id, data, size};
  return 7;
}

TEST(Fifo, WriterNoticesReachTheConsumerOfTheReader) {
  FifoPair fifo(1024, 513);
  std::uint32_t record[3] = {731, 0, 0};
  EXPECT_EQ(fifo.writer->auxinfo(fifo.writer, 5, 0xF0002, record, 12), 0)
      << "a reader nobody consumes answers 0";
  fifo.reader->auxinfo = consumer;
  EXPECT_EQ(fifo.writer->auxinfo(fifo.writer, 5, 0xF0002, record, 12), 7);
  EXPECT_EQ(lastNotice.stream, fifo.reader);
  EXPECT_EQ(lastNotice.offset, 5u);
  EXPECT_EQ(lastNotice.id, 0xF0002u);
  EXPECT_EQ(lastNotice.data, record);
  EXPECT_EQ(lastNotice.size, 12u);
}

TEST(Fifo, EightBitAudioBecomesSigned16) {
  FifoPair fifo(4, 1, 2);
  const std::uint8_t samples[4] = {0, 128, 255, 1};
  EXPECT_EQ(fifo_w_audio_put_8to16(fifo.writer, samples, 4), 3u) << "3 of 4 elements usable";
  std::int16_t out[3] = {};
  ASSERT_EQ(fifo.reader->copybytes(fifo.reader, reinterpret_cast<std::uint8_t*>(out), 3), 3u);
  EXPECT_EQ(out[0], -32768);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 32512);
  FifoPair bytes(4, 1);
  EXPECT_EQ(fifo_w_audio_put_8to16(bytes.writer, samples, 1), 0u) << "needs 2-byte elements";
}

// A request still open when a put runs must not be committed by a later confirm: at the wrap
// point that confirm once copied gigabytes, elsewhere it overwrote the put's samples.
TEST(Fifo, PutClosesAnOpenWriterRequest) {
  struct Case {
    std::uint32_t fillFirst;  // elements written and read before the request
    const char* where;
  };
  for (const Case c : {Case{0, "request at the ring start"}, Case{2, "request inside the ring"},
                       Case{8, "request across the end"}}) {
    SCOPED_TRACE(c.where);
    FifoPair fifo(10, 4, 2);
    std::vector<std::uint8_t> scratch(2 * c.fillFirst);
    ASSERT_EQ(fifo.writer->copybytes(fifo.writer, scratch.data(), c.fillFirst), c.fillFirst);
    ASSERT_EQ(fifo.reader->copybytes(fifo.reader, scratch.data(), c.fillFirst), c.fillFirst);
    ASSERT_NE(fifo.writer->request(fifo.writer, 3), nullptr);
    const std::uint8_t samples[2] = {129, 130};
    ASSERT_EQ(fifo_w_audio_put_8to16(fifo.writer, samples, 2), 2u);
    EXPECT_EQ(fifo.writer->confirm(fifo.writer, 3), 0u) << "the request was closed by the put";
    ASSERT_EQ(fifo.reader->usable_bytes(fifo.reader), 2u);
    std::int16_t out[2] = {};
    ASSERT_EQ(fifo.reader->copybytes(fifo.reader, reinterpret_cast<std::uint8_t*>(out), 2), 2u);
    EXPECT_EQ(out[0], 256);
    EXPECT_EQ(out[1], 512);
  }
}

}  // namespace
