// SPDX-License-Identifier: GPL-2.0-or-later
// Verification of a disc written through the flat API to an emulated CD writer: both kinds
// pass on a good disc, an unreadable block or a changed file fails, a cancel stops the
// thread, and the burn log's end tells which.
#include "burn/verifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "burn/verification_log.h"
#include "burn/verification_monitor.h"
#include "device_environment.h"
#include "quillion/FS.h"
#include "quillion/FSFileLocList.h"
#include "run_support.h"
#include "support/gui_test_env.h"

namespace fs = std::filesystem;
using namespace quillion::burn;
using quillion::emu::FaultAction;
using quillion::emu::FaultRule;
using quillion::test::CapturedLog;
using quillion::test::TestThreads;

namespace {

constexpr std::uint16_t kCdRProfile = 0x09;

class VerifyWrittenDisc : public quillion::test::GuiTest {
 protected:
  void SetUp() override {
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    quillion::test::writeFiles(
        source_, {{"a.txt", 1000}, {"docs/b.bin", 70'000}, {"big.dat", 300'000}, {"empty.txt", 0}});
    tree_ = quillion::test::treeFromFolder(source_);
    auto config = *quillion::emu::DriveConfig::preset("cd-writer");
    config.name = config.product = "verifier";
    drive_ = quillion::emu::EmulatedBus::instance().plug(config);
    drive_->load(env_.blankDisc("verifier", kCdRProfile, 359'846));
    env_.start();
    ref_ = quillion::emu::DeviceEnvironment::refOf("verifier");
    (void)MMC_TestUnitReady(ref_, nullptr);
  }
  void TearDown() override {
    if (job_) {
      EXPECT_EQ(BP_Delete(job_), kNoErr);
    }
    TestThreads::instance().reset();
    env_.stop();
    GuiTest::TearDown();
  }

  // Writes the layout with verification of `type` asked for; the run must succeed.
  void burn(std::uint32_t type) {
    job_ = BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), &shared_, 1);
    ASSERT_NE(job_, 0u);
    ASSERT_EQ(BP_SetDataTree(job_, tree_.get()), kNoErr);
    ASSERT_EQ(BP_SetDataDiscFormat(job_, 512), kNoErr);
    ASSERT_EQ(BP_SetISO9660_XA(job_, false), kNoErr);
    ASSERT_EQ(BP_SetVerifyType(job_, type), kNoErr);
    ASSERT_EQ(BP_SetDstDevice(job_, ref_), kNoErr);
    ASSERT_EQ(BP_SetThreadCreatorCallback(job_, TestThreads::create), kNoErr);
    ASSERT_EQ(BP_PrepareBurn(job_, nullptr, nullptr), kNoErr);
    ASSERT_EQ(BP_Burn(job_), kNoErr);
    ASSERT_TRUE(TestThreads::instance().join());
    ASSERT_TRUE(BP_RunFinished(shared_));
    ASSERT_EQ(shared_->writers[0].errorCode, 0);
    ASSERT_EQ(shared_->writers[0].phase, kBP_PhaseDone);
    ASSERT_GT(shared_->writers[0].totalVerifyBlks, 2u * Verifier::kQuickRun);
  }

  // Reads whose first block lies in [first, last] fail with an unrecovered read error.
  void unreadable(std::uint32_t first, std::uint32_t last) {
    FaultRule rule;
    rule.lbaFirst = first;
    rule.lbaLast = last;
    rule.key = 0x03;
    rule.asc = 0x11;
    drive_->addFault(rule);
  }

  // The READ commands the drive received that start at or after `lba`.
  std::size_t readsFrom(std::uint32_t lba) const {
    std::size_t n = 0;
    for (const auto& c : drive_->log()) {
      const bool read = c.cdb[0] == 0x28 || c.cdb[0] == 0xA8 || c.cdb[0] == 0xBE;
      const std::uint32_t at = std::uint32_t{c.cdb[2]} << 24 | std::uint32_t{c.cdb[3]} << 16 |
                               std::uint32_t{c.cdb[4]} << 8 | c.cdb[5];
      if (read && at >= lba) ++n;
    }
    return n;
  }

  std::string finishLog(Verifier& v, int* result) {
    CapturedLog log;
    quillion::BurnLogFacts facts;
    facts.now = [] { return QStringLiteral("today"); };
    *result = finishVerificationLog(v, log.file(), QStringLiteral("1:05"), facts);
    return log.text();
  }

  // A passed verification is checked by an outside reader: xorriso extracts every file of
  // the written disc, and each equals its source.
  void expectDiscHoldsTheLayout(std::uint32_t type) {
    const fs::path iso = dir_.path() / ("written" + std::to_string(type) + ".iso");
    bool dumped = false;
    ASSERT_TRUE(drive_->withMedium([&](quillion::emu::Medium& m) { dumped = m.dumpIso(iso); }));
    ASSERT_TRUE(dumped);
    const fs::path out = dir_.path() / ("extracted" + std::to_string(type));
    const auto x = quillion::test::runTool(
        {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
    ASSERT_EQ(x.exitCode, 0) << x.output;
    EXPECT_EQ(quillion::test::filesBelow(out), quillion::test::filesBelow(source_));
  }

  quillion::test::TempDir dir_;
  quillion::emu::DeviceEnvironment env_;
  fs::path source_;
  quillion::test::TreePtr tree_;
  std::shared_ptr<quillion::emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  BP_JobRef job_ = 0;
  BP_RuntimeSharedData* shared_ = nullptr;
};

TEST_F(VerifyWrittenDisc, BothKindsPassOnAGoodDiscAndReadEveryBlock) {
  QUILLION_REQUIRE_TOOL("xorriso");
  for (const std::uint32_t type : {kVerifyQuick, kVerifyDetailed}) {
    SCOPED_TRACE(type);
    if (job_) {
      ASSERT_EQ(BP_Delete(job_), kNoErr);
      job_ = 0;
      env_.stop();
      drive_->load(env_.blankDisc("verifier" + std::to_string(type), kCdRProfile, 359'846));
      env_.start();
      ref_ = quillion::emu::DeviceEnvironment::refOf("verifier");
      (void)MMC_TestUnitReady(ref_, nullptr);
    }
    burn(type);
    drive_->clearLog();
    Verifier v(shared_);
    v.start();
    v.join();
    EXPECT_EQ(v.outcome(), VerifyOutcome::Passed);
    EXPECT_EQ(shared_->writers[0].verifyResult, 0u);
    EXPECT_EQ(shared_->blocksRead, shared_->totalBlocks);
    const std::uint32_t start = shared_->writers[0].startVerifyLBA;
    const std::uint32_t total = shared_->writers[0].totalVerifyBlks;
    if (type == kVerifyQuick) {
      EXPECT_EQ(shared_->totalBlocks, total);
      // The last block of the written area is read too.
      EXPECT_EQ(readsFrom(start + ((total - 1) / Verifier::kQuickRun) * Verifier::kQuickRun), 1u);
    } else {
      const FS_FileLocList* list = shared_->fileLocList;
      ASSERT_NE(list, nullptr);
      const FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
      for (std::uint32_t i = 0; i < list->count; ++i) {
        if (entries[i].dataBlocks > 0) {
          EXPECT_GE(readsFrom(entries[i].dataLBA), 1u);
        }
      }
    }
    int result = -1;
    const std::string text = finishLog(v, &result);
    EXPECT_EQ(result, quillion::kBurnSuccessful);
    const std::string line = type == kVerifyQuick ? "Quick Verification Successful!"
                                                  : "Detailed Verification Successful!";
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_NE(text.find("Burn Result: Successful"), std::string::npos) << text;
    expectDiscHoldsTheLayout(type);
  }
}

TEST_F(VerifyWrittenDisc, AnUnreadableLastBlockFailsQuickVerification) {
  burn(kVerifyQuick);
  const std::uint32_t last =
      shared_->writers[0].startVerifyLBA + shared_->writers[0].totalVerifyBlks - 1;
  unreadable(last - (Verifier::kQuickRun - 1), last);
  Verifier v(shared_);
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Failed);
  EXPECT_EQ(shared_->writers[0].verifyResult, 1u);
  EXPECT_LT(shared_->blocksRead, shared_->totalBlocks);
  EXPECT_EQ(verifyVerdictText(v.outcome()), QStringLiteral("Verify Failed"));
  int result = -1;
  const std::string text = finishLog(v, &result);
  EXPECT_EQ(result, quillion::kBurnFailed);
  EXPECT_NE(text.find("Quick Verification Failed!"), std::string::npos) << text;
  EXPECT_EQ(text.find("Successful"), std::string::npos) << text;
  EXPECT_NE(text.find("Burn Result: Error(s) Occurred"), std::string::npos) << text;
  EXPECT_NE(text.find("Verify Failed"), std::string::npos) << text;
}

TEST_F(VerifyWrittenDisc, AnUnreadableLastBlockOfAFileFailsDetailedVerification) {
  burn(kVerifyDetailed);
  const FS_FileLocList* list = shared_->fileLocList;
  ASSERT_NE(list, nullptr);
  const FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
  const FS_FileLocListEntry* last =
      std::max_element(entries, entries + list->count, [](const auto& a, const auto& b) {
        return a.dataLBA + a.dataBlocks < b.dataLBA + b.dataBlocks;
      });
  const std::uint32_t end = last->dataLBA + last->dataBlocks - 1;
  unreadable(end - (Verifier::kDetailedRun - 1), end);
  Verifier v(shared_);
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Failed);
  int result = -1;
  EXPECT_NE(finishLog(v, &result).find("Detailed Verification Failed!"), std::string::npos);
  EXPECT_EQ(result, quillion::kBurnFailed);
}

TEST_F(VerifyWrittenDisc, AFileChangedAfterTheBurnFailsDetailedVerification) {
  burn(kVerifyDetailed);
  {
    std::fstream f(source_ / "docs" / "b.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(40'000);
    f.put('\x5A').put('\xA5');
  }
  Verifier v(shared_);
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Failed);
}

TEST_F(VerifyWrittenDisc, AFileThatGrewFailsDetailedVerificationWithoutReadingIt) {
  burn(kVerifyDetailed);
  const FS_FileLocList* list = shared_->fileLocList;
  ASSERT_NE(list, nullptr);
  const FS_FileLocListEntry* entries = FS_FileLocListEntries(list);
  std::uint32_t lba = 0;
  for (std::uint32_t i = 0; i < list->count; ++i)
    if (std::string(GetTitleNode(entries[i].node)) == "big.dat") lba = entries[i].dataLBA;
  ASSERT_NE(lba, 0u);
  // A block more than the disc holds for it.
  const std::string more(2048, 'g');
  std::ofstream(source_ / "big.dat", std::ios::app | std::ios::binary)
      .write(more.data(), static_cast<std::streamsize>(more.size()));
  drive_->clearLog();
  Verifier v(shared_);
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Failed);
  std::size_t readsOfIt = 0;
  for (const auto& c : drive_->log()) {
    const std::uint32_t at = std::uint32_t{c.cdb[2]} << 24 | std::uint32_t{c.cdb[3]} << 16 |
                             std::uint32_t{c.cdb[4]} << 8 | c.cdb[5];
    if (at == lba) ++readsOfIt;
  }
  EXPECT_EQ(readsOfIt, 0u);
}

TEST_F(VerifyWrittenDisc, ACancelStopsTheThreadWhichIsJoinedBeforeTheJobGoes) {
  burn(kVerifyQuick);
  const std::uint32_t start = shared_->writers[0].startVerifyLBA;
  Verifier v(shared_);
  // The second run's read cancels the verification while it is in the drive.
  FaultRule gate;
  gate.lbaFirst = start + Verifier::kQuickRun;
  gate.action = FaultAction::Hook;
  gate.hook = [&v] { v.cancel(); };
  drive_->addFault(gate);
  drive_->clearLog();
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Cancelled);
  EXPECT_EQ(readsFrom(start + 2 * Verifier::kQuickRun), 0u) << "no read after the cancel";
  EXPECT_LT(shared_->blocksRead, shared_->totalBlocks);
  int result = -1;
  const std::string text = finishLog(v, &result);
  EXPECT_EQ(result, quillion::kBurnCancelled);
  EXPECT_EQ(text.find("Successful"), std::string::npos) << text;
  EXPECT_EQ(BP_Delete(job_), kNoErr);
  job_ = 0;
}

// The result sheet's timer shows the progress and the verdict; the thread has ended first.
TEST_F(VerifyWrittenDisc, TheMonitorShowsTheVerdictAtItsNextTick) {
  burn(kVerifyQuick);
  quillion::VirtualClock clock;
  quillion::ManualTimerSource timers(clock);
  quillion::ScopedTimerSourceOverride useTimers(timers);
  std::vector<QString> texts, verdicts;
  std::uint32_t lastDone = 0;
  VerificationMonitor monitor(shared_, false,
                              {[&](std::uint32_t done, std::uint32_t, const QString& text) {
                                 lastDone = done;
                                 texts.push_back(text);
                               },
                               [&](const QString& verdict) { verdicts.push_back(verdict); }});
  monitor.start();
  monitor.verifier().join();
  EXPECT_TRUE(verdicts.empty()) << "only the timer reports";
  timers.advance(std::chrono::milliseconds(200));
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0], QStringLiteral("Verify Passed"));
  EXPECT_EQ(lastDone, shared_->totalBlocks);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), QStringLiteral("Current Sector - %1/%1").arg(shared_->totalBlocks));
  EXPECT_EQ(timers.runningCount(), 0u);
  monitor.verifyCancel();  // too late: nothing changes
  EXPECT_EQ(verdicts.size(), 1u);
  CapturedLog log;
  quillion::BurnLogFacts facts;
  facts.now = [] { return QStringLiteral("today"); };
  EXPECT_EQ(monitor.finish(log.file(), QStringLiteral("0:42"), facts), quillion::kBurnSuccessful);
}

// Cancel pressed while a read is in the drive: the sheet says so at once, the thread stops
// at that read and the log records a cancelled verification.
TEST_F(VerifyWrittenDisc, TheMonitorsCancelStopsTheDisplayAndTheThread) {
  burn(kVerifyQuick);
  quillion::VirtualClock clock;
  quillion::ManualTimerSource timers(clock);
  quillion::ScopedTimerSourceOverride useTimers(timers);
  std::vector<QString> verdicts;
  VerificationMonitor monitor(shared_, false,
                              {{}, [&](const QString& verdict) { verdicts.push_back(verdict); }});
  std::promise<void> inDrive, cancelled;
  std::shared_future<void> gate = cancelled.get_future().share();
  FaultRule hold;
  hold.lbaFirst = shared_->writers[0].startVerifyLBA + Verifier::kQuickRun;
  hold.action = FaultAction::Hook;
  hold.toCall = 1;
  hold.hook = [&inDrive, gate] {
    inDrive.set_value();
    gate.wait();
  };
  drive_->addFault(hold);
  monitor.start();
  inDrive.get_future().wait();
  monitor.verifyCancel();
  cancelled.set_value();
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0], QStringLiteral("Verify Cancelled"));
  EXPECT_EQ(timers.runningCount(), 0u);
  CapturedLog log;
  quillion::BurnLogFacts facts;
  facts.now = [] { return QStringLiteral("today"); };
  EXPECT_EQ(monitor.finish(log.file(), QStringLiteral("0:42"), facts), quillion::kBurnCancelled);
  EXPECT_EQ(monitor.verifier().outcome(), VerifyOutcome::Cancelled);
  EXPECT_NE(log.text().find("Quick Verification Cancelled!"), std::string::npos) << log.text();
}

TEST(VerifierWithoutAJob, AVerificationWithNothingToReadIsNoPass) {
  Verifier v(nullptr);
  v.start();
  v.join();
  EXPECT_EQ(v.outcome(), VerifyOutcome::Failed);
  EXPECT_EQ(verificationLogLine(kVerifyDetailed, VerifyOutcome::Failed),
            "Detailed Verification Failed!\r\r");
  EXPECT_EQ(verificationLogLine(kVerifyQuick, VerifyOutcome::Passed),
            "Quick Verification Successful!\r\r");
}

}  // namespace
