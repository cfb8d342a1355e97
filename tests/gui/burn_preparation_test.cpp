// SPDX-License-Identifier: GPL-2.0-or-later
// The preparation of a burn without windows: the file check and its missing files, the
// size limits, the judgement of a sized layout and the sizing pass against a real engine
// and an emulated drive whose disc is too small.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "burn/file_check.h"
#include "burn/missing_files.h"
#include "burn/sizing_pass.h"
#include "device_environment.h"
#include "quillion/FS.h"
#include "quillion/GDT.h"
#include "run_support.h"
#include "support/inline_executor.h"

namespace fs = std::filesystem;
using namespace quillion::burn;
using quillion::test::InlineExecutor;
using quillion::test::TempDir;
using quillion::test::TestThreads;

namespace {

// ---- limits -------------------------------------------------------------------------------

struct LimitCase {
  const char* name;
  bool (*holds)();
  bool expected;
};

const LimitCase kLimitCases[] = {
    {"image: free = bytes + 10 MB is refused", [] { return imageHasRoom(1000 + 10'485'760, 1000); },
     false},
    {"image: one byte more is taken", [] { return imageHasRoom(1001 + 10'485'760, 1000); }, true},
    {"HFS: 706,314,240 bytes fit", [] { return hfsSizeFits(706'314'240, 0); }, true},
    {"HFS: 706,314,241 bytes do not", [] { return hfsSizeFits(706'314'241, 0); }, false},
    {"HFS: 344,880 blocks fit", [] { return hfsSizeFits(0, 344'880); }, true},
    {"HFS: 344,881 blocks do not", [] { return hfsSizeFits(0, 344'881); }, false},
    {"ISO9660: a file of 2,097,152 blocks fits", [] { return iso9660FileFits(2'097'152); }, true},
    {"ISO9660: 2,097,153 blocks do not", [] { return iso9660FileFits(2'097'153); }, false},
    {"disc: need = free", [] { return discRoom(1000, 1000, std::nullopt) == DiscRoom::Enough; },
     true},
    {"disc: need = free + 1 without overburn",
     [] { return discRoom(1000, 1001, std::nullopt) == DiscRoom::NotEnough; }, true},
    {"disc: need = free + margin asks",
     [] { return discRoom(1000, 1075, 75u) == DiscRoom::OnlyWithOverburn; }, true},
    {"disc: need = free + margin + 1 refuses",
     [] { return discRoom(1000, 1076, 75u) == DiscRoom::NotEnough; }, true},
};

class SizingLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(SizingLimits, HoldsAtTheBound) {
  EXPECT_EQ(GetParam().holds(), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Bounds, SizingLimits, ::testing::ValuesIn(kLimitCases));

// ---- judgement ----------------------------------------------------------------------------

SizingRequest driveRequest(SizingKind kind, std::optional<DiscSpace> disc, unsigned format = 512) {
  SizingRequest r;
  r.kind = kind;
  r.layoutType = kind == SizingKind::Data ? 1 : 2;
  r.formatType = format;
  r.destination = 5;
  r.disc = disc;
  return r;
}

SizingMeasure measured(std::uint32_t blocks, std::uint64_t bytes = 0, std::uint32_t biggest = 0) {
  SizingMeasure m;
  m.jobCreated = true;
  m.blocks = blocks;
  m.bytes = bytes;
  m.biggestFileBlocks = biggest;
  return m;
}

TEST(SizingJudgement, WithoutADiscRecordTheMediaIsNotFound) {
  for (SizingKind kind : {SizingKind::Data, SizingKind::Audio}) {
    const SizingVerdict v = judgeSizing(driveRequest(kind, std::nullopt), measured(10));
    EXPECT_EQ(v.kind, SizingVerdictKind::Refused);
    EXPECT_STREQ(v.titleKey, "Media Not Found");
  }
}

TEST(SizingJudgement, AnAudioLayoutOnADvdIsCheckedLikeAnyOther) {
  const SizingVerdict big =
      judgeSizing(driveRequest(SizingKind::Audio, DiscSpace{100, true}), measured(101));
  EXPECT_EQ(big.kind, SizingVerdictKind::Refused);
  EXPECT_STREQ(big.titleKey, "Not Enough Space");
  const SizingVerdict fits =
      judgeSizing(driveRequest(SizingKind::Audio, DiscSpace{100, true}), measured(100));
  EXPECT_EQ(fits.kind, SizingVerdictKind::Proceed);
}

TEST(SizingJudgement, EngineFailuresAndMissingJobsAreNotSizes) {
  SizingMeasure failed = measured(0);
  failed.status = kErrPrepareFailed;
  EXPECT_EQ(judgeSizing(driveRequest(SizingKind::Data, DiscSpace{100, false}), failed).kind,
            SizingVerdictKind::EngineError);
  EXPECT_EQ(
      judgeSizing(driveRequest(SizingKind::Data, DiscSpace{100, false}), SizingMeasure{}).kind,
      SizingVerdictKind::NoJob);
}

TEST(SizingJudgement, FileSystemLimitsComeBeforeTheOverburnQuestion) {
  SizingRequest hfs = driveRequest(SizingKind::Data, DiscSpace{1000, false}, kFormatHfs);
  hfs.overburnMarginBlocks = 100;
  SizingVerdict v = judgeSizing(hfs, measured(1050, 706'314'241));
  EXPECT_EQ(v.kind, SizingVerdictKind::Refused);
  EXPECT_STREQ(v.titleKey, "HFS Limitation");
  EXPECT_EQ(judgeSizing(hfs, measured(1050, 706'314'240)).kind, SizingVerdictKind::AskOverburn);

  const SizingRequest iso = driveRequest(SizingKind::Data, DiscSpace{3'000'000, false}, 0x200);
  v = judgeSizing(iso, measured(2'100'000, 0, 2'097'153));
  EXPECT_STREQ(v.titleKey, "ISO9660 Size Limitation");
  EXPECT_EQ(judgeSizing(iso, measured(2'100'000, 0, 2'097'152)).kind, SizingVerdictKind::Proceed);
}

// With disc spanning a disc smaller than the layout is enough when it holds the biggest
// file (strictly more free blocks); the file system's limits still refuse.
TEST(SizingJudgement, SpanningFindsRoomButNotPastALimit) {
  SizingRequest r = driveRequest(SizingKind::Data, DiscSpace{1000, false}, 512);
  r.discSpanning = true;
  EXPECT_EQ(judgeSizing(r, measured(5000, 0, 999)).kind, SizingVerdictKind::Proceed);
  const SizingVerdict full = judgeSizing(r, measured(5000, 0, 1000));
  EXPECT_STREQ(full.titleKey, "Not Enough Space");
  r.discSpanning = false;
  EXPECT_STREQ(judgeSizing(r, measured(5000, 0, 10)).titleKey, "Not Enough Space");

  SizingRequest hfs = driveRequest(SizingKind::Data, DiscSpace{300'000, false}, kFormatHfs);
  hfs.discSpanning = true;
  const SizingVerdict limit = judgeSizing(hfs, measured(400'000, 0, 200'000));
  EXPECT_EQ(limit.kind, SizingVerdictKind::Refused);
  EXPECT_STREQ(limit.titleKey, "HFS Limitation");
  SizingRequest iso = driveRequest(SizingKind::Data, DiscSpace{3'000'000, false}, 0x200);
  iso.discSpanning = true;
  EXPECT_STREQ(judgeSizing(iso, measured(5'000'000, 0, 2'097'153)).titleKey,
               "ISO9660 Size Limitation");
}

TEST(SizingJudgement, AnImageNeedsItsSizeAndTenMegabytesMore) {
  SizingRequest r = driveRequest(SizingKind::Data, std::nullopt);
  r.destination = kBP_NativeImageWriter;
  SizingMeasure m = measured(500, 1'000'000);
  m.imageFreeBytes = 1'000'000 + kImageSpareBytes;
  EXPECT_STREQ(judgeSizing(r, m).titleKey, "Not Enough Space");
  m.imageFreeBytes += 1;
  EXPECT_EQ(judgeSizing(r, m).kind, SizingVerdictKind::Proceed);
  // The ISO image is as large as its blocks.
  r.destination = kBP_ISOImageWriter;
  m.imageFreeBytes = 500u * 2048 + kImageSpareBytes;
  EXPECT_EQ(judgeSizing(r, m).kind, SizingVerdictKind::Refused);
}

// ---- file check ---------------------------------------------------------------------------

struct FileCheckLog {
  std::vector<std::pair<LayoutModel, bool>> busy;
  int waitSheets = 0, closedSheets = 0, sized = 0, abandoned = 0;
  std::vector<FS_Node*> missing;

  FileCheckHooks hooks() {
    FileCheckHooks h;
    h.setBusy = [this](LayoutModel m, bool b) { busy.emplace_back(m, b); };
    h.showWaitSheet = [this](const FileCheckProgress&) { ++waitSheets; };
    h.closeWaitSheet = [this] { ++closedSheets; };
    h.showMissingFiles = [this](std::vector<FS_Node*> m) { missing = std::move(m); };
    h.proceedToSizing = [this] { ++sized; };
    h.abandon = [this] { ++abandoned; };
    return h;
  }
  std::set<LayoutModel> stillBusy() const {
    std::set<LayoutModel> out;
    for (const auto& [m, b] : busy) b ? (void)out.insert(m) : (void)out.erase(m);
    return out;
  }
};

struct ListDeleter {
  void operator()(FS_List* l) const { termList(l); }
};
using ListPtr = std::unique_ptr<FS_List, ListDeleter>;

class FileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_.path() / "source";
    quillion::test::writeFiles(source_, {{"a.txt", 10}, {"b.txt", 20}, {"sub/c.txt", 30}});
    tree_ = quillion::test::treeFromFolder(source_);
  }
  FS_Node* nodeTitled(const char* title) {
    FS_Node* found = nullptr;
    struct Ctx {
      const char* title;
      FS_Node** found;
    } ctx{title, &found};
    std::uint16_t depth = 0;
    (void)WalkWholeTree(
        tree_.get(),
        [](FS_Node* n, bool*, void* c, std::uint16_t, bool*) {
          auto* x = static_cast<Ctx*>(c);
          if (std::string(GetTitleNode(n)) == x->title) *x->found = n;
        },
        &ctx, &depth);
    return found;
  }
  std::uint32_t treeFiles() {
    std::uint32_t files = 0;
    EXPECT_EQ(TreeInfo(tree_.get(), nullptr, &files, nullptr, nullptr, true), kNoErr);
    return files;
  }
  ListPtr listOf(const std::vector<fs::path>& paths) {
    ListPtr list(initList());
    for (const fs::path& p : paths) {
      FS_Node* n = initNode(p.c_str(), p.filename().c_str(), nullptr, false);
      EXPECT_TRUE(n) << p;
      if (n) {
        EXPECT_EQ(AppendItem(list.get(), n), kNoErr);
      }
    }
    return list;
  }

  TempDir dir_;
  fs::path source_;
  quillion::test::TreePtr tree_;
};

TEST_F(FileCheckTest, ADeletedSourceFileIsReportedAndItsRemovalLeavesTheRest) {
  fs::remove(source_ / "sub" / "c.txt");
  InlineExecutor executor;
  FileCheckLog log;
  FileCheck check(executor, log.hooks());
  ASSERT_TRUE(check.start(CheckRoutine::Tree, {tree_.get()}));
  ASSERT_EQ(log.missing.size(), 1u);
  EXPECT_EQ(log.missing[0], nodeTitled("c.txt"));
  EXPECT_EQ(log.sized, 0);
  EXPECT_EQ(log.waitSheets, 0);
  // The model stays busy while the user deals with the missing file.
  EXPECT_EQ(log.stillBusy(), std::set<LayoutModel>{LayoutModel::Data});

  MissingFilesList list({tree_.get()}, log.missing);
  EXPECT_STREQ(list.closeButtonKey(), "Cancel");
  EXPECT_EQ(list.displayText(0), (source_ / "sub" / "c.txt").string());
  EXPECT_EQ(list.remove({0, 7}), kNoErr);
  EXPECT_TRUE(list.empty());
  EXPECT_STREQ(list.closeButtonKey(), "OK");
  EXPECT_EQ(nodeTitled("c.txt"), nullptr);
  EXPECT_EQ(treeFiles(), 2u);
  EXPECT_EQ(list.nextSizing(), SizingRoute::Data);
  check.releaseModels();
  EXPECT_TRUE(log.stillBusy().empty());

  // Checked again, the layout is complete and goes on to sizing.
  FileCheckLog again;
  FileCheck second(executor, again.hooks());
  ASSERT_TRUE(second.start(CheckRoutine::Tree, {tree_.get()}));
  EXPECT_TRUE(again.missing.empty());
  EXPECT_EQ(again.sized, 1);
}

TEST_F(FileCheckTest, BrowsingPointsTheNodeAtTheNewFile) {
  fs::remove(source_ / "a.txt");
  quillion::test::writeFiles(dir_.path() / "elsewhere", {{"new.txt", 5}});
  const std::atomic<bool> cancel{false};
  FileCheckResult r = checkLayoutFiles(CheckRoutine::Tree, {tree_.get()}, cancel, nullptr);
  ASSERT_EQ(r.missing.size(), 1u);
  MissingFilesList list({tree_.get()}, r.missing);
  LayoutModel owner = LayoutModel::Video;
  EXPECT_EQ(list.relink(0, "", &owner), kErrBadArgument);
  EXPECT_EQ(list.relink(1, "/x", &owner), kErrBadArgument);
  const fs::path chosen = dir_.path() / "elsewhere" / "new.txt";
  ASSERT_EQ(list.relink(0, chosen.string(), &owner), kNoErr);
  EXPECT_EQ(owner, LayoutModel::Data);
  EXPECT_TRUE(list.empty());
  FS_Node* node = nodeTitled("new.txt");
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(std::string(GetFullPathNameNode(node)), chosen.string());
  EXPECT_TRUE(checkLayoutFiles(CheckRoutine::Tree, {tree_.get()}, cancel, nullptr).missing.empty());
}

TEST_F(FileCheckTest, ADanglingLinkCountsInTheTreeButNotInATrackList) {
  fs::remove(source_ / "b.txt");
  fs::create_symlink(dir_.path() / "nowhere", source_ / "b.txt");
  const std::atomic<bool> cancel{false};
  EXPECT_TRUE(checkLayoutFiles(CheckRoutine::Tree, {tree_.get()}, cancel, nullptr).missing.empty());
  ListPtr tracks = listOf({source_ / "a.txt", source_ / "b.txt"});
  const FileCheckResult r =
      checkLayoutFiles(CheckRoutine::AudioList, {nullptr, tracks.get()}, cancel, nullptr);
  ASSERT_EQ(r.missing.size(), 1u);
  EXPECT_EQ(r.missing[0], NodeAtIndex(tracks.get(), 1));
  // Deleting the track takes it out of its list, not out of the tree.
  MissingFilesList list({tree_.get(), tracks.get()}, r.missing);
  EXPECT_EQ(list.remove({0}), kNoErr);
  EXPECT_EQ(SizeOfList(tracks.get()), 1u);
  EXPECT_NE(nodeTitled("b.txt"), nullptr);
}

TEST_F(FileCheckTest, FoldersAndImportedItemsAreNeverMissing) {
  FS_Node* folder = initNode(nullptr, "made", GetRootTreeNode(tree_.get()), false);
  ASSERT_NE(folder, nullptr);
  FS_Node* imported = nodeTitled("a.txt");
  SetISO9660ImportItem(imported, true);
  fs::remove(source_ / "a.txt");
  const std::atomic<bool> cancel{false};
  EXPECT_TRUE(checkLayoutFiles(CheckRoutine::Tree, {tree_.get()}, cancel, nullptr).missing.empty());
}

TEST_F(FileCheckTest, CancellingFreesEveryModelItMarkedAndEndsTheRequest) {
  quillion::test::writeFiles(dir_.path(), {{"gone.aif", 4}});
  ListPtr tracks = listOf({source_ / "b.txt", dir_.path() / "gone.aif"});
  fs::remove(source_ / "a.txt");
  fs::remove(dir_.path() / "gone.aif");
  InlineExecutor executor;
  executor.hold();
  FileCheckLog log;
  FileCheck check(executor, log.hooks());
  ASSERT_TRUE(check.start(CheckRoutine::AudioThenTree, {tree_.get(), tracks.get()}));
  EXPECT_EQ(log.stillBusy(), (std::set<LayoutModel>{LayoutModel::Data, LayoutModel::Audio}));
  EXPECT_FALSE(check.start(CheckRoutine::Tree, {tree_.get()}));
  check.cancel();
  executor.release();
  EXPECT_EQ(log.abandoned, 1);
  EXPECT_TRUE(log.missing.empty()) << "missing files found before the cancel are not offered";
  EXPECT_EQ(log.sized, 0);
  EXPECT_TRUE(log.stillBusy().empty());
  EXPECT_FALSE(check.running());
}

TEST_F(FileCheckTest, TheWaitSheetAppearsAboveThreeThousandFiles) {
  for (const std::uint32_t files : {3000u, 3001u}) {
    const fs::path many = dir_.path() / ("many" + std::to_string(files));
    fs::create_directories(many);
    for (std::uint32_t i = 0; i < files; ++i) std::ofstream(many / std::to_string(i)).put('x');
    quillion::test::TreePtr tree = quillion::test::treeFromFolder(many);
    InlineExecutor executor;
    FileCheckLog log;
    FileCheck check(executor, log.hooks());
    ASSERT_TRUE(check.start(CheckRoutine::Tree, {tree.get()}));
    const std::uint32_t total = checkedItemCount(CheckRoutine::Tree, {tree.get()});
    EXPECT_EQ(total, files);
    EXPECT_EQ(log.waitSheets, files == 3001 ? 1 : 0) << total;
    EXPECT_EQ(log.closedSheets, log.waitSheets);
    EXPECT_EQ(log.sized, 1);
    // The sheet's line names every 50th file.
    FileCheckProgress progress;
    const std::atomic<bool> cancel{false};
    (void)checkLayoutFiles(CheckRoutine::Tree, {tree.get()}, cancel, &progress);
    EXPECT_EQ(progress.done, files);
    EXPECT_FALSE(progress.currentTitle().empty());
  }
}

// ---- sizing against the engine ------------------------------------------------------------

class SizingWithEngine : public FileCheckTest {
 protected:
  void SetUp() override {
    FileCheckTest::SetUp();
    TestThreads::instance().reset();
  }
  void TearDown() override { TestThreads::instance().reset(); }

  // A CD writer with a blank CD-R of `capacity` blocks.
  std::uint32_t plugCd(std::uint32_t capacity) {
    auto config = *quillion::emu::DriveConfig::preset("cd-writer");
    config.name = config.product = "sizer";
    drive_ = quillion::emu::EmulatedBus::instance().plug(config);
    drive_->load(env_.blankDisc("sizer", 0x09, capacity));
    env_.start();
    const std::uint32_t ref = quillion::emu::DeviceEnvironment::refOf("sizer");
    (void)MMC_TestUnitReady(ref, nullptr);
    return ref;
  }
  DiscSpace discOf(std::uint32_t ref) {
    GDT_DiscInfo* info = nullptr;
    MMC_SenseData sense{};
    EXPECT_EQ(GDT_GetDiscInfo(ref, &info, &sense), kNoErr);
    DiscSpace d{info ? info->freeBlocks : 0, false};
    std::free(info);
    return d;
  }
  SizingRequest request(std::uint32_t ref) {
    SizingRequest r;
    r.kind = SizingKind::Data;
    r.layoutType = kBP_KindData;
    r.formatType = 512;
    r.iso9660XA = false;
    r.tree = tree_.get();
    r.destination = ref;
    r.disc = discOf(ref);
    r.threadCreator = TestThreads::create;
    return r;
  }

  quillion::emu::DeviceEnvironment env_;
  std::shared_ptr<quillion::emu::EmulatedDrive> drive_;
};

TEST_F(SizingWithEngine, ALayoutThatFitsOnlyIntoTheMarginAsksAndFollowsTheAnswer) {
  quillion::test::writeFiles(source_, {{"big.bin", 2'000'000}});
  tree_ = quillion::test::treeFromFolder(source_);
  const std::uint32_t ref = plugCd(200);
  const SizingMeasure m = measureLayout(request(ref));
  ASSERT_EQ(m.status, kNoErr);
  const std::uint32_t free = discOf(ref).freeBlocks;
  ASSERT_GT(m.blocks, free) << "the fixture must not fit the disc";
  ASSERT_LT(m.blocks, free + 4500u);

  for (const bool accept : {true, false}) {
    SCOPED_TRACE(accept);
    InlineExecutor executor;
    int asked = 0;
    std::optional<SizingOutcome> outcome;
    SizingPass pass(executor, {[&](std::function<void(bool)> answer) {
                                 ++asked;
                                 answer(accept);
                               },
                               [&](const SizingOutcome& o) { outcome = o; }});
    SizingRequest r = request(ref);
    r.overburnMarginBlocks = 4500;  // one minute
    ASSERT_TRUE(pass.start(r));
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->proceed, accept);
    EXPECT_EQ(outcome->continueOverburn, accept);
    EXPECT_EQ(outcome->declinedOverburn, !accept);
    EXPECT_EQ(outcome->verdict.kind, SizingVerdictKind::AskOverburn);
  }

  // Without overburning the same disc is simply too small; the next request on a large
  // enough disc is judged afresh.
  InlineExecutor executor;
  std::vector<SizingOutcome> outcomes;
  SizingPass pass(executor, {{}, [&](const SizingOutcome& o) { outcomes.push_back(o); }});
  ASSERT_TRUE(pass.start(request(ref)));
  SizingRequest roomy = request(ref);
  roomy.disc->freeBlocks = m.blocks;
  ASSERT_TRUE(pass.start(roomy));
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_FALSE(outcomes[0].proceed);
  EXPECT_FALSE(outcomes[0].enoughSpace);
  EXPECT_STREQ(outcomes[0].verdict.messageKey, "Not Enough Space In Destination");
  EXPECT_TRUE(outcomes[1].proceed);
  EXPECT_TRUE(outcomes[1].enoughSpace);
  EXPECT_FALSE(outcomes[1].continueOverburn);
  EXPECT_TRUE(TestThreads::instance().calls().empty()) << "sizing starts no burn thread";
}

TEST_F(SizingWithEngine, AnImageIsSizedAgainstTheFreeSpaceOfItsFolder) {
  SizingRequest r = request(plugCd(359'846));
  r.destination = kBP_NativeImageWriter;
  r.cdImageWriterPath = (dir_.path() / "out.img").string();
  std::string asked;
  std::uint64_t free = 0;
  r.freeBytesAt = [&](const std::string& path) {
    asked = path;
    return free;
  };
  SizingMeasure m = measureLayout(r);
  ASSERT_EQ(m.status, kNoErr);
  ASSERT_GT(m.bytes, 0u);
  EXPECT_EQ(asked, r.cdImageWriterPath);
  m.imageFreeBytes = m.bytes + kImageSpareBytes;
  EXPECT_EQ(judgeSizing(r, m).kind, SizingVerdictKind::Refused);
  m.imageFreeBytes += 1;
  EXPECT_EQ(judgeSizing(r, m).kind, SizingVerdictKind::Proceed);
  EXPECT_FALSE(fs::exists(r.cdImageWriterPath)) << "sizing writes nothing";
}

// A 16-bit stereo 44.1 kHz WAVE file of `seconds` of a quiet tone.
void writeWave(const fs::path& path, int seconds) {
  const std::uint32_t frames = 44'100u * static_cast<std::uint32_t>(seconds);
  const std::uint32_t data = frames * 4;
  std::string bytes = "RIFF";
  const auto le32 = [&bytes](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i)));
  };
  const auto le16 = [&bytes](std::uint16_t v) {
    bytes.push_back(static_cast<char>(v));
    bytes.push_back(static_cast<char>(v >> 8));
  };
  le32(36 + data);
  bytes += "WAVEfmt ";
  le32(16);
  le16(1);
  le16(2);
  le32(44'100);
  le32(44'100 * 4);
  le16(4);
  le16(16);
  bytes += "data";
  le32(data);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const auto sample = static_cast<std::uint16_t>((i % 100) * 40);
    le16(sample);
    le16(sample);
  }
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(SizingWithEngine, AnAudioLayoutIsSizedForItsDiscWithoutAStaleAnswer) {
  const fs::path track = dir_.path() / "tone.wav";
  writeWave(track, 10);
  ListPtr tracks = listOf({track});
  const std::uint32_t ref = plugCd(359'846);
  SizingRequest r;
  r.kind = SizingKind::Audio;
  r.layoutType = kBP_KindAudio;
  r.audioList = tracks.get();
  r.destination = ref;
  r.threadCreator = TestThreads::create;
  const SizingMeasure m = measureLayout(r);
  ASSERT_EQ(m.status, kNoErr);
  EXPECT_GE(m.blocks, 750u) << "ten seconds are 750 blocks";

  InlineExecutor executor;
  std::vector<SizingOutcome> outcomes;
  SizingPass pass(executor, {{}, [&](const SizingOutcome& o) { outcomes.push_back(o); }});
  r.disc = discOf(ref);
  ASSERT_TRUE(pass.start(r));
  r.disc->freeBlocks = m.blocks - 1;
  r.disc->isDVD = true;  // checked all the same
  ASSERT_TRUE(pass.start(r));
  r.disc.reset();
  ASSERT_TRUE(pass.start(r));
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_TRUE(outcomes[0].proceed);
  EXPECT_TRUE(outcomes[0].enoughSpace);
  EXPECT_FALSE(outcomes[1].enoughSpace);
  EXPECT_STREQ(outcomes[1].verdict.titleKey, "Not Enough Space");
  EXPECT_FALSE(outcomes[2].enoughSpace);
  EXPECT_STREQ(outcomes[2].verdict.titleKey, "Media Not Found");
}

}  // namespace
