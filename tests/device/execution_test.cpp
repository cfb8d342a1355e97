// SPDX-License-Identifier: GPL-2.0-or-later
// Command execution end to end through the emulated drive: every injected fault reaches the
// caller with its status and sense unchanged; exclusive access, unmounting and locking.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "device/command_runner.h"
#include "device_environment.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

using namespace quillion;
using namespace quillion::emu;
using namespace std::chrono_literals;

namespace {

class Execution : public ::testing::Test {
protected:
  void SetUp() override {
    drive_ = env_.plug("writer");
    drive_->load(env_.blankDisc("writer", 0x1A, 100000));
    ASSERT_TRUE(drive_->withMedium([](Medium& m) { m.format(); }));
    env_.start();
    ref_ = DeviceEnvironment::refOf("writer");
    ASSERT_NE(ref_, 0u);
    // The unit attention of the load is part of the drive's behaviour, not of these tests.
    (void)MMC_TestUnitReady(ref_, nullptr);
    drive_->clearLog();
  }

  EngineStatus tur(MMC_SenseData& sense) { return MMC_TestUnitReady(ref_, &sense); }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

bool sameSense(const MMC_SenseData& a, const MMC_SenseData& b) {
  return a.key == b.key && a.code == b.code && a.qualifier == b.qualifier;
}

}  // namespace

TEST_F(Execution, InjectedFaultsReachTheCallerUnchanged) {
  struct Case {
    const char* name;
    FaultRule rule;
    EngineStatus status;
    MMC_SenseData sense;
  };
  const Case cases[] = {
      {"not ready", {.action = FaultAction::CheckCondition, .key = 2, .asc = 0x04, .ascq = 0x00}, kErrCheckCondition,
       {2, 0x04, 0x00}},
      {"illegal request", {.action = FaultAction::CheckCondition, .key = 5, .asc = 0x24, .ascq = 0x00},
       kErrCheckCondition, {5, 0x24, 0x00}},
      {"descriptor-format sense",
       {.action = FaultAction::CheckCondition, .key = 3, .asc = 0x0C, .ascq = 0x09, .descriptorSense = true},
       kErrCheckCondition, {3, 0x0C, 0x09}},
      {"transport failure", {.action = FaultAction::TransportFailure, .hostStatus = 0x07}, kErrTransport, {0, 0, 0}},
      {"busy", {.action = FaultAction::Busy}, kErrCheckCondition, {0, 0, 0}},
      {"never answers", {.action = FaultAction::NeverAnswers}, kErrTransport, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drive_->clearFaults();
    FaultRule rule = c.rule;
    rule.opcode = 0x51;
    rule.toCall = 1;
    drive_->addFault(rule);
    std::array<std::uint8_t, 34> info{};
    MMC_SenseData sense{9, 9, 9};
    EXPECT_EQ(MMC_GetDiscInfo(ref_, info.data(), info.size(), &sense), c.status);
    EXPECT_TRUE(sameSense(sense, c.sense)) << int{sense.key} << '/' << int{sense.code} << '/' << int{sense.qualifier};
    // The fault was for one command only: the next one is answered normally.
    EXPECT_EQ(MMC_GetDiscInfo(ref_, info.data(), info.size(), &sense), kNoErr);
  }
}

TEST_F(Execution, ACommandThatNeverAnswersEndsAtItsTimeoutInVirtualTime) {
  drive_->addFault({.opcode = 0x00, .action = FaultAction::NeverAnswers});
  const auto before = env_.clock().elapsed();
  MMC_SenseData sense{};
  EXPECT_EQ(tur(sense), kErrTransport);
  EXPECT_EQ(env_.clock().elapsed() - before, 30s);
}

TEST_F(Execution, WriteErrorAtOneAddressOnly) {
  drive_->addFault({.opcode = 0x2A, .lbaFirst = 100, .lbaLast = 100, .action = FaultAction::CheckCondition,
                    .key = 3, .asc = 0x0C, .ascq = 0x00});
  std::vector<std::uint8_t> block(2048, 0xAB);
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_WriteSectors(ref_, 99, block.data(), 2048, 1, &sense), kNoErr);
  EXPECT_EQ(MMC_WriteSectors(ref_, 100, block.data(), 2048, 1, &sense), kErrCheckCondition);
  EXPECT_TRUE(sameSense(sense, {3, 0x0C, 0x00}));
  EXPECT_EQ(MMC_WriteSectors(ref_, 101, block.data(), 2048, 1, &sense), kNoErr);
}

TEST_F(Execution, MediumRemovedBeforeACommandIsReportedAndAnnounced) {
  std::vector<std::uint32_t> changed;
  static std::vector<std::uint32_t>* sink = nullptr;
  sink = &changed;
  ASSERT_EQ(DC_InstallDiscChangedCallback([](void*, std::uint32_t ref, bool) { sink->push_back(ref); }, nullptr),
            kNoErr);
  drive_->addFault({.opcode = 0x00, .action = FaultAction::RemoveMedium});
  MMC_SenseData sense{};
  EXPECT_EQ(tur(sense), kErrCheckCondition);
  EXPECT_TRUE(sameSense(sense, {2, 0x3A, 0x01}));
  DeviceEnvironment::pump();
  EXPECT_EQ(changed, std::vector<std::uint32_t>{ref_});
}

TEST_F(Execution, UnknownReferenceAndBadBlocksSendNothing) {
  const std::uint8_t cdb[12] = {0x00};
  MMC_SenseData sense{1, 1, 1};
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(0, cdb, 12, nullptr, 0, kDC_NoData, 1000, &sense), kErrNoDrive);
  EXPECT_TRUE(sameSense(sense, {0, 0, 0}));
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(0xFFFFFFFF, cdb, 12, nullptr, 0, kDC_NoData, 1000, &sense), kErrNoDrive);
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref_ + 1000, cdb, 12, nullptr, 0, kDC_NoData, 1000, &sense), kErrNoDrive);
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref_, nullptr, 12, nullptr, 0, kDC_NoData, 1000, &sense), kErrBadArgument);
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref_, cdb, 0, nullptr, 0, kDC_NoData, 1000, &sense), kErrBadArgument);
  EXPECT_TRUE(drive_->log().empty());
}

TEST_F(Execution, DataPhaseOnlyWithBufferAndLength) {
  std::uint8_t cdb[12] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34};
  std::array<std::uint8_t, 34> info{};
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref_, cdb, 12, info.data(), 0, kDC_DataIn, 1000, nullptr), kNoErr);
  EXPECT_EQ(drive_->log().back().transferBytes, 0u);
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref_, cdb, 12, info.data(), info.size(), kDC_DataIn, 1000, nullptr), kNoErr);
  EXPECT_EQ(drive_->log().back().transferBytes, 34u);
  EXPECT_EQ(info[1], 0x20);  // READ DISC INFORMATION data length
}

TEST_F(Execution, BlocksAreCutToTheOpcodeGroupLength) {
  const std::pair<std::uint8_t, std::size_t> cases[] = {
      {0x00, 6}, {0x12, 6}, {0x1B, 6}, {0x28, 10}, {0x43, 10}, {0x46, 10}, {0x5A, 10}, {0xA8, 12}, {0xBE, 12},
      {0xAC, 12}, {0xE1, 12}};
  for (const auto& [opcode, length] : cases) {
    // One block for the reads: a read of none is answered without reaching the drive.
    std::uint8_t cdb[12] = {opcode, 0, 0, 0, 0, 0, 0, 0, 1, 1};
    (void)DC_ExecuteMMCCmd_Sync(ref_, cdb, 12, nullptr, 0, kDC_NoData, 1000, nullptr);
    EXPECT_EQ(drive_->log().back().cdb.size(), length) << std::hex << int{opcode};
  }
}

TEST_F(Execution, QueriesNeitherUnmountNorTakeExclusiveAccess) {
  drive_->setMounted(true);
  std::array<std::uint8_t, 96> inquiry{};
  EXPECT_EQ(MMC_Inquiry(ref_, inquiry.data(), inquiry.size(), nullptr), kNoErr);
  EXPECT_TRUE(drive_->mounted());
  EXPECT_FALSE(drive_->log().back().exclusive);
}

TEST_F(Execution, DriveSettingsLeaveTheMediumMounted) {
  drive_->setMounted(true);
  EXPECT_EQ(MMC_SetReadWriteSpeed(ref_, 0xFFFF, 0xFFFF, nullptr), kNoErr);
  EXPECT_EQ(MMC_LockDrive(ref_, true, nullptr), kNoErr);
  EXPECT_EQ(MMC_LockDrive(ref_, false, nullptr), kNoErr);
  EXPECT_TRUE(drive_->mounted());
  EXPECT_FALSE(drive_->log().back().exclusive);
}

TEST_F(Execution, WritingUnmountsWithoutForceAndFailsWhileStillMounted) {
  std::vector<std::uint8_t> block(2048, 1);
  drive_->setMounted(true);
  drive_->setUnmountRefused(true);
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, block.data(), 2048, 1, &sense), kErrExclusiveAccess);
  EXPECT_TRUE(drive_->mounted());
  EXPECT_TRUE(drive_->log().empty()) << "nothing may reach a drive whose medium is still mounted";

  drive_->setUnmountRefused(false);
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, block.data(), 2048, 1, &sense), kNoErr);
  EXPECT_FALSE(drive_->mounted());
  EXPECT_TRUE(drive_->log().back().exclusive);
}

TEST_F(Execution, AccessHeldElsewhereFailsAtOnceWithoutWaiting) {
  drive_->setHeldElsewhere(true);
  std::vector<std::uint8_t> block(2048, 1);
  const auto before = env_.clock().elapsed();
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, block.data(), 2048, 1, nullptr), kErrExclusiveAccess);
  EXPECT_EQ(DC_LockDevice(ref_, true), kErrExclusiveAccess);
  EXPECT_EQ(env_.clock().elapsed(), before) << "a busy drive is not retried for 15 s";
  // Reading still works beside the other holder.
  EXPECT_EQ(MMC_TestUnitReady(ref_, nullptr), kNoErr);
}

TEST_F(Execution, LockHoldsExclusiveAccessAcrossCommands) {
  ASSERT_EQ(DC_LockDevice(ref_, true), kNoErr);
  EXPECT_EQ(drive_->open(true), -EBUSY) << "nobody else gets exclusive access while we hold it";
  EXPECT_EQ(DC_LockDevice(ref_, true), kNoErr);  // a flag, not a count

  std::array<std::uint8_t, 34> info{};
  EXPECT_EQ(MMC_GetDiscInfo(ref_, info.data(), info.size(), nullptr), kNoErr);
  EXPECT_EQ(MMC_TestUnitReady(ref_, nullptr), kNoErr);
  const auto log = drive_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].exclusive);
  EXPECT_EQ(log[0].handle, log[1].handle) << "every command uses the one held path";

  EXPECT_EQ(DC_LockDevice(ref_, false), kNoErr);
  const int other = drive_->open(true);
  EXPECT_GT(other, 0);
  drive_->close(other);
}

TEST_F(Execution, LockedDriveReportsTransportFailureWithoutReleasingTheLock) {
  ASSERT_EQ(DC_LockDevice(ref_, true), kNoErr);
  drive_->addFault({.opcode = 0x00, .toCall = 1, .action = FaultAction::TransportFailure});
  EXPECT_EQ(MMC_TestUnitReady(ref_, nullptr), kErrTransport);
  EXPECT_EQ(drive_->open(true), -EBUSY);
  EXPECT_EQ(DC_LockDevice(ref_, false), kNoErr);
}

TEST_F(Execution, DriveVanishingMidCommandFailsThatCommandAndRetiresTheReference) {
  int listUpdates = 0;
  static int* counter = nullptr;
  counter = &listUpdates;
  ASSERT_EQ(DC_InstallListUpdateCallback([](void*) { ++*counter; }, nullptr), kNoErr);
  ASSERT_EQ(DC_LockDevice(ref_, true), kNoErr);
  drive_->addFault({.opcode = 0x2A, .action = FaultAction::Vanish});
  std::vector<std::uint8_t> block(2048, 1);
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, block.data(), 2048, 1, nullptr), kErrTransport);
  DeviceEnvironment::pump();
  EXPECT_EQ(listUpdates, 1);
  EXPECT_EQ(DeviceEnvironment::refOf("writer"), 0u);
  EXPECT_EQ(MMC_TestUnitReady(ref_, nullptr), kErrNoDrive);
  EXPECT_EQ(DC_LockDevice(ref_, false), kErrNoDrive);

  // The same drive plugged in again is a new drive with a new reference.
  env_.plug("writer");
  DeviceEnvironment::pump();
  const std::uint32_t again = DeviceEnvironment::refOf("writer");
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, ref_);
  EXPECT_EQ(MMC_TestUnitReady(ref_, nullptr), kErrNoDrive);
}

TEST_F(Execution, CommandInFlightFinishesWhenItsDriveLeavesTheRegistry) {
  std::promise<void> inCommand, removed;
  auto removedFuture = removed.get_future().share();
  drive_->addFault({.opcode = 0x51, .toCall = 1, .action = FaultAction::Hook, .hook = [&inCommand, removedFuture] {
                      inCommand.set_value();
                      removedFuture.wait();
                    }});
  EngineStatus status = 1;
  std::array<std::uint8_t, 34> info{};
  std::thread worker([&] { status = MMC_GetDiscInfo(ref_, info.data(), info.size(), nullptr); });
  inCommand.get_future().wait();
  // udev reports the drive gone while the command is still in it.
  EmulatedBus::instance().post({DeviceEvent::Kind::DriveRemoved, "emulated:writer", nullptr});
  DeviceEnvironment::pump();
  EXPECT_EQ(DeviceEnvironment::refOf("writer"), 0u);
  removed.set_value();
  worker.join();
  EXPECT_EQ(status, kNoErr) << "the command that had started finishes normally";
  EXPECT_EQ(info[1], 0x20);
  EXPECT_EQ(MMC_GetDiscInfo(ref_, info.data(), info.size(), nullptr), kErrNoDrive);
}

TEST_F(Execution, AsyncCompletionRunsOnTheDeviceThreadWithItsStatus) {
  struct Done {
    int calls = 0;
    EngineStatus status = 1;
    std::uint64_t bytes = 0;
    MMC_SenseData sense{};
  } done;
  const auto callback = [](const MMC_SenseData* sense, std::uint64_t bytes, void* user, EngineStatus status) {
    auto* d = static_cast<Done*>(user);
    ++d->calls;
    d->status = status;
    d->bytes = bytes;
    d->sense = *sense;
  };
  std::array<std::uint8_t, 34> info{};
  const std::uint8_t cdb[12] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34};
  ASSERT_EQ(DC_ExecuteMMCCmd_Async(ref_, cdb, 12, info.data(), info.size(), kDC_DataIn, callback, &done), kNoErr);
  // Completion is never delivered on the worker: only a pump on this thread runs it.
  while (done.calls == 0) {
    DeviceEnvironment::pump();
    std::this_thread::yield();
  }
  EXPECT_EQ(done.status, kNoErr);
  EXPECT_EQ(done.bytes, 34u);

  drive_->addFault({.opcode = 0x51, .action = FaultAction::TransportFailure});
  done = {};
  ASSERT_EQ(DC_ExecuteMMCCmd_Async(ref_, cdb, 12, info.data(), info.size(), kDC_DataIn, callback, &done), kNoErr);
  while (done.calls == 0) {
    DeviceEnvironment::pump();
    std::this_thread::yield();
  }
  EXPECT_EQ(done.status, kErrTransport) << "a transport failure must not look like success";
  EXPECT_EQ(DC_ExecuteMMCCmd_Async(ref_ + 99, cdb, 12, nullptr, 0, kDC_NoData, callback, &done), kErrNoDrive);
}

TEST_F(Execution, PumpRefusesOtherThreads) {
  EngineStatus status = kNoErr;
  std::thread other([&] { status = pumpDeviceEvents(); });
  other.join();
  EXPECT_EQ(status, kErrBadArgument);
  EXPECT_EQ(pumpDeviceEvents(), kNoErr);
}

TEST_F(Execution, PassingOpenFailuresAreRetriedOnceASecondUpToFifteenTimes) {
  drive_->failOpens(3);
  const auto before = env_.clock().elapsed();
  EXPECT_EQ(DC_LockDevice(ref_, true), kNoErr);
  EXPECT_EQ(env_.clock().elapsed() - before, 3s);
  EXPECT_EQ(DC_LockDevice(ref_, false), kNoErr);

  drive_->failOpens(100);
  const auto start = env_.clock().elapsed();
  std::vector<std::uint8_t> block(2048, 1);
  EXPECT_EQ(MMC_WriteSectors(ref_, 0, block.data(), 2048, 1, nullptr), kErrExclusiveAccess);
  EXPECT_EQ(env_.clock().elapsed() - start, 14s) << "15 attempts, one second apart";
  drive_->failOpens(0);
}

TEST(PureReader, IsListedWithoutACommandPath) {
  DeviceEnvironment env;
  auto config = *DriveConfig::preset("reader");
  config.name = "plain";
  config.product = "plain";
  config.pureReader = true;
  auto drive = EmulatedBus::instance().plug(config);
  env.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("plain");
  ASSERT_NE(ref, 0u);
  EXPECT_TRUE(DC_MacX_IsPureReader(ref));
  EXPECT_EQ(MMC_TestUnitReady(ref, nullptr), kErrNoDrive);
  EXPECT_EQ(DC_LockDevice(ref, true), kErrNoDrive);
  EXPECT_EQ(DC_MacX_ReadDiscInfo(ref, nullptr, 0, nullptr), kErrNoDrive);
  EXPECT_EQ(MMC_WaitTestUnitReady(ref, 3), 0);
  EXPECT_FALSE(MMC_isSONYWriteContinueDrive(ref));
  EXPECT_TRUE(drive->log().empty());
  DC_Device* list = nullptr;
  ASSERT_EQ(DC_GetConnectedDeviceList(&list), 1);
  EXPECT_EQ(list[0].RWCapability, kDC_PureReader);
  EXPECT_EQ(list[0].cacheSizeInKB, 0u);
  std::free(list);
}

namespace {

// A backend that opens without giving a command path and without saying why.
class SilentBackend final : public DriveBackend {
public:
  SilentBackend() { id_.key = "silent"; }
  const DriveIdentity& identity() const override { return id_; }
  OpenResult open(AccessMode) override { return {}; }
  EngineStatus trayState(TrayState&) override { return kErrTransport; }
  EngineStatus setTray(bool) override { return kErrTransport; }
  EngineStatus mediumBytes(std::uint64_t&) override { return kErrTransport; }
  EngineStatus readMedium(std::uint64_t, std::uint8_t*, std::size_t) override { return kErrTransport; }

private:
  DriveIdentity id_;
};

}  // namespace

TEST(CommandRunner, NoCommandPathIsATransportFailureNeverSuccess) {
  VirtualClock clock;
  ScopedClockOverride guard(clock);
  DriveEntry entry(std::make_shared<SilentBackend>());
  const std::uint8_t tur[12] = {};
  MMC_SenseData sense{};
  EXPECT_EQ(runCommand(entry, {tur, nullptr, 0, kDC_NoData, 1000}, &sense), kErrTransport);
  EXPECT_EQ(lockDrive(entry, true), kErrExclusiveAccess);
  EXPECT_FALSE(isLocked(entry));
}
