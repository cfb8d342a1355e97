// SPDX-License-Identifier: GPL-2.0-or-later
// Erasing rewritable discs through the flat API on emulated drives: blanking CD-RW and DVD-RW
// (quick and whole), writing over DVD+RW and BD-RE through the quick-erase job, the progress
// shown on the way, and the refusals. What the disc holds afterwards is read back from the
// emulated medium and by isoinfo, never taken from the engine's own report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "device_environment.h"
#include "quillion/BP.h"
#include "quillion/GDT.h"
#include "run_support.h"

using namespace quillion;
using namespace quillion::emu;
using quillion::test::TestThreads;

namespace erase_test {

struct Progress {
  std::mutex mutex;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  static void record(void* user, std::uint32_t done, std::uint32_t total) {
    auto* p = static_cast<Progress*>(user);
    std::lock_guard lock(p->mutex);
    p->seen.emplace_back(done, total);
  }
};

class Erase : public ::testing::Test {
 protected:
  void SetUp() override { TestThreads::instance().reset(); }
  void TearDown() override {
    EXPECT_TRUE(TestThreads::instance().join());
    TestThreads::instance().reset();
  }

  std::uint32_t start(const std::string& preset, std::optional<Medium> medium,
                      std::vector<std::uint16_t> extraProfiles = {}) {
    auto config = *DriveConfig::preset(preset);
    config.name = config.product = "eraser";
    config.readable.insert(config.readable.end(), extraProfiles.begin(), extraProfiles.end());
    config.writable.insert(config.writable.end(), extraProfiles.begin(), extraProfiles.end());
    drive_ = EmulatedBus::instance().plug(config);
    if (medium) drive_->load(std::move(*medium));
    env_.start();
    return DeviceEnvironment::refOf("eraser");
  }

  // A small ISO 9660 volume of one file, as a disc of `profile`.
  std::optional<Medium> isoDisc(std::uint16_t profile) {
    const auto tree = temp_.path() / "tree";
    std::filesystem::create_directories(tree);
    std::ofstream(tree / "A.TXT") << std::string(300'000, 'a');
    const auto iso = temp_.path() / "disc.iso";
    if (test::runTool({"genisoimage", "-quiet", "-V", "ERASE", "-o", iso.string(), tree.string()})
            .exitCode != 0)
      return std::nullopt;
    isoBlocks_ = static_cast<std::uint32_t>(std::filesystem::file_size(iso) / 2048);
    return Medium::fromIso(iso, env_.folder() / ("iso" + std::to_string(++discs_) + ".medium"),
                           profile);
  }

  std::vector<LoggedCommand> commands(std::uint8_t opcode) const {
    std::vector<LoggedCommand> out;
    for (const auto& c : drive_->log())
      if (!c.cdb.empty() && c.cdb[0] == opcode) out.push_back(c);
    return out;
  }

  DiscStatus discStatus() const {
    DiscStatus s = DiscStatus::Complete;
    EXPECT_TRUE(drive_->withMedium([&](Medium& m) { s = m.status(); }));
    return s;
  }

  // The medium's first `blocks` blocks of user data, as dumped for outside readers.
  std::vector<std::uint8_t> dumpedStart(std::uint32_t blocks) {
    const auto iso = temp_.path() / "dump.iso";
    bool dumped = false;
    EXPECT_TRUE(drive_->withMedium([&](Medium& m) { dumped = m.dumpIso(iso); }));
    EXPECT_TRUE(dumped);
    auto bytes = test::readFile(iso);
    bytes.resize(std::size_t{blocks} * 2048);
    return bytes;
  }

  // A fresh bus for the next case of a table.
  void restart() {
    EXPECT_TRUE(TestThreads::instance().join());
    TestThreads::instance().reset();
    env_.stop();
    drive_.reset();
    EmulatedBus::instance().reset();
    progress_.seen.clear();
  }

  GDT_EraseController controller() {
    return GDT_EraseController{&TestThreads::create, &Progress::record, &progress_, nullptr};
  }

  test::TempDir temp_;
  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t isoBlocks_ = 0;
  int discs_ = 0;
  Progress progress_;
};

bool allZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace erase_test

using namespace erase_test;

TEST_F(Erase, RewritableCDsAndDVDsAreBlankedAndWatchedToTheirEnd) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  struct Case {
    const char* what;
    std::uint16_t profile;
    std::uint8_t blankByte;
    std::chrono::seconds lasts;  // as the emulated drive is configured
  };
  const Case cases[] = {
      {"CD-RW, quick", 0x0A, 0x11, std::chrono::seconds(60)},
      {"CD-RW, whole disc", 0x0A, 0x10, std::chrono::seconds(600)},
      {"DVD-RW, quick", 0x14, 0x11, std::chrono::seconds(60)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    auto disc = isoDisc(c.profile);
    ASSERT_TRUE(disc);
    const std::uint32_t ref = start("dvd-writer", std::move(disc), {0x14});
    ASSERT_NE(ref, 0u);
    ASSERT_NE(discStatus(), DiscStatus::Blank);
    const auto before = env_.clock().elapsed();

    const GDT_EraseController ctl = controller();
    MMC_SenseData sense{9, 9, 9};
    ASSERT_EQ(GDT_Erase(ref, c.blankByte, &ctl, &sense), kNoErr);
    EXPECT_EQ(sense.key, 0);

    const auto blanks = commands(0xA1);
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks[0].cdb[1], c.blankByte);
    EXPECT_EQ(discStatus(), DiscStatus::Blank);
    // The call came back only once the drive had finished, not when BLANK returned.
    EXPECT_GE(env_.clock().elapsed() - before, c.lasts);
    EXPECT_GT(commands(0x00).size(), 10u);  // the drive was watched while it worked
    ASSERT_GE(progress_.seen.size(), 3u);
    EXPECT_EQ(progress_.seen.back().first, progress_.seen.back().second);
    EXPECT_TRUE(std::is_sorted(progress_.seen.begin(), progress_.seen.end()));
    EXPECT_TRUE(std::any_of(progress_.seen.begin(), progress_.seen.end(), [](const auto& p) {
      return p.first > 0 && p.first < p.second;
    })) << "the drive's own progress indication is passed on";
    EXPECT_TRUE(commands(0x2A).empty());

    GDT_DiscInfo* info = nullptr;
    ASSERT_EQ(GDT_GetDiscInfo(ref, &info, &sense), kNoErr);
    EXPECT_EQ(info->discState, kGDT_DiscBlank);
    EXPECT_EQ(info->trackCount, 0);
    std::free(info);
  }
}

TEST_F(Erase, AQuickEraseOfADvdPlusRwWritesZerosOverItsStartThroughAJob) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  for (const std::uint16_t profile : {std::uint16_t{0x1A}, std::uint16_t{0x43}}) {
    SCOPED_TRACE(profile);
    restart();
    auto disc = isoDisc(profile);
    ASSERT_TRUE(disc);
    const std::uint32_t ref = start("bd-writer", std::move(disc));
    const auto iso = temp_.path() / "before.iso";
    test::writeFile(iso, dumpedStart(isoBlocks_));
    ASSERT_EQ(test::runTool({"isoinfo", "-d", "-i", iso.string()}).exitCode, 0);

    const GDT_EraseController ctl = controller();
    MMC_SenseData sense{};
    ASSERT_EQ(GDT_Erase(ref, 0x11, &ctl, &sense), kNoErr);
    ASSERT_EQ(TestThreads::instance().calls().size(), 1u);
    EXPECT_EQ(TestThreads::instance().calls()[0].flag, kBP_WriterThread);

    EXPECT_TRUE(commands(0xA1).empty()) << "these media are not blanked";
    std::uint32_t written = 0;
    for (const auto& w : commands(0x2A)) {
      const std::uint32_t lba =
          static_cast<std::uint32_t>(w.cdb[2] << 24 | w.cdb[3] << 16 | w.cdb[4] << 8 | w.cdb[5]);
      EXPECT_EQ(lba, written);
      written += static_cast<std::uint32_t>(w.cdb[7] << 8 | w.cdb[8]);
    }
    EXPECT_EQ(written, 10'000u);
    EXPECT_EQ(commands(0x35).size(), 1u);
    ASSERT_FALSE(progress_.seen.empty());
    EXPECT_EQ(progress_.seen.back(), (std::pair<std::uint32_t, std::uint32_t>{10'000, 10'000}));

    const auto after = dumpedStart(isoBlocks_);
    EXPECT_TRUE(allZero(after));
    test::writeFile(iso, after);
    EXPECT_NE(test::runTool({"isoinfo", "-d", "-i", iso.string()}).exitCode, 0)
        << "no volume is left to read";
  }
}

TEST_F(Erase, AWholeEraseOfAnUnformattedDvdPlusRwFormatsItAndWritesItAllOver) {
  const std::uint32_t capacity = 3'000;
  const std::uint32_t ref = start("dvd-writer", env_.blankDisc("plus", 0x1A, capacity));
  const GDT_EraseController ctl = controller();
  MMC_SenseData sense{};
  ASSERT_EQ(GDT_Erase(ref, 0x10, &ctl, &sense), kNoErr);
  const auto formats = commands(0x04);
  ASSERT_EQ(formats.size(), 1u);
  ASSERT_GE(formats[0].dataOut.size(), 12u);
  EXPECT_EQ(formats[0].dataOut[8] >> 2, 0x26) << "the basic format of a DVD+RW";
  std::uint32_t written = 0;
  for (const auto& w : commands(0x2A))
    written += static_cast<std::uint32_t>(w.cdb[7] << 8 | w.cdb[8]);
  EXPECT_EQ(written, capacity);
  ASSERT_FALSE(progress_.seen.empty());
  EXPECT_EQ(progress_.seen.back(), (std::pair<std::uint32_t, std::uint32_t>{capacity, capacity}));
  bool formatted = false;
  ASSERT_TRUE(drive_->withMedium([&](Medium& m) { formatted = m.formatted(); }));
  EXPECT_TRUE(formatted);
  EXPECT_TRUE(allZero(dumpedStart(capacity)));
}

TEST_F(Erase, RefusalsCarryTheDrivesStatusAndSense) {
  const std::uint32_t ref = start("dvd-writer", env_.blankDisc("cdr", 0x09, 359'847));
  const GDT_EraseController ctl = controller();
  MMC_SenseData sense{};
  // A CD-R cannot be blanked: the drive says so and its answer is the result.
  EXPECT_EQ(GDT_Erase(ref, 0x11, &ctl, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 0x05);
  EXPECT_EQ(sense.code, 0x30);
  EXPECT_EQ(sense.qualifier, 0x05);

  for (std::uint32_t reserved : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu})
    EXPECT_EQ(GDT_Erase(reserved, 0x11, &ctl, &sense), kErrBadArgument) << reserved;

  // No disc: the wait for the drive ends with the drive's "no medium".
  (void)drive_->unload();
  sense = {};
  EXPECT_EQ(GDT_Erase(ref, 0x11, &ctl, &sense), kErrCheckCondition);
  EXPECT_EQ(sense.key, 0x02);
  EXPECT_EQ(sense.code, 0x3A);
  EXPECT_TRUE(TestThreads::instance().calls().empty());
}

TEST_F(Erase, BlankingTypesTheDriveDoesNotOfferAreRefused) {
  const std::uint32_t ref = start("cd-writer", env_.blankDisc("rw", 0x0A, 359'847));
  MMC_SenseData sense{};
  EXPECT_EQ(GDT_Erase(ref, 0x13, nullptr, &sense), kErrCheckCondition);  // "unclose the session"
  EXPECT_EQ(sense.key, 0x05);
  EXPECT_EQ(sense.code, 0x24);
}

TEST_F(Erase, AnOverwrittenMediumNeedsAThreadCreator) {
  const std::uint32_t ref = start("dvd-writer", env_.blankDisc("plus", 0x1A, 3'000));
  MMC_SenseData sense{};
  EXPECT_EQ(GDT_Erase(ref, 0x11, nullptr, &sense), kErrBadArgument);
  GDT_EraseController noCreator = controller();
  noCreator.threadCreator = nullptr;
  EXPECT_EQ(GDT_Erase(ref, 0x11, &noCreator, &sense), kErrBadArgument);
  EXPECT_TRUE(commands(0x2A).empty());
  EXPECT_TRUE(commands(0x04).empty());
}

TEST_F(Erase, TheQuickEraseJobRunsThroughTheJobApi) {
  const std::uint32_t capacity = 20'000;
  const std::uint32_t ref = start("bd-writer", env_.blankDisc("plus", 0x1A, capacity));
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(static_cast<BP_JobCode>(kBP_KindQuickErase), &shared, 1);
  ASSERT_NE(job, 0u);
  ASSERT_EQ(BP_SetDstDevice(job, ref), kNoErr);
  ASSERT_EQ(BP_SetDVDPlusRWEraseType(job, false, 5'000), kNoErr);
  ASSERT_EQ(BP_SetThreadCreatorCallback(job, &TestThreads::create), kNoErr);
  std::uint32_t blocks = 0;
  ASSERT_EQ(BP_PrepareBurn(job, &blocks, nullptr), kNoErr);
  EXPECT_EQ(blocks, 5'002u) << "the erase track and its run-out";
  ASSERT_EQ(BP_Burn(job), kNoErr);
  ASSERT_TRUE(TestThreads::instance().join());
  const BP_WriterRTInfo& w = shared->writers[0];
  EXPECT_TRUE(w.bWriteThreadDone);
  EXPECT_EQ(w.errorCode, kNoErr);
  EXPECT_EQ(w.phase, kBP_PhaseDone);
  EXPECT_EQ(w.sectorsWritten, 5'000u);
  EXPECT_EQ(shared->totalBlocks, 5'000u);
  EXPECT_TRUE(shared->bStop);
  EXPECT_TRUE(shared->bReadDone);
  std::uint32_t written = 0;
  for (const auto& c : commands(0x2A))
    written += static_cast<std::uint32_t>(c.cdb[7] << 8 | c.cdb[8]);
  EXPECT_EQ(written, 5'000u);
  EXPECT_EQ(BP_Delete(job), kNoErr);
}

TEST_F(Erase, AQuickEraseJobStoppedBeforeItBeganWritesNothing) {
  const std::uint32_t ref = start("dvd-writer", env_.blankDisc("plus", 0x1A, 20'000));
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(static_cast<BP_JobCode>(kBP_KindQuickErase), &shared, 1);
  ASSERT_EQ(BP_SetDstDevice(job, ref), kNoErr);
  ASSERT_EQ(BP_SetDVDPlusRWEraseType(job, false, 5'000), kNoErr);
  ASSERT_EQ(BP_SetThreadCreatorCallback(job, &TestThreads::create), kNoErr);
  TestThreads::instance().hold(kBP_WriterThread);
  ASSERT_EQ(BP_Burn(job), kNoErr);
  shared->bStop = true;
  TestThreads::instance().release();
  ASSERT_TRUE(TestThreads::instance().join());
  EXPECT_EQ(shared->writers[0].errorCode, kErrCancelled);
  EXPECT_EQ(shared->writers[0].phase, kBP_PhaseFailed);
  EXPECT_TRUE(commands(0x2A).empty());
  EXPECT_EQ(BP_Delete(job), kNoErr);
}

TEST_F(Erase, AQuickEraseJobRefusesImageDestinations) {
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(static_cast<BP_JobCode>(kBP_KindQuickErase), &shared, 1);
  ASSERT_EQ(BP_SetDstDevice(job, kBP_ISOImageWriter), kNoErr);
  ASSERT_EQ(BP_SetThreadCreatorCallback(job, &TestThreads::create), kNoErr);
  std::uint32_t blocks = 0;
  EXPECT_EQ(BP_PrepareBurn(job, &blocks, nullptr), kErrPrepareFailed);
  EXPECT_EQ(BP_Burn(job), kErrPrepareFailed);
  EXPECT_TRUE(TestThreads::instance().calls().empty());
  EXPECT_EQ(BP_Delete(job), kNoErr);
}
