// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning's controls and sheets in a window of the data window's shape: the switch and
// its disc sizes, the formats that cannot span, the large-files sheet for a size and for a
// drop. The burn over several discs is tested through the data window itself
// (data_window_span_test.cpp).
#include "layout/disc_spanning.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "burn/thread_bridge.h"
#include "device_environment.h"
#include "documents/layout_document_kinds.h"
#include "framework/cfmt.h"
#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "framework/repeating_timer.h"
#include "framework/save_panel.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/FS.h"
#include "run_support.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/progress_views.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"
#include "support/gui_test_env.h"
#include "support/scripted_log_panel.h"
#include "support/inline_executor.h"
#include "support/temp_folders.h"
#include "window_burn_fixture.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace std::chrono_literals;
using quillion::emu::DeviceEnvironment;
using quillion::emu::EmulatedDrive;
using quillion::emu::Medium;
using quillion::test::GuiTest;
using quillion::test::ScriptedLogPanel;

namespace disc_spanning_test {

constexpr std::uint16_t kCDR = 0x09;
// A disc of this many blocks takes about 170 blocks of files after the file system's share
// as the estimate reckons it (a blank emulated CD-R of this size reports some more free
// blocks, not enough for two of the larger files): the layout below needs three.
constexpr std::uint32_t kSmallDisc = 1200;
constexpr std::uint32_t kTinyDisc = 600;  // takes none of the larger files

const std::map<std::string, std::size_t> kLayout = {
    {"alpha/one.bin", 168 * 2048},
    {"alpha/beta/two.bin", 165 * 2048 + 17},
    {"three.bin", 163 * 2048},
    {"notes/read me.txt", 5000},
    {"notes/\xC3\xA9t\xC3\xA9.txt", 777},
    {"z.txt", 1},
};

const std::vector<span::DiscSize> kSizes = {
    {"tiny", kTinyDisc},
    {"small", kSmallDisc},
};

// The data window of this test: the base's checks, spanning's refusal and its part for
// the disc, the file check and sizing; the job around the base's start.
class SpanningDataWindow final : public BaseLayoutWinCtlr {
 public:
  SpanningDataWindow(const LayoutKind& kind, FS_Tree* tree) : BaseLayoutWinCtlr(kind), tree_(tree) {
    layoutState().fileFormat = 512;  // Joliet, which both outside readers take
    span_ = std::make_unique<DiscSpanning>(window(), sheets(), hooks(), kSizes);
    span_->awake();
  }
  ~SpanningDataWindow() override { abandonJob(); }

  DiscSpanning& span() { return *span_; }
  int modelSpanningCalls = 0;
  bool modelSpanning = false;

  BurnCheck BSburnDisc() override {
    if (BaseLayoutWinCtlr::BSburnDisc() == BurnCheck::kRefused) return BurnCheck::kRefused;
    burnTree_ = tree_;
    if (span_->isOn()) {
      const std::uint32_t free = discInfo() ? discInfo()->freeBlocks : 0;
      if (!span_->prepareSpannedBurn(free)) return BurnCheck::kRefused;
      burnTree_ = span_->treeForDisc(free);
    }
    (void)startBurnPreparation(burn::CheckRoutine::Tree, {burnTree_});
    return BurnCheck::kOk;
  }

  void BSstartDiscBurn(int senderTag) override {
    if (!beginStartDiscBurn(senderTag)) return;
    if (span_->isOn() && span_->discID() > 1) burnTree_ = span_->currentPart();
    const BP_JobRef job = jobForBurn(
        layoutJobCode(currentLayoutType(), burnSettings().dstDriveRef, JobPurpose::kBurn));
    if (!job) return;
    EngineStatus status = kErrBadArgument;
    if (burnTree_) status = BP_SetDataTree(job, burnTree_);
    if (status == kNoErr)
      status = BP_SetDataDiscFormat(job, static_cast<std::uint16_t>(formatType()));
    if (status == kNoErr) status = applyCommonJobSettings();
    if (status != kNoErr) {
      failBurnStart(status);
      return;
    }
    BaseLayoutWinCtlr::BSstartDiscBurn(senderTag);
    startEngine();
  }

  void burnCompleted(int result) override {
    if (span_->burnCompleted(result == kResultCompleted)) return;
    BaseLayoutWinCtlr::burnCompleted(result);
  }

 private:
  void driveStatus(std::uint32_t ref, std::uint16_t status) {
    if (isRealDriveRef(ref)) devices()->updateStatus(ref, status);
    NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  }

  DiscSpanHooks hooks() {
    DiscSpanHooks h;
    h.layoutTree = [this] { return tree_; };
    h.formatType = [this] { return formatType(); };
    h.refreshOutline = [] {};
    h.setModelSpanning = [this](bool on) {
      ++modelSpanningCalls;
      modelSpanning = on;
    };
    h.leaveImageWriter = [this] {
      driveBar()->layoutDstDriveButton->setCurrentIndex(0);
      LayoutUpdateDrive();
    };
    h.destinationDisc = [this]() -> std::optional<SpanDisc> {
      refreshDiscInfo();
      if (!discInfo()) return std::nullopt;
      return SpanDisc{discInfo()->discStatus, discInfo()->freeBlocks};
    };
    h.destinationRef = [this] { return burnSettings().dstDriveRef; };
    h.setDriveStatus = [this](std::uint32_t ref, std::uint16_t s) { driveStatus(ref, s); };
    h.endRefusedBurn = [this] {
      driveStatus(burnSettings().dstDriveRef, kDriveReady);
      driveBar()->layoutDstDriveButton->setEnabled(true);
    };
    h.finishPart = [this] { finishBurnPart(kResultCompleted); };
    h.startNextBurn = [this] { BSstartDiscBurn(-1); };
    h.eject = [](std::uint32_t ref) { (void)GDT_Eject(ref, nullptr, true); };
    h.unmountAndEject = [](std::uint32_t ref) { (void)ZEBUtils::unmountDiskWithRef(ref, true); };
    return h;
  }

  FS_Tree* tree_;
  FS_Tree* burnTree_ = nullptr;
  std::unique_ptr<DiscSpanning> span_;
};

QString gui(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

FS_Node* childNamed(FS_Node* folder, const char* title) {
  for (std::uint32_t i = 0; folder && i < GetNumberOfChildren(folder); ++i)
    if (FS_Node* c = GetChildNodeAtIndex(folder, i); std::string(GetTitleNode(c)) == title)
      return c;
  return nullptr;
}

class DiscSpanningWindow : public quillion::test::WindowBurnTest<SpanningDataWindow> {
 protected:
  DiscSpanningWindow() {
    quillion::test::writeFiles(dir_.path() / "source", kLayout);
    tree_ = quillion::test::treeFromFolder(dir_.path() / "source");
    EXPECT_EQ(SetTreetitle(tree_.get(), "Span"), kNoErr);
  }

  // The window goes before the tree and the log panel it was given.
  ~DiscSpanningWindow() override { window_.reset(); }

  void start() {
    drive_ = env_.plug("WRITER", "cd-writer");
    drive_->load(blank("disc1", kSmallDisc));
    env_.start();
    ref_ = DeviceEnvironment::refOf("WRITER");
    (void)MMC_TestUnitReady(ref_, nullptr);  // the load's unit attention
    makeDeviceList();
    const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
    ASSERT_NE(kind, nullptr);
    window_ = std::make_unique<SpanningDataWindow>(*kind, tree_.get());
    window_->setBurnExecutor(&executor_);
    window_->span().setSavePanel(&logPanel_);
    window_->window()->show();
    chooseDestination(ref_);
  }

  Medium blank(const std::string& name, std::uint32_t capacity) {
    return Medium::blank(env_.folder() / (name + ".medium"), kCDR, capacity);
  }

  DiscSpanControls& controls() { return window_->span().controls(); }

  quillion::test::TreePtr tree_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  ScriptedLogPanel logPanel_;
};

TEST_F(DiscSpanningWindow, SwitchingOnPicksTheFirstSizeThatHoldsTheBiggestFile) {
  start();
  EXPECT_FALSE(controls().discSpanList->isEnabled());
  EXPECT_EQ(selectedDiscSize(controls().discSpanList), kTinyDisc);
  controls().discSpanSwitch->click();
  EXPECT_TRUE(controls().discSpanSwitch->isChecked());
  EXPECT_EQ(selectedDiscSize(controls().discSpanList), kSmallDisc);
  EXPECT_EQ(window_->span().curSelectedDiscSize(), kSmallDisc);
  EXPECT_EQ(window_->span().lastSelectedDiscSize(), kSmallDisc);
  EXPECT_TRUE(controls().discSpanList->isEnabled());
  EXPECT_EQ(controls().discSpanNumber->text(), QStringLiteral("3"));
  EXPECT_EQ(controls().discSpanText->text(), gui("Disc(s)"));
  EXPECT_TRUE(window_->modelSpanning);
  EXPECT_EQ(window_->span().biggestFileSize(), 168u);

  // The tiny size is refused: the warning lists the files and the size goes back.
  const std::uint32_t nodes = NumNodes(tree_.get());
  controls().discSpanList->setCurrentIndex(0);
  window_->span().changeDiscSpanList();
  LargeFilesSheet* warning = window_->span().warningPanel();
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  EXPECT_EQ(warning->warningTextField()->text(), gui("Remove Large Files"));
  EXPECT_FALSE(warning->warningOKButton()->isVisibleTo(warning));
  EXPECT_TRUE(warning->warningContinueButton()->isVisibleTo(warning));
  EXPECT_EQ(warning->table()->rowCount(), static_cast<int>(kLayout.size()));
  EXPECT_EQ(window_->span().curSelectedDiscSize(), kSmallDisc);
  EXPECT_FALSE(window_->span().discSizeItemEnabled(kTinyDisc));
  EXPECT_TRUE(window_->span().discSizeItemEnabled(kSmallDisc));
  // As the list opens, the size that cannot hold the layout is disabled.
  controls().discSpanList->showPopup();
  controls().discSpanList->hidePopup();
  const auto* items = qobject_cast<QStandardItemModel*>(controls().discSpanList->model());
  ASSERT_NE(items, nullptr);
  EXPECT_FALSE(items->item(0)->isEnabled());
  EXPECT_TRUE(items->item(1)->isEnabled());
  EXPECT_FALSE(window_->span().destinationItemEnabled(kISOImageWriterRef));
  EXPECT_FALSE(window_->span().formatItemEnabled(64));
  warning->warningCancelButton()->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_EQ(selectedDiscSize(controls().discSpanList), kSmallDisc);
  EXPECT_EQ(NumNodes(tree_.get()), nodes) << "Cancel removes nothing that was accepted";
}

TEST_F(DiscSpanningWindow, ALayoutNoSizeHoldsTurnsTheSwitchOffWithFilesWontFit) {
  for (const auto& [path, bytes] : std::map<std::string, std::size_t>{{"huge.bin", 400 * 2048}})
    quillion::test::writeFiles(dir_.path() / "more", {{path, bytes}});
  FS_Node* huge = initNode((dir_.path() / "more" / "huge.bin").c_str(), "huge.bin", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree_.get(), huge, GetRootTreeNode(tree_.get())), kNoErr);
  start();
  controls().discSpanSwitch->click();
  EXPECT_FALSE(controls().discSpanSwitch->isChecked());
  EXPECT_FALSE(controls().discSpanList->isEnabled());
  EXPECT_EQ(selectedDiscSize(controls().discSpanList), kTinyDisc) << "the earlier selection";
  EXPECT_TRUE(controls().discSpanNumber->text().isEmpty());
  LargeFilesSheet* warning = window_->span().warningPanel();
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  EXPECT_EQ(warning->warningTextField()->text(), gui("Files won't fit"));
  EXPECT_TRUE(warning->warningOKButton()->isVisibleTo(warning));
  EXPECT_FALSE(warning->warningCancelButton()->isVisibleTo(warning));
  EXPECT_FALSE(window_->modelSpanning);
  warning->warningOKButton()->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
}

TEST_F(DiscSpanningWindow, ADropTooLargeForOneDiscIsUndoneOrItsLargeFilesRemoved) {
  start();
  controls().discSpanSwitch->click();
  ASSERT_TRUE(controls().discSpanSwitch->isChecked());
  quillion::test::writeFiles(dir_.path() / "drop", {{"big.bin", 300 * 2048}, {"ok.txt", 10}});
  const auto drop = [&] {
    FS_Node* folder = initNode((dir_.path() / "drop").c_str(), "drop", nullptr, false);
    ASSERT_NE(folder, nullptr);
    for (const char* name : {"big.bin", "ok.txt"})
      (void)initNode((dir_.path() / "drop" / name).c_str(), name, folder, false);
    ASSERT_EQ(AddTreeNode(tree_.get(), folder, GetRootTreeNode(tree_.get())), kNoErr);
    // The model flags what a drop adds while spanning is on.
    SetTempNode(folder, true);
    for (std::uint32_t i = 0; i < GetNumberOfChildren(folder); ++i)
      SetTempNode(GetChildNodeAtIndex(folder, i), true);
    EXPECT_TRUE(window_->span().filesDroppedInLayout());
  };
  drop();
  LargeFilesSheet* warning = window_->span().warningPanel();
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  ASSERT_EQ(warning->table()->rowCount(), 1);
  EXPECT_EQ(warning->table()->index(0, LargeFilesTable::kFileNameColumn).data().toString(),
            QStringLiteral("big.bin"));
  EXPECT_EQ(warning->table()->index(0, LargeFilesTable::kSizeColumn).data().toString(),
            ZEBUtils::bytesToString(300 * 2048));
  warning->warningCancelButton()->click();
  EXPECT_EQ(childNamed(GetRootTreeNode(tree_.get()), "drop"), nullptr) << "the drop is undone";
  EXPECT_EQ(controls().discSpanNumber->text(), QStringLiteral("3"));

  drop();
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  warning->warningContinueButton()->click();
  FS_Node* kept = childNamed(GetRootTreeNode(tree_.get()), "drop");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(childNamed(kept, "big.bin"), nullptr);
  ASSERT_NE(childNamed(kept, "ok.txt"), nullptr);
  EXPECT_FALSE(IsTempNode(childNamed(kept, "ok.txt"))) << "what is left of the drop is kept";
  EXPECT_TRUE(window_->span().largeFiles().empty());
}

TEST_F(DiscSpanningWindow, FormatsThatCannotSpanTurnTheSwitchOffAndDisableIt) {
  start();
  for (unsigned whole : {1u, 257u, 513u, 64u}) {
    window_->layoutState().fileFormat = 512;
    window_->span().toggleFormat();
    if (!controls().discSpanSwitch->isChecked()) controls().discSpanSwitch->click();
    ASSERT_TRUE(controls().discSpanSwitch->isChecked());
    EXPECT_FALSE(window_->span().formatItemEnabled(whole));
    window_->layoutState().fileFormat = static_cast<int>(whole);
    window_->span().toggleFormat();
    EXPECT_FALSE(controls().discSpanSwitch->isChecked()) << whole;
    EXPECT_FALSE(controls().discSpanSwitch->isEnabled()) << whole;
    EXPECT_FALSE(controls().discSpanList->isEnabled()) << whole;
    EXPECT_TRUE(controls().discSpanNumber->text().isEmpty()) << whole;
    EXPECT_FALSE(window_->modelSpanning) << whole;
  }
  window_->layoutState().fileFormat = 16;
  window_->span().toggleFormat();
  EXPECT_TRUE(controls().discSpanSwitch->isEnabled());
  window_->span().disableForVideoTS();
  EXPECT_FALSE(controls().discSpanSwitch->isVisibleTo(window_->window()));
  EXPECT_FALSE(controls().discSpanList->isEnabled());
}

TEST_F(DiscSpanningWindow, SwitchingOnLeavesAnImageWriterForTheFirstDestination) {
  start();
  QComboBox* popup = window_->driveBar()->layoutDstDriveButton;
  popup->setCurrentIndex(popup->findData(kISOImageWriterRef));
  ASSERT_EQ(window_->burnSettings().dstDriveRef, kISOImageWriterRef);
  controls().discSpanSwitch->click();
  ASSERT_TRUE(controls().discSpanSwitch->isChecked());
  EXPECT_EQ(popup->currentIndex(), 0);
  EXPECT_NE(window_->burnSettings().dstDriveRef, kISOImageWriterRef);
  EXPECT_TRUE(window_->span().destinationItemEnabled(ref_));
  EXPECT_FALSE(window_->span().destinationItemEnabled(kCDImageWriterRef));
}

}  // namespace disc_spanning_test
