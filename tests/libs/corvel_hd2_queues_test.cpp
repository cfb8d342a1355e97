// SPDX-License-Identifier: GPL-2.0-or-later
// The HDV HD2 record rings: order, the 127-entry limit with each ring's message, allocation
// failure, and when an auxiliary video record falls due.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace quillion::corvel
