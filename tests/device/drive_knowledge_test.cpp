// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's drive knowledge as data: the profile table and the one current-profile query
// (its order of paths, against the emulated drive), the sense classes beside the sense texts,
// and the time-out of each command kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/command_timeouts.h"
#include "device/medium_profile.h"
#include "device/sense_table.h"
#include "device_environment.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "quillion/SCS.h"
#include "common/handle_table.h"

using namespace quillion;
using namespace quillion::emu;

namespace {

// ---- The profile table ----

struct ProfileCase {
  std::uint16_t code;
  const char* name;
  MediumFamily family;
  bool writtenAsDvd;
  bool sessionAtOnce;
  bool randomWritable;
  bool callerAddressed;
  bool fixedPackets;
  bool closesTracks;
  bool appendsAfterLastTrack;
  std::uint8_t finalClose;
  std::uint8_t discKind;  // as GDT.h documents the kinds
};

constexpr auto F = false;
constexpr auto T = true;

// What the writer and the queries relied on before the table, row by row.
const ProfileCase kProfileCases[] = {
    {0x08, "CD-ROM", MediumFamily::Cd, F, T, F, F, F, T, F, 2, 0},
    {0x09, "CD-R", MediumFamily::Cd, F, T, F, F, F, T, F, 2, 0},
    {0x0A, "CD-RW", MediumFamily::Cd, F, T, F, F, F, T, F, 2, 0},
    {0x10, "DVD-ROM", MediumFamily::Dvd, F, F, F, F, F, T, F, 2, 1},
    {0x11, "DVD-R", MediumFamily::Dvd, T, F, F, F, T, T, T, 2, 2},
    {0x12, "DVD-RAM", MediumFamily::Dvd, T, F, T, T, F, F, F, 2, 7},
    {0x13, "DVD-RW", MediumFamily::Dvd, T, F, F, T, T, F, F, 2, 3},
    {0x14, "DVD-RW", MediumFamily::Dvd, T, F, F, T, T, T, F, 2, 3},
    {0x15, "DVD-R DL", MediumFamily::Dvd, T, F, F, F, T, T, T, 2, 8},
    {0x1A, "DVD+RW", MediumFamily::Dvd, T, F, T, T, F, F, F, 2, 5},
    {0x1B, "DVD+R", MediumFamily::Dvd, T, F, F, F, F, T, T, 6, 4},
    {0x2B, "DVD+R DL", MediumFamily::Dvd, T, F, F, F, F, T, T, 5, 6},
    {0x40, "BD-ROM", MediumFamily::Bd, F, F, F, F, F, T, F, 2, 9},
    {0x41, "BD-R", MediumFamily::Bd, F, F, F, F, F, T, F, 2, 10},
    {0x42, "BD-R", MediumFamily::Bd, F, F, F, F, F, T, F, 2, 10},
    {0x43, "BD-RE", MediumFamily::Bd, F, F, T, T, F, F, F, 2, 11},
    // Not in the table: nothing known, nothing refused, written as a CD.
    {kNoProfile, "", MediumFamily::None, F, T, F, F, F, T, F, 2, 0},
    {0x0002, "", MediumFamily::None, F, T, F, F, F, T, F, 2, 0},
    {0xFFFF, "", MediumFamily::None, F, T, F, F, F, T, F, 2, 0},
};

TEST(ProfileTable, EachRowSaysWhatTheEngineDoesWithTheMedium) {
  for (const ProfileCase& c : kProfileCases) {
    SCOPED_TRACE(c.code);
    const MediumProfile& p = profileOf(c.code);
    EXPECT_STREQ(p.name, c.name);
    EXPECT_EQ(p.family, c.family);
    EXPECT_EQ(writtenAsDvd(c.code), c.writtenAsDvd);
    EXPECT_EQ(p.sessionAtOnce, c.sessionAtOnce);
    EXPECT_EQ(p.randomWritable, c.randomWritable);
    EXPECT_EQ(p.callerAddressed, c.callerAddressed);
    EXPECT_EQ(p.fixedPackets, c.fixedPackets);
    EXPECT_EQ(p.closesTracks, c.closesTracks);
    EXPECT_EQ(p.appendsAfterLastTrack, c.appendsAfterLastTrack);
    EXPECT_EQ(p.finalCloseFunction, c.finalClose);
    EXPECT_EQ(GDT_DiscKindOfProfile(c.code), c.discKind);
  }
}

TEST(ProfileTable, RowsAgreeWithThemselves) {
  std::set<std::uint16_t> codes;
  for (const MediumProfile& p : kMediumProfiles) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(codes.insert(p.code).second) << "one row per code";
    EXPECT_NE(p.code, kNoProfile);
    EXPECT_EQ(&profileOf(p.code), &p) << "every row is found by its code";
    EXPECT_FALSE(p.recordable && p.rewritable);
    EXPECT_FALSE(p.plus && p.minus);
    EXPECT_TRUE(!(p.plus || p.minus) || p.family == MediumFamily::Dvd) << "+/- are DVD formats";
    EXPECT_TRUE(!p.randomWritable || (p.rewritable && p.callerAddressed && !p.closesTracks));
    EXPECT_TRUE(!p.sessionAtOnce || p.family == MediumFamily::Cd) << "only CD takes a cue sheet";
    EXPECT_TRUE(!p.fixedPackets || p.minus);
    EXPECT_TRUE(!p.appendsAfterLastTrack || p.recordable);
    EXPECT_TRUE(p.finalCloseFunction == 2 || (p.plus && p.recordable));
    EXPECT_TRUE(p.dvdOrBd() == (p.family == MediumFamily::Dvd || p.family == MediumFamily::Bd));
  }
  EXPECT_TRUE(std::ranges::is_sorted(kMediumProfiles, {}, &MediumProfile::code));
}

// ---- The current-profile query: one order of paths ----

struct QueryCase {
  const char* what;
  std::function<void(EmulatedDrive&, std::uint32_t ref)> arrange;
  std::optional<std::uint32_t> ref;  // another reference than the drive's
  std::optional<std::uint16_t> expected;
  std::vector<std::uint8_t> opcodes;  // what reaches the drive, in order
  bool exclusive = false;             // whether the GET CONFIGURATION used exclusive access
};

const QueryCase kQueryCases[] = {
    {"a free drive answers on the query path",
     [](EmulatedDrive&, std::uint32_t) {},
     std::nullopt,
     0x11,
     {0x46},
     false},
    {"a drive this program holds answers through the held access",
     [](EmulatedDrive&, std::uint32_t ref) { ASSERT_EQ(DC_LockDevice(ref, true), kNoErr); },
     std::nullopt,
     0x11,
     {0x46},
     true},
    {"a query path turned away sends the raw command, readied first",
     [](EmulatedDrive& d, std::uint32_t) { d.failOpens(1); },
     std::nullopt,
     0x11,
     {0x00, 0x46},
     false},
    {"a drive no path reaches answers nothing",
     [](EmulatedDrive& d, std::uint32_t) { d.failOpens(1000); },
     std::nullopt,
     std::nullopt,
     {},
     false},
    {"a drive without medium answers 'no profile'",
     [](EmulatedDrive& d, std::uint32_t) { (void)d.unload(); },
     std::nullopt,
     kNoProfile,
     {0x46},
     false},
    {"a drive that is gone answers nothing, with no second try",
     [](EmulatedDrive& d, std::uint32_t) { d.unplug(); },
     std::nullopt,
     std::nullopt,
     {},
     false},
    {"the image pseudo-drive is never asked",
     [](EmulatedDrive&, std::uint32_t) {},
     kImageWriterHandle,
     std::nullopt,
     {},
     false},
    {"the ISO image pseudo-drive is never asked",
     [](EmulatedDrive&, std::uint32_t) {},
     kIsoImageWriterHandle,
     std::nullopt,
     {},
     false},
    {"no handle is never asked",
     [](EmulatedDrive&, std::uint32_t) {},
     kNoHandle,
     std::nullopt,
     {},
     false},
};

TEST(CurrentProfile, OneOrderOfPaths) {
  for (const QueryCase& c : kQueryCases) {
    SCOPED_TRACE(c.what);
    DeviceEnvironment env;
    auto drive = env.plug("writer");
    drive->load(env.blankDisc("writer", 0x11, 2'295'104));
    env.start();
    const std::uint32_t driveRef = DeviceEnvironment::refOf("writer");
    ASSERT_NE(driveRef, 0u);
    (void)MMC_TestUnitReady(driveRef, nullptr);  // the attention of the new disc
    c.arrange(*drive, driveRef);
    drive->clearLog();

    const std::uint32_t ref = c.ref.value_or(driveRef);
    EXPECT_EQ(readCurrentProfile(ref), c.expected);
    std::vector<std::uint8_t> opcodes;
    for (const auto& command : drive->log()) opcodes.push_back(command.cdb[0]);
    EXPECT_EQ(opcodes, c.opcodes);
    if (!c.opcodes.empty()) {
      EXPECT_EQ(drive->log().back().exclusive, c.exclusive);
    }
    EXPECT_EQ(currentProfile(ref), c.expected.value_or(kNoProfile));
    (void)DC_LockDevice(driveRef, false);
  }
}

// ---- Sense classes ----

struct SenseCase {
  std::uint8_t key, asc, ascq;
  SenseClass expected;
};

const SenseCase kSenseCases[] = {
    {0x02, 0x3A, 0x00, SenseClass::NoMedium},
    {0x02, 0x3A, 0x02, SenseClass::NoMedium},  // tray open
    {0x06, 0x3A, 0x01, SenseClass::NoMedium},  // whatever the key
    {0x06, 0x28, 0x00, SenseClass::MediumChanged},
    {0x02, 0x28, 0x00, SenseClass::MediumChanged},
    {0x06, 0x29, 0x00, SenseClass::MediumChanged},
    {0x06, 0x29, 0x02, SenseClass::MediumChanged},
    {0x02, 0x04, 0x01, SenseClass::BecomingReady},
    {0x02, 0x04, 0x04, SenseClass::LongWriteInProgress},
    {0x02, 0x04, 0x07, SenseClass::LongWriteInProgress},
    {0x02, 0x04, 0x08, SenseClass::LongWriteInProgress},
    {0x02, 0x04, 0x02, SenseClass::Fail},   // needs a START UNIT, not patience
    {0x02, 0x04, 0x03, SenseClass::Fail},   // manual intervention
    {0x06, 0x2A, 0x01, SenseClass::Retry},  // mode parameters changed
    {0x06, 0x5A, 0x01, SenseClass::Retry},  // operator medium removal request
    {0x0B, 0x00, 0x00, SenseClass::Retry},
    {0x0B, 0x47, 0x00, SenseClass::Retry},
    {0x00, 0x00, 0x00, SenseClass::None},
    {0x01, 0x17, 0x01, SenseClass::None},
    {0x05, 0x24, 0x00, SenseClass::Fail},
    {0x05, 0x21, 0x02, SenseClass::Fail},
    {0x03, 0x11, 0x00, SenseClass::Fail},
    {0x03, 0x0C, 0x00, SenseClass::Fail},
    {0x04, 0x44, 0x00, SenseClass::Fail},
    {0x07, 0x27, 0x00, SenseClass::Fail},
};

TEST(SenseClasses, EachSenseHasOneClass) {
  for (const SenseCase& c : kSenseCases) {
    const MMC_SenseData sense{c.key, c.asc, c.ascq};
    SCOPED_TRACE(::testing::Message()
                 << std::hex << int{c.key} << '/' << int{c.asc} << '/' << int{c.ascq});
    EXPECT_EQ(classifySense(sense), c.expected);
    // The texts beside the classes name every sense classified here.
    char text[kSCS_TextCapacity];
    SCS_GetStringFromSense(&sense, text);
    if (c.expected != SenseClass::None) {
      EXPECT_EQ(std::string(text).find(", )"), std::string::npos) << text;
    }
  }
}

TEST(SenseClasses, WhatCallersDoWithAClass) {
  EXPECT_TRUE(sendAgain(SenseClass::MediumChanged));
  EXPECT_TRUE(sendAgain(SenseClass::Retry));
  EXPECT_FALSE(sendAgain(SenseClass::NoMedium));
  EXPECT_FALSE(sendAgain(SenseClass::Fail));
  EXPECT_FALSE(sendAgain(SenseClass::BecomingReady));
  EXPECT_TRUE(mediumMayHaveChanged(SenseClass::MediumChanged));
  EXPECT_TRUE(mediumMayHaveChanged(SenseClass::NoMedium));
  EXPECT_FALSE(mediumMayHaveChanged(SenseClass::Retry));
  EXPECT_FALSE(mediumMayHaveChanged(SenseClass::LongWriteInProgress));
}

// ---- Time-outs ----

TEST(CommandTimeouts, OneTimePerKind) {
  const std::pair<CommandKind, std::uint32_t> expected[] = {
      {CommandKind::Ordinary, 30'000}, {CommandKind::DiscInfo, 10'000},
      {CommandKind::ImportRead, 10'000}, {CommandKind::Eject, 15'000},
      {CommandKind::Format, 100'000},
      {CommandKind::Reserve, 300'000}, {CommandKind::Write, 600'000},
      {CommandKind::NoLimit, 0},
  };
  EXPECT_EQ(std::size(kCommandTimeouts), std::size(expected)) << "one row per kind";
  std::set<CommandKind> kinds;
  for (const CommandTimeout& row : kCommandTimeouts) EXPECT_TRUE(kinds.insert(row.kind).second);
  for (const auto& [kind, ms] : expected) EXPECT_EQ(timeoutMs(kind), ms);
  EXPECT_GT(kNoLimitTimeout, std::chrono::milliseconds(timeoutMs(CommandKind::Write)))
      << "no limit still ends, later than any limit";
}

}  // namespace
