// SPDX-License-Identifier: GPL-2.0-or-later
// The burn road's decisions without any widget: job codes, write speeds, the options
// sheet's switches by medium, and what the progress sheet shows of a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "burn/layout_codes.h"
#include "burn/options_state.h"
#include "burn/progress_model.h"
#include "burn/speed_model.h"

using namespace quillion;

namespace {

// ---- job codes ----

struct JobCodeCase {
  int layoutType;
  std::uint32_t dst;
  JobPurpose purpose;
  BP_JobCode expected;
};

class JobCodes : public ::testing::TestWithParam<JobCodeCase> {};

TEST_P(JobCodes, KindAndRoute) {
  const JobCodeCase& c = GetParam();
  EXPECT_EQ(layoutJobCode(c.layoutType, c.dst, c.purpose), c.expected);
}

constexpr std::uint32_t kDrive = 0x1234;
INSTANTIATE_TEST_SUITE_P(
    Table, JobCodes,
    ::testing::Values(JobCodeCase{kLayoutData, kDrive, JobPurpose::kBurn, 0x201},
                      JobCodeCase{kLayoutData, kCDImageWriterRef, JobPurpose::kBurn, 0x101},
                      JobCodeCase{kLayoutData, kISOImageWriterRef, JobPurpose::kSizing, 0x101},
                      JobCodeCase{kLayoutAudio, kDrive, JobPurpose::kBurn, 0x202},
                      JobCodeCase{kLayoutMixedMode, kCDImageWriterRef, JobPurpose::kBurn, 0x103},
                      JobCodeCase{kLayoutCDExtra, kDrive, JobPurpose::kBurn, 0x204},
                      // The MP3 window burns a data disc but sizes as an MP3 job.
                      JobCodeCase{kLayoutMP3, kDrive, JobPurpose::kBurn, 0x201},
                      JobCodeCase{kLayoutMP3, kDrive, JobPurpose::kSizing, 0x205},
                      JobCodeCase{kLayoutVCD, kDrive, JobPurpose::kBurn, 0x206},
                      JobCodeCase{kLayoutSVCD, kCDImageWriterRef, JobPurpose::kBurn, 0x108},
                      // Live audio burns an audio disc and sizes as the plain audio kind.
                      JobCodeCase{kLayoutLiveAudio, kDrive, JobPurpose::kBurn, 0x202},
                      JobCodeCase{kLayoutLiveAudio, kDrive, JobPurpose::kSizing, 0x20C},
                      // Copies and unknown kinds have no layout job.
                      JobCodeCase{kLayoutCopy, kDrive, JobPurpose::kBurn, 0},
                      JobCodeCase{kLayoutNone, kDrive, JobPurpose::kBurn, 0},
                      JobCodeCase{7, kDrive, JobPurpose::kBurn, 0}));

TEST(LayoutCodes, CopyRoutesAndTheOtherTables) {
  EXPECT_EQ(copyJobCode(kDrive, kCDImageWriterRef), 0x30Au);
  EXPECT_EQ(copyJobCode(kCDImageWriterRef, kDrive), 0x40Au);
  EXPECT_EQ(copyJobCode(kDrive, kDrive + 1), 0x50Au);
  EXPECT_EQ(closeDiscMethodForTag(1), kCloseDisc);
  EXPECT_EQ(closeDiscMethodForTag(0), kLeaveDiscOpen);
  EXPECT_TRUE(isImageWriterRef(0xFFFFFFFFu));
  EXPECT_TRUE(isImageWriterRef(0xFFFFFFFEu));
  EXPECT_FALSE(isRealDriveRef(0));
  EXPECT_TRUE(isRealDriveRef(kDrive));
  ASSERT_NE(dataFormatRow(514), nullptr);
  EXPECT_STREQ(dataFormatRow(514)->fileSystem, "Joliet + HFS Plus hybrid");
  EXPECT_EQ(dataFormatRow(3), nullptr);
  ASSERT_NE(layoutTypeRow(12), nullptr);
  EXPECT_EQ(layoutTypeRow(7), nullptr);
  EXPECT_TRUE(kindOffersVerification(kLayoutData, 512));
  EXPECT_FALSE(kindOffersVerification(kLayoutData, kFormatDVDVideo));
  for (int kind : {kLayoutAudio, kLayoutVCD, kLayoutSVCD, kLayoutCopy, kLayoutLiveAudio})
    EXPECT_FALSE(kindOffersVerification(kind, 512)) << kind;
  EXPECT_TRUE(kindOffersVerification(kLayoutMP3, 512));
}

// ---- speeds ----

TEST(Speeds, MaskBitsAreOneXThenEvenSpeeds) {
  EXPECT_EQ(speedsOfMask(0b1011), (std::vector<std::uint32_t>{1, 2, 6}));
  EXPECT_EQ(speedsOfMask(0x80000000u), (std::vector<std::uint32_t>{62}));
  EXPECT_TRUE(speedsOfMask(0).empty());
}

TEST(Speeds, BitsZeroOneThreeGiveOneTickPerSpeed) {
  SpeedModel m;
  m.setUp(0b1011, {kNoErr, 0x09, 1, 6});
  EXPECT_EQ(m.speeds(), (std::vector<std::uint32_t>{1, 2, 6}));
  EXPECT_EQ(m.maxPosition(), 2) << "three ticks, each a speed the drive takes";
  EXPECT_EQ(m.speedAt(1), 2u);
  EXPECT_EQ(m.speedAt(2), 6u);
  EXPECT_EQ(m.positionOf(4), -1) << "4x is never offered";
  EXPECT_FALSE(m.isSupportedSpeed(4));
  EXPECT_EQ(m.speedAt(9), 6u) << "positions beyond the end are clamped";
}

TEST(Speeds, OneSpeed) {
  SpeedModel m;
  m.setUp(1u << 2, {kNoErr, 0x09, 4, 4});
  EXPECT_TRUE(m.isSingle());
  EXPECT_EQ(m.speedAt(0), 4u);
  EXPECT_EQ(m.recommendedPosition(SpeedDestination::kDrive, "atapi"), 0);
}

TEST(Speeds, UsbDriveRecordsAtFourWhenSixIsMissing) {
  SpeedModel m;
  m.setUp((1u << 2) | (1u << 4) | (1u << 8), {kNoErr, 0x09, 4, 16});
  ASSERT_EQ(m.speeds(), (std::vector<std::uint32_t>{4, 8, 16}));
  for (const char* name : {"usb", "USB", "Usb"})
    EXPECT_EQ(m.speedAt(m.recommendedPosition(SpeedDestination::kDrive, name)), 4u) << name;
  EXPECT_EQ(m.speedAt(m.recommendedPosition(SpeedDestination::kDrive, "sata")), 16u);
  EXPECT_EQ(m.speedAt(m.recommendedPosition(SpeedDestination::kCDImageWriter, "usb")), 16u);
  SpeedModel six;
  six.setUp((1u << 2) | (1u << 3) | (1u << 8), {kNoErr, 0x09, 4, 16});
  EXPECT_EQ(six.speedAt(six.recommendedPosition(SpeedDestination::kDrive, "usb")), 6u);
}

TEST(Speeds, EmptyListLeavesTheSpeedToTheDrive) {
  SpeedModel m;
  m.setUp(0, {kNoErr, 0, 0, 0});
  EXPECT_TRUE(m.isEmpty());
  EXPECT_EQ(m.maxPosition(), -1);
  EXPECT_EQ(m.speedAt(0), SpeedModel::kDriveDefaultSpeed);
  EXPECT_EQ(m.recommendedPosition(SpeedDestination::kDrive, "usb"), -1);
  // A range that cannot hold any candidate gives no speeds either.
  m.setUp(0, {kNoErr, 0x1B, 8, 4});
  EXPECT_TRUE(m.isEmpty());
}

TEST(Speeds, RangeAndFallbackLadder) {
  SpeedModel m;
  // Without a mask the ladder from the lowest reported speed, never past the highest.
  m.setUp(0, {kNoErr, 0x1B, 4, 20});
  EXPECT_EQ(m.speeds(), (std::vector<std::uint32_t>{4, 8, 12, 16}));
  m.setUp(0, {kNoErr, 0x1B, 3, 20});
  EXPECT_EQ(m.speeds(), (std::vector<std::uint32_t>{3}));
  // The mask is cut to the medium's range.
  m.setUp(0x1554, {kNoErr, 0x09, 8, 16});  // 4 .. 24 offered, medium 8 .. 16
  EXPECT_EQ(m.speeds(), (std::vector<std::uint32_t>{8, 12, 16}));
  // A DVD-RAM takes every whole speed of its range.
  m.setUp(0, {kNoErr, SpeedModel::kProfileDVDRAM, 2, 5});
  EXPECT_TRUE(m.isDVDRAM());
  EXPECT_EQ(m.speeds(), (std::vector<std::uint32_t>{2, 3, 4, 5}));
}

// ---- options sheet ----

struct DvdKindCase {
  const char* name;
  std::uint8_t dvdKind;
  bool blank;
  bool simulateShown;
  bool saoOn;
  ButtonState disc;
  ButtonState session;
};

class OptionsByDvdKind : public ::testing::TestWithParam<DvdKindCase> {};

TEST_P(OptionsByDvdKind, SwitchesAndButtons) {
  const DvdKindCase& c = GetParam();
  OptionsState s;
  s.simulate.on = true;
  s.simulateWrite = true;
  OptionsInputs in;
  in.smart = true;
  in.driveHasBurnProof = true;
  in.isDVD = true;
  in.dvdKind = c.dvdKind;
  in.blankDisc = c.blank;
  s.toggleSmart(in);
  EXPECT_EQ(s.simulate.shown, c.simulateShown);
  EXPECT_EQ(s.simulate.enabled, c.simulateShown);
  if (!c.simulateShown) {
    EXPECT_FALSE(s.simulateWrite);
  }
  EXPECT_EQ(s.sao.on, c.saoOn);
  EXPECT_EQ(s.useSAO, c.saoOn);
  EXPECT_FALSE(s.sao.enabled) << "a DVD's SAO switch is never the user's";
  EXPECT_EQ(s.burnDisc.enabled, c.disc.enabled);
  EXPECT_EQ(s.burnDisc.key, c.disc.key);
  EXPECT_EQ(s.burnSession.enabled, c.session.enabled);
  EXPECT_EQ(s.burnSession.key, c.session.key);
  EXPECT_TRUE(s.underrun.on) << "the smart switch turns protection on where the drive has it";
  EXPECT_TRUE(s.bufferUnderRunOn);
}

constexpr ButtonState kOnReturn{true, ButtonKey::kReturn};
constexpr ButtonState kOffCmdS{false, ButtonKey::kCommandS};
constexpr ButtonState kOffCmdD{false, ButtonKey::kCommandD};
constexpr ButtonState kOnCmdD{true, ButtonKey::kCommandD};

INSTANTIATE_TEST_SUITE_P(
    Table, OptionsByDvdKind,
    ::testing::Values(
        DvdKindCase{"plusRW", kDvdPlusRW, false, false, false, kOffCmdD, kOnReturn},
        DvdKindCase{"ram", kDvdRAM, true, false, false, kOffCmdD, kOnReturn},
        DvdKindCase{"bdRE", kBdRE, true, false, false, kOffCmdD, kOnReturn},
        DvdKindCase{"plusRBlank", kDvdPlusR, true, false, false, kOnReturn, kOffCmdS},
        DvdKindCase{"plusRWritten", kDvdPlusR, false, false, false, kOffCmdD, kOnReturn},
        DvdKindCase{"plusRDL", kDvdPlusRDL, true, false, true, kOnReturn, kOffCmdS},
        DvdKindCase{"minusRBlank", kDvdMinusR, true, true, false, kOnReturn, kOffCmdS},
        DvdKindCase{"minusRWritten", kDvdMinusR, false, true, false, kOnCmdD, kOnReturn},
        DvdKindCase{"minusRDL", kDvdMinusRDL, true, true, true, kOnReturn, kOffCmdS},
        DvdKindCase{"minusRW", kDvdMinusRW, false, true, false, kOnReturn, kOffCmdS}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Options, SmartOffFreesTheSwitchesAndADriveWithoutProtectionLosesIt) {
  OptionsState s;
  OptionsInputs in;
  in.smart = false;
  in.driveHasBurnProof = false;
  s.toggleSmart(in);
  EXPECT_TRUE(s.sao.enabled);
  EXPECT_TRUE(s.simulate.enabled);
  EXPECT_FALSE(s.underrun.enabled);
  EXPECT_FALSE(s.underrun.on);
  EXPECT_FALSE(s.bufferUnderRunOn);
  EXPECT_FALSE(s.cdText.shown) << "no CD-Text without a drive that writes it";
  // A drive that needs WRITE CONTINUE never writes session at once; overburning always does.
  in.writeContinueDrive = true;
  s.toggleSmart(in);
  EXPECT_FALSE(s.sao.enabled);
  EXPECT_FALSE(s.useSAO);
  in.writeContinueDrive = false;
  in.continueOverburn = true;
  s.toggleSmart(in);
  EXPECT_TRUE(s.useSAO);
  EXPECT_FALSE(s.sao.enabled);
  EXPECT_EQ(s.burnDisc.key, ButtonKey::kReturn);
  EXPECT_FALSE(s.burnSession.enabled);
}

TEST(Options, SimulationNeverVerifies) {
  OptionsState s;
  s.setUpVerify(true, true);
  EXPECT_TRUE(s.verify.on);
  s.toggleSimulate(true);
  EXPECT_FALSE(s.verify.on);
  EXPECT_FALSE(s.verify.enabled);
  s.toggleSimulate(false);
  EXPECT_TRUE(s.verify.enabled);
  s.setUpVerify(true, true);
  EXPECT_TRUE(s.verify.on);
  s.simulate.on = true;
  s.setUpVerify(true, true);
  EXPECT_FALSE(s.verify.on) << "whatever the preference says";
  OptionsState audio;
  audio.setUpVerify(false, true);
  EXPECT_FALSE(audio.verify.shown);
  audio.toggleSimulate(false);
  EXPECT_FALSE(audio.verify.enabled) << "a kind that never verifies keeps it disabled";
}

TEST(Options, SaoAndCdTextGoTogether) {
  OptionsState s;
  s.toggleCDText(true);
  EXPECT_TRUE(s.useSAO);
  EXPECT_TRUE(s.sao.on);
  s.toggleSAO(false, 0, true);
  EXPECT_FALSE(s.useCDText);
  EXPECT_FALSE(s.cdText.on);
  s.toggleSAO(true, kDvdMinusRW, true);
  EXPECT_EQ(s.burnDisc.key, ButtonKey::kReturn);
  EXPECT_FALSE(s.burnSession.enabled);
}

// ---- progress ----

TEST(Progress, CacheFillNearFullDoesNotFlicker) {
  CacheBarFilter f;
  std::vector<int> shown;
  for (std::uint16_t v : {85, 95, 92, 88}) {
    if (const auto s = f.feed(v))
      shown.push_back(*s);
    else
      shown.push_back(f.shown());
  }
  EXPECT_EQ(shown, (std::vector<int>{85, 100, 100, 88}));
  EXPECT_EQ(*f.feed(250), 100) << "above 100 is clamped in the window's own copy";
}

TEST(Progress, PercentIn64BitsAndNeverPastFull) {
  EXPECT_EQ(percentOf(0, 0), 0);
  EXPECT_EQ(percentOf(5, 0), 0);
  EXPECT_EQ(percentOf(1, 3), 33);
  EXPECT_EQ(percentOf(400, 300), 100);
  // 50,000,000 x 100 does not fit 32 bits.
  EXPECT_EQ(percentOf(50'000'000, 100'000'000), 50);
  EXPECT_EQ(percentOf(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
}

TEST(Progress, TimeText) {
  EXPECT_EQ(secondsToTimeString(0), "0:00");
  EXPECT_EQ(secondsToTimeString(125), "2:05");
  EXPECT_EQ(secondsToTimeString(-61), "1:01");
  EXPECT_EQ(secondsToTimeString(3600), "60:00");
}

RunSnapshot running(std::int16_t phase, std::uint32_t written, std::uint32_t total) {
  RunSnapshot s;
  s.totalBlocks = total;
  s.cacheSizeKB = 8192;
  s.writers.push_back({});
  s.writers[0].phase = phase;
  s.writers[0].sectorsWritten = written;
  return s;
}

TEST(Progress, TicksShowOnlyWhatChanged) {
  ProgressModel m;
  m.reset(false, false);
  ProgressUpdate u = m.tick(running(kBP_PhaseWaiting, 0, 1000), 0);
  EXPECT_FALSE(u.completed);
  ASSERT_NE(u.phaseText, nullptr);
  EXPECT_STREQ(u.phaseText, "Phase Fill Up Cache");
  EXPECT_EQ(u.cacheMB, 8u);
  u = m.tick(running(kBP_PhaseWriting, 250, 1000), 1);
  EXPECT_STREQ(u.phaseText, "Phase Writing Data");
  EXPECT_EQ(u.percent, 25);
  EXPECT_EQ(u.elapsedSeconds, 1);
  EXPECT_FALSE(u.cacheMB);
  u = m.tick(running(kBP_PhaseWriting, 250, 1000), 1);
  EXPECT_EQ(u.phaseText, nullptr);
  EXPECT_FALSE(u.percent);
  EXPECT_FALSE(u.speed) << "a drive keeps the chosen speed";
  // An unknown phase shows "preparing" on every tick.
  EXPECT_STREQ(m.tick(running(9, 250, 1000), 1).phaseText, "Phase Preparing");
  EXPECT_STREQ(m.tick(running(9, 250, 1000), 1).phaseText, "Phase Preparing");
  ProgressModel sim;
  sim.reset(true, true);
  RunSnapshot s = running(kBP_PhaseWriting, 0, 10);
  s.writers[0].actualBurnSpeed = 24;
  u = sim.tick(s, 0);
  EXPECT_STREQ(u.phaseText, "Phase Simulating Data");
  EXPECT_EQ(u.speed, 24) << "the ISO image writer shows its live speed";
}

struct EndCase {
  const char* name;
  std::int32_t readError;
  std::int32_t firstError;
  std::int32_t secondError;
  int result;
  std::int32_t code;
};

class RunEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(RunEnd, FailsWhenAnyPartFailed) {
  const EndCase& c = GetParam();
  RunSnapshot s = running(kBP_PhaseDone, 100, 100);
  s.writers.push_back(s.writers[0]);
  s.stop = s.readDone = true;
  s.writers[0].done = s.writers[1].done = true;
  s.readError = c.readError;
  s.writers[0].errorCode = c.firstError;
  s.writers[1].errorCode = c.secondError;
  ProgressModel m;
  m.reset(false, false);
  const ProgressUpdate u = m.tick(s, 3);
  ASSERT_TRUE(u.completed);
  EXPECT_EQ(*u.completed, c.result);
  EXPECT_EQ(s.failureCode(), c.code);
}

INSTANTIATE_TEST_SUITE_P(Table, RunEnd,
                         ::testing::Values(EndCase{"clean", 0, 0, 0, kResultCompleted, 0},
                                           EndCase{"reader", -1170, 0, 0, kResultError, -1170},
                                           EndCase{"second", 0, 0, -1201, kResultError, -1201},
                                           EndCase{"first", -5, -1201, 0, kResultError, -1201}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Progress, NotFinishedWhileAWriterRuns) {
  RunSnapshot s = running(kBP_PhaseWriting, 10, 100);
  s.writers.push_back(s.writers[0]);
  s.stop = s.readDone = true;
  s.writers[0].done = true;
  EXPECT_FALSE(s.finished()) << "the second writer still writes";
  s.writers[1].done = true;
  EXPECT_TRUE(s.finished());
  s.stop = false;
  EXPECT_FALSE(s.finished());
}

}  // namespace
