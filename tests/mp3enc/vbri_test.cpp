// SPDX-License-Identifier: GPL-2.0-or-later
// The VBRI header frame: its size per stream kind, the seek table as it doubles its spacing
// and thins itself, read back by a reader written here from the header's layout, and checked
// on real streams by mp3val and ffprobe (duration and packet positions).
#include "mp3enc/vbri.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "float_decoders.h"
#include "mp3enc/encode_sample.h"
#include "mp3enc/velmora_enc.h"
#include "tests/support/test_support.h"
#include "vbri_reader.h"
#include "wav_fixtures.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

std::uint32_t headerWord(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  return 0xFF000000u | (std::uint32_t{b1} << 16) | (std::uint32_t{b2} << 8) | b3;
}

struct Built {
  std::vector<std::uint8_t> frame;
  std::vector<std::uint32_t> framePositions;  // every audio frame, header frame included
};

// Feeds headers to a builder and returns its header frame and the true frame positions.
Built build(const std::vector<std::uint32_t>& headers) {
  Built out;
  CVbri* builder = Vbri();
  EXPECT_NE(builder, nullptr);
  std::uint32_t position = 0;
  for (std::uint32_t h : headers) {
    int length = 0;
    EXPECT_EQ(VbriProcessOneHeader(builder, h, &length), 1);
    if (out.framePositions.empty()) {
      out.framePositions.push_back(0);
      position = static_cast<std::uint32_t>(builder->GetLength());
    }
    out.framePositions.push_back(position);
    position += static_cast<std::uint32_t>(length);
  }
  out.frame.assign(static_cast<std::size_t>(builder->GetLength()), 0xAA);
  int written = 0;
  EXPECT_EQ(VbriGetIndexTable(builder, out.frame.data(), out.frame.size(), &written), 1);
  EXPECT_EQ(written, builder->GetLength());
  VbriDelete(builder);
  return out;
}

// Headers of frames that alternate between padded and unpadded 128 kbit/s at 44.1 kHz.
std::vector<std::uint32_t> paddedHeaders(int count) {
  std::vector<std::uint32_t> h;
  for (int i = 0; i < count; ++i) h.push_back(headerWord(0xFB, i % 3 == 0 ? 0x92 : 0x90, 0x44));
  return h;
}

}  // namespace

TEST(Vbri, HeaderFrameIsTheSmallestAboveItsTableRoom) {
  struct Case {
    std::uint32_t first;
    int index;
    int bytes;
    int versionBits;
  };
  const Case cases[] = {
      {headerWord(0xFB, 0x90, 0x44), 10, 522, 3},  // 44.1 kHz 128 kbit/s: 417 bytes would not do
      {headerWord(0xFB, 0x94, 0x44), 10, 480, 3},  // 48 kHz
      {headerWord(0xFB, 0x98, 0x44), 8, 504, 3},   // 32 kHz
      {headerWord(0xF3, 0x80, 0xC4), 13, 470, 2},  // 22.05 kHz, mono
      {headerWord(0xF3, 0x84, 0x44), 14, 480, 2},  // 24 kHz
      {headerWord(0xE3, 0x80, 0x44), 9, 522, 0},   // 11.025 kHz
      {headerWord(0xE3, 0x88, 0x44), 7, 504, 0},   // 8 kHz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    const Built b = build({c.first});
    ASSERT_EQ(static_cast<int>(b.frame.size()), c.bytes);
    EXPECT_EQ(frameLength(b.frame, 0), c.bytes);
    EXPECT_EQ(b.frame[2] >> 4, c.index);
    EXPECT_EQ((b.frame[1] >> 3) & 3, c.versionBits);
    EXPECT_EQ((b.frame[2] >> 2) & 3, (c.first >> 10) & 3);
    EXPECT_EQ(b.frame[3] >> 6, (c.first >> 6) & 3);
    for (int i = 4; i < 36; ++i) ASSERT_EQ(b.frame[static_cast<std::size_t>(i)], 0);
    const VbriTable t = readVbri(b.frame);
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.delay, (c.first >> 19 & 3) == 3 ? 1152 : 576);
  }
}

TEST(Vbri, HundredFramesGiveOneEntryPerFrame) {
  const Built b = build(paddedHeaders(100));
  const VbriTable t = readVbri(b.frame);
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.version, 1);
  EXPECT_EQ(t.quality, 0);
  EXPECT_EQ(t.frames, 101u);
  EXPECT_EQ(t.entries, 101);
  EXPECT_EQ(t.scale, 1);
  EXPECT_EQ(t.entrySize, 2);
  EXPECT_EQ(t.framesPerEntry, 1);
  EXPECT_EQ(t.positions, b.framePositions);
  EXPECT_EQ(t.positions[1], 522u);
  EXPECT_EQ(t.positions[2], 522u + 418u);
  EXPECT_EQ(t.streamBytes, b.framePositions.back() + 418u);  // frame 99 is padded
}

TEST(Vbri, TheTableDoublesItsSpacingAndThinsItself) {
  struct Case {
    int frames;
    int entries;
    int framesPerEntry;
  };
  // 200 stored entries double the spacing; the 300th thins the first 200 to 100.
  for (const Case c : {Case{150, 151, 1}, Case{250, 125, 2}, Case{600, 150, 4}}) {
    SCOPED_TRACE(c.frames);
    const Built b = build(paddedHeaders(c.frames));
    const VbriTable t = readVbri(b.frame);
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.frames, static_cast<std::uint32_t>(c.frames + 1));
    EXPECT_EQ(t.entries, c.entries);
    EXPECT_EQ(t.framesPerEntry, c.framesPerEntry);
    EXPECT_EQ(t.scale, 1);
    expectEntriesAreFrames(t, b.framePositions);
  }
  // The table never holds more than it can show.
  CToc toc;
  for (int i = 0; i < 5000; ++i) {
    toc.Enter(static_cast<std::uint32_t>(i));
    ASSERT_LE(toc.GetNumValidEntries(), CToc::GetMaximumValidEntries());
  }
  EXPECT_EQ(toc.FramesPerEntry(), 32);
}

TEST(Vbri, NothingIsWrittenWithoutAFrameOrRoom) {
  CVbri* builder = Vbri();
  ASSERT_NE(builder, nullptr);
  std::vector<std::uint8_t> buffer(1024);
  int length = -1;
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), buffer.size(), &length), 0);
  EXPECT_EQ(VbriProcessOneHeader(builder, 0x12345678u, &length), 0);                   // no sync
  EXPECT_EQ(VbriProcessOneHeader(builder, headerWord(0xFD, 0x90, 0x44), &length), 0);  // layer II
  EXPECT_EQ(VbriProcessOneHeader(builder, headerWord(0xFB, 0xF0, 0x44), &length), 0);  // index 15
  EXPECT_EQ(VbriProcessOneHeader(builder, headerWord(0xFB, 0x9C, 0x44), &length), 0);  // rate 3
  EXPECT_EQ(VbriProcessOneHeader(builder, headerWord(0xEB, 0x90, 0x44), &length), 0);  // reserved
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), buffer.size(), &length), 0);
  ASSERT_EQ(VbriProcessOneHeader(builder, headerWord(0xFB, 0x90, 0x44), &length), 1);
  EXPECT_EQ(length, 417);
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), 521, &length), 0);
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), buffer.size(), nullptr), 0);
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), 522, &length), 1);
  EXPECT_EQ(length, 522);
  VbriSetInfo(builder, 10, 3);
  EXPECT_EQ(VbriGetIndexTable(builder, buffer.data(), 522, &length), 1);
  const VbriTable t = readVbri(buffer);
  EXPECT_EQ(t.delay, 1162);
  EXPECT_EQ(t.quality, 3);
  VbriDelete(builder);
  EXPECT_EQ(VbriProcessOneHeader(nullptr, headerWord(0xFB, 0x90, 0x44), &length), 0);
  EXPECT_EQ(VbriGetIndexTable(nullptr, buffer.data(), buffer.size(), &length), 0);
}

// A constant-rate handle has no seek-table builder: the call fails and writes nothing.
TEST(Vbri, HandleRefusesWhenThereIsNoTable) {
  VelmoraEnc* h = nullptr;
  ASSERT_EQ(TESK_VelmoraEnc_Open(&h, 44100, 128000, 2, 0, 0), kEncOk);
  int block = 0;
  ASSERT_EQ(TESK_VelmoraEnc_Init(h, &block), kEncOk);
  std::vector<std::uint8_t> buffer(2048, 0x5A);
  int length = -1;
  EXPECT_EQ(TESK_VelmoraEnc_GetVBRIndexTable(h, buffer.data(), 2048, &length), kEncBadParameter);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 0x5A);
  EXPECT_EQ(TESK_VelmoraEnc_GetVBRIndexTable(h, nullptr, 2048, &length), kEncBadParameter);
  EXPECT_EQ(TESK_VelmoraEnc_GetVBRIndexTable(h, buffer.data(), 2048, nullptr), kEncBadParameter);
  EXPECT_EQ(TESK_VelmoraEnc_GetVBRIndexTable(nullptr, buffer.data(), 2048, &length), kEncInvalid);
  VelmoraEnc* foreign = reinterpret_cast<VelmoraEnc*>(buffer.data());
  EXPECT_EQ(TESK_VelmoraEnc_GetVBRIndexTable(foreign, buffer.data(), 2048, &length), kEncInvalid);
  TESK_VelmoraEnc_Free(h);
}

// Real streams with the header frame in front: mp3val finds the counts right, ffprobe takes
// the duration from it and every table entry is the position of a packet ffprobe reports.
TEST(Vbri, RealStreamsWithTheHeaderInFront) {
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("ffprobe");
  struct Case {
    int rate;
    int channels;
    int bitrate;
    double seconds;
    int framesKept;  // 0: all
  };
  const Case cases[] = {
      {44100, 2, 128000, 2.6, 100},  // 100 frames: one entry each
      {22050, 1, 32000, 6.0, 250},   // spacing doubled
      {22050, 1, 32000, 16.0, 0},    // thinned
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.seconds << " s");
    const auto wav = dir.file("in.wav"), mp3 = dir.file("out.mp3"), with = dir.file("vbri.mp3");
    WavSpec spec;
    spec.rate = c.rate;
    spec.channels = c.channels;
    writeWav(wav, spec, makeSignal(Signal::Sweep, c.rate, c.channels, c.seconds));
    testing::internal::CaptureStdout();
    const int encoded =
        encode_to_mp3(wav.c_str(), mp3.c_str(), c.bitrate, 0, nullptr, 0, nullptr, nullptr);
    (void)testing::internal::GetCapturedStdout();
    ASSERT_EQ(encoded, kEncodeSucceeded);
    const std::vector<std::uint8_t> stream = readFile(mp3);
    std::vector<std::uint32_t> headers;
    std::size_t at = 0, end = 0;
    while (int n = frameLength(stream, at)) {
      if (c.framesKept && static_cast<int>(headers.size()) == c.framesKept) break;
      headers.push_back(static_cast<std::uint32_t>(bigEndianAt(stream, at, 4)));
      at += static_cast<std::size_t>(n);
      end = at;
    }
    ASSERT_GT(headers.size(), 90u);
    const Built b = build(headers);
    std::vector<std::uint8_t> file = b.frame;
    file.insert(file.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(end));
    writeFile(with, file);

    const VbriTable t = readVbri(file);
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.streamBytes, file.size());
    EXPECT_EQ(mp3valWarnings(with), "");

    const ToolResult probe =
        runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration:packet=pos", "-of",
                 "default=noprint_wrappers=1", with.string()});
    ASSERT_EQ(probe.exitCode, 0) << probe.output;
    std::istringstream lines(probe.output);
    std::string line;
    std::vector<std::uint32_t> packets;
    double duration = -1;
    while (std::getline(lines, line)) {
      if (line.rfind("pos=", 0) == 0)
        packets.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(4))));
      if (line.rfind("duration=", 0) == 0) duration = std::stod(line.substr(9));
    }
    const int samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
    // The frame count covers the header frame too (mp3val agrees), and ffprobe's duration
    // is that count of frames.
    EXPECT_EQ(t.frames, headers.size() + 1);
    EXPECT_NEAR(duration, static_cast<double>(t.frames) * samplesPerFrame / c.rate, 1e-5);
    ASSERT_EQ(packets.size(), headers.size());
    std::vector<std::uint32_t> frames = {0};
    frames.insert(frames.end(), packets.begin(), packets.end());
    EXPECT_EQ(std::vector<std::uint32_t>(b.framePositions.begin() + 1, b.framePositions.end()),
              packets);
    expectEntriesAreFrames(t, frames);
  }
}
