// SPDX-License-Identifier: GPL-2.0-or-later
// A layout dropped on the data window, spread over three small emulated CD-Rs: the written
// disc put back between two parts is ejected, a blank disc too small for what is left is
// ejected, and each part is burnt headless with the real engine. Every disc is dumped and
// read back by xorriso and isoinfo: together they hold the source once, each file on the
// disc its line in the spanning log names.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "burn/thread_bridge.h"
#include "data_window_fixture.h"
#include "framework/cfmt.h"
#include "framework/messages.h"
#include "framework/save_panel.h"
#include "framework/sheet_host.h"
#include "layout/data_edit_panels.h"
#include "layout/data_layout_ctlr.h"
#include "layout/disc_spanning.h"
#include "layout/layout_file_io.h"
#include "quillion/FS.h"
#include "run_support.h"
#include "shell/progress_views.h"
#include "support/scripted_log_panel.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;
using namespace std::chrono_literals;
using quillion::emu::Medium;

namespace data_window_span_test {

constexpr std::uint16_t kCDR = 0x09;
// A disc of this many blocks takes about 170 blocks of files after the file system's share
// as the estimate reckons it (a blank emulated CD-R of this size reports some more free
// blocks, not enough for two of the larger files): the layout below needs three.
constexpr std::uint32_t kSmallDisc = 1200;

const std::map<std::string, std::size_t> kLayout = {
    {"alpha/one.bin", 168 * 2048},
    {"alpha/beta/two.bin", 165 * 2048 + 17},
    {"three.bin", 163 * 2048},
    {"notes/read me.txt", 5000},
    {"notes/\xC3\xA9t\xC3\xA9.txt", 777},
    {"z.txt", 1},
};

QString gui(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

// Relative paths of the layout as the log writes them, with '/' as extraction gives them.
std::string slashed(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

class DataWindowSpan : public DataWindowTest {
 protected:
  DiscSpanControls& controls() { return window_->discSpanning()->controls(); }
  Medium blank(const std::string& name, std::uint32_t capacity) {
    return Medium::blank(env_.folder() / (name + ".medium"), kCDR, capacity);
  }
  // A disc goes into the drive, as a person closes the tray.
  void insert(Medium medium) {
    drive_->load(std::move(medium));
    (void)MMC_TestUnitReady(ref_, nullptr);
  }
  QString statusLine() {
    return window_->discSpanning()->insertDiscPanel()->insertDiscSizeStatusTextField()->text();
  }
  // The engine's threads have ended (joined by construction); one more poll ends the part.
  void finishPart() {
    ASSERT_NE(window_->runningJob().runTimeSharedData, nullptr);
    JobThreads::joinAll(window_->runningJob().runTimeSharedData);
    timers_.advance(200ms);
  }

  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  ScriptedLogPanel logPanel_;
};

TEST_F(DataWindowSpan, ThreeDiscsHoldTheSourceOnceEachFileOnTheDiscItsLogLineNames) {
  for (const char* tool : {"isoinfo", "xorriso"}) QUILLION_REQUIRE_TOOL(tool);
  writeFiles(dir_.path() / "source", kLayout);
  drive_ = plugBlank("WRITER", "cd-writer", kCDR, kSmallDisc);
  startDevices();
  ref_ = emu::DeviceEnvironment::refOf("WRITER");
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  window_->setFormatType(512);
  chooseDestination(ref_);
  DiscSpanning& span = *window_->discSpanning();
  span.setSavePanel(&logPanel_);
  // The sizes offered are data: this list holds the small discs of the test.
  fillDiscSizeList(controls().discSpanList, {{"small", kSmallDisc}});
  controls().discSpanSwitch->click();
  ASSERT_TRUE(window_->layoutState().discSpan);
  ASSERT_EQ(controls().discSpanNumber->text(), QStringLiteral("3"));
  const char* treeTitle = GetTreeTitle(window_->layoutTree());
  ASSERT_NE(treeTitle, nullptr);
  const std::string title = treeTitle;
  InsertDiscSheet* insertSheet = span.insertDiscPanel();

  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
  window_->burnOptionSheet()->BSburnDiscButton->click();
  ASSERT_NE(span.currentPart(), nullptr);
  EXPECT_EQ(GetTreeTitle(span.currentPart()), title + "-1");

  std::vector<fs::path> dumps;
  const auto takeOut = [&](const std::string& name) {
    std::optional<Medium> disc = drive_->unload();
    EXPECT_TRUE(disc.has_value()) << name;
    if (!disc) return std::optional<Medium>();
    const fs::path iso = dir_.path() / (name + ".iso");
    EXPECT_TRUE(disc->dumpIso(iso));
    dumps.push_back(iso);
    return disc;
  };

  for (std::uint32_t next = 2; next <= 3; ++next) {
    ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get()) << next;
    finishPart();
    // Between two parts: the disc is out, the sheet asks for the next one.
    ASSERT_EQ(window_->sheets().currentSheet(), insertSheet)
        << next << " free " << (window_->discInfo() ? window_->discInfo()->freeBlocks : 0);
    EXPECT_TRUE(drive_->trayOpen()) << "the written disc is ejected";
    EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveBusy);
    EXPECT_EQ(window_->runningJob().BPRef, 0u) << "the part's job is deleted";
    EXPECT_FALSE(window_->windowIsSmall());
    EXPECT_EQ(insertSheet->insertDiscCurrentDiscTextField()->text(), QString::number(next));
    EXPECT_EQ(insertSheet->insertDiscItemsTextField()->text(),
              QString::number(span.remainder().files));
    EXPECT_GT(span.remainder().files, 0u);
    EXPECT_TRUE(span.isWaitTimerRunning());
    std::optional<Medium> written = takeOut("disc" + std::to_string(next - 1));
    ASSERT_TRUE(written);

    timers_.advance(1s);
    EXPECT_EQ(statusLine(), gui("Insert Blank Media"));
    if (next == 2) {
      // The written disc put back is refused and ejected; its reason outlasts the empty tray.
      insert(std::move(*written));
      timers_.advance(1s);
      EXPECT_EQ(statusLine(), gui("Inserted Media Not Blank"));
      EXPECT_EQ(span.insertDiscStatus(), span::InsertDiscStatus::kNotBlank);
      EXPECT_TRUE(drive_->trayOpen());
      const QString png = screenshotPath(QStringLiteral("disc-span-insert.png"));
      EXPECT_TRUE(insertSheet->grab().save(png, "PNG")) << png.toStdString();
      ASSERT_TRUE(drive_->unload().has_value());
      timers_.advance(1s);
      EXPECT_EQ(statusLine(), gui("Inserted Media Not Blank"));
      // A blank disc that takes the biggest file but not with its file system.
      insert(blank("small", 300));
      timers_.advance(1s);
      EXPECT_EQ(statusLine(), cfmt(gui("Please Insert Size Disc"), 0u));
      EXPECT_EQ(span.insertDiscStatus(), span::InsertDiscStatus::kTooSmall);
      EXPECT_TRUE(drive_->trayOpen());
      ASSERT_TRUE(drive_->unload().has_value());
      EXPECT_EQ(window_->sheets().currentSheet(), insertSheet);
    }
    insert(blank("disc" + std::to_string(next), kSmallDisc));
    timers_.advance(1s);
    EXPECT_FALSE(span.isWaitTimerRunning());
    EXPECT_EQ(span.discID(), next);
    ASSERT_NE(span.currentPart(), nullptr);
    EXPECT_EQ(GetTreeTitle(span.currentPart()), title + "-" + std::to_string(next));
  }
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
  finishPart();
  ResultSheet* result = window_->alertSheet();
  ASSERT_EQ(window_->sheets().currentSheet(), result->dialog.get());
  EXPECT_TRUE(result->ASMsgField->text().startsWith(gui("Burn Complete")));
  EXPECT_EQ(span.remainder().files, 0u);
  EXPECT_TRUE(controls().discSpanSaveLogButton->isEnabled());
  EXPECT_TRUE(controls().discSpanSaveLogButton->isVisibleTo(window_->window()));
  EXPECT_FALSE(window_->burnOptionSheet()->BSverifyDataSwitch->isChecked())
      << "parts are not verified";
  result->ASOkButton->click();
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  ASSERT_TRUE(takeOut("disc3"));

  const fs::path logFile = dir_.path() / "span log.txt";
  logPanel_.path = QString::fromStdString(logFile.string());
  controls().discSpanSaveLogButton->click();
  ASSERT_EQ(logPanel_.asked.size(), 1u);
  EXPECT_EQ(logPanel_.asked[0].requiredType, QStringLiteral("txt"));
  EXPECT_EQ(logPanel_.asked[0].fileName, gui("Log File") + ".txt");

  // Every disc read back by the outside readers; the union is the source, nothing twice.
  std::map<std::string, std::string> together;
  std::map<std::string, std::uint32_t> discOf;
  for (std::size_t i = 0; i < dumps.size(); ++i) {
    const std::string volume = runTool({"isoinfo", "-d", "-i", dumps[i].string()}).output;
    EXPECT_NE(volume.find("Joliet with UCS level"), std::string::npos) << volume;
    const fs::path out = dir_.path() / ("out" + std::to_string(i + 1));
    const auto extract = runTool(
        {"xorriso", "-indev", dumps[i].string(), "-osirrox", "on", "-extract", "/", out.string()});
    ASSERT_EQ(extract.exitCode, 0) << extract.output;
    const auto files = filesBelow(out);
    EXPECT_FALSE(files.empty()) << "disc " << i + 1;
    for (const auto& [path, bytes] : files) {
      EXPECT_TRUE(discOf.emplace(path, static_cast<std::uint32_t>(i + 1)).second)
          << path << " on more than one disc";
      together[path] = bytes;
    }
  }
  ASSERT_EQ(dumps.size(), 3u);
  EXPECT_EQ(together, filesBelow(dir_.path() / "source"));

  // The log: one line per file, UTF-8, each naming the disc the file was found on.
  const std::string log = readText(logFile);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find('\r', at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = log.substr(at, end - at);
    at = end + 1;
    ++lines;
    const std::size_t open = line.rfind(" (" + title + "-");
    ASSERT_NE(open, std::string::npos) << line;
    const std::string path = slashed(line.substr(0, open));
    const std::uint32_t disc = static_cast<std::uint32_t>(
        std::stoul(line.substr(open + title.size() + 3, line.size() - open - title.size() - 4)));
    EXPECT_EQ(line.back(), ')');
    ASSERT_TRUE(discOf.count(path)) << line;
    EXPECT_EQ(discOf[path], disc) << line;
  }
  EXPECT_EQ(lines, kLayout.size());
  EXPECT_NE(log.find("notes\\\xC3\xA9t\xC3\xA9.txt (" + title + "-"), std::string::npos) << log;
}

// With spanning on, a drop on the outline that holds a file no disc takes asks: Cancel takes
// the whole drop out again, Continue keeps it without that file.
TEST_F(DataWindowSpan, ADropOnTheOutlineTooLargeForOneDiscIsUndoneOrTrimmed) {
  writeFiles(dir_.path() / "source", {{"a.txt", 10}});
  writeFiles(dir_.path() / "drop", {{"big.bin", 300 * 2048}, {"ok.txt", 20}});
  drive_ = plugBlank("WRITER", "cd-writer", kCDR, kSmallDisc);
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  window_->setFormatType(512);
  fillDiscSizeList(controls().discSpanList, {{"small", kSmallDisc}});
  controls().discSpanSwitch->click();
  ASSERT_TRUE(window_->layoutState().discSpan);
  LargeFilesSheet* warning = window_->discSpanning()->warningPanel();

  ASSERT_TRUE(dropOnDisc({dir_.path() / "drop"}));
  ASSERT_EQ(window_->sheets().currentSheet(), warning) << sheetText().toStdString();
  EXPECT_EQ(warning->warningTextField()->text(), gui("Remove Large Files"));
  ASSERT_EQ(warning->table()->rowCount(), 1);
  warning->warningCancelButton()->click();
  EXPECT_EQ(discRows(), (QStringList{"a.txt"})) << "the drop is undone";

  ASSERT_TRUE(dropOnDisc({dir_.path() / "drop"}));
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  warning->warningContinueButton()->click();
  EXPECT_EQ(discRows(), (QStringList{"a.txt", "drop"}));
  DataLayoutCtlr& model = window_->dataLayoutModel();
  const QModelIndex drop = model.index(1, 0, model.index(0, 0));
  ASSERT_EQ(model.rowCount(drop), 1);
  EXPECT_EQ(model.data(model.index(0, 0, drop)).toString(), QStringLiteral("ok.txt"));
  EXPECT_EQ(controls().discSpanNumber->text(), QStringLiteral("1"));

  // A small drop that fits is kept at once, and a later Cancel does not take it out.
  writeFiles(dir_.path() / "more", {{"c.txt", 30}});
  ASSERT_TRUE(dropOnDisc({dir_.path() / "more" / "c.txt"}));
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  ASSERT_TRUE(dropOnDisc({dir_.path() / "drop" / "big.bin"}));
  ASSERT_EQ(window_->sheets().currentSheet(), warning);
  warning->warningCancelButton()->click();
  EXPECT_EQ(discRows(), (QStringList{"a.txt", "c.txt", "drop"}));
}

// The enabled flag of every item of `popup`, by the item's data.
std::map<std::uint32_t, bool> itemsEnabled(QComboBox* popup) {
  const auto* items = qobject_cast<QStandardItemModel*>(popup->model());
  std::map<std::uint32_t, bool> flags;
  for (int i = 0; items && i < popup->count(); ++i)
    flags[popup->itemData(i).toUInt()] = items->item(i)->isEnabled();
  return flags;
}

// While spanning is on the window offers neither image writer as destination nor a format
// that cannot span; switching off, or a format that turns it off, offers them again.
TEST_F(DataWindowSpan, SpanningDisablesTheImageWritersAndTheFormatsThatCannotSpan) {
  writeFiles(dir_.path() / "source", {{"a.txt", 10}});
  drive_ = plugBlank("WRITER", "cd-writer", kCDR, kSmallDisc);
  startDevices();
  ref_ = emu::DeviceEnvironment::refOf("WRITER");
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  window_->setFormatType(512);
  QComboBox* destinations = window_->driveBar()->layoutDstDriveButton;
  QComboBox* formats = window_->dataLayoutBar()->formatButton;
  const std::set<std::uint32_t> wholeOnly = {1, 257, 513, 64};
  const auto expectAllEnabled = [&](const char* when) {
    for (QComboBox* popup : {destinations, formats})
      for (const auto& [data, enabled] : itemsEnabled(popup))
        EXPECT_TRUE(enabled) << data << " " << when;
  };
  const auto expectSpanningItems = [&](const char* when) {
    const auto dst = itemsEnabled(destinations);
    ASSERT_TRUE(dst.count(ref_) && dst.count(kCDImageWriterRef) && dst.count(kISOImageWriterRef));
    EXPECT_TRUE(dst.at(ref_)) << when;
    EXPECT_FALSE(dst.at(kCDImageWriterRef)) << when;
    EXPECT_FALSE(dst.at(kISOImageWriterRef)) << when;
    const auto fmt = itemsEnabled(formats);
    for (std::uint32_t code : wholeOnly) ASSERT_TRUE(fmt.count(code)) << code;
    for (const auto& [code, enabled] : fmt)
      EXPECT_EQ(enabled, !wholeOnly.count(code)) << code << " " << when;
  };
  expectAllEnabled("before spanning");

  // The ISO image writer chosen: switching on leaves it for the first destination.
  chooseDestination(kISOImageWriterRef);
  controls().discSpanSwitch->click();
  ASSERT_TRUE(controls().discSpanSwitch->isChecked());
  EXPECT_EQ(destinations->currentIndex(), 0);
  EXPECT_FALSE(isImageWriterRef(window_->burnSettings().dstDriveRef));
  expectSpanningItems("switched on");
  // A destination list made again (drives come and go) keeps the image writers disabled.
  window_->deviceListDidChange();
  expectSpanningItems("list rebuilt");

  controls().discSpanSwitch->click();
  ASSERT_FALSE(controls().discSpanSwitch->isChecked());
  expectAllEnabled("switched off");

  // A format that cannot span turns spanning off, and every item is offered again.
  controls().discSpanSwitch->click();
  expectSpanningItems("on again");
  window_->setFormatType(257);
  EXPECT_FALSE(controls().discSpanSwitch->isChecked());
  expectAllEnabled("HFS hybrid chosen");

  // A layout saved with spanning on opens with the items disabled.
  window_->setFormatType(512);
  controls().discSpanSwitch->click();
  LayoutFileIO saved;
  window_->saveLayout(saved);
  const LayoutFileIO reread = LayoutFileIO::initWithXMLData(saved.XMLData());
  window_.reset();
  makeWindow(&reread);
  ASSERT_TRUE(controls().discSpanSwitch->isChecked());
  destinations = window_->driveBar()->layoutDstDriveButton;
  formats = window_->dataLayoutBar()->formatButton;
  expectSpanningItems("loaded");
}

// A layout saved with spanning on opens with it on, the count shown.
TEST_F(DataWindowSpan, TheSpanningSwitchSurvivesSavingAndLoading) {
  writeFiles(dir_.path() / "source", kLayout);
  drive_ = plugBlank("WRITER", "cd-writer", kCDR, kSmallDisc);
  startDevices();
  ref_ = emu::DeviceEnvironment::refOf("WRITER");
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  window_->setFormatType(512);
  chooseDestination(ref_);
  controls().discSpanSwitch->click();
  ASSERT_TRUE(controls().discSpanSwitch->isChecked());
  LayoutFileIO saved;
  window_->saveLayout(saved);
  const LayoutFileIO reread = LayoutFileIO::initWithXMLData(saved.XMLData());
  window_.reset();
  makeWindow(&reread);
  EXPECT_TRUE(window_->layoutState().discSpan);
  EXPECT_TRUE(controls().discSpanSwitch->isChecked());
  EXPECT_TRUE(controls().discSpanList->isEnabled());
  EXPECT_EQ(controls().discSpanNumber->text(), QStringLiteral("1")) << "the first size holds it";
  EXPECT_EQ(controls().discSpanText->text(), gui("Disc(s)"));
  EXPECT_TRUE(window_->dataLayoutModel().rowCount(window_->dataLayoutModel().index(0, 0)) > 0);
}

// Cancel on the insert-disc sheet ends the spanned burn: the wait stops, the drive is ready
// again and the destination can be changed; no log is offered for a burn left unfinished.
TEST_F(DataWindowSpan, CancelBetweenTwoDiscsEndsTheSpannedBurn) {
  writeFiles(dir_.path() / "source", kLayout);
  drive_ = plugBlank("WRITER", "cd-writer", kCDR, kSmallDisc);
  startDevices();
  ref_ = emu::DeviceEnvironment::refOf("WRITER");
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  window_->setFormatType(512);
  chooseDestination(ref_);
  DiscSpanning& span = *window_->discSpanning();
  fillDiscSizeList(controls().discSpanList, {{"small", kSmallDisc}});
  controls().discSpanSwitch->click();
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
  window_->burnOptionSheet()->BSburnDiscButton->click();
  EXPECT_FALSE(controls().discSpanList->isVisibleTo(window_->window())) << "hidden while burning";
  finishPart();
  InsertDiscSheet* insertSheet = span.insertDiscPanel();
  ASSERT_EQ(window_->sheets().currentSheet(), insertSheet);
  ASSERT_TRUE(span.isWaitTimerRunning());
  insertSheet->insertDiscCancelButton()->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_FALSE(span.isWaitTimerRunning());
  EXPECT_FALSE(span.isRunning());
  EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
  EXPECT_FALSE(controls().discSpanSaveLogButton->isEnabled());
  timers_.advance(5s);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr) << "no tick after the cancel";
}

}  // namespace data_window_span_test
