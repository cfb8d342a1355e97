// SPDX-License-Identifier: GPL-2.0-or-later
// DVD-RW in restricted overwrite through the flat API on an emulated drive: the quick grow
// format before a track, a second session grown into the volume at the start of the disc, and
// a format the drive refuses. Outside readers check what is on the disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;
using quillion::emu::DeviceEnvironment;
using quillion::emu::EmulatedDrive;
using quillion::emu::FaultAction;
using quillion::emu::FaultRule;
using quillion::emu::Medium;

namespace {

constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kFormatUnit = 0x04;
constexpr std::uint8_t kReserveTrack = 0x53;
constexpr std::uint32_t kDvdBlocks = 2'295'104;
constexpr std::uint16_t kRestrictedOverwrite = 0x13, kSequential = 0x14;
// What a quick format left: two ECC blocks, far less than any layout here needs.
constexpr std::uint32_t kQuickFormatted = 32;

const std::map<std::string, std::size_t> kRewritableLayout = {
    {"empty.txt", 0},
    {"one.bin", 1},
    {"block.bin", 2048},
    {"docs/read.txt", 2047},
    {"docs/deep/a.dat", 70'000},
    {"media/big.dat", 1'100'000},
};

std::uint32_t* mallocRefs(const std::vector<std::uint32_t>& refs) {
  auto* list = static_cast<std::uint32_t*>(std::malloc(refs.size() * sizeof(std::uint32_t)));
  std::ranges::copy(refs, list);
  return list;
}

// The names and bytes of two trees; a difference names the file.
void expectSameFiles(const std::map<std::string, std::string>& found,
                     const std::map<std::string, std::string>& wanted, const std::string& what) {
  std::vector<std::string> foundNames, wantedNames;
  for (const auto& [k, v] : found) foundNames.push_back(k);
  for (const auto& [k, v] : wanted) wantedNames.push_back(k);
  EXPECT_EQ(foundNames, wantedNames) << what;
  for (const auto& [name, bytes] : wanted) {
    const auto it = found.find(name);
    if (it != found.end()) {
      EXPECT_TRUE(it->second == bytes) << what << ": " << name;
    }
  }
}

// A command the drive received: its block, the bytes sent with it, its status.
struct LoggedCdb {
  std::vector<std::uint8_t> cdb;
  std::vector<std::uint8_t> dataOut;
  std::uint8_t status;
};

class DvdRwBurn : public ::testing::Test {
 protected:
  void SetUp() override {
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    writeFiles(source_, kRewritableLayout);
    tree_ = treeFromFolder(source_);
  }
  void TearDown() override {
    TestThreads::instance().reset();
    env_.stop();
  }

  // A DVD writer holding a DVD-RW that a quick format put into restricted overwrite, with
  // only kQuickFormatted blocks formatted: the intermediate state, which the quick grow
  // format extends.
  std::shared_ptr<EmulatedDrive> plugQuickFormatted(const std::string& name) {
    auto config = *quillion::emu::DriveConfig::preset("dvd-writer");
    config.name = config.product = name;
    auto drive = quillion::emu::EmulatedBus::instance().plug(config);
    Medium disc = env_.blankDisc(name, kSequential, kDvdBlocks);
    const auto* quick = quillion::emu::formatTypeFor(kSequential, 0x15);
    EXPECT_NE(quick, nullptr);
    if (quick) disc.format(*quick, kQuickFormatted);
    drive->load(std::move(disc));
    return drive;
  }
  std::uint32_t ref(const std::string& name) {
    const std::uint32_t r = DeviceEnvironment::refOf(name);
    (void)MMC_TestUnitReady(r, nullptr);  // the load's unit attention
    return r;
  }

  BP_JobRef makeJob(std::uint32_t ref, FS_Tree* tree, BP_RuntimeSharedData** shared) {
    const BP_JobRef job =
        BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), shared, 1);
    EXPECT_EQ(BP_SetDataTree(job, tree), kNoErr);
    EXPECT_EQ(BP_SetDataDiscFormat(job, kIsoJoliet), kNoErr);
    EXPECT_EQ(BP_SetISO9660_XA(job, false), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(job, TestThreads::create), kNoErr);
    EXPECT_EQ(BP_SetDstDriveList(job, mallocRefs({ref}), 1), kNoErr);
    return job;
  }

  static void burn(BP_JobRef job) {
    ASSERT_EQ(BP_PrepareBurn(job, nullptr, nullptr), kNoErr);
    ASSERT_EQ(BP_Burn(job), kNoErr);
    ASSERT_TRUE(TestThreads::instance().join());
  }

  static std::vector<LoggedCdb> commandsOf(const std::shared_ptr<EmulatedDrive>& d,
                                           std::uint8_t opcode) {
    std::vector<LoggedCdb> out;
    for (const auto& c : d->log())
      if (c.cdb[0] == opcode) out.push_back(LoggedCdb{c.cdb, c.dataOut, c.status});
    return out;
  }

  static std::uint16_t currentProfile(std::uint32_t ref) {
    std::vector<std::uint8_t> header(8, 0);
    EXPECT_EQ(MMC_GetConfiguration(ref, 0, 0, header.data(), header.size(), nullptr), kNoErr);
    return static_cast<std::uint16_t>(quillion::be::get16(header, 6));
  }

  fs::path dump(const std::shared_ptr<EmulatedDrive>& drive, const std::string& name) {
    const fs::path iso = dir_.path() / (name + ".iso");
    bool dumped = false;
    EXPECT_TRUE(drive->withMedium([&](Medium& m) { dumped = m.dumpIso(iso); }));
    EXPECT_TRUE(dumped) << name;
    return iso;
  }

  // Every file of `wanted` read back from the dump by xorriso, and the volume seen by isoinfo.
  void expectReadsBack(const fs::path& iso, const fs::path& wanted, const std::string& what) {
    const std::string volume = toolOutput({"isoinfo", "-d", "-i", iso.string()});
    EXPECT_NE(volume.find("CD-ROM is in ISO 9660 format"), std::string::npos) << volume;
    const fs::path out = dir_.path() / ("read-" + iso.stem().string());
    (void)runTool(
        {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
    expectSameFiles(filesBelow(out), filesBelow(wanted), what);
  }

  static constexpr std::uint16_t kIsoJoliet = 512;

  TempDir dir_;
  DeviceEnvironment env_;
  fs::path source_;
  TreePtr tree_;
};

// The track needs more than the quick format left: the run grows the last session first
// (format type 13h, the descriptor as the run builds it), then writes the whole track in
// ECC blocks from block 0. Every file reads back.
TEST_F(DvdRwBurn, AQuickGrowFormatComesBeforeTheTrack) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  auto drive = plugQuickFormatted("rw");
  env_.start();
  const std::uint32_t r = ref("rw");
  EXPECT_EQ(currentProfile(r), kRestrictedOverwrite);
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob(r, tree_.get(), &shared);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  EXPECT_EQ(shared->writers[0].errorCode, 0);
  EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
  const std::uint32_t total = shared->totalBlocks;
  shared->logFile = nullptr;
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_NE(log.text().find("   Media     : DVD-RW\r"), std::string::npos) << log.text();

  const auto formats = commandsOf(drive, kFormatUnit);
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(formats[0].status, 0);
  EXPECT_EQ(formats[0].cdb[1], 0x11) << "format data, format code 1";
  const std::vector<std::uint8_t> list = {0x00,      0x80, 0x00, 0x08,   // header: FOV, length 8
                                          0x00,      0x00, 0x00, 0x00,   // number of blocks
                                          0x13 << 2, 0x00, 0x00, 0x10};  // quick grow, 16
  EXPECT_EQ(formats[0].dataOut, list);
  EXPECT_EQ(currentProfile(r), kRestrictedOverwrite);

  // Whole ECC blocks from block 0, the padding after the data included.
  std::uint32_t next = 0;
  for (const auto& c : commandsOf(drive, kWrite10)) {
    ASSERT_EQ(c.status, 0);
    EXPECT_EQ(quillion::be::get32(c.cdb, 2), next);
    EXPECT_EQ(quillion::be::get32(c.cdb, 2) % 16, 0u);
    next += quillion::be::get16(c.cdb, 7);
  }
  EXPECT_EQ(next, (total + 15) / 16 * 16);
  drive->withMedium([&](Medium& m) {
    EXPECT_EQ(m.profile().code, kRestrictedOverwrite);
    EXPECT_EQ(m.formattedBlocks(), kDvdBlocks) << "grown to the end of the disc";
    ASSERT_EQ(m.tracks().size(), 1u);
    EXPECT_EQ(m.tracks().front().length, next);
  });
  expectReadsBack(dump(drive, "rw"), source_, "xorriso, first session");
}

// A second layout on the same disc: it starts after the first session's blocks, no format is
// asked for (the disc is formatted to its end), and the volume at the start of the disc is
// made to describe the new session, so a reader that knows nothing of sessions finds it.
TEST_F(DvdRwBurn, ASecondSessionGrowsTheVolumeAtTheStart) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  auto drive = plugQuickFormatted("grow");
  env_.start();
  const std::uint32_t r = ref("grow");
  std::uint32_t firstEnd = 0;
  {
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob(r, tree_.get(), &shared);
    burn(job);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    firstEnd = (shared->totalBlocks + 15) / 16 * 16;
    EXPECT_EQ(BP_Delete(job), kNoErr);
  }
  drive->clearLog();
  const fs::path second = dir_.path() / "second";
  writeFiles(second, {{"new.txt", 3000}, {"more/next.bin", 600'000}});
  TreePtr tree = treeFromFolder(second);
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob(r, tree.get(), &shared);
  burn(job);
  EXPECT_EQ(shared->writers[0].errorCode, 0);
  EXPECT_EQ(BP_Delete(job), kNoErr);

  EXPECT_TRUE(commandsOf(drive, kFormatUnit).empty()) << "nothing left to grow";
  std::uint32_t lowestOfSecond = UINT32_MAX;
  bool startRewritten = false;
  for (const auto& c : commandsOf(drive, kWrite10)) {
    EXPECT_EQ(c.status, 0);
    const std::uint32_t lba = quillion::be::get32(c.cdb, 2);
    if (lba >= firstEnd) lowestOfSecond = std::min(lowestOfSecond, lba);
    if (lba == 0) startRewritten = true;
  }
  EXPECT_EQ(lowestOfSecond, firstEnd);
  EXPECT_TRUE(startRewritten) << "the volume descriptors at block 16 are replaced";
  expectReadsBack(dump(drive, "grow"), second, "xorriso after growth");
}

// A drive that refuses the format ends the burn with the drive's verdict: no block is
// written and the run never reports success.
TEST_F(DvdRwBurn, ARefusedFormatFailsTheBurn) {
  auto drive = plugQuickFormatted("refuse");
  drive->addFault(FaultRule{.opcode = kFormatUnit,
                            .action = FaultAction::CheckCondition,
                            .key = 0x03,
                            .asc = 0x31,
                            .ascq = 0x00});  // medium format corrupted
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob(ref("refuse"), tree_.get(), &shared);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  EXPECT_EQ(shared->writers[0].errorCode, kErrCheckCondition);
  EXPECT_NE(shared->writers[0].phase, kBP_PhaseDone);
  const MMC_SenseData sense = shared->writers[0].curSense.load();
  EXPECT_EQ(sense.key, 0x03);
  EXPECT_EQ(sense.code, 0x31);
  shared->logFile = nullptr;
  EXPECT_NE(log.text().find("\r?? The DVD-RW could not be formatted for the track\r"),
            std::string::npos)
      << log.text();
  EXPECT_NE(log.text().find("Write thread finished with ERROR"), std::string::npos) << log.text();
  EXPECT_EQ(BP_Delete(job), kNoErr);
  for (const auto& c : commandsOf(drive, kWrite10)) EXPECT_NE(c.status, 0) << "nothing is written";
  EXPECT_TRUE(commandsOf(drive, kWrite10).empty());
  drive->withMedium([](Medium& m) { EXPECT_EQ(m.formattedBlocks(), kQuickFormatted); });
}

// A disc to be closed gets no grow format and no reservation (a drive refuses RESERVE TRACK
// on restricted overwrite); its track is written in place and reads back.
TEST_F(DvdRwBurn, ADiscToBeClosedIsWrittenWithoutFormatOrReservation) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  auto drive = plugQuickFormatted("closed");
  // Room for the layout already: the close needs no grow.
  drive->withMedium(
      [](Medium& m) { m.format(*quillion::emu::formatTypeFor(kRestrictedOverwrite, 0x13), 0); });
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob(ref("closed"), tree_.get(), &shared);
  EXPECT_EQ(BP_SetCloseDisc(job, true), kNoErr);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  shared->logFile = nullptr;
  EXPECT_EQ(shared->writers[0].errorCode, 0) << log.text();
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_TRUE(commandsOf(drive, kFormatUnit).empty());
  EXPECT_TRUE(commandsOf(drive, kReserveTrack).empty())
      << "a disc written in place reserves nothing";
  expectReadsBack(dump(drive, "closed"), source_, "xorriso, closed disc");
}

}  // namespace
