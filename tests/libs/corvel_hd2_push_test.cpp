// SPDX-License-Identifier: GPL-2.0-or-later
// The HDV HD2 paths of the push-mode video callback, through producers' notices to an
// instance of mux type 19 set up without an output: pictures held until the next anchor and
// released in decoding order, the auxiliary video and audio records each release queues,
// rings that fill, the illegal fixed vbv_delay, two inputs held apart (also from two
// threads), and what is still held at the end of a stream and at Done.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bufstream.h"
#include "corvel.h"
#include "corvel_support.h"
#include "inputs.h"
#include "muxer.h"
#include "run.h"

namespace quillion::test::corvel {
namespace {

using quillion::corvel::Hd2AuxAudioInfo;
using quillion::corvel::Hd2AuxVideoInfo;
using quillion::corvel::Input;

constexpr std::uint32_t kI = 1, kP = 2, kB = 3;
constexpr std::uint64_t kFirstTime = 5'000'000;  // the producer's clock at the first picture
constexpr std::uint64_t kFrame = 1'080'000;      // 25 pictures a second, 27 MHz
constexpr std::uint32_t kRecordWords = 18;

using Record = std::vector<std::uint32_t>;

// One picture as a producer announces it; its values are derived from its number so that
// every word of a record can be traced to the notice it came from.
struct Picture {
  std::uint32_t number;
  std::uint32_t type;
  std::uint32_t temporalReference;
  std::uint32_t vbvDelay() const { return 0x1000 + number; }
  std::uint32_t hd2Second() const { return 0x2000 + number; }
  std::uint32_t hd2Third() const { return 0x3000 + number; }
  std::uint32_t secondValue() const { return 0x500 + number; }
  std::uint32_t doneWord2() const { return (0x40 + number) << 16 | 0x11; }
  std::uint32_t size() const { return 1000 + number; }
  std::uint64_t dts() const { return kFirstTime + number * kFrame; }
  std::uint64_t pts() const { return dts() + 2 * kFrame; }
};

// An HDV HD2 instance in push mode with no output, and a producer fifo per input.
class Hd2Instance {
 public:
  Hd2Instance(int videos, int audios) {
    mpeg_m_settings s{};
    if (!mpegOutMuxDefaults(&s, 19)) return;
    s.pulldown = 0;
    mux_ = mpegOutMuxNew(collectingRc, &s);
    if (!mux_ || quillion::corvel::initUnwrittenHd2Push(*mux_) != 0) return;
    for (int i = 0; i < videos + audios; ++i) {
      bufstream* fifo = new_fifo_buf(65536, 4097);
      fifos_.push_back(fifo);
      stream_settings ss{};
      ss.kind = i < videos ? STREAM_KIND_VIDEO : STREAM_KIND_AUDIO;
      if (mpegOutMuxAddStream(mux_, &ss, fifo + 1) != 0) return;
    }
    ready_ = true;
  }
  ~Hd2Instance() {
    if (mux_) (void)mpegOutMuxDone(mux_, 1);
    mpegOutMuxFree(mux_);
    for (bufstream* f : fifos_) free_fifo_buf(f);
  }
  Hd2Instance(const Hd2Instance&) = delete;
  Hd2Instance& operator=(const Hd2Instance&) = delete;

  bool ready() const { return ready_; }
  mpeg_m_muxer& mux() { return *mux_; }
  Input& video(int i) { return *mux_->videos[i]; }
  Input& audio(int i) { return *mux_->audios[i]; }

  std::int32_t notice(int input, std::uint32_t code, std::vector<std::uint32_t> words = {}) {
    bufstream* f = fifos_[static_cast<std::size_t>(input)];
    return f->auxinfo(f, 0, code, words.empty() ? nullptr : words.data(),
                      static_cast<std::uint32_t>(words.size() * 4));
  }
  // A sequence header: frame-rate code and the field value HD2 takes from word 4.
  std::int32_t sequence(int input, std::uint32_t rateCode, std::uint32_t field) {
    return notice(input, 0x1B3, {0, rateCode, 0, 0, field, 0});
  }
  std::int32_t header(int input, const Picture& p, std::uint32_t vbvDelay) {
    return notice(input, 0x100,
                  {0, p.temporalReference, p.secondValue(), vbvDelay, p.hd2Second(), p.hd2Third()});
  }
  std::int32_t done(int input, const Picture& p) {
    return notice(input, 0xF0001,
                  {p.size(), 0xAB00'0000u | p.type, p.doneWord2(), 0x77,
                   static_cast<std::uint32_t>(p.dts()), static_cast<std::uint32_t>(p.dts() >> 32),
                   static_cast<std::uint32_t>(p.pts()), static_cast<std::uint32_t>(p.pts() >> 32)});
  }
  // Header and completion; the first answer that is not 0.
  std::int32_t picture(int input, const Picture& p) {
    const std::int32_t r = header(input, p, p.vbvDelay());
    return r != 0 ? r : done(input, p);
  }

 private:
  mpeg_m_muxer* mux_ = nullptr;
  std::vector<bufstream*> fifos_;
  bool ready_ = false;
};

// The records queued in an input's unit fifo since the last call, oldest first.
std::vector<Record> takeQueued(Input& in) {
  std::vector<Record> out;
  std::uint8_t raw[kRecordWords * 4];
  while (in.units->usable_bytes(in.units) >= sizeof raw) {
    if (in.units->copybytes(in.units, raw, sizeof raw) != sizeof raw) break;
    Record r(kRecordWords);
    std::memcpy(r.data(), raw, sizeof raw);
    out.push_back(r);
  }
  return out;
}

std::vector<std::uint32_t> numbersOf(const std::vector<Record>& records) {
  std::vector<std::uint32_t> n;
  for (const Record& r : records) n.push_back(r[9]);  // the decode index
  return n;
}

std::uint64_t timeAt(const std::uint32_t* words) {
  return std::uint64_t{words[1]} << 32 | words[0];
}

// Decoding order of two groups: I0 P3 B1 B2 P6 B4 B5, then a new group I2 B0 B1.
const std::vector<Picture> kPictures = {
    {0, kI, 0}, {1, kP, 3}, {2, kB, 1}, {3, kB, 2}, {4, kP, 6},
    {5, kB, 4}, {6, kB, 5}, {7, kI, 2}, {8, kB, 0}, {9, kB, 1},
};
constexpr std::uint32_t kNewGroupAt = 7;

// Pushes kPictures into `input`; `after(n, released)` sees what each picture released.
template <typename After>
void pushPictures(Hd2Instance& inst, int input, After after) {
  ASSERT_EQ(inst.sequence(input, 3, 7), 0);
  for (const Picture& p : kPictures) {
    if (p.number == kNewGroupAt) {
      ASSERT_EQ(inst.sequence(input, 3, 9), 0);
      ASSERT_EQ(inst.notice(input, 0x1B8), 0);
    }
    ASSERT_EQ(inst.picture(input, p), 0) << p.number;
    after(p.number, takeQueued(inst.video(input)));
  }
}

// What each release of kPictures hands on: the anchors release what came before them,
// the end of the stream the rest.
const std::vector<std::vector<std::uint32_t>> kReleases = {{0}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}};

TEST(CorvelHd2Push, BPicturesWaitForTheNextAnchorAndLeaveInDecodingOrder) {
  Hd2Instance inst(1, 0);
  ASSERT_TRUE(inst.ready()) << (printed().errors.empty() ? "" : printed().errors[0]);
  const std::vector<std::vector<std::uint32_t>> expected = {{}, {0}, {},        {}, {1, 2, 3},
                                                            {}, {},  {4, 5, 6}, {}, {}};
  std::vector<Record> all;
  ASSERT_NO_FATAL_FAILURE(pushPictures(inst, 0, [&](std::uint32_t n, std::vector<Record> got) {
    EXPECT_EQ(numbersOf(got), expected[n]) << "after picture " << n;
    all.insert(all.end(), got.begin(), got.end());
  }));
  EXPECT_EQ(inst.video(0).hd2.held(), 3);
  // The end of the stream hands on what no anchor will release.
  ASSERT_EQ(inst.notice(0, 0xF0080), 0);
  const std::vector<Record> last = takeQueued(inst.video(0));
  EXPECT_EQ(numbersOf(last), (std::vector<std::uint32_t>{7, 8, 9}));
  EXPECT_EQ(inst.video(0).hd2.held(), 0);
  EXPECT_TRUE(inst.video(0).push.ended);
  all.insert(all.end(), last.begin(), last.end());

  // Every record carries its own picture's notices, whenever it was released.
  ASSERT_EQ(all.size(), kPictures.size());
  for (const Picture& p : kPictures) {
    const Record& r = all[p.number];
    SCOPED_TRACE(p.number);
    EXPECT_EQ(r[0], p.size());
    EXPECT_EQ(r[1] & 0xFFFF, p.type);
    EXPECT_EQ(r[2], p.doneWord2());
    EXPECT_EQ(r[3], 0x77u);
    EXPECT_EQ(timeAt(&r[4]), p.dts() - kFirstTime);
    EXPECT_EQ(timeAt(&r[6]), p.pts() - kFirstTime);
    // Display index: temporal reference - pictures since the group + pictures so far.
    const std::uint32_t groupStart = p.number >= kNewGroupAt ? kNewGroupAt : 0;
    EXPECT_EQ(r[8], p.temporalReference + groupStart);
    EXPECT_EQ(r[9], p.number);
    EXPECT_EQ(r[10], p.temporalReference);
    EXPECT_EQ(r[11], p.secondValue());
    EXPECT_EQ(r[12], p.size());
    EXPECT_EQ(r[14], p.vbvDelay());
    EXPECT_EQ(r[15], p.hd2Second());
    EXPECT_EQ(r[16], p.hd2Third());
    EXPECT_EQ(r[17], p.number >= kNewGroupAt ? 9u : 7u) << "the field value of its sequence";
  }
}

// The auxiliary video record of a release, as the notices of its pictures give it.
void expectAuxVideo(const Hd2AuxVideoInfo& v, const std::vector<std::uint32_t>& released,
                    std::uint32_t number) {
  const Picture& first = kPictures[released.front()];
  const Picture& second = kPictures[released.size() >= 2 ? released[1] : released.front()];
  SCOPED_TRACE(number);
  EXPECT_EQ(v.decodeTime(), first.dts() - kFirstTime);
  EXPECT_EQ(v.words[2], first.vbvDelay());
  EXPECT_EQ(v.words[3], 0x40 + first.number) << "high half of the completion's word 2";
  EXPECT_EQ(v.words[4], first.type);
  EXPECT_EQ(v.words[5], released.size());
  EXPECT_EQ(v.words[6], number == 1 ? 1u : 0u);
  EXPECT_EQ(v.words[7], number);
  EXPECT_EQ(v.words[8], second.secondValue());
  EXPECT_EQ(v.words[9], second.hd2Second());
  EXPECT_EQ(v.words[10], first.hd2Third());
  EXPECT_EQ(v.words[11], first.number >= kNewGroupAt ? 9u : 7u);
}

TEST(CorvelHd2Push, EachReleaseQueuesItsAuxiliaryRecords) {
  Hd2Instance inst(1, 1);
  ASSERT_TRUE(inst.ready());
  ASSERT_NO_FATAL_FAILURE(pushPictures(inst, 0, [](std::uint32_t, std::vector<Record>) {}));
  ASSERT_EQ(inst.notice(0, 0xF0080), 0);
  quillion::corvel::Hd2Queue& auxVideo = inst.video(0).hd2.auxVideo();
  quillion::corvel::Hd2Queue& auxAudio = inst.audio(0).hd2AuxAudio;
  ASSERT_EQ(auxVideo.count(), 4);
  ASSERT_EQ(auxAudio.count(), 4);
  for (std::uint32_t k = 0; k < kReleases.size(); ++k) {
    Hd2AuxVideoInfo v{};
    ASSERT_TRUE(auxVideo.take(&v));
    expectAuxVideo(v, kReleases[k], k + 1);
    Hd2AuxAudioInfo a{};
    ASSERT_TRUE(auxAudio.take(&a));
    EXPECT_EQ(a.words[0], kReleases[k].size());
    EXPECT_EQ(a.words[1], k + 1);
    // Rate code 3 (25 a second): 27 MHz / 300 / 300, rounded up; here whole numbers.
    const std::uint64_t ticks = kPictures[kReleases[k].front()].dts() - kFirstTime;
    EXPECT_EQ(timeAt(&a.words[2]), (ticks / 300 + 299) / 300) << k;
  }
}

TEST(CorvelHd2Push, WithoutAudioNoAudioRecords) {
  Hd2Instance inst(1, 0);
  ASSERT_TRUE(inst.ready());
  ASSERT_NO_FATAL_FAILURE(pushPictures(inst, 0, [](std::uint32_t, std::vector<Record>) {}));
  EXPECT_EQ(inst.video(0).hd2.auxVideo().count(), 3);
  EXPECT_FALSE(inst.video(0).hd2AuxAudio.created());
}

struct FullCase {
  const char* name;
  int audios;
  std::uint32_t firstType;     // of the pictures after the opening I picture
  bool drainAuxVideo;          // the test takes the video records as a writer would
  std::uint32_t acceptedUpTo;  // pictures accepted before the refused one
  const char* message;
};

class CorvelHd2RingFull : public testing::TestWithParam<FullCase> {};

TEST_P(CorvelHd2RingFull, RefusesTheNextPictureAndKeepsWhatItHolds) {
  const FullCase& c = GetParam();
  Hd2Instance inst(1, c.audios);
  ASSERT_TRUE(inst.ready());
  Input& in = inst.video(0);
  ASSERT_EQ(inst.sequence(0, 3, 1), 0);
  printed().clear();
  std::uint32_t queued = 0;
  for (std::uint32_t n = 0; n < c.acceptedUpTo; ++n) {
    ASSERT_EQ(inst.picture(0, {n, n == 0 ? kI : c.firstType, 0}), 0) << n;
    queued += static_cast<std::uint32_t>(takeQueued(in).size());
    Hd2AuxVideoInfo v{};
    if (c.drainAuxVideo) (void)in.hd2.auxVideo().take(&v);
  }
  EXPECT_TRUE(printed().errors.empty());
  const std::int32_t heldBefore = in.hd2.held();
  // 127 entries is all a ring takes.
  EXPECT_EQ(inst.picture(0, {c.acceptedUpTo, c.firstType, 0}), -1);
  EXPECT_EQ(printed().errors, std::vector<std::string>{c.message});
  EXPECT_TRUE(takeQueued(in).empty()) << "nothing released by a refused picture";
  EXPECT_EQ(in.hd2.held(), heldBefore);
  EXPECT_FALSE(inst.mux().failed) << "a refusal is the notice's answer, not a failed job";

  // Once the reader has taken one entry, an anchor goes through and nothing held was lost.
  Hd2AuxVideoInfo v{};
  Hd2AuxAudioInfo a{};
  (void)in.hd2.auxVideo().take(&v);
  if (c.audios) (void)inst.audio(0).hd2AuxAudio.take(&a);
  printed().clear();
  ASSERT_EQ(inst.picture(0, {c.acceptedUpTo + 1, kP, 0}), 0);
  const std::vector<Record> released = takeQueued(in);
  ASSERT_EQ(released.size(), static_cast<std::size_t>(heldBefore));
  EXPECT_EQ(queued + released.size(), c.acceptedUpTo) << "every accepted picture came out";
  EXPECT_EQ(released.back()[0], 1000 + c.acceptedUpTo - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, CorvelHd2RingFull,
    testing::Values(
        // I then 126 B pictures fill the hold; the next B finds no room.
        FullCase{"HeldPictures", 0, kB, false, 127,
                 "M018:Unable to allocate memory for next hd2 vaunit_struc"},
        // Each P releases the picture before it: 127 releases fill the video records.
        FullCase{"AuxVideo", 0, kP, false, 128,
                 "M018:Unable to allocate memory for next hd2_aux_v_info"},
        // With the video records taken, the audio records fill after 127 releases.
        FullCase{"AuxAudio", 1, kP, true, 128,
                 "M018:Unable to allocate memory for next hd2_aux_a_info"}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(CorvelHd2Push, VariableVbvDelayIsRefused) {
  Hd2Instance inst(1, 0);
  ASSERT_TRUE(inst.ready());
  ASSERT_EQ(inst.sequence(0, 3, 1), 0);
  const Picture first{0, kI, 0};
  ASSERT_EQ(inst.picture(0, first), 0);
  printed().clear();
  const Picture second{1, kP, 4};
  EXPECT_EQ(inst.header(0, second, 0xFFFF), -1);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"Illegal fixed vbv_delay for HDV HD2!"});
  // A header too short to carry the HD2 values is refused as well.
  EXPECT_EQ(inst.notice(0, 0x100, {0, 4, 0}), -1);
  // The refused header changed nothing: the next picture keeps the last good header's values.
  ASSERT_EQ(inst.done(0, second), 0);
  ASSERT_EQ(inst.notice(0, 0xF0080), 0);
  const std::vector<Record> records = takeQueued(inst.video(0));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][10], first.temporalReference);
  EXPECT_EQ(records[1][14], first.vbvDelay());
  EXPECT_EQ(records[1][15], first.hd2Second());
  // 0xFFFE is a fixed delay like any other.
  EXPECT_EQ(inst.header(0, {2, kP, 7}, 0xFFFE), 0);
}

TEST(CorvelHd2Push, ProgramStreamsTakeAnyVbvDelay) {
  mpeg_m_settings s{};
  ASSERT_NE(mpegOutMuxDefaults(&s, 2), nullptr);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &s);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  ASSERT_EQ(mpegOutMuxInitStream(mux, nullptr, out.stream()), 0);
  bufstream* fifo = new_fifo_buf(65536, 4097);
  stream_settings ss{};
  ss.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddStream(mux, &ss, fifo + 1), 0);
  std::uint32_t header[3] = {0, 0, 0};
  EXPECT_EQ(fifo->auxinfo(fifo, 0, 0x100, header, sizeof header), 0);
  std::uint32_t wide[6] = {0, 0, 0, 0xFFFF, 0, 0};
  EXPECT_EQ(fifo->auxinfo(fifo, 0, 0x100, wide, sizeof wide), 0);
  EXPECT_FALSE(mux->videos[0]->hd2.created());
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
  free_fifo_buf(fifo);
}

// Decoding order of the second input: I0 B B P3 B B P6 (a closed first group).
const std::vector<Picture> kOtherPictures = {
    {0, kI, 0}, {1, kB, 1}, {2, kB, 2}, {3, kP, 3}, {4, kB, 4}, {5, kB, 5}, {6, kP, 6},
};

void expectOtherInputReleases(Hd2Instance& inst, int input, std::vector<Record> records) {
  EXPECT_EQ(numbersOf(records), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
  quillion::corvel::Hd2Queue& aux = inst.video(input).hd2.auxVideo();
  ASSERT_EQ(aux.count(), 2);
  for (std::uint32_t k = 0; k < 2; ++k) {
    Hd2AuxVideoInfo v{};
    ASSERT_TRUE(aux.take(&v));
    EXPECT_EQ(v.words[4], k == 0 ? kI : kP);
    EXPECT_EQ(v.words[5], 3u);
    EXPECT_EQ(v.words[6], k == 0 ? 1u : 0u) << "each input has its own first record";
    EXPECT_EQ(v.words[7], k + 1) << "each input counts its own records";
  }
  EXPECT_EQ(inst.video(input).hd2.held(), 1);
}

TEST(CorvelHd2Push, TwoInputsAreHeldApart) {
  Hd2Instance inst(2, 0);
  ASSERT_TRUE(inst.ready());
  ASSERT_EQ(inst.sequence(0, 3, 7), 0);
  ASSERT_EQ(inst.sequence(1, 3, 7), 0);
  // Interleaved: the first input's anchors never release the second's B pictures.
  const std::vector<std::vector<std::uint32_t>> firstExpected = {{}, {0}, {}, {}, {1, 2, 3}};
  const std::vector<std::vector<std::uint32_t>> secondExpected = {{}, {}, {}, {0, 1, 2}, {}};
  std::vector<Record> second;
  for (std::uint32_t n = 0; n < 5; ++n) {
    ASSERT_EQ(inst.picture(0, kPictures[n]), 0);
    ASSERT_EQ(inst.picture(1, kOtherPictures[n]), 0);
    EXPECT_EQ(numbersOf(takeQueued(inst.video(0))), firstExpected[n]) << n;
    const std::vector<Record> got = takeQueued(inst.video(1));
    EXPECT_EQ(numbersOf(got), secondExpected[n]) << n;
    second.insert(second.end(), got.begin(), got.end());
  }
  for (std::uint32_t n = 5; n < kOtherPictures.size(); ++n) {
    ASSERT_EQ(inst.picture(1, kOtherPictures[n]), 0);
    const std::vector<Record> got = takeQueued(inst.video(1));
    second.insert(second.end(), got.begin(), got.end());
  }
  EXPECT_EQ(inst.video(0).hd2.held(), 1);
  EXPECT_EQ(inst.video(0).hd2.auxVideo().count(), 2);
  expectOtherInputReleases(inst, 1, second);
}

TEST(CorvelHd2Push, TwoProducerThreads) {
  Hd2Instance inst(2, 1);
  ASSERT_TRUE(inst.ready());
  // Whatever the interleaving, each input's releases follow its own anchors.
  std::vector<std::int32_t> answers(2);
  std::thread first([&] {
    std::int32_t r = inst.sequence(0, 3, 7);
    for (std::size_t n = 0; n < kNewGroupAt && r == 0; ++n) r = inst.picture(0, kPictures[n]);
    answers[0] = r;
  });
  std::thread second([&] {
    std::int32_t r = inst.sequence(1, 3, 7);
    for (const Picture& p : kOtherPictures)
      if (r == 0) r = inst.picture(1, p);
    answers[1] = r;
  });
  first.join();
  second.join();
  EXPECT_EQ(answers, (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(numbersOf(takeQueued(inst.video(0))), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  expectOtherInputReleases(inst, 1, takeQueued(inst.video(1)));
  EXPECT_EQ(inst.audio(0).hd2AuxAudio.count(), 2 + 2) << "both inputs' releases";
}

TEST(CorvelHd2Push, DoneHandsOnWhatEveryInputHolds) {
  Hd2Instance inst(2, 0);
  ASSERT_TRUE(inst.ready());
  for (int input = 0; input < 2; ++input) {
    ASSERT_EQ(inst.sequence(input, 3, 7), 0);
    for (std::uint32_t n = 0; n < 4; ++n) ASSERT_EQ(inst.picture(input, kPictures[n]), 0);
    (void)takeQueued(inst.video(input));
    ASSERT_EQ(inst.video(input).hd2.held(), 3);
  }
  EXPECT_EQ(quillion::corvel::flushAtDone(inst.mux(), false), 0);
  for (int input = 0; input < 2; ++input) {
    EXPECT_EQ(numbersOf(takeQueued(inst.video(input))), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(inst.video(input).hd2.held(), 0);
    EXPECT_EQ(inst.video(input).hd2.auxVideo().count(), 2);
  }
  EXPECT_EQ(mpegOutMuxDone(&inst.mux(), 0), 0);
}

// An allocation of one size fails: the size of one ring's entries.
std::size_t gRefusedSize = 0;
void* refusingMalloc(std::size_t n) {
  return n == gRefusedSize ? nullptr : std::malloc(n);
}
void* refusingRc(const char* name) {
  if (std::string(name) == "malloc") return reinterpret_cast<void*>(refusingMalloc);
  return collectingRc(name);
}

struct RingAllocationCase {
  const char* name;
  std::uint32_t kind;
  std::size_t bytes;  // 128 entries
  const char* message;
};

class CorvelHd2RingAllocation : public testing::TestWithParam<RingAllocationCase> {};

TEST_P(CorvelHd2RingAllocation, RefusesTheInputWithItsMessage) {
  const RingAllocationCase& c = GetParam();
  mpeg_m_settings s{};
  ASSERT_NE(mpegOutMuxDefaults(&s, 19), nullptr);
  mpeg_m_muxer* mux = mpegOutMuxNew(refusingRc, &s);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(quillion::corvel::initUnwrittenHd2Push(*mux), 0);
  bufstream* fifo = new_fifo_buf(65536, 4097);
  const auto notices = fifo[1].auxinfo;
  stream_settings ss{};
  ss.kind = c.kind;
  printed().clear();
  gRefusedSize = c.bytes;
  EXPECT_EQ(mpegOutMuxAddStream(mux, &ss, fifo + 1), 16);
  gRefusedSize = 0;
  EXPECT_EQ(printed().errors, std::vector<std::string>{c.message});
  EXPECT_EQ(mux->videoCount + mux->audioCount, 0);
  EXPECT_TRUE(fifo[1].auxinfo == notices) << "the producer's stream is left as it was";
  // With memory, the same input is taken.
  EXPECT_EQ(mpegOutMuxAddStream(mux, &ss, fifo + 1), 0);
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
  free_fifo_buf(fifo);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, CorvelHd2RingAllocation,
    testing::Values(RingAllocationCase{"HeldPictures", STREAM_KIND_VIDEO, 128 * 72,
                                       "M018:Unable to allocate memory for next hd2 vaunit_struc"},
                    RingAllocationCase{"AuxVideo", STREAM_KIND_VIDEO, 128 * 48,
                                       "M018:Unable to allocate memory for next hd2_aux_v_info"},
                    RingAllocationCase{"AuxAudio", STREAM_KIND_AUDIO, 128 * 16,
                                       "M018:Unable to allocate memory for next hd2_aux_a_info"}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(CorvelHd2Push, CallersCannotSetUpTheTransportType) {
  mpeg_m_settings s{};
  ASSERT_NE(mpegOutMuxDefaults(&s, 19), nullptr);
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &s);
  ASSERT_NE(mux, nullptr);
  MemoryOutput out;
  bufstream* fifo = new_fifo_buf(65536, 4097);
  EXPECT_EQ(mpegOutMuxInitStream(mux, nullptr, out.stream()), 16);
  EXPECT_EQ(mpegOutMuxInit(mux, out.stream(), nullptr, fifo + 1), 16);
  EXPECT_EQ(quillion::corvel::initUnwrittenHd2Push(*mux), 0);
  EXPECT_EQ(mpegOutMuxDone(mux, 1), 0);
  mpegOutMuxFree(mux);
  free_fifo_buf(fifo);
  // The internal set-up is for type 19 alone.
  mpeg_m_settings ps{};
  ASSERT_NE(mpegOutMuxDefaults(&ps, 2), nullptr);
  mpeg_m_muxer* other = mpegOutMuxNew(collectingRc, &ps);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(quillion::corvel::initUnwrittenHd2Push(*other), 16);
  mpegOutMuxFree(other);
}

}  // namespace
}  // namespace quillion::test::corvel
