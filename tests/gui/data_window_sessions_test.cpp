// SPDX-License-Identifier: GPL-2.0-or-later
// A data window and the sessions already on its destination disc: the options drawer's
// session tab lists them, reads the drive again when its disc changes and imports one through its
// buttons; and a burn to a write-once DVD that holds a session asks first, appending a
// second session only when told to. xorriso reads what the emulated recorder wrote.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QBrush>
#include <QButtonGroup>
#include <QDialog>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <chrono>
#include <filesystem>
#include <set>

#include "burn/thread_bridge.h"
#include "data_window_fixture.h"
#include "disc_readers.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "framework/sheet_host.h"
#include "layout/data_edit_panels.h"
#include "layout/data_layout_ctlr.h"
#include "layout/session_tab.h"
#include "quillion/BP.h"
#include "quillion/FS.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "run_support.h"
#include "shell/notification_names.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;
using namespace std::chrono_literals;

namespace {

// The files of the first session and of the layout that follows it.
const std::map<std::string, std::size_t> kFirstFiles = {
    {"a.txt", 1000}, {"docs/b.bin", 70'000}, {"docs/deeper/c.dat", 5'000}};
const std::map<std::string, std::size_t> kLaterFiles = {{"later.txt", 12'345}};

class DataWindowSessions : public DataWindowTest {
 protected:
  // A recorder holding a first session of kFirstFiles, closed or left open; the window's
  // destination is the recorder.
  void startWithFirstSession(const char* preset, std::uint16_t profile, std::uint32_t capacity,
                             bool closeDisc) {
    drive_ = plugBlank("WRITER", preset, profile, capacity);
    startDevices();
    ref_ = emu::DeviceEnvironment::refOf("WRITER");
    ASSERT_NE(ref_, 0u);
    writeFiles(dir_.path() / "first", kFirstFiles);
    burnFirstSession(ref_, dir_.path() / "first", closeDisc);
    if (HasFatalFailure()) return;
    chooseDestination(ref_);
    ASSERT_NE(window_->sessionTab(), nullptr);
  }

  const SessionTabPanel& tab() const { return window_->sessionTab()->panel(); }
  int sessionRows() const { return tab().ISO9660_sessionLayout->model()->rowCount(); }
  QString sessionCell(int row, int column) const {
    const QAbstractItemModel* m = tab().ISO9660_sessionLayout->model();
    return m->data(m->index(row, column)).toString();
  }

  // The Options button, then the session tab, as a person would.
  void showSessionTab() {
    DataOptionsDrawer* drawer = window_->optionsDrawer();
    ASSERT_NE(drawer, nullptr);
    if (!drawer->isOpen()) window_->dataLayoutBar()->dataOptionsButton->click();
    ASSERT_TRUE(drawer->isOpen());
    drawer->ISO9660_iso9660TabView->setCurrentWidget(drawer->sessionTab);
    ASSERT_EQ(drawer->selectedTabIdentifier(), QStringLiteral("2"));
  }

  void selectSession(int row) {
    QTableView* view = tab().ISO9660_sessionLayout;
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  // Shows the tab, selects the first session and presses Import.
  void importFirstSession(bool intoFolder) {
    showSessionTab();
    if (HasFatalFailure()) return;
    ASSERT_EQ(sessionRows(), 1);
    (intoFolder ? tab().importToFolderCell : tab().importToDiscCell)->click();
    selectSession(0);
    ASSERT_TRUE(tab().ISO9660_importButton->isEnabled());
    tab().ISO9660_importButton->click();
    ASSERT_EQ(window_->sessionTab()->lastImport().status, kNoErr);
  }

  FS_Node* discChild(const QString& title) const {
    FS_Tree* tree = window_->layoutTree();
    FS_Node* root = GetRootTreeNode(tree);
    for (std::uint32_t i = 0; i < GetNumberOfChildren(root); ++i) {
      FS_Node* child = GetChildNodeAtIndex(root, i);
      if (QString::fromUtf8(GetTitleNode(child)) == title) return child;
    }
    return nullptr;
  }

  // Relative path and size of every file under `node`; every one must be an imported item.
  static void importedFiles(FS_Node* node, const std::string& prefix,
                            std::map<std::string, std::size_t>& out) {
    for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i) {
      FS_Node* child = GetChildNodeAtIndex(node, i);
      const std::string path = prefix + GetTitleNode(child);
      EXPECT_TRUE(IsISO9660ImportItem(child)) << path;
      if (IsFolderNode(child))
        importedFiles(child, path + "/", out);
      else
        out[path] = static_cast<std::size_t>(dataActualSizeNode(child));
    }
  }

  // The volume name of the written disc as isoinfo reads it from the Joliet descriptor, which
  // keeps the case the layout gave it.
  std::string volumeId() {
    const auto info = runTool({"isoinfo", "-d", "-J", "-i", dumpDisc(*drive_, "volume").string()});
    const QRegularExpression line(QStringLiteral("^Volume id:\\s*(.*)$"),
                                  QRegularExpression::MultilineOption);
    const auto match = line.match(QString::fromStdString(info.output));
    EXPECT_TRUE(match.hasMatch()) << info.output;
    return match.captured(1).trimmed().toStdString();
  }

  // A DVD recorder whose disc holds a first session of kFirstFiles left open. The window
  // closes a blank write-once DVD with its first burn, so the session is written through
  // the engine as another program would leave it.
  void startWithOpenSession(std::uint16_t profile, std::uint32_t capacity) {
    drive_ = plugBlank("WRITER", "dvd-writer", profile, capacity);
    startDevices();
    ref_ = emu::DeviceEnvironment::refOf("WRITER");
    ASSERT_NE(ref_, 0u);
    writeFiles(dir_.path() / "first", kFirstFiles);
    TestThreads::instance().reset();
    TreePtr tree = treeFromFolder(dir_.path() / "first");
    BP_RuntimeSharedData* shared = nullptr;
    const BP_JobRef job =
        BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), &shared, 1);
    ASSERT_NE(job, 0u);
    EXPECT_EQ(BP_SetDataTree(job, tree.get()), kNoErr);
    EXPECT_EQ(BP_SetDataDiscFormat(job, 512), kNoErr);
    EXPECT_EQ(BP_SetCloseDisc(job, false), kNoErr);
    EXPECT_EQ(BP_SetDstDevice(job, ref_), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(job, TestThreads::create), kNoErr);
    EXPECT_EQ(BP_PrepareBurn(job, nullptr, nullptr), kNoErr);
    EXPECT_EQ(BP_Burn(job), kNoErr);
    EXPECT_TRUE(TestThreads::instance().join());
    EXPECT_TRUE(BP_RunFinished(shared));
    EXPECT_EQ(shared->writers[0].errorCode, 0);
    EXPECT_EQ(BP_Delete(job), kNoErr);
    if (HasFailure()) return;
    // A new window and device list find the disc as the burn left it.
    window_.reset();
    (void)MMC_TestUnitReady(ref_, nullptr);
    makeWindow();
    chooseDestination(ref_);
    ASSERT_NE(window_->sessionTab(), nullptr);
  }

  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
};

// ---- the session tab ----

TEST_F(DataWindowSessions, TheSessionTabListsTheOpenSessionAndItsButtonsImportAndRemoveIt) {
  QUILLION_REQUIRE_TOOL("isoinfo");
  startWithFirstSession("cd-writer", 0x09, kCdBlocks, false);
  if (HasFatalFailure()) return;
  const std::string volume = volumeId();
  ASSERT_FALSE(volume.empty());

  // Nothing is read before the session tab shows: the drawer opens on its first tab.
  EXPECT_EQ(sessionRows(), 0);
  window_->dataLayoutBar()->dataOptionsButton->click();
  EXPECT_EQ(sessionRows(), 0);
  showSessionTab();
  ASSERT_EQ(sessionRows(), 1);
  EXPECT_EQ(sessionCell(0, 0), QStringLiteral("1"));
  // The table shows the Joliet name, which keeps its case; the primary volume's is in capitals.
  const QString volumeTitle = sessionCell(0, 1);
  EXPECT_EQ(volumeTitle.toUpper().toStdString(), volume);
  EXPECT_FALSE(tab().ISO9660_importButton->isEnabled()) << "no session selected";
  EXPECT_FALSE(tab().ISO9660_removeImportButton->isEnabled());
  selectSession(0);
  EXPECT_TRUE(tab().ISO9660_importButton->isEnabled());

  // Into a folder of its own, then again: the second folder is numbered.
  tab().ISO9660_importButton->click();
  const QString folder = volumeTitle + QStringLiteral(" (Imported)");
  EXPECT_EQ(discRows(), QStringList{folder});
  EXPECT_TRUE(tab().ISO9660_removeImportButton->isEnabled());
  tab().ISO9660_importButton->click();
  EXPECT_EQ(discRows(), (QStringList{folder, folder + QStringLiteral("1")}));
  for (const QString& title : discRows()) {
    SCOPED_TRACE(title.toStdString());
    std::map<std::string, std::size_t> files;
    importedFiles(discChild(title), "", files);
    EXPECT_EQ(files, kFirstFiles);
  }
  // The outline shows imported items in red.
  DataLayoutCtlr& model = window_->dataLayoutModel();
  const QModelIndex first = model.index(0, 0, model.index(0, 0));
  EXPECT_EQ(model.data(first, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));

  // Remove takes every imported item away and disables itself.
  tab().ISO9660_removeImportButton->click();
  EXPECT_TRUE(discRows().isEmpty());
  EXPECT_FALSE(tab().ISO9660_removeImportButton->isEnabled());

  // Merged into the disc: the session's top items stand directly under the disc row.
  tab().importToDiscCell->click();
  EXPECT_FALSE(window_->sessionTab()->importToFolder());
  tab().ISO9660_importButton->click();
  const QStringList merged = discRows();
  EXPECT_EQ(std::set<QString>(merged.begin(), merged.end()),
            (std::set<QString>{QStringLiteral("a.txt"), QStringLiteral("docs")}));
  std::map<std::string, std::size_t> files;
  importedFiles(GetRootTreeNode(window_->layoutTree()), "", files);
  EXPECT_EQ(files, kFirstFiles);
}

// The open tab follows the disc: a drive's status change and a change of destination read
// the list again.
TEST_F(DataWindowSessions, TheListFollowsTheDiscAndTheDestination) {
  startWithFirstSession("cd-writer", 0x09, kCdBlocks, false);
  if (HasFatalFailure()) return;
  showSessionTab();
  ASSERT_EQ(sessionRows(), 1);
  selectSession(0);
  ASSERT_TRUE(tab().ISO9660_importButton->isEnabled());

  // The disc taken out: the list goes, and with it the import.
  std::optional<emu::Medium> disc = drive_->unload();
  ASSERT_TRUE(disc.has_value());
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  EXPECT_EQ(sessionRows(), 0);
  EXPECT_FALSE(tab().ISO9660_importButton->isEnabled());

  // Back in the drive: the session is listed again, nothing selected yet.
  drive_->load(std::move(*disc));
  (void)MMC_TestUnitReady(ref_, nullptr);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  EXPECT_EQ(sessionRows(), 1);
  EXPECT_FALSE(tab().ISO9660_importButton->isEnabled());
  selectSession(0);
  EXPECT_TRUE(tab().ISO9660_importButton->isEnabled());

  // Taken out and put back unnoticed: choosing the drive again as the destination reads it.
  disc = drive_->unload();
  ASSERT_TRUE(disc.has_value());
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  ASSERT_EQ(sessionRows(), 0);
  drive_->load(std::move(*disc));
  (void)MMC_TestUnitReady(ref_, nullptr);
  chooseDestination(kISOImageWriterRef);
  chooseDestination(ref_);
  EXPECT_EQ(sessionRows(), 1);
}

TEST_F(DataWindowSessions, AClosedDiscNeverOffersAnImport) {
  startWithFirstSession("cd-writer", 0x09, kCdBlocks, true);
  if (HasFatalFailure()) return;
  showSessionTab();
  EXPECT_EQ(sessionRows(), 0);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  EXPECT_EQ(sessionRows(), 0);
  EXPECT_FALSE(tab().ISO9660_importButton->isEnabled());
}

// ---- appending to a write-once DVD ----

struct AppendCase {
  const char* name;
  std::uint16_t profile;
  std::uint32_t capacity;
  unsigned format;
  const char* questionKey;  // the question the burn asks first; none for a plain append
  const char* answer;
  bool appends;
};

const AppendCase kAppendCases[] = {
    {"cd_r_appends", 0x09, kCdBlocks, 512, nullptr, nullptr, true},
    {"dvd_plus_r_cancelled", 0x1B, kDvdBlocks, 512, "DVD-/+R Append Not Yet Supported", "Cancel",
     false},
    {"dvd_plus_r_continued", 0x1B, kDvdBlocks, 512, "DVD-/+R Append Not Yet Supported",
     "Continue Anyway", true},
    {"dvd_minus_r_appends", 0x11, kDvdBlocks, 512, nullptr, nullptr, true},
    {"dvd_minus_r_udf_cancelled", 0x11, kDvdBlocks, 16, "UDF Append Not Supported", "Cancel",
     false},
};

class DataWindowAppend : public DataWindowSessions,
                         public ::testing::WithParamInterface<AppendCase> {
 protected:
  // Every file of the volume that begins at block `start` of the image, as xorriso
  // extracts it.
  FileBytes xorrisoFilesAt(const fs::path& image, std::uint32_t start, const fs::path& into) {
    const auto run =
        runTool({"xorriso", "-indev", image.string(), "-load", "sbsector", std::to_string(start),
                 "-osirrox", "on", "-extract", "/", into.string()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return filesBelow(into);
  }
};

TEST_P(DataWindowAppend, TheAnswerDecidesWhetherASecondSessionIsWritten) {
  QUILLION_REQUIRE_TOOL("xorriso");
  const AppendCase& c = GetParam();
  startWithOpenSession(c.profile, c.capacity);
  if (HasFatalFailure()) return;
  std::uint32_t nextBefore = 0;
  ASSERT_TRUE(drive_->withMedium([&](emu::Medium& m) { nextBefore = m.nextWritable(); }));

  // The layout takes the first session over, merged into the disc, and adds a file.
  importFirstSession(false);
  if (HasFatalFailure()) return;
  writeFiles(dir_.path() / "later", kLaterFiles);
  ASSERT_TRUE(dropContentsOf(dir_.path() / "later"));
  window_->setFormatType(c.format);

  const int runsBefore = executor_.runs();
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  if (c.questionKey) {
    EXPECT_TRUE(sheetText().contains(Msg::gui(QString::fromLatin1(c.questionKey))))
        << sheetText().toStdString();
    EXPECT_EQ(executor_.runs(), runsBefore) << "nothing is checked before the answer";
    EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
    QPushButton* answer = sheetButton(c.answer);
    ASSERT_NE(answer, nullptr) << sheetText().toStdString();
    answer->click();
  }

  if (!c.appends) {
    EXPECT_EQ(window_->sheets().currentSheet(), nullptr) << sheetText().toStdString();
    EXPECT_EQ(executor_.runs(), runsBefore);
    EXPECT_EQ(window_->runningJob().BPRef, 0u);
    EXPECT_EQ(devices_->statusOfDevice(ref_), kDriveReady);
    std::uint32_t nextAfter = 0;
    ASSERT_TRUE(drive_->withMedium([&](emu::Medium& m) { nextAfter = m.nextWritable(); }));
    EXPECT_EQ(nextAfter, nextBefore) << "nothing was written";
    std::size_t closed = 0;
    ASSERT_TRUE(drive_->withMedium([&](emu::Medium& m) { closed = m.sessions().size(); }));
    EXPECT_EQ(closed, 1u);
    return;
  }

  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get())
      << sheetText().toStdString();
  // A written write-once disc takes one more session.
  ASSERT_TRUE(window_->burnOptionSheet()->BSburnSessionButton->isEnabled());
  window_->burnOptionSheet()->BSburnSessionButton->click();
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get())
      << sheetText().toStdString();
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  ASSERT_EQ(window_->runningJob().lastResult, kResultCompleted) << sheetText().toStdString();

  std::size_t closed = 0;
  ASSERT_TRUE(drive_->withMedium([&](emu::Medium& m) { closed = m.sessions().size(); }));
  EXPECT_EQ(closed, 2u) << "a second session";
  // xorriso, loading the volume where the second session begins, finds the first session's
  // files and the new one, byte for byte.
  const fs::path image = dumpDisc(*drive_, "appended");
  const FileBytes back = xorrisoFilesAt(image, nextBefore, dir_.path() / "readback");
  FileBytes wanted = filesBelow(dir_.path() / "first");
  wanted.merge(filesBelow(dir_.path() / "later"));
  EXPECT_EQ(treeDifferences(back, wanted), "");
}

INSTANTIATE_TEST_SUITE_P(Discs, DataWindowAppend, ::testing::ValuesIn(kAppendCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
