// SPDX-License-Identifier: GPL-2.0-or-later
#include "quillion/clock.h"

#include <gtest/gtest.h>

#include <thread>

using namespace quillion;
using namespace std::chrono_literals;

TEST(VirtualClock, SleepAdvancesTimeAtOnce) {
  VirtualClock clock;
  const auto start = clock.now();
  const auto wallStart = clock.wallNow();
  const auto realStart = std::chrono::steady_clock::now();
  EXPECT_TRUE(clock.sleepFor(240s));
  EXPECT_EQ(clock.now() - start, 240s);
  EXPECT_EQ(clock.wallNow() - wallStart, 240s);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, 5s);
  EXPECT_EQ(clock.sleepCount(), 1u);
}

TEST(VirtualClock, CancelledSleepReportsIt) {
  VirtualClock clock;
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(clock.sleepFor(1s, &cancel));
  EXPECT_EQ(clock.elapsed(), 0s);
}

TEST(EngineClock, OverrideIsScoped) {
  VirtualClock virtualClock;
  Clock* before = &engineClock();
  {
    ScopedClockOverride guard(virtualClock);
    EXPECT_EQ(&engineClock(), &virtualClock);
    engineClock().sleepFor(10min);
    EXPECT_EQ(virtualClock.elapsed(), 10min);
  }
  EXPECT_EQ(&engineClock(), before);
}

TEST(SystemClock, WakeAllCutsACancelledSleepShort) {
  SystemClock clock;
  std::atomic<bool> cancel{false};
  std::atomic<bool> result{true};
  const auto start = std::chrono::steady_clock::now();
  std::thread sleeper([&] { result = clock.sleepFor(60s, &cancel); });
  std::this_thread::sleep_for(20ms);
  cancel = true;
  clock.wakeAll();
  sleeper.join();
  EXPECT_FALSE(result.load());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(SystemClock, ShortSleepCompletes) {
  SystemClock clock;
  const auto start = clock.now();
  EXPECT_TRUE(clock.sleepFor(5ms));
  EXPECT_GE(clock.now() - start, 5ms);
}
