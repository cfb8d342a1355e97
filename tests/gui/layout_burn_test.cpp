// SPDX-License-Identifier: GPL-2.0-or-later
// A data window burns headless with the real engine to an emulated blank CD-R: Burn, the
// options sheet, progress, the result sheet and OK; the disc is read back by isoinfo and
// xorriso. Variants: a write error, a cancel, the ISO image writer. The window is made here
// the way every kind's window is made: a subclass that calls the base's checks, then sets
// up its job around the base's start.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "burn/thread_bridge.h"
#include "burn/verification_log.h"
#include "device_environment.h"
#include "documents/layout_document_kinds.h"
#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "framework/repeating_timer.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/FS.h"
#include "run_support.h"
#include "shell/device_list_manager.h"
#include "shell/error_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/progress_views.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"
#include "support/gui_test_env.h"
#include "support/inline_executor.h"
#include "support/temp_folders.h"
#include "window_burn_fixture.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace std::chrono_literals;
using quillion::emu::DeviceEnvironment;
using quillion::emu::EmulatedDrive;
using quillion::emu::FaultAction;
using quillion::emu::FaultRule;
using quillion::emu::Medium;
using quillion::test::GuiTest;

namespace {

constexpr std::uint8_t kWrite10 = 0x2A;

const std::map<std::string, std::size_t> kLayout = {
    {"readme.txt", 2047},
    {"docs/notes.txt", 70'000},
    {"media/big.dat", 1'500'000},
};

// The data window of this test: the base's checks, then the options sheet for a drive or the
// wait for the sizing of an image; the job of a data layout around the base's start.
class TestDataWinCtlr final : public BaseLayoutWinCtlr {
 public:
  TestDataWinCtlr(const LayoutKind& kind, FS_Tree* tree) : BaseLayoutWinCtlr(kind), tree_(tree) {
    layoutState().fileFormat = 512;  // Joliet, which both outside readers take
  }

  BurnCheck BSburnDisc() override {
    if (BaseLayoutWinCtlr::BSburnDisc() == BurnCheck::kRefused) return BurnCheck::kRefused;
    // The file check and the sizing pass; the options sheet or the burn follows.
    (void)startBurnPreparation(burn::CheckRoutine::Tree, {tree_});
    return BurnCheck::kOk;
  }

  void BSstartDiscBurn(int senderTag) override {
    if (!beginStartDiscBurn(senderTag)) return;
    const BP_JobRef job = jobForBurn(
        layoutJobCode(currentLayoutType(), burnSettings().dstDriveRef, JobPurpose::kBurn));
    if (!job) return;
    EngineStatus status = failSetUp;
    if (status == kNoErr) status = BP_SetDataTree(job, tree_);
    if (status == kNoErr)
      status = BP_SetDataDiscFormat(job, static_cast<std::uint16_t>(formatType()));
    if (status == kNoErr) status = BP_SetISO9660_XA(job, useCDXAFormat());
    if (status == kNoErr) status = applyCommonJobSettings();
    if (status != kNoErr) {
      failBurnStart(status);
      return;
    }
    BaseLayoutWinCtlr::BSstartDiscBurn(senderTag);
    startEngine();
  }

  // A setting the engine refuses, as when the job cannot be made.
  EngineStatus failSetUp = kNoErr;

 private:
  FS_Tree* tree_;
};

// A writer held inside one WRITE until the test lets it go: the run stands still at a known
// point, whatever the scheduler does.
struct WriterGate {
  std::promise<void> reached;
  std::promise<void> released;
  std::shared_future<void> release = released.get_future().share();
  bool open = false;
  FaultRule rule(std::uint32_t call, std::uint8_t opcode = kWrite10) {
    return FaultRule{.opcode = opcode,
                     .fromCall = call,
                     .toCall = call,
                     .action = FaultAction::Hook,
                     .hook = [this] {
                       reached.set_value();
                       release.wait();
                     }};
  }
  void letGo() {
    if (!open) released.set_value();
    open = true;
  }
};

class LayoutBurn : public quillion::test::WindowBurnTest<TestDataWinCtlr> {
 protected:
  LayoutBurn() {
    quillion::test::writeFiles(dir_.path() / "source", kLayout);
    tree_ = quillion::test::treeFromFolder(dir_.path() / "source");
  }

  // The window burns the tree: it goes before the tree does.
  ~LayoutBurn() override { window_.reset(); }

  // A blank CD-R in an emulated recorder; the device list and the window after it.
  void startWithBlankCDR(const std::function<void(EmulatedDrive&)>& faults = {},
                         std::uint32_t capacity = 359'846) {
    drive_ = env_.plug("WRITER", "cd-writer");
    drive_->load(env_.blankDisc("writer", 0x09, capacity));
    if (faults) faults(*drive_);
    env_.start();
    ref_ = DeviceEnvironment::refOf("WRITER");
    (void)MMC_TestUnitReady(ref_, nullptr);  // the load's unit attention
    makeWindow();
  }

  void makeWindow() {
    makeDeviceList();
    const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
    ASSERT_NE(kind, nullptr);
    ASSERT_EQ(kind->layoutType, 1);
    window_ = std::make_unique<TestDataWinCtlr>(*kind, tree_.get());
    window_->setBurnExecutor(&executor_);
    window_->window()->show();
  }

  // Burn pressed, the options sheet's burn-disc button clicked.
  void burnFromOptionsSheet() {
    ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
    BurnOptionsSheet* options = window_->burnOptionSheet();
    ASSERT_EQ(window_->sheets().currentSheet(), options->dialog.get());
    EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveBurning);
    EXPECT_FALSE(window_->driveBar()->layoutDstDriveButton->isEnabled());
    options->BSburnDiscButton->click();
    ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
    EXPECT_EQ(window_->burnSettings().closeDiscMethod, kCloseDisc);
  }

  BP_RuntimeSharedData* shared() const { return window_->runningJob().runTimeSharedData; }

  // The engine's threads have ended (joined by construction); one more poll ends the run.
  void finishRun(std::chrono::nanoseconds poll = 200ms) {
    ASSERT_NE(shared(), nullptr);
    JobThreads::joinAll(shared());
    timers_.advance(poll);
    ASSERT_EQ(window_->sheets().currentSheet(), window_->alertSheet()->dialog.get());
  }

  QString grab(QWidget* w, const QString& name) {
    const QString png = quillion::test::screenshotPath(name);
    EXPECT_TRUE(w->grab().save(png, "PNG")) << png.toStdString();
    EXPECT_TRUE(QFile::exists(png));
    return png;
  }

  bool sheetShows(const QString& text) const {
    QDialog* sheet = window_->sheets().currentSheet();
    if (!sheet) return false;
    for (const QLabel* label : sheet->findChildren<QLabel*>())
      if (label->text().contains(text)) return true;
    return false;
  }

  QString burnLog() const {
    QFile f(logPath_);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

  fs::path dumpDisc(const std::string& name) { return WindowBurnTest::dumpDisc(*drive_, name); }

  // isoinfo sees a Joliet volume; xorriso gives back every file with its bytes.
  void expectDiscHoldsTheLayout(const fs::path& iso) {
    const std::string volume =
        quillion::test::runTool({"isoinfo", "-d", "-i", iso.string()}).output;
    EXPECT_NE(volume.find("CD-ROM is in ISO 9660 format"), std::string::npos) << volume;
    EXPECT_NE(volume.find("Joliet with UCS level"), std::string::npos) << volume;
    const std::string listing =
        quillion::test::runTool({"isoinfo", "-J", "-f", "-i", iso.string()}).output;
    EXPECT_NE(listing.find("/media/big.dat"), std::string::npos) << listing;
    const fs::path out = dir_.path() / ("xorriso-" + iso.stem().string());
    (void)quillion::test::runTool(
        {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
    const auto found = quillion::test::filesBelow(out);
    const auto wanted = quillion::test::filesBelow(dir_.path() / "source");
    ASSERT_EQ(found.size(), wanted.size());
    for (const auto& [name, bytes] : wanted) {
      const auto it = found.find(name);
      ASSERT_NE(it, found.end()) << name;
      EXPECT_TRUE(it->second == bytes) << name;
    }
  }

  quillion::test::TreePtr tree_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

QString gui(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

TEST_F(LayoutBurn, ABlankCDRTakesTheLayoutFromBurnToOk) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  WriterGate gate;
  startWithBlankCDR([&](EmulatedDrive& d) { d.addFault(gate.rule(12)); });
  chooseDestination(ref_);
  EXPECT_EQ(window_->driveBar()->layoutDeviceStatusField->text(),
            gui("Drive Status") + ": " + gui("Drive Ready"));
  burnFromOptionsSheet();
  EXPECT_TRUE(window_->windowIsSmall());
  // The writer stands inside its twelfth WRITE: what the sheet shows now is fixed.
  ASSERT_EQ(gate.reached.get_future().wait_for(120s), std::future_status::ready);
  timers_.advance(200ms);
  ProgressSheet* progress = window_->progressSheet();
  EXPECT_EQ(progress->PSburnModeField->text(), gui("Phase Writing Data"));
  const std::uint32_t written = shared()->writers[0].sectorsWritten;
  const std::uint32_t total = shared()->totalBlocks;
  ASSERT_GT(total, 0u);
  EXPECT_GT(written, 0u);
  EXPECT_EQ(progress->PSburnProgBar->percentage(),
            static_cast<int>(std::uint64_t{written} * 100 / total));
  EXPECT_FALSE(progress->PSburnSpeedField->text().isEmpty());
  grab(progress->dialog.get(), "layout-burn-writing.png");
  gate.letGo();
  finishRun();

  ResultSheet* result = window_->alertSheet();
  static const QRegularExpression done(
      QStringLiteral("^%1 %2: \\d+:\\d\\d$").arg(gui("Burn Complete"), gui("Time Elapsed")));
  EXPECT_TRUE(done.match(result->ASMsgField->text()).hasMatch())
      << result->ASMsgField->text().toStdString();
  EXPECT_EQ(result->ASErrorTitleField->text(), gui("No Errors"));
  EXPECT_TRUE(result->ASOkButton->isEnabled());
  EXPECT_FALSE(result->verifyProgress->isVisibleTo(result->dialog.get()));
  grab(result->dialog.get(), "layout-burn-result.png");
  expectDiscHoldsTheLayout(dumpDisc("good"));

  result->ASOkButton->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_FALSE(window_->windowIsSmall());
  EXPECT_EQ(window_->runningJob().BPRef, 0u) << "the job is deleted";
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
  EXPECT_TRUE(drive_->trayOpen()) << "the disc is ejected";
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(QStringLiteral("Successful"))) << log.toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Error(s) Occurred")));
  EXPECT_FALSE(QFile::exists(window_->runningJob().tempLogFile));
}

TEST_F(LayoutBurn, AWriteErrorIsShownAndLoggedAsAnError) {
  startWithBlankCDR([](EmulatedDrive& d) {
    d.addFault(FaultRule{.opcode = kWrite10,
                         .fromCall = 4,
                         .action = FaultAction::CheckCondition,
                         .key = 0x03,
                         .asc = 0x0C,
                         .ascq = 0x00});
  });
  defaults_.set(QString::fromLatin1(VUKVerifyDataKey), true);
  chooseDestination(ref_);
  burnFromOptionsSheet();
  EXPECT_TRUE(window_->burnOptionSheet()->BSverifyDataSwitch->isChecked());
  finishRun();
  const std::int32_t code = shared()->writers[0].errorCode;
  ASSERT_NE(code, 0);
  QString title, message;
  ErrorManager::returnErrorStrings(code, shared()->writers[0].curSense.load(), &title, &message);
  ResultSheet* result = window_->alertSheet();
  EXPECT_EQ(result->ASMsgField->text(), gui("Burn Error"));
  EXPECT_EQ(result->ASErrorTitleField->text(), title) << "the engine's texts, not a verification";
  EXPECT_EQ(result->ASErrorMsgField->text(), message);
  EXPECT_FALSE(title.isEmpty());
  EXPECT_TRUE(result->ASOkButton->isEnabled());
  EXPECT_FALSE(result->ASLabelSoftwareButton->isVisibleTo(result->dialog.get()));
  grab(result->dialog.get(), "layout-burn-error.png");
  result->ASOkButton->click();
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(QStringLiteral("Error(s) Occurred"))) << log.toStdString();
  EXPECT_TRUE(log.contains(title)) << log.toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Successful")));
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
}

TEST_F(LayoutBurn, CancelShowsCancellingAtOnceAndTheResultOnlyWhenTheThreadsEnded) {
  WriterGate gate;
  startWithBlankCDR([&](EmulatedDrive& d) { d.addFault(gate.rule(6)); });
  chooseDestination(ref_);
  burnFromOptionsSheet();
  ASSERT_EQ(gate.reached.get_future().wait_for(120s), std::future_status::ready);
  window_->progressSheet()->PSburnProgressCancelButton->click();
  EXPECT_EQ(window_->progressSheet()->PSburnModeField->text(), gui("Burn Cancelling"));
  EXPECT_FALSE(window_->isBurnTimerRunning());
  EXPECT_TRUE(window_->isCancelTimerRunning());
  EXPECT_TRUE(shared()->bStop);
  EXPECT_TRUE(shared()->writers[0].bForceQuit);
  // The writer is still inside its WRITE: the cancel poll waits.
  timers_.advance(1s);
  EXPECT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
  gate.letGo();
  finishRun(1s);
  EXPECT_EQ(window_->alertSheet()->ASMsgField->text(), gui("Burn Cancelled"));
  EXPECT_FALSE(window_->isCancelTimerRunning());
  window_->alertSheet()->ASOkButton->click();
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(QStringLiteral("Cancelled"))) << log.toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Successful")));
}

TEST_F(LayoutBurn, TheIsoImageWriterBurnsWithoutTheOptionsSheet) {
  QUILLION_REQUIRE_TOOL("isoinfo");
  QUILLION_REQUIRE_TOOL("xorriso");
  env_.start();
  makeWindow();
  const fs::path iso = dir_.path() / "layout.iso";
  chooseDestination(kISOImageWriterRef);
  window_->setImageWriterPath(kISOImageWriterRef, QString::fromStdString(iso.string()));
  EXPECT_EQ(window_->driveBar()->layoutDeviceInterfaceImage->text(), QStringLiteral("cdimage"));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr) << "an image needs no options";
  timers_.advance(1s);  // the wait for the sizing thread starts the burn
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
  EXPECT_EQ(window_->progressSheet()->PSburnDstDriveField->text(), gui("ISO Image Writer"));
  EXPECT_EQ(window_->progressSheet()->PSrecorderCacheSizeField->text(),
            "(" + gui("Not Available") + ")");
  EXPECT_EQ(window_->progressSheet()->PSburnSpeedField->text(), gui("Max Speed"));
  finishRun();
  EXPECT_TRUE(window_->alertSheet()->ASMsgField->text().startsWith(gui("Burn Complete")));
  window_->alertSheet()->ASOkButton->click();
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  expectDiscHoldsTheLayout(iso);
}

// The engine refuses the run when it cannot have its reader: the window ends the burn at
// once as an error instead of polling a record that never finishes.
TEST_F(LayoutBurn, AThreadThatCannotStartEndsTheBurnAsAnError) {
  env_.start();
  makeWindow();
  chooseDestination(kCDImageWriterRef);
  window_->setImageWriterPath(kCDImageWriterRef,
                              QString::fromStdString((dir_.path() / "x.wlt").string()));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  {
    JobThreads::ScopedStartFailure noThreads(kBP_ReaderThread);
    timers_.advance(1s);
  }
  ASSERT_NE(window_->sheets().currentSheet(), nullptr);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->alertSheet()->dialog.get());
  EXPECT_EQ(window_->alertSheet()->ASMsgField->text(), gui("Burn Error"));
  EXPECT_NE(window_->alertSheet()->ASErrorTitleField->text(), gui("No Errors"));
  EXPECT_FALSE(window_->isBurnTimerRunning());
  window_->alertSheet()->ASOkButton->click();
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  EXPECT_TRUE(burnLog().contains(QStringLiteral("Error(s) Occurred")));
}

// An image file whose folder cannot take it is refused by the sizing pass: an alert, no job.
TEST_F(LayoutBurn, AnImageWithoutRoomIsRefusedBeforeTheBurn) {
  env_.start();
  makeWindow();
  chooseDestination(kCDImageWriterRef);
  window_->setImageWriterPath(kCDImageWriterRef,
                              QString::fromStdString((dir_.path() / "none" / "x.wlt").string()));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_TRUE(sheetShows(gui("Not Enough Space In Destination")));
  timers_.advance(1s);
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  EXPECT_NE(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
}

TEST_F(LayoutBurn, RefusalsLeaveTheDriveAlone) {
  startWithBlankCDR();
  chooseDestination(ref_);
  devices_->updateStatus(ref_, kDriveBusy);
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused);
  ASSERT_NE(window_->sheets().currentSheet(), nullptr) << "the alert";
  EXPECT_TRUE(sheetShows(gui("Device In Use")));
  window_->sheets().endSheet(window_->sheets().currentSheet(), 0);
  devices_->updateStatus(ref_, kDriveReady);
  (void)drive_->unload();
  (void)devices_->refreshDiscStateNow(ref_, true);
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused) << "no medium";
  EXPECT_TRUE(sheetShows(gui("Insert Media")));
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  // A refusal while a sheet is attached shows nothing more.
  QDialog* first = window_->sheets().currentSheet();
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused);
  EXPECT_EQ(window_->sheets().currentSheet(), first);
}

TEST_F(LayoutBurn, CancellingTheOptionsSheetMakesTheDriveReadyAgain) {
  startWithBlankCDR();
  chooseDestination(ref_);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  BurnOptionsSheet* options = window_->burnOptionSheet();
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveBurning);
  // The CD recorder's speeds: one tick per speed, the knob on a speed the drive takes.
  const SpeedModel& speeds = window_->speedModel();
  ASSERT_FALSE(speeds.isEmpty());
  EXPECT_EQ(options->BSspeedSlider->maximum(), speeds.maxPosition());
  EXPECT_EQ(window_->burnSettings().burningSpeed, speeds.speedAt(options->BSspeedSlider->value()));
  EXPECT_EQ(options->BScurSpeedField->text(),
            QString::number(window_->burnSettings().burningSpeed) + "x");
  // Recommended: the fastest speed of a drive that is not on USB, and protection on.
  EXPECT_EQ(window_->burnSettings().burningSpeed, speeds.highest());
  EXPECT_TRUE(options->BSbufferUnderrunSwitch->isChecked());
  EXPECT_FALSE(options->BSbufferUnderrunSwitch->isEnabled());
  EXPECT_FALSE(options->BSsaoSwitch->isEnabled());
  EXPECT_TRUE(options->BSsimulateSwitch->isEnabled()) << "a CD may be simulated";
  // Moving the knob leaves the recommendation; the speed is the knob's.
  options->BSspeedSlider->setValue(0);
  EXPECT_FALSE(options->BSrecommendedSwitch->isChecked());
  EXPECT_EQ(window_->burnSettings().burningSpeed, speeds.lowest());
  options->BSsmartSwitch->setChecked(false);
  EXPECT_TRUE(options->BSsaoSwitch->isEnabled());
  EXPECT_TRUE(options->BSbufferUnderrunSwitch->isEnabled());
  options->BScancelBurnOptionsButton->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
  EXPECT_FALSE(drive_->trayOpen());
}

// Verification after the burn, quick and detailed: the result sheet waits for it, OK only
// afterwards, and the log ends with its verdict.
class LayoutVerify : public LayoutBurn, public ::testing::WithParamInterface<int> {};

TEST_P(LayoutVerify, TheWrittenDiscIsReadBack) {
  defaults_.set(QString::fromLatin1(VUKVerifyDataKey), true);
  defaults_.set(QString::fromLatin1(VUKVerifyDataTypeKey), GetParam());
  startWithBlankCDR();
  chooseDestination(ref_);
  burnFromOptionsSheet();
  EXPECT_TRUE(window_->burnOptionSheet()->BSverifyDataSwitch->isChecked());
  finishRun();
  ResultSheet* result = window_->alertSheet();
  EXPECT_EQ(result->ASErrorTitleField->text(),
            gui(GetParam() == 0 ? "Quick Verify" : "Detailed Verify"));
  EXPECT_FALSE(result->ASOkButton->isEnabled()) << "OK waits for the verification";
  ASSERT_NE(window_->verifier(), nullptr);
  window_->verifier()->join();
  timers_.advance(200ms);
  EXPECT_FALSE(window_->isVerifying());
  EXPECT_EQ(result->ASErrorTitleField->text(),
            burn::verifyVerdictText(burn::VerifyOutcome::Passed));
  EXPECT_TRUE(result->ASOkButton->isEnabled());
  grab(result->dialog.get(),
       GetParam() == 0 ? "layout-verify-quick.png" : "layout-verify-detailed.png");
  result->ASOkButton->click();
  EXPECT_EQ(window_->verifier(), nullptr);
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(GetParam() == 0 ? QStringLiteral("Quick Verification Successful!")
                                           : QStringLiteral("Detailed Verification Successful!")))
      << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Successful")));
  EXPECT_TRUE(drive_->trayOpen());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LayoutVerify, ::testing::Values(0, 1), [](const auto& p) {
  return std::string(p.param == 0 ? "quick" : "detailed");
});

TEST_F(LayoutBurn, AnUnreadableLastBlockFailsTheVerification) {
  defaults_.set(QString::fromLatin1(VUKVerifyDataKey), true);
  defaults_.set(QString::fromLatin1(VUKVerifyDataTypeKey), 0);
  startWithBlankCDR();
  chooseDestination(ref_);
  burnFromOptionsSheet();
  ASSERT_NE(shared(), nullptr);
  JobThreads::joinAll(shared());
  const std::uint32_t last =
      shared()->writers[0].startVerifyLBA + shared()->writers[0].totalVerifyBlks - 1;
  ASSERT_GT(last, 0u);
  // Every read that takes in the last block fails: the reads go in runs from the start.
  FaultRule rule;
  rule.lbaFirst = last >= burn::Verifier::kQuickRun ? last - burn::Verifier::kQuickRun + 1 : 0;
  rule.lbaLast = last;
  rule.key = 0x03;
  rule.asc = 0x11;
  drive_->addFault(rule);
  finishRun();
  ASSERT_NE(window_->verifier(), nullptr);
  window_->verifier()->join();
  timers_.advance(200ms);
  ResultSheet* result = window_->alertSheet();
  EXPECT_EQ(result->ASErrorTitleField->text(), gui("Verify Failed"));
  EXPECT_TRUE(result->ASOkButton->isEnabled());
  result->ASOkButton->click();
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(QStringLiteral("Error(s) Occurred"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Verify Failed"))) << log.toStdString();
}

// A layout larger than the blank disc but within the overburn margin: the question comes on
// the window between sizing and the options sheet.
TEST_F(LayoutBurn, TheOverburnQuestionComesBeforeTheOptions) {
  defaults_.set(QString::fromLatin1(VUKOverburnKey), true);
  defaults_.set(QString::fromLatin1(VUKOverburnMinKey), 1);
  startWithBlankCDR({}, 300);
  chooseDestination(ref_);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  burn::OverburnPrompt& prompt = window_->burnPreparation()->overburnPrompt();
  ASSERT_EQ(window_->sheets().currentSheet(), &prompt);
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveBurning);
  prompt.okButton()->click();
  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
  EXPECT_TRUE(window_->burnSettings().continueOverburn);
  EXPECT_TRUE(window_->burnOptionSheet()->BSsaoSwitch->isChecked())
      << "overburning is written at once";
  EXPECT_FALSE(window_->burnOptionSheet()->BSsaoSwitch->isEnabled());
  window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  // Declined: no options, the drive ready again.
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  ASSERT_EQ(window_->sheets().currentSheet(), &prompt);
  prompt.cancelButton()->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
}

// A file that went away since it was laid out: the missing-files sheet opens before sizing.
TEST_F(LayoutBurn, AMissingFileStopsTheRoadAtItsSheet) {
  startWithBlankCDR();
  chooseDestination(ref_);
  fs::remove(dir_.path() / "source" / "readme.txt");
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  burn::MissingFilesSheet* missing = window_->burnPreparation()->missingFilesSheet();
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(window_->sheets().currentSheet(), missing);
  EXPECT_NE(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
}

// The notifications a window follows: a view the window lacks registers nothing, and only
// this window's views mark its document edited.
TEST_F(LayoutBurn, AMissingViewRegistersNothing) {
  env_.start();
  makeWindow();
  NotificationCenter& center = NotificationCenter::instance();
  const std::size_t before = center.observerCount();
  const LayoutKind* audioKind = findLayoutDocumentKind(QStringLiteral("Audio CD"));
  ASSERT_NE(audioKind, nullptr);
  TestDataWinCtlr audio(*audioKind, tree_.get());
  (void)audio.window();
  const std::size_t audioCount = center.observerCount() - before;
  TestDataWinCtlr data(*findLayoutDocumentKind(QStringLiteral("Data CD")), tree_.get());
  (void)data.window();
  const std::size_t dataCount = center.observerCount() - before - audioCount;
  // The data view's title, drop and added-files notifications set the two apart: in the
  // audio window they have no sender and register nothing. Both follow "no free space" from
  // the one view each has.
  EXPECT_EQ(dataCount, audioCount + 3);
  EXPECT_GE(audioCount, 4u);
  ASSERT_EQ(audio.dataLayoutView(), nullptr);
  // A layout change from the other window's view, or from nothing, edits nothing here.
  center.post(QString::fromLatin1(VUK_LayoutChangedNotification), data.dataLayoutView());
  center.post(QString::fromLatin1(VUK_LayoutChangedNotification), nullptr);
  EXPECT_FALSE(audio.window()->isWindowModified());
  center.post(QString::fromLatin1(VUK_LayoutChangedNotification), audio.audioLayoutView());
  EXPECT_TRUE(audio.window()->isWindowModified());
  // Only the data window offers the ISO image writer.
  EXPECT_EQ(audio.driveBar()->layoutDstDriveButton->findData(kISOImageWriterRef), -1);
  EXPECT_GE(data.driveBar()->layoutDstDriveButton->findData(kISOImageWriterRef), 0);
}

TEST_F(LayoutBurn, TheDriveBarFollowsTheDrive) {
  startWithBlankCDR();
  chooseDestination(ref_);
  DriveBar* bar = window_->driveBar();
  EXPECT_EQ(bar->layoutDeviceInterfaceImage->text(), QStringLiteral("atapi"));
  EXPECT_TRUE(bar->layoutDiscTypeField->text().startsWith(gui("Free") + " "))
      << bar->layoutDiscTypeField->text().toStdString();
  EXPECT_TRUE(bar->layoutEjectButton->isEnabled());
  // A status change announced by anyone redraws the bar.
  devices_->updateStatus(ref_, kDriveBusy);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  EXPECT_EQ(bar->layoutDeviceStatusField->text(), gui("Drive Busy"));
  EXPECT_FALSE(bar->layoutEjectButton->isEnabled());
  EXPECT_FALSE(bar->layoutBurnOptionsButton->isEnabled());
  EXPECT_TRUE(bar->layoutDiscTypeField->text().isEmpty());
  devices_->updateStatus(ref_, kDriveReady);
  // The CD image writer's default file: the document's name in the Documents folder.
  chooseDestination(kCDImageWriterRef);
  EXPECT_TRUE(window_->cdImageWriterPath().endsWith(QStringLiteral(".wlt")));
  EXPECT_TRUE(window_->cdImageWriterPath().startsWith(ZEBUtils::getUserDocumentDirectoryPath()));
  EXPECT_FALSE(bar->layoutEjectButton->isVisibleTo(window_->window()));
  EXPECT_TRUE(bar->layoutChangeImageButton->isVisibleTo(window_->window()));
  // Eject opens the tray of the drive chosen.
  chooseDestination(ref_);
  bar->layoutEjectButton->click();
  EXPECT_TRUE(drive_->trayOpen());
}

// A burn start that fails before the engine runs: the error is shown, the job goes, the
// drive is ready and the destination pop-up enabled again.
TEST_F(LayoutBurn, AFailedBurnStartGivesTheDriveBack) {
  startWithBlankCDR();
  chooseDestination(ref_);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  window_->failSetUp = kErrOutOfMemory;
  window_->burnOptionSheet()->BSburnDiscButton->click();
  QString title, message;
  ErrorManager::returnErrorStrings(kErrOutOfMemory, MMC_SenseData{}, &title, &message);
  ASSERT_FALSE(title.isEmpty());
  EXPECT_TRUE(sheetShows(title));
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
  EXPECT_FALSE(window_->isBurnTimerRunning());
}

// Waiting for a blank disc: no disc asks for one; a blank disc opens the options sheet.
TEST_F(LayoutBurn, TheWaitForABlankDiscEndsWithTheOptions) {
  startWithBlankCDR();
  chooseDestination(ref_);
  auto blank = drive_->unload();
  ASSERT_TRUE(blank.has_value());
  window_->startWaitForDriveTimer();
  timers_.advance(1s);
  EXPECT_EQ(window_->waitSheet()->PSWaitTextField->text(), gui("Waiting For Blank Disc"));
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  drive_->load(std::move(*blank));
  (void)MMC_TestUnitReady(ref_, nullptr);
  timers_.advance(1s);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveBurning);
  window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
  // The timer stopped with the blank disc.
  timers_.advance(1s);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
}

// Cancelling the verification: the sheet says so at once and OK is offered; the log ends
// as cancelled once the verifier's thread has stopped.
TEST_F(LayoutBurn, ACancelledVerificationIsNeverAPass) {
  defaults_.set(QString::fromLatin1(VUKVerifyDataKey), true);
  defaults_.set(QString::fromLatin1(VUKVerifyDataTypeKey), 0);
  WriterGate reader;  // holds the verifier inside its first read
  startWithBlankCDR([&](EmulatedDrive& d) { d.addFault(reader.rule(1, 0xBE)); });
  chooseDestination(ref_);
  burnFromOptionsSheet();
  finishRun();
  ASSERT_EQ(reader.reached.get_future().wait_for(120s), std::future_status::ready);
  ResultSheet* result = window_->alertSheet();
  EXPECT_FALSE(result->ASOkButton->isEnabled());
  result->verifyCancelButton->click();
  EXPECT_EQ(result->ASErrorTitleField->text(), gui("Verify Cancelled"));
  EXPECT_TRUE(result->ASOkButton->isEnabled());
  reader.letGo();
  result->ASOkButton->click();
  EXPECT_EQ(window_->verifier(), nullptr);
  const QString log = burnLog();
  EXPECT_TRUE(log.contains(QStringLiteral("Cancelled"))) << log.toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Verification Successful"))) << log.toStdString();
}

}  // namespace
