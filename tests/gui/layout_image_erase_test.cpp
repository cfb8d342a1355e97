// SPDX-License-Identifier: GPL-2.0-or-later
// The drive bar's image and erase buttons of a layout window, headless: Change Image for both
// image writers through a scripted save panel, the temporary image of a copy saved or
// deleted (and nothing outside the temporary folders deleted), and the shared erase panel
// blanking a rewritable CD in an emulated recorder, read back through the engine's disc
// query.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "burn/layout_codes.h"
#include "device_environment.h"
#include "documents/layout_document_kinds.h"
#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/save_panel.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/GDT.h"
#include "shell/device_list_manager.h"
#include "shell/erase_controller.h"
#include "shell/preference_keys.h"
#include "shell/temp_folder_mgr.h"
#include "support/gui_test_env.h"
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

namespace image_erase_test {

// Answers every save panel at once with the scripted choice and keeps what it was asked.
class ScriptedSavePanel final : public SavePanel {
 public:
  bool beginSheet(SheetHost&, const SavePanelRequest& request,
                  std::function<void(int, const QString&)> didEnd) override {
    asked.push_back(request);
    didEnd(answer, answer == kOK ? path : QString());
    return true;
  }
  std::vector<SavePanelRequest> asked;
  int answer = kOK;
  QString path;
};

QString documentsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString tilde(const QString& path) {
  return QLatin1Char('~') + path.mid(QDir::homePath().size());
}

void writeText(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LayoutImageErase : public GuiTest {
 protected:
  LayoutImageErase() {
    registerPreferenceDefaults(defaults_);
    temp_ = quillion::test::makeTestTempFolders(defaults_, volume_);
    QDir().mkpath(documentsFolder());
  }

  ~LayoutImageErase() override {
    window_.reset();
    layoutServices() = LayoutServices{};
    devices_.reset();
    env_.stop();
  }

  void makeWindow(const char* kindName) {
    env_.start();
    devices_ = std::make_unique<DeviceListManager>(
        QString(), [](QObject*, std::function<void()> fn) { fn(); });
    devices_->refreshDiscStateNow(0, true);
    layoutServices() = LayoutServices{devices_.get(), &defaults_,
                                      temp_.get(),    [] { return BurnLogFacts::fromSystem(0); },
                                      QString(),      {}};
    const LayoutKind* kind = findLayoutDocumentKind(QString::fromLatin1(kindName));
    ASSERT_NE(kind, nullptr);
    window_ = std::make_unique<BaseLayoutWinCtlr>(*kind);
    window_->setSavePanel(&panel_);
    window_->window()->show();
  }

  void chooseDestination(std::uint32_t ref) {
    quillion::test::chooseDestinationIn(*window_, ref);
  }

  QString imagePath(std::uint32_t writer) const {
    return writer == kCDImageWriterRef ? window_->cdImageWriterPath()
                                       : window_->ISOImageWriterPath();
  }

  // A file in this process's temporary folder, as a copy leaves its image.
  QString tempImage() {
    const QString path = temp_->getTempFilePathBySize(16, QStringLiteral("copy.wlt"));
    EXPECT_TRUE(path.contains(QStringLiteral("/ZEBVUK_TEMPDIR_1456AHG/"))) << path.toStdString();
    writeText(path, "image");
    return path;
  }

  Defaults defaults_{quillion::test::makeTempDir("image-settings") + "/quillion.conf"};
  QString volume_ = quillion::test::makeTempDir("image-volume");
  QString outside_ = quillion::test::makeTempDir("image-outside");
  std::unique_ptr<TempFolderMgr> temp_;
  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::unique_ptr<DeviceListManager> devices_;
  ScriptedSavePanel panel_;
  std::unique_ptr<BaseLayoutWinCtlr> window_;
};

}  // namespace image_erase_test

using namespace image_erase_test;

struct WriterCase {
  std::uint32_t writer;
  const char* type;
};

class ChangeImage : public LayoutImageErase, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(ChangeImage, TheChosenFileReplacesThePathAndAnOldFileOfThatNameGoes) {
  const WriterCase c = GetParam();
  makeWindow("Data CD");
  chooseDestination(c.writer);
  const QString initial = imagePath(c.writer);
  EXPECT_EQ(initial, documentsFolder() + "/Untitled." + c.type);
  EXPECT_FALSE(window_->driveBar()->layoutChangeImageButton->isHidden());

  const QString chosen = documentsFolder() + "/chosen-" + c.type + "." + c.type;
  writeText(chosen, "an older image");
  panel_.path = chosen;
  window_->driveBar()->layoutChangeImageButton->click();

  ASSERT_EQ(panel_.asked.size(), 1u);
  EXPECT_EQ(panel_.asked[0].requiredType, QString::fromLatin1(c.type));
  // It starts where the current file is, with its name.
  EXPECT_EQ(panel_.asked[0].directory, documentsFolder());
  EXPECT_EQ(panel_.asked[0].fileName, QStringLiteral("Untitled.") + c.type);
  EXPECT_EQ(imagePath(c.writer), chosen);
  EXPECT_FALSE(QFileInfo::exists(chosen)) << "the old file of that name is removed";
  EXPECT_EQ(window_->driveBar()->layoutDiscTypeField->text(), tilde(chosen));
  EXPECT_TRUE(window_->driveBar()->layoutDeviceStatusField->text().contains("Ready"));

  // Cancel leaves the path and the file alone.
  writeText(chosen, "kept");
  panel_.answer = SavePanel::kCancel;
  window_->LayoutChangeImage();
  ASSERT_EQ(panel_.asked.size(), 2u);
  EXPECT_EQ(panel_.asked[1].fileName, QFileInfo(chosen).fileName());
  EXPECT_EQ(imagePath(c.writer), chosen);
  EXPECT_EQ(readText(chosen), QByteArray("kept"));
  EXPECT_EQ(window_->driveBar()->layoutDiscTypeField->text(), tilde(chosen));
}

INSTANTIATE_TEST_SUITE_P(Writers, ChangeImage,
                         ::testing::Values(WriterCase{kCDImageWriterRef, "wlt"},
                                           WriterCase{kISOImageWriterRef, "iso"}),
                         [](const auto& p) { return std::string(p.param.type); });

TEST_F(LayoutImageErase, AWriterWithoutAFileStartsInTheDocumentsFolder) {
  makeWindow("Data CD");
  chooseDestination(kISOImageWriterRef);
  window_->setImageWriterPath(kISOImageWriterRef, QString());
  panel_.answer = SavePanel::kCancel;
  window_->LayoutChangeImage();
  ASSERT_EQ(panel_.asked.size(), 1u);
  EXPECT_EQ(QDir::cleanPath(panel_.asked[0].directory), documentsFolder());
  EXPECT_EQ(panel_.asked[0].fileName, QStringLiteral("VUK_CDImage.iso"));
  EXPECT_EQ(window_->driveBar()->layoutDiscTypeField->text(),
            QStringLiteral("Choose an image file"));
}

TEST_F(LayoutImageErase, TheTemporaryImageMovesToTheChosenPlaceOnOK) {
  makeWindow("CD Copy");
  const QString temp = tempImage();
  const QString chosen = outside_ + "/saved.wlt";
  writeText(chosen, "old");
  panel_.path = chosen;
  window_->promptSaveTempImage(temp);
  ASSERT_EQ(panel_.asked.size(), 1u);
  EXPECT_EQ(panel_.asked[0].requiredType, QStringLiteral("wlt"));
  EXPECT_EQ(panel_.asked[0].fileName, QStringLiteral("VUK_CDImage.wlt"));
  EXPECT_EQ(panel_.asked[0].prompt, QStringLiteral("Save Image"));
  EXPECT_FALSE(QFileInfo::exists(temp));
  EXPECT_EQ(readText(chosen), QByteArray("image"));

  window_->promptSaveTempImage(QString());
  EXPECT_EQ(panel_.asked.size(), 1u) << "nothing is asked without an image";
}

TEST_F(LayoutImageErase, AMoveThatFailsIsReportedAndKeepsTheTemporaryImage) {
  makeWindow("CD Copy");
  const QString temp = tempImage();
  panel_.path = outside_ + "/no such folder/saved.wlt";
  window_->promptSaveTempImage(temp);
  EXPECT_EQ(readText(temp), QByteArray("image"));
  EXPECT_NE(qobject_cast<QMessageBox*>(window_->sheets().currentSheet()), nullptr)
      << "the failure is shown, not passed over";
}

TEST_F(LayoutImageErase, CancelInACopyWindowDeletesOnlyTheTemporaryImage) {
  makeWindow("CD Copy");
  panel_.answer = SavePanel::kCancel;
  const QString temp = tempImage();
  window_->promptSaveTempImage(temp);
  EXPECT_FALSE(QFileInfo::exists(temp));

  // Paths that name the temporary folder without lying in it survive.
  const QString tempFolder = QFileInfo(temp).absolutePath();
  QDir(outside_).mkpath("ZEBVUK_TEMPDIR_1456AHG");
  const QString lookalike = outside_ + "/ZEBVUK_TEMPDIR_1456AHG/copy.wlt";  // not a temp folder
  const QString named = outside_ + "/ZEBVUK_TEMPDIR_1456AHG.wlt";
  const QString escaping = outside_ + "/victim.wlt";
  const QString dotted = tempFolder + "/" + QDir(tempFolder).relativeFilePath(escaping);
  QFile::remove(tempFolder + "/link");
  ASSERT_TRUE(QFile::link(outside_, tempFolder + "/link"));
  const QString throughLink = tempFolder + "/link/victim.wlt";
  for (const QString& p : {lookalike, named, escaping}) writeText(p, "keep");
  for (const QString& p : {lookalike, named, escaping, dotted, throughLink}) {
    SCOPED_TRACE(p.toStdString());
    window_->promptSaveTempImage(p);
  }
  for (const QString& p : {lookalike, named, escaping})
    EXPECT_EQ(readText(p), QByteArray("keep")) << p.toStdString();
}

TEST_F(LayoutImageErase, CancelOutsideACopyWindowDeletesNothing) {
  makeWindow("Data CD");
  panel_.answer = SavePanel::kCancel;
  const QString temp = tempImage();
  window_->promptSaveTempImage(temp);
  EXPECT_EQ(readText(temp), QByteArray("image"));
}

// ---- erase ----

class EraseFromWindow : public LayoutImageErase {
 protected:
  // A rewritable CD holding a small ISO 9660 volume, in an emulated recorder.
  void startWithWrittenCDRW(std::optional<FaultRule> blankFault = std::nullopt) {
    startWithWrittenDisc(0x0A, "dvd-writer", std::move(blankFault));
  }

  // A rewritable disc of `profile` holding the volume, in a recorder of `preset`.
  void startWithWrittenDisc(std::uint16_t profile, const char* preset,
                            std::optional<FaultRule> blankFault = std::nullopt) {
    const fs::path dir = quillion::test::makeTempDir("erase-disc").toStdString();
    fs::create_directories(dir / "tree");
    std::ofstream(dir / "tree" / "A.TXT") << std::string(300'000, 'a');
    ASSERT_EQ(quillion::test::runTool({"genisoimage", "-quiet", "-V", "ERASE", "-o",
                                       (dir / "disc.iso").string(), (dir / "tree").string()})
                  .exitCode,
              0);
    auto disc = Medium::fromIso(dir / "disc.iso", env_.folder() / "rw.medium", profile);
    ASSERT_TRUE(disc);
    drive_ = env_.plug("ERASER", preset);
    drive_->load(std::move(*disc));
    if (blankFault) drive_->addFault(*blankFault);
    drive_->addFault(
        FaultRule{.opcode = std::uint8_t{0xA1}, .action = FaultAction::Hook, .hook = [this] {
                    blankReached_.set_value();
                    blankRelease_.wait();
                  }});
    makeWindow("Data CD");
    ref_ = DeviceEnvironment::refOf("ERASER");
    (void)MMC_TestUnitReady(ref_, nullptr);
    devices_->refreshDiscStateNow(ref_, true);
    chooseDestination(ref_);
  }

  std::uint32_t ref_ = 0;
  std::promise<void> blankReached_;
  std::promise<void> released_;
  std::shared_future<void> blankRelease_ = released_.get_future().share();
};

TEST_F(EraseFromWindow, ThePanelBlanksTheDiscAndTheDriveBarFollows) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  startWithWrittenCDRW();
  DriveBar& bar = *window_->driveBar();
  EXPECT_TRUE(bar.layoutDiscTypeField->text().startsWith("Data Disc"))
      << bar.layoutDiscTypeField->text().toStdString();
  ASSERT_FALSE(bar.layoutEraseButton->isHidden());
  ASSERT_TRUE(bar.layoutEraseButton->isEnabled());

  bar.layoutEraseButton->click();
  const auto eraser = layoutServices().eraser;
  ASSERT_TRUE(eraser);
  EXPECT_EQ(eraser->deviceRef(), ref_);
  QWidget* panel = eraser->window();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->pos(),
            window_->window()->frameGeometry().topLeft() + BaseLayoutWinCtlr::kErasePanelOffset);
  EXPECT_EQ(eraser->driveField()->text(), devices_->titleOfDrive(ref_, true));

  eraser->quickSwitch()->setChecked(true);
  eraser->eraseButton()->click();
  EXPECT_FALSE(eraser->setDeviceRef(0)) << "the drive stays chosen while it erases";
  // The drive is held inside its BLANK command: the window shows it busy meanwhile.
  ASSERT_EQ(blankReached_.get_future().wait_for(120s), std::future_status::ready);
  EXPECT_TRUE(eraser->isErasing());
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveErasing);
  EXPECT_EQ(bar.layoutDeviceStatusField->text(), Msg::gui(QStringLiteral("Drive Busy")));
  EXPECT_FALSE(bar.layoutEraseButton->isEnabled());
  EXPECT_FALSE(eraser->eraseButton()->isEnabled());
  released_.set_value();

  ASSERT_TRUE(QTest::qWaitFor([&] { return !eraser->isErasing(); }, 120'000));
  ASSERT_EQ(eraser->lastResult(), std::optional<EngineStatus>(kNoErr));
  EXPECT_EQ(eraser->progressBar()->value(), 100);
  EXPECT_EQ(eraser->statusField()->text(), QStringLiteral("The disc was erased."));
  // The disc reads blank, asked of the drive afresh.
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  ASSERT_EQ(GDT_GetDiscInfo(ref_, &info, &sense), kNoErr);
  EXPECT_EQ(info->discState, kGDT_DiscBlank);
  EXPECT_EQ(info->trackCount, 0);
  std::free(info);
  // The window's drive bar is ready again and shows the blank disc.
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(bar.layoutDeviceStatusField->text().endsWith("Ready"))
      << bar.layoutDeviceStatusField->text().toStdString();
  EXPECT_TRUE(bar.layoutEraseButton->isEnabled());
  EXPECT_TRUE(bar.layoutDiscTypeField->text().startsWith("Free"))
      << bar.layoutDiscTypeField->text().toStdString();
}

TEST_F(EraseFromWindow, TheSharedPanelIsOneAndRefusesABusyDrive) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  startWithWrittenCDRW();
  released_.set_value();  // BLANK runs through
  window_->BSerase();
  const auto first = layoutServices().eraser;
  window_->BSerase();
  EXPECT_EQ(layoutServices().eraser, first);
  devices_->updateStatus(ref_, kDriveBurning);
  EXPECT_FALSE(first->startErase());
  EXPECT_EQ(first->statusField()->text(), Msg::gui(QStringLiteral("Drive Busy")));
  devices_->updateStatus(ref_, kDriveReady);
}

TEST_F(EraseFromWindow, ARefusedEraseIsShownAsAFailureAndTheDriveIsReadyAgain) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  // The drive refuses BLANK as for a medium it cannot blank.
  startWithWrittenCDRW(FaultRule{.opcode = std::uint8_t{0xA1},
                                 .action = FaultAction::CheckCondition,
                                 .key = 0x05,
                                 .asc = 0x30,
                                 .ascq = 0x05});
  released_.set_value();
  window_->BSerase();
  const auto eraser = layoutServices().eraser;
  ASSERT_TRUE(eraser);
  eraser->fullSwitch()->setChecked(true);
  ASSERT_TRUE(eraser->startErase());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !eraser->isErasing(); }, 120'000));
  ASSERT_TRUE(eraser->lastResult().has_value());
  EXPECT_NE(*eraser->lastResult(), kNoErr);
  EXPECT_EQ(eraser->lastSense().key, 0x05);
  EXPECT_TRUE(eraser->statusField()->text().startsWith(Msg::gui(QStringLiteral("Erase Failed"))))
      << eraser->statusField()->text().toStdString();
  EXPECT_NE(eraser->progressBar()->value(), 100);
  // The full erase was asked for, and the disc still holds its data.
  std::vector<std::uint8_t> blanks;
  for (const auto& c : drive_->log())
    if (!c.cdb.empty() && c.cdb[0] == 0xA1) blanks.push_back(c.cdb[1]);
  EXPECT_EQ(blanks, std::vector<std::uint8_t>{EraseController::kFullBlank});
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  ASSERT_EQ(GDT_GetDiscInfo(ref_, &info, &sense), kNoErr);
  EXPECT_NE(info->discState, kGDT_DiscBlank);
  std::free(info);
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutEraseButton->isEnabled());
  EXPECT_TRUE(eraser->eraseButton()->isEnabled());
}

TEST_F(EraseFromWindow, ADvdPlusRwIsWrittenOverByTheJobThreadsThePanelStartsAndJoins) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  startWithWrittenDisc(0x1A, "bd-writer");
  released_.set_value();
  window_->BSerase();
  const auto eraser = layoutServices().eraser;
  ASSERT_TRUE(eraser);
  eraser->quickSwitch()->setChecked(true);
  ASSERT_TRUE(eraser->startErase());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !eraser->isErasing(); }, 120'000));
  ASSERT_EQ(eraser->lastResult(), std::optional<EngineStatus>(kNoErr));
  EXPECT_EQ(eraser->progressBar()->value(), 100);
  std::size_t writes = 0, blanks = 0;
  for (const auto& c : drive_->log()) {
    if (c.cdb.empty()) continue;
    writes += c.cdb[0] == 0x2A;
    blanks += c.cdb[0] == 0xA1;
  }
  EXPECT_GT(writes, 0u) << "written over by the job's writer";
  EXPECT_EQ(blanks, 0u);
  // The volume's start reads as zeros now, as dumped from the medium.
  const fs::path dump = quillion::test::makeTempDir("erase-dump").toStdString() + "/dump.iso";
  bool dumped = false;
  ASSERT_TRUE(drive_->withMedium([&](Medium& m) { dumped = m.dumpIso(dump); }));
  ASSERT_TRUE(dumped);
  auto bytes = quillion::test::readFile(dump);
  ASSERT_GE(bytes.size(), 20u * 2048);
  bytes.resize(20u * 2048);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
}
