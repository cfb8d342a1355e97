// SPDX-License-Identifier: GPL-2.0-or-later
// A burn request on a real (offscreen) window from Burn to the burn options: a missing file
// deleted in its sheet, sizing against an emulated CD-R that is too small, and the overburn
// question; the refusals and the cancel that end the request without a burn.
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <set>

#include "burn/burn_preparation.h"
#include "device_environment.h"
#include "framework/sheet_host.h"
#include "quillion/FS.h"
#include "quillion/GDT.h"
#include "run_support.h"
#include "support/gui_test_env.h"
#include "support/inline_executor.h"

namespace fs = std::filesystem;
using namespace quillion::burn;
using quillion::test::InlineExecutor;
using quillion::test::TestThreads;

namespace {

class BurnRequest : public quillion::test::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    quillion::test::writeFiles(source_,
                               {{"keep.txt", 100}, {"gone.txt", 200}, {"big.bin", 2'000'000}});
    tree_ = quillion::test::treeFromFolder(source_);
    window_.show();
  }
  void TearDown() override {
    TestThreads::instance().reset();
    env_.stop();
    GuiTest::TearDown();
  }

  std::uint32_t plugSmallCd() {
    auto config = *quillion::emu::DriveConfig::preset("cd-writer");
    config.name = config.product = "burner";
    drive_ = quillion::emu::EmulatedBus::instance().plug(config);
    drive_->load(env_.blankDisc("burner", 0x09, 300));
    env_.start();
    const std::uint32_t ref = quillion::emu::DeviceEnvironment::refOf("burner");
    (void)MMC_TestUnitReady(ref, nullptr);
    return ref;
  }

  BurnPreparationHooks hooks() {
    BurnPreparationHooks h;
    h.setBusy = [this](LayoutModel m, bool b) { b ? (void)busy_.insert(m) : (void)busy_.erase(m); };
    h.abandon = [this] { ++abandoned_; };
    h.sizingRequest = [this](SizingRoute route) -> std::optional<SizingRequest> {
      routes_.push_back(route);
      if (route != SizingRoute::Data) return std::nullopt;
      SizingRequest r;
      r.layoutType = kBP_KindData;
      r.formatType = 512;
      r.iso9660XA = false;
      r.tree = tree_.get();
      r.destination = ref_;
      r.threadCreator = TestThreads::create;
      if (discRecord_) {
        GDT_DiscInfo* info = nullptr;
        MMC_SenseData sense{};
        if (GDT_GetDiscInfo(ref_, &info, &sense) == kNoErr && info)
          r.disc = DiscSpace{info->freeBlocks, false};
        std::free(info);
      }
      r.overburnMarginBlocks = 4500;
      return r;
    };
    h.proceed = [this](const SizingOutcome& o) { proceeded_.push_back(o); };
    h.layoutChanged = [this] { ++changed_; };
    return h;
  }

  QMessageBox* visibleAlert() {
    for (QMessageBox* box : window_.findChildren<QMessageBox*>())
      if (box->isVisible()) return box;
    return nullptr;
  }

  quillion::test::TempDir dir_;
  quillion::emu::DeviceEnvironment env_;
  fs::path source_;
  quillion::test::TreePtr tree_;
  std::shared_ptr<quillion::emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  QMainWindow window_;
  quillion::SheetHost sheets_{&window_};
  InlineExecutor executor_;
  std::set<LayoutModel> busy_;
  bool discRecord_ = true;
  int abandoned_ = 0, changed_ = 0;
  std::vector<SizingRoute> routes_;
  std::vector<SizingOutcome> proceeded_;
};

TEST_F(BurnRequest, AMissingFileIsDeletedAndTheTooLargeLayoutAsksToOverburn) {
  ref_ = plugSmallCd();
  fs::remove(source_ / "gone.txt");
  BurnPreparation prep(&window_, sheets_, executor_, hooks());
  ASSERT_TRUE(prep.start(CheckRoutine::Tree, {tree_.get()}));
  EXPECT_EQ(busy_, std::set<LayoutModel>{LayoutModel::Data});

  MissingFilesSheet* sheet = prep.missingFilesSheet();
  ASSERT_NE(sheet, nullptr);
  ASSERT_EQ(sheets_.currentSheet(), sheet);
  ASSERT_EQ(sheet->table()->count(), 1);
  sheet->table()->item(0)->setSelected(true);
  sheet->deleteButton()->click();
  EXPECT_EQ(changed_, 1);
  ASSERT_EQ(sheet->cancelButton()->text(), QStringLiteral("OK"));
  sheet->cancelButton()->click();

  // Sized on the worker, the layout fits only into the margin: the question is up.
  ASSERT_EQ(sheets_.currentSheet(), &prep.overburnPrompt());
  EXPECT_TRUE(proceeded_.empty());
  EXPECT_EQ(busy_, std::set<LayoutModel>{LayoutModel::Data}) << "busy until the request ends";
  prep.overburnPrompt().okButton()->click();

  ASSERT_EQ(proceeded_.size(), 1u);
  EXPECT_TRUE(proceeded_[0].enoughSpace);
  EXPECT_TRUE(proceeded_[0].continueOverburn);
  EXPECT_EQ(abandoned_, 0);
  EXPECT_TRUE(busy_.empty());
  EXPECT_FALSE(prep.running());
  EXPECT_EQ(routes_, std::vector<SizingRoute>{SizingRoute::Data});
  std::uint32_t files = 0;
  ASSERT_EQ(TreeInfo(tree_.get(), nullptr, &files, nullptr, nullptr, true), kNoErr);
  EXPECT_EQ(files, 2u);
}

TEST_F(BurnRequest, DecliningTheOverburnQuestionEndsTheRequestWithoutAnAlert) {
  ref_ = plugSmallCd();
  BurnPreparation prep(&window_, sheets_, executor_, hooks());
  ASSERT_TRUE(prep.start(CheckRoutine::Tree, {tree_.get()}));
  ASSERT_EQ(sheets_.currentSheet(), &prep.overburnPrompt());
  prep.overburnPrompt().cancelButton()->click();
  EXPECT_TRUE(proceeded_.empty());
  EXPECT_EQ(abandoned_, 1);
  EXPECT_TRUE(busy_.empty());
  EXPECT_EQ(visibleAlert(), nullptr);
}

TEST_F(BurnRequest, WithoutADiscRecordTheRequestEndsWithMediaNotFound) {
  ref_ = plugSmallCd();
  discRecord_ = false;  // the device list has no record of the disc
  BurnPreparation prep(&window_, sheets_, executor_, hooks());
  ASSERT_TRUE(prep.start(CheckRoutine::Tree, {tree_.get()}));
  EXPECT_TRUE(proceeded_.empty());
  EXPECT_EQ(abandoned_, 1);
  EXPECT_TRUE(busy_.empty());
  QMessageBox* alert = visibleAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->text(), QStringLiteral("Media Not Found"));
}

// A large layout sizes under the "Processing Data" sheet, which gives way to the question.
TEST_F(BurnRequest, TheOverburnQuestionOfALargeLayoutIsAskedAfterTheWaitSheet) {
  ref_ = plugSmallCd();
  const fs::path many = dir_.path() / "many";
  fs::create_directories(many);
  for (int i = 0; i < 3001; ++i) std::ofstream(many / std::to_string(i)).put('x');
  tree_ = quillion::test::treeFromFolder(many);
  executor_.hold();
  BurnPreparation prep(&window_, sheets_, executor_, hooks());
  ASSERT_TRUE(prep.start(CheckRoutine::Tree, {tree_.get()}));
  ASSERT_EQ(sheets_.currentSheet(), &prep.waitSheet());
  EXPECT_EQ(prep.waitSheet().titleField()->text(), QStringLiteral("Verifying Files"));
  executor_.step();  // the check ends; sizing is queued under its own sheet
  ASSERT_EQ(sheets_.currentSheet(), &prep.waitSheet());
  EXPECT_EQ(prep.waitSheet().titleField()->text(), QStringLiteral("Processing Data"));
  EXPECT_FALSE(prep.waitSheet().cancelButton()->isVisibleTo(&prep.waitSheet()));
  executor_.step();
  ASSERT_EQ(sheets_.currentSheet(), &prep.overburnPrompt());
  prep.overburnPrompt().okButton()->click();
  ASSERT_EQ(proceeded_.size(), 1u);
  EXPECT_TRUE(proceeded_[0].continueOverburn);
  EXPECT_TRUE(busy_.empty());
}

TEST_F(BurnRequest, CancellingTheVerifyingFilesSheetFreesTheModelsAndEndsTheRequest) {
  const fs::path many = dir_.path() / "many";
  fs::create_directories(many);
  for (int i = 0; i < 3001; ++i) std::ofstream(many / std::to_string(i)).put('x');
  quillion::test::TreePtr tree = quillion::test::treeFromFolder(many);
  quillion::test::writeFiles(dir_.path(), {{"track.aif", 4}});
  FS_List* tracks = initList();
  ASSERT_EQ(AppendItem(tracks,
                       initNode((dir_.path() / "track.aif").c_str(), "track.aif", nullptr, false)),
            kNoErr);
  executor_.hold();
  BurnPreparation prep(&window_, sheets_, executor_, hooks());
  ASSERT_TRUE(prep.start(CheckRoutine::AudioThenTree, {tree.get(), tracks}));
  ASSERT_EQ(sheets_.currentSheet(), &prep.waitSheet());
  EXPECT_EQ(prep.waitSheet().progressBar()->maximum(), 3002);
  EXPECT_EQ(busy_, (std::set<LayoutModel>{LayoutModel::Data, LayoutModel::Audio}));
  prep.waitSheet().cancelButton()->click();
  executor_.release();
  EXPECT_EQ(abandoned_, 1);
  EXPECT_TRUE(busy_.empty());
  EXPECT_FALSE(sheets_.hasAttachedSheet());
  EXPECT_TRUE(routes_.empty()) << "no sizing after a cancel";
  EXPECT_EQ(visibleAlert(), nullptr);
  termList(tracks);
}

}  // namespace
