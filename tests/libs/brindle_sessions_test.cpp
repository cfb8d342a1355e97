// SPDX-License-Identifier: GPL-2.0-or-later
// Sessions opened by name, described, reopened, closed and freed over the real demultiplexer
// on inputs made by ffmpeg (elementary streams, program and transport streams and the VCD,
// SVCD and DVD targets). The counters of the open sequence are test doubles that count the
// picture headers the session's own header parser reads, so the frame count they give is
// checked against ffprobe like every other fact of the record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "brindle_harness.h"
#include "frameworks.h"
#include "gop_buffers.h"
#include "index_chunks.h"
#include "open_scan.h"
#include "scan_services.h"
#include "session.h"
#include "stream_parser.h"
#include "tests/support/test_support.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace {

using quillion::test::TempDir;
using test::FrameworkFolder;

std::vector<std::string>* gSessionErrors = nullptr;
int gQuickCounts = 0;
int gIndexBuilds = 0;
bool gQuickCountsNothing = false;
int gPromptAnswer = 0;

__attribute__((format(printf, 1, 2))) void sessionErrorPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = quillion::test::formatted(format, args);
  va_end(args);
  if (gSessionErrors) gSessionErrors->push_back(std::move(line));
}
std::int32_t promptAnswer() {
  return gPromptAnswer;
}
void* sessionRc(const char* name) {
  if (std::strcmp(name, "err_printf") == 0) return reinterpret_cast<void*>(&sessionErrorPrinter);
  if (std::strcmp(name, "prompt_index_mode") == 0) return reinterpret_cast<void*>(&promptAnswer);
  return nullptr;
}

// The counters' doubles: the picture headers of the positioned video stream.
void countPictures(mpeg_in_info* session) {
  int pictures = 0;
  while (Get_Next_Header(session, HeaderMode::Picture) == 0) ++pictures;
  session->frame_count = pictures;
}
void quickCount(mpeg_in_info* session, bool /*systemStream*/) {
  ++gQuickCounts;
  if (!gQuickCountsNothing) countPictures(session);
}
void indexBuild(mpeg_in_info* session) {
  ++gIndexBuilds;
  countPictures(session);
}

class BrindleSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    gSessionErrors = &errors_;
    gQuickCounts = gIndexBuilds = 0;
    gQuickCountsNothing = false;
    gPromptAnswer = 0;
    open_services counters{};
    counters.count_video_quick = &quickCount;
    counters.build_video_index = &indexBuild;
    previous_ = install_open_services(counters);
  }
  void TearDown() override {
    install_open_services(previous_);
    gSessionErrors = nullptr;
  }

  std::string make(const std::string& name, const std::vector<std::string>& args) {
    const std::string path = dir_.file(name).string();
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path);
    EXPECT_EQ(quillion::test::runTool(argv).exitCode, 0) << name;
    return path;
  }

  TempDir dir_;
  std::vector<std::string> errors_;
  open_services previous_{};
};

std::vector<std::string> videoOf(const char* size, const std::vector<std::string>& more) {
  std::vector<std::string> a = {"-f", "lavfi", "-i",
                                std::string("testsrc=duration=1:rate=25:size=") + size};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}
std::vector<std::string> withAudio(const char* size, const std::vector<std::string>& more) {
  std::vector<std::string> a = {
      "-f", "lavfi", "-i", std::string("testsrc=duration=1:rate=25:size=") + size,
      "-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=44100"};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

// One ffprobe line per stream, its fields by name.
using StreamFacts = std::map<std::string, std::string>;
std::vector<StreamFacts> probeStreams(const std::string& path) {
  const std::string out = quillion::test::toolOutput(
      {"ffprobe", "-v", "error", "-count_frames", "-show_entries",
       "stream=index,codec_type,codec_name,id,width,height,r_frame_rate,sample_aspect_ratio,"
       "display_aspect_ratio,bit_rate,nb_read_frames",
       "-of", "compact", path});
  std::vector<StreamFacts> streams;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    // Programs list their streams first; each stream counts once.
    if (line.rfind("stream|", 0) != 0) continue;
    StreamFacts facts;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      const auto eq = field.find('=');
      if (eq != std::string::npos) facts[field.substr(0, eq)] = field.substr(eq + 1);
    }
    bool seen = false;
    for (const StreamFacts& earlier : streams) seen = seen || earlier.at("index") == facts["index"];
    if (!seen) streams.push_back(facts);
  }
  return streams;
}

double ratio(const std::string& text) {
  const auto colon = text.find_first_of(":/");
  return std::stod(text.substr(0, colon)) / std::stod(text.substr(colon + 1));
}

// The aspect_ratio_information that gives ffprobe's sample and display aspect ratios.
void expectAspect(const mpeg_in_info* r, const StreamFacts& v) {
  if (r->mpeg2) {
    switch (r->aspect_ratio_information) {
      case 1:
        EXPECT_EQ(v.at("sample_aspect_ratio"), "1:1");
        break;
      case 2:
        EXPECT_EQ(v.at("display_aspect_ratio"), "4:3");
        break;
      case 3:
        EXPECT_EQ(v.at("display_aspect_ratio"), "16:9");
        break;
      default:
        ADD_FAILURE() << "aspect " << r->aspect_ratio_information;
    }
    return;
  }
  // MPEG-1 codes give the pel aspect ratio, height over width.
  static const double kPel[15] = {0,      1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                                  0.9157, 0.9815, 1.0255, 1.0695, 1.0950, 1.1575, 1.2015};
  ASSERT_GT(r->aspect_ratio_information, 0u);
  ASSERT_LT(r->aspect_ratio_information, 15u);
  EXPECT_NEAR(1.0 / kPel[r->aspect_ratio_information], ratio(v.at("sample_aspect_ratio")), 0.01);
}

void expectVideoFacts(const mpeg_in_info* r, const StreamFacts& v) {
  EXPECT_EQ(std::to_string(r->width), v.at("width"));
  EXPECT_EQ(std::to_string(r->height), v.at("height"));
  EXPECT_NEAR(r->frame_rate, ratio(v.at("r_frame_rate")), 1e-9);
  EXPECT_EQ(r->mpeg2 ? "mpeg2video" : "mpeg1video", v.at("codec_name"));
  if (v.at("bit_rate") != "N/A") {
    EXPECT_EQ(r->bit_rate, std::stod(v.at("bit_rate")));
  }
  expectAspect(r, v);
}

struct InputCase {
  const char* name;
  const char* file;
  bool audio;  // a test tone beside the picture
  const char* size;
  std::vector<std::string> args;
  std::uint32_t systemType;
  std::uint32_t streamType;
};

void PrintTo(const InputCase& c, std::ostream* os) {
  *os << c.name;
}

class BrindleInputs : public BrindleSessions, public ::testing::WithParamInterface<InputCase> {};

TEST_P(BrindleInputs, OpenDescribeCloseAndFreeGiveFfprobesFacts) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  FrameworkFolder frameworks(DASKIN_FOLDER);
  const InputCase& c = GetParam();
  const std::string path =
      make(c.file, c.audio ? withAudio(c.size, c.args) : videoOf(c.size, c.args));
  const std::vector<StreamFacts> streams = probeStreams(path);
  const StreamFacts* video = nullptr;
  std::uint32_t mpegAudio = 0, ac3Audio = 0;
  std::vector<unsigned long> audioIds;
  for (const StreamFacts& s : streams) {
    if (s.at("codec_type") == "video" && !video) video = &s;
    if (s.at("codec_type") == "audio" && s.at("codec_name") == "mp2") {
      ++mpegAudio;
      if (s.at("id") != "N/A") audioIds.push_back(std::stoul(s.at("id"), nullptr, 16));
    }
    if (s.at("codec_type") == "audio" && s.at("codec_name") == "ac3") ++ac3Audio;
  }
  ASSERT_NE(video, nullptr);

  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  EXPECT_EQ(r->open, 1u);
  EXPECT_EQ(r->system_stream_type, c.systemType);
  EXPECT_EQ(r->video_available, 1u);
  EXPECT_EQ(r->video_stream_count, 1u);
  EXPECT_EQ(std::to_string(r->frame_count), video->at("nb_read_frames"));
  expectVideoFacts(r, *video);
  EXPECT_EQ(r->whole_frame_rate, static_cast<std::int64_t>(std::ceil(r->frame_rate)));
  EXPECT_EQ(r->audio_stream_count, mpegAudio);
  // The frameworks folder holds the AC-3 decoder too, so AC-3 streams are kept.
  EXPECT_EQ(r->ac3_stream_count, ac3Audio);
  if (c.systemType == 3) {
    EXPECT_EQ(r->video_pids[0], std::stoul(video->at("id"), nullptr, 16));
    ASSERT_EQ(audioIds.size(), mpegAudio);
    for (std::uint32_t i = 0; i < mpegAudio; ++i) EXPECT_EQ(r->audio_pids[i], audioIds[i]);
  } else if (c.systemType != 0) {
    EXPECT_EQ(r->video_stream_mask, 1u << (std::stoul(video->at("id"), nullptr, 16) % 32));
  }
  EXPECT_EQ(r->stream_type_code, c.streamType);
  EXPECT_EQ(r->sequence_header_length, 150u);
  EXPECT_NE(r->priv->pictures[0].planes[0], nullptr);
  EXPECT_EQ(r->priv->handlers.video, video_decode_handler::reorder);
  mpegInClose(r);
  EXPECT_EQ(r->open, 0u);
  EXPECT_EQ(r->priv->demux, nullptr);
  EXPECT_EQ(r->priv->pictures[0].planes[0], nullptr);
  mpegInFree(r);

  // The same facts without keeping the file open, in a record the caller built.
  mpeg_in_info info{};
  mpegInInfoInit(&info);
  info.get_rc = &sessionRc;
  info.fourcc = MPEG_IN_FOURCC_BGRA;
  info.file_name = path.c_str();
  ASSERT_EQ(mpegInGetInfo(&info), 0) << (errors_.empty() ? "" : errors_[0]);
  EXPECT_EQ(info.open, 0u);
  EXPECT_EQ(info.priv, nullptr);
  EXPECT_EQ(info.system_stream_type, c.systemType);
  expectVideoFacts(&info, *video);
  EXPECT_EQ(info.stream_type_code, c.streamType);
  EXPECT_EQ(info.audio_stream_count, mpegAudio);
  EXPECT_TRUE(errors_.empty()) << errors_[0];
}

// The stream-type codes are those the video alone gives: the sessions here read no audio
// header, so the audio stays out of the classification.
// clang-format off
const InputCase kInputs[] = {
    {"Mpeg1Es", "a.m1v", false, "352x288", {"-frames:v", "10", "-c:v", "mpeg1video", "-f", "mpeg1video"}, 0, 0},
    {"Mpeg2Es", "a.m2v", false, "352x288", {"-frames:v", "12", "-c:v", "mpeg2video", "-bf", "2", "-b:v", "3M", "-f", "mpeg2video"}, 0, 2},
    {"Mpeg2Wide", "w.m2v", false, "720x576", {"-frames:v", "6", "-c:v", "mpeg2video", "-aspect", "16:9", "-f", "mpeg2video"}, 0, 2},
    {"Mpeg1System", "a.mpg", true, "352x288", {"-frames:v", "10", "-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}, 1, 0},
    {"ProgramStream", "a.vob", true, "352x288", {"-frames:v", "10", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}, 2, 2},
    {"TransportStream", "a.ts", true, "352x288", {"-frames:v", "10", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts"}, 3, 2},
    {"VcdTarget", "vcd.mpg", true, "352x288", {"-target", "pal-vcd", "-frames:v", "10"}, 1, 0},
    {"SvcdTarget", "svcd.mpg", true, "480x576", {"-target", "pal-svcd", "-aspect", "4:3", "-frames:v", "10"}, 2, 2},
    {"DvdTarget", "dvd.mpg", true, "720x576", {"-target", "pal-dvd", "-aspect", "4:3", "-frames:v", "10"}, 2, 4},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Generated, BrindleInputs, ::testing::ValuesIn(kInputs),
                         [](const auto& p) { return std::string(p.param.name); });

class BrindleReuse : public BrindleSessions {
 protected:
  void SetUp() override {
    BrindleSessions::SetUp();
    if (!quillion::test::toolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    path_ = make("reuse.m2v",
                 videoOf("176x144", {"-frames:v", "6", "-c:v", "mpeg2video", "-f", "mpeg2video"}));
    record_ = mpegInNew(&sessionRc, nullptr);
  }
  void TearDown() override {
    if (record_) mpegInFree(record_);
    BrindleSessions::TearDown();
  }
  std::string path_;
  mpeg_in_info* record_ = nullptr;
};

TEST_F(BrindleReuse, AnUnchangedFileReopensWithoutCounting) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  EXPECT_EQ(gQuickCounts, 1);
  mpegInClose(record_);
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  EXPECT_EQ(gQuickCounts, 1);  // reused
  EXPECT_EQ(record_->frame_count, 6);
  EXPECT_EQ(record_->video_stream_count, 1u);
  EXPECT_NE(record_->priv->pictures[0].planes[0], nullptr);
  mpegInClose(record_);
  ASSERT_EQ(mpegInOpen(record_, nullptr), 0);  // the stored name
  EXPECT_EQ(gQuickCounts, 1);
  mpegInClose(record_);

  // A new modification time, even one nanosecond later, is a changed file.
  const auto when = std::filesystem::last_write_time(path_);
  std::filesystem::last_write_time(path_, when + std::chrono::nanoseconds(1));
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  EXPECT_EQ(gQuickCounts, 2);
  mpegInClose(record_);

  record_->chosen_audio_stream = 2;  // another choice of stream is another open
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  EXPECT_EQ(gQuickCounts, 3);
  mpegInClose(record_);

  record_->quick_scan = 0;  // full indexes asked for: no reuse, and the index is built
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  EXPECT_EQ(gQuickCounts, 3);
  EXPECT_EQ(gIndexBuilds, 1);
  EXPECT_EQ(record_->frame_count, 6);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(BrindleReuse, AnOpenSessionIsRefusedAndKeepsItsFile) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  void* const demux = record_->priv->demux;
  EXPECT_EQ(mpegInOpen(record_, path_.c_str()), 1);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "An MPEG file is already open");
  EXPECT_EQ(record_->open, 1u);
  EXPECT_EQ(static_cast<void*>(record_->priv->demux), demux);
  EXPECT_NE(record_->priv->pictures[0].planes[0], nullptr);
  EXPECT_EQ(record_->frame_count, 6);
  record_->file_name = path_.c_str();
  EXPECT_EQ(mpegInGetInfo(record_), 1);
  EXPECT_EQ(mpegInOpenMPEG(record_), 1);
  ASSERT_EQ(errors_.size(), 3u);
  EXPECT_EQ(errors_[2], "An MPEG file is already open");
  // The file is still read through the session.
  Reset_Parser(record_, &record_->priv->video, 0);
  EXPECT_EQ(Get_Next_Header(record_, HeaderMode::Picture), 0);
}

TEST_F(BrindleReuse, ShortCountsFollowTheIndexModePolicy) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  gQuickCountsNothing = true;
  struct PolicyCase {
    std::uint32_t policy;
    int prompt;
    int result;
    std::uint32_t refused;
    int builds;
  };
  std::uint32_t choice = 100;  // a new option word each time, so no open reuses the last
  for (const PolicyCase c : {PolicyCase{0, 0, 0, 0, 1}, PolicyCase{1, 0, 1, 1, 0},
                             PolicyCase{2, 0, 1, 1, 0}, PolicyCase{2, 1, 0, 0, 1}}) {
    record_->identity_option = ++choice;
    gIndexBuilds = 0;
    gPromptAnswer = c.prompt;
    record_->index_mode_policy = c.policy;
    record_->full_scan_refused = 0;
    EXPECT_EQ(mpegInOpen(record_, path_.c_str()), c.result) << c.policy << c.prompt;
    EXPECT_EQ(record_->full_scan_refused, c.refused);
    EXPECT_EQ(gIndexBuilds, c.builds);
    EXPECT_EQ(record_->open, c.result == 0 ? 1u : 0u);
    if (c.result == 0) {
      EXPECT_EQ(record_->frame_count, 6);
    }
    mpegInClose(record_);
  }
  EXPECT_TRUE(errors_.empty());

  // Nothing counted even by the index: the file has nothing to read.
  install_open_services(open_services{});
  record_->index_mode_policy = 0;
  record_->identity_option = ++choice;
  EXPECT_EQ(mpegInOpen(record_, path_.c_str()), 1);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Unable to find any audio or video data in input file");
  EXPECT_EQ(record_->open, 0u);
  EXPECT_EQ(record_->priv->demux, nullptr);
}

TEST_F(BrindleReuse, NamesAreCheckedBeforeAnythingOpens) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  const std::string tooLong(1024, 'a');
  struct NameCase {
    const char* name;
    const char* message;
  };
  for (const NameCase c :
       {NameCase{nullptr, "No input file specified"}, NameCase{"", "No filename specified"},
        NameCase{tooLong.c_str(), "Unable to handle filename length"}}) {
    errors_.clear();
    EXPECT_EQ(mpegInOpen(record_, c.name), 1);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], c.message);
    EXPECT_EQ(record_->open, 0u);
  }
  mpeg_in_info info{};
  mpegInInfoInit(&info);
  info.get_rc = &sessionRc;
  for (const NameCase c : {NameCase{"", "No filename specified"},
                           NameCase{tooLong.c_str(), "Unable to handle filename length"}}) {
    errors_.clear();
    info.file_name = c.name;
    EXPECT_EQ(mpegInGetInfo(&info), 1);
    EXPECT_EQ(mpegInOpenPrimary(&sessionRc, &info), 1);
    ASSERT_EQ(errors_.size(), 2u);
    EXPECT_EQ(errors_[0], c.message);
    EXPECT_EQ(info.priv, nullptr);
  }
  EXPECT_EQ(mpegInOpenPrimary(&sessionRc, nullptr), 1);
}

TEST_F(BrindleReuse, RecordDrivenOpenGivesAndTakesThePrivatePart) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  mpeg_in_info info{};
  mpegInInfoInit(&info);
  info.fourcc = MPEG_IN_FOURCC_I420;
  info.file_name = path_.c_str();
  ASSERT_EQ(mpegInOpenPrimary(&sessionRc, &info), 0) << (errors_.empty() ? "" : errors_[0]);
  ASSERT_NE(info.priv, nullptr);
  EXPECT_EQ(info.priv->inside_block, 0u);
  EXPECT_EQ(info.open, 1u);
  EXPECT_EQ(info.frame_count, 6);
  EXPECT_EQ(info.plane_row_bytes, 176u);
  mpegInCloseMPEG(&info);
  EXPECT_EQ(info.open, 0u);
  EXPECT_EQ(info.priv, nullptr);

  info.file_name = "/nonexistent/none.mpg";
  EXPECT_EQ(mpegInOpenMPEG(&info), 1);
  EXPECT_EQ(info.priv, nullptr);
  EXPECT_EQ(info.open, 0u);
}

// A secondary session reads the primary's file through its own parser and buffers, with copies
// of the primary's indexes; closing it leaves the primary as it was.
TEST_F(BrindleReuse, SecondarySessionsOwnWhatTheyUse) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0);
  // Two chunks of video index entries in the primary.
  index_chunk* chunks[2];
  for (int i = 0; i < 2; ++i) {
    chunks[i] = static_cast<index_chunk*>(std::calloc(1, sizeof(index_chunk)));
    chunks[i]->count = 3 + i;
    chunks[i]->data = std::calloc(chunks[i]->count, kVideoIndexEntryBytes);
    std::memset(chunks[i]->data, 0x40 + i, chunks[i]->count * kVideoIndexEntryBytes);
  }
  chunks[0]->next = chunks[1];
  chunks[1]->previous = chunks[0];
  record_->priv->video_index = chunks[0];

  for (bool ownBlock : {false, true}) {
    mpeg_in_info plain{};
    mpeg_in_info* second = ownBlock ? mpegInNew(&sessionRc, nullptr) : &plain;
    mpeg_in_private* home = second->priv;
    if (!ownBlock) second->fourcc = MPEG_IN_FOURCC_YV12;
    ASSERT_EQ(mpegInOpenSecondary(second, record_), 0) << (errors_.empty() ? "" : errors_[0]);
    mpeg_in_private* p = second->priv;
    EXPECT_NE(p, record_->priv);
    EXPECT_EQ(second->open, 1u);
    EXPECT_EQ(p->use_all_frames, 1u);
    EXPECT_EQ(p->handlers.video, video_decode_handler::whole_gops);
    EXPECT_EQ(p->handlers.audio, audio_decode_handler::whole_gops);
    EXPECT_EQ(second->fourcc, ownBlock ? static_cast<std::uint32_t>(MPEG_IN_FOURCC_BGRA)
                                       : static_cast<std::uint32_t>(MPEG_IN_FOURCC_YV12));
    EXPECT_EQ(second->frame_count, 6);
    EXPECT_EQ(second->frame_buffer, nullptr);
    EXPECT_NE(static_cast<void*>(p->demux), static_cast<void*>(record_->priv->demux));
    EXPECT_NE(p->pictures[0].planes[0], record_->priv->pictures[0].planes[0]);
    // Decoding from whole GOPs, the secondary has GOP buffers of its own.
    EXPECT_NE(p->gops[0].data, nullptr);
    EXPECT_NE(p->gops[1].data, nullptr);
    EXPECT_NE(p->gop_fifo, nullptr);
    EXPECT_EQ(record_->priv->gops[0].data, nullptr);
    ASSERT_NE(p->video_index, nullptr);
    EXPECT_NE(p->video_index, chunks[0]);
    ASSERT_NE(p->video_index->next, nullptr);
    EXPECT_EQ(p->video_index->next->previous, p->video_index);
    EXPECT_EQ(p->video_index->next->count, 4u);
    EXPECT_EQ(std::memcmp(p->video_index->next->data, chunks[1]->data, 4 * kVideoIndexEntryBytes),
              0);
    EXPECT_EQ(p->video_index->next->next, nullptr);
    int pictures = 0;
    Reset_Parser(second, &p->video, 0);
    while (Get_Next_Header(second, HeaderMode::Picture) == 0) ++pictures;
    EXPECT_EQ(pictures, 6);
    EXPECT_EQ(mpegInOpenSecondary(second, record_), 1);  // already open
    if (ownBlock) {
      mpegInFree(second);  // closes the secondary and releases its block
    } else {
      mpegInCloseSecondary(second);
      EXPECT_EQ(second->open, 0u);
      EXPECT_EQ(second->priv, home);
    }
  }
  EXPECT_EQ(record_->open, 1u);
  EXPECT_NE(record_->priv->demux, nullptr);
  int pictures = 0;
  Reset_Parser(record_, &record_->priv->video, 0);
  while (Get_Next_Header(record_, HeaderMode::Picture) == 0) ++pictures;
  EXPECT_EQ(pictures, 6);
  // The index lists are released with the session, through the session's free.
  record_->priv->video_index = nullptr;
  bool ok = false;
  record_->priv->video_index = copy_index_chunks(record_, chunks[0], kVideoIndexEntryBytes, ok);
  EXPECT_TRUE(ok);
  for (index_chunk* c : chunks) {
    std::free(c->data);
    std::free(c);
  }
  mpeg_in_info closed{};
  EXPECT_EQ(mpegInOpenSecondary(&closed, nullptr), 1);
  mpeg_in_info notOpen{};
  mpegInInfoInit(&notOpen);
  EXPECT_EQ(mpegInOpenSecondary(&closed, &notOpen), 1);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

// The MXF branch over a stand-in demultiplexer that reads the file as one video stream and
// lists the audio streams the environment names.
class BrindleMxf : public BrindleSessions {
 protected:
  void SetUp() override {
    BrindleSessions::SetUp();
    const char* audio = std::getenv("QUILLION_TEST_MXF_AUDIO");
    if (audio) saved_ = audio;
  }
  void TearDown() override {
    if (saved_)
      ::setenv("QUILLION_TEST_MXF_AUDIO", saved_->c_str(), 1);
    else
      ::unsetenv("QUILLION_TEST_MXF_AUDIO");
    BrindleSessions::TearDown();
  }
  std::optional<std::string> saved_;
};

TEST_F(BrindleMxf, MxfFilesOpenThroughTheMxfDemultiplexer) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  FrameworkFolder frameworks(TEST_VARLOW_FOLDER);
  ::setenv("QUILLION_TEST_MXF_AUDIO", "2232", 1);
  const std::string es = make(
      "clip.m2v", videoOf("352x288", {"-frames:v", "7", "-c:v", "mpeg2video", "-f", "mpeg2video"}));
  const std::string path = dir_.file("clip.mxf").string();
  std::filesystem::copy_file(es, path);
  const StreamFacts video = probeStreams(es).at(0);

  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_private* p = r->priv;
  EXPECT_NE(p->mxf_demux, nullptr);
  EXPECT_EQ(p->demux, nullptr);
  EXPECT_EQ(p->kinds.mxf, 1u);
  EXPECT_EQ(r->system_stream_type, 5u);
  EXPECT_EQ(r->file_size, std::filesystem::file_size(path));
  EXPECT_EQ(r->video_stream_count, 1u);
  EXPECT_EQ(r->video_stream_mask, 1u << (0xE0 % 32));
  EXPECT_EQ(std::to_string(r->frame_count), video.at("nb_read_frames"));
  expectVideoFacts(r, video);
  // Four audio streams in their table's first places; the last one listed sets the facts.
  EXPECT_EQ(r->aes3_stream_count, 4u);
  EXPECT_EQ(r->aes3_stream_mask, 0xFu);
  EXPECT_EQ(p->streams.aes3[1].stream, 2u);
  EXPECT_EQ(p->streams.aes3[3].stream, 4u);
  EXPECT_EQ(p->mxf_note[0], 7u);
  EXPECT_EQ(p->mxf_note[1], 9u);
  // The audio stream has no header reader in these sessions and is dropped.
  EXPECT_EQ(r->audio_available, 0u);
  EXPECT_EQ(p->audio.demux_parser, 0);
  mpegInSleepFiles(r);
  EXPECT_EQ(mpegInWakeFiles(r), 0);
  mpegInClose(r);
  EXPECT_EQ(p->mxf_demux, nullptr);
  EXPECT_EQ(p->frameworks[static_cast<int>(Framework::Varlow)].lib.loaded, 0u);
  EXPECT_EQ(p->varlow.Seek, nullptr);
  mpegInFree(r);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(BrindleMxf, MoreAudioStreamsThanTheTableHoldsAreLeftOut) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  FrameworkFolder frameworks(TEST_VARLOW_FOLDER);
  ::setenv("QUILLION_TEST_MXF_AUDIO", "2222222222", 1);  // ten
  const std::string es = make(
      "clip.m2v", videoOf("176x144", {"-frames:v", "3", "-c:v", "mpeg2video", "-f", "mpeg2video"}));
  const std::string path = dir_.file("clip.MXF").string();
  std::filesystem::copy_file(es, path);
  mpeg_in_info info{};
  mpegInInfoInit(&info);
  info.get_rc = &sessionRc;
  info.fourcc = MPEG_IN_FOURCC_BGRA;
  info.file_name = path.c_str();
  ASSERT_EQ(mpegInGetInfo(&info), 0) << (errors_.empty() ? "" : errors_[0]);
  EXPECT_EQ(info.aes3_stream_count, 8u);
  EXPECT_EQ(info.aes3_stream_mask, 0xFFu);
  EXPECT_EQ(info.audio_format, 11u);
  EXPECT_EQ(info.audio_channels, 8u);
  EXPECT_EQ(info.width, 176u);
  EXPECT_EQ(info.priv, nullptr);
}

TEST_F(BrindleMxf, WithoutTheMxfDemultiplexerMxfFilesAreRefused) {
  TempDir empty;
  FrameworkFolder frameworks(empty.path().string());
  const std::string path = dir_.file("none.mxf").string();
  quillion::test::writeFile(path, std::string_view("not read"));
  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  EXPECT_EQ(mpegInOpen(r, path.c_str()), 1);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Unable to load MXF demuxer");
  EXPECT_EQ(r->open, 0u);
  mpegInFree(r);
}

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

TEST(BrindleGopBuffers, SizesFromBitRateDisplayRateAndGopLength) {
  struct SizeCase {
    double bitRate;
    double displayRate;
    std::uint32_t gopLength;
    std::int32_t size;
  };
  for (const SizeCase c : {SizeCase{8e6, 25.0, 12, 600000},  // 40,000 bytes a picture
                           SizeCase{1150000.0, 25.0, 15, 107812},
                           SizeCase{15e6, 29.97, 18, 1407645}, SizeCase{0.0, 25.0, 12, 1048576},
                           SizeCase{8e6, 0.0, 12, 1048576},  // no rate: no division by it
                           SizeCase{8e6, 25.0, 0, 1048576},
                           SizeCase{4.2e11, 1.0, 1024, 1048576}}) {  // beyond the capacity word
    mpeg_in_info* r = mpegInNew(nullptr, nullptr);
    r->bit_rate = c.bitRate;
    r->display_rate = c.displayRate;
    r->gop_length = c.gopLength;
    EXPECT_EQ(gop_buffer_size(r), c.size) << c.bitRate << " " << c.displayRate;
    mpegInFree(r);
  }
}

TEST_F(BrindleReuse, UseAllFramesSessionsHaveGopBuffersUntilClose) {
  FrameworkFolder frameworks(DASKIN_FOLDER);
  record_->use_all_frames = 1;
  ASSERT_EQ(mpegInOpen(record_, path_.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_private* p = record_->priv;
  EXPECT_EQ(p->handlers.video, video_decode_handler::whole_gops);
  for (const gop_record& g : p->gops) {
    EXPECT_NE(g.data, nullptr);
    EXPECT_EQ(g.capacity, gop_buffer_size(record_));
  }
  ASSERT_NE(p->gop_fifo, nullptr);
  std::uint8_t* const first = p->gops[0].data;
  EXPECT_EQ(Alloc_Gop_Buffers(record_), 0);  // existing buffers stay
  EXPECT_EQ(p->gops[0].data, first);
  mpegInClose(record_);
  EXPECT_EQ(p->gops[0].data, nullptr);
  EXPECT_EQ(p->gops[1].data, nullptr);
  EXPECT_EQ(p->gop_fifo, nullptr);

  static std::uint8_t frame[4];
  record_->external_frame_buffer = frame;
  EXPECT_EQ(mpegInOpen(record_, path_.c_str()), 1);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "An external frame buffer must not be used with the use all frames option");
  EXPECT_EQ(record_->open, 0u);
  record_->external_frame_buffer = nullptr;
}

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

// With an AC-3 decoder framework beside the demultiplexer the DVD target's AC-3 stream is
// listed; without one it is left out silently (the input cases above).
TEST_F(BrindleSessions, Ac3StreamsAreListedWhenTheirDecoderIsThere) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir folder;
  std::filesystem::copy_file(std::filesystem::path(DASKIN_FOLDER) / "Daskin.so",
                             folder.file("Daskin.so"));
  std::filesystem::copy_file(TEST_KESTRIN, folder.file("Kestrin.so"));
  FrameworkFolder frameworks(folder.path().string());
  const std::string path = make(
      "dvd.mpg", withAudio("720x576", {"-target", "pal-dvd", "-aspect", "4:3", "-frames:v", "6"}));
  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  EXPECT_EQ(r->ac3_stream_count, 1u);
  EXPECT_EQ(r->ac3_stream_mask, 1u << (0x80 % 32));
  EXPECT_EQ(r->priv->streams.ac3[0].sub_stream_id, 0x80);
  // The probe loads the framework and lets it go again.
  EXPECT_EQ(r->priv->frameworks[static_cast<int>(Framework::Kestrin)].lib.loaded, 0u);
  mpegInFree(r);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

// A DVD programme with a subpicture stream muxed in by spumux: the session keeps the stream
// and positions it at its first time stamp, which equals ffprobe's first packet time.
TEST_F(BrindleSessions, SubpicturesStartAtTheirFirstTimeStamp) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("spumux");
  FrameworkFolder frameworks(DASKIN_FOLDER);
  const std::string plain =
      make("plain.mpg",
           withAudio("720x576", {"-target", "pal-dvd", "-aspect", "4:3", "-frames:v", "15"}));
  make("sub.png", {"-f", "lavfi", "-i",
                   "color=c=black:s=720x576,drawbox=x=100:y=400:w=200:h=50:color=white:t=fill",
                   "-frames:v", "1", "-pix_fmt", "pal8"});
  quillion::test::writeFile(dir_.file("sub.xml"),
                            std::string_view("<subpictures><stream><spu start=\"00:00:00.20\" "
                                             "end=\"00:00:00.36\" image=\"sub.png\" "
                                             "transparent=\"000000\"/></stream></subpictures>"));
  quillion::test::ToolOptions options;
  options.workingDirectory = dir_.path();
  options.environment = {{"VIDEO_FORMAT", "PAL"}};
  ASSERT_EQ(
      quillion::test::runTool({"sh", "-c", "spumux -s0 sub.xml < plain.mpg > sub.mpg"}, options)
          .exitCode,
      0);
  const std::string path = dir_.file("sub.mpg").string();
  const std::string firstPts = quillion::test::toolOutput(
      {"ffprobe", "-v", "error", "-select_streams", "s:0", "-show_entries", "packet=pts", "-of",
       "csv=p=0", "-read_intervals", "%+#1", path});
  ASSERT_FALSE(firstPts.empty());

  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  EXPECT_EQ(r->subpictures_available, 1u);
  EXPECT_EQ(r->subpicture_stream_count, 1u);
  EXPECT_EQ(r->subpicture_stream_mask, 1u << (0x20 % 32));
  EXPECT_EQ(r->subpicture_time, std::stoull(firstPts) * 300);
  EXPECT_NE(r->priv->subpicture.demux_parser, 0);
  mpegInClose(r);
  EXPECT_EQ(r->priv->subpicture.demux_parser, 0);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0);  // reused: the stream is bound again
  EXPECT_EQ(gQuickCounts, 1);
  EXPECT_EQ(r->subpictures_available, 1u);
  EXPECT_NE(r->priv->subpicture.demux_parser, 0);
  mpegInClose(r);
  EXPECT_EQ(r->priv->subpicture.demux_output, nullptr);
  mpegInFree(r);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace quillion::brindle

namespace quillion::brindle {
namespace {

std::vector<audio_count> gAudioCounts;

// Stand-ins for the audio header reader and counter: MPEG audio Layer II whose samples only
// the full index finds.
int fakeAudioHeader(mpeg_in_info* session) {
  session->audio_format = 2;
  session->audio_layer = 2;
  session->audio_id = 1;
  session->audio_layer_bits = 2;
  session->samples_per_frame = 1152;
  session->bytes_per_sample_frame = 4;
  return 0;
}
void fakeAudioCount(mpeg_in_info* session, audio_count how) {
  gAudioCounts.push_back(how);
  if (how == audio_count::full_index) session->audio_samples = 44100;
}

TEST_F(BrindleSessions, AudioShortOfSamplesRepeatsTheScanInIndexMode) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  FrameworkFolder frameworks(DASKIN_FOLDER);
  open_services s = installed_open_services();
  s.parse_audio_header = &fakeAudioHeader;
  s.count_audio = &fakeAudioCount;
  install_open_services(s);
  gAudioCounts.clear();
  const std::string path = make(
      "av.mpg",
      withAudio("176x144", {"-frames:v", "5", "-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}));
  mpeg_in_info* r = mpegInNew(&sessionRc, nullptr);
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0) << (errors_.empty() ? "" : errors_[0]);
  // The quick pass counted the frames and made the picture buffers; the second pass made them
  // again (the sanitizer's leak check holds the first ones to account).
  EXPECT_EQ(gQuickCounts, 1);
  EXPECT_EQ(gIndexBuilds, 1);
  EXPECT_EQ(gAudioCounts,
            (std::vector<audio_count>{audio_count::time_stamps, audio_count::full_index}));
  EXPECT_EQ(r->priv->index_mode, 1u);
  EXPECT_EQ(r->frame_count, 5);
  EXPECT_EQ(r->audio_available, 1u);
  EXPECT_EQ(r->audio_samples, 44100u);
  EXPECT_EQ(r->audio_samples_low, 44100u);
  EXPECT_NE(r->priv->audio_frame_buffer, nullptr);
  EXPECT_EQ(r->priv->audio_time, -1.0);
  EXPECT_NE(r->priv->pictures[0].planes[0], nullptr);
  mpegInClose(r);
  EXPECT_EQ(r->priv->audio_frame_buffer, nullptr);

  // Layer III is no audio source: the session opens with its video only.
  s.parse_audio_header = [](mpeg_in_info* session) {
    fakeAudioHeader(session);
    session->audio_format = 3;
    session->audio_layer = 3;
    return 0;
  };
  install_open_services(s);
  r->identity_option = 1;
  ASSERT_EQ(mpegInOpen(r, path.c_str()), 0);
  EXPECT_EQ(r->audio_available, 0u);
  EXPECT_EQ(r->priv->audio.demux_parser, 0);
  EXPECT_EQ(r->video_available, 1u);
  mpegInFree(r);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace quillion::brindle
