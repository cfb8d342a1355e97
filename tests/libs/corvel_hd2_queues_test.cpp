// SPDX-License-Identifier: GPL-2.0-or-later
// The HDV HD2 record rings: order, the 127-entry limit with each ring's message, allocation
// failure, and when an auxiliary video record falls due; pictures held until the next anchor
// and the auxiliary records their release fills.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hd2_pictures.h"
#include "hd2_queues.h"
#include "services.h"
#include "tests/support/test_support.h"

namespace quillion::corvel {
namespace {

std::vector<std::string>& hd2Errors() {
  static std::vector<std::string> lines;
  return lines;
}

__attribute__((format(printf, 1, 2))) void collectHd2Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  hd2Errors().push_back(test::formatted(format, args));
  va_end(args);
}

bool gFailAllocation = false;
void* maybeMalloc(std::size_t n) {
  return gFailAllocation ? nullptr : std::malloc(n);
}

void* hd2Rc(const char* name) {
  const std::string n = name;
  if (n == "err_printf") return reinterpret_cast<void*>(collectHd2Error);
  if (n == "malloc") return reinterpret_cast<void*>(maybeMalloc);
  return nullptr;
}

struct KindCase {
  Hd2QueueKind kind;
  std::uint32_t entryBytes;
  const char* message;
};

const KindCase kKinds[] = {
    {Hd2QueueKind::HeldPictures, 72, "M018:Unable to allocate memory for next hd2 vaunit_struc"},
    {Hd2QueueKind::AuxVideo, 48, "M018:Unable to allocate memory for next hd2_aux_v_info"},
    {Hd2QueueKind::AuxAudio, 16, "M018:Unable to allocate memory for next hd2_aux_a_info"},
};

class CorvelHd2Queue : public testing::TestWithParam<KindCase> {};

std::vector<std::uint8_t> entryNumbered(std::uint32_t bytes, std::uint32_t n) {
  std::vector<std::uint8_t> e(bytes);
  for (std::uint32_t i = 0; i < bytes; ++i) e[i] = static_cast<std::uint8_t>(n * 7 + i);
  return e;
}

TEST_P(CorvelHd2Queue, HoldsOneHundredTwentySevenInOrder) {
  const KindCase& c = GetParam();
  const mpeg::Services services = mpeg::Services::resolve(hd2Rc);
  gFailAllocation = false;
  hd2Errors().clear();
  ASSERT_EQ(Hd2Queue::entryBytes(c.kind), c.entryBytes);
  Hd2Queue q;
  ASSERT_EQ(q.create(c.kind, 0x1234, services), 0);
  EXPECT_EQ(q.owner(), 0x1234u);
  EXPECT_EQ(q.count(), 0);
  std::vector<std::uint8_t> out(c.entryBytes);
  EXPECT_FALSE(q.take(out.data()));
  EXPECT_EQ(q.oldest(), nullptr);

  for (std::uint32_t n = 0; n < 127; ++n)
    ASSERT_EQ(q.put(entryNumbered(c.entryBytes, n).data()), 0) << n;
  EXPECT_EQ(q.count(), 127);
  EXPECT_TRUE(q.full());
  EXPECT_TRUE(hd2Errors().empty());
  EXPECT_EQ(q.put(entryNumbered(c.entryBytes, 127).data()), 16);
  EXPECT_EQ(hd2Errors(), std::vector<std::string>{c.message});

  // One out makes room for one more; everything leaves in the order it came.
  ASSERT_TRUE(q.take(out.data()));
  EXPECT_EQ(out, entryNumbered(c.entryBytes, 0));
  EXPECT_FALSE(q.full());
  EXPECT_EQ(q.put(entryNumbered(c.entryBytes, 127).data()), 0);
  for (std::uint32_t n = 1; n <= 127; ++n) {
    ASSERT_TRUE(q.take(out.data())) << n;
    ASSERT_EQ(out, entryNumbered(c.entryBytes, n)) << n;
  }
  EXPECT_EQ(q.count(), 0);
  EXPECT_FALSE(q.take(out.data()));

  // Round the ring several times, a hundred entries behind.
  std::uint32_t next = 0;
  for (std::uint32_t n = 0; n < 400; ++n) {
    ASSERT_EQ(q.put(entryNumbered(c.entryBytes, n).data()), 0);
    if (q.count() > 100) {
      ASSERT_TRUE(q.take(out.data()));
      ASSERT_EQ(out, entryNumbered(c.entryBytes, next++));
    }
  }
  EXPECT_EQ(q.count(), 100);
  q.destroy();
  EXPECT_FALSE(q.created());
  EXPECT_EQ(q.count(), 0);
}

TEST_P(CorvelHd2Queue, AllocationFailureAndUncreatedRings) {
  const KindCase& c = GetParam();
  const mpeg::Services services = mpeg::Services::resolve(hd2Rc);
  hd2Errors().clear();
  gFailAllocation = true;
  Hd2Queue q;
  EXPECT_EQ(q.create(c.kind, 1, services), 16);
  gFailAllocation = false;
  EXPECT_EQ(hd2Errors(), std::vector<std::string>{c.message});
  EXPECT_FALSE(q.created());
  const std::vector<std::uint8_t> entry(c.entryBytes, 1);
  EXPECT_EQ(q.put(entry.data()), 16);
  std::vector<std::uint8_t> out(c.entryBytes);
  EXPECT_FALSE(q.take(out.data()));
  q.destroy();
  q.destroy();
}

INSTANTIATE_TEST_SUITE_P(Kinds, CorvelHd2Queue, testing::ValuesIn(kKinds));

TEST(CorvelHd2AuxVideo, DueWhenTheHeadStartHasBegun) {
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  Hd2Queue q;
  ASSERT_EQ(q.create(Hd2QueueKind::AuxVideo, 0, services), 0);
  EXPECT_FALSE(hd2AuxVideoDue(q, 0, 0, INT64_MAX)) << "empty";
  Hd2AuxVideoInfo info{};
  const std::uint64_t dts = 0x1'0000'1000ull;  // above 32 bits: both words count
  info.words[0] = static_cast<std::uint32_t>(dts);
  info.words[1] = static_cast<std::uint32_t>(dts >> 32);
  ASSERT_EQ(q.put(&info), 0);
  struct Case {
    std::uint64_t offset;
    std::uint64_t lead;
    std::int64_t clock;
    bool due;
  };
  // 3.51 x 900900 = 3162159, exactly; 3.51 x 1001 = 3513.51, rounded up to 3514.
  const auto t = static_cast<std::int64_t>(dts);
  const Case cases[] = {
      {0, 0, t, false},
      {0, 0, t + 1, true},
      {0, 900900, t - 3162159, false},
      {0, 900900, t - 3162158, true},
      {5000, 1001, t + 5000 - 3514, false},
      {5000, 1001, t + 5000 - 3513, true},
      {0, 0, -1, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hd2AuxVideoDue(q, c.offset, c.lead, c.clock), c.due)
        << c.offset << " " << c.lead << " " << c.clock;
  // A record whose head start reaches before time zero is due at once (signed comparison).
  Hd2Queue early;
  ASSERT_EQ(early.create(Hd2QueueKind::AuxVideo, 0, services), 0);
  Hd2AuxVideoInfo first{};
  first.words[0] = 100;
  ASSERT_EQ(early.put(&first), 0);
  EXPECT_TRUE(hd2AuxVideoDue(early, 0, 1000, 0));
}

// An 18-word unit record: picture coding type, decoding time and marker values per picture.
std::vector<std::uint32_t> pictureRecord(std::uint32_t number, std::uint32_t type) {
  std::vector<std::uint32_t> r(kHd2RecordWords);
  for (std::uint32_t w = 0; w < kHd2RecordWords; ++w) r[w] = number * 100 + w;
  r[1] = 0xABCD0000u | type;
  r[2] = (0x4000u + number) << 16 | 0x55;
  const std::uint64_t dts = 0x2'0000'0000ull + number * 900900ull;
  r[4] = static_cast<std::uint32_t>(dts);
  r[5] = static_cast<std::uint32_t>(dts >> 32);
  return r;
}

TEST(CorvelHd2Pictures, HeldUntilTheNextAnchorThenReleasedInOrder) {
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  Hd2PictureHold hold;
  ASSERT_EQ(hold.create(7, services), 0);
  Hd2Queue auxAudio;
  ASSERT_EQ(auxAudio.create(Hd2QueueKind::AuxAudio, 7, services), 0);
  std::vector<std::uint32_t> releasedNumbers;
  const auto release = [&](const std::uint32_t* records, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i)
      releasedNumbers.push_back(records[i * kHd2RecordWords] / 100);
    return true;
  };
  // Decoding order I0 P3 B1 B2 P6 B4 B5: each anchor releases what is held before it.
  const std::uint32_t types[] = {1, 2, 3, 3, 2, 3, 3};
  const std::int32_t releasedAt[] = {0, 1, 0, 0, 3, 0, 0};
  for (std::uint32_t n = 0; n < 7; ++n) {
    const Hd2Arrival a = hold.arrive(pictureRecord(n, types[n]).data(), release, 0, &auxAudio);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.released, releasedAt[n]) << n;
  }
  EXPECT_EQ(releasedNumbers, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(hold.held(), 3);

  // One auxiliary video and audio record per release, from the first (and second) record.
  ASSERT_EQ(hold.auxVideo().count(), 2);
  ASSERT_EQ(auxAudio.count(), 2);
  Hd2AuxVideoInfo v{};
  ASSERT_TRUE(hold.auxVideo().take(&v));
  const auto first = pictureRecord(0, 1);
  EXPECT_EQ(v.decodeTime(), 0x2'0000'0000ull);
  EXPECT_EQ(v.words[2], first[14]);
  EXPECT_EQ(v.words[3], 0x4000u);
  EXPECT_EQ(v.words[4], 1u);
  EXPECT_EQ(v.words[5], 1u);
  EXPECT_EQ(v.words[6], 1u) << "the stream's first record";
  EXPECT_EQ(v.words[7], 1u);
  EXPECT_EQ(v.words[8], first[11]) << "one held record: the second is the first";
  EXPECT_EQ(v.words[9], first[15]);
  EXPECT_EQ(v.words[10], first[16]);
  EXPECT_EQ(v.words[11], first[17]);
  ASSERT_TRUE(hold.auxVideo().take(&v));
  const auto p3 = pictureRecord(1, 2), b1 = pictureRecord(2, 3);
  EXPECT_EQ(v.decodeTime(), 0x2'0000'0000ull + 900900);
  EXPECT_EQ(v.words[4], 2u);
  EXPECT_EQ(v.words[5], 3u);
  EXPECT_EQ(v.words[6], 0u);
  EXPECT_EQ(v.words[7], 2u);
  EXPECT_EQ(v.words[8], b1[11]);
  EXPECT_EQ(v.words[9], b1[15]);
  EXPECT_EQ(v.words[10], p3[16]);
  EXPECT_EQ(v.words[11], p3[17]);

  Hd2AuxAudioInfo a{};
  ASSERT_TRUE(auxAudio.take(&a));
  EXPECT_EQ(a.words[0], 1u);
  EXPECT_EQ(a.words[1], 1u);
  ASSERT_TRUE(auxAudio.take(&a));
  EXPECT_EQ(a.words[0], 3u);
  EXPECT_EQ(a.words[1], 2u);
}

TEST(CorvelHd2Pictures, AudioRecordTimeScales) {
  // 27 MHz ticks / 300 x 0.00333000333000333, rounded up; the rate field 3 takes 1/300.
  struct Case {
    std::uint64_t dts;
    std::int32_t rateField;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {0, 0, 0},
      {300ull * 300, 3, 1},
      {300ull * 300 + 1, 3, 2},
      {27'000'000ull * 3600, 0, 1'078'922},  // an hour: 324,000,000 x 0.00333000333 = 1078921.08
      {27'000'000ull * 3600, 3, 1'080'000},
  };
  for (const Case& c : cases) {
    const Hd2AuxAudioInfo a = Hd2PictureHold::auxAudioRecord(c.dts, 300, 9, c.rateField);
    EXPECT_EQ(std::uint64_t{a.words[3]} << 32 | a.words[2], c.expected) << c.dts;
    EXPECT_EQ(a.words[0], 300u & 0xFF);
    EXPECT_EQ(a.words[1], 9u);
  }
}

TEST(CorvelHd2Pictures, FailuresAnswerMinusOneAndLoseNothing) {
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  // A unit queue that refuses the released records: they stay held, no record is queued.
  Hd2PictureHold hold;
  ASSERT_EQ(hold.create(1, services), 0);
  const auto refuse = [](const std::uint32_t*, std::uint32_t) { return false; };
  EXPECT_EQ(hold.arrive(pictureRecord(0, 1).data(), refuse, 0, nullptr).result, 0);
  EXPECT_EQ(hold.arrive(pictureRecord(1, 2).data(), refuse, 0, nullptr).result, -1);
  EXPECT_EQ(hold.held(), 1);
  EXPECT_EQ(hold.auxVideo().count(), 0);
  std::vector<std::uint32_t> taken;
  const auto keep = [&](const std::uint32_t* records, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) taken.push_back(records[i * kHd2RecordWords] / 100);
    return true;
  };
  const Hd2Arrival all = hold.releaseAll(keep, 0, nullptr);
  EXPECT_EQ(all.result, 0);
  EXPECT_EQ(all.released, 1);
  EXPECT_EQ(taken, std::vector<std::uint32_t>{0});
  EXPECT_EQ(hold.releaseAll(keep, 0, nullptr).released, 0) << "nothing left";

  // A hold ring that is full: 127 B pictures in a row.
  Hd2PictureHold full;
  ASSERT_EQ(full.create(1, services), 0);
  for (std::uint32_t n = 0; n < 127; ++n)
    ASSERT_EQ(full.arrive(pictureRecord(n, 3).data(), keep, 0, nullptr).result, 0);
  EXPECT_EQ(full.arrive(pictureRecord(127, 3).data(), keep, 0, nullptr).result, -1);
  // An anchor releases all 127 and is held itself.
  const Hd2Arrival a = full.arrive(pictureRecord(128, 1).data(), keep, 0, nullptr);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.released, 127);
  EXPECT_EQ(full.held(), 1);

  // An audio ring without room keeps the pictures held.
  Hd2PictureHold withAudio;
  ASSERT_EQ(withAudio.create(1, services), 0);
  Hd2Queue audio;
  ASSERT_EQ(audio.create(Hd2QueueKind::AuxAudio, 1, services), 0);
  const Hd2AuxAudioInfo filler{};
  for (int n = 0; n < 127; ++n) ASSERT_EQ(audio.put(&filler), 0);
  taken.clear();
  EXPECT_EQ(withAudio.arrive(pictureRecord(0, 1).data(), keep, 0, &audio).result, 0);
  EXPECT_EQ(withAudio.arrive(pictureRecord(1, 1).data(), keep, 0, &audio).result, -1);
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(withAudio.held(), 1);
  EXPECT_EQ(withAudio.auxVideo().count(), 0);
}

TEST(CorvelHd2Queue, EntriesByPosition) {
  const mpeg::Services services = mpeg::Services::resolve(nullptr);
  Hd2Queue q;
  ASSERT_EQ(q.create(Hd2QueueKind::AuxAudio, 0, services), 0);
  EXPECT_EQ(q.at(0), nullptr);
  // Past the ring's wrap: positions count from the oldest whatever the slots.
  Hd2AuxAudioInfo e{};
  for (std::uint32_t n = 0; n < 200; ++n) {
    e.words[0] = n;
    ASSERT_EQ(q.put(&e), 0);
    if (q.count() > 5) {
      ASSERT_TRUE(q.take(&e));
    }
  }
  ASSERT_EQ(q.count(), 5);
  for (std::int32_t i = 0; i < 5; ++i) {
    std::uint32_t word;
    std::memcpy(&word, q.at(i), 4);
    EXPECT_EQ(word, 195u + static_cast<std::uint32_t>(i));
  }
  EXPECT_EQ(q.at(5), nullptr);
  EXPECT_EQ(q.at(-1), nullptr);
  EXPECT_TRUE(q.hasRoom());
}

}  // namespace
}  // namespace quillion::corvel
