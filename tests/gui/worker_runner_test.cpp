// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/worker_runner.h"

#include <QTest>
#include <QThread>
#include <atomic>
#include <latch>

#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class WorkerRunnerTest : public GuiTest {};

TEST_F(WorkerRunnerTest, ResultReachesTheMainThreadOnly) {
  WorkerRunner runner;
  std::atomic<QThread*> workedOn{nullptr};
  QThread* doneOn = nullptr;
  int result = 0;
  runner.run(
      [&](std::stop_token) {
        workedOn = QThread::currentThread();
        return 6 * 7;
      },
      [&](int r) {
        doneOn = QThread::currentThread();
        result = r;
      });
  ASSERT_TRUE(QTest::qWaitFor([&] { return result != 0; }, 60'000));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(doneOn, QCoreApplication::instance()->thread());
  EXPECT_NE(workedOn.load(), QCoreApplication::instance()->thread());
  EXPECT_EQ(runner.activeCount(), 0u);
}

TEST_F(WorkerRunnerTest, DestroyingTheOwnerCancelsJoinsAndDropsTheResult) {
  std::atomic<bool> sawStop{false};
  bool delivered = false;
  std::latch started(1);
  {
    WorkerRunner runner;
    runner.run(
        [&](std::stop_token stop) {
          started.count_down();
          while (!stop.stop_requested()) std::this_thread::yield();
          sawStop = true;
        },
        [&] { delivered = true; });
    started.wait();
  }  // joins here: the worker saw the stop request before the runner went away
  EXPECT_TRUE(sawStop.load());
  test::processEvents();
  EXPECT_FALSE(delivered);
}

TEST_F(WorkerRunnerTest, CancelAllDropsResultsThatFinishLater) {
  WorkerRunner runner;
  std::latch release(1);
  bool delivered = false;
  runner.run(
      [&](std::stop_token) {
        release.wait();
        return 1;
      },
      [&](int) { delivered = true; });
  runner.cancelAll();
  release.count_down();
  runner.cancelAndJoin();
  test::processEvents();
  EXPECT_FALSE(delivered);
  EXPECT_EQ(runner.activeCount(), 0u);
}

}  // namespace
