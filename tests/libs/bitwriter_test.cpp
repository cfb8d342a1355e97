// SPDX-License-Identifier: GPL-2.0-or-later
#include "bitwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using quillion::mpeg::BitWriter;

// A writer stream that keeps what is confirmed and logs every call.
struct RecordingStream {
  bufstream bs{};
  std::uint32_t chunk = 64;
  std::vector<std::uint8_t> area;
  std::vector<std::uint8_t> committed;
  int requests = 0;
  int refuseFrom = 1 << 30;  // requests from this one on get null
  std::vector<std::uint32_t> confirms;
  std::vector<std::uint32_t> notices;

  static RecordingStream& of(bufstream* b) { return *reinterpret_cast<RecordingStream*>(b); }

  explicit RecordingStream(std::uint32_t chunkSize) : chunk(chunkSize), area(chunkSize) {
    bs.chunksize = [](bufstream* b) { return of(b).chunk; };
    bs.request = [](bufstream* b, std::uint32_t n) -> std::uint8_t* {
      RecordingStream& s = of(b);
      if (n > s.chunk || s.requests++ >= s.refuseFrom) return nullptr;
      return s.area.data();
    };
    bs.confirm = [](bufstream* b, std::uint32_t n) {
      RecordingStream& s = of(b);
      s.confirms.push_back(n);
      s.committed.insert(s.committed.end(), s.area.begin(), s.area.begin() + n);
      return n;
    };
    bs.auxinfo = [](bufstream* b, std::uint32_t, std::uint32_t id, void*, std::uint32_t) {
      of(b).notices.push_back(id);
      return std::int32_t{0};
    };
  }
};
static_assert(offsetof(RecordingStream, bs) == 0);

TEST(BitWriter, BitsGoMostSignificantFirstAndAlignPadsWithZeros) {
  RecordingStream s(64);
  BitWriter w;
  w.bind(&s.bs);
  w.putBits(0b101, 3);
  EXPECT_EQ(s.requests, 0) << "no chunk before the first byte completes";
  w.align();
  EXPECT_EQ(w.totalBits(), 8u);
  EXPECT_EQ(s.requests, 1);
  w.putBits(0x1234, 16);
  w.putBits(7, 0);
  w.putBits(7, -3);
  EXPECT_EQ(w.totalBits(), 24u) << "n <= 0 adds nothing, not even to the count";
  w.close();
  EXPECT_EQ(s.committed, (std::vector<std::uint8_t>{0xA0, 0x12, 0x34}));
  EXPECT_EQ(w.state(), BitWriter::kGood);
}

TEST(BitWriter, OneByteChunksAreConfirmedByteByByte) {
  RecordingStream s(1);
  BitWriter w;
  w.bind(&s.bs);
  w.putBits(0xABCD, 16);
  w.putBits(0xE, 4);
  w.close();
  EXPECT_EQ(s.committed, (std::vector<std::uint8_t>{0xAB, 0xCD})) << "a part byte is not stored";
  EXPECT_EQ(s.confirms, (std::vector<std::uint32_t>{1, 1}));
}

TEST(BitWriter, FrameNoticesSurroundEachFrameAndEachFrameIsConfirmedAlone) {
  RecordingStream s(16);
  BitWriter w;
  w.bind(&s.bs);
  std::uint8_t header[48] = {};
  std::uint8_t record[12] = {};
  for (int frame = 0; frame < 2; ++frame) {
    w.writeHeader(0xFFFD1234u, header);
    w.putBits(1, 1);
    w.endAudioFrame(record);
  }
  w.close();
  EXPECT_EQ(s.notices,
            (std::vector<std::uint32_t>{BitWriter::kHeaderNotice, BitWriter::kAudioFrameNotice,
                                        BitWriter::kHeaderNotice, BitWriter::kAudioFrameNotice}));
  EXPECT_EQ(s.confirms, (std::vector<std::uint32_t>{5, 5}));
  EXPECT_EQ(s.committed, (std::vector<std::uint8_t>{0xFF, 0xFD, 0x12, 0x34, 0x80, 0xFF, 0xFD, 0x12,
                                                    0x34, 0x80}));
}

TEST(BitWriter, RefusedChunkKeepsCountingButStoresAndConfirmsNothing) {
  RecordingStream s(2);
  s.refuseFrom = 1;  // the first chunk is given, the second refused
  BitWriter w;
  w.bind(&s.bs);
  w.putBits(0xAABB, 16);
  EXPECT_EQ(w.state(), BitWriter::kWriteFailed);
  w.putBits(0xCCDD, 16);
  EXPECT_EQ(w.totalBits(), 32u);
  EXPECT_NE(w.reserve(1), BitWriter::kGood);
  w.close();
  EXPECT_EQ(s.confirms, (std::vector<std::uint32_t>{2})) << "only the chunk filled before";
  EXPECT_EQ(w.state(), BitWriter::kWriteFailed) << "the failure is sticky";
}

}  // namespace
