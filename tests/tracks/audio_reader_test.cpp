// SPDX-License-Identifier: GPL-2.0-or-later
// The audio file reader and the audio track producer, against files made by sox and ffmpeg
// and decoded again by the ffmpeg program: exact sample counts, the same samples at 44.1 kHz,
// a stated bound after resampling, and the statuses of files that hold no usable audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "DPMs/audio/mp3_reader.h"
#include "DPMs/tracks/dpm_audio.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::readFile;
using quillion::test::runTool;
using quillion::test::TempDir;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

struct ReaderDeleter {
  void operator()(MP3Reader* r) const { termAudio(r); }
};
using Reader = std::unique_ptr<MP3Reader, ReaderDeleter>;

// Runs a tool that makes a fixture; fails the test when it does not.
void make(const std::vector<std::string>& argv) {
  const auto r = runTool(argv);
  ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.output;
}

// Everything the reader decodes, `blocks` blocks at a time.
Bytes decodeAll(MP3Reader* reader, std::uint32_t blocks = 16) {
  Bytes all;
  Bytes buffer(std::size_t{blocks} * GetBlockSize(reader));
  while (!isEndOfFile(reader)) {
    std::int32_t got = -1;
    const EngineStatus s = GetNextCDDABlock(reader, blocks, buffer.data(), &got, false);
    EXPECT_EQ(s, kNoErr);
    if (s != kNoErr || got <= 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
  return all;
}

std::vector<std::int16_t> samplesOf(const Bytes& pcm) {
  std::vector<std::int16_t> s(pcm.size() / 2);
  std::memcpy(s.data(), pcm.data(), s.size() * 2);
  return s;
}

// The ffmpeg program's CD audio from the same file; mono is duplicated into both channels
// at full level, as the reader does.
Bytes ffmpegReference(const TempDir& dir, const std::string& file, bool mono) {
  const std::string out = dir.file("ref.raw").string();
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-i", file};
  if (mono) {
    argv.insert(argv.end(), {"-af", "pan=stereo|c0=c0|c1=c0"});
  }
  argv.insert(argv.end(), {"-f", "s16le", "-ac", "2", "-ar", "44100", out});
  EXPECT_EQ(runTool(argv).exitCode, 0);
  return readFile(out);
}

struct FormatCase {
  const char* name;
  const char* file;
  int rate;
  int channels;
  int bits;
  const char* codec;  // for ffmpeg; nullptr: sox writes the file
  bool exactLength;   // a lossless format: the frame count is the synthesised length
};

// 1.5 s sweeps; at 44.1 kHz the samples must equal ffmpeg's, otherwise stay within the bound.
const FormatCase kFormats[] = {
    {"wav16_stereo_44k", "a.wav", 44100, 2, 16, nullptr, true},
    {"wav16_mono_44k", "a.wav", 44100, 1, 16, nullptr, true},
    {"wav24_stereo_44k", "a.wav", 44100, 2, 24, nullptr, true},
    {"wav8_stereo_44k", "a.wav", 44100, 2, 8, nullptr, true},
    {"aiff16_stereo_44k", "a.aiff", 44100, 2, 16, nullptr, true},
    {"flac_stereo_44k", "a.flac", 44100, 2, 16, nullptr, true},
    {"mp3_stereo_44k", "a.mp3", 44100, 2, 16, "libmp3lame", false},
    {"aac_stereo_44k", "a.m4a", 44100, 2, 16, "aac", false},
    {"wav16_mono_22k", "a.wav", 22050, 1, 16, nullptr, true},
    {"wav16_stereo_48k", "a.wav", 48000, 2, 16, nullptr, true},
    {"wav24_stereo_96k", "a.wav", 96000, 2, 24, nullptr, true},
    {"mp3_mono_22k", "a.mp3", 22050, 1, 16, "libmp3lame", false},
};

// After resampling the converter's filter may place the last samples differently: lengths
// agree within 64 frames and every common sample within 2 steps of 16-bit audio.
constexpr std::size_t kResampledLengthBound = 64;
constexpr int kResampledSampleBound = 2;

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.name;
}

class AudioFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(AudioFormats, DecodesLikeFfmpeg) {
  QUILLION_REQUIRE_TOOL("sox");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const FormatCase& c = GetParam();
  TempDir dir;
  const std::string sweep = dir.file("sweep.wav").string();
  make({"sox", "-n", "-r", std::to_string(c.rate), "-c", std::to_string(c.channels), "-b",
        std::to_string(c.bits), sweep, "synth", "1.5", "sine", "30-15000", "vol", "0.7"});
  const std::string file = dir.file(c.file).string();
  if (c.codec != nullptr) {
    make({"ffmpeg", "-v", "error", "-y", "-i", sweep, "-c:a", c.codec, file});
  } else {
    make({"sox", sweep, file});
  }
  Reader reader(initAudio(file.c_str()));
  ASSERT_TRUE(isValidAudioFile(reader.get())) << reader->openStatus();
  EXPECT_EQ(GetMP3TrackRate(reader.get()), static_cast<std::uint32_t>(c.rate));
  if (c.exactLength) {
    EXPECT_EQ(GetMP3FrameCount(reader.get()), static_cast<std::uint32_t>(c.rate * 3 / 2));
  }
  const Bytes ours = decodeAll(reader.get(), 7);
  const Bytes ref = ffmpegReference(dir, file, c.channels == 1);
  ASSERT_FALSE(ref.empty());
  if (c.rate == 44100) {
    // Same samples, and the frame count says exactly how many.
    EXPECT_EQ(GetMP3FrameCount(reader.get()), ref.size() / 4);
    ASSERT_EQ(ours.size(), ref.size());
    EXPECT_TRUE(ours == ref);
    return;
  }
  const std::size_t expected =
      std::size_t{GetMP3FrameCount(reader.get())} * 44100 / static_cast<std::size_t>(c.rate);
  const std::size_t frames = ours.size() / 4;
  EXPECT_LE(std::max(frames, expected) - std::min(frames, expected), kResampledLengthBound);
  EXPECT_LE(std::max(frames, ref.size() / 4) - std::min(frames, ref.size() / 4),
            kResampledLengthBound);
  const auto a = samplesOf(ours);
  const auto b = samplesOf(ref);
  int worst = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  }
  EXPECT_LE(worst, kResampledSampleBound);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioFormats, ::testing::ValuesIn(kFormats),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(AudioReader, FilesWithoutUsableAudio) {
  QUILLION_REQUIRE_TOOL("sox");
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  writeFile(dir.file("text.mp3"), std::string("This is not an MP3 file at all.\n"));
  // Lists that name a real audio file beside them: their reach is refused, not followed.
  make({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", dir.file("real.wav").string(), "synth",
        "1", "sine", "440"});
  writeFile(
      dir.file("list.m3u8"),
      std::string("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\nreal.wav\n#EXT-X-ENDLIST\n"));
  writeFile(dir.file("list.ffconcat"), std::string("ffconcat version 1.0\nfile real.wav\n"));
  make({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", dir.file("empty.wav").string(), "trim",
        "0", "0"});
  make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=1",
        "-c:v", "mpeg1video", dir.file("video.mpg").string()});
  make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=r=44100:d=1", "-c:a", "aac",
        "-encryption_scheme", "cenc-aes-ctr", "-encryption_key", "76a6c65c5ea762046bd749a2e632ccbb",
        "-encryption_kid", "a7e61c373e219033c21091fa607bf3b8", dir.file("locked.mp4").string()});
  // A WAV header claiming 570,447,394 samples a second: damage, not a source to convert.
  std::string absurd(
      "RIFF\xf5\x01\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00"
      "\x22\x56\x00\x22\x22\x56\x00\x22\x01\x00\x08\x00"
      "data\xd1\x01\x00\x00",
      44);
  absurd.append(465, '\x80');
  writeFile(dir.file("absurd.wav"), absurd);
  struct Case {
    const char* file;
    EngineStatus expected;
  };
  const Case cases[] = {
      {"absurd.wav", kErrNotSupported}, {"text.mp3", kErrNoAudioStream},
      {"empty.wav", kErrNoAudioStream}, {"video.mpg", kErrNoAudioStream},
      {"locked.mp4", kErrNotSupported}, {"missing.wav", kErrFileAccess},
      {"list.m3u8", kErrNoAudioStream}, {"list.ffconcat", kErrNoAudioStream},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Reader reader(initAudio(dir.file(c.file).c_str()));
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(isValidAudioFile(reader.get()));
    EXPECT_EQ(reader->openStatus(), c.expected);
    EXPECT_EQ(OpenMP3(reader.get()), c.expected);
    EXPECT_EQ(GetMP3FrameCount(reader.get()), 0u);
    Bytes buffer(2352, 0xAA);
    std::int32_t got = -1;
    EXPECT_EQ(GetNextCDDABlock(reader.get(), 1, buffer.data(), &got, false), kNoErr);
    EXPECT_EQ(got, 0);
    // The producer over it cannot be prepared, and says why.
    DPM_Audio_Base track(dir.file(c.file).string(), 1.0f);
    std::uint16_t size = 0;
    EXPECT_EQ(track.PrepareAll(&size, nullptr, nullptr), 0u);
    EXPECT_EQ(track.OpenStatus(), c.expected);
  }
  DPM_Audio_Base noPath("", 1.0f);
  EXPECT_EQ(noPath.OpenStatus(), kErrProducerNoPath);
  std::uint16_t size = 0;
  EXPECT_EQ(noPath.PrepareAll(&size, nullptr, nullptr), 0u);
}

TEST(AudioReader, BlockSizeByteCopyAndRawBytes) {
  QUILLION_REQUIRE_TOOL("sox");
  TempDir dir;
  const std::string file = dir.file("t.wav").string();
  make({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", file, "synth", "0.1", "sine", "440"});
  Reader reader(initAudio(file.c_str()));
  ASSERT_TRUE(isValidAudioFile(reader.get()));
  EXPECT_EQ(GetBlockSize(reader.get()), 2352u);
  SetBlockSize(reader.get(), 1000);
  Bytes buffer(3000);
  std::int32_t got = 0;
  ASSERT_EQ(GetNextCDDABlock(reader.get(), 3, buffer.data(), &got, true), kNoErr);
  EXPECT_EQ(got, 3000);
  for (std::size_t i = 0; i < 3000; i += 2) ASSERT_EQ(buffer[i], buffer[i + 1]) << i;
  // The file's own bytes from an offset: its header starts "RIFF" ... "WAVE".
  std::uint8_t head[4] = {};
  ASSERT_EQ(ReadBytes(reader.get(), 8, 4, head), kNoErr);
  EXPECT_EQ(std::memcmp(head, "WAVE", 4), 0);
  EXPECT_EQ(ReadBytes(reader.get(), 1'000'000, 4, head), kErrFileAccess);
  EXPECT_EQ(CloseMP3(reader.get()), kNoErr);
  EXPECT_FALSE(isValidAudioFile(reader.get()));
  EXPECT_EQ(OpenMP3(reader.get()), kNoErr);
  EXPECT_EQ(GetMP3FrameCount(reader.get()), 4410u);
  EXPECT_TRUE(IsValidForCurVersion());
}

// A 16-bit stereo WAV file of `frames` frames, all equal to (left, right).
void writeConstantWav(const std::string& path, std::int16_t left, std::int16_t right,
                      std::size_t frames, int rate = 44100) {
  Bytes raw(frames * 4);
  for (std::size_t i = 0; i < frames; ++i) {
    std::memcpy(&raw[i * 4], &left, 2);
    std::memcpy(&raw[i * 4 + 2], &right, 2);
  }
  const std::string rawPath = path + ".raw";
  writeFile(rawPath, raw);
  make({"sox", "-t", "raw", "-r", std::to_string(rate), "-e", "signed", "-b", "16", "-c", "2",
        rawPath, path});
}

Bytes produceAll(DPM_Audio_Base& track, std::uint32_t chunk) {
  Bytes all;
  Bytes buffer(std::size_t{chunk} * 2352);
  for (;;) {
    std::uint32_t got = 0;
    EXPECT_EQ(
        track.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), chunk, &got),
        kNoErr);
    if (got == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + std::size_t{got} * 2352);
  }
  return all;
}

TEST(AudioTrack, LengthsAndTheFourSecondMinimum) {
  QUILLION_REQUIRE_TOOL("sox");
  TempDir dir;
  struct Case {
    const char* what;
    int rate;
    std::uint32_t frames;
    std::uint32_t blocks;      // of the track
    std::uint32_t dataBlocks;  // holding decoded audio
  };
  const Case cases[] = {
      {"1 s at 44.1 kHz", 44100, 44100, 300, 75},
      {"22,050 frames at 22.05 kHz", 22050, 22050, 300, 75},
      {"10 s at 44.1 kHz", 44100, 441000, 750, 750},
      {"a frame over 5 s", 44100, 220501, 376, 376},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir.file("t.wav").string();
    writeConstantWav(file, 1000, -1000, c.frames, c.rate);
    DPM_Audio_Base track(file, 1.0f);
    std::uint16_t size = 2048;
    ASSERT_EQ(track.PrepareAll(&size, nullptr, nullptr), c.blocks);
    EXPECT_EQ(size, 2352);  // a request is not honoured
    const Bytes all = produceAll(track, 20);
    ASSERT_EQ(all.size(), std::size_t{c.blocks} * 2352);
    const std::size_t cdFrames = std::size_t{c.frames} * 44100 / static_cast<std::size_t>(c.rate);
    // Sound runs to (about, after resampling) the source's end, and silence follows.
    const auto nonZero = [&](std::size_t from, std::size_t to) {
      return std::any_of(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to),
                         [](std::uint8_t b) { return b != 0; });
    };
    EXPECT_TRUE(nonZero((cdFrames - 100) * 4, (cdFrames - 50) * 4));
    EXPECT_FALSE(nonZero((cdFrames + kResampledLengthBound) * 4, all.size()));
    EXPECT_EQ((cdFrames * 4 + 2351) / 2352, c.dataBlocks);
  }
}

TEST(AudioTrack, GainScalesTruncatesAndClips) {
  QUILLION_REQUIRE_TOOL("sox");
  TempDir dir;
  struct Case {
    float gain;
    std::int16_t left, right;
    std::int16_t wantLeft, wantRight;
  };
  const Case cases[] = {
      {2.0f, 20000, -20000, 32767, -32768},
      {1.0f, 20000, -20000, 20000, -20000},
      {0.5f, 3, -3, 1, -1},
      {1.5f, 1001, -1001, 1501, -1501},
      {0.0f, 12345, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gain);
    const std::string file = dir.file("c.wav").string();
    writeConstantWav(file, c.left, c.right, 44100 * 4);  // exactly 300 blocks, no padding
    DPM_Audio_Base track(file, c.gain);
    std::uint16_t size = 0;
    ASSERT_EQ(track.PrepareAll(&size, nullptr, nullptr), 300u);
    const auto samples = samplesOf(produceAll(track, 64));
    ASSERT_EQ(samples.size(), 300u * 1176);
    for (std::size_t i = 0; i < samples.size(); i += 2) {
      ASSERT_EQ(samples[i], c.wantLeft) << i;
      ASSERT_EQ(samples[i + 1], c.wantRight) << i;
    }
  }
}

TEST(PictureExport, WritesABmpOfTheSamePixels) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const std::string png = dir.file("p.png").string();
  make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=40x30:rate=1", "-frames:v", "1",
        png});
  Reader reader(initAudio(png.c_str()));
  const std::string bmp = dir.file("p.bmp").string();
  EXPECT_EQ(QTGraph_ExportImageWithoutDialog(reader.get()), kErrBadArgument);  // no output yet
  ASSERT_EQ(setOutPutFile(reader.get(), bmp.c_str()), kNoErr);
  ASSERT_EQ(QTGraph_ExportImageWithoutDialog(reader.get()), kNoErr);
  const std::string probe =
      quillion::test::toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                  "stream=codec_name,width,height", "-of", "default=nw=1", bmp});
  EXPECT_EQ(probe, "codec_name=bmp\nwidth=40\nheight=30\n");
  const auto pixels = [&](const std::string& f) {
    const std::string out = f + ".rgb";
    make({"ffmpeg", "-v", "error", "-y", "-i", f, "-f", "rawvideo", "-pix_fmt", "rgb24", out});
    return readFile(out);
  };
  EXPECT_EQ(pixels(bmp), pixels(png));
  Reader text(initAudio(dir.file("none.png").c_str()));
  ASSERT_EQ(setOutPutFile(text.get(), bmp.c_str()), kNoErr);
  EXPECT_EQ(QTGraph_ExportImageWithoutDialog(text.get()), kErrFileAccess);
}

}  // namespace
