// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/notification_center.h"

#include <QThread>
#include <memory>
#include <thread>
#include <vector>

#include "framework/main_thread.h"
#include "support/gui_test_env.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

class NotificationCenterTest : public GuiTest {
 protected:
  NotificationCenter center;  // a fresh one per test; the process-wide one is shared
  QObject owner;
  int viewA = 0, viewB = 0;  // two "views", told apart by address
};

TEST_F(NotificationCenterTest, SenderFilterDecidesWhoHears) {
  struct Case {
    const char* what;
    const void* observedSender;
    const void* postedSender;
    bool delivered;
  };
  const std::vector<Case> cases = {
      {"own view", &viewA, &viewA, true},
      {"other view", &viewA, &viewB, false},
      {"posted without sender", &viewA, nullptr, false},
      {"any sender, from a view", NotificationCenter::AnySender, &viewB, true},
      {"any sender, without sender", NotificationCenter::AnySender, nullptr, true},
  };
  for (const Case& c : cases) {
    NotificationCenter local;
    QObject o;
    int heard = 0;
    ASSERT_NE(local.observe(&o, QStringLiteral("N"), c.observedSender,
                            [&](const Notification&) { ++heard; }),
              0u);
    local.post(QStringLiteral("N"), c.postedSender);
    local.post(QStringLiteral("Other"), c.postedSender);
    EXPECT_EQ(heard, c.delivered ? 1 : 0) << c.what;
  }
}

TEST_F(NotificationCenterTest, NullSenderRegistersNothing) {
  int heard = 0;
  // A window whose file lacks a view observes "its view" with a null pointer: that must not
  // become a subscription to every sender.
  EXPECT_EQ(
      center.observe(&owner, QStringLiteral("N"), nullptr, [&](const Notification&) { ++heard; }),
      0u);
  center.post(QStringLiteral("N"), nullptr);
  center.post(QStringLiteral("N"), &viewA);
  EXPECT_EQ(heard, 0);
  EXPECT_EQ(center.observerCount(), 0u);
}

TEST_F(NotificationCenterTest, DeliversInRegistrationOrderWithUserInfo) {
  std::vector<int> order;
  QVariantMap seen;
  center.observe(&owner, QStringLiteral("N"), NotificationCenter::AnySender,
                 [&](const Notification& n) {
                   order.push_back(1);
                   seen = n.userInfo;
                 });
  center.observe(&owner, QStringLiteral("N"), &viewA,
                 [&](const Notification&) { order.push_back(2); });
  center.post(QStringLiteral("N"), &viewA, {{QStringLiteral("row"), 3}});
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(seen.value(QStringLiteral("row")).toInt(), 3);
}

TEST_F(NotificationCenterTest, OwnerDestructionAndRemovalEndRegistrations) {
  int heard = 0;
  auto shortLived = std::make_unique<QObject>();
  center.observe(shortLived.get(), QStringLiteral("N"), NotificationCenter::AnySender,
                 [&](const Notification&) { ++heard; });
  const ObserverId kept = center.observe(&owner, QStringLiteral("N"), NotificationCenter::AnySender,
                                         [&](const Notification&) { heard += 10; });
  shortLived.reset();
  center.post(QStringLiteral("N"));
  EXPECT_EQ(heard, 10);
  center.removeObserver(kept);
  center.post(QStringLiteral("N"));
  EXPECT_EQ(heard, 10);
  EXPECT_EQ(center.observerCount(), 0u);
}

TEST_F(NotificationCenterTest, HandlerMayRemoveLaterObserversAndAddNewOnes) {
  int second = 0, added = 0;
  ObserverId secondId = 0;
  center.observe(&owner, QStringLiteral("N"), NotificationCenter::AnySender,
                 [&](const Notification&) {
                   center.removeObserver(secondId);
                   center.observe(&owner, QStringLiteral("N"), NotificationCenter::AnySender,
                                  [&](const Notification&) { ++added; });
                 });
  secondId = center.observe(&owner, QStringLiteral("N"), NotificationCenter::AnySender,
                            [&](const Notification&) { ++second; });
  center.post(QStringLiteral("N"));
  EXPECT_EQ(second, 0) << "an observer removed during dispatch is not called afterwards";
  EXPECT_EQ(added, 0) << "an observer added during dispatch waits for the next post";
  center.post(QStringLiteral("N"));
  EXPECT_EQ(added, 1);
}

TEST_F(NotificationCenterTest, PostFromWorkerArrivesOnMainThreadOnly) {
  QThread* deliveredOn = nullptr;
  int heard = 0;
  center.observe(&owner, QStringLiteral("Done"), &viewA, [&](const Notification& n) {
    deliveredOn = QThread::currentThread();
    heard += n.userInfo.value(QStringLiteral("n")).toInt();
  });
  std::thread worker([&] {
    center.post(QStringLiteral("Done"), &viewA, {{QStringLiteral("n"), 1}});
    center.postFromAnyThread(QStringLiteral("Done"), &viewA, {{QStringLiteral("n"), 2}});
  });
  worker.join();
  EXPECT_EQ(heard, 0) << "nothing may run on the worker";
  test::processEvents();
  EXPECT_EQ(heard, 3);
  EXPECT_EQ(deliveredOn, QCoreApplication::instance()->thread());
}

}  // namespace
