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
// The scan also gives the pictures per GOP: the distance between the first two I pictures.
void countPicturesForAudio(mpeg_in_info* session, bool /*systemStream*/) {
  int pictures = 0;
  std::vector<int> intra;
  while (Get_Next_Header(session, HeaderMode::Picture) == 0) {
    if (session->picture_coding_type == 1) intra.push_back(pictures);
    ++pictures;
  }
  session->frame_count = pictures;
  session->gop_length = intra.size() >= 2 ? static_cast<std::uint32_t>(intra[1] - intra[0]) : 0;
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

// Every frame of an opened program stream is found once, in order, and the first takes the
// time stamp of its packet (27 MHz ticks).
struct FinderCase {
  const char* name;
  const char* file;
  std::vector<std::string> args;
  int (*finder)(mpeg_in_info*);
};

void PrintTo(const FinderCase& c, std::ostream* os) {
  *os << c.name;
}

class BrindleAudioFinders : public BrindleAudio,
                            public ::testing::WithParamInterface<FinderCase> {};

TEST_P(BrindleAudioFinders, FindEveryFrameOfAProgramStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  FrameworkFolder frameworks(DASKIN_FOLDER);
  const FinderCase& c = GetParam();
  const std::string path = make(c.file, c.args);
  ASSERT_EQ(openFile(path), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_info* r = record_;
  ASSERT_EQ(r->audio_available, 1u);
  Reset_Parser(r, &r->priv->audio, 0);
  r->priv->audio_time = -1.0;
  int found = 0;
  double firstTime = -1.0;
  std::uint64_t last = 0;
  int result = 0;
  while ((result = c.finder(r)) == 0) {
    if (found == 0) firstTime = r->priv->audio_time;
    if (found > 0) {
      EXPECT_GT(r->priv->audio_header.header_byte_position, last);
    }
    last = r->priv->audio_header.header_byte_position;
    ++found;
  }
  EXPECT_EQ(result, 2);
  const auto packets = lines(probeText(path, {"-show_entries", "packet=pts", "-of", "csv=p=0"}));
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(found, static_cast<int>(packets.size()));
  EXPECT_EQ(firstTime, std::stod(packets[0]) * 300.0);
  mpegInClose(r);
}

INSTANTIATE_TEST_SUITE_P(
    Finders, BrindleAudioFinders,
    ::testing::Values(FinderCase{"LayerTwo", "f.mpg",
                                 tone(48000, 2, {"-c:a", "mp2", "-b:a", "192k", "-f", "mpeg"}),
                                 &Next_Mpeg_Audio_Header},
                      FinderCase{"Ac3", "f.vob",
                                 tone(48000, 2, {"-c:a", "ac3", "-b:a", "192k", "-f", "vob"}),
                                 &Next_Ac3_Header}),
    [](const ::testing::TestParamInfo<FinderCase>& p) { return std::string(p.param.name); });

// The disc targets of ffmpeg through a whole open: the classification takes the audio facts
// the open reads. Super Video CD and DVD with MPEG audio ask for Layer II with CRC, which
// twolame writes (ffmpeg's encoder writes none); Super Video CD also asks for interlaced video.
struct DiscCase {
  const char* name;
  const char* file;
  const char* size;
  std::vector<std::string> args;
  int audioRate;
  bool twolameAudio;
  std::uint32_t audioFormat;
  std::uint32_t streamType;
};

void PrintTo(const DiscCase& c, std::ostream* os) {
  *os << c.name;
}

class BrindleDiscTargets : public BrindleAudio, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(BrindleDiscTargets, ClassifyWithTheirAudio) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  const DiscCase& c = GetParam();
  FrameworkFolder frameworks(DASKIN_FOLDER);
  std::vector<std::string> args = {"-f", "lavfi", "-i",
                                   std::string("testsrc=duration=1:rate=25:size=") + c.size};
  const std::string rate = std::to_string(c.audioRate);
  if (c.twolameAudio) {
    QUILLION_REQUIRE_TOOL("twolame");
    const std::string wav = make(
        "tone.wav",
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=" + rate, "-ac", "2"});
    const std::string mp2 = dir_.file("crc.mp2").string();
    ASSERT_EQ(
        quillion::test::runTool({"twolame", "--quiet", "-b", "224", "-p", "-m", "s", wav, mp2})
            .exitCode,
        0);
    args.insert(args.end(), {"-i", mp2});
  } else {
    args.insert(args.end(),
                {"-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=" + rate});
  }
  args.insert(args.end(), c.args.begin(), c.args.end());
  if (c.twolameAudio) args.insert(args.end(), {"-c:a", "copy"});
  args.insert(args.end(), {"-frames:v", "20"});
  const std::string path = make(c.file, args);

  ASSERT_EQ(openFile(path), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_info* r = record_;
  ASSERT_EQ(r->audio_available, 1u);
  EXPECT_EQ(r->audio_format, c.audioFormat);
  EXPECT_EQ(std::to_string(r->sample_rate), probeStreamField(path, "sample_rate"));
  EXPECT_EQ(std::to_string(r->audio_bit_rate * 1000), probeStreamField(path, "bit_rate"));
  EXPECT_GT(r->gop_length, 0u);
  EXPECT_EQ(r->stream_type_code, c.streamType);
  mpegInClose(r);
  EXPECT_TRUE(errors_.empty()) << errors_[0];
}

const std::vector<std::string> kInterlaced = {"-flags", "+ilme+ildct", "-top", "1"};

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Targets, BrindleDiscTargets,
    ::testing::Values(
        // ffmpeg sets the constrained-parameters flag of its Video CD streams only with a
        // motion search range below 128.
        DiscCase{"VideoCd", "vcd.mpg", "352x288", {"-target", "pal-vcd", "-me_range", "64"}, 44100, false, 2, 1},
        DiscCase{"VideoCdWithoutConstrainedParameters", "vcd0.mpg", "352x288", {"-target", "pal-vcd"}, 44100, false, 2, 0},
        DiscCase{"SuperVideoCd", "svcd.mpg", "480x576", join({"-target", "pal-svcd", "-aspect", "4:3"}, kInterlaced), 44100, true, 2, 3},
        DiscCase{"SuperVideoCdWithoutAudioCrc", "svcd0.mpg", "480x576", join({"-target", "pal-svcd", "-aspect", "4:3"}, kInterlaced), 44100, false, 2, 2},
        DiscCase{"DvdWithAc3", "dvd.mpg", "720x576", {"-target", "pal-dvd", "-aspect", "4:3"}, 48000, false, 5, 4},
        DiscCase{"DvdWithLayerTwo", "dvd2.mpg", "720x576", {"-target", "pal-dvd", "-aspect", "4:3"}, 48000, true, 2, 4},
        DiscCase{"DvdWithLayerTwoWithoutCrc", "dvd3.mpg", "720x576", {"-target", "pal-dvd", "-aspect", "4:3", "-c:a", "mp2", "-b:a", "224k"}, 48000, false, 2, 2}),
    [](const ::testing::TestParamInfo<DiscCase>& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

// A session whose audio parser reads a scripted chunk source, with the stream list of one
// audio kind.
class ScriptedAudio {
 public:
  enum class Kind { Mpeg, Lpcm, Ac3, Aes3 };

  ScriptedAudio(Kind kind, std::uint32_t aes3Kind = 0) : record_(mpegInNew(&audioRc, nullptr)) {
    mpeg_in_private* p = record_->priv;
    p->audio.demux_output = source.stream();
    p->audio.demux_parser = 1;
    p->demux = reinterpret_cast<demux_context*>(&source);
    p->daskin.Seek = &ChunkSource::seek;
    switch (kind) {
      case Kind::Mpeg:
        record_->audio_stream_count = 1;
        break;
      case Kind::Lpcm:
        record_->lpcm_stream_count = 1;
        break;
      case Kind::Ac3:
        record_->ac3_stream_count = 1;
        break;
      case Kind::Aes3:
        record_->aes3_stream_count = 1;
        record_->audio_format = aes3Kind;
        break;
    }
  }
  ~ScriptedAudio() { mpegInFree(record_); }
  ScriptedAudio(const ScriptedAudio&) = delete;
  ScriptedAudio& operator=(const ScriptedAudio&) = delete;

  int parse() {
    Reset_Parser(record_, &record_->priv->audio, 0);
    return Parse_Audio_Header(record_);
  }
  mpeg_in_info* record() { return record_; }

  ChunkSource source;

 private:
  mpeg_in_info* record_;
};

using Bytes = std::vector<std::uint8_t>;

void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// `count` frames of `length` bytes, each the 4 header bytes then zeros.
Bytes frames(std::uint32_t header, std::size_t length, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    Bytes frame(length, 0);
    for (int b = 0; b < 4; ++b) frame[b] = static_cast<std::uint8_t>(header >> (24 - 8 * b));
    append(out, frame);
  }
  return out;
}

// MPEG-1 Layer II, 224 kbit/s, 44.1 kHz, stereo: 731 bytes without the padding slot.
constexpr std::uint32_t kLayer2 = 0xFFFDB000u;

class BrindleAudioScripted : public ::testing::Test {
 protected:
  void SetUp() override { gAudioErrors = &errors_; }
  void TearDown() override { gAudioErrors = nullptr; }
  std::vector<std::string> errors_;
};

// A sync inside data whose announced frame is not followed by another header is passed over:
// the search resumes one byte behind it, whatever the chunk sizes.
TEST_F(BrindleAudioScripted, FalseSyncIsRefusedByTheFollowingFrame) {
  for (const std::size_t chunk : {std::size_t{4096}, std::size_t{7}, std::size_t{1}}) {
    Bytes data = {0x12, 0xFF, 0xFD, 0x90, 0x00, 0x34};  // 160 kbit/s: 522 bytes announced
    append(data, frames(kLayer2, 731, 3));
    ScriptedAudio audio(ScriptedAudio::Kind::Mpeg);
    audio.source.cut(data, {chunk});
    ASSERT_EQ(audio.parse(), 0) << chunk;
    mpeg_in_info* r = audio.record();
    EXPECT_EQ(r->audio_bit_rate_index, 11u);
    EXPECT_EQ(r->audio_bit_rate, 224u);
    EXPECT_EQ(r->coded_frame_size, 731u);
    EXPECT_EQ(r->audio_format, 2u);
    EXPECT_EQ(r->audio_mode, 0u);
    EXPECT_EQ(r->audio_channels, 2u);
    EXPECT_NEAR(r->priv->audio_header.average_frame_bytes, 1152 * 224 / (8 * 44.1), 1e-9);
    EXPECT_EQ((Bytes{r->audio_header, r->audio_header + 4}), (Bytes{0xFF, 0xFD, 0xB0, 0x00}));
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(BrindleAudioScripted, PaddedFirstFrameIsAccepted) {
  Bytes data = frames(kLayer2 | 0x200u, 732, 1);
  append(data, frames(kLayer2, 731, 2));
  ScriptedAudio audio(ScriptedAudio::Kind::Mpeg);
  audio.source.cut(data, {100});
  ASSERT_EQ(audio.parse(), 0);
  EXPECT_EQ(audio.record()->audio_padding_bit, 1u);
  EXPECT_EQ(audio.record()->coded_frame_size, 731u);
}

struct RefusalCase {
  const char* name;
  ScriptedAudio::Kind kind;
  Bytes data;
  std::uint8_t extraCount;
  Bytes extra;
  std::uint32_t flags;
  std::uint32_t aes3Kind;
  std::uint64_t aes3Length;
  const char* message;  // "" for a silent refusal
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

Bytes freeFormat() {
  // Index 0 is measured as 1000 kbit/s: 3265 bytes at 44.1 kHz.
  return frames(0xFFFD0000u, 3265, 2);
}

Bytes lpcmData() {
  return Bytes(320, 0);
}

class BrindleAudioRefusals : public BrindleAudioScripted,
                             public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(BrindleAudioRefusals, GiveOneWithTheirMessage) {
  const RefusalCase& c = GetParam();
  ScriptedAudio audio(c.kind, c.aes3Kind);
  audio.source.cut(c.data, {c.data.size() + 1});
  test::ScriptedChunk& first = audio.source.chunks.front();
  first.extra = c.extra;
  first.extraCount = c.extraCount;
  first.flags = c.flags;
  first.aes3Length = c.aes3Length;
  EXPECT_EQ(audio.parse(), 1);
  if (*c.message) {
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], c.message);
  } else {
    EXPECT_TRUE(errors_.empty()) << errors_[0];
  }
}

using K = ScriptedAudio::Kind;
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Headers, BrindleAudioRefusals,
    ::testing::Values(
        RefusalCase{"FreeFormat", K::Mpeg, freeFormat(), 0, {}, 0, 0, 0, "Cannot handle free-form MPEG bitrate"},
        // Headers that cannot start a frame are stepped over by the search itself.
        RefusalCase{"BitRateFifteen", K::Mpeg, frames(0xFFFDF000u, 731, 3), 0, {}, 0, 0, 0, ""},
        RefusalCase{"FrequencyThree", K::Mpeg, frames(0xFFFDBC00u, 731, 3), 0, {}, 0, 0, 0, ""},
        RefusalCase{"HalfSampleRateExtension", K::Mpeg, frames(0xFFE3B000u, 731, 3), 0, {}, 0, 0, 0, ""},
        RefusalCase{"AdtsFrequencyThirteen", K::Mpeg, frames(0xFFF13400u | 0x80u | 200u >> 11, 200, 3), 0, {}, 0, 0, 0, ""},
        // A length shorter than the header is no frame, not a skip of almost 4 GiB.
        RefusalCase{"AdtsLengthBelowHeader", K::Mpeg, Bytes{0xFF, 0xF1, 0x50, 0x80, 0x00, 0x7F, 0xFC, 0xFF, 0xF1, 0x50, 0x80}, 0, {}, 0, 0, 0, ""},
        RefusalCase{"AdtsSixChannels", K::Mpeg, [] {
                      // 200-byte frames, channel configuration 6.
                      Bytes d(3 * 200, 0);
                      for (int i = 0; i < 3; ++i) {
                        const Bytes h = {0xFF, 0xF1, 0x51, 0x80, 0x19, 0x1F, 0xFC};
                        std::copy(h.begin(), h.end(), d.begin() + 200 * i);
                      }
                      return d;
                    }(), 0, {}, 0, 0, 0, ""},
        RefusalCase{"NoAudioAtAll", K::Mpeg, Bytes(64, 0x55), 0, {}, 0, 0, 0, ""},
        RefusalCase{"LpcmWithoutItsPacketHeader", K::Lpcm, lpcmData(), 0, {}, 0, 0, 0, ""},
        RefusalCase{"LpcmQuantization", K::Lpcm, lpcmData(), 7, {0xA0, 1, 0, 4, 0, 0x41, 0x80}, 3, 0, 0, "Unsupported PCM quantization"},
        RefusalCase{"LpcmFrequency", K::Lpcm, lpcmData(), 7, {0xA0, 1, 0, 4, 0, 0x21, 0x80}, 3, 0, 0, "Invalid PCM frequency"},
        RefusalCase{"LpcmChannels", K::Lpcm, lpcmData(), 7, {0xA0, 1, 0, 4, 0, 0x05, 0x80}, 3, 0, 0, "Unsupported number of PCM channels"},
        RefusalCase{"Aes3WithoutPayload", K::Aes3, lpcmData(), 4, {0x01, 0x40, 0x00, 0x10}, 1, 10, 0, ""},
        RefusalCase{"Aes3PayloadShorterThanASampleGroup", K::Aes3, lpcmData(), 4, {0x01, 0x40, 0x00, 0x10}, 1, 10, 4, ""},
        RefusalCase{"Smpte302mQuantization", K::Aes3, lpcmData(), 4, {0x01, 0x40, 0x00, 0x30}, 1, 10, 320, "Unsupported AES3 quantization"},
        RefusalCase{"MxfPcmQuantization", K::Aes3, lpcmData(), 4, {0, 0, 0, 0}, 1, 12, 320, "Unsupported AES3 quantization"},
        RefusalCase{"MxfElementWithoutValidChannels", K::Aes3, lpcmData(), 4, {0, 0, 0, 0x00}, 1, 11, 320, "Unsupported AES3 type"},
        RefusalCase{"Aes3OtherKind", K::Aes3, lpcmData(), 4, {0, 0, 0, 0xFF}, 1, 9, 320, "Unsupported AES3 type"},
        RefusalCase{"Ac3SyncWithoutFrames", K::Ac3, Bytes{0x0B, 0x77, 0, 0, 0xC0, 0x40, 0x40, 0, 0x0B, 0x77}, 0, {}, 0, 0, 0, ""}),
    [](const ::testing::TestParamInfo<RefusalCase>& p) { return std::string(p.param.name); });
// clang-format on

// ffmpeg's AC-3 read in both byte orders gives the same facts; the swapped stream is captured
// as it stands.
TEST_F(BrindleAudioScripted, ByteSwappedAc3GivesTheSameFacts) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string path = dir.file("a.ac3").string();
  ASSERT_EQ(quillion::test::runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=997:duration=1:sample_rate=44100", "-ac", "1",
                                     "-c:a", "ac3", "-b:a", "96k", "-f", "ac3", path})
                .exitCode,
            0);
  const Bytes plain = quillion::test::readFile(path);
  Bytes swapped = plain;
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  ScriptedAudio a(ScriptedAudio::Kind::Ac3);
  a.source.cut(plain, {1000});
  ScriptedAudio b(ScriptedAudio::Kind::Ac3);
  b.source.cut(swapped, {333});
  ASSERT_EQ(a.parse(), 0);
  ASSERT_EQ(b.parse(), 0);
  const mpeg_in_info* x = a.record();
  const mpeg_in_info* y = b.record();
  EXPECT_EQ(x->priv->audio_header.byte_swapped, 0u);
  EXPECT_EQ(y->priv->audio_header.byte_swapped, 1u);
  EXPECT_EQ(x->sample_rate, 44100u);
  EXPECT_EQ(x->audio_channels, 1u);
  EXPECT_EQ(x->ac3_acmod, 1u);
  EXPECT_EQ(x->audio_bit_rate, 96u);
  EXPECT_EQ(x->ac3_fscod, 1u);
  // 44.1 kHz frames at 96 kbit/s are 208 or 209 words.
  EXPECT_EQ(x->coded_frame_size, 2u * (208 + (x->ac3_frmsizecod & 1u)));
  for (auto field :
       {&mpeg_in_info::sample_rate, &mpeg_in_info::audio_channels, &mpeg_in_info::audio_bit_rate,
        &mpeg_in_info::coded_frame_size, &mpeg_in_info::ac3_crc1, &mpeg_in_info::ac3_bsid,
        &mpeg_in_info::ac3_bsmod, &mpeg_in_info::ac3_dialnorm, &mpeg_in_info::ac3_lfeon,
        &mpeg_in_info::ac3_copyrightb, &mpeg_in_info::ac3_origbs, &mpeg_in_info::samples_per_frame})
    EXPECT_EQ(x->*field, y->*field);
  EXPECT_EQ((Bytes{x->audio_header, x->audio_header + 84}),
            (Bytes{plain.begin(), plain.begin() + 84}));
  EXPECT_EQ((Bytes{y->audio_header, y->audio_header + 84}),
            (Bytes{swapped.begin(), swapped.begin() + 84}));
  // Every later frame of the stream agrees with the first.
  const std::uint32_t next =
      std::uint32_t{swapped[4]} << 24 | swapped[5] << 16 | swapped[6] << 8 | swapped[7];
  EXPECT_EQ(Match_Ac3_Header(b.record(), next), 0);
  EXPECT_EQ(Match_Ac3_Header(b.record(), next ^ 0x00C00000u), 1);  // another fscod
  EXPECT_EQ(Match_Ac3_Header(b.record(), next ^ 0x000000E0u), 1);  // another acmod
}

// An AC-3 sync whose fscod is 3 is stepped over.
TEST_F(BrindleAudioScripted, Ac3FrequencyThreeIsSkippedBySearch) {
  Bytes data = {0x0B, 0x77, 0x00, 0x00, 0xD4, 0x40, 0x43, 0xC0};
  Bytes frame(768, 0);
  const Bytes head = {0x0B, 0x77, 0x12, 0x34, 0x14, 0x40, 0x43, 0xC0};
  std::copy(head.begin(), head.end(), frame.begin());
  for (int i = 0; i < 3; ++i) append(data, frame);
  ScriptedAudio audio(ScriptedAudio::Kind::Ac3);
  audio.source.cut(data, {50});
  ASSERT_EQ(audio.parse(), 0);
  const mpeg_in_info* r = audio.record();
  EXPECT_EQ(r->ac3_crc1, 0x1234u);
  EXPECT_EQ(r->ac3_frmsizecod, 20u);
  EXPECT_EQ(r->coded_frame_size, 768u);
  EXPECT_EQ(r->audio_bit_rate, 192u);
  EXPECT_EQ(r->ac3_acmod, 2u);
  EXPECT_EQ(r->ac3_dsurmod, 0u);
  EXPECT_EQ(r->audio_channels, 2u);
  EXPECT_EQ(r->audio_format, 5u);
  EXPECT_NEAR(r->priv->audio_header.average_frame_bytes, 768.0, 1e-9);
}

// With CRC the ADTS header is 9 bytes; the captured header stays 7.
TEST_F(BrindleAudioScripted, AdtsWithCrcCapturesSevenBytes) {
  Bytes data(3 * 200, 0);
  const Bytes head = {0xFF, 0xF8, 0x50, 0x80, 0x19, 0x1F, 0xFC, 0xAB, 0xCD};  // MPEG-2, CRC
  for (int i = 0; i < 3; ++i) std::copy(head.begin(), head.end(), data.begin() + 200 * i);
  ScriptedAudio audio(ScriptedAudio::Kind::Mpeg);
  audio.source.cut(data, {9});
  ASSERT_EQ(audio.parse(), 0);
  const mpeg_in_info* r = audio.record();
  EXPECT_EQ(r->audio_header_length, 7u);
  EXPECT_EQ((Bytes{r->audio_header, r->audio_header + 7}), (Bytes{head.begin(), head.begin() + 7}));
  EXPECT_EQ(r->audio_format, 6u);
  EXPECT_EQ(r->audio_protection_bit, 0u);
  EXPECT_EQ(r->adts_profile, 1u);
  EXPECT_EQ(r->sample_rate, 44100u);
  EXPECT_EQ(r->audio_channels, 2u);
  EXPECT_EQ(r->adts_frame_length, 200u);
  EXPECT_EQ(r->adts_buffer_fullness, 0x7FFu);
  EXPECT_EQ(r->aac, 1u);
  EXPECT_EQ(r->audio_layer, 0u);
  // A later header with another channel configuration is not this stream's.
  const std::uint32_t word = 0xFFF85080u;
  EXPECT_EQ(Match_Mpeg_Audio_Header(audio.record(), word), 0);
  EXPECT_EQ(Match_Mpeg_Audio_Header(audio.record(), word ^ 0x40u), 1);
}

TEST_F(BrindleAudioScripted, MpegMatchKeepsStreamFactsAndTakesFrameFields) {
  ScriptedAudio audio(ScriptedAudio::Kind::Mpeg);
  audio.source.cut(frames(kLayer2, 731, 3), {731});
  ASSERT_EQ(audio.parse(), 0);
  mpeg_in_info* r = audio.record();
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDA204u), 0);  // 192 kbit/s, padded, original
  EXPECT_EQ(r->audio_bit_rate_index, 10u);
  EXPECT_EQ(r->audio_padding_bit, 1u);
  EXPECT_EQ(r->audio_original, 1u);
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDF000u), 1);  // bit-rate index 15
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDB400u), 1);  // 48 kHz
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDB0C0u), 1);  // mono
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFF5B000u), 1);  // MPEG-2
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFBB000u), 1);  // Layer III
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDB040u), 0);  // joint stereo
  // The lock keeps the first header's index (11), whatever the last header had.
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDA000u), 0);
  r->priv->audio_header.constant_bit_rate = 1;
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDA000u), 1);
  EXPECT_EQ(Match_Mpeg_Audio_Header(r, 0xFFFDB000u), 0);
}

struct PcmCase {
  const char* name;
  ScriptedAudio::Kind kind;
  std::uint32_t aes3Kind;
  Bytes extra;
  std::uint32_t flags;
  std::uint64_t payload;
  std::uint32_t channels, bits, rate, bytesPerSampleFrame, samplesPerFrame, groupBytes, bitRate;
};

void PrintTo(const PcmCase& c, std::ostream* os) {
  *os << c.name;
}

class BrindlePcmHeaders : public BrindleAudioScripted,
                          public ::testing::WithParamInterface<PcmCase> {};

TEST_P(BrindlePcmHeaders, GiveTheirFacts) {
  const PcmCase& c = GetParam();
  ScriptedAudio audio(c.kind, c.aes3Kind);
  mpeg_in_info* r = audio.record();
  if (c.aes3Kind == kAudioAes3MxfPcm) {
    // The stream set-up stores the MXF descriptor's facts.
    r->audio_channels = c.channels;
    r->bits_per_sample = c.bits;
    r->sample_rate = c.rate;
  }
  audio.source.cut(Bytes(400, 0), {401});
  test::ScriptedChunk& first = audio.source.chunks.front();
  first.extra = c.extra;
  first.extraCount = static_cast<std::uint8_t>(c.extra.size());
  first.flags = c.flags;
  first.aes3Length = c.payload;
  ASSERT_EQ(audio.parse(), 0);
  EXPECT_EQ(r->audio_channels, c.channels);
  EXPECT_EQ(r->bits_per_sample, c.bits);
  EXPECT_EQ(r->sample_rate, c.rate);
  EXPECT_EQ(r->bytes_per_sample_frame, c.bytesPerSampleFrame);
  EXPECT_EQ(r->samples_per_frame, c.samplesPerFrame);
  EXPECT_EQ(r->coded_frame_size, c.samplesPerFrame * c.bytesPerSampleFrame);
  EXPECT_EQ(r->audio_bit_rate, c.bitRate);
  EXPECT_EQ(r->audio_multichannel, c.channels > 1 ? 1u : 0u);
  EXPECT_EQ(r->priv->audio_header.sample_group_bytes, c.groupBytes);
  EXPECT_EQ(r->private_header_count, 6u);
  EXPECT_EQ((Bytes{r->private_header, r->private_header + 4}),
            (Bytes{c.extra.begin(), c.extra.begin() + 4}));
  // The wave format record.
  const std::uint8_t* h = r->audio_header;
  ASSERT_EQ(r->audio_header_length, 20u);
  EXPECT_EQ(h[0] | h[1] << 8, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(h[2] | h[3] << 8), c.channels);
  EXPECT_EQ(static_cast<std::uint32_t>(h[4] | h[5] << 8 | h[6] << 16 | h[7] << 24), c.rate);
  EXPECT_EQ(static_cast<std::uint32_t>(h[8] | h[9] << 8 | h[10] << 16 | h[11] << 24),
            c.rate * c.bytesPerSampleFrame);
  EXPECT_EQ(static_cast<std::uint32_t>(h[12] | h[13] << 8), c.bytesPerSampleFrame);
  EXPECT_EQ(static_cast<std::uint32_t>(h[14] | h[15] << 8), c.bits);
  EXPECT_TRUE(std::all_of(h + 16, h + 20, [](std::uint8_t b) { return b == 0; }));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Kinds, BrindlePcmHeaders,
    ::testing::Values(
        PcmCase{"Lpcm96kHzStereo", K::Lpcm, 0, {0xA0, 1, 0, 4, 0, 0x11, 0x80}, 3, 0, 2, 16, 96000, 4, 160, 0, 384},
        PcmCase{"Lpcm48kHzMono", K::Lpcm, 0, {0xA0, 1, 0, 4, 0x80, 0x00, 0x80}, 3, 0, 1, 16, 48000, 2, 80, 0, 96},
        PcmCase{"Smpte302mSixChannels20Bits", K::Aes3, 10, {0x07, 0x08, 0x80, 0x10}, 1, 1800, 6, 20, 48000, 18, 100, 18, 18 * 384},
        PcmCase{"Smpte302mStereo16Bits", K::Aes3, 10, {0x07, 0x08, 0x00, 0x00}, 1, 1000, 2, 16, 48000, 4, 200, 5, 4 * 384},
        PcmCase{"MxfElementFourChannels", K::Aes3, 11, {0, 0, 0, 0x0F}, 1, 3200, 4, 24, 48000, 12, 100, 32, 12 * 384},
        PcmCase{"MxfPcm24Bits", K::Aes3, 12, {0, 0, 0, 0}, 1, 3000, 2, 24, 48000, 6, 1000, 3, 6 * 384}),
    [](const ::testing::TestParamInfo<PcmCase>& p) { return std::string(p.param.name); });
// clang-format on

// The audio words keep their distances in the public record.
TEST(BrindleAudioRecord, AudioFieldsKeepTheirOffsets) {
  const auto at = [](std::size_t offset, std::size_t base) { return offset - base; };
  const std::size_t channels = offsetof(mpeg_in_info, audio_channels);
  EXPECT_EQ(at(offsetof(mpeg_in_info, adts_profile), channels), 3236u - 3232u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, coded_frame_size), channels), 3244u - 3232u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, samples_per_frame), channels), 3248u - 3232u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, audio_protection_bit), channels), 3264u - 3232u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, audio_emphasis), channels), 3296u - 3232u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, aac), channels), 3300u - 3232u);
  const std::size_t format = offsetof(mpeg_in_info, audio_format);
  EXPECT_EQ(at(offsetof(mpeg_in_info, lpcm_emphasis), format), 20060u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, lpcm_dynamic_range), format), 20080u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_crc1), format), 20084u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_acmod), format), 20104u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_cmixlev), format), 20108u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_timecod2), format), 20208u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_addbsie), format), 20212u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_addbsil), format), 20216u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, ac3_addbsi), format), 20220u - 20056u);
  EXPECT_EQ(at(offsetof(mpeg_in_info, split_flag), format), 20284u - 20056u);
  const std::size_t header = offsetof(mpeg_in_info, audio_header_length);
  EXPECT_EQ(at(offsetof(mpeg_in_info, private_header_count), header), 20008u - 19920u);
  EXPECT_EQ(at(format, header), 20056u - 19920u);
}

}  // namespace
}  // namespace quillion::brindle
