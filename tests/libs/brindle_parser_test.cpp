// SPDX-License-Identifier: GPL-2.0-or-later
// The stream parser over a scripted chunk source: start codes split over chunks, chunks
// without time stamps, empty chunks, failures of the source, positioning, and the H.264
// NAL reader's emulation-prevention bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "brindle_harness.h"
#include "stream_parser.h"

namespace quillion::brindle {
namespace {

using test::ChunkSource;
using test::ParserSession;
using test::ScriptedChunk;

ScriptedChunk chunkAt(std::vector<std::uint8_t> bytes, std::uint64_t position,
                      std::int64_t pts = -1, std::uint64_t pack = 0) {
  ScriptedChunk c;
  c.bytes = std::move(bytes);
  c.dataPosition = position;
  c.packPosition = pack;
  c.pts = pts;
  return c;
}

std::vector<std::uint8_t> counting(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i);
  return v;
}

TEST(BrindleParser, StartCodeSplitOverChunksCarriesItsFirstBytesFacts) {
  ChunkSource source;
  source.chunks.push_back(chunkAt({0x11, 0x22, 0x00}, 100, 900, 40));
  source.chunks.push_back(chunkAt({}, 103, 950, 41));  // empty, with a time stamp
  source.chunks.push_back(chunkAt({0x00, 0x01}, 103, -1, 42));
  source.chunks.push_back(chunkAt({0xB3, 0x16, 0x00, 0x12, 0x00}, 105, 3000, 43));
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 100);
  ASSERT_EQ(p->error, 0u);
  EXPECT_EQ(Find_Start_Code(session.record(), p, 0xFFFFFFFF, 0x000001B3), 0x000001B3u);
  EXPECT_EQ(p->byte_positions[0], 102u);
  EXPECT_EQ(p->packet_positions[0], 40u);
  EXPECT_EQ(p->time_stamps[0], 900);
  // The second 00 came with the empty chunk's time stamp still in force (the chunk after it
  // carried none), the B3 with its own.
  EXPECT_EQ(p->time_stamps[1], 950);
  EXPECT_EQ(p->packet_positions[1], 42u);
  EXPECT_EQ(p->time_stamps[3], 3000);
  EXPECT_EQ(p->byte_positions[3], 105u);
  EXPECT_EQ(Read_Bits(session.record(), p, 32), 0x000001B3u);
  EXPECT_EQ(Read_Bits(session.record(), p, 12), 0x160u);
  EXPECT_EQ(p->byte_positions[0], 106u);
}

TEST(BrindleParser, BitReadsAcrossManySmallChunks) {
  ChunkSource source;
  const auto data = counting(64);
  source.cut(data, {1, 0, 2, 3, 0, 5});
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 0);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(Read_Bits(session.record(), p, 4), data[i] >> 4u) << i;
    EXPECT_EQ(Read_Bits(session.record(), p, 4), data[i] & 0xFu) << i;
  }
  EXPECT_EQ(Read_Bits(session.record(), p, 24), 0x101112u);
  EXPECT_TRUE(Is_Byte_Aligned(p));
  Skip_Bits(session.record(), p, 3);
  EXPECT_FALSE(Is_Byte_Aligned(p));
}

TEST(BrindleParser, SkippingThirtyTwoBitsOrMoreEmptiesTheWindow) {
  ChunkSource source;
  source.cut(counting(32), {3});
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 0);
  Skip_Bits(session.record(), p, 32);
  EXPECT_EQ(Peek_Bits(p, 8), 4u);
  Skip_Bits(session.record(), p, 40);  // 5 bytes: 4 .. 8 gone
  EXPECT_EQ(Peek_Bits(p, 8), 9u);
  Skip_Bits(session.record(), p, 36);  // 4.5 bytes
  EXPECT_EQ(Peek_Bits(p, 12), 0xD0Eu);
  Skip_Bits(session.record(), p, 4 + 8 * 10);  // to byte 0x18, past many chunks
  EXPECT_EQ(Peek_Bits(p, 8), 0x18u);
}

TEST(BrindleParser, EndOfStreamLeavesZeroBitsBehindTheLastOnes) {
  ChunkSource source;
  source.chunks.push_back(chunkAt({0xAB, 0xCD}, 0));
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 0);
  EXPECT_EQ(p->end_flag, 1u);
  EXPECT_EQ(p->bit_count, 16);
  EXPECT_EQ(Read_Bits(session.record(), p, 24), 0xABCD00u);
  EXPECT_EQ(Find_Start_Code(session.record(), p, kAnyStartCodeMask, kAnyStartCode), 0u);
}

TEST(BrindleParser, SourceFailuresSetTheErrorFlag) {
  struct Case {
    const char* name;
    ScriptedChunk chunk;
  };
  ScriptedChunk failing = chunkAt({1, 2, 3}, 4);
  failing.fail = true;
  ScriptedChunk nullData = chunkAt({1, 2, 3}, 4);
  nullData.nullData = true;
  for (const Case& c : {Case{"failing auxinfo", failing}, Case{"null data", nullData}}) {
    ChunkSource source;
    source.chunks.push_back(chunkAt({0x00, 0x00, 0x01, 0xB8}, 0));
    source.chunks.push_back(c.chunk);
    ParserSession session(source);
    stream_parser* p = session.video();
    Reset_Parser(session.record(), p, 0);
    EXPECT_EQ(Read_Bits(session.record(), p, 8), 0u) << c.name;
    EXPECT_EQ(p->error, 1u) << c.name;
    EXPECT_EQ(p->end_flag, 0u) << c.name;
    EXPECT_EQ(Find_Start_Code(session.record(), p, kAnyStartCodeMask, kAnyStartCode), 0u) << c.name;
  }
}

TEST(BrindleParser, ExtraBytesAreKeptOnlyAsFarAsTheyFit) {
  ChunkSource source;
  ScriptedChunk c = chunkAt(counting(8), 0);
  c.flags = 3;  // extra bytes valid, break
  c.extra = counting(32);
  c.extraCount = 200;  // a count beyond both the record and the parser
  source.chunks.push_back(c);
  ParserSession session(source);
  stream_parser* p = session.video();
  p->extra[0] = 0xEE;
  Reset_Parser(session.record(), p, 0);
  EXPECT_EQ(p->extra_count, 20u);
  EXPECT_EQ(p->extra[19], 19u);
  EXPECT_EQ(p->break_flag, 1u);
}

TEST(BrindleParser, StopPositionEndsAStartCodeSearch) {
  ChunkSource source;
  std::vector<std::uint8_t> data(100, 0x55);
  data.insert(data.end(), {0x00, 0x00, 0x01, 0xB3});
  source.cut(data, {7});
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 0);
  p->stop_position = 50;
  EXPECT_EQ(Find_Start_Code(session.record(), p, 0xFFFFFFFF, 0x000001B3), 0u);
  EXPECT_EQ(p->end_flag, 1u);
  EXPECT_EQ(p->byte_positions[0], 51u);
  Reset_Parser(session.record(), p, 0);
  p->stop_position = 0;
  EXPECT_EQ(Find_Start_Code(session.record(), p, 0xFFFFFFFF, 0x000001B3), 0x000001B3u);
  EXPECT_EQ(p->byte_positions[0], 100u);
}

TEST(BrindleParser, SkipBytesStaysInsideTheChunk) {
  ChunkSource source;
  source.cut(counting(40), {16});
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 0);
  const auto* before = p->read;
  const std::uint64_t position = p->byte_positions[0];
  EXPECT_EQ(Skip_Bytes(session.record(), p, 13), 1);  // 12 bytes left in the chunk
  EXPECT_EQ(p->read, before);
  EXPECT_EQ(p->byte_positions[0], position);
  EXPECT_EQ(Skip_Bytes(session.record(), p, 12), 0);
  EXPECT_EQ(p->window, 0u);
  EXPECT_EQ(p->byte_positions[0], position + 12);
  EXPECT_EQ(p->read, p->chunk_start);  // the next chunk was loaded
  EXPECT_EQ(*p->read, 16u);
}

TEST(BrindleParser, SkipBytesReachingTheStreamSizeEnds) {
  ChunkSource source;
  source.cut(counting(40), {16});
  ParserSession session(source);
  stream_parser* p = session.video();
  session.record()->priv->stream_size = 10;
  Reset_Parser(session.record(), p, 0);
  EXPECT_EQ(Skip_Bytes(session.record(), p, 10), 1);
  EXPECT_EQ(p->end_flag, 1u);
}

TEST(BrindleParser, ResetResults) {
  ChunkSource source;
  source.cut(counting(40), {16});
  ParserSession session(source);
  stream_parser* p = session.video();
  Reset_Parser(session.record(), p, 20);
  EXPECT_EQ(p->error, 0u);
  EXPECT_EQ(Peek_Bits(p, 8), 16u);  // the chunk that holds byte 20 starts at 16
  Reset_Parser(session.record(), p, 400);
  EXPECT_EQ(p->end_flag, 1u);
  EXPECT_EQ(p->error, 0u);
  source.seekResultPastEnd = 1;
  Reset_Parser(session.record(), p, 400);
  EXPECT_EQ(p->error, 1u);
  Reset_Parser(session.record(), p, 0);
  EXPECT_EQ(p->error, 0u);
  EXPECT_EQ(p->end_flag, 0u);
  p->demux_parser = 0;
  Reset_Parser(session.record(), p, 0);
  EXPECT_EQ(p->error, 1u);
}

TEST(BrindleParser, NavigationCopiesKeepTheirSizes) {
  stream_parser parser{};
  const auto pci = counting(100);
  Nav_Copy_First(&parser, pci.data(), static_cast<std::int32_t>(pci.size()));
  EXPECT_EQ(parser.pci[59], 59u);
  EXPECT_EQ(parser.dsi[0], 0u);
  const auto dsi = counting(1000);
  Nav_Copy_Second(&parser, dsi.data(), static_cast<std::int32_t>(dsi.size()));
  EXPECT_EQ(parser.dsi[559], static_cast<std::uint8_t>(559));
}

TEST(BrindleRbsp, EmulationPreventionBytesAreDropped) {
  struct Case {
    std::vector<std::uint8_t> nal;
    std::vector<std::uint8_t> rbsp;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00}},
      {{0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF},
       {0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0xFF}},
      {{0x25, 0x00, 0x00, 0x03, 0x02, 0x7F}, {0x25, 0x00, 0x00, 0x02, 0x7F}},
      {{0x00, 0x03, 0x00}, {0x00, 0x03, 0x00}},
  };
  for (const Case& c : cases) {
    rbsp_reader r{};
    Rbsp_Init(&r, c.nal.data(), static_cast<std::uint32_t>(c.nal.size()));
    for (std::size_t i = 0; i < c.rbsp.size(); ++i)
      EXPECT_EQ(Rbsp_Read_Bits(&r, 8), c.rbsp[i]) << "byte " << i;
    EXPECT_EQ(r.bit_count, 0);
    EXPECT_EQ(r.end_flag, 1u);
  }
  rbsp_reader r{};
  const std::uint8_t nal[] = {0xA5};
  Rbsp_Init(&r, nal, 1);
  EXPECT_EQ(Rbsp_Peek_Bits(&r, 3), 5u);
  EXPECT_EQ(Rbsp_Read_Bits(&r, 0), 0u);
  EXPECT_EQ(Rbsp_Read_Bit(&r), 1u);
}

}  // namespace
}  // namespace quillion::brindle
