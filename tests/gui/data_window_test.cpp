// SPDX-License-Identifier: GPL-2.0-or-later
// The data window: its refusals before a burn, the DVD-Video mode, the sizing job kept for
// the burn, the size limits (also with disc spanning on), and the layout file's tree map
// and destination.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTreeView>
#include <chrono>
#include <filesystem>

#include "burn/thread_bridge.h"
#include "data_window_fixture.h"
#include "disc_readers.h"
#include "framework/messages.h"
#include "framework/sheet_host.h"
#include "layout/data_edit_panels.h"
#include "layout/data_layout_ctlr.h"
#include "quillion/FS.h"
#include "quillion/MMC.h"
#include "run_support.h"
#include "shell/zeb_utils.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;
using namespace std::chrono_literals;

namespace {

QString gui(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

class DataWindow : public DataWindowTest {
 protected:
  QModelIndex discRow(const QString& title) const {
    DataLayoutCtlr& model = window_->dataLayoutModel();
    const QModelIndex disc = model.index(0, 0);
    for (int r = 0; r < model.rowCount(disc); ++r)
      if (model.data(model.index(r, 0, disc)).toString() == title) return model.index(r, 0, disc);
    return {};
  }

  // A file of `bytes` that takes no room on the test's disc.
  fs::path sparseFile(const std::string& name, std::uint64_t bytes) {
    const fs::path path = dir_.path() / "sparse" / name;
    fs::create_directories(path.parent_path());
    writeFile(path, std::string_view());
    fs::resize_file(path, bytes);
    return path;
  }

  bool sheetSays(const char* key) const { return sheetText().contains(gui(key)); }
};

TEST_F(DataWindow, AnEmptyLayoutIsRefusedBeforeAnyCheck) {
  startDevices();
  chooseDestination(kISOImageWriterRef);
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused);
  EXPECT_TRUE(sheetSays("Select Data")) << sheetText().toStdString();
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  EXPECT_EQ(executor_.runs(), 0) << "no file check ran";
}

// The job that sized the layout is the job that burns it.
TEST_F(DataWindow, TheSizingJobIsKeptForTheBurn) {
  writeFiles(dir_.path() / "source", {{"a.txt", 5000}, {"sub/b.bin", 70'000}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  chooseDestination(kISOImageWriterRef);
  const fs::path image = dir_.path() / "kept.iso";
  window_->setImageWriterPath(kISOImageWriterRef, QString::fromStdString(image.string()));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  const BP_JobRef sized = window_->runningJob().BPRef;
  ASSERT_NE(sized, 0u) << "the sizing pass keeps its job";
  timers_.advance(1s);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get());
  EXPECT_EQ(window_->runningJob().BPRef, sized) << "no second job is made";
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  ASSERT_EQ(window_->runningJob().lastResult, kResultCompleted);
  dismissResult();
  const std::string listing = runTool({"isoinfo", "-J", "-f", "-i", image.string()}).output;
  EXPECT_NE(listing.find("/sub/b.bin"), std::string::npos) << listing;
}

// A sizing refused for want of room deletes the job it made.
TEST_F(DataWindow, ARefusedSizingKeepsNoJob) {
  writeFiles(dir_.path() / "source", {{"a.txt", 5000}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  chooseDestination(kISOImageWriterRef);
  window_->setImageWriterPath(kISOImageWriterRef,
                              QString::fromStdString((dir_.path() / "none" / "x.iso").string()));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_TRUE(sheetSays("Not Enough Space In Destination")) << sheetText().toStdString();
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
}

TEST_F(DataWindow, DVDVideoModeMakesTheFixedFoldersAndKeepsTheirNames) {
  startDevices();
  window_->setAsVideoTSDoc();
  EXPECT_EQ(window_->formatType(), 64u);
  EXPECT_FALSE(window_->layoutState().discSpan);
  EXPECT_EQ(discRows(), (QStringList{"AUDIO_TS", "VIDEO_TS"}));
  EXPECT_TRUE(window_->window()->isWindowModified()) << "the layout changed";
  DataLayoutCtlr& model = window_->dataLayoutModel();
  const QModelIndex video = discRow("VIDEO_TS");
  ASSERT_TRUE(video.isValid());
  EXPECT_FALSE(model.flags(video) & Qt::ItemIsEditable);
  EXPECT_FALSE(model.setData(video, QStringLiteral("MOVIE")));
  EXPECT_FALSE(model.setData(discRow("AUDIO_TS"), QStringLiteral("SOUND")));
  EXPECT_EQ(discRows(), (QStringList{"AUDIO_TS", "VIDEO_TS"}));
  // A second call adds nothing.
  window_->checkDVDMovieFormat();
  EXPECT_EQ(discRows().size(), 2);
  // Any other folder may be renamed: only the two fixed folders are held.
  writeFiles(dir_.path() / "extra", {{"EXTRA/notes.txt", 10}});
  ASSERT_TRUE(dropOnDisc({dir_.path() / "extra" / "EXTRA"}));
  EXPECT_TRUE(model.setData(discRow("EXTRA"), QStringLiteral("BONUS")));
  EXPECT_TRUE(discRow("BONUS").isValid());
}

TEST_F(DataWindow, ADVDVideoLayoutNeedsVideoTSAndGetsAudioTSAtTheBurn) {
  writeFiles(dir_.path() / "dvd", {{"VIDEO_TS/notes.txt", 100}});
  startDevices();
  window_->setAsVideoTSDoc();
  FS_Tree* tree = window_->layoutTree();
  const auto removeRow = [&](const QString& title) {
    FS_Node* node = window_->dataLayoutModel().nodeForIndex(discRow(title));
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(RemoveTreeNode(tree, node, true), kNoErr);
    window_->dataLayoutModel().reloadData();
  };
  removeRow(QStringLiteral("VIDEO_TS"));
  chooseDestination(kISOImageWriterRef);
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused);
  EXPECT_TRUE(sheetSays("Must have Video_TS")) << sheetText().toStdString();
  dismissSheet();
  ASSERT_TRUE(dropOnDisc({dir_.path() / "dvd" / "VIDEO_TS"}));
  // The outline's refresh after the drop puts the fixed folders back; without the refresh
  // only the burn does.
  EXPECT_EQ(discRows(), (QStringList{"AUDIO_TS", "VIDEO_TS"}));
  removeRow(QStringLiteral("AUDIO_TS"));
  EXPECT_EQ(discRows(), (QStringList{"VIDEO_TS"}));
  window_->setImageWriterPath(kISOImageWriterRef,
                              QString::fromStdString((dir_.path() / "dvd.iso").string()));
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_EQ(discRows(), (QStringList{"AUDIO_TS", "VIDEO_TS"}));
}

TEST_F(DataWindow, ADVDVideoLayoutIsRefusedOnACD) {
  writeFiles(dir_.path() / "dvd", {{"VIDEO_TS/notes.txt", 100}});
  auto drive = plugBlank("WRITER", "cd-writer", 0x09, kCdBlocks);
  startDevices();
  window_->setAsVideoTSDoc();
  ASSERT_TRUE(dropOnDisc({dir_.path() / "dvd" / "VIDEO_TS"}));
  const std::uint32_t ref = emu::DeviceEnvironment::refOf("WRITER");
  chooseDestination(ref);
  EXPECT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kRefused);
  EXPECT_TRUE(sheetSays("DVD Media Required")) << sheetText().toStdString();
  EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
}

// The checks of the medium in a recorder, on discs a first burn from the window left
// closed or open for another session.
enum class FirstBurn { kNone, kClosed, kLeftOpen };

// What the Burn command leads to: the options sheet, a refusal before any file check, or a
// question whose answer decides.
enum class Outcome { kOptions, kRefused, kQuestion };

struct MediumCase {
  const char* name;
  const char* preset;
  std::uint16_t profile;
  std::uint32_t capacity;
  FirstBurn first;
  unsigned format;
  bool spanning;
  bool imported;  // the layout holds an item of an earlier session
  Outcome outcome;
  const char* messageKey;  // of the refusal or the question
  bool ejected;            // the refusal ejects the disc
  const char* answer;      // the question's button pressed
};

const MediumCase kMediumCases[] = {
    {"closed_cdr", "cd-writer", 0x09, kCdBlocks, FirstBurn::kClosed, 512, false, false,
     Outcome::kRefused, "Insert Writable Media", true, nullptr},
    {"open_cdr_with_spanning", "cd-writer", 0x09, kCdBlocks, FirstBurn::kLeftOpen, 512, true, false,
     Outcome::kRefused, "Insert Blank Media", true, nullptr},
    {"open_cdr_appends", "cd-writer", 0x09, kCdBlocks, FirstBurn::kLeftOpen, 512, false, false,
     Outcome::kOptions, nullptr, false, nullptr},
    {"open_cdr_udf_with_imports_cancelled", "cd-writer", 0x09, kCdBlocks, FirstBurn::kLeftOpen, 16,
     false, true, Outcome::kQuestion, "UDF Append Not Supported", false, "Cancel"},
    {"open_cdr_udf_with_imports_continued", "cd-writer", 0x09, kCdBlocks, FirstBurn::kLeftOpen, 16,
     false, true, Outcome::kQuestion, "UDF Append Not Supported", false, "Continue Anyway"},
    {"open_cdr_udf_without_imports", "cd-writer", 0x09, kCdBlocks, FirstBurn::kLeftOpen, 16, false,
     false, Outcome::kOptions, nullptr, false, nullptr},
};

class DataWindowMedium : public DataWindow, public ::testing::WithParamInterface<MediumCase> {
 protected:
  // The first burn from a window of its own, then the disc back in its drive.
  void burnFirst(std::uint32_t ref, bool close) {
    writeFiles(dir_.path() / "first", {{"first.txt", 3000}});
    burnFirstSession(ref, dir_.path() / "first", close);
  }

  QPushButton* button(const char* key) const { return sheetButton(key); }
};

TEST_P(DataWindowMedium, TheDiscIsCheckedBeforeTheFileCheck) {
  const MediumCase& c = GetParam();
  auto drive = plugBlank("WRITER", c.preset, c.profile, c.capacity);
  startDevices();
  const std::uint32_t ref = emu::DeviceEnvironment::refOf("WRITER");
  if (c.first != FirstBurn::kNone) burnFirst(ref, c.first == FirstBurn::kClosed);
  if (HasFatalFailure()) return;
  writeFiles(dir_.path() / "second", {{"second.txt", 5000}});
  ASSERT_TRUE(dropContentsOf(dir_.path() / "second"));
  window_->setFormatType(c.format);
  window_->layoutState().discSpan = c.spanning;
  if (c.imported) {
    FS_Node* node = window_->dataLayoutModel().nodeForIndex(discRow("second.txt"));
    ASSERT_NE(node, nullptr);
    SetISO9660ImportItem(node, true);
  }
  chooseDestination(ref);
  const int runsBefore = executor_.runs();
  const BaseLayoutWinCtlr::BurnCheck check = window_->BSburnDisc();
  switch (c.outcome) {
    case Outcome::kOptions:
      EXPECT_EQ(check, BaseLayoutWinCtlr::BurnCheck::kOk);
      ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get())
          << sheetText().toStdString();
      EXPECT_EQ(devices_->statusOfDevice(ref), kDriveBurning);
      window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
      break;
    case Outcome::kRefused:
      EXPECT_EQ(check, BaseLayoutWinCtlr::BurnCheck::kRefused);
      EXPECT_TRUE(sheetSays(c.messageKey)) << sheetText().toStdString();
      EXPECT_EQ(executor_.runs(), runsBefore) << "no file check";
      EXPECT_EQ(drive->trayOpen(), c.ejected);
      break;
    case Outcome::kQuestion: {
      EXPECT_TRUE(sheetSays(c.messageKey)) << sheetText().toStdString();
      EXPECT_EQ(executor_.runs(), runsBefore) << "no file check before the answer";
      EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
      EXPECT_FALSE(drive->trayOpen());
      QPushButton* pressed = button(c.answer);
      ASSERT_NE(pressed, nullptr) << sheetText().toStdString();
      EXPECT_NE(button("Cancel"), nullptr);
      pressed->click();
      const bool goesOn = std::string_view(c.answer) == "Continue Anyway";
      EXPECT_EQ(executor_.runs() > runsBefore, goesOn) << "the file check follows the answer";
      if (window_->sheets().currentSheet() == window_->burnOptionSheet()->dialog.get())
        window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
      break;
    }
  }
  EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
}

INSTANTIATE_TEST_SUITE_P(Discs, DataWindowMedium, ::testing::ValuesIn(kMediumCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Two files that fit on the disc but together pass the HFS limit: HFS is never spread over
// discs, so the limit's alert ends the pass; HFS Plus, with spanning on, takes the layout.
TEST_F(DataWindow, AnHfsLimitAlertEndsThePassAndHfsPlusSpansTheSameLayout) {
  auto drive = plugBlank("WRITER", "cd-writer", 0x09, 400'000);
  startDevices();
  ASSERT_TRUE(dropOnDisc({sparseFile("one.bin", 360u << 20), sparseFile("two.bin", 360u << 20)}));
  window_->setFormatType(1);
  QCheckBox* spanSwitch = window_->discSpanning()->controls().discSpanSwitch;
  EXPECT_FALSE(spanSwitch->isEnabled()) << "HFS cannot span";
  const std::uint32_t ref = emu::DeviceEnvironment::refOf("WRITER");
  chooseDestination(ref);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_TRUE(sheetSays("HFS size is limited")) << sheetText().toStdString();
  EXPECT_NE(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get());
  EXPECT_EQ(window_->runningJob().BPRef, 0u);
  EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
  EXPECT_TRUE(window_->driveBar()->layoutDstDriveButton->isEnabled());
  // The same layout in HFS Plus is not held to the HFS limit.
  dismissSheet();
  window_->setFormatType(2);
  ASSERT_TRUE(spanSwitch->isEnabled());
  spanSwitch->click();
  ASSERT_TRUE(window_->layoutState().discSpan);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  EXPECT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get())
      << sheetText().toStdString();
  window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
  EXPECT_EQ(window_->runningJob().BPRef, 0u) << "cancelling the options lets the job go";
}

// ISO9660 records files up to 2,097,152 blocks of 2,048 bytes: exactly 4 GiB passes, one
// block more is refused with the ISO9660 alert.
struct IsoLimitCase {
  const char* name;
  std::uint64_t bytes;
  bool refused;
  bool spanning = false;  // the alert ends the pass also with disc spanning on
};

class DataWindowIsoLimit : public DataWindow, public ::testing::WithParamInterface<IsoLimitCase> {};

TEST_P(DataWindowIsoLimit, TheBiggestFileDecides) {
  auto drive = plugBlank("WRITER", "bd-writer", 0x41, kBdBlocks);
  startDevices();
  ASSERT_TRUE(dropOnDisc({sparseFile("big.bin", GetParam().bytes)}));
  window_->setFormatType(512);
  const std::uint32_t ref = emu::DeviceEnvironment::refOf("WRITER");
  chooseDestination(ref);
  if (GetParam().spanning) {
    window_->discSpanning()->controls().discSpanSwitch->click();
    ASSERT_TRUE(window_->layoutState().discSpan);
  }
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  if (GetParam().refused) {
    EXPECT_TRUE(sheetSays("ISO9660 file size is limited")) << sheetText().toStdString();
    EXPECT_EQ(window_->runningJob().BPRef, 0u);
    EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
  } else {
    EXPECT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get())
        << sheetText().toStdString();
    EXPECT_NE(window_->runningJob().BPRef, 0u);
    window_->burnOptionSheet()->BScancelBurnOptionsButton->click();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DataWindowIsoLimit,
    ::testing::Values(IsoLimitCase{"four_gib", 4ull << 30, false},
                      IsoLimitCase{"one_block_more", (4ull << 30) + 2048, true},
                      IsoLimitCase{"one_block_more_spanning", (4ull << 30) + 2048, true, true}),
    [](const auto& p) { return std::string(p.param.name); });

// The ISO image writer's file is saved under its own key and comes back with the layout.
TEST_F(DataWindow, AnIsoDestinationSurvivesSavingAndLoading) {
  writeFiles(dir_.path() / "source", {{"a.txt", 10}, {"sub/b.txt", 20}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  chooseDestination(kISOImageWriterRef);
  const QString isoPath = QString::fromStdString((dir_.path() / "saved.iso").string());
  window_->setImageWriterPath(kISOImageWriterRef, isoPath);
  window_->setFormatType(512);  // XA is kept only where no HFS part is
  LayoutState& options = window_->layoutState();
  options.writeXA = true;
  options.appendAppleExtension = false;
  // Spanning on would take the destination off the image writer when the layout loads.
  options.discSpan = false;
  options.volumeSetName = QStringLiteral("SET");
  options.preparerName = QStringLiteral("PREP");
  LayoutFileIO saved;
  window_->saveLayout(saved);
  EXPECT_EQ(saved.DstISOImagePath(), isoPath);
  EXPECT_TRUE(saved.DstCDImagePath().isEmpty()) << "the CD image writer's key is not taken";
  const LayoutFileIO reread = LayoutFileIO::initWithXMLData(saved.XMLData());

  window_.reset();
  makeWindow(&reread);
  EXPECT_TRUE(window_->lastLayoutLoaded());
  EXPECT_EQ(window_->burnSettings().dstDriveRef, kISOImageWriterRef);
  EXPECT_EQ(window_->ISOImageWriterPath(), isoPath);
  EXPECT_EQ(discRows(), (QStringList{"a.txt", "sub"}));
  const LayoutState& back = window_->layoutState();
  EXPECT_EQ(window_->formatType(), 512u);
  EXPECT_TRUE(back.writeXA);
  EXPECT_FALSE(back.appendAppleExtension);
  EXPECT_FALSE(back.discSpan);
  EXPECT_EQ(back.volumeSetName, QStringLiteral("SET"));
  EXPECT_EQ(back.preparerName, QStringLiteral("PREP"));
  // The tree map of the reloaded layout writes out as it was read.
  LayoutFileIO again;
  window_->saveLayout(again);
  EXPECT_EQ(again.FSTreeMap(), saved.FSTreeMap());
}

// A tree map that does not read back whole is refused: the layout stays empty and the user
// is told, rather than shown part of the layout or nodes in the wrong place.
class DataWindowDamagedMap : public DataWindow,
                             public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(DataWindowDamagedMap, TheLayoutIsRefused) {
  writeFiles(dir_.path() / "source", {{"a.txt", 10}, {"sub/b.txt", 20}, {"z.txt", 30}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  LayoutFileIO saved;
  window_->saveLayout(saved);
  QByteArray map = saved.FSTreeMap();
  ASSERT_GT(map.size(), 8);
  const int change = GetParam().second;
  if (change < 0)
    map.chop(-change);
  else
    map.append(QByteArray(change, '\x5A'));
  saved.SetFSTreeMap(map);

  window_.reset();
  makeWindow(&saved);
  EXPECT_FALSE(window_->lastLayoutLoaded());
  EXPECT_TRUE(discRows().isEmpty());
  EXPECT_TRUE(sheetSays("Not A Valid Layout File!")) << sheetText().toStdString();
  EXPECT_TRUE(window_->layoutState().treeMap.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Damages, DataWindowDamagedMap,
                         ::testing::Values(std::make_pair("last_byte_cut", -1),
                                           std::make_pair("half_a_record_cut", -40),
                                           std::make_pair("bytes_after_the_end", 3)),
                         [](const auto& p) { return std::string(p.param.first); });

// While the window is shrunk around the burn's progress it keeps that size, whatever size is
// asked of it; before and after, the size asked for is granted, and the burn gives back the
// size the window had.
TEST_F(DataWindow, WhileShrunkForTheBurnTheWindowKeepsItsSize) {
  writeFiles(dir_.path() / "source", {{"a.txt", 5000}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  QMainWindow* w = window_->window();
  const QSize full(900, 700);
  EXPECT_EQ(window_->windowWillResize(full), full);
  w->resize(full);
  ASSERT_EQ(w->size(), full);

  ASSERT_TRUE(burnToIsoImage(dir_.path() / "shrunk.iso"));
  ASSERT_TRUE(window_->windowIsSmall());
  const QSize small = w->size();
  EXPECT_LT(small.height(), full.height()) << "shrunk around the progress sheet";
  for (const QSize asked : {QSize(1000, 800), QSize(200, 150), full}) {
    EXPECT_EQ(window_->windowWillResize(asked), small);
    w->resize(asked);
    EXPECT_EQ(w->size(), small) << asked.width() << "x" << asked.height();
  }

  dismissResult();
  EXPECT_FALSE(window_->windowIsSmall());
  EXPECT_EQ(w->size(), full) << "the size it had before the burn";
  const QSize larger(950, 720);
  EXPECT_EQ(window_->windowWillResize(larger), larger);
  w->resize(larger);
  EXPECT_EQ(w->size(), larger);
}

// The Add button's open panel takes a folder with the files chosen beside it: the folder is
// added with everything in it, as a dropped folder is.
TEST_F(DataWindow, TheOpenPanelAddsAChosenFolderWithItsContents) {
  const fs::path pick = dir_.path() / "pick";
  writeFiles(pick, {{"album/one.txt", 100}, {"album/inner/two.txt", 200}, {"loose.txt", 300}});
  startDevices();
  window_->dataLayoutBar()->addDataTrackButton->click();
  auto* dialog = qobject_cast<QFileDialog*>(window_->sheets().currentSheet());
  ASSERT_NE(dialog, nullptr) << "the panel is a sheet on the window";
  EXPECT_EQ(dialog->directory().absolutePath(), QDir::homePath());
  dialog->setDirectory(QString::fromStdString(pick.string()));
  auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
  ASSERT_NE(list, nullptr);
  auto* files = qobject_cast<QFileSystemModel*>(list->model());
  ASSERT_NE(files, nullptr);
  // A person selects the folder and the file beside it, then presses Open.
  for (const char* name : {"album", "loose.txt"}) {
    const QModelIndex row = files->index(QString::fromStdString((pick / name).string()));
    ASSERT_TRUE(row.isValid()) << name;
    list->selectionModel()->select(row, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  QPushButton* open = buttons->button(QDialogButtonBox::Open);
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(open->isEnabled());
  open->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);

  EXPECT_EQ(discRows(), (QStringList{"album", "loose.txt"}));
  DataLayoutCtlr& model = window_->dataLayoutModel();
  const QModelIndex album = discRow("album");
  ASSERT_TRUE(album.isValid());
  QStringList inAlbum;
  for (int r = 0; r < model.rowCount(album); ++r)
    inAlbum << model.index(r, 0, album).data().toString();
  EXPECT_EQ(inAlbum, (QStringList{"inner", "one.txt"}));
  const QModelIndex inner = model.index(0, 0, album);
  ASSERT_EQ(model.rowCount(inner), 1);
  EXPECT_EQ(model.index(0, 0, inner).data().toString(), QStringLiteral("two.txt"));
  // The items under the outline count the folders and files added.
  EXPECT_TRUE(window_->dataLayoutBar()->totalFilesField->text().startsWith(QStringLiteral("5 ")))
      << window_->dataLayoutBar()->totalFilesField->text().toStdString();
}

// How a person sees the window after a drop: the outline's rows under the disc row are the
// dropped items, in title order, with their sizes; a picture is left for people to look at.
TEST_F(DataWindow, TheOutlineShowsWhatWasDropped) {
  writeFiles(dir_.path() / "source",
             {{"Readme.txt", 2047}, {"docs/notes.txt", 70'000}, {"media/big.dat", 1'500'000}});
  startDevices();
  ASSERT_TRUE(dropContentsOf(dir_.path() / "source"));
  EXPECT_EQ(discRows(), (QStringList{"docs", "media", "Readme.txt"}));
  auto* view = qobject_cast<QTreeView*>(window_->dataLayoutView());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->model(), &window_->dataLayoutModel());
  view->expandAll();
  const QModelIndex media = discRow("media");
  ASSERT_EQ(window_->dataLayoutModel().rowCount(media), 1);
  EXPECT_EQ(window_->dataLayoutModel().index(0, 0, media).data().toString(), "big.dat");
  // The layout's totals are the source tree's: its folders, its files and their bytes.
  std::uint32_t folders = 0, files = 0;
  std::uint64_t blocks = 0, rsrc = 0;
  ASSERT_EQ(TreeInfo(window_->layoutTree(), &folders, &files, &blocks, &rsrc, true), kNoErr);
  std::uint32_t diskFolders = 0, diskFiles = 0;
  std::uint64_t diskBytes = 0, layoutBytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir_.path() / "source")) {
    if (e.is_directory()) ++diskFolders;
    if (e.is_regular_file()) {
      ++diskFiles;
      diskBytes += e.file_size();
    }
  }
  const auto addBytes = [](FS_Node* node, bool*, void* context, std::uint16_t, bool*) {
    if (!IsFolderNode(node)) *static_cast<std::uint64_t*>(context) += dataActualSizeNode(node);
  };
  ASSERT_EQ(WalkWholeTree(window_->layoutTree(), addBytes, &layoutBytes, nullptr), kNoErr);
  EXPECT_EQ(folders, diskFolders);
  EXPECT_EQ(files, diskFiles);
  EXPECT_EQ(layoutBytes, diskBytes);
  EXPECT_FALSE(media.sibling(media.row(), DataLayoutCtlr::kSizeColumn).data().toString().isEmpty())
      << "each row shows its size";
  // What a person reads under the outline: every folder and file of the source as items,
  // and the bytes the tree counts.
  const DataLayoutBar* bar = window_->dataLayoutBar();
  ASSERT_NE(bar, nullptr);
  const QString items = bar->totalFilesField->text();
  EXPECT_TRUE(items.startsWith(QString::number(diskFolders + diskFiles) + QLatin1Char(' ')))
      << items.toStdString();
  EXPECT_TRUE(items.endsWith(QStringLiteral("Items"))) << items.toStdString();
  EXPECT_EQ(bar->totalSizeField->text(), ZEBUtils::bytesToString(blocks + rsrc));
  EXPECT_TRUE(bar->totalFilesField->isVisible());
  const QString png = screenshotPath(QStringLiteral("data-window-after-drop.png"));
  EXPECT_TRUE(window_->window()->grab().save(png, "PNG")) << png.toStdString();
  EXPECT_TRUE(QFile::exists(png));
}

// A DVD+RW never formatted is sized by the room its one blank track offers, as the device
// list shows it: a layout that fits is burned and reads back file by file; one larger than
// the disc is refused for want of room.
struct BlankRewritableCase {
  const char* name;
  std::uint32_t capacity;
  std::uint64_t sparseBytes;  // a file that takes no room on the test's disc; 0 for none
  bool fits;
};

class DataWindowBlankDvdPlusRw : public DataWindow,
                                 public ::testing::WithParamInterface<BlankRewritableCase> {};

TEST_P(DataWindowBlankDvdPlusRw, IsSizedByItsFreeBlocks) {
  const BlankRewritableCase& c = GetParam();
  QUILLION_REQUIRE_TOOL("xorriso");
  auto drive = plugBlank("WRITER", "dvd-writer", 0x1A, c.capacity);
  startDevices();
  const std::uint32_t ref = emu::DeviceEnvironment::refOf("WRITER");
  EXPECT_EQ(devices_->DDI_getFreeSpace(ref), std::uint64_t{c.capacity} * 2048);
  const fs::path source = dir_.path() / "source";
  writeFiles(source, {{"a.txt", 5000}, {"sub/b.bin", 700'000}, {"sub/deeper/c.dat", 3}});
  ASSERT_TRUE(dropContentsOf(source));
  if (c.sparseBytes) {
    ASSERT_TRUE(dropOnDisc({sparseFile("large.bin", c.sparseBytes)}));
  }
  window_->setFormatType(512);
  if (!c.fits) {
    chooseDestination(ref);
    ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
    EXPECT_TRUE(sheetSays("Not Enough Space In Destination")) << sheetText().toStdString();
    EXPECT_EQ(window_->runningJob().BPRef, 0u);
    EXPECT_EQ(devices_->statusOfDevice(ref), kDriveReady);
    return;
  }
  // A disc rewritten in place is burned as a session: the options offer only that button.
  chooseDestination(ref);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  BurnOptionsSheet* options = window_->burnOptionSheet();
  ASSERT_EQ(window_->sheets().currentSheet(), options->dialog.get()) << sheetText().toStdString();
  EXPECT_FALSE(options->BSburnDiscButton->isEnabled());
  ASSERT_TRUE(options->BSburnSessionButton->isEnabled());
  options->BSburnSessionButton->click();
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get())
      << sheetText().toStdString();
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  ASSERT_EQ(window_->runningJob().lastResult, kResultCompleted) << sheetText().toStdString();
  const fs::path image = dumpDisc(*drive, "written");
  dismissResult();
  const ReadBack iso = readIso9660Side(image, dir_.path() / "read");
  ASSERT_TRUE(iso.ok) << iso.said;
  EXPECT_EQ(treeDifferences(iso.files, filesBelow(source)), "");
}

INSTANTIATE_TEST_SUITE_P(Discs, DataWindowBlankDvdPlusRw,
                         ::testing::Values(BlankRewritableCase{"fits", 2'295'104, 0, true},
                                           BlankRewritableCase{"larger_than_the_disc", 20'000,
                                                               60u << 20, false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
