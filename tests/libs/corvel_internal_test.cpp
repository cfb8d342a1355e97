// SPDX-License-Identifier: GPL-2.0-or-later
// Corvel's building blocks, compiled in beside the tests: the bit reader, the buffer model,
// time fields, the index reorder buffer, the stream map's CRC and the unit readers over
// hand-made streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bit_reader.h"
#include "bufstream.h"
#include "mpeg_crc32.h"
#include "h264.h"
#include "index_records.h"
#include "pes.h"
#include "queue_buffer.h"
#include "scan_offsets.h"
#include "services.h"
#include "stream_headers.h"
#include "unit_readers.h"

namespace quillion::corvel {
namespace {

TEST(CorvelBitReader, DropsEmulationPreventionBytes) {
  const std::uint8_t bytes[] = {0x00, 0x00, 0x03, 0x01};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.bits(24), 0x000001u);
  EXPECT_FALSE(r.ended());
  EXPECT_EQ(r.bit(), 0u);
  EXPECT_TRUE(r.ended());
}

TEST(CorvelBitReader, ExpGolombCodes) {
  // 1 010 011 00100 00101 0001000 then padding: ue 0 1 2 3 4 7 as unsigned, the same as se.
  const std::uint8_t bytes[] = {0b10100110, 0b01000010, 0b10001000, 0b00000000};
  BitReader u(bytes, sizeof bytes);
  for (std::uint32_t expected : {0u, 1u, 2u, 3u, 4u, 7u}) EXPECT_EQ(u.ue(), expected);
  BitReader s(bytes, sizeof bytes);
  for (std::int32_t expected : {0, 1, -1, 2, -2, 4}) EXPECT_EQ(s.se(), expected);
}

TEST(CorvelBitReader, ShortBufferEndsWithoutReadingPast) {
  const std::uint8_t bytes[] = {0xA5};
  BitReader r(bytes, 1);
  EXPECT_EQ(r.bits(8), 0xA5u);
  EXPECT_EQ(r.ue(), 0u);
  EXPECT_TRUE(r.ended());
}

class CorvelQueue : public ::testing::Test {
 protected:
  mpeg::Services services = mpeg::Services::resolve(nullptr);
  QueueBuffer q;
};

TEST_F(CorvelQueue, MergesEqualTimesAndRemovesInOrder) {
  ASSERT_EQ(q.create(1000, services), 0);
  EXPECT_EQ(q.add(100, 5), 0);
  EXPECT_EQ(q.add(100, 5), 0);
  EXPECT_EQ(q.entryCount(), 1);
  EXPECT_EQ(q.level(), 200);
  EXPECT_EQ(q.add(50, 9), 0);
  q.removeUntil(4);  // earlier than the oldest: nothing leaves
  EXPECT_EQ(q.level(), 250);
  q.removeUntil(5);
  EXPECT_EQ(q.level(), 50);
  EXPECT_EQ(q.freeSpace(), 950);
}

TEST_F(CorvelQueue, OverflowFlagFollowsTheLevel) {
  ASSERT_EQ(q.create(1000, services), 0);
  EXPECT_EQ(q.add(1, 1), 0);
  EXPECT_EQ(q.add(999, 2), 0);
  EXPECT_TRUE(q.overflow());
  EXPECT_EQ(q.freeSpace(), 0);
  q.removeUntil(1);
  EXPECT_FALSE(q.overflow());
  EXPECT_EQ(q.freeSpace(), 1);
}

TEST_F(CorvelQueue, RingHoldsEightThousandOneHundredNinetyOneEntries) {
  ASSERT_EQ(q.create(1 << 30, services), 0);
  for (std::uint64_t t = 0; t < 8191; ++t) ASSERT_EQ(q.add(1, t), 0) << t;
  EXPECT_TRUE(q.full());
  EXPECT_EQ(q.add(1, 9000), 16);
  EXPECT_EQ(q.add(1, 77), 0);  // an existing time still merges
  q.removeUntil(0);
  EXPECT_FALSE(q.full());
  EXPECT_EQ(q.add(1, 9000), 0);
}

TEST(CorvelTimeFields, RoundTripAndMarkers) {
  struct Row {
    std::uint64_t ticks;
    bool mpeg1;
    std::uint64_t expected90k;
  };
  const Row rows[] = {{0, false, 0},
                      {300, false, 1},
                      {599, false, 1},
                      {598, true, 2},
                      {(std::uint64_t{1} << 33) * 300 - 300, false, (std::uint64_t{1} << 33) - 1}};
  for (const Row& r : rows) {
    std::uint8_t b[5];
    encodeTime(b, r.ticks, kMarkerPtsBeforeDts, r.mpeg1);
    EXPECT_EQ(b[0] >> 4, 3);
    EXPECT_EQ(b[0] & 1, 1);
    EXPECT_EQ(b[2] & 1, 1);
    EXPECT_EQ(b[4] & 1, 1);
    EXPECT_EQ(decodeTime(b), r.expected90k) << r.ticks;
  }
  std::uint8_t scr[6];
  encodeScrMpeg2(scr, 300 * 0x123456789ull % (300ull << 33) + 299);
  EXPECT_EQ(scr[0] & 0xC4, 0x44);
  EXPECT_EQ(((scr[4] & 3) << 7) | (scr[5] >> 1), 299);
}

TEST(CorvelTimeFields, SectorTimeInBcd) {
  std::uint8_t b[3];
  encodeSectorTime(b, 4575);
  EXPECT_EQ(std::vector<std::uint8_t>(b, b + 3), (std::vector<std::uint8_t>{0x01, 0x81, 0x80}));
  encodeSectorTime(b, 75 * 59 + 74);
  EXPECT_EQ(std::vector<std::uint8_t>(b, b + 3), (std::vector<std::uint8_t>{0x00, 0xD9, 0xF4}));
}

TEST(CorvelCrc, MatchesTheSystemsCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(quillion::mpeg::mpegCrc32(reinterpret_cast<const std::uint8_t*>(text), 9), 0x0376E6E7u);
  // A section with its CRC appended checks to zero.
  std::uint8_t section[13] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x03, 0x76, 0xE6, 0xE7};
  EXPECT_EQ(quillion::mpeg::mpegCrc32(section, sizeof section), 0u);
}

// Collects what a stream receives through its notices.
struct NoticeSink {
  bufstream stream{};
  std::vector<VauInfo> records;
  NoticeSink() {
    stream.drive_chain = this;
    stream.auxinfo = [](bufstream* bs, std::uint32_t, std::uint32_t id, void* data,
                        std::uint32_t size) -> std::int32_t {
      if (id == kVideoIndexEntryNotice && size == kVauInfoSize) {
        static_cast<NoticeSink*>(bs->drive_chain)
            ->records.push_back(decodeVauInfo(static_cast<const std::uint8_t*>(data)));
      }
      return 0;
    };
  }
};

std::vector<std::uint32_t> displayOrder(const std::vector<VauInfo>& records) {
  std::vector<std::uint32_t> out;
  for (const VauInfo& r : records) out.push_back(r.displayNumber);
  return out;
}

TEST(CorvelIndexRecords, LeaveInDisplayOrderWhateverTheReordering) {
  struct Picture {
    std::uint8_t type;
    std::uint32_t display;
  };
  // Coding orders: plain B pictures, and a pyramid where B pictures reference B pictures.
  const std::vector<std::vector<Picture>> orders = {
      {{1, 0}, {2, 3}, {3, 1}, {3, 2}, {2, 6}, {3, 4}, {3, 5}},
      {{1, 0}, {2, 8}, {3, 4}, {3, 2}, {3, 1}, {3, 3}, {3, 6}, {3, 5}, {3, 7}},
  };
  for (const auto& order : orders) {
    NoticeSink sink;
    IndexReorder reorder;
    std::uint32_t decode = 0;
    for (const Picture& p : order) {
      VauInfo v;
      v.pictureType = p.type;
      v.displayNumber = p.display;
      v.decodeNumber = decode++;
      ASSERT_TRUE(reorder.add(v, &sink.stream));
    }
    ASSERT_TRUE(reorder.flush(&sink.stream));
    std::vector<std::uint32_t> expected(order.size());
    for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = i;
    EXPECT_EQ(displayOrder(sink.records), expected);
  }
}

TEST(CorvelIndexRecords, ReferenceEntriesPointAtAnchors) {
  NoticeSink sink;
  IndexReorder reorder;
  const std::pair<std::uint8_t, std::uint32_t> order[] = {{1, 0}, {2, 3}, {3, 1}, {2, 6}, {3, 4}};
  for (const auto& [type, display] : order) {
    VauInfo v;
    v.pictureType = type;
    v.displayNumber = display;
    ASSERT_TRUE(reorder.add(v, &sink.stream));
  }
  ASSERT_TRUE(reorder.flush(&sink.stream));
  ASSERT_EQ(sink.records.size(), 5u);
  // In display order: I0 (-1), B1 (I0, the anchor before the last), P3 (I0), B4 (P3), P6 (P3).
  const std::int32_t expected[] = {-1, 0, 0, 3, 3};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(sink.records[i].reference, expected[i]) << i;
}

// A fifo that holds the whole stream, for the readers.
struct MemoryStream {
  explicit MemoryStream(const std::vector<std::uint8_t>& bytes)
      : writer(new_fifo_buf(static_cast<std::uint32_t>(bytes.size() + 70000), 65537)) {
    reader = writer + 1;
    if (!bytes.empty()) {
      EXPECT_EQ(writer->copybytes(writer, const_cast<std::uint8_t*>(bytes.data()),
                                  static_cast<std::uint32_t>(bytes.size())),
                bytes.size());
    }
  }
  ~MemoryStream() { free_fifo_buf(writer); }
  bufstream* writer;
  bufstream* reader;
};

std::vector<std::uint8_t> mpeg1Picture(std::uint32_t temporalReference, std::uint8_t type,
                                       std::size_t body) {
  std::vector<std::uint8_t> p = {0,
                                 0,
                                 1,
                                 0x00,
                                 static_cast<std::uint8_t>(temporalReference >> 2),
                                 static_cast<std::uint8_t>((temporalReference << 6) | (type << 3)),
                                 0xFF,
                                 0xF8,
                                 0,
                                 0,
                                 1,
                                 0x01};
  p.insert(p.end(), body, 0x55);
  return p;
}

std::vector<std::uint8_t> mpeg1Stream(bool withEnd) {
  // 352x288, 25 Hz, 1,150,000 bit/s, VBV 20, then a group and I P B pictures.
  std::vector<std::uint8_t> s = {0,    0,    1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0x02, 0xCE,
                                 0xE0, 0xA0, 0, 0,    1,    0xB8, 0x00, 0x08, 0x00, 0x40};
  for (const auto& pic : {mpeg1Picture(0, 1, 100), mpeg1Picture(2, 2, 50), mpeg1Picture(1, 3, 20)})
    s.insert(s.end(), pic.begin(), pic.end());
  if (withEnd) s.insert(s.end(), {0, 0, 1, 0xB7});
  return s;
}

TEST(CorvelUnitReaders, Mpeg1PicturesWithTheirTimes) {
  const auto bytes = mpeg1Stream(true);
  MemoryStream es(bytes);
  VideoFacts facts;
  ASSERT_EQ(analyseVideoHeader(es.reader, 512, 0, facts), 0);
  EXPECT_EQ(facts.coding, VideoCoding::mpeg1);
  EXPECT_EQ(facts.bitRate400, 1150000u / 400);
  EXPECT_EQ(facts.framePeriod, 1080000u);
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  VideoUnitReader reader(es.reader, facts, 0, services);
  struct Expected {
    std::uint32_t size, type;
    std::uint64_t dts, pts;
  };
  const Expected expected[] = {{20 + 112, 1, 0, 1080000 * 1},
                               {62, 2, 1080000, 1080000 * 3},
                               {32 + 4, 3, 2160000, 1080000 * 2}};
  std::uint32_t total = 0;
  for (const Expected& e : expected) {
    AccessUnit u;
    ASSERT_EQ(reader.next(u), VideoUnitReader::Result::unit);
    EXPECT_EQ(u.size, e.size);
    EXPECT_EQ(u.pictureType, e.type);
    EXPECT_EQ(u.dts, e.dts);
    EXPECT_EQ(u.pts, e.pts);
    total += u.size;
  }
  EXPECT_EQ(total, bytes.size());
  EXPECT_TRUE(reader.sawSequenceEnd());
  AccessUnit u;
  EXPECT_EQ(reader.next(u), VideoUnitReader::Result::end);
}

std::vector<std::string>& errorTexts() {
  static std::vector<std::string> texts;
  return texts;
}

// The library hands finished lines over as ("%s", text).
void keepError(const char*, ...) __attribute__((format(printf, 1, 2)));
void keepError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  errorTexts().push_back(text);
}

TEST(CorvelUnitReaders, Mpeg2PictureWithoutItsExtensionIsRefused) {
  auto bytes = mpeg1Stream(false);
  // A sequence extension makes the stream MPEG-2; its pictures then need a coding extension.
  const std::vector<std::uint8_t> extension = {0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
  bytes.insert(bytes.begin() + 12, extension.begin(), extension.end());
  MemoryStream es(bytes);
  VideoFacts facts;
  ASSERT_EQ(analyseVideoHeader(es.reader, 512, 0, facts), 0);
  EXPECT_EQ(facts.coding, VideoCoding::mpeg2);
  errorTexts().clear();
  const mpeg::Services services = mpeg::Services::resolve([](const char* name) -> void* {
    return std::string(name) == "err_printf" ? reinterpret_cast<void*>(keepError) : nullptr;
  });
  VideoUnitReader reader(es.reader, facts, 3, services);
  AccessUnit u;
  EXPECT_EQ(reader.next(u), VideoUnitReader::Result::broken);
  EXPECT_EQ(errorTexts(),
            std::vector<std::string>{
                "M020:Invalid MPEG2 Video stream, no picture coding extension present"});
}

TEST(CorvelUnitReaders, AudioHeadersAndFrames) {
  struct Row {
    std::vector<std::uint8_t> header;
    std::int32_t coding;
    std::uint32_t frameSize, maxFrameSize, bitRate;
    double duration;
  };
  const Row rows[] = {
      // Layer II, 224 kbit/s, 48 kHz.
      {{0xFF, 0xFD, 0xB4, 0x00}, kAudioLayer2, 672, 673, 224000, 648000},
      // AC-3, 48 kHz, 192 kbit/s (frmsizecod 20), and the same with its byte pairs swapped.
      {{0x0B, 0x77, 0x00, 0x00, 0x14, 0x40, 0x00, 0x00}, kAudioAc3, 768, 770, 192000, 864000},
      {{0x77, 0x0B, 0x00, 0x00, 0x40, 0x14, 0x00, 0x00}, kAudioAc3, 768, 770, 192000, 864000},
      // LPCM header: 16-bit stereo at 48 kHz.
      {{'L', 'P', 'C', 'M', 0x04, 0x80, 0, 0}, kAudioLpcm, 320, 320, 1536000, 45000},
  };
  for (const Row& r : rows) {
    std::vector<std::uint8_t> bytes = r.header;
    bytes.resize(200, 0);
    MemoryStream es(bytes);
    AudioFacts facts;
    ASSERT_EQ(analyseAudioHeader(es.reader, 0, facts), 0);
    EXPECT_EQ(facts.coding, r.coding);
    EXPECT_EQ(facts.frameSize, r.frameSize);
    EXPECT_EQ(facts.maxFrameSize, r.maxFrameSize);
    EXPECT_EQ(facts.bitRate, r.bitRate);
    EXPECT_DOUBLE_EQ(facts.frameDuration, r.duration);
    if (r.coding == kAudioLpcm) {
      // The private-stream header image: sampling, quantisation and channels in byte 5.
      EXPECT_EQ(facts.lpcmHeader[5], 0x01);
      EXPECT_EQ(facts.headerBytes, 8u);
    }
  }
  for (const std::vector<std::uint8_t>& refused : {std::vector<std::uint8_t>{0xFF, 0xF5, 0xB4, 0},
                                                   std::vector<std::uint8_t>{0xFF, 0xFD, 0xF4, 0},
                                                   std::vector<std::uint8_t>{'R', 'I', 'F', 'F'}}) {
    std::vector<std::uint8_t> bytes = refused;
    bytes.resize(100, 0);
    MemoryStream es(bytes);
    AudioFacts facts;
    EXPECT_EQ(analyseAudioHeader(es.reader, 0, facts), 16);
  }
}

TEST(CorvelUnitReaders, LayerTwoFramesFollowThePaddingBit) {
  // 44.1 kHz, 224 kbit/s: 731 bytes, 732 with the padding bit.
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 3; ++i) {
    const bool padded = i == 1;
    std::vector<std::uint8_t> frame(padded ? 732 : 731, 0x11);
    frame[0] = 0xFF;
    frame[1] = 0xFD;
    frame[2] = padded ? 0xB2 : 0xB0;
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  bytes.push_back(0xFF);  // a broken tail ends the input
  MemoryStream es(bytes);
  AudioFacts facts;
  ASSERT_EQ(analyseAudioHeader(es.reader, 0, facts), 0);
  AudioUnitReader reader(es.reader, facts);
  const std::uint32_t sizes[] = {731, 732, 731};
  for (int i = 0; i < 3; ++i) {
    AccessUnit u;
    ASSERT_TRUE(reader.next(u)) << i;
    EXPECT_EQ(u.size, sizes[i]);
    EXPECT_EQ(u.pts, static_cast<std::uint64_t>(std::ceil(i * 31104000.0 / 44.1)));
  }
  AccessUnit u;
  EXPECT_FALSE(reader.next(u));
}

}  // namespace
}  // namespace quillion::corvel

namespace quillion::corvel {
namespace {

// Collects what reaches a stream through copybytes.
struct ByteSink {
  bufstream stream{};
  std::vector<std::uint8_t> bytes;
  ByteSink() {
    stream.drive_chain = this;
    stream.copybytes = [](bufstream* bs, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
      auto& b = static_cast<ByteSink*>(bs->drive_chain)->bytes;
      b.insert(b.end(), p, p + n);
      return n;
    };
  }
};

// A ring too small for the distance between I pictures does not fail the job: the oldest
// picture leaves with what is known (no forward neighbour yet) and nothing is lost.
TEST(CorvelScanOffsets, FullRingCompletesTheOldestPictureAndGoesOn) {
  ByteSink sink;
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  ScanOffsetPatcher patcher;
  ASSERT_TRUE(patcher.create(&sink.stream, services, 1000));
  std::vector<std::uint8_t> expected;
  std::vector<std::size_t> fields;
  for (std::uint32_t picture = 0; picture < 3; ++picture) {
    std::uint8_t sector[400];
    std::memset(sector, static_cast<int>(picture + 1), sizeof sector);
    buildScanBlock(sector + 100);
    ASSERT_TRUE(patcher.write(sector, sizeof sector));
    ASSERT_TRUE(patcher.addPicture(picture * 10, sizeof sector - 106, picture * 27000000ull));
    fields.push_back(expected.size() + 106);
    expected.insert(expected.end(), sector, sector + sizeof sector);
  }
  ASSERT_TRUE(patcher.flush());
  ASSERT_EQ(sink.bytes.size(), expected.size());
  const auto fieldsOf = [&](std::size_t k) {
    return std::vector<std::uint8_t>(
        sink.bytes.begin() + static_cast<std::ptrdiff_t>(fields[k]),
        sink.bytes.begin() + static_cast<std::ptrdiff_t>(fields[k] + 12));
  };
  // Picture 0 left when the ring filled: previous and backward absent, next is picture 1,
  // forward unknown.
  EXPECT_EQ(fieldsOf(0), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x00, 0x80, 0x90, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF}));
  // The last picture has no next one and is its own forward neighbour; with picture 0 gone,
  // the oldest still known (picture 1) stands for the backward one.
  EXPECT_EQ(fieldsOf(2), (std::vector<std::uint8_t>{0x00, 0x80, 0x90, 0xFF, 0xFF, 0xFF, 0x00, 0x80,
                                                    0x90, 0x00, 0x80, 0xA0}));
  // Everything else went out as written.
  for (std::size_t k = 0; k < 3; ++k)
    for (std::size_t i = 0; i < 12; ++i) expected[fields[k] + i] = sink.bytes[fields[k] + i];
  EXPECT_TRUE(sink.bytes == expected);
}

}  // namespace
}  // namespace quillion::corvel

namespace quillion::corvel {
namespace {

// Writes the fields of a hand-made parameter set.
class BitsOut {
 public:
  void put(std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bit((value >> i) & 1);
  }
  void ue(std::uint32_t v) {
    const std::uint64_t code = std::uint64_t{v} + 1;
    int length = 0;
    while ((code >> length) > 1) ++length;
    put(0, length);
    put(static_cast<std::uint32_t>(code), length + 1);
  }
  void se(std::int32_t v) {
    ue(v > 0 ? static_cast<std::uint32_t>(2 * v - 1) : static_cast<std::uint32_t>(-2 * v));
  }
  std::vector<std::uint8_t> finish() {
    bit(1);  // rbsp stop bit
    while (count_ % 8) bit(0);
    return bytes_;
  }

 private:
  void bit(std::uint32_t b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80 >> (count_ % 8)));
    ++count_;
  }
  std::vector<std::uint8_t> bytes_;
  std::size_t count_ = 0;
};

// A High-profile set whose scaling list pushes the VUI far past its first 20 bytes: the
// timing and the HRD behind it are still read.
TEST(CorvelH264, SequenceParameterSetIsReadWhole) {
  BitsOut b;
  b.put(100, 8);  // profile_idc: High
  b.put(0, 8);
  b.put(30, 8);  // level_idc
  b.ue(0);       // seq_parameter_set_id
  b.ue(1);       // chroma_format_idc
  b.ue(0);
  b.ue(0);
  b.put(0, 1);
  b.put(1, 1);  // seq_scaling_matrix_present_flag
  b.put(1, 1);  // the first list is present...
  for (int j = 0; j < 16; ++j) b.se(100);
  b.put(0, 7);  // ...the other seven are not
  b.ue(0);      // log2_max_frame_num_minus4
  b.ue(0);      // pic_order_cnt_type
  b.ue(2);
  b.ue(1);  // max_num_ref_frames
  b.put(0, 1);
  b.ue(19);
  b.ue(14);
  b.put(1, 1);  // frame_mbs_only_flag
  b.put(1, 1);
  b.put(0, 1);  // no cropping
  b.put(1, 1);  // VUI
  b.put(0, 4);  // no aspect ratio, overscan, signal type, chroma location
  b.put(1, 1);  // timing
  b.put(1, 32);
  b.put(50, 32);
  b.put(1, 1);
  b.put(1, 1);  // NAL HRD
  b.ue(0);
  b.put(0, 4);
  b.put(0, 4);
  b.ue(15624);  // 1,000,000 bit/s
  b.ue(31249);  // 500,000 bits
  b.put(1, 1);
  b.put(0, 20);
  b.put(0, 3);
  const std::vector<std::uint8_t> rbsp = b.finish();
  ASSERT_GT(rbsp.size(), 40u);
  H264Sps sps;
  ASSERT_TRUE(parseSps(rbsp.data(), rbsp.size(), sps));
  EXPECT_EQ(sps.profileIdc, 100u);
  EXPECT_EQ(sps.log2MaxPocLsb, 6u);
  EXPECT_TRUE(sps.timingInfo);
  EXPECT_EQ(sps.timeScale, 50u);
  EXPECT_EQ(sps.hrdByteRate, 125000u);
  EXPECT_EQ(sps.hrdCpbBytes, 62500u);
  H264Sps cut;
  EXPECT_FALSE(parseSps(rbsp.data(), 20, cut));
}

TEST(CorvelH264, PictureOrderCountTypesOneAndTwo) {
  H264Sps type2;
  type2.pocType = 2;
  type2.log2MaxFrameNum = 4;
  // IDR, a reference picture, a non-reference one, and frame_num wrapping at 16.
  struct Row {
    std::uint32_t nalType, refIdc, frameNum;
    std::int32_t poc;
  };
  const Row rows2[] = {{5, 3, 0, 0}, {1, 2, 1, 2}, {1, 0, 2, 3}, {1, 2, 15, 30}, {1, 2, 0, 32}};
  PocCounter counter2;
  for (const Row& r : rows2) {
    H264Slice s;
    s.nalUnitType = r.nalType;
    s.nalRefIdc = r.refIdc;
    s.frameNum = r.frameNum;
    EXPECT_EQ(counter2.next(s, type2), r.poc) << r.frameNum;
  }
  H264Sps type1;
  type1.pocType = 1;
  type1.log2MaxFrameNum = 4;
  type1.refFramesInPocCycle = 1;
  type1.offsetForRefFrame[0] = 4;
  type1.offsetForNonRefPic = -2;
  // The non-reference picture counts one frame back and takes the non-reference offset.
  const Row rows1[] = {{5, 3, 0, 0}, {1, 2, 1, 4}, {1, 0, 2, 2}, {1, 2, 2, 8}};
  PocCounter counter1;
  for (const Row& r : rows1) {
    H264Slice s;
    s.nalUnitType = r.nalType;
    s.nalRefIdc = r.refIdc;
    s.frameNum = r.frameNum;
    EXPECT_EQ(counter1.next(s, type1), r.poc) << r.frameNum;
  }
}

TEST(CorvelH264, PrimaryPictureTypesOfSliceSets) {
  // Bits: 0 P, 1 B, 2 I, 3 SP, 4 SI.
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {{0x04, 0},
                                                          {0x05, 1},
                                                          {0x07, 2},
                                                          {0x10, 3},
                                                          {0x18, 4},
                                                          {0x14, 5},
                                                          {0x1D, 6},
                                                          {0x1F, 7},
                                                          // One type alone: the first value
                                                          // that allows it.
                                                          {0x01, 1},
                                                          {0x02, 2},
                                                          {0x08, 4},
                                                          {0x0A, 7}};
  for (const auto& [set, type] : rows) EXPECT_EQ(primaryPicTypeOf(set), type) << set;
}

}  // namespace
}  // namespace quillion::corvel

namespace quillion::corvel {
namespace {

std::vector<std::uint8_t> adtsFrame(std::uint32_t length, std::size_t bytes) {
  // MPEG-4 AAC LC, 48 kHz, stereo, no CRC.
  std::vector<std::uint8_t> f(bytes, 0x21);
  f[0] = 0xFF;
  f[1] = 0xF1;
  f[2] = 0x4C;
  f[3] = static_cast<std::uint8_t>(0x80 | ((length >> 11) & 3));
  f[4] = static_cast<std::uint8_t>(length >> 3);
  f[5] = static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F);
  f[6] = 0xFC;
  return f;
}

TEST(CorvelUnitReaders, AdtsFramesNeedTheCallersRateAndAWholeHeader) {
  std::vector<std::uint8_t> bytes = adtsFrame(300, 300);
  const std::vector<std::uint8_t> second = adtsFrame(200, 200);
  bytes.insert(bytes.end(), second.begin(), second.end());
  // A frame that claims fewer bytes than its own header ends the input there.
  const std::vector<std::uint8_t> broken = adtsFrame(5, 64);
  bytes.insert(bytes.end(), broken.begin(), broken.end());
  {
    MemoryStream es(bytes);
    AudioFacts facts;
    EXPECT_EQ(analyseAudioHeader(es.reader, 0, facts), 16);
  }
  MemoryStream es(bytes);
  AudioFacts facts;
  ASSERT_EQ(analyseAudioHeader(es.reader, 128000, facts), 0);
  EXPECT_EQ(facts.coding, kAudioAacId0);
  EXPECT_DOUBLE_EQ(facts.frameDuration, 576000.0);
  AudioUnitReader reader(es.reader, facts);
  AccessUnit u;
  ASSERT_TRUE(reader.next(u));
  EXPECT_EQ(u.size, 300u);
  ASSERT_TRUE(reader.next(u));
  EXPECT_EQ(u.size, 200u);
  EXPECT_EQ(u.pts, 576000u);
  EXPECT_FALSE(reader.next(u));
}

}  // namespace
}  // namespace quillion::corvel

#include "muxer.h"

namespace quillion::corvel {
namespace {

// The navigation template of notice 0xE0010 is kept only from a whole notice.
TEST(CorvelNotices, NavigationTemplateOnlyFromAWholeNotice) {
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  mpeg_m_muxer* mux = mpegOutMuxNew(nullptr, &settings);
  ASSERT_NE(mux, nullptr);
  std::vector<std::uint8_t> highlight(694);
  for (std::size_t i = 0; i < highlight.size(); ++i) highlight[i] = static_cast<std::uint8_t>(i);
  mux_navigation_template notice{7, 694, highlight.data()};
  // A 32-bit record's size, a wrong length, no data: nothing changes.
  mpegOutMuxAuxinfo(mux, 0, 0xE0010, &notice, 12);
  mux_navigation_template shortOne{7, 693, highlight.data()};
  mpegOutMuxAuxinfo(mux, 0, 0xE0010, &shortOne, sizeof shortOne);
  mpegOutMuxAuxinfo(mux, 0, 0xE0010, nullptr, sizeof notice);
  EXPECT_FALSE(mux->navigationTemplatePresent);
  mux->navigationTemplateUses = 3;
  mpegOutMuxAuxinfo(mux, 0, 0xE0010, &notice, sizeof notice);
  EXPECT_TRUE(mux->navigationTemplatePresent);
  EXPECT_EQ(mux->navigationTemplateWord, 7u);
  EXPECT_EQ(mux->navigationTemplateUses, 0u);
  EXPECT_EQ(std::memcmp(mux->navigationTemplate, highlight.data(), 694), 0);
  // Done forgets it with the rest of the job.
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  EXPECT_FALSE(mux->navigationTemplatePresent);
  mpegOutMuxFree(mux);
}

}  // namespace
}  // namespace quillion::corvel
