// SPDX-License-Identifier: GPL-2.0-or-later
// Push mode: the access units the file-mode readers find in an elementary stream, written
// into fifos and announced as a producer announces them, give the same program stream byte
// for byte as the file-mode job over the same files, from one producer thread or from two.
// The readiness rule, the failed flag and the flush at Done are checked on the same streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "corvel_support.h"
#include "services.h"
#include "stream_headers.h"
#include "unit_readers.h"

namespace quillion::test::corvel {
namespace {

using quillion::corvel::AccessUnit;

// Constant-rate video: its sequence header carries the rate, as a producer's does.
const std::vector<std::string> kMpeg1Video = {
    "-f",       "lavfi",      "-i",       "testsrc=size=352x288:rate=25:duration=1.2",
    "-c:v",     "mpeg1video", "-b:v",     "1150k",
    "-minrate", "1150k",      "-maxrate", "1150k",
    "-bufsize", "327k",       "-bf",      "2",
    "-g",       "12",         "-f",       "mpeg1video"};
const std::vector<std::string> kMpeg2Video = {
    "-f",       "lavfi",      "-i",       "testsrc=size=480x576:rate=25:duration=1.2",
    "-c:v",     "mpeg2video", "-b:v",     "2000k",
    "-minrate", "2000k",      "-maxrate", "2000k",
    "-bufsize", "1835k",      "-bf",      "2",
    "-g",       "12",         "-f",       "mpeg2video"};
const std::vector<std::string> kMp2 = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=44100:d=1.2", "-c:a", "mp2", "-b:a",
    "224k", "-f",    "mp2"};
const std::vector<std::string> kAc3 = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1.2", "-c:a", "ac3", "-b:a",
    "192k", "-f",    "ac3"};

constexpr std::uint32_t kPictureDone = 0xF0001;
constexpr std::uint32_t kAudioDone = 0xF0002;
constexpr std::uint32_t kStreamEnd = 0xF0080;

// One producer: its elementary stream, the units the file-mode reader finds in it, and the
// fifo it writes into.
class Producer {
 public:
  Producer(const std::filesystem::path& es, std::uint32_t kind, std::int32_t pulldown)
      : kind_(kind), bytes_(readFile(es)) {
    bufstream* units = open_file_buf_read(es.c_str(), 32768, nullptr);
    const auto services = quillion::mpeg::Services::resolve(nullptr);
    AccessUnit u;
    if (kind == STREAM_KIND_VIDEO) {
      if (quillion::corvel::analyseVideoHeader(units, 4096, 0, video_) == 0) {
        frameRateCode_ = static_cast<std::uint32_t>(video_.frameRateCode);
        quillion::corvel::VideoUnitReader reader(units, video_, pulldown, services);
        while (reader.next(u) == quillion::corvel::VideoUnitReader::Result::unit)
          units_.push_back(u);
      }
    } else if (quillion::corvel::analyseAudioHeader(units, 0, audio_) == 0) {
      quillion::corvel::AudioUnitReader reader(units, audio_);
      while (reader.next(u)) units_.push_back(u);
    }
    (void)close_file_buf(units, 0);
    // Room for the whole stream: a producer never waits here.
    fifo_ = new_fifo_buf(static_cast<std::uint32_t>(bytes_.size()) + 8192, 4097);
  }
  ~Producer() { free_fifo_buf(fifo_); }
  Producer(const Producer&) = delete;
  Producer& operator=(const Producer&) = delete;

  bufstream* reader() { return fifo_ + 1; }
  std::size_t unitCount() const { return units_.size(); }
  std::size_t pushed() const { return next_; }
  // The units cover the whole stream, so what is pushed is the file as it is.
  std::size_t unitBytes() const {
    std::size_t sum = 0;
    for (const AccessUnit& u : units_) sum += u.size;
    return sum;
  }
  std::size_t fileBytes() const { return bytes_.size(); }

  // Writes the next unit's bytes and announces it; the answers of the notices, the first
  // that is not 0 (or 0).
  std::int32_t pushNext() {
    const AccessUnit& u = units_[next_++];
    if (fifo_->copybytes(fifo_, bytes_.data() + offset_, u.size) != u.size) return -100;
    offset_ += u.size;
    if (kind_ != STREAM_KIND_VIDEO) {
      std::uint32_t w[3] = {u.size, static_cast<std::uint32_t>(u.pts),
                            static_cast<std::uint32_t>(u.pts >> 32)};
      return notice(kAudioDone, w, sizeof w);
    }
    std::int32_t r = 0;
    const auto send = [&](std::uint32_t code, void* data, std::uint32_t size) {
      if (r == 0) r = notice(code, data, size);
    };
    std::uint32_t header[6] = {0, frameRateCode_, 0, 0, 0, 0};
    if (u.flags & quillion::corvel::kUnitHasSequenceHeader) send(0x1B3, header, sizeof header);
    if (u.flags & quillion::corvel::kUnitHasGroup) send(0x1B8, nullptr, 0);
    std::uint32_t picture[3] = {0, u.temporalReference, u.repeatFirstField ? 1u : 0u};
    send(0x100, picture, sizeof picture);
    if (u.endsSequence) send(0x1B7, nullptr, 0);
    std::uint32_t done[8] = {u.size,
                             u.pictureType,
                             0,
                             0,
                             static_cast<std::uint32_t>(u.dts),
                             static_cast<std::uint32_t>(u.dts >> 32),
                             static_cast<std::uint32_t>(u.pts),
                             static_cast<std::uint32_t>(u.pts >> 32)};
    const std::uint32_t before[8] = {done[0], done[1], done[2], done[3],
                                     done[4], done[5], done[6], done[7]};
    send(kPictureDone, done, sizeof done);
    // The producer's own notice is left as it was sent.
    if (std::memcmp(before, done, sizeof done) != 0) return -200;
    return r;
  }
  std::int32_t pushAll() {
    std::int32_t r = 0;
    while (next_ < units_.size() && r == 0) r = pushNext();
    return r;
  }
  std::int32_t end() { return notice(kStreamEnd, nullptr, 0); }
  // A side notice carrying a value, as a producer passes the caller's on.
  std::int32_t sideNotice(std::uint32_t code, std::uint32_t value) {
    return fifo_->auxinfo(fifo_, value, code, nullptr, 0);
  }

 private:
  std::int32_t notice(std::uint32_t code, void* data, std::uint32_t size) {
    return fifo_->auxinfo(fifo_, 0, code, data, size);
  }

  std::uint32_t kind_;
  std::vector<std::uint8_t> bytes_;
  std::vector<AccessUnit> units_;
  quillion::corvel::VideoFacts video_;
  quillion::corvel::AudioFacts audio_;
  std::uint32_t frameRateCode_ = 0;
  bufstream* fifo_ = nullptr;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
};

struct PushCase {
  const char* name;
  std::int32_t preset;
  const std::vector<std::string>* video;
  const std::vector<std::string>* audio;
};

std::string caseName(const ::testing::TestParamInfo<PushCase>& info) {
  return info.param.name;
}

const PushCase kCases[] = {
    {"Mpeg1System", 0, &kMpeg1Video, &kMp2},      {"VideoCd", 1, &kMpeg1Video, &kMp2},
    {"Mpeg2Program", 2, &kMpeg2Video, &kAc3},     {"SuperVideoCd", 3, &kMpeg2Video, &kMp2},
    {"Mpeg2ProgramAudioOnly", 2, nullptr, &kMp2},
};

struct Job {
  TempDir dir;
  std::filesystem::path video, audio;
  mpeg_m_settings settings{};
  std::vector<std::uint8_t> fileMode;
};

// The files, and the program stream the file-mode job makes of them.
void prepareJob(const PushCase& c, Job& job) {
  if (c.video) job.video = makeEs(job.dir, "v.es", *c.video);
  job.audio = makeEs(job.dir, "a.es", *c.audio);
  ASSERT_NE(mpegOutMuxDefaults(&job.settings, c.preset), nullptr);
  std::vector<EsInput> inputs;
  if (c.video) inputs.push_back({job.video, STREAM_KIND_VIDEO, 0, 0});
  inputs.push_back({job.audio, STREAM_KIND_AUDIO, 0, 0});
  printed().clear();
  const auto out = job.dir.file("file.mpg");
  const MuxOutcome o = muxFiles(job.settings, inputs, out);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);
  job.fileMode = readFile(out);
  ASSERT_GT(job.fileMode.size(), 2048u * 10);
}

// A push-mode job over the job's files; `produce` pushes the units.
struct PushRun {
  std::unique_ptr<Producer> video, audio;
  MemoryOutput output;
  mpeg_m_muxer* mux = nullptr;
  std::int32_t init = -1;

  // Into `out` when given, else into `output`.
  explicit PushRun(const Job& job, bufstream* out = nullptr) {
    if (!job.video.empty())
      video = std::make_unique<Producer>(job.video, STREAM_KIND_VIDEO, job.settings.pulldown);
    audio = std::make_unique<Producer>(job.audio, STREAM_KIND_AUDIO, job.settings.pulldown);
    mux = mpegOutMuxNew(collectingRc, &job.settings);
    if (mux)
      init = mpegOutMuxInit(mux, out ? out : output.stream(), audio->reader(),
                            video ? video->reader() : nullptr);
  }
  ~PushRun() {
    // Done twice does no harm; a case that stopped early still releases its inputs.
    if (mux) (void)mpegOutMuxDone(mux, 1);
    mpegOutMuxFree(mux);
  }
  PushRun(const PushRun&) = delete;
  PushRun& operator=(const PushRun&) = delete;
};

void expectWholeStreams(const PushRun& run) {
  if (run.video) {
    ASSERT_GT(run.video->unitCount(), 20u);
    ASSERT_EQ(run.video->unitBytes(), run.video->fileBytes());
  }
  ASSERT_GT(run.audio->unitCount(), 20u);
  ASSERT_EQ(run.audio->unitBytes(), run.audio->fileBytes());
}

class CorvelPush : public ::testing::TestWithParam<PushCase> {};

TEST_P(CorvelPush, OneProducerThreadGivesTheFileModeStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(GetParam(), job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  ASSERT_NO_FATAL_FAILURE(expectWholeStreams(run));
  printed().clear();
  // Interleaved as an encoder pair would produce them: audio kept up with video.
  Producer* audio = run.audio.get();
  Producer* video = run.video.get();
  while ((video && video->pushed() < video->unitCount()) || audio->pushed() < audio->unitCount()) {
    if (video && video->pushed() < video->unitCount()) {
      ASSERT_EQ(video->pushNext(), 0);
    }
    const std::size_t due =
        video ? audio->unitCount() * video->pushed() / video->unitCount() : audio->unitCount();
    while (audio->pushed() < due) ASSERT_EQ(audio->pushNext(), 0);
  }
  if (video) {
    EXPECT_EQ(video->end(), 0);
  }
  EXPECT_EQ(audio->end(), 0);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
  EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
  EXPECT_EQ(run.output.bytes.size(), job.fileMode.size());
  EXPECT_TRUE(run.output.bytes == job.fileMode);
}

// A DVD into a file writer in both modes: the navigation packs, completed by the writer
// once the file is closed, are the same whichever way the units came.
TEST(CorvelPushDvd, NavigatedOutputEqualsFileMode) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const PushCase dvd{"Dvd", 4, &kMpeg2Video, &kAc3};
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(dvd, job));
  const auto path = job.dir.file("push.vob");
  bufstream* file = open_file_buf_write(path.c_str(), 32768, nullptr);
  ASSERT_NE(file, nullptr);
  {
    PushRun run(job, file);
    ASSERT_EQ(run.init, 0);
    printed().clear();
    Producer* audio = run.audio.get();
    Producer* video = run.video.get();
    while (video->pushed() < video->unitCount()) {
      ASSERT_EQ(video->pushNext(), 0);
      const std::size_t due = audio->unitCount() * video->pushed() / video->unitCount();
      while (audio->pushed() < due) ASSERT_EQ(audio->pushNext(), 0);
    }
    EXPECT_EQ(video->end(), 0);
    EXPECT_EQ(audio->end(), 0);
    EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
    EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
  }
  EXPECT_EQ(close_file_buf(file, 0), 0);
  const auto pushed = readFile(path);
  ASSERT_GT(pushed.size(), 2048u * 10);
  EXPECT_EQ(pushed.size(), job.fileMode.size());
  EXPECT_TRUE(pushed == job.fileMode);
  // The search information was filled in: the first unit points at the next one.
  const std::uint8_t* next = pushed.data() + 1345;
  EXPECT_EQ(next[0] & 0x80, 0x80);
}

// Cell marks a producer passes on queue in the navigation fifo; one that no longer fits is
// refused, and the job goes on.
TEST(CorvelPushDvd, CellMarksQueueUntilTheirFifoIsFull) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const PushCase dvd{"Dvd", 4, &kMpeg2Video, &kAc3};
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(dvd, job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  // 1,023 bytes of room: 255 marks of four bytes.
  for (std::uint32_t i = 0; i < 255; ++i) ASSERT_EQ(run.video->sideNotice(0xE0040, 900000 + i), 0);
  EXPECT_EQ(run.video->sideNotice(0xE0040, 1), -1);
  EXPECT_EQ(run.video->pushAll(), 0);
  EXPECT_EQ(run.audio->pushAll(), 0);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
  // Push mode announces the first cell at set-up; no mark was due within the stream.
  const auto cells = std::count_if(run.output.notices.begin(), run.output.notices.end(),
                                   [](const MemoryOutput::Notice& n) { return n.code == 0xE0080; });
  EXPECT_EQ(cells, 1);
}

class CorvelPushNested : public ::testing::TestWithParam<PushCase> {};

TEST_P(CorvelPushNested, NoticesDuringARunAreTakenByThatRun) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(GetParam(), job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  printed().clear();
  // All audio first: nothing can be written while video has no look-ahead.
  ASSERT_EQ(run.audio->pushAll(), 0);
  ASSERT_EQ(run.audio->end(), 0);
  EXPECT_TRUE(run.output.bytes.empty());
  // Then every further video unit is announced from inside the run that writes a pack, on
  // the producer's own thread: each such notice finds the run busy and leaves its unit to it.
  std::vector<std::int32_t> nested;
  bool inside = false;
  run.output.refuse = [&](const std::uint8_t*, std::uint32_t) {
    if (!inside && run.video->pushed() < run.video->unitCount()) {
      inside = true;
      nested.push_back(run.video->pushNext());
      inside = false;
    }
    return false;
  };
  ASSERT_EQ(run.video->pushNext(), 0);
  while (run.video->pushed() < run.video->unitCount()) ASSERT_EQ(run.video->pushNext(), 0);
  ASSERT_FALSE(nested.empty());
  for (std::int32_t r : nested) EXPECT_EQ(r, 0);
  EXPECT_EQ(run.video->end(), 0);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
  EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
  EXPECT_TRUE(run.output.bytes == job.fileMode);
}

INSTANTIATE_TEST_SUITE_P(Types, CorvelPush, ::testing::ValuesIn(kCases), caseName);
// The cases with a video producer whose packs reach the output as they are written (the
// Super Video CD scan information holds them back until Done).
INSTANTIATE_TEST_SUITE_P(Types, CorvelPushNested,
                         ::testing::Values(kCases[0], kCases[1], kCases[2]), caseName);

// Audio and video pushed from two threads, released together by a gate: whichever thread
// runs the multiplexer, the program stream is the file-mode one.
TEST(CorvelPushThreads, TwoProducerThreadsGiveTheFileModeStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(kCases[2], job));
  for (int round = 0; round < 3; ++round) {
    PushRun run(job);
    ASSERT_EQ(run.init, 0);
    printed().clear();
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    const auto produce = [open](Producer* p) {
      open.wait();
      std::int32_t r = p->pushAll();
      if (r == 0) r = p->end();
      return r;
    };
    auto v = std::async(std::launch::async, produce, run.video.get());
    auto a = std::async(std::launch::async, produce, run.audio.get());
    gate.set_value();
    EXPECT_EQ(v.get(), 0);
    EXPECT_EQ(a.get(), 0);
    EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
    EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
    EXPECT_TRUE(run.output.bytes == job.fileMode) << "round " << round;
  }
}

TEST(CorvelPushReadiness, NothingIsWrittenUntilEveryInputHasItsLookAhead) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(kCases[0], job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  ASSERT_EQ(run.video->pushAll(), 0);
  EXPECT_TRUE(run.output.bytes.empty());
  // Two audio frames are below twice a packet's payload; many are not.
  ASSERT_EQ(run.audio->pushNext(), 0);
  EXPECT_TRUE(run.output.bytes.empty());
  while (run.output.bytes.empty() && run.audio->pushed() < run.audio->unitCount())
    ASSERT_EQ(run.audio->pushNext(), 0);
  EXPECT_FALSE(run.output.bytes.empty());
  EXPECT_LT(run.audio->pushed(), run.audio->unitCount() / 2);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
}

TEST(CorvelPushFailure, AFailedRunRefusesEveryLaterNotice) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(kCases[0], job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  run.output.refuse = [](const std::uint8_t*, std::uint32_t) { return true; };
  printed().clear();
  // The notice whose run fails still answers 0; every notice after it, end included, -1.
  ASSERT_EQ(run.video->pushAll(), 0);
  std::int32_t r = 0;
  while (r == 0 && run.audio->pushed() < run.audio->unitCount()) r = run.audio->pushNext();
  ASSERT_EQ(r, -1);
  EXPECT_FALSE(printed().errors.empty());
  EXPECT_EQ(run.video->end(), -1);
  EXPECT_EQ(run.audio->end(), -1);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 1), 0);
}

TEST(CorvelPushDone, DoneMultiplexesWhatIsQueuedAndAbortWritesNoEnd) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(kCases[2], job));
  const std::uint8_t end[4] = {0, 0, 1, 0xB9};
  {
    // The producers stop without an end notice: Done takes every queued unit.
    PushRun run(job);
    ASSERT_EQ(run.init, 0);
    ASSERT_EQ(run.video->pushAll(), 0);
    ASSERT_EQ(run.audio->pushAll(), 0);
    EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
    EXPECT_TRUE(run.output.bytes == job.fileMode);
  }
  {
    PushRun run(job);
    ASSERT_EQ(run.init, 0);
    ASSERT_EQ(run.video->pushAll(), 0);
    ASSERT_EQ(run.audio->pushAll(), 0);
    const std::size_t before = run.output.bytes.size();
    EXPECT_EQ(mpegOutMuxDone(run.mux, 1), 0);
    EXPECT_EQ(run.output.bytes.size(), before);
    ASSERT_GE(run.output.bytes.size(), 4u);
    EXPECT_NE(std::memcmp(run.output.bytes.data() + run.output.bytes.size() - 4, end, 4), 0);
  }
}

TEST(CorvelPushDone, FinalUnitNoticeMultiplexesTheRestOfItsStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  Job job;
  ASSERT_NO_FATAL_FAILURE(prepareJob(kCases[0], job));
  PushRun run(job);
  ASSERT_EQ(run.init, 0);
  printed().clear();
  // Audio is held back, so the runs stop early and most pictures wait in the queue.
  ASSERT_EQ(run.video->pushAll(), 0);
  while (run.audio->pushed() < run.audio->unitCount() / 3) ASSERT_EQ(run.audio->pushNext(), 0);
  const std::size_t before = run.output.bytes.size();
  std::vector<std::uint8_t> video;
  run.output.refuse = [&](const std::uint8_t* p, std::uint32_t n) {
    // Video packets (stream 0xE0) in the packs written from here on.
    for (std::uint32_t i = 0; i + 4 <= n; ++i)
      if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xE0) video.push_back(1);
    return false;
  };
  ASSERT_EQ(run.video->reader()->auxinfo(run.video->reader(), 0, 0xE0004, nullptr, 0), 0);
  EXPECT_GT(run.output.bytes.size(), before);
  EXPECT_FALSE(video.empty());
  run.output.refuse = nullptr;
  ASSERT_EQ(run.audio->pushAll(), 0);
  EXPECT_EQ(run.audio->end(), 0);
  EXPECT_EQ(mpegOutMuxDone(run.mux, 0), 0);
  EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
}

// A subpicture unit: its length, the offset of its control sequence, then one control
// sequence that starts the display and ends.
std::vector<std::uint8_t> subpictureUnit(std::uint8_t fill, std::size_t size) {
  std::vector<std::uint8_t> u = {0x00, 0x0C, 0x00, 0x06, fill, fill,
                                 0x00, 0x00, 0x00, 0x06, 0x01, 0xFF};
  u.resize(size, fill);
  u[0] = static_cast<std::uint8_t>(size >> 8);
  u[1] = static_cast<std::uint8_t>(size);
  return u;
}

// Inputs added one by one to a stream output: video and subpictures pushed give what the
// file-mode job makes of the video and a subpicture file with the same units and times.
TEST(CorvelPushSubpictures, AddedStreamsGiveTheFileModeStream) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kMpeg2Video);
  const std::vector<std::vector<std::uint8_t>> units = {
      subpictureUnit(0x11, 12), subpictureUnit(0x44, 5000), subpictureUnit(0x22, 12)};
  const std::uint64_t times[] = {13500000, 27000000, 40500000};
  std::vector<std::uint8_t> file, es;
  for (std::size_t i = 0; i < units.size(); ++i) {
    for (int b = 7; b >= 0; --b) file.push_back(static_cast<std::uint8_t>(times[i] >> (8 * b)));
    file.insert(file.end(), units[i].begin(), units[i].end());
    es.insert(es.end(), units[i].begin(), units[i].end());
  }
  writeFile(dir.file("s.sub"), file);
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, 2), nullptr);
  printed().clear();
  const auto out = dir.file("file.mpg");
  const MuxOutcome o = muxFiles(
      settings,
      {{video, STREAM_KIND_VIDEO, 0, 0}, {dir.file("s.sub"), STREAM_KIND_SUBPICTURE | 8u, 0, 0}},
      out);
  ASSERT_EQ(o.run, 0) << (printed().errors.empty() ? "" : printed().errors[0]);

  Producer pictures(video, STREAM_KIND_VIDEO, settings.pulldown);
  bufstream* subpictures = new_fifo_buf(65536, 4097);
  ASSERT_NE(subpictures, nullptr);
  MemoryOutput output;
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitStream(mux, nullptr, output.stream()), 0);
  stream_settings v{}, sp{};
  v.kind = STREAM_KIND_VIDEO;
  sp.kind = STREAM_KIND_SUBPICTURE;
  ASSERT_EQ(mpegOutMuxAddStream(mux, &v, pictures.reader()), 0);
  ASSERT_EQ(mpegOutMuxAddStream(mux, &sp, subpictures + 1), 0);
  ASSERT_EQ(subpictures->copybytes(subpictures, es.data(), static_cast<std::uint32_t>(es.size())),
            es.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t w[3] = {static_cast<std::uint32_t>(units[i].size()),
                          static_cast<std::uint32_t>(times[i]),
                          static_cast<std::uint32_t>(times[i] >> 32)};
    EXPECT_EQ(subpictures->auxinfo(subpictures, 0, 0xF0004, w, sizeof w), 0);
  }
  EXPECT_EQ(subpictures->auxinfo(subpictures, 0, kStreamEnd, nullptr, 0), 0);
  EXPECT_EQ(pictures.pushAll(), 0);
  EXPECT_EQ(pictures.end(), 0);
  EXPECT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);
  free_fifo_buf(subpictures);
  EXPECT_TRUE(printed().errors.empty()) << printed().errors[0];
  EXPECT_TRUE(output.bytes == readFile(out));
  const std::uint8_t privateStream[4] = {0, 0, 1, 0xBD};
  EXPECT_NE(std::search(output.bytes.begin(), output.bytes.end(), privateStream, privateStream + 4),
            output.bytes.end())
      << "the subpictures are in the stream";
}

TEST(CorvelPushApi, RefusedSetUps) {
  mpeg_m_settings settings{};
  ASSERT_NE(mpegOutMuxDefaults(&settings, 2), nullptr);
  printed().clear();
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  MemoryOutput output;
  bufstream* fifo = new_fifo_buf(65536, 4097);
  EXPECT_EQ(mpegOutMuxInit(mux, nullptr, fifo + 1, nullptr), 16);
  EXPECT_TRUE(anyStartsWith(printed().errors, "M015:"));
  EXPECT_EQ(mpegOutMuxInit(mux, output.stream(), nullptr, nullptr), 16);
  EXPECT_TRUE(anyStartsWith(printed().errors, "M016:"));
  EXPECT_EQ(mpegOutMuxInitStream(mux, nullptr, nullptr), 16);
  ASSERT_EQ(mpegOutMuxInitStream(mux, nullptr, output.stream()), 0);
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  printed().clear();
  EXPECT_EQ(mpegOutMuxAddStream(mux, &s, nullptr), 16);
  EXPECT_TRUE(anyStartsWith(printed().errors, "Invalid input stream parameter"));
  EXPECT_EQ(mpegOutMuxAddStream(mux, nullptr, fifo + 1), 16);
  EXPECT_TRUE(anyStartsWith(printed().errors, "Invalid stream_settings parameter"));
  s.kind = 0;
  EXPECT_EQ(mpegOutMuxAddStream(mux, &s, fifo + 1), 16);
  s.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddStream(mux, &s, fifo + 1), 0);
  // A picture notice without its eight words is refused; a run without data waits (8).
  std::uint32_t shortNotice[2] = {100, 1};
  EXPECT_EQ(fifo->auxinfo(fifo, 0, kPictureDone, shortNotice, sizeof shortNotice), -1);
  EXPECT_EQ(mpegOutMux(mux), 8);
  EXPECT_EQ(mpegOutMuxDone(mux, 0), 0);
  // After Done the stream's notices no longer reach the multiplexer.
  EXPECT_EQ(fifo->auxinfo(fifo, 0, kPictureDone, shortNotice, sizeof shortNotice), 0);
  mpegOutMuxFree(mux);
  free_fifo_buf(fifo);
}

}  // namespace
}  // namespace quillion::test::corvel
