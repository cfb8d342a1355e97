// SPDX-License-Identifier: GPL-2.0-or-later
// Data layouts burned to emulated drives through the flat API, and read back from the disc
// by the outside readers: every format of the producer registry, every kind of medium, one
// source to several drives, and the runs that must not end as a success.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/GDT.h"
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
constexpr std::uint8_t kReserveTrack = 0x53;
constexpr std::uint8_t kFormatUnit = 0x04;
constexpr std::uint32_t kDvdBlocks = 2'295'104;

// Lower-case 8.3 names, so that every file system keeps them as they are (plain ISO9660 in
// upper case); sizes around block and cache-block bounds.
const std::map<std::string, std::size_t> kDriveLayout = {
    {"empty.txt", 0},
    {"one.bin", 1},
    {"block.bin", 2048},
    {"docs/read.txt", 2047},
    {"docs/deep/a.dat", 70'000},
    {"media/big.dat", 1'100'000},
};

std::map<std::string, std::string> lowerCaseKeys(const std::map<std::string, std::string>& in) {
  std::map<std::string, std::string> out;
  for (const auto& [k, v] : in) {
    std::string key = k;
    std::ranges::transform(key, key.begin(), [](unsigned char c) { return std::tolower(c); });
    out[key] = v;
  }
  return out;
}

using Files = std::map<std::string, std::string>;

// The same names with the same bytes; a difference names the file, not its bytes.
void expectSameFiles(const Files& found, const Files& wanted, const std::string& what) {
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

std::uint32_t* mallocRefs(const std::vector<std::uint32_t>& refs) {
  auto* list = static_cast<std::uint32_t*>(std::malloc(refs.size() * sizeof(std::uint32_t)));
  std::ranges::copy(refs, list);
  return list;
}

class DriveBurn : public ::testing::Test {
 protected:
  void SetUp() override {
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    writeFiles(source_, kDriveLayout);
    tree_ = treeFromFolder(source_);
  }
  void TearDown() override {
    TestThreads::instance().reset();
    env_.stop();
  }

  // A drive named `name` of `preset` with a blank (or unformatted) disc of `profile`.
  std::shared_ptr<EmulatedDrive> plug(const std::string& name, std::uint16_t profile,
                                      std::uint32_t capacity = kDvdBlocks,
                                      const std::string& preset = "dvd-writer") {
    // A drive of the preset that also writes `profile`: the presets leave out the rarer media.
    auto config = *quillion::emu::DriveConfig::preset(preset);
    config.name = config.product = name;
    for (auto* list : {&config.readable, &config.writable})
      if (std::ranges::find(*list, profile) == list->end()) list->push_back(profile);
    auto drive = quillion::emu::EmulatedBus::instance().plug(config);
    drive->load(env_.blankDisc(name, profile, capacity));
    return drive;
  }
  std::uint32_t ref(const std::string& name) {
    const std::uint32_t r = DeviceEnvironment::refOf(name);
    (void)MMC_TestUnitReady(r, nullptr);  // the load's unit attention
    return r;
  }

  // A data job of `format` to `refs`; kNoErr or the first refused setting.
  BP_JobRef makeJob(const std::vector<std::uint32_t>& refs, std::uint16_t format,
                    BP_RuntimeSharedData** shared) {
    const BP_JobRef job = BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), shared,
                                    static_cast<std::uint16_t>(refs.size()));
    EXPECT_EQ(BP_SetDataTree(job, tree_.get()), kNoErr);
    EXPECT_EQ(BP_SetDataDiscFormat(job, format), kNoErr);
    EXPECT_EQ(BP_SetISO9660_XA(job, false), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(job, TestThreads::create), kNoErr);
    EXPECT_EQ(BP_SetDstDriveList(job, mallocRefs(refs), static_cast<std::uint16_t>(refs.size())),
              kNoErr);
    return job;
  }

  // The disc in `drive` as an .iso of its user data.
  fs::path dump(const std::shared_ptr<EmulatedDrive>& drive, const std::string& name) {
    const fs::path iso = dir_.path() / (name + ".iso");
    bool dumped = false;
    EXPECT_TRUE(drive->withMedium([&](Medium& m) { dumped = m.dumpIso(iso); }));
    EXPECT_TRUE(dumped) << name;
    return iso;
  }

  // Every file of the source, read from the dump by the readers of `format`.
  void expectFormatReadsBack(std::uint16_t format, const fs::path& iso) {
    const auto wanted = filesBelow(source_);
    if (format & 0xF00) {
      const bool joliet = (format & 0x200) != 0;
      const std::string volume = toolOutput({"isoinfo", "-d", "-i", iso.string()});
      EXPECT_NE(volume.find("CD-ROM is in ISO 9660 format"), std::string::npos) << volume;
      EXPECT_EQ(volume.find("Joliet with UCS level") != std::string::npos, joliet) << volume;
      const fs::path out = dir_.path() / ("xorriso-" + iso.stem().string());
      (void)runTool(
          {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
      expectSameFiles(lowerCaseKeys(filesBelow(out)), wanted,
                      "xorriso, format " + std::to_string(format));
    }
    if (format == 16 || format == 32 || format == 64) {
      const ToolResult info = runTool({"udfinfo", iso.string()});
      EXPECT_EQ(info.exitCode, 0) << info.output;
      const fs::path out = dir_.path() / ("7zz-" + iso.stem().string());
      const ToolResult x = runTool({"7zz", "x", "-y", "-tudf", "-o" + out.string(), iso.string()});
      EXPECT_EQ(x.exitCode, 0) << x.output;
      expectSameFiles(filesBelow(out), wanted, "7zz, format " + std::to_string(format));
    }
    if (format == 1 || format == 257 || format == 513) expectHfsReadsBack(iso, wanted);
    if (format == 2 || format == 258 || format == 514) {
      // A hybrid's HFS Plus volume follows its partition map (18,432 bytes); 7zz would open
      // the ISO9660 side of the whole disc.
      fs::path volume = iso;
      if (format != 2) {
        volume = dir_.path() / (iso.stem().string() + ".hfsplus");
        EXPECT_EQ(
            runTool({"dd", "if=" + iso.string(), "of=" + volume.string(), "bs=18432", "skip=1"})
                .exitCode,
            0);
      }
      const fs::path out = dir_.path() / ("hfsplus-" + iso.stem().string());
      const ToolResult x = runTool({"7zz", "x", "-y", "-o" + out.string(), volume.string()});
      EXPECT_EQ(x.exitCode, 0) << x.output;
      // The volume's folder holds the tree.
      std::map<std::string, std::string> found;
      for (const auto& [path, bytes] : filesBelow(out)) {
        if (path.find(":rsrc") != std::string::npos) continue;
        const auto slash = path.find('/');
        if (slash != std::string::npos) found[path.substr(slash + 1)] = bytes;
      }
      expectSameFiles(found, wanted, "7zz HFS Plus, format " + std::to_string(format) + x.output);
    }
  }

  // hfsutils: every file copied out by its Macintosh path.
  void expectHfsReadsBack(const fs::path& iso, const std::map<std::string, std::string>& wanted) {
    const fs::path home = dir_.path() / "hfs-home";
    fs::create_directories(home);
    const ToolOptions options{.workingDirectory = home, .environment = {{"HOME", home.string()}}};
    ASSERT_EQ(runTool({"hmount", iso.string()}, options).exitCode, 0);
    for (const auto& [path, bytes] : wanted) {
      std::string macPath = ":" + path;
      std::ranges::replace(macPath, '/', ':');
      const fs::path out = home / "copied";
      fs::remove(out);
      const ToolResult copy = runTool({"hcopy", "-r", macPath, out.string()}, options);
      EXPECT_EQ(copy.exitCode, 0) << path << ": " << copy.output;
      EXPECT_TRUE(readText(out) == bytes) << "hcopy: " << path;
    }
    (void)runTool({"humount"}, options);
  }

  // BP_PrepareBurn, BP_Burn and every thread joined.
  static void burn(BP_JobRef job, std::uint32_t* blocks = nullptr) {
    ASSERT_EQ(BP_PrepareBurn(job, blocks, nullptr), kNoErr);
    ASSERT_EQ(BP_Burn(job), kNoErr);
    ASSERT_TRUE(TestThreads::instance().join());
  }

  static std::vector<std::vector<std::uint8_t>> cdbsOf(const std::shared_ptr<EmulatedDrive>& d,
                                                       std::uint8_t opcode) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& c : d->log())
      if (c.cdb[0] == opcode && c.status == 0) out.push_back(c.cdb);
    return out;
  }

  TempDir dir_;
  DeviceEnvironment env_;
  fs::path source_;
  TreePtr tree_;
};

// Every format of the registry on a DVD-R, each read back by its own readers.
TEST_F(DriveBurn, EveryFormatReadsBackFromADvdMinusR) {
  for (const char* tool : {"isoinfo", "xorriso", "7zz", "udfinfo", "hmount"})
    QUILLION_REQUIRE_TOOL(tool);
  const std::vector<std::uint16_t> formats = {1, 2, 16, 32, 64, 256, 257, 258, 512, 513, 514};
  for (std::uint16_t format : formats) {
    SCOPED_TRACE(format);
    const std::string name = "dvd" + std::to_string(format);
    auto drive = plug(name, 0x11);
    env_.start();
    const std::uint32_t r = ref(name);
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({r}, format, &shared);
    std::uint32_t blocks = 0;
    burn(job, &blocks);
    EXPECT_TRUE(BP_RunFinished(shared));
    EXPECT_EQ(shared->readErrorCode, 0);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
    EXPECT_EQ(shared->writers[0].sectorsWritten, shared->totalBlocks);
    EXPECT_EQ(blocks, shared->totalBlocks + 2);
    const std::uint32_t total = shared->totalBlocks;
    EXPECT_EQ(BP_Delete(job), kNoErr);
    expectFormatReadsBack(format, dump(drive, name));
    // The track was reserved to a multiple of 16 and padded with zeros to fill it.
    const auto reserves = cdbsOf(drive, kReserveTrack);
    ASSERT_EQ(reserves.size(), 1u);
    const std::uint32_t reserved = quillion::be::get32(reserves[0], 5);
    EXPECT_EQ(reserved % 16, 0u);
    EXPECT_LT(reserved - total, 16u);
    drive->withMedium([&](Medium& m) {
      ASSERT_FALSE(m.tracks().empty());
      EXPECT_EQ(m.tracks().front().length, reserved);
    });
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
}

}  // namespace

namespace {

// A Joliet layout on each kind of medium, read back from the disc.
TEST_F(DriveBurn, EachMediumTakesTheLayout) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  struct Case {
    const char* name;
    std::uint16_t profile;
    std::uint32_t capacity;
    const char* preset;
    bool reserved;       // the track was reserved to a multiple of 16 blocks first
    const char* logged;  // the medium as the burn log names it
  };
  const Case cases[] = {
      {"cdr", 0x09, 359'846, "cd-writer", false, "CD-R"},
      {"dvdplusr", 0x1B, kDvdBlocks, "dvd-writer", true, "DVD+R"},
      {"dvdplusrw", 0x1A, kDvdBlocks, "dvd-writer", false, "DVD+RW"},
      {"bdr", 0x41, 12'219'392, "bd-writer", false, "CD-R/RW"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto drive = plug(c.name, c.profile, c.capacity, c.preset);
    env_.start();
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({ref(c.name)}, 512, &shared);
    CapturedLog log;
    shared->logFile = log.file();
    burn(job);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
    EXPECT_EQ(shared->writers[0].sectorsWritten, shared->totalBlocks);
    shared->logFile = nullptr;
    EXPECT_EQ(BP_Delete(job), kNoErr);
    expectFormatReadsBack(512, dump(drive, c.name));
    EXPECT_EQ(cdbsOf(drive, kReserveTrack).empty(), !c.reserved);
    const std::string text = log.text();
    EXPECT_NE(text.find("   Burn Type : TAO\r"), std::string::npos) << text;
    EXPECT_NE(text.find("   Media     : " + std::string(c.logged) + "\r"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
}

// A second session on a DVD+RW: the new tree starts after the used blocks the client names,
// and the volume at the start of the disc is grown so that readers find the new tree.
TEST_F(DriveBurn, AnAppendedDvdPlusRwShowsTheNewTree) {
  for (const char* tool : {"isoinfo", "xorriso", "7zz", "udfinfo"}) QUILLION_REQUIRE_TOOL(tool);
  for (std::uint16_t format : {std::uint16_t{512}, std::uint16_t{16}, std::uint16_t{513}}) {
    SCOPED_TRACE(format);
    const std::string name = "plus" + std::to_string(format);
    auto drive = plug(name, 0x1A);
    env_.start();
    const std::uint32_t r = ref(name);
    std::uint32_t firstBlocks = 0;
    {
      BP_RuntimeSharedData* shared = nullptr;
      const BP_JobRef job = makeJob({r}, format, &shared);
      burn(job);
      EXPECT_EQ(shared->writers[0].errorCode, 0);
      firstBlocks = shared->totalBlocks;
      EXPECT_EQ(BP_Delete(job), kNoErr);
    }
    // The second layout: other files, in a tree of its own.
    const fs::path second = dir_.path() / ("second" + std::to_string(format));
    writeFiles(second, {{"new.txt", 3000}, {"more/next.bin", 600'000}});
    TreePtr tree = treeFromFolder(second);
    const std::uint32_t used = (firstBlocks + 15) / 16 * 16;
    {
      BP_RuntimeSharedData* shared = nullptr;
      const BP_JobRef job = makeJob({r}, format, &shared);
      EXPECT_EQ(BP_SetDataTree(job, tree.get()), kNoErr);
      EXPECT_EQ(BP_SetDVDPlusRWUsedBlocks(job, used), kNoErr);
      burn(job);
      EXPECT_EQ(shared->writers[0].errorCode, 0);
      EXPECT_EQ(BP_Delete(job), kNoErr);
    }
    // The new session's blocks went after the used ones.
    const auto writes = cdbsOf(drive, kWrite10);
    ASSERT_FALSE(writes.empty());
    std::uint32_t lowestOfSecond = UINT32_MAX;
    for (const auto& cdb : writes) {
      const std::uint32_t lba = quillion::be::get32(cdb, 2);
      if (lba >= used) lowestOfSecond = std::min(lowestOfSecond, lba);
    }
    EXPECT_EQ(lowestOfSecond, used);
    const fs::path iso = dump(drive, name);
    const auto wanted = filesBelow(second);
    if (format == 513) {
      // The partition map holds one more partition: the new session's Macintosh volume, after
      // the map's own entry and the first session's volume.
      const std::string map = toolOutput({"7zz", "l", "-tAPM", iso.string()});
      EXPECT_NE(map.find(" 3 files"), std::string::npos) << map;
    }
    if (format & 0xF00) {
      const fs::path out = dir_.path() / ("grown-" + name);
      (void)runTool(
          {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
      expectSameFiles(filesBelow(out), wanted, "xorriso after growth");
      const std::string volume = toolOutput({"isoinfo", "-d", "-i", iso.string()});
      EXPECT_NE(volume.find("Volume size is: "), std::string::npos) << volume;
    } else {
      const ToolResult info = runTool({"udfinfo", iso.string()});
      EXPECT_EQ(info.exitCode, 0) << info.output;
      const fs::path out = dir_.path() / ("grown-" + name);
      const ToolResult x = runTool({"7zz", "x", "-y", "-tudf", "-o" + out.string(), iso.string()});
      EXPECT_EQ(x.exitCode, 0) << x.output;
      expectSameFiles(filesBelow(out), wanted, "7zz after growth");
    }
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
}

}  // namespace

namespace {

// One reader, three writers: the drive that fails in the middle of its track reports the
// drive's verdict, and the other two get the whole disc, the same one.
TEST_F(DriveBurn, OneFailingDriveOfThreeLeavesTheOthersWhole) {
  QUILLION_REQUIRE_TOOL("xorriso");
  auto a = plug("a", 0x11);
  auto b = plug("b", 0x11);
  auto c = plug("c", 0x11);
  // From its fourth write on, drive b answers every WRITE with a write error.
  b->addFault(FaultRule{.opcode = kWrite10,
                        .fromCall = 4,
                        .action = FaultAction::CheckCondition,
                        .key = 0x03,
                        .asc = 0x0C,
                        .ascq = 0x00});
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob({ref("a"), ref("b"), ref("c")}, 512, &shared);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  EXPECT_TRUE(BP_RunFinished(shared));
  EXPECT_EQ(shared->readErrorCode, 0);
  const std::uint32_t total = shared->totalBlocks;
  for (int i : {0, 2}) {
    EXPECT_EQ(shared->writers[i].errorCode, 0) << i;
    EXPECT_EQ(shared->writers[i].phase, kBP_PhaseDone) << i;
    EXPECT_EQ(shared->writers[i].sectorsWritten, total) << i;
  }
  const BP_WriterRTInfo& failed = shared->writers[1];
  EXPECT_EQ(failed.errorCode, kErrDataRefused);
  EXPECT_EQ(failed.phase, kBP_PhaseFailed);
  EXPECT_LT(failed.sectorsWritten, total);
  const MMC_SenseData sense = failed.curSense.load();
  EXPECT_EQ(sense.key, 0x03);
  EXPECT_EQ(sense.code, 0x0C);
  shared->logFile = nullptr;
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_NE(log.text().find("\r=> Write thread finished with ERROR!!! @ "), std::string::npos);

  const std::string first = readText(dump(a, "a"));
  const std::string third = readText(dump(c, "c"));
  EXPECT_EQ(first.size(), third.size());
  EXPECT_TRUE(first == third) << "the two good drives hold the same disc";
  expectFormatReadsBack(512, dir_.path() / "a.iso");
}

// Runs that must end in a failure of their own, never as a success, and never hang.
TEST_F(DriveBurn, RunsThatCannotFinishReportTheirFailure) {
  struct Case {
    const char* name;
    std::uint32_t capacity;
    std::function<void(EmulatedDrive&, BP_RuntimeSharedData*&)> arrange;
    std::function<void(const fs::path& source)> afterPreparation;
    EngineStatus writerError;  // kNoErr: the writer ends well, the reader does not
    EngineStatus readerError;
  };
  const std::vector<Case> cases = {
      {"cancelled at its third write", kDvdBlocks,
       [](EmulatedDrive& d, BP_RuntimeSharedData*& shared) {
         d.addFault(FaultRule{.opcode = kWrite10,
                              .fromCall = 3,
                              .toCall = 3,
                              .action = FaultAction::Hook,
                              .hook = [&shared] { shared->writers[0].bForceQuit = true; }});
       },
       nullptr, kErrCancelled, kNoErr},
      {"a disc too small for the layout", 600, nullptr, nullptr, kErrReserveTrack, kNoErr},
      {"the drive removed at its third write", kDvdBlocks,
       [](EmulatedDrive& d, BP_RuntimeSharedData*&) {
         d.addFault(FaultRule{
             .opcode = kWrite10, .fromCall = 3, .toCall = 3, .action = FaultAction::Vanish});
       },
       nullptr, kErrTransport, kNoErr},
      {"a file that shrinks after preparation", kDvdBlocks, nullptr,
       [](const fs::path& source) { fs::resize_file(source / "media/big.dat", 1000); }, kNoErr,
       kErrFileAccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestThreads::instance().reset();
    // Whole again, and listed again: a file written after it was listed is a changed file.
    writeFiles(source_, kDriveLayout);
    tree_ = treeFromFolder(source_);
    auto drive = plug("d", 0x11, c.capacity);
    env_.start();
    BP_RuntimeSharedData* shared = nullptr;
    if (c.arrange) c.arrange(*drive, shared);
    const BP_JobRef job = makeJob({ref("d")}, 512, &shared);
    ASSERT_EQ(BP_PrepareBurn(job, nullptr, nullptr), kNoErr);
    if (c.afterPreparation) c.afterPreparation(source_);
    ASSERT_EQ(BP_Burn(job), kNoErr);
    ASSERT_TRUE(TestThreads::instance().join()) << "the run ends";
    EXPECT_TRUE(BP_RunFinished(shared));
    const BP_WriterRTInfo& w = shared->writers[0];
    if (c.writerError == kNoErr) {
      EXPECT_EQ(w.errorCode, 0);
    } else {
      EXPECT_EQ(w.errorCode, c.writerError);
      EXPECT_EQ(w.phase, kBP_PhaseFailed);
    }
    EXPECT_EQ(shared->readErrorCode, c.readerError);
    EXPECT_TRUE(w.errorCode != 0 || shared->readErrorCode != 0) << "no success";
    EXPECT_EQ(BP_Delete(job), kNoErr);
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
}

}  // namespace

namespace {

// The cache a run gets: the wish, no more than the largest track written track by track, 36 MB
// at most for a layout, a fixed 8 MB for the native image, never below 8 MB. The reader is refused,
// so nothing is read: only the sizes are worked out.
TEST_F(DriveBurn, TheCacheIsSizedByTheWishTheJobAndTheDestination) {
  const fs::path large = dir_.path() / "large";
  fs::create_directories(large);
  {
    std::ofstream(large / "sparse.bin").put('x');
    fs::resize_file(large / "sparse.bin", 120u * 1024 * 1024);  // 61,440 blocks, all holes
  }
  const fs::path medium = dir_.path() / "medium";
  writeFiles(medium, {{"ten.bin", 10u * 1024 * 1024 - 40'000}});
  TreePtr largeTree = treeFromFolder(large);
  TreePtr mediumTree = treeFromFolder(medium);
  auto drive = plug("cache", 0x11);
  env_.start();
  const std::uint32_t dvd = ref("cache");
  struct Case {
    const char* name;
    FS_Tree* tree;
    std::uint32_t destination;
    std::uint32_t wishKB;  // 0: the default
    std::uint32_t sizeKB;
  };
  const Case cases[] = {
      {"a large layout to a drive, a wish of 100,000 KB", largeTree.get(), dvd, 100'000, 36'864},
      {"a large layout to an ISO image", largeTree.get(), kBP_ISOImageWriter, 100'000, 36'864},
      {"a large layout to the native image", largeTree.get(), kBP_NativeImageWriter, 100'000,
       8'192},
      {"a small layout to a drive: raised to the least", tree_.get(), dvd, 0, 8'192},
      {"a 10 MB layout: no more than its one track", mediumTree.get(), dvd, 30'000, 10'252},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestThreads::instance().reset();
    TestThreads::instance().refuse(kBP_ReaderThread);
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({c.destination}, 512, &shared);
    EXPECT_EQ(BP_SetDataTree(job, c.tree), kNoErr);
    EXPECT_EQ(BP_SetDstImageFilePath(
                  job, (dir_.path() / "never.iso").c_str(),
                  c.destination == kBP_NativeImageWriter ? kBP_DstNativeImage : kBP_DstISOImage),
              kNoErr);
    if (c.wishKB) {
      EXPECT_EQ(BP_SetExpectCacheSize(job, c.wishKB), kNoErr);
    }
    EXPECT_EQ(BP_Burn(job), kErrJobNotRunnable) << "no reader: nothing runs";
    EXPECT_EQ(shared->appCacheSize, c.sizeKB);
    EXPECT_EQ(BP_Delete(job), kNoErr);
  }
  TestThreads::instance().reset();
}

}  // namespace

namespace {

constexpr std::uint8_t kReadTrackInformation = 0x52;
constexpr std::uint8_t kCloseTrackSession = 0x5B;

// A second session on an appendable DVD-R: its track takes the disc's next number and its
// blocks the next writable address, where a reader that loads that session finds the tree.
TEST_F(DriveBurn, ASecondSessionGoesWhereTheDiscTakesIt) {
  QUILLION_REQUIRE_TOOL("xorriso");
  auto drive = plug("multi", 0x11);
  env_.start();
  const std::uint32_t r = ref("multi");
  {
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({r}, 512, &shared);
    burn(job);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(BP_Delete(job), kNoErr);
  }
  std::uint32_t next = 0;
  drive->withMedium([&](Medium& m) { next = m.nextWritable(); });
  ASSERT_GT(next, 0u);
  drive->clearLog();
  const fs::path second = dir_.path() / "second";
  writeFiles(second, {{"later.txt", 5000}});
  TreePtr tree = treeFromFolder(second);
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob({r}, 512, &shared);
  EXPECT_EQ(BP_SetDataTree(job, tree.get()), kNoErr);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  EXPECT_EQ(shared->writers[0].errorCode, 0);
  shared->logFile = nullptr;
  EXPECT_EQ(BP_Delete(job), kNoErr);
  const std::string text = log.text();
  EXPECT_NE(
      text.find("\r\r ------ Append Data Track ------\r" +
                std::string(6 - std::to_string(next).size(), ' ') + std::to_string(next) + " ~ "),
      std::string::npos)
      << text;
  const auto writes = cdbsOf(drive, kWrite10);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(quillion::be::get32(writes.front(), 2), next);
  const auto closes = cdbsOf(drive, kCloseTrackSession);
  ASSERT_FALSE(closes.empty());
  EXPECT_EQ(closes.front()[2] & 0x07, 1) << "CLOSE TRACK";
  EXPECT_EQ(quillion::be::get16(closes.front(), 4), 2) << "of track 2";

  const fs::path iso = dump(drive, "multi");
  const fs::path out = dir_.path() / "second-session";
  (void)runTool({"xorriso", "-indev", iso.string(), "-load", "sbsector", std::to_string(next),
                 "-osirrox", "on", "-extract", "/", out.string()});
  expectSameFiles(filesBelow(out), filesBelow(second), "xorriso, second session");
}

// A drive that never tells where it writes next fails the preparation with the status of its
// last answer, after trying for three minutes; it is never taken to mean block 0.
TEST_F(DriveBurn, NoNextWritableAddressFailsThePreparation) {
  auto drive = plug("nonwa", 0x11);
  drive->addFault(FaultRule{.opcode = kReadTrackInformation,
                            .action = FaultAction::CheckCondition,
                            .key = 0x02,
                            .asc = 0x04,
                            .ascq = 0x01});
  env_.start();
  const std::uint32_t r = ref("nonwa");
  const auto before = quillion::engineClock().now();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob({r}, 512, &shared);
  CapturedLog log;
  shared->logFile = log.file();
  EXPECT_EQ(BP_PrepareBurn(job, nullptr, nullptr), kErrCheckCondition);
  EXPECT_GE(quillion::engineClock().now() - before, std::chrono::seconds(179));
  EXPECT_EQ(BP_Burn(job), kErrCheckCondition) << "the run does not start either";
  EXPECT_TRUE(TestThreads::instance().calls().empty());
  shared->logFile = nullptr;
  EXPECT_NE(
      log.text().find("\r?? No writable address on Drive Ref: " + std::to_string(r) + " (-1177)\r"),
      std::string::npos)
      << log.text();
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_TRUE(cdbsOf(drive, kWrite10).empty());
}

}  // namespace

namespace {

// A track whose producer cannot be made fails the preparation: burned without it, the disc
// would be written as if the layout were empty.
TEST_F(DriveBurn, ATrackWithoutItsProducerFailsThePreparation) {
  auto drive = plug("noproducer", 0x11);
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob({ref("noproducer")}, 255, &shared);
  CapturedLog log;
  shared->logFile = log.file();
  EXPECT_EQ(BP_PrepareBurn(job, nullptr, nullptr), kErrPrepareFailed);
  EXPECT_EQ(BP_Burn(job), kErrPrepareFailed);
  EXPECT_TRUE(TestThreads::instance().calls().empty());
  shared->logFile = nullptr;
  EXPECT_NE(log.text().find("\r?? No file system is made for data disc format 255\r"),
            std::string::npos)
      << log.text();
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_TRUE(cdbsOf(drive, kWrite10).empty());
  EXPECT_TRUE(cdbsOf(drive, kReserveTrack).empty());
}

}  // namespace

namespace {

// A sequential DVD-RW is written a session at once: the session is reserved first, to a
// multiple of 16 blocks, and the zeros after the data fill the reservation.
TEST_F(DriveBurn, ASequentialDvdMinusRwIsWrittenASessionAtOnce) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  auto drive = plug("dvdrw", 0x14);
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = makeJob({ref("dvdrw")}, 512, &shared);
  CapturedLog log;
  shared->logFile = log.file();
  burn(job);
  EXPECT_EQ(shared->writers[0].errorCode, 0);
  EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
  const std::uint32_t total = shared->totalBlocks;
  shared->logFile = nullptr;
  EXPECT_EQ(BP_Delete(job), kNoErr);
  EXPECT_NE(log.text().find("   Media     : DVD-RW\r"), std::string::npos) << log.text();

  const auto reserves = cdbsOf(drive, kReserveTrack);
  ASSERT_EQ(reserves.size(), 1u);
  const std::uint32_t reserved = quillion::be::get32(reserves[0], 5);
  EXPECT_EQ(reserved, (total + 15) / 16 * 16);
  // Every block of the reservation was written, the data first, in one sequence from block 0.
  std::uint32_t next = 0;
  for (const auto& cdb : cdbsOf(drive, kWrite10)) {
    EXPECT_EQ(quillion::be::get32(cdb, 2), next);
    next += quillion::be::get16(cdb, 7);
  }
  EXPECT_EQ(next, reserved);
  EXPECT_TRUE(cdbsOf(drive, kFormatUnit).empty()) << "a session at once needs no format";
  drive->withMedium([&](Medium& m) {
    ASSERT_EQ(m.tracks().size(), 1u);
    EXPECT_EQ(m.tracks().front().start, 0u);
    EXPECT_EQ(m.tracks().front().length, reserved);
  });
  const fs::path iso = dump(drive, "dvdrw");
  expectFormatReadsBack(512, iso);
  const std::string image = readText(iso);
  ASSERT_GE(image.size(), std::size_t{reserved} * 2048);
  EXPECT_EQ(image.find_first_not_of('\0', std::size_t{total} * 2048), std::string::npos)
      << "the padding after the data is zeros";
}

// A DVD+R DL to be closed is reserved a session at once, in multiples of 32 blocks: two
// layouts 16 blocks apart, so that one of them falls where 16 and 32 round differently.
TEST_F(DriveBurn, ADvdPlusRDualLayerReservesInThirtyTwoBlocks) {
  QUILLION_REQUIRE_TOOL("xorriso");
  bool roundingDiffered = false;
  for (std::size_t extra : {std::size_t{0}, std::size_t{16 * 2048}}) {
    SCOPED_TRACE(extra);
    TestThreads::instance().reset();
    writeFiles(source_, kDriveLayout);
    writeFiles(source_, {{"fill.bin", 4096 + extra}});
    tree_ = treeFromFolder(source_);
    auto drive = plug("dl", 0x2B);
    env_.start();
    const auto before = quillion::engineClock().now();
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({ref("dl")}, 512, &shared);
    EXPECT_EQ(BP_SetCloseDisc(job, true), kNoErr);
    burn(job);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
    const std::uint32_t total = shared->totalBlocks;
    EXPECT_EQ(BP_Delete(job), kNoErr);
    // The dual-layer disc is given ten seconds before its reservation.
    EXPECT_GE(quillion::engineClock().now() - before, std::chrono::seconds(10));
    const auto reserves = cdbsOf(drive, kReserveTrack);
    ASSERT_EQ(reserves.size(), 1u);
    const std::uint32_t reserved = quillion::be::get32(reserves[0], 5);
    EXPECT_EQ(reserved, (total + 31) / 32 * 32);
    roundingDiffered |= reserved != (total + 15) / 16 * 16;
    drive->withMedium([&](Medium& m) {
      ASSERT_EQ(m.tracks().size(), 1u);
      EXPECT_EQ(m.tracks().front().length, reserved);
      EXPECT_EQ(m.status(), quillion::emu::DiscStatus::Complete);
    });
    const fs::path out = dir_.path() / ("dl-" + std::to_string(extra));
    (void)runTool({"xorriso", "-indev", dump(drive, "dl" + std::to_string(extra)).string(),
                   "-osirrox", "on", "-extract", "/", out.string()});
    expectSameFiles(lowerCaseKeys(filesBelow(out)), filesBelow(source_), "xorriso, DVD+R DL");
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
  EXPECT_TRUE(roundingDiffered) << "neither layout told 32-block rounding from 16";
}

}  // namespace

namespace {

// cd-info's track list of a bin/cue dump: track number to (start LSN, kind word).
std::map<int, std::pair<std::uint32_t, std::string>> cdInfoTracks(const std::string& text) {
  std::map<int, std::pair<std::uint32_t, std::string>> tracks;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    int number = 0;
    unsigned lsn = 0;
    char msf[16] = {}, kind[16] = {};
    if (std::sscanf(line.c_str(), " %d: %15s %u %15s", &number, msf, &lsn, kind) == 4 &&
        number >= 1 && number <= 99) {
      tracks[number] = {lsn, kind};
    }
  }
  return tracks;
}

// A data layout on a CD-R, track at once and session at once: the outside readers find the
// tree, and the disc information the engine gives agrees with cd-info's reading of the disc.
TEST_F(DriveBurn, ADataCdReadsBackAndItsDiscInformationAgreesWithCdInfo) {
  for (const char* tool : {"isoinfo", "xorriso", "cd-info"}) QUILLION_REQUIRE_TOOL(tool);
  for (const bool sao : {false, true}) {
    SCOPED_TRACE(sao ? "session at once" : "track at once");
    const std::string name = sao ? "cdsao" : "cdtao";
    auto drive = plug(name, 0x09, 359'846, "cd-writer");
    env_.start();
    const std::uint32_t r = ref(name);
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job = makeJob({r}, 512, &shared);
    EXPECT_EQ(BP_SetSAO(job, sao), kNoErr);
    EXPECT_EQ(BP_SetCloseDisc(job, true), kNoErr);
    burn(job);
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(shared->writers[0].phase, kBP_PhaseDone);
    EXPECT_EQ(BP_Delete(job), kNoErr);
    EXPECT_EQ(cdbsOf(drive, 0x5D).empty(), !sao) << "a cue sheet only for session at once";
    expectFormatReadsBack(512, dump(drive, name));

    const fs::path cue = dir_.path() / (name + ".cue");
    bool dumped = false;
    EXPECT_TRUE(drive->withMedium([&](Medium& m) { dumped = m.dumpBinCue(cue); }));
    ASSERT_TRUE(dumped);
    const std::string text =
        toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", cue.string()});
    const auto seen = cdInfoTracks(text);
    GDT_DiscInfo* info = nullptr;
    MMC_SenseData sense{};
    ASSERT_EQ(GDT_GetDiscInfo(r, &info, &sense), kNoErr);
    EXPECT_EQ(info->discState, kGDT_DiscClosed);
    ASSERT_FALSE(seen.empty()) << text;
    ASSERT_EQ(info->trackCount, seen.size()) << text;
    for (std::uint16_t i = 0; i < info->trackCount; ++i) {
      const GDT_OneTrack& t = GDT_Tracks(info)[i];
      const auto it = seen.find(t.track);
      ASSERT_NE(it, seen.end()) << t.track << "\n" << text;
      EXPECT_EQ(t.start, it->second.first) << text;
      const bool xa = it->second.second == "XA";
      EXPECT_EQ(t.mode, xa ? kGDT_ModeData2 : kGDT_ModeData1) << text;
      EXPECT_NE(it->second.second, "audio") << text;
    }
    std::free(info);
    env_.stop();
    quillion::emu::EmulatedBus::instance().reset();
  }
}

}  // namespace
