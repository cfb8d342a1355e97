// SPDX-License-Identifier: GPL-2.0-or-later
// The audio header readers. Streams made by ffmpeg (and twolame for Layer II with CRC) in
// elementary, program and transport streams are opened through mpegInOpen and their audio
// facts compared with ffprobe's; scripted byte sources cover false syncs and every refusal.
// The frame and sample counters of the open are test doubles, as in the session tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "audio_headers.h"
#include "brindle_harness.h"
#include "scan_services.h"
#include "session.h"
#include "stream_parser.h"
#include "tests/support/test_support.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace {

using quillion::test::TempDir;
using test::ChunkSource;
using test::FrameworkFolder;

std::vector<std::string>* gAudioErrors = nullptr;

__attribute__((format(printf, 1, 2))) void audioErrorPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = quillion::test::formatted(format, args);
  va_end(args);
  if (gAudioErrors) gAudioErrors->push_back(std::move(line));
}
void* audioRc(const char* name) {
  return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&audioErrorPrinter)
                                              : nullptr;
}

// Counter doubles: the pictures the header parser finds, and one audio sample.
void countPicturesForAudio(mpeg_in_info* session, bool /*systemStream*/) {
  int pictures = 0;
  while (Get_Next_Header(session, HeaderMode::Picture) == 0) ++pictures;
  session->frame_count = pictures;
}
void countOneSample(mpeg_in_info* session, audio_count /*how*/) {
  session->audio_samples = 1;
}

std::string probeText(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffprobe", "-v", "error", "-select_streams", "a:0"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(path);
  return quillion::test::toolOutput(argv);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == ',' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

std::string probeStreamField(const std::string& path, const char* field) {
  const auto out =
      lines(probeText(path, {"-show_entries", std::string("stream=") + field, "-of", "csv=p=0"}));
  return out.empty() ? "" : out[0];
}

// The smallest of the first packets: the frame size without a padding slot.
std::uint32_t smallestPacket(const std::string& path) {
  const auto sizes = lines(probeText(
      path, {"-read_intervals", "%+#8", "-show_entries", "packet=size", "-of", "csv=p=0"}));
  std::uint32_t least = ~0u;
  for (const auto& s : sizes) least = std::min<std::uint32_t>(least, std::stoul(s));
  return least;
}

class BrindleAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    gAudioErrors = &errors_;
    open_services s = installed_open_services();
    ASSERT_EQ(s.parse_audio_header, &Parse_Audio_Header);
    s.count_video_quick = &countPicturesForAudio;
    s.count_audio = &countOneSample;
    previous_ = install_open_services(s);
  }
  void TearDown() override {
    if (record_) mpegInFree(record_);
    install_open_services(previous_);
    gAudioErrors = nullptr;
  }

  std::string make(const std::string& name, const std::vector<std::string>& args) {
    const std::string path = dir_.file(name).string();
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path);
    EXPECT_EQ(quillion::test::runTool(argv).exitCode, 0) << name;
    return path;
  }

  // mpegInOpen with the audio decoding option; 0 or 1.
  int openFile(const std::string& path) {
    record_ = mpegInNew(&audioRc, nullptr);
    record_->options = 4;
    return mpegInOpen(record_, path.c_str());
  }

  // mpegInGetInfo: the facts of an open that keeps no file open, into a caller's record.
  int describe(const std::string& path) {
    mpegInInfoInit(&info_);
    info_.get_rc = &audioRc;
    info_.options = 4;
    info_.file_name = path.c_str();
    return mpegInGetInfo(&info_);
  }

  mpeg_in_info info_{};
  TempDir dir_;
  std::vector<std::string> errors_;
  mpeg_in_info* record_ = nullptr;
  open_services previous_{};
};

// How the coded frame size is checked: against the smallest of ffprobe's first packets (the
// frame without a padding slot), against its first packet, or from the PCM facts.
enum class FrameCheck { SmallestPacket, FirstPacket, Pcm };

struct AudioCase {
  const char* name;
  const char* file;
  std::vector<std::string> args;
  std::uint32_t format;
  std::uint32_t layer;
  std::uint32_t id;             // the header's ID bit (ADTS: MPEG-2 1, MPEG-4 0)
  std::uint32_t bitRateFactor;  // ffprobe's bit rate over the record's field; 0: not compared
  FrameCheck frames;
};

void PrintTo(const AudioCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<std::string> tone(int rate, int channels, const std::vector<std::string>& more) {
  std::vector<std::string> a = {
      "-f",  "lavfi",
      "-i",  "sine=frequency=997:duration=1:sample_rate=" + std::to_string(rate),
      "-ac", std::to_string(channels)};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

class BrindleAudioFacts : public BrindleAudio, public ::testing::WithParamInterface<AudioCase> {};

TEST_P(BrindleAudioFacts, EqualFfprobes) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  FrameworkFolder frameworks(DASKIN_FOLDER);
  const AudioCase& c = GetParam();
  const std::string path = make(c.file, c.args);
  ASSERT_EQ(describe(path), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_info* r = &info_;
  ASSERT_EQ(r->audio_available, 1u);
  EXPECT_EQ(r->audio_format, c.format);
  EXPECT_EQ(r->audio_layer, c.layer);
  EXPECT_EQ(std::to_string(r->sample_rate), probeStreamField(path, "sample_rate"));
  EXPECT_EQ(std::to_string(r->audio_channels), probeStreamField(path, "channels"));
  EXPECT_EQ(r->bytes_per_sample_frame, 2 * r->audio_channels);
  EXPECT_EQ(r->audio_multichannel, r->audio_channels > 1 ? 1u : 0u);
  EXPECT_EQ(r->bits_per_sample, 16u);
  if (c.bitRateFactor) {
    EXPECT_EQ(std::to_string(std::uint64_t{r->audio_bit_rate} * c.bitRateFactor),
              probeStreamField(path, "bit_rate"));
  }
  if (c.frames == FrameCheck::Pcm) {
    EXPECT_EQ(r->coded_frame_size, r->samples_per_frame * r->bytes_per_sample_frame);
  } else {
    const auto samples = lines(probeText(
        path, {"-read_intervals", "%+#2", "-show_entries", "frame=nb_samples", "-of", "csv=p=0"}));
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(std::to_string(r->samples_per_frame), samples[0]);
    if (c.frames == FrameCheck::SmallestPacket) {
      EXPECT_EQ(r->coded_frame_size, smallestPacket(path));
    } else {
      const auto sizes = lines(probeText(
          path, {"-read_intervals", "%+#1", "-show_entries", "packet=size", "-of", "csv=p=0"}));
      ASSERT_FALSE(sizes.empty());
      EXPECT_EQ(std::to_string(r->coded_frame_size), sizes[0]);
    }
  }
  if (c.format <= kAudioLayer3) {
    EXPECT_EQ(r->audio_id, c.id);
    EXPECT_EQ(r->audio_header_length, 4u);
    EXPECT_EQ(r->audio_header[0], 0xFFu);
    EXPECT_EQ(r->audio_layer_bits, 4 - c.layer);
    EXPECT_EQ(r->audio_mode == 3, r->audio_channels == 1);
  } else if (c.format == kAudioAacMpeg2 || c.format == kAudioAacMpeg4) {
    EXPECT_EQ(r->aac, 1u);
    EXPECT_EQ(r->audio_id, c.id);
    EXPECT_EQ(r->audio_header_length, 7u);
    EXPECT_EQ(r->audio_mode, r->audio_channels);
    EXPECT_EQ(r->adts_frame_length, r->coded_frame_size);
  } else if (c.format == kAudioAc3) {
    EXPECT_EQ(r->audio_header_length, 84u);
    EXPECT_EQ(r->audio_header[0], 0x0Bu);
    EXPECT_EQ(r->audio_header[1], 0x77u);
    EXPECT_EQ(r->ac3_bsid, 8u);
  } else if (c.format == kAudioLpcm) {
    EXPECT_EQ(r->audio_header_length, 20u);
    EXPECT_EQ(r->private_header_count, 6u);
    EXPECT_EQ(r->private_header[0], 0xA0u);  // the first LPCM sub-stream
    EXPECT_EQ(r->audio_header[0] | r->audio_header[1] << 8, 1);
    EXPECT_EQ(r->audio_header[2], r->audio_channels);
  }
  EXPECT_TRUE(errors_.empty()) << errors_[0];
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BrindleAudioFacts,
    ::testing::Values(
        AudioCase{"Mp2Elementary", "a.mp2",
                  tone(44100, 2, {"-c:a", "mp2", "-b:a", "224k", "-f", "mp2"}), 2, 2, 1, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Mp2MonoProgram", "a.mpg",
                  tone(48000, 1, {"-c:a", "mp2", "-b:a", "96k", "-f", "mpeg"}), 2, 2, 1, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Mp2Transport", "a.ts",
                  tone(32000, 2, {"-c:a", "mp2", "-b:a", "128k", "-f", "mpegts"}), 2, 2, 1, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Mp2HalfRate", "h.mp2",
                  tone(24000, 2, {"-c:a", "mp2", "-b:a", "64k", "-f", "mp2"}), 2, 2, 0, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Mp3Mpeg1", "a.mp3",
                  tone(44100, 2,
                       {"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version",
                        "0", "-f", "mp3"}),
                  3, 3, 1, 1000, FrameCheck::SmallestPacket},
        AudioCase{"Mp3HalfRate", "lsf.mp3",
                  tone(22050, 1,
                       {"-c:a", "libmp3lame", "-b:a", "32k", "-write_xing", "0", "-id3v2_version",
                        "0", "-f", "mp3"}),
                  3, 3, 0, 1000, FrameCheck::SmallestPacket},
        AudioCase{"AacAdts", "a.aac", tone(44100, 2, {"-c:a", "aac", "-f", "adts"}), 7, 0, 0, 0,
                  FrameCheck::FirstPacket},
        AudioCase{"AacTransport", "aac.ts", tone(48000, 1, {"-c:a", "aac", "-f", "mpegts"}), 7, 0,
                  0, 0, FrameCheck::FirstPacket},
        AudioCase{"Ac3Elementary", "a.ac3",
                  tone(48000, 2, {"-c:a", "ac3", "-b:a", "192k", "-f", "ac3"}), 5, 0, 0, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Ac3MonoProgram", "ac3.vob",
                  tone(44100, 1, {"-c:a", "ac3", "-b:a", "96k", "-f", "vob"}), 5, 0, 0, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"Ac3Transport", "ac3.ts",
                  tone(32000, 2, {"-c:a", "ac3", "-b:a", "128k", "-f", "mpegts"}), 5, 0, 0, 1000,
                  FrameCheck::SmallestPacket},
        AudioCase{"LpcmProgram", "l.vob", tone(48000, 2, {"-c:a", "pcm_dvd", "-f", "vob"}), 4, 0, 0,
                  8000, FrameCheck::Pcm},
        AudioCase{"LpcmMonoProgram", "lm.vob", tone(48000, 1, {"-c:a", "pcm_dvd", "-f", "vob"}), 4,
                  0, 0, 8000, FrameCheck::Pcm}),
    [](const ::testing::TestParamInfo<AudioCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillion::brindle
