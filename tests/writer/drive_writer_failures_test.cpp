// SPDX-License-Identifier: GPL-2.0-or-later
// How the disc writer meets a drive that refuses: write errors with the retry window in virtual
// time, cue sheets the drive will not take, a disc that takes no more, a start that fails
// (the drive given back), close commands that fail, and drives without BUFE.
#include <gtest/gtest.h>

#include <chrono>

#include "drive_writer_support.h"

using namespace quillion;
using namespace quillion::test;
using namespace std::chrono_literals;

namespace {

bool sameSense(const MMC_SenseData& s, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  return s.key == key && s.code == asc && s.qualifier == ascq;
}

class WriterFailures : public DriveWriterTest {
 protected:
  MMC_SenseData senseOf(const myBurnEng_Pack* c) {
    MMC_SenseData sense{};
    EXPECT_EQ(CDWriterEx_GetCurrentSense(c, &sense), kNoErr);
    return sense;
  }
};

}  // namespace

TEST_F(WriterFailures, AWriteStillRefusedAfterTheWindowStopsTheTrack) {
  struct Case {
    const char* name;
    emu::FaultRule rule;
    EngineStatus status;
    MMC_SenseData sense;
  };
  const Case cases[] = {
      {"medium error",
       {.action = emu::FaultAction::CheckCondition, .key = 3, .asc = 0x0C, .ascq = 0x00},
       kErrDataRefused,
       {3, 0x0C, 0x00}},
      {"sense key without ASC",
       {.action = emu::FaultAction::CheckCondition, .key = 4, .asc = 0, .ascq = 0},
       kErrDataRefused,
       {4, 0, 0}},
      {"transport failure",
       {.action = emu::FaultAction::TransportFailure, .hostStatus = 0x07},
       kErrTransport,
       {0, 0, 0}},
  };
  const Bytes data = payload(100 * 2048, 5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    myBurnEng_Pack* context = openDataTrack();
    ASSERT_NE(context, nullptr);
    // The third chunk (blocks 64-95) never gets through.
    emu::FaultRule rule = c.rule;
    rule.opcode = 0x2A;
    rule.lbaFirst = 64;
    rule.lbaLast = 64;
    int tries = 0;
    rule.hook = [&] { ++tries; };
    drive_->addFault(rule);
    drive_->clearLog();
    const auto before = env_.clock().elapsed();
    EXPECT_EQ(CDWriterEx_WriteCD(context, data.data(), 100, 2048, &stop_), c.status);
    const auto waited = env_.clock().elapsed() - before;
    EXPECT_GE(waited, 240s);
    EXPECT_LT(waited, 242s);
    EXPECT_TRUE(sameSense(senseOf(context), c.sense.key, c.sense.code, c.sense.qualifier));
    const auto addresses = writeAddresses();
    EXPECT_EQ(*std::max_element(addresses.begin(), addresses.end()),
              c.status == kErrTransport ? 32 : 64)
        << "nothing written behind the failing chunk";
    EXPECT_GE(tries, 240) << "tried again about once a second";
    EXPECT_LE(tries, 242);
    (void)CDWriterEx_CloseCD(context);
    restart();
  }
}

TEST_F(WriterFailures, AWriteRefusedForAWhileGoesThroughWithinTheWindow) {
  start();
  myBurnEng_Pack* c = openDataTrack();
  ASSERT_NE(c, nullptr);
  // "Long write in progress" for the first 30 tries of the second chunk.
  drive_->addFault({.opcode = 0x2A,
                    .lbaFirst = 32,
                    .lbaLast = 32,
                    .toCall = 30,
                    .action = emu::FaultAction::CheckCondition,
                    .key = 2,
                    .asc = 0x04,
                    .ascq = 0x08});
  const Bytes data = payload(400 * 2048, 6);
  const auto before = env_.clock().elapsed();
  ASSERT_EQ(CDWriterEx_WriteCD(c, data.data(), 400, 2048, &stop_), kNoErr);
  EXPECT_EQ(env_.clock().elapsed() - before, 30s);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  Bytes back(400 * 2048);
  ASSERT_EQ(MMC_ReadCD(ref_, 0x08, 0x10, 0, 400, back.data(),
                       static_cast<std::uint32_t>(back.size()), nullptr),
            kNoErr);
  EXPECT_EQ(back, data);
}

TEST_F(WriterFailures, TheStopFlagEndsWritingBetweenChunksAndBetweenTries) {
  const Bytes data = payload(96 * 2048, 7);
  struct Case {
    const char* name;
    emu::FaultRule rule;  // its hook raises the flag, as the other thread would
    std::size_t writes;
    std::chrono::seconds waited;
  };
  const Case cases[] = {
      {"between chunks",
       {.opcode = 0x2A, .fromCall = 2, .toCall = 2, .action = emu::FaultAction::Hook},
       2,
       0s},
      {"between tries",
       {.opcode = 0x2A,
        .fromCall = 2,
        .action = emu::FaultAction::CheckCondition,
        .key = 2,
        .asc = 0x04,
        .ascq = 0x08},
       4,
       2s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    myBurnEng_Pack* context = openDataTrack();
    ASSERT_NE(context, nullptr);
    stop_ = false;
    int calls = 0;
    emu::FaultRule rule = c.rule;
    rule.hook = [&] {
      if (++calls == (c.waited == 0s ? 1 : 3)) stop_ = true;
    };
    drive_->addFault(rule);
    drive_->clearLog();
    const auto before = env_.clock().elapsed();
    EXPECT_EQ(CDWriterEx_WriteCD(context, data.data(), 96, 2048, &stop_), kNoErr)
        << "a stop is no failure";
    EXPECT_EQ(writeAddresses().size(), c.writes);
    EXPECT_EQ(env_.clock().elapsed() - before, c.waited);
    stop_ = false;
    (void)CDWriterEx_CloseCD(context);
    restart();
  }
  start();
  myBurnEng_Pack* context = openDataTrack();
  ASSERT_NE(context, nullptr);
  stop_ = true;
  drive_->clearLog();
  EXPECT_EQ(CDWriterEx_WriteCD(context, data.data(), 96, 2048, &stop_), kNoErr);
  EXPECT_TRUE(writeAddresses().empty()) << "a raised flag sends nothing";
  EXPECT_EQ(CDWriterEx_WriteCD(context, data.data(), 96, 2048, nullptr), kErrBadArgument)
      << "a drive needs the flag";
  (void)CDWriterEx_CloseCD(context);
}

TEST_F(WriterFailures, CueSheetsTheDriveRefuses) {
  const auto withEntry = [](Bytes sheet, std::size_t entry, std::size_t byte, std::uint8_t value) {
    sheet[entry * 8 + byte] = value;
    return sheet;
  };
  const Bytes good =
      audioCueSheet(-150, 1, {{150, 400}, {150, 400}});  // lead-in, 1/0, 1/1, 2/0, 2/1, lead-out
  struct Case {
    const char* name;
    Bytes sheet;
  };
  const Case cases[] = {
      {"a length that is no whole entry", Bytes(good.begin(), good.end() - 3)},
      {"no lead-out", Bytes(good.begin(), good.end() - 8)},
      {"tracks out of order", withEntry(withEntry(good, 3, 1, 3), 4, 1, 3)},
      {"an index going back in time", withEntry(good, 4, 6, 1)},
      {"a frame number of 75", withEntry(good, 2, 7, 75)},
      {"not starting at the first pregap", audioCueSheet(0, 1, {{150, 400}})},
      {"a track shorter than 4 seconds", audioCueSheet(-150, 1, {{150, 299}})},
      {"a data form that does not fit audio", withEntry(good, 2, 3, 0x10)},
      {"a first track that is not the next one", audioCueSheet(-150, 2, {{150, 400}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    myBurnEng_Pack* context =
        CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, false, 1, true, false, nullptr, 0);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CDWriterEx_CreateSession(context, 0, 0, 0, c.sheet.data(),
                                       static_cast<std::uint32_t>(c.sheet.size()), nullptr, 0),
              kErrDataRefused);
    EXPECT_TRUE(sameSense(senseOf(context), 5, 0x26, 0x00));
    (void)CDWriterEx_CloseCD(context);
    restart();
  }
  // The good one, for contrast; and a cue sheet while the page says track at once.
  start();
  myBurnEng_Pack* context =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, false, 1, true, false, nullptr, 0);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(CDWriterEx_CreateSession(context, 0, 0, 0, nullptr, 0, nullptr, 0), kErrBadArgument)
      << "none given";
  EXPECT_EQ(CDWriterEx_CreateSession(context, 0, 0, 0, good.data(),
                                     static_cast<std::uint32_t>(good.size()), nullptr, 0),
            kNoErr);
  (void)CDWriterEx_CloseCD(context);
  MMC_SenseData sense{};
  EXPECT_EQ(MMC_SendCueSheet(ref_, good.data(), static_cast<std::uint32_t>(good.size()), &sense),
            kErrCheckCondition);
  EXPECT_TRUE(sameSense(sense, 5, 0x2C, 0x00)) << "the default page: track at once";
}

TEST_F(WriterFailures, ACompleteDiscTakesNoMoreAndNothingIsWrittenAtZero) {
  start();
  myBurnEng_Pack* c = openDataTrack();
  ASSERT_NE(c, nullptr);
  const Bytes data = payload(300 * 2048, 8);
  ASSERT_EQ(CDWriterEx_WriteCD(c, data.data(), 300, 2048, &stop_), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  ASSERT_EQ(discStatus(), emu::DiscStatus::Complete);
  drive_->clearLog();

  // Track at once: the drive has no next writable address to give.
  c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  EXPECT_EQ(CDWriterEx_CreateTrack(c, 2, kMode1, 2048, 150, nullptr, 0), kErrCheckCondition);
  EXPECT_TRUE(sameSense(senseOf(c), 5, 0x24, 0x00));
  (void)CDWriterEx_CloseCD(c);
  // Session at once: the cue sheet is refused.
  c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, false, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  const Bytes sheet = audioCueSheet(-150, 1, {{150, 400}});
  EXPECT_EQ(CDWriterEx_CreateSession(c, 0, 0, 0, sheet.data(),
                                     static_cast<std::uint32_t>(sheet.size()), nullptr, 0),
            kErrDataRefused);
  EXPECT_TRUE(sameSense(senseOf(c), 5, 0x21, 0x02));
  (void)CDWriterEx_CloseCD(c);
  EXPECT_TRUE(writeAddresses().empty());
  Bytes back(2048);
  ASSERT_EQ(MMC_ReadCD(ref_, 0x08, 0x10, 0, 1, back.data(), 2048, nullptr), kNoErr);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()))
      << "the first session is untouched";
}

TEST_F(WriterFailures, AFailedNextWritableAddressFailsTheTrack) {
  start();
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  drive_->addFault({.opcode = 0x52,
                    .action = emu::FaultAction::CheckCondition,
                    .key = 2,
                    .asc = 0x04,
                    .ascq = 0x01});
  EXPECT_EQ(CDWriterEx_CreateTrack(c, 1, kMode1, 2048, 150, nullptr, 0), kErrCheckCondition);
  EXPECT_TRUE(sameSense(senseOf(c), 2, 0x04, 0x01));
  drive_->clearFaults();
  drive_->addFault({.opcode = 0x52, .action = emu::FaultAction::TransportFailure});
  EXPECT_EQ(CDWriterEx_CreateTrack(c, 1, kMode1, 2048, 150, nullptr, 0), kErrTransport);
  (void)CDWriterEx_CloseCD(c);
}

TEST_F(WriterFailures, AStartThatFailsGivesTheDriveBack) {
  struct Case {
    const char* name;
    emu::FaultRule rule;
  };
  const Case cases[] = {
      {"write parameters unreadable",
       {.opcode = 0x5A, .action = emu::FaultAction::CheckCondition, .key = 5, .asc = 0x24}},
      {"write parameters refused",
       {.opcode = 0x55, .action = emu::FaultAction::CheckCondition, .key = 5, .asc = 0x26}},
      {"drive gone while starting", {.opcode = 0x5A, .action = emu::FaultAction::TransportFailure}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    drive_->addFault(c.rule);
    EXPECT_EQ(CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0),
              nullptr);
    EXPECT_FALSE(driveHeld()) << "the exclusive access went back";
    // A hold someone else took before stays.
    ASSERT_EQ(DC_LockDevice(ref_, true), kNoErr);
    EXPECT_EQ(CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0),
              nullptr);
    EXPECT_TRUE(driveHeld());
    ASSERT_EQ(DC_LockDevice(ref_, false), kNoErr);
    restart();
  }
  start();
  EXPECT_EQ(CDWriterEx_CreateCD(ref_ + 40, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0),
            nullptr);
  drive_->setHeldElsewhere(true);
  EXPECT_EQ(CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true, false, nullptr, 0),
            nullptr);
}

TEST_F(WriterFailures, CloseCommandsThatFailAreReported) {
  struct Case {
    const char* name;
    std::uint8_t opcode;
    int before;  // the fault goes in before: 0 close track, 1 close session, 2 close of the context
    EngineStatus track, session, close;
    MMC_SenseData sense;  // kept after the first failure
    emu::DiscStatus disc;
  };
  const Case cases[] = {
      {"cache not written",
       0x35,
       0,
       kErrCheckCondition,
       kErrCheckCondition,
       kNoErr,
       {3, 0x0C, 0x00},
       emu::DiscStatus::Appendable},
      {"track not closed",
       0x5B,
       0,
       kErrCheckCondition,
       kErrCheckCondition,
       kNoErr,
       {3, 0x0C, 0x00},
       emu::DiscStatus::Appendable},
      {"session not closed",
       0x5B,
       1,
       kNoErr,
       kErrCheckCondition,
       kNoErr,
       {3, 0x0C, 0x00},
       emu::DiscStatus::Appendable},
      {"defaults not restored",
       0x55,
       2,
       kNoErr,
       kNoErr,
       kErrCheckCondition,
       {3, 0x0C, 0x00},
       emu::DiscStatus::Complete},
  };
  const Bytes data = payload(300 * 2048, 9);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    myBurnEng_Pack* context = openDataTrack();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(CDWriterEx_WriteCD(context, data.data(), 300, 2048, &stop_), kNoErr);
    const emu::FaultRule rule{.opcode = c.opcode,
                              .toCall = 1,
                              .action = emu::FaultAction::CheckCondition,
                              .key = 3,
                              .asc = 0x0C};
    if (c.before == 0) drive_->addFault(rule);
    EXPECT_EQ(CDWriterEx_CloseTrack(context), c.track);
    if (c.before == 0) {
      EXPECT_TRUE(sameSense(senseOf(context), c.sense.key, c.sense.code, c.sense.qualifier));
    }
    if (c.before == 1) drive_->addFault(rule);
    // A session whose track is still open does not close either: the drive says so (5/72/03).
    EXPECT_EQ(CDWriterEx_CloseSession(context), c.session);
    if (c.before == 1) {
      EXPECT_TRUE(sameSense(senseOf(context), c.sense.key, c.sense.code, c.sense.qualifier));
    }
    if (c.before == 0) {
      EXPECT_TRUE(sameSense(senseOf(context), 5, 0x72, 0x03));
    }
    if (c.before == 2) drive_->addFault(rule);
    EXPECT_EQ(CDWriterEx_CloseCD(context), c.close)
        << "reported, and the context freed all the same";
    EXPECT_EQ(discStatus(), c.disc);
    restart();
  }
}
