// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "mp3enc/bit_buffer.h"
#include "mp3enc/bit_mux.h"
#include "mp3enc/frame_control.h"
#include "mp3enc/stream_tables.h"
#include "stream_builder.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

TEST(BitBuffer, BitsComeOutAsTheyWentInAcrossTheRing) {
  BitBufferPtr b = makeBitBuffer(40);  // rounds up to 48 bits: every write below wraps
  ASSERT_TRUE(b);
  for (int round = 0; round < 20; ++round) {
    EXPECT_EQ(mp3WriteBits(b.get(), 0x5, 3), 3u);
    EXPECT_EQ(mp3WriteBits(b.get(), 0xDEADBEEFu, 32), 32u);
    EXPECT_EQ(mp3GetBitsAvail(b.get()), 35u);
    EXPECT_EQ(mp3ReadBits(b.get(), 3), 0x5u);
    EXPECT_EQ(mp3ReadBits(b.get(), 32), 0xDEADBEEFu);
  }
  EXPECT_EQ(mp3GetBitcnt(b.get()), 20u * 35u);
  EXPECT_FALSE(b->overrun);
  EXPECT_EQ(mp3WriteBits(b.get(), 0, 32), 32u);
  EXPECT_EQ(mp3WriteBits(b.get(), 0, 17), 0u) << "a write past the capacity is refused";
  EXPECT_TRUE(b->overrun);
  EXPECT_EQ(mp3ByteAlign(b.get()), 4u) << "732 bits written: four to the byte";
  EXPECT_EQ(mp3GetBitcnt(b.get()) % 8, 0u);
}

TEST(FrameControl, SizesAndPaddingFollowTheBitRate) {
  struct Case {
    std::int32_t bitrate, rate;
    int mode;
    int frames;
    double averageBytes;  // over the frames
    int index;            // every frame's index, or -1 to skip the check
  };
  const Case cases[] = {
      {128000, 44100, kPaddingNever, 1000, 417.0, 9},
      {128000, 44100, kPaddingPerFrame, 44100, 128000.0 * 144 / 44100, 9},
      {112000, 48000, kPaddingByRemainder, 100, 336.0, 8},
      {112000, 48000, kPaddingPerFrame, 100, 336.0, 8},
      {8000, 8000, kPaddingPerFrame, 100, 72.0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitrate) + " bit/s at " + std::to_string(c.rate) + " Hz mode " + std::to_string(c.mode));
    FrameControl fc;
    ASSERT_EQ(FCInit(&fc, c.bitrate, c.rate, c.mode), 0);
    double bytes = 0;
    for (int f = 0; f < c.frames; ++f) {
      FCAdvance(&fc);
      if (c.index >= 0) {
        EXPECT_EQ(FCBitrateIdx(&fc), c.index);
      }
      bytes += FCSize(&fc, FCBitrateIdx(&fc)) / 8 + FCNuansdroByte(&fc);
    }
    EXPECT_NEAR(bytes / c.frames, c.averageBytes, 1.0 / c.frames);
  }
  FrameControl fc;
  EXPECT_EQ(FCInit(&fc, 400000, 44100, kPaddingPerFrame), 1) << "above the largest frame";
  EXPECT_EQ(FCInit(&fc, 128000, 44000, kPaddingPerFrame), 1) << "not one of the nine rates";
  ASSERT_EQ(FCInit(&fc, 128000, 44100, kPaddingNever), 0);
  EXPECT_EQ(FCFindFit(&fc, 3336, 0, 0), 9);
  EXPECT_EQ(FCFindFit(&fc, 3337, 0, 0), 10);
  EXPECT_EQ(FCFindFit(&fc, 8352, 0, 0), 14);
  EXPECT_EQ(FCFindFit(&fc, 8353, 0, 0), -1);
  EXPECT_EQ(FCFindFit(&fc, 8352, 0, 1), -1) << "the top index is held back";
}

TEST(FrameControl, RateBetweenTableRatesMixesNeighbours) {
  FrameControl fc;
  ASSERT_EQ(FCInit(&fc, 120000, 44100, kPaddingNever), 0);
  EXPECT_GT(FCFramesInMeta(&fc), 1);
  std::int64_t bits = 0;
  const int frames = FCFramesInMeta(&fc) * 3;
  for (int f = 0; f < frames; ++f) {
    FCAdvance(&fc);
    EXPECT_TRUE(FCBitrateIdx(&fc) == 8 || FCBitrateIdx(&fc) == 9);
    EXPECT_EQ(FCNuansdroByte(&fc), 0);
    bits += FCSize(&fc, FCBitrateIdx(&fc));
  }
  EXPECT_EQ(bits / 8, 3 * FCMetaframeSize(&fc));
}

namespace {

// Each file's packet sizes as the demuxer frames them, for many files in one run of ffmpeg:
// starting the tool costs more than reading a small stream, once per file it would make this
// the slowest suite of all.
std::vector<std::vector<std::uint32_t>> probeFrameSizes(const std::vector<std::filesystem::path>& files) {
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-nostdin"};
  for (const auto& file : files) argv.insert(argv.end(), {"-i", file.string()});
  for (std::size_t i = 0; i < files.size(); ++i) argv.insert(argv.end(), {"-map", std::to_string(i) + ":a"});
  argv.insert(argv.end(), {"-c", "copy", "-f", "framemd5", "-"});
  const ToolResult r = runTool(argv);
  std::vector<std::vector<std::uint32_t>> sizes(files.size());
  std::istringstream in(r.output);
  // Lines read "stream, dts, pts, duration, size, hash"; '#' lines describe the streams.
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string stream, dts, pts, duration, size;
    if (!std::getline(fields, stream, ',') || !std::getline(fields, dts, ',') || !std::getline(fields, pts, ',') ||
        !std::getline(fields, duration, ',') || !std::getline(fields, size, ',')) {
      continue;
    }
    const std::size_t index = std::stoul(stream);
    if (index < sizes.size()) sizes[index].push_back(static_cast<std::uint32_t>(std::stoul(size)));
  }
  return sizes;
}

std::vector<std::uint32_t> probeFrameSizes(const std::filesystem::path& file) {
  return probeFrameSizes(std::vector<std::filesystem::path>{file}).at(0);
}

}  // namespace

// Every bit rate at every sampling rate, with padding chosen per frame: the decoder's frame
// sizes are ours, and the stream is valid to every tool.
TEST(BitstreamWriter, EveryBitRateAndRateGivesTheFramesExpected) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("mp3val");
  TempDir dir;
  std::vector<std::string> cases;
  std::vector<std::filesystem::path> files;
  std::vector<std::vector<std::uint32_t>> expectedSizes;
  for (int slot = 0; slot < 9; ++slot) {
    const int version = slot / 3;
    const std::int32_t rate = kSampleRates[version][slot % 3];
    for (int index = 1; index < 15 && mpegBitrates[version][index] != 0; ++index) {
      const std::int32_t bitrate = mpegBitrates[version][index];
      const std::string name = std::to_string(bitrate) + " bit/s at " + std::to_string(rate) + " Hz";
      SCOPED_TRACE(name);
      BitstreamSettings settings;
      settings.sampleRate = rate;
      settings.bitrate = bitrate;
      settings.channelMode = (index & 1) ? kModeSingleChannel : kModeStereo;
      StreamBuilder builder(settings, kPaddingPerFrame);
      std::vector<std::int32_t> lines(576, 0);
      lines[3] = 1;
      lines[10] = -2;
      const GranuleChannel g = codedGranule(lines, 150, 0, slot);
      const GranuleChannel* frame[2][2] = {{&g, &g}, {&g, &g}};
      for (int f = 0; f < 40; ++f) ASSERT_TRUE(builder.addFrame(frame));
      ASSERT_TRUE(builder.finish());
      const auto file = dir.file(std::to_string(files.size()) + ".mp3");
      writeFile(file, builder.bytes());
      std::vector<std::uint32_t> expected;
      for (std::size_t f = 0; f < builder.paddings().size(); ++f) {
        expected.push_back(frameBytes(rate, builder.bitrateIndices()[f], builder.paddings()[f]));
      }
      const FrameStats stats = mp3GetFrameStats(&builder.writer());
      ASSERT_EQ(stats.frames, expected.size());
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stats.lengths));
      EXPECT_EQ(mp3valWarnings(file), "");
      cases.push_back(name);
      files.push_back(file);
      expectedSizes.push_back(std::move(expected));
    }
  }
  const auto probed = probeFrameSizes(files);
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(probed[i], expectedSizes[i]) << cases[i];
}

// Granules of very different sizes move main data between frames: it must start in earlier
// frames and still decode to the values written, with ancillary bytes and the Ofl record
// riding along.
TEST(BitstreamWriter, ReservoirCarriesMainDataAcrossFrames) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("mpg123");
  std::mt19937 rng(9);
  BitstreamSettings settings;
  settings.channelMode = kModeSingleChannel;
  settings.bitrate = 64000;
  settings.sampleRate = 44100;
  StreamBuilder builder(settings, kPaddingPerFrame);
  ReferenceDecoder ref(0);
  std::vector<double> expected;
  int framesStartingEarlier = 0;
  long long oflOffset = -1;
  for (int f = 0; f < 60; ++f) {
    GranuleChannel g[2];
    for (int gr = 0; gr < 2; ++gr) {
      std::vector<std::int32_t> lines(576, 0);
      const int used = (f % 4 == 3) ? 250 : 8;  // every fourth frame is large
      for (int i = 0; i < used; ++i) lines[static_cast<std::size_t>(i)] = static_cast<int>(rng() % 7) - 3;
      g[gr] = codedGranule(lines, 170, 0, 0);
      ref.decode({lines, 170, 0}, &expected);
    }
    const GranuleChannel* frame[2][2] = {{&g[0], nullptr}, {&g[1], nullptr}};
    FrameResult result;
    const bool ofl = f == 10;
    ASSERT_TRUE(builder.addFrame(frame, ofl ? 80 + 16 : (f % 4 == 1 ? 32 : 0), ofl, &result)) << "frame " << f;
    if (result.mainDataBegin > 0) ++framesStartingEarlier;
    if (ofl) oflOffset = result.oflOffset;
  }
  ASSERT_TRUE(builder.finish());
  EXPECT_GT(framesStartingEarlier, 10);
  ASSERT_GT(oflOffset, 0);
  const std::vector<std::uint8_t>& bytes = builder.bytes();
  ASSERT_LT(static_cast<std::size_t>(oflOffset) + 10, bytes.size());
  EXPECT_EQ(bytes[static_cast<std::size_t>(oflOffset)], 0xB4);

  TempDir dir;
  writeFile(dir.file("r.mp3"), bytes);
  std::vector<float> decoded;
  const ToolResult ff = decodeToFloat(dir.file("r.mp3"), dir.file("r.raw"), &decoded);
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  ASSERT_GE(decoded.size(), expected.size());
  double maxError = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) maxError = std::max(maxError, std::abs(decoded[i] - expected[i]));
  EXPECT_LT(maxError, 2e-5);
  const ToolResult mpg = runTool({"mpg123", "-q", "-t", dir.file("r.mp3").string()});
  EXPECT_EQ(mpg.exitCode, 0) << mpg.output;
}

TEST(BitMux, FrameWaitsUntilItsMainDataIsComplete) {
  BitBufferPtr hdsi = makeBitBuffer(19456), main = makeBitBuffer(16384);
  BitMux mux;
  mp3InitBitMux(&mux);
  std::uint8_t out[1024];
  for (int i = 0; i < 4; ++i) mp3WriteBits(hdsi.get(), 0xA5A5A5A5u, 32);
  mp3WriteBits(main.get(), 0x1234, 16);
  // 32 bits of header and side, 32 bits of main data of which only 16 are there yet.
  EXPECT_EQ(mp3ComposeMuxFrames(&mux, hdsi.get(), main.get(), false, 32, 32, out, sizeof out), 0);
  mp3WriteBits(main.get(), 0x5678, 16);
  EXPECT_EQ(mp3ComposeMuxFrames(&mux, hdsi.get(), main.get(), false, 32, 32, out, sizeof out), 8);
  EXPECT_EQ(out[4], 0x12);
  EXPECT_EQ(out[7], 0x78);
  EXPECT_EQ(mp3FlushMuxFrames(&mux, hdsi.get(), main.get(), false, out, 4), 0) << "no room: the frame stays";
  EXPECT_EQ(mp3FlushMuxFrames(&mux, hdsi.get(), main.get(), false, out, sizeof out), 8);
  EXPECT_EQ(out[4], 0x00) << "missing main data is emitted as zero bytes";
}

TEST(Crc, MatchesTheStandardsRegister) {
  // CRC-16 0x8005 from 0xFFFF, MSB first, over "123456789" (the catalogued check value of
  // this variant is 0xAEE7).
  std::uint32_t reg = kCrc16Init;
  for (char c : std::string("123456789")) reg = mp3CrcAdvance(kCrc16Polynomial, 0x8000, reg, static_cast<std::uint8_t>(c));
  EXPECT_EQ(reg, 0xAEE7u);
}

TEST(BitstreamWriter, ProtectedFramesPassTheDecodersCrcCheckAndACorruptOneFails) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  for (std::int32_t rate : {44100, 22050}) {
    for (int mode : {kModeStereo, kModeSingleChannel}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz mode " + std::to_string(mode));
      BitstreamSettings settings;
      settings.sampleRate = rate;
      settings.bitrate = rate == 44100 ? 128000 : 64000;
      settings.channelMode = mode;
      settings.errorProtection = true;
      StreamBuilder builder(settings, kPaddingPerFrame);
      std::vector<std::int32_t> lines(576, 0);
      for (int i = 0; i < 60; ++i) lines[static_cast<std::size_t>(i)] = (i * 7) % 5 - 2;
      const GranuleChannel g = codedGranule(lines, 160, 0, rateSlot(rate));
      const GranuleChannel* frame[2][2] = {{&g, &g}, {&g, &g}};
      for (int f = 0; f < 20; ++f) ASSERT_TRUE(builder.addFrame(frame));
      ASSERT_TRUE(builder.finish());
      TempDir dir;
      std::vector<std::uint8_t> bytes = builder.bytes();
      writeFile(dir.file("good.mp3"), bytes);
      const std::vector<std::string> check = {"ffmpeg", "-nostdin", "-v", "error", "-err_detect", "crccheck+explode", "-i"};
      std::vector<std::string> good = check;
      good.insert(good.end(), {dir.file("good.mp3").string(), "-f", "null", "-"});
      const ToolResult ok = runTool(good);
      EXPECT_EQ(ok.exitCode, 0) << ok.output;
      EXPECT_EQ(ok.output, "");
      ASSERT_EQ(bytes[1] & 1, 0) << "the protection bit says a CRC follows";
      bytes[5 * frameBytes(rate, builder.bitrateIndices()[0], builder.paddings()[0]) + 4] ^= 0x10;
      bytes[4] ^= 0x01;  // the first frame's CRC
      writeFile(dir.file("bad.mp3"), bytes);
      std::vector<std::string> bad = check;
      bad.insert(bad.end(), {dir.file("bad.mp3").string(), "-f", "null", "-"});
      const ToolResult rejected = runTool(bad);
      EXPECT_TRUE(rejected.exitCode != 0 || rejected.output.find("CRC") != std::string::npos) << rejected.output;
    }
  }
}

// A side-information value its field cannot hold would be cut to its low bits, and the
// decoder would read another granule than the one counted: the writer refuses the frame
// and leaves the stream as it was.
TEST(BitstreamWriter, RefusesSideInformationItsFieldsCannotHold) {
  std::vector<std::int32_t> lines(576, 0);
  lines[0] = 3;
  lines[1] = -1;
  const GranuleChannel good = codedGranule(lines, 160, 0, 0);
  struct Case {
    const char* what;
    void (*spoil)(GranuleChannel&);
  };
  const Case cases[] = {
      {"global gain field above 255", [](GranuleChannel& g) { g.global_gain = 106; }},
      {"scalefac_compress above 4 bits at MPEG-1",
       [](GranuleChannel& g) { g.scalefac_compress = 16; }},
      {"mixed flag on a start window",
       [](GranuleChannel& g) { g.block_type = 1, g.mixed_block_flag = 1; }},
      {"subblock gain above 7",
       [](GranuleChannel& g) { g.block_type = 2, g.subblock_gain[1] = 8; }},
      {"table 4, which does not exist, on an empty region",
       [](GranuleChannel& g) { g.table_select[2] = 4; }},
      {"region1_count above 3 bits", [](GranuleChannel& g) { g.region1_count = 8; }},
      {"scalefactor longer than its slen",
       [](GranuleChannel& g) {
         g.partitionValues[0] = 2, g.slen[0] = 2, g.scalefactors[1] = 4, g.part2_3_length += 4;
       }},
  };
  BitstreamSettings settings;
  settings.channelMode = kModeSingleChannel;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StreamBuilder builder(settings, kPaddingNever);
    GranuleChannel bad = good;
    c.spoil(bad);
    const GranuleChannel* refused[2][2] = {{&good, nullptr}, {&bad, nullptr}};
    EXPECT_FALSE(builder.addFrame(refused));
    const GranuleChannel* accepted[2][2] = {{&good, nullptr}, {&good, nullptr}};
    ASSERT_TRUE(builder.addFrame(accepted));
    ASSERT_TRUE(builder.finish());
    EXPECT_EQ(builder.bytes().size(), 417u) << "only the accepted frame was written";
  }
}

// A stream that ends on a padded frame: the padding byte belongs to the last frame, whose
// main data the flush completes, and nothing is missing or left over after it.
TEST(BitstreamWriter, StreamEndingOnAPaddedFrameHasItsFullLength) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("mp3val");
  QUILLION_REQUIRE_TOOL("mpg123");
  struct Case {
    std::int32_t rate, bitrate;
    int mode;
    bool crc;
  };
  const Case cases[] = {
      {44100, 128000, kModeJointStereo, false},
      {44100, 64000, kModeSingleChannel, true},
      {22050, 56000, kModeStereo, false},
      {11025, 32000, kModeSingleChannel, false},
  };
  std::mt19937 rng(31);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitrate) + " bit/s at " + std::to_string(c.rate) + " Hz");
    BitstreamSettings settings;
    settings.sampleRate = c.rate;
    settings.bitrate = c.bitrate;
    settings.channelMode = c.mode;
    settings.errorProtection = c.crc;
    StreamBuilder builder(settings, kPaddingPerFrame);
    const int slot = rateSlot(c.rate);
    // Small granules, so that the reservoir fills and the last frames' main data sits in
    // earlier frames, and a large one in every fifth frame that takes it back.
    std::size_t frames = 0;
    FrameResult last;
    while (frames < 20 || builder.paddings().back() == 0) {
      std::vector<std::int32_t> lines(576, 0);
      const int used = frames % 5 == 4 ? 120 : 10;
      for (int i = 0; i < used; ++i)
        lines[static_cast<std::size_t>(i)] = static_cast<int>(rng() % 5) - 2;
      const GranuleChannel g = codedGranule(lines, 150, 0, slot);
      const GranuleChannel* frame[2][2] = {{&g, &g}, {&g, &g}};
      ASSERT_TRUE(builder.addFrame(frame, 0, false, &last));
      ASSERT_LT(++frames, 200u) << "no padded frame came";
    }
    EXPECT_GT(last.mainDataBegin, 0) << "the last frame's main data starts in an earlier one";
    ASSERT_TRUE(builder.finish());
    TempDir dir;
    const auto file = dir.file("padded.mp3");
    writeFile(file, builder.bytes());

    std::vector<std::uint32_t> expected;
    std::size_t total = 0;
    for (std::size_t f = 0; f < frames; ++f) {
      expected.push_back(frameBytes(c.rate, builder.bitrateIndices()[f], builder.paddings()[f]));
      total += expected.back();
    }
    EXPECT_EQ(expected.back(), frameBytes(c.rate, builder.bitrateIndices().back(), 0) + 1);
    EXPECT_EQ(builder.bytes().size(), total);
    EXPECT_EQ(probeFrameSizes(file), expected);
    const std::size_t perFrame = versionForRate(c.rate) == kMpeg1 ? 1152 : 576;
    const ToolResult samples =
        runTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_frames", "-show_entries",
                 "frame=nb_samples", "-of", "csv=p=0", file.string()});
    std::size_t decoded = 0;
    std::istringstream in(samples.output);
    for (std::string line; std::getline(in, line);) decoded += line.empty() ? 0 : std::stoul(line);
    EXPECT_EQ(decoded, frames * perFrame);
    EXPECT_EQ(mp3valWarnings(file), "");
    EXPECT_EQ(mpg123Complaints(file), "");
  }
}

// Ancillary bytes as packets: each frame's room starts with 0xA5, the payload length, the
// payload and the low byte of its sum, and zeros fill the rest. A room too small for the
// packet's three bytes and one of payload stays zero, and the caller's bytes stay its own.
// Without packets the bytes fill the room as they come.
TEST(BitstreamWriter, AncillaryPacketsCarryTheirPayload) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  struct Case {
    bool packets;
    int roomBytes;  // after the Ofl record
    std::size_t available;
    bool ofl;
    std::size_t payload;  // bytes the frame takes
  };
  const Case cases[] = {
      {true, 20, 100, false, 17}, {true, 20, 5, false, 5},     {true, 3, 100, false, 0},
      {true, 4, 100, false, 1},   {true, 20, 0, false, 0},     {true, 300, 1000, false, 255},
      {true, 30, 100, true, 27},  {false, 20, 100, false, 20}, {false, 20, 7, false, 7},
  };
  std::mt19937 rng(37);
  for (const Case& c : cases) {
    SCOPED_TRACE("room " + std::to_string(c.roomBytes) + ", " + std::to_string(c.available) +
                 " bytes given" + (c.packets ? ", packets" : ", raw") +
                 (c.ofl ? ", after the Ofl record" : ""));
    BitstreamSettings settings;
    settings.channelMode = kModeSingleChannel;
    settings.bitrate = 320000;
    settings.ancillaryPackets = c.packets;
    StreamBuilder builder(settings, kPaddingPerFrame);
    std::vector<std::uint8_t> given(c.available);
    for (std::uint8_t& b : given) b = static_cast<std::uint8_t>(rng());
    builder.setAncillary(given);
    std::vector<std::int32_t> lines(576, 0);
    for (int i = 0; i < 40; ++i)
      lines[static_cast<std::size_t>(i)] = static_cast<int>(rng() % 5) - 2;
    const GranuleChannel g = codedGranule(lines, 150, 0, 0);
    const GranuleChannel* frame[2][2] = {{&g, nullptr}, {&g, nullptr}};
    std::vector<FrameResult> results(4);
    for (FrameResult& r : results) {
      ASSERT_TRUE(builder.addFrame(frame, 8 * c.roomBytes + (c.ofl ? 80 : 0), c.ofl, &r));
    }
    ASSERT_TRUE(builder.finish());
    const std::vector<std::uint8_t> main = builder.mainData();
    for (const FrameResult& r : results) {
      EXPECT_EQ(r.ancillaryConsumed, c.payload);
      const long long at = builder.mainDataPosition(r.ancillaryOffset);
      ASSERT_GE(at, 0);
      ASSERT_LE(static_cast<std::size_t>(at) + static_cast<std::size_t>(c.roomBytes), main.size());
      std::vector<std::uint8_t> want;
      if (c.packets && c.payload > 0) {
        want = {0xA5, static_cast<std::uint8_t>(c.payload)};
        unsigned sum = 0;
        for (std::size_t i = 0; i < c.payload; ++i) sum += given[i];
        want.insert(want.end(), given.begin(),
                    given.begin() + static_cast<std::ptrdiff_t>(c.payload));
        want.push_back(static_cast<std::uint8_t>(sum));
      } else {
        want.assign(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(c.payload));
      }
      want.resize(static_cast<std::size_t>(c.roomBytes), 0);
      EXPECT_EQ(std::vector<std::uint8_t>(main.begin() + at, main.begin() + at + c.roomBytes),
                want);
    }
    TempDir dir;
    writeFile(dir.file("anc.mp3"), builder.bytes());
    std::vector<float> decoded;
    const ToolResult ff = decodeToFloat(dir.file("anc.mp3"), dir.file("anc.raw"), &decoded);
    EXPECT_EQ(ff.exitCode, 0) << ff.output;
    EXPECT_EQ(ff.output, "");
  }
}
