// SPDX-License-Identifier: GPL-2.0-or-later
// Editing a data tree from its layout window: new folders, removal, the open panel's adds
// under the data filter, the format pop-up and the options drawer, the ISO9660 volume texts,
// the file-properties sheet, the totals under the outline, the filter editor and the offer
// to take over an earlier session. Folders are made on disk and counted there independently
// of the tree.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <map>
#include <memory>

#include "burn/data_edit_rules.h"
#include "device_environment.h"
#include "documents/layout_document_kinds.h"
#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "framework/open_panel.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/data_edit_panels.h"
#include "layout/data_filter_editor.h"
#include "layout/data_layout_ctlr.h"
#include "layout/layout_file_io.h"
#include "layout/layout_services.h"
#include "layout/session_tab.h"
#include "layout/window_tables.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/zeb_utils.h"
#include "support/builtin_messages.h"
#include "support/disk_totals.h"
#include "support/tree_lookup.h"
#include "support/gui_test_env.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

// Answers the open panel from the test: the request is kept, the paths are handed back.
class ScriptedOpenPanel final : public OpenPanel {
 public:
  bool beginSheet(SheetHost&, const OpenPanelRequest& request,
                  std::function<void(int, const QStringList&)> didEnd) override {
    requests.push_back(request);
    didEnd(answer.isEmpty() ? kCancel : kOK, answer);
    return true;
  }
  QStringList answer;
  std::vector<OpenPanelRequest> requests;
};

// A window of a layout kind that counts the DVD-Video check.
class EditWindow final : public BaseLayoutWinCtlr {
 public:
  using BaseLayoutWinCtlr::BaseLayoutWinCtlr;
  void checkDVDMovieFormat() override { ++dvdChecks; }
  int dvdChecks = 0;
};

class DataTreeEditTest : public test::GuiTest {
 protected:
  DataTreeEditTest() {
    defaults_.registerDefaults(registeredPreferenceDefaults());
    layoutServices() = LayoutServices{};
    layoutServices().defaults = &defaults_;
    src_ = dir_.path() / "src";
    fs::create_directories(src_ / "sub" / "deeper");
    test::writeFile(src_ / "a.txt", std::string(5000, 'a'));
    test::writeFile(src_ / "notes.doc", std::string(10, 'n'));
    test::writeFile(src_ / "sub" / "b.doc", std::string(9000, 'b'));
    test::writeFile(src_ / "sub" / "c.txt", std::string(3, 'c'));
    test::writeFile(src_ / "sub" / "deeper" / "d.doc", std::string(4096, 'd'));
    for (const char* name : {VUK_LayoutChangedNotification, VUK_FilesRemovedNotification,
                             VUK_FilesAddedNotification, VUK_FilesDroppedNotification})
      NotificationCenter::instance().observe(&recorder_, QString::fromLatin1(name),
                                             NotificationCenter::AnySender,
                                             [this](const Notification& n) {
                                               posted_.push_back({n.name, n.sender});
                                             });
  }
  ~DataTreeEditTest() override {
    window_.reset();
    layoutServices() = LayoutServices{};
  }

  void open(const char* typeName = "Data CD") {
    const LayoutKind* kind = findLayoutDocumentKind(QString::fromLatin1(typeName));
    ASSERT_NE(kind, nullptr);
    window_ = std::make_unique<EditWindow>(*kind);
    window_->setOpenPanel(&panel_);
    window_->window();
    window_->installDataSource(&model_);
    view_ = qobject_cast<QTreeView*>(window_->dataLayoutView());
    ASSERT_NE(view_, nullptr);
    posted_.clear();
  }

  FS_Node* at(const std::string& relative) const {
    return nodeAtPath(model_.treeData(), relative);
  }

  bool drop(std::initializer_list<fs::path> paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
    data.setUrls(urls);
    return model_.dropMimeData(&data, Qt::CopyAction, -1, 0, model_.index(0, 0));
  }

  void select(std::initializer_list<FS_Node*> nodes) {
    view_->clearSelection();
    for (FS_Node* node : nodes)
      view_->selectionModel()->select(model_.indexForNode(node),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  int postedCount(const char* name) const {
    int n = 0;
    for (const auto& [postedName, sender] : posted_)
      if (postedName == QLatin1String(name) && sender == view_) ++n;
    return n;
  }

  QStringList filterPopupItems() const {
    QStringList items;
    QComboBox* popup = window_->dataLayoutBar()->dataFilterButton;
    for (int i = 0; i < popup->count(); ++i) items << popup->itemText(i);
    return items;
  }

  test::ScopedBuiltInMessages messages_;
  test::TempDir dir_;
  Defaults defaults_{test::makeTempDir("tree-edit-settings") + "/quillion.conf"};
  fs::path src_;
  QObject recorder_;
  std::vector<std::pair<QString, const void*>> posted_;
  ScriptedOpenPanel panel_;
  DataLayoutCtlr model_;
  QAbstractItemModelTester tester_{&model_, QAbstractItemModelTester::FailureReportingMode::Fatal};
  std::unique_ptr<EditWindow> window_;
  QTreeView* view_ = nullptr;
};

TEST_F(DataTreeEditTest, NewFoldersAreNumberedAndGoBesideASelectedFile) {
  open();
  window_->DLnewDataItem();
  window_->DLnewDataItem();
  EXPECT_NE(at("New Folder"), nullptr);
  EXPECT_NE(at("New Folder1"), nullptr);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 2);
  EXPECT_TRUE(window_->window()->isWindowModified());

  ASSERT_TRUE(drop({src_}));
  select({at("src/sub/c.txt")});
  window_->DLnewDataItem();
  EXPECT_NE(at("src/sub/New Folder"), nullptr);
  EXPECT_TRUE(IsFolderNode(at("src/sub/New Folder")));
}

TEST_F(DataTreeEditTest, RemovingTheDiscRowEmptiesTheLayoutAndMarksItChanged) {
  open();
  ASSERT_TRUE(drop({src_}));
  window_->window()->setWindowModified(false);
  posted_.clear();
  select({model_.nodeForIndex(model_.index(0, 0))});
  EXPECT_TRUE(window_->dataLayoutBar()->removeDataTrackButton->isEnabled());
  window_->DLremoveDataItem();
  EXPECT_STREQ(GetTitleNode(GetRootTreeNode(model_.treeData())), "Untitled");
  EXPECT_EQ(NumNodes(model_.treeData()), 0u);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);
  EXPECT_EQ(postedCount(VUK_FilesRemovedNotification), 1);
  EXPECT_TRUE(window_->window()->isWindowModified());
  EXPECT_FALSE(window_->dataLayoutBar()->removeDataTrackButton->isEnabled());
  EXPECT_EQ(window_->dataTotals().totalFilesFolders, 0u);
}

TEST_F(DataTreeEditTest, RemovingAFolderWithItsOwnFileSelectedRemovesEachOnce) {
  open();
  ASSERT_TRUE(drop({src_}));
  posted_.clear();
  select({at("src/sub"), at("src/sub/b.doc"), at("src/a.txt")});
  window_->DLremoveDataItem();
  EXPECT_EQ(at("src/sub"), nullptr);
  EXPECT_EQ(at("src/a.txt"), nullptr);
  EXPECT_NE(at("src/notes.doc"), nullptr);
  EXPECT_EQ(postedCount(VUK_FilesRemovedNotification), 2);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);
  // Removing nothing changes nothing.
  posted_.clear();
  window_->DLremoveDataItem();
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 0);
}

TEST_F(DataTreeEditTest, TotalsUnderTheOutlineMatchTheSourceTree) {
  open();
  ASSERT_TRUE(drop({src_}));
  const DiskTotals disk = countOnDisk(src_);
  const auto& totals = window_->dataTotals();
  EXPECT_EQ(totals.totalFilesFolders, disk.items());
  EXPECT_EQ(totals.totalSize, disk.blockBytes);
  EXPECT_EQ(window_->dataLayoutBar()->totalFilesField->text(),
            QStringLiteral("%1 Items").arg(disk.items()));
  EXPECT_EQ(window_->dataLayoutBar()->totalSizeField->text(),
            ZEBUtils::bytesToString(disk.blockBytes));
  EXPECT_TRUE(view_->isExpanded(model_.index(0, 0)));
}

TEST_F(DataTreeEditTest, MixedModeTotalsAddTheAudioTimeIn64Bits) {
  open("Mixed CD");
  ASSERT_TRUE(drop({src_}));
  // 20,000 s of audio: 3,072,000,000 bytes, more than a signed 32-bit product holds.
  window_->setTotalTimeInSeconds(20000);
  window_->DLrefreshData();
  const std::uint64_t expected = 20000ull * 153600ull + countOnDisk(src_).blockBytes;
  EXPECT_EQ(window_->dataLayoutBar()->totalSizeTextField->text(),
            QStringLiteral("Total: ") + ZEBUtils::bytesToString(expected));
}

TEST_F(DataTreeEditTest, AFileTheFilterRefusesSkipsOnlyItselfInTheOpenPanelsAdd) {
  open();
  QComboBox* filters = window_->dataLayoutBar()->dataFilterButton;
  window_->dataFilterChange(QStringLiteral("doc"));
  EXPECT_EQ(model_.filter(), "doc");
  panel_.answer = {QString::fromStdString((src_ / "a.txt").string()),
                   QString::fromStdString((src_ / "notes.doc").string()),
                   QString::fromStdString((src_ / "sub").string())};
  window_->DLaddDataItem();
  ASSERT_EQ(panel_.requests.size(), 1u);
  EXPECT_EQ(panel_.requests[0].types, QStringList({"", "doc", "doc", "doc", "doc"}));
  EXPECT_EQ(panel_.requests[0].directory, QDir::homePath());
  EXPECT_EQ(at("a.txt"), nullptr);
  EXPECT_NE(at("notes.doc"), nullptr);
  EXPECT_NE(at("sub/b.doc"), nullptr);
  EXPECT_NE(at("sub/deeper/d.doc"), nullptr);
  EXPECT_EQ(at("sub/c.txt"), nullptr);
  // notes.doc, sub, b.doc, deeper, d.doc
  EXPECT_EQ(window_->dataTotals().totalFilesFolders, 5u);
  EXPECT_EQ(filters->count(), 5);  // All, doc, txt, separator, Edit...
}

TEST_F(DataTreeEditTest, AFolderDroppedUnderTheDocFilterKeepsItsFoldersAndDocFiles) {
  open();
  window_->dataFilterChange(QStringLiteral("doc"));
  ASSERT_TRUE(drop({src_, src_ / "a.txt"}));
  EXPECT_EQ(at("a.txt"), nullptr);
  EXPECT_EQ(at("src/a.txt"), nullptr);
  EXPECT_NE(at("src/notes.doc"), nullptr);
  EXPECT_NE(at("src/sub/deeper/d.doc"), nullptr);
  EXPECT_EQ(window_->dataTotals().totalFilesFolders, countOnDisk(src_, ".doc").items());
}

TEST_F(DataTreeEditTest, TheChosenFilterIsSavedAndALoadedLayoutFiltersByIt) {
  open();
  window_->dataFilterChange(QStringLiteral("txt"));
  LayoutFileIO saved;
  window_->saveLayout(saved);
  EXPECT_EQ(saved.dataFilterIndex(), 2) << "All, doc, txt";
  window_->dataFilterClose();
  LayoutFileIO reset;
  window_->saveLayout(reset);
  EXPECT_EQ(reset.dataFilterIndex(), 0) << "closing the editor chooses All";

  const LayoutFileIO reread = LayoutFileIO::initWithXMLData(saved.XMLData());
  window_.reset();
  const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
  ASSERT_NE(kind, nullptr);
  window_ = std::make_unique<EditWindow>(*kind);
  window_->setLayoutFile(reread);
  window_->window();
  window_->installDataSource(&model_);
  EXPECT_EQ(window_->dataLayoutBar()->dataFilterButton->currentText(), QStringLiteral("txt"));
  EXPECT_EQ(model_.filter(), "txt");
  ASSERT_TRUE(drop({src_}));
  EXPECT_NE(at("src/a.txt"), nullptr);
  EXPECT_EQ(at("src/notes.doc"), nullptr);

  // An index past the list (a filter removed since) falls back to All.
  LayoutFileIO stale = LayoutFileIO::initWithXMLData(saved.XMLData());
  stale.setDataFilterIndex(40);
  window_.reset();
  window_ = std::make_unique<EditWindow>(*kind);
  window_->setLayoutFile(stale);
  window_->window();
  EXPECT_EQ(window_->dataLayoutBar()->dataFilterButton->currentIndex(), 0);
  LayoutFileIO again;
  window_->saveLayout(again);
  EXPECT_EQ(again.dataFilterIndex(), 0);
}

TEST_F(DataTreeEditTest, OneChosenFolderBecomesTheDiscOnlyAloneAndWithTheSwitchOn) {
  defaults_.set(QString::fromLatin1(VUKFolderReplaceCDKey), true);
  open();
  panel_.answer = {QString::fromStdString(src_.string())};
  window_->DLaddDataItem();
  EXPECT_STREQ(GetTitleNode(GetRootTreeNode(model_.treeData())), "src");
  EXPECT_NE(at("sub/deeper/d.doc"), nullptr);

  DataLayoutCtlr second;
  window_->installDataSource(&second);
  panel_.answer = {QString::fromStdString((src_ / "sub").string()),
                   QString::fromStdString((src_ / "a.txt").string())};
  window_->DLaddDataItem();
  EXPECT_STREQ(GetTitleNode(GetRootTreeNode(second.treeData())), "Untitled");
  EXPECT_EQ(NumNodeChildren(second.treeData(), GetRootTreeNode(second.treeData())), 2u);
  window_->installDataSource(&model_);
}

TEST_F(DataTreeEditTest, ACancelledOpenPanelAddsNothing) {
  open();
  window_->DLaddPictureItem();
  ASSERT_EQ(panel_.requests.size(), 1u);
  EXPECT_EQ(panel_.requests[0].types, QStringList({"", "jpg"}));
  EXPECT_EQ(NumNodes(model_.treeData()), 0u);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 0);
}

TEST_F(DataTreeEditTest, ClosingTheFilterEditorSetsTheModelBackToAll) {
  open();
  QComboBox* popup = window_->dataLayoutBar()->dataFilterButton;
  window_->dataFilterChange(QStringLiteral("doc"));
  ASSERT_EQ(model_.filter(), "doc");
  DataFilterEditor* editor = window_->dataFilterEditor();
  window_->dataFilterChange(QStringLiteral("Edit…"));
  EXPECT_EQ(window_->sheets().currentSheet(), editor->dataFilterPanel());

  window_->dataFilterAdd();
  window_->dataFilterAdd();  // a second add edits the same placeholder
  EXPECT_EQ(editor->dataFilterArray(), QStringList({"All", "doc", "txt", "???", "Edit…"}));
  EXPECT_EQ(filterPopupItems(), QStringList({"All", "doc", "txt", "???", "", "Edit…"}));
  EXPECT_EQ(editor->dataFilterView()->selectionModel()->selectedRows().value(0).row(), 2);

  window_->dataFilterClose();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_EQ(editor->dataFilterArray(), QStringList({"All", "doc", "txt", "Edit…"}));
  EXPECT_EQ(popup->currentText(), "All");
  EXPECT_EQ(window_->dataFilterType(), "All");
  EXPECT_EQ(model_.filter(), "All");
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  EXPECT_NE(at("a.txt"), nullptr);
}

TEST_F(DataTreeEditTest, FilterEditsAreNumberedSavedAndSharedWithOtherWindows) {
  open();
  DataFilterEditor* editor = window_->dataFilterEditor();
  window_->dataFilterAdd();
  DataFilterTableModel* table = editor->tableModel();
  ASSERT_TRUE(table->setData(table->index(2, 0), QStringLiteral("doc")));
  EXPECT_EQ(editor->dataFilterArray(), QStringList({"All", "doc", "txt", "doc1", "Edit…"}));
  window_->dataFilterAdd();
  ASSERT_TRUE(table->setData(table->index(3, 0), QStringLiteral("doc")));
  EXPECT_EQ(editor->dataFilterArray().at(4), "doc2");
  EXPECT_EQ(filterPopupItems().at(4), "doc2");

  // Written at once: a second reader of the same settings file sees it.
  Defaults reader(defaults_.filePath());
  EXPECT_EQ(reader.stringList(QString::fromLatin1(VUKDataFilterKey)),
            QStringList({"All", "doc", "txt", "doc1", "doc2", "Edit…"}));

  editor->dataFilterView()->selectionModel()->select(
      table->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_TRUE(editor->dataFilterRemoveButton()->isEnabled());
  window_->dataFilterRemove();
  EXPECT_EQ(editor->dataFilterArray(), QStringList({"All", "txt", "doc1", "doc2", "Edit…"}));
  EXPECT_FALSE(editor->dataFilterRemoveButton()->isEnabled());
  // Without a selection nothing goes.
  window_->dataFilterRemove();
  EXPECT_EQ(editor->dataFilterArray().size(), 5);

  // Another window's editor follows the shared list.
  DataLayoutCtlr otherModel;
  EditWindow other(*findLayoutDocumentKind(QStringLiteral("Data CD")));
  other.window();
  EXPECT_EQ(other.dataFilterEditor()->dataFilterArray(), editor->dataFilterArray());
  window_->dataFilterAdd();
  EXPECT_EQ(other.dataFilterEditor()->dataFilterArray(), editor->dataFilterArray());
}

struct FormatCase {
  const char* typeName;
  unsigned format;
  bool drawerClosed;
  bool optionsButton;
  bool xaEnabled;
  bool namesEnabled;
  int tab;  // -1: not changed
  bool dvdVideo;
};

class FormatChoice : public DataTreeEditTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatChoice, SetsTheDrawersControls) {
  const FormatCase c = GetParam();
  open(c.typeName);
  DataOptionsDrawer* d = window_->optionsDrawer();
  ASSERT_NE(d, nullptr);
  d->ISO9660_cdromXASwitch->setChecked(true);
  window_->layoutState().writeXA = true;
  window_->DLtoggleDataOptions();
  ASSERT_TRUE(d->isOpen());
  QComboBox* formats = window_->dataLayoutBar()->formatButton;
  const unsigned before = window_->formatType();
  formats->setCurrentIndex(formats->findData(c.format));
  window_->toggleFormat();
  EXPECT_EQ(window_->formatType(), c.format);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), before == c.format ? 0 : 1);
  EXPECT_EQ(d->isOpen(), !c.drawerClosed);
  EXPECT_EQ(window_->dataLayoutBar()->dataOptionsButton->isEnabled(), c.optionsButton);
  if (!c.drawerClosed) {
    EXPECT_EQ(d->ISO9660_cdromXASwitch->isEnabled(), c.xaEnabled);
    EXPECT_EQ(d->ISO9660_systemNameField->isEnabled(), c.namesEnabled);
  }
  if (c.tab >= 0) {
    EXPECT_EQ(d->ISO9660_iso9660TabView->currentIndex(), c.tab);
  }
  // Only a data layout's model becomes DVD-Video; the window's check runs for the format.
  EXPECT_EQ(model_.isDVDVideo(), c.dvdVideo);
  EXPECT_EQ(window_->dvdChecks, c.format == 64u ? 1 : 0);
  // A hybrid with HFS clears the XA setting with its switch.
  const bool hfsHybrid = (c.format & 0xF00) != 0 && (c.format & 0xF) != 0;
  if (hfsHybrid) {
    EXPECT_FALSE(d->ISO9660_cdromXASwitch->isChecked());
    EXPECT_FALSE(window_->useCDXAFormat());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatChoice,
    ::testing::Values(FormatCase{"Data CD", 2, true, false, true, true, -1, false},
                      FormatCase{"Data CD", 1, true, false, true, true, -1, false},
                      FormatCase{"Data CD", 16, false, true, false, false, 1, false},
                      FormatCase{"Data CD", 32, false, true, false, false, 1, false},
                      FormatCase{"Data CD", 64, true, false, true, true, -1, true},
                      FormatCase{"Data CD", 256, false, true, true, true, 0, false},
                      FormatCase{"Data CD", 512, false, true, true, true, 0, false},
                      FormatCase{"Data CD", 258, false, true, false, true, 0, false},
                      FormatCase{"Data CD", 513, false, true, false, true, 0, false},
                      FormatCase{"CD Extra", 512, false, true, false, true, 0, false},
                      FormatCase{"Mixed CD", 64, true, false, true, true, -1, false}));

TEST_F(DataTreeEditTest, AFormatThePopUpLacksBecomesHfsPlusAndOtherFormatsClearDvdVideo) {
  open();
  QComboBox* formats = window_->dataLayoutBar()->formatButton;
  formats->setCurrentIndex(formats->findData(64u));
  window_->toggleFormat();
  ASSERT_TRUE(model_.isDVDVideo());
  formats->setCurrentIndex(-1);
  window_->DLrefreshData();
  EXPECT_EQ(window_->formatType(), 2u);
  EXPECT_FALSE(model_.isDVDVideo());
}

struct VideoAnswer {
  bool replace;
};

class VideoFolderPrompt : public DataTreeEditTest,
                          public ::testing::WithParamInterface<VideoAnswer> {};

TEST_P(VideoFolderPrompt, ADvdVideoLayoutAsksBeforeItsVideoFolderIsReplaced) {
  open();
  const fs::path first = dir_.path() / "one" / "VIDEO_TS";
  const fs::path second = dir_.path() / "two" / "VIDEO_TS";
  fs::create_directories(first);
  fs::create_directories(second);
  test::writeFile(first / "VTS_01_0.IFO", "one");
  test::writeFile(second / "VIDEO_TS.IFO", "two");
  QComboBox* formats = window_->dataLayoutBar()->formatButton;
  formats->setCurrentIndex(formats->findData(64u));
  window_->toggleFormat();
  // A DVD-Video layout holds its own, empty, video folder from the start.
  ASSERT_EQ(AddTreeNode(model_.treeData(), initNode(nullptr, "VIDEO_TS", nullptr, false), nullptr),
            kNoErr);
  model_.reloadData();
  int asked = 0;
  model_.setReplaceQuestion([&](const QString&, const QString&) {
    ++asked;
    return GetParam().replace;
  });
  ASSERT_TRUE(drop({first}));
  ASSERT_TRUE(drop({second}));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(at("VIDEO_TS/VIDEO_TS.IFO") != nullptr, GetParam().replace);
  EXPECT_EQ(at("VIDEO_TS/VTS_01_0.IFO") != nullptr, !GetParam().replace);
  EXPECT_EQ(window_->dataTotals().totalFilesFolders, 2u);
}

INSTANTIATE_TEST_SUITE_P(Answers, VideoFolderPrompt,
                         ::testing::Values(VideoAnswer{true}, VideoAnswer{false}));

struct IsoNameCase {
  IsoNameField field;
  int length;
  bool accepted;
};

class IsoNameLimits : public DataTreeEditTest, public ::testing::WithParamInterface<IsoNameCase> {};

TEST_P(IsoNameLimits, AcceptUpToTheLimitAndRefuseOneMore) {
  const IsoNameCase c = GetParam();
  open();
  DataOptionsDrawer* d = window_->optionsDrawer();
  QLineEdit* fields[] = {d->ISO9660_volumeSetNameField, d->ISO9660_systemNameField,
                         d->ISO9660_publisherNameField, d->ISO9660_preparerNameField};
  QString* stored[] = {&window_->layoutState().volumeSetName, &window_->layoutState().systemName,
                       &window_->layoutState().publisherName, &window_->layoutState().preparerName};
  const auto i = static_cast<std::size_t>(c.field);
  *stored[i] = QStringLiteral("before");
  // Characters outside the basic plane count once each.
  QString text;
  for (int k = 0; k < c.length; ++k)
    text += k % 2 ? QStringLiteral("A") : QStringLiteral("\U0001F4BF");
  fields[i]->setText(text);
  window_->DLtextDidEndEditing(c.field);
  if (c.accepted) {
    EXPECT_EQ(*stored[i], text);
    EXPECT_EQ(fields[i]->text(), text);
    EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);
    EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
    window_->DLtextDidEndEditing(c.field);
    EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);
  } else {
    EXPECT_EQ(*stored[i], "before");
    EXPECT_TRUE(fields[i]->text().isEmpty());
    EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 0);
    ASSERT_NE(window_->sheets().currentSheet(), nullptr);
    window_->sheets().currentSheet()->reject();
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, IsoNameLimits,
                         ::testing::Values(IsoNameCase{IsoNameField::kSystem, 32, true},
                                           IsoNameCase{IsoNameField::kSystem, 33, false},
                                           IsoNameCase{IsoNameField::kVolumeSet, 128, true},
                                           IsoNameCase{IsoNameField::kVolumeSet, 129, false},
                                           IsoNameCase{IsoNameField::kPublisher, 128, true},
                                           IsoNameCase{IsoNameField::kPublisher, 129, false},
                                           IsoNameCase{IsoNameField::kPreparer, 128, true},
                                           IsoNameCase{IsoNameField::kPreparer, 129, false}));

TEST_F(DataTreeEditTest, XaAndAppleSwitchesAreStoredAndMarkTheLayoutChanged) {
  open();
  DataOptionsDrawer* d = window_->optionsDrawer();
  d->ISO9660_cdromXASwitch->click();
  EXPECT_TRUE(window_->useCDXAFormat());
  d->ISO9660_addAppleExtSwitch->setChecked(true);
  d->ISO9660_addAppleExtSwitch->click();
  EXPECT_FALSE(window_->useAppleExt());
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 2);
  window_->DLtoggleDataOptions();
  EXPECT_TRUE(d->isOpen());
  window_->DLtoggleDataOptions();
  EXPECT_FALSE(d->isOpen());
}

TEST_F(DataTreeEditTest, FilePropertiesShowTheNodeAndRenameIt) {
  open();
  ASSERT_TRUE(drop({src_}));
  select({at("src/sub")});
  window_->doubleDataAction();
  FilePropertiesSheet* s = window_->filePropertiesSheet();
  ASSERT_EQ(window_->sheets().currentSheet(), s->dialog.get());
  EXPECT_EQ(s->FPKindField->text(), "Folder");
  // b.doc, c.txt and d.doc below, and one folder.
  EXPECT_EQ(s->FPSizeField->text(),
            ZEBUtils::bytesToString(9000 + 3 + 4096) + QStringLiteral(", 3 files / 1 folders"));
  EXPECT_EQ(s->FPOriginalField->text(), QString::fromStdString((src_ / "sub").string()));
  window_->FPCancelAction();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);

  select({at("src/a.txt")});
  window_->doubleDataAction();
  EXPECT_EQ(s->FPKindField->text(), "File");
  EXPECT_EQ(s->FPSizeField->text(), ZEBUtils::bytesToString(5000) + QStringLiteral(" ( ") +
                                        ZEBUtils::bytesToString(2 * kTreeBlock) +
                                        QStringLiteral(" on disc )"));
  EXPECT_FALSE(s->FPCreatedField->text().endsWith('\n'));
  EXPECT_FALSE(s->FPModifiedField->text().isEmpty());
  posted_.clear();
  s->FPTitleField->setText(QStringLiteral("renamed.txt"));
  window_->FPOkAction();
  EXPECT_NE(at("src/renamed.txt"), nullptr);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);

  // A sibling's name is refused: the node keeps its own.
  select({at("src/renamed.txt")});
  window_->doubleDataAction();
  s->FPTitleField->setText(QStringLiteral("notes.doc"));
  window_->FPOkAction();
  EXPECT_NE(at("src/renamed.txt"), nullptr);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
}

TEST_F(DataTreeEditTest, ATreeLoadedBeforeTheModelIsInstalledWithIt) {
  const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
  window_ = std::make_unique<EditWindow>(*kind);
  window_->window();
  FS_Tree* loaded = initTree(initNode(nullptr, "Loaded", nullptr, false));
  ASSERT_EQ(AddTreeNode(loaded, initNode(nullptr, "folder", nullptr, false), nullptr), kNoErr);
  window_->DLloadNewDataTree(loaded);
  EXPECT_EQ(window_->DLgetDataTreeRef(), loaded);
  window_->installDataSource(&model_);
  EXPECT_EQ(model_.treeData(), loaded);
  EXPECT_NE(at("folder"), nullptr);
  EXPECT_EQ(window_->dataTotals().totalFilesFolders, 1u);
}

TEST_F(DataTreeEditTest, NotEnoughSpaceFromTheOutlineShowsTheAlert) {
  open();
  NotificationCenter::instance().post(QString::fromLatin1(VUK_NoFreeSpaceNotification), view_);
  ASSERT_NE(window_->sheets().currentSheet(), nullptr);
  window_->sheets().currentSheet()->reject();
  // From anyone else it is not this window's business.
  NotificationCenter::instance().post(QString::fromLatin1(VUK_NoFreeSpaceNotification), &model_);
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
}

TEST_F(DataTreeEditTest, ADropWithoutADiscDescriptionOffersNoImport) {
  open();
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_NE(at("a.txt"), nullptr);
}

TEST_F(DataTreeEditTest, ASecondClickOnTheSelectedRowStartsEditingItsName) {
  open();
  ASSERT_TRUE(drop({src_}));
  window_->window()->show();
  const QModelIndex row = model_.indexForNode(at("src"));
  view_->setCurrentIndex(row);
  window_->singleDataAction();
  EXPECT_EQ(view_->findChild<QLineEdit*>(), nullptr);
  window_->singleDataAction();
  EXPECT_NE(view_->findChild<QLineEdit*>(), nullptr);
}

// ---- the offer to take over the earlier session of a rewritable DVD ----

// Relative path -> size, -1 for a folder.
using Listing = std::map<std::string, long long>;

Listing listingOfFolder(const fs::path& top) {
  Listing out;
  for (const auto& e : fs::recursive_directory_iterator(top))
    out[fs::relative(e.path(), top).generic_string()] =
        e.is_directory() ? -1 : static_cast<long long>(e.file_size());
  return out;
}

void listNodeInto(FS_Node* node, const std::string& prefix, Listing& out) {
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i) {
    FS_Node* child = GetChildNodeAtIndex(node, i);
    const std::string rel = prefix + GetTitleNode(child);
    out[rel] = IsFolderNode(child) ? -1 : static_cast<long long>(dataActualSizeNode(child));
    if (IsFolderNode(child)) listNodeInto(child, rel + "/", out);
  }
}

class SessionOfferTest : public DataTreeEditTest {
 protected:
  ~SessionOfferTest() override {
    window_.reset();
    layoutServices() = LayoutServices{};
    devices_.reset();
    env_.stop();
  }

  // A DVD+RW holding a volume that genisoimage wrote from `disc_`, in the destination drive
  // of a data window whose format can take it over.
  void startWithWrittenDvd() {
    disc_ = dir_.path() / "disc";
    fs::create_directories(disc_ / "DOCS");
    test::writeFile(disc_ / "README.TXT", std::string(3000, 'r'));
    test::writeFile(disc_ / "DOCS" / "PLAN.DOC", std::string(70'000, 'p'));
    const fs::path iso = dir_.path() / "disc.iso";
    const auto made = test::runTool(
        {"genisoimage", "-quiet", "-V", "OLDFILES", "-o", iso.string(), disc_.string()});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    auto medium = emu::Medium::fromIso(iso, env_.folder() / "rw.medium", 0x1A);
    ASSERT_TRUE(medium);
    drive_ = env_.plug("REWRITER", "dvd-writer");
    drive_->load(std::move(*medium));
    env_.start();
    devices_ = std::make_unique<DeviceListManager>(
        QString(), [](QObject*, std::function<void()> fn) { fn(); });
    devices_->refreshDiscStateNow(0, true);
    layoutServices().devices = devices_.get();
    open();
    ref_ = emu::DeviceEnvironment::refOf("REWRITER");
    ASSERT_NE(ref_, 0u);
    (void)MMC_TestUnitReady(ref_, nullptr);
    devices_->refreshDiscStateNow(ref_, true);
    QComboBox* drives = window_->driveBar()->layoutDstDriveButton;
    drives->setCurrentIndex(drives->findData(ref_));
    ASSERT_EQ(window_->burnSettings().dstDriveRef, ref_);
    QComboBox* formats = window_->dataLayoutBar()->formatButton;
    formats->setCurrentIndex(formats->findData(512u));
    window_->toggleFormat();
  }

  QMessageBox* offer() const {
    return qobject_cast<QMessageBox*>(window_->sheets().currentSheet());
  }

  emu::DeviceEnvironment env_;
  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::unique_ptr<DeviceListManager> devices_;
  std::uint32_t ref_ = 0;
  fs::path disc_;
};

TEST_F(SessionOfferTest, AcceptedTheDiscsFilesComeIntoTheLayoutOnce) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  ASSERT_NO_FATAL_FAILURE(startWithWrittenDvd());
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  QMessageBox* box = offer();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), Msg::gui(QStringLiteral("Import Previous Session Title")));
  posted_.clear();
  box->defaultButton()->click();
  test::processEvents();

  FS_Node* imported = at("OLDFILES (Imported)");
  ASSERT_NE(imported, nullptr);
  Listing layout;
  listNodeInto(imported, "", layout);
  EXPECT_EQ(layout, listingOfFolder(disc_));
  EXPECT_TRUE(IsISO9660ImportItem(at("OLDFILES (Imported)/DOCS/PLAN.DOC")));
  EXPECT_NE(at("a.txt"), nullptr);
  EXPECT_EQ(postedCount(VUK_LayoutChangedNotification), 1);

  // Made once: a later drop asks nothing.
  ASSERT_TRUE(drop({src_ / "notes.doc"}));
  EXPECT_EQ(offer(), nullptr);
}

TEST_F(SessionOfferTest, DeclinedNothingIsReadAndTheOfferComesAgain) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  ASSERT_NO_FATAL_FAILURE(startWithWrittenDvd());
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  ASSERT_NE(offer(), nullptr);
  for (QAbstractButton* b : offer()->buttons())
    if (b != offer()->defaultButton()) {
      b->click();
      break;
    }
  test::processEvents();
  EXPECT_EQ(NumNodeChildren(model_.treeData(), GetRootTreeNode(model_.treeData())), 1u);
  ASSERT_TRUE(drop({src_ / "notes.doc"}));
  EXPECT_NE(offer(), nullptr);
}

TEST_F(SessionOfferTest, AnHfsPlusLayoutIsNotOffered) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  ASSERT_NO_FATAL_FAILURE(startWithWrittenDvd());
  QComboBox* formats = window_->dataLayoutBar()->formatButton;
  formats->setCurrentIndex(formats->findData(2u));
  window_->toggleFormat();
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  EXPECT_EQ(offer(), nullptr);
}

// The session tab's choice of destination holds for the offer too: merged into the disc, the
// disc's items stand directly under the disc row.
TEST_F(SessionOfferTest, AcceptedItImportsWhereTheSessionTabSays) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  ASSERT_NO_FATAL_FAILURE(startWithWrittenDvd());
  ASSERT_NE(window_->sessionTab(), nullptr);
  window_->sessionTab()->panel().importToDiscCell->click();
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  ASSERT_NE(offer(), nullptr);
  offer()->defaultButton()->click();
  test::processEvents();
  EXPECT_EQ(at("OLDFILES (Imported)"), nullptr);
  EXPECT_TRUE(IsISO9660ImportItem(at("README.TXT")));
  EXPECT_TRUE(IsISO9660ImportItem(at("DOCS/PLAN.DOC")));
  EXPECT_FALSE(IsISO9660ImportItem(at("a.txt")));
}

// Sessions the tab has listed are on show already: a drop does not ask about them again.
TEST_F(SessionOfferTest, ASessionListTheTabReadIsNotOfferedAgain) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  ASSERT_NO_FATAL_FAILURE(startWithWrittenDvd());
  window_->dataLayoutBar()->dataOptionsButton->click();
  DataOptionsDrawer* drawer = window_->optionsDrawer();
  drawer->ISO9660_iso9660TabView->setCurrentWidget(drawer->sessionTab);
  ASSERT_EQ(window_->sessionTab()->table().rowCount(), 1);
  EXPECT_EQ(window_->sessionTab()->table().data(window_->sessionTab()->table().index(0, 1)),
            QStringLiteral("OLDFILES"));
  ASSERT_TRUE(drop({src_ / "a.txt"}));
  EXPECT_EQ(offer(), nullptr);
}

// ---- the offer to take over an earlier session, without widgets ----

ImportOfferFacts offerable() {
  ImportOfferFacts f;
  f.hasDisc = true;
  f.mediumClass = kGDT_MediumDVDorBD;
  f.dvdKind = 5;
  f.fileSystems = kGDT_FoundISO;
  f.discStatus = kGDT_DiscAppendable;
  f.trackCount = 1;
  f.formatType = 512;
  return f;
}

struct OfferCase {
  const char* what;
  void (*change)(ImportOfferFacts&);
  bool offered;
};

class ImportOffer : public ::testing::TestWithParam<OfferCase> {};

TEST_P(ImportOffer, IsMadeOnlyForAnOpenRewritableDvdWithOneFileSystem) {
  ImportOfferFacts f = offerable();
  GetParam().change(f);
  EXPECT_EQ(offersSessionImport(f), GetParam().offered) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Facts, ImportOffer,
    ::testing::Values(
        OfferCase{"DVD+RW", [](ImportOfferFacts&) {}, true},
        OfferCase{"DVD-RW", [](ImportOfferFacts& f) { f.dvdKind = 3; }, true},
        OfferCase{"DVD-RAM with UDF",
                  [](ImportOfferFacts& f) {
                    f.dvdKind = 7;
                    f.fileSystems = kGDT_FoundUDF;
                  },
                  true},
        OfferCase{"no disc", [](ImportOfferFacts& f) { f.hasDisc = false; }, false},
        OfferCase{"a CD", [](ImportOfferFacts& f) { f.mediumClass = kGDT_MediumCD; }, false},
        OfferCase{"DVD+R", [](ImportOfferFacts& f) { f.dvdKind = 4; }, false},
        OfferCase{"BD-RE", [](ImportOfferFacts& f) { f.dvdKind = 11; }, false},
        OfferCase{"ISO and UDF",
                  [](ImportOfferFacts& f) { f.fileSystems = kGDT_FoundISO | kGDT_FoundUDF; },
                  false},
        OfferCase{"HFS", [](ImportOfferFacts& f) { f.fileSystems = kGDT_FoundHFS; }, false},
        OfferCase{"closed", [](ImportOfferFacts& f) { f.discStatus = kGDT_DiscClosed; }, false},
        OfferCase{"HFS Plus layout", [](ImportOfferFacts& f) { f.formatType = 2; }, false},
        OfferCase{"HFS layout", [](ImportOfferFacts& f) { f.formatType = 1; }, false},
        OfferCase{"DVD-Video layout", [](ImportOfferFacts& f) { f.formatType = 64; }, false},
        OfferCase{"no track", [](ImportOfferFacts& f) { f.trackCount = 0; }, false},
        OfferCase{"read before", [](ImportOfferFacts& f) { f.sessionsRead = true; }, false},
        OfferCase{"a sheet open", [](ImportOfferFacts& f) { f.sheetAttached = true; }, false}));

TEST(IsoNameLimitTable, HoldsTheVolumeDescriptorsFieldLengths) {
  EXPECT_EQ(isoNameLimit(IsoNameField::kVolumeSet), 128u);
  EXPECT_EQ(isoNameLimit(IsoNameField::kSystem), 32u);
  EXPECT_EQ(isoNameLimit(IsoNameField::kPublisher), 128u);
  EXPECT_EQ(isoNameLimit(IsoNameField::kPreparer), 128u);
}

TEST(OpenPanelFilter, NamesEachExtensionOnceAndEverythingWithoutOne) {
  EXPECT_EQ(openPanelNameFilter({}), "*");
  EXPECT_EQ(openPanelNameFilter({QString()}), "*");
  EXPECT_EQ(openPanelNameFilter({"", "doc", "doc", "DOC"}), "*.doc *.DOC");
}

}  // namespace
