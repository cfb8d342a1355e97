// SPDX-License-Identifier: GPL-2.0-or-later
// Detection: files that are refused, elementary streams told by their first units (with
// the frame lengths of the audio standards), streams of bare PES packets and of "AV"
// records made by small writers here, and the probe settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;
using quillion::test::writeFile;
using namespace quillion::test::daskin;
using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void put32(Bytes& b, std::uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
// A PES time stamp field (ISO/IEC 13818-1 2.4.3.7) with prefix 0010.
void putPts(Bytes& b, std::uint64_t pts) {
  b.push_back(static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
  put16(b, static_cast<std::uint32_t>(((pts >> 14) & 0xFFFE) | 1));
  put16(b, static_cast<std::uint32_t>(((pts << 1) & 0xFFFE) | 1));
}
Bytes payloadOf(std::size_t n, std::uint8_t seed) {
  Bytes p(n);
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(seed + i * 7);
  return p;
}
// An MPEG-2 PES packet: with a time stamp, or with `headerData` bytes of header that the
// length field may not hold.
Bytes pes(std::uint8_t id, const Bytes& payload, std::int64_t pts, int headerData = -1,
          int lengthOverride = -1) {
  Bytes b = {0, 0, 1, id};
  const int h = headerData >= 0 ? headerData : (pts >= 0 ? 5 : 0);
  put16(b, static_cast<std::uint32_t>(
               lengthOverride >= 0 ? lengthOverride : 3 + h + static_cast<int>(payload.size())));
  b.push_back(0x80);
  b.push_back(pts >= 0 ? 0x80 : 0x00);
  b.push_back(static_cast<std::uint8_t>(h));
  if (pts >= 0) putPts(b, static_cast<std::uint64_t>(pts));
  while (static_cast<int>(b.size()) < 9 + h) b.push_back(0xFF);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

Demux* openBytes(TempDir& dir, const Bytes& bytes, Demux& d, int expected = 0) {
  const auto file = dir.file("in.bin");
  writeFile(file, bytes);
  EXPECT_EQ(d.open(file), expected) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
  return &d;
}

TEST(DaskinDetect, WaveAndId3TaggedFilesAreRefused) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto wav = dir.file("a.wav");
  const auto mp3 = dir.file("a.mp3");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=r=44100", "-t", "0.5", wav.string()}));
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=r=44100", "-t", "0.5", "-c:a", "libmp3lame", "-f",
                      "mp3", "-id3v2_version", "3", "-metadata", "title=x", mp3.string()}));
  ASSERT_EQ(readFile(mp3)[0], 'I');
  for (const auto& file : {wav, mp3}) {
    SCOPED_TRACE(file.string());
    Demux d;
    EXPECT_EQ(d.open(file), 1);
    EXPECT_EQ(d.messages.errors, std::vector<std::string>{"Unknown file type"});
    file_info_struct f{};
    EXPECT_EQ(mpegDemuxGetFileInfo(d.ctx(), &f), 1);  // the context stayed closed
  }
}

TEST(DaskinDetect, BytesWithoutMpegAreOneProgramWithoutStreams) {
  TempDir dir;
  Demux d;
  Bytes noise(200000);
  std::uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>((x >> 16) & 0x7F);  // never 0xFF: no audio sync
  }
  openBytes(dir, noise, d);
  const file_info_struct f = d.fileInfo();
  EXPECT_EQ(f.system_stream_type, 0);
  EXPECT_EQ(f.programs, 1);
  EXPECT_TRUE(d.streams().empty());
}

// Short files whose first bytes send a probe past their end: the probe finds nothing there,
// and detection goes on.
TEST(DaskinDetect, ProbesLookingPastTheEndFindNothing) {
  TempDir dir;
  const Bytes sync = {0x47, 0x01, 0x00, 0x10, 0x55};
  const Bytes ac3 = {0x0B, 0x77, 0x12, 0x34, 0x25, 0x00};  // a 1,280-byte frame
  for (const Bytes* start : std::vector<const Bytes*>{&sync, &ac3}) {
    Bytes b = *start;
    b.resize(100, 0x33);
    Demux d;
    openBytes(dir, b, d);
    EXPECT_EQ(d.fileInfo().programs, 1);
    EXPECT_TRUE(d.streams().empty());
    EXPECT_TRUE(d.messages.errors.empty());
  }
}

// Two frames whose second header stands where the first header's length says.
struct AudioFrameCase {
  const char* label;
  std::uint32_t header;
  std::size_t length;
  std::uint32_t code;
};

class DaskinAudioFrames : public ::testing::TestWithParam<AudioFrameCase> {};

TEST_P(DaskinAudioFrames, SecondHeaderFoundWhereTheStandardPutsIt) {
  const AudioFrameCase& c = GetParam();
  TempDir dir;
  Bytes b;
  put32(b, c.header);
  b.resize(c.length, 0);
  put32(b, c.header);
  b.resize(c.length * 2, 0);
  Demux d;
  openBytes(dir, b, d);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.kind, DEMUX_KIND_MPEG_AUDIO);
  EXPECT_EQ(streams[0].info.stream_type, c.code);
  // One byte off, and the pair is not taken for audio.
  Bytes off;
  put32(off, c.header);
  off.resize(c.length + 1, 0);
  put32(off, c.header);
  off.resize(c.length * 2 + 2, 0);
  Demux e;
  openBytes(dir, off, e);
  EXPECT_TRUE(e.streams().empty());
}

INSTANTIATE_TEST_SUITE_P(Lengths, DaskinAudioFrames,
                         ::testing::Values(
                             // Layer II, 128 kbit/s: 44.1 kHz pads by a byte, and so does 48 kHz.
                             AudioFrameCase{"layer2_44k1_padded", 0xFFFD8204, 418, 3},
                             AudioFrameCase{"layer2_44k1", 0xFFFD8004, 417, 3},
                             AudioFrameCase{"layer2_48k_padded", 0xFFFD8604, 385, 3},
                             // Layer I, 32 kbit/s at 44.1 kHz: padding is a slot of 4 bytes.
                             AudioFrameCase{"layer1_44k1_padded", 0xFFFF1204, 36, 3},
                             // MPEG-2 layer III, 64 kbit/s at 24 kHz: 576 samples a frame.
                             AudioFrameCase{"mpeg2_layer3_24k", 0xFFF38404, 192, 4}),
                         [](const auto& p) { return std::string(p.param.label); });

// The probes see the data's last bytes: a second header that ends the file confirms the
// first.
TEST(DaskinDetect, AHeaderInTheLastFourBytesIsRead) {
  TempDir dir;
  Bytes b;
  put32(b, 0xFFFD8004);
  b.resize(417, 0);
  put32(b, 0xFFFD8004);
  Demux d;
  openBytes(dir, b, d);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.stream_type, 3u);
}

// A video elementary stream behind zero bytes (and a four-byte start code prefix).
TEST(DaskinDetect, VideoBehindLeadingZerosIsFound) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("v.m2v");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "0.4", "-c:v",
                      "mpeg2video", "-f", "mpeg2video", file.string()}));
  const Bytes video = readFile(file);
  for (const std::size_t zeros : {std::size_t{4}, std::size_t{37}}) {
    SCOPED_TRACE(zeros);
    Bytes b(zeros, 0);
    b.insert(b.end(), video.begin(), video.end());
    Demux d;
    openBytes(dir, b, d);
    const auto streams = d.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].info.stream_type, 2u);
    EXPECT_EQ(d.pullStream(0, 0).bytes, b);
  }
}

TEST(DaskinDetect, AdtsFramesShorterThanTheirHeaderAreNotAac) {
  TempDir dir;
  // ADTS header without CRC, frame_length 6, repeated back to back.
  const Bytes header = {0xFF, 0xF1, 0x50, 0x80, 0x00, 0xDF, 0xFC};
  Bytes b;
  for (int i = 0; i < 8; ++i) b.insert(b.end(), header.begin(), header.begin() + 6);
  Demux d;
  openBytes(dir, b, d);
  for (const auto& s : d.streams()) EXPECT_NE(s.info.stream_type, 17u);
}

TEST(DaskinDetect, Mpeg1VideoWithTheConstrainedFlagStaysMpeg1) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("v.m1v");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "0.4", "-c:v",
                      "mpeg1video", "-f", "mpeg1video", file.string()}));
  Bytes b = readFile(file);
  ASSERT_EQ(b[3], 0xB3);
  for (const bool constrained : {false, true}) {
    SCOPED_TRACE(constrained);
    // Byte 11 holds the last bits of vbv_buffer_size, then constrained_parameters_flag.
    b[11] = static_cast<std::uint8_t>(constrained ? (b[11] | 0x04) : (b[11] & ~0x04));
    Demux d;
    openBytes(dir, b, d);
    const auto streams = d.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].info.stream_type, 1u);
  }
}

TEST(DaskinDetect, Ac3IsFoundSwappedAndBehindSixteenBytes) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("a.ac3");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=r=48000", "-t", "0.2", "-c:a", "ac3", "-b:a",
                      "192k", "-f", "ac3", file.string()}));
  const Bytes plain = readFile(file);
  ASSERT_EQ(plain.size() % 768, 0u);  // 192 kbit/s at 48 kHz
  Bytes swapped = plain;
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  Bytes prefixed;
  for (std::size_t i = 0; i < plain.size(); i += 768) {
    prefixed.insert(prefixed.end(), 16, 0x11);
    prefixed.insert(prefixed.end(), plain.begin() + static_cast<long>(i),
                    plain.begin() + static_cast<long>(i + 768));
  }
  for (const Bytes* b : std::vector<const Bytes*>{&plain, &swapped, &prefixed}) {
    Demux d;
    openBytes(dir, *b, d);
    const auto streams = d.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].info.kind, DEMUX_KIND_AC3);
    EXPECT_EQ(streams[0].info.stream_type, 0x81u);
    EXPECT_EQ(d.pullStream(0, 0).bytes, *b);
  }
}

// A stream of bare audio PES packets: listed as one stream, its payloads delivered with
// their time stamps; a packet whose header claims more than the packet holds is passed
// over, and a short last packet still arrives.
TEST(DaskinDetect, BarePesPacketsAreDeliveredWithTheirTimeStamps) {
  TempDir dir;
  const Bytes first = payloadOf(400, 1), corrupt = payloadOf(30, 2), third = payloadOf(300, 3),
              last = payloadOf(9, 4);
  Bytes b = pes(0xC0, first, 90000);
  const Bytes bad = pes(0xC0, corrupt, -1, 60, 40);  // 60 header bytes in a 40-byte packet
  b.insert(b.end(), bad.begin(), bad.begin() + 6 + 40);
  const Bytes p3 = pes(0xC0, third, 93600), p4 = pes(0xC0, last, 97200);
  b.insert(b.end(), p3.begin(), p3.end());
  b.insert(b.end(), p4.begin(), p4.end());
  Demux d;
  openBytes(dir, b, d);
  EXPECT_EQ(d.fileInfo().system_stream_type, 2);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.stream_id, 0xC0);
  const Pulled pulled = d.pullStream(0, 0);
  ASSERT_TRUE(pulled.ended);
  Bytes expected = first;
  expected.insert(expected.end(), third.begin(), third.end());
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(pulled.bytes, expected);
  std::vector<std::int64_t> stamps;
  for (const auto& c : pulled.chunks) stamps.push_back(c.pts);
  EXPECT_EQ(stamps, (std::vector<std::int64_t>{90000 * 300, 93600 * 300, 97200 * 300}));
  EXPECT_EQ(pulled.chunks.front().pack_position, 0u);
}

// Bare video PES packets of length 0: each runs to the next start code of its stream.
TEST(DaskinDetect, VideoPesOfOpenLengthRunsToTheNextPacket) {
  TempDir dir;
  Bytes b, expected;
  std::vector<std::int64_t> stamps;
  for (int i = 0; i < 4; ++i) {
    // Payloads whose bytes step by 7 never hold 00 00 01; the second one is longer than the
    // smallest buffer, the last one ends the file.
    const Bytes payload =
        payloadOf(i == 1 ? 9000 : 700 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i));
    const Bytes packet = pes(0xE0, payload, 3600 * (i + 1), -1, 0);
    b.insert(b.end(), packet.begin(), packet.end());
    expected.insert(expected.end(), payload.begin(), payload.end());
    stamps.push_back(3600 * (i + 1) * 300);
  }
  Demux d;
  openBytes(dir, b, d);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.kind, DEMUX_KIND_VIDEO);
  for (const std::int32_t buffer : {0, 4096}) {
    SCOPED_TRACE(buffer);
    const Pulled pulled = d.pullStream(0, 0, buffer);
    ASSERT_TRUE(pulled.ended);
    EXPECT_EQ(pulled.bytes, expected);
    std::vector<std::int64_t> got;
    for (const auto& c : pulled.chunks)
      if (c.pts != -1) got.push_back(c.pts);
    EXPECT_EQ(got, stamps);
  }
}

// "AV" records: 8-byte headers ("AV", stream number, counter, a byte, flags, length), video
// records carrying the elementary stream behind a 90 kHz time stamp, audio records carrying
// PES packets.
TEST(DaskinDetect, AvRecordsAreListedAndDelivered) {
  TempDir dir;
  auto record = [](Bytes& out, std::uint8_t stream, std::uint8_t counter, std::uint8_t flags,
                   const Bytes& body, std::int64_t stamp) {
    out.push_back('A');
    out.push_back('V');
    out.push_back(stream);
    out.push_back(counter);
    out.push_back(0);
    out.push_back(flags);
    put16(out, static_cast<std::uint32_t>(body.size() + (stamp >= 0 ? 4 : 0)));
    if (stamp >= 0) put32(out, static_cast<std::uint32_t>(stamp));
    out.insert(out.end(), body.begin(), body.end());
  };
  Bytes b, video, audio;
  for (int i = 0; i < 6; ++i) {
    const Bytes v = payloadOf(500 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i));
    record(b, 1, static_cast<std::uint8_t>(i + 1), 0x10 | 1, v, 3600 * i);
    video.insert(video.end(), v.begin(), v.end());
    const Bytes a = payloadOf(200, static_cast<std::uint8_t>(40 + i));
    record(b, 2, static_cast<std::uint8_t>(i + 1), 1, pes(0xC0, a, 3600 * i), -1);
    audio.insert(audio.end(), a.begin(), a.end());
  }
  // A repeated audio record (same counter) is passed over.
  record(b, 2, 6, 1, pes(0xC0, payloadOf(200, 99), 99999), -1);
  Demux d;
  openBytes(dir, b, d);
  EXPECT_EQ(d.fileInfo().system_stream_type, 4);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 2u);
  for (const auto& s : streams) {
    const bool isVideo = s.info.kind == DEMUX_KIND_VIDEO;
    EXPECT_EQ(s.info.pid, isVideo ? 1u : 2u);
    EXPECT_EQ(s.info.stream_id, isVideo ? 0xE0 : 0xC0);
    const Pulled pulled = d.pullStream(s.program, s.stream);
    EXPECT_TRUE(pulled.ended);
    EXPECT_EQ(pulled.bytes, isVideo ? video : audio);
    ASSERT_FALSE(pulled.chunks.empty());
    EXPECT_EQ(pulled.chunks[1].pts, 3600 * 300);
  }
}

TEST(DaskinDetect, StopModeOneEndsTheScanAtTheFirstVideo) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("in.vob");
  // Audio first: its packets come before the first video packet.
  ASSERT_TRUE(ffmpeg({"-f",   "lavfi",      "-i",         "sine=r=48000",
                      "-f",   "lavfi",      "-i",         "sine=r=48000:f=660",
                      "-f",   "lavfi",      "-i",         "testsrc=size=176x144:rate=25",
                      "-t",   "1",          "-map",       "2:v",
                      "-map", "0:a",        "-map",       "1:a",
                      "-c:v", "mpeg2video", "-c:a",       "mp2",
                      "-f",   "vob",        file.string()}));
  Demux full;
  ASSERT_EQ(full.open(file), 0);
  ASSERT_EQ(full.streams().size(), 3u);
  demux_settings s{};
  s.probe_stop_mode = 1;
  Demux stopped(s);
  ASSERT_EQ(stopped.open(file), 0);
  const auto streams = stopped.streams();
  ASSERT_FALSE(streams.empty());
  EXPECT_LT(streams.size(), 3u);
  EXPECT_EQ(streams.back().info.kind, DEMUX_KIND_VIDEO);
}

TEST(DaskinDetect, ATransportStreamWithoutTablesFindsNoStreams) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("in.ts");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "0.5", "-c:v",
                      "mpeg2video", "-f", "mpegts", file.string()}));
  const Bytes in = readFile(file);
  Bytes without;
  for (std::size_t i = 0; i + 188 <= in.size(); i += 188) {
    const std::uint32_t pid = (in[i + 1] & 0x1Fu) << 8 | in[i + 2];
    if (pid != 0)
      without.insert(without.end(), in.begin() + static_cast<long>(i),
                     in.begin() + static_cast<long>(i + 188));
  }
  Demux d;
  openBytes(dir, without, d, 1);
  EXPECT_EQ(d.messages.errors,
            (std::vector<std::string>{"No elementary streams found", "Unknown file type"}));
}

// A transport packet whose adaptation field claims more than the packet holds is passed
// over; the packets around it are delivered.
TEST(DaskinDetect, AnOversizedAdaptationFieldSkipsThePacket) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("in.ts");
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "0.5", "-c:v",
                      "mpeg2video", "-f", "mpegts", file.string()}));
  Demux clean;
  ASSERT_EQ(clean.open(file), 0);
  const Pulled whole = clean.pullStream(0, 0);
  Bytes b = readFile(file);
  // The tenth video packet that continues a PES and has no adaptation field.
  std::size_t hit = 0;
  int seen = 0;
  for (std::size_t i = 0; i + 188 <= b.size(); i += 188) {
    const std::uint32_t pid = (b[i + 1] & 0x1Fu) << 8 | b[i + 2];
    if (pid == 0x100 && !(b[i + 1] & 0x40) && ((b[i + 3] >> 4) & 3) == 1 && ++seen == 10) {
      hit = i;
      break;
    }
  }
  ASSERT_NE(hit, 0u);
  b[hit + 3] = static_cast<std::uint8_t>((b[hit + 3] & 0x0F) | 0x30);
  b[hit + 4] = 200;
  Demux d;
  openBytes(dir, b, d);
  const Pulled pulled = d.pullStream(0, 0);
  EXPECT_TRUE(pulled.ended);
  ASSERT_EQ(pulled.bytes.size(), whole.bytes.size() - 184);
  // Everything before the damaged packet and after it is intact.
  std::size_t before = 0;
  for (const auto& c : whole.chunks)
    if (c.data_position < hit) before += c.length;
  EXPECT_TRUE(std::equal(pulled.bytes.begin(), pulled.bytes.begin() + static_cast<long>(before),
                         whole.bytes.begin()));
  EXPECT_TRUE(std::equal(pulled.bytes.begin() + static_cast<long>(before), pulled.bytes.end(),
                         whole.bytes.begin() + static_cast<long>(before + 184)));
}

}  // namespace
