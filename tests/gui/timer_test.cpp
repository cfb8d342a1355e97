// SPDX-License-Identifier: GPL-2.0-or-later
#include <QTest>
#include <string>
#include <vector>

#include "framework/repeating_timer.h"
#include "support/gui_test_env.h"

using namespace quillion;
using namespace std::chrono_literals;
using quillion::test::GuiTest;

namespace {

class TimerTest : public GuiTest {
 protected:
  VirtualClock clock;
  ManualTimerSource source{clock};
};

TEST_F(TimerTest, StartingARunningTimerChangesNothing) {
  RepeatingTimer timer(source);
  int first = 0, second = 0;
  EXPECT_TRUE(timer.start(1s, [&] { ++first; }));
  EXPECT_FALSE(timer.start(200ms, [&] { ++second; }));
  source.advance(3500ms);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(clock.elapsed(), 3500ms);
  timer.stop();
  timer.stop();  // stopping a stopped timer is harmless
  EXPECT_FALSE(timer.isRunning());
  EXPECT_TRUE(timer.start(200ms, [&] { ++second; }));
  source.advance(1s);
  EXPECT_EQ(second, 5);
}

TEST_F(TimerTest, TimersFireInTimeOrderAtTheirOwnTimes) {
  // Equal times fire in the order the timers were started.
  std::vector<std::string> log;
  RepeatingTimer progress(source), cancel(source);
  progress.start(200ms, [&] { log.push_back("p@" + std::to_string((clock.elapsed() / 100ms))); });
  cancel.start(500ms, [&] { log.push_back("c@" + std::to_string((clock.elapsed() / 100ms))); });
  source.advance(1s);
  EXPECT_EQ(log, (std::vector<std::string>{"p@2", "p@4", "c@5", "p@6", "p@8", "p@10", "c@10"}));
}

TEST_F(TimerTest, ACallbackMayStopItsOwnTimerAndStartAnother) {
  RepeatingTimer poll(source), next(source);
  int polls = 0, nexts = 0;
  poll.start(1s, [&] {
    if (++polls == 2) {
      poll.stop();
      next.start(1s, [&] { ++nexts; });
    }
  });
  source.advance(5s);
  EXPECT_EQ(polls, 2);
  EXPECT_EQ(nexts, 3);
}

TEST_F(TimerTest, DestroyingTheTimerStopsIt) {
  int fired = 0;
  {
    RepeatingTimer timer(source);
    timer.start(1s, [&] { ++fired; });
    EXPECT_EQ(source.runningCount(), 1u);
  }
  EXPECT_EQ(source.runningCount(), 0u);
  source.advance(10s);
  EXPECT_EQ(fired, 0);
}

TEST(ManualTimerSource, ARunningTimerMayOutliveItsSource) {
  VirtualClock clock;
  auto source = std::make_unique<ManualTimerSource>(clock);
  RepeatingTimer timer(*source);
  timer.start(1s, [] {});
  source.reset();
  timer.stop();  // its handle reaches into the source's table, which is gone
  EXPECT_FALSE(timer.isRunning());
}

TEST_F(TimerTest, TimersWithoutASourceUseTheOverride) {
  ScopedTimerSourceOverride use(source);
  RepeatingTimer timer;
  int fired = 0;
  timer.start(800ms, [&] { ++fired; });
  source.advance(1600ms);
  EXPECT_EQ(fired, 2);
}

TEST_F(TimerTest, QtTimerStopsFromInsideItsCallback) {
  RepeatingTimer timer;  // the event loop's timers
  int fired = 0;
  timer.start(1ms, [&] {
    ++fired;
    timer.stop();
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return fired > 0; }, 30'000));
  test::processEvents();
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer.isRunning());
}

}  // namespace
