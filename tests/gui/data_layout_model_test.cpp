// SPDX-License-Identifier: GPL-2.0-or-later
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <map>
#include <memory>

#include "framework/notification_center.h"
#include "layout/data_layout_ctlr.h"
#include "layout/drag_payload.h"
#include "shell/notification_names.h"
#include "support/builtin_messages.h"
#include "support/disk_totals.h"
#include "support/tree_lookup.h"
#include "support/gui_test_env.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<QMimeData> urlDrop(std::initializer_list<fs::path> paths) {
  auto data = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
  data->setUrls(urls);
  return data;
}

std::unique_ptr<QMimeData> payloadDrop(const DragPayload& p) {
  auto data = std::make_unique<QMimeData>();
  data->setData(QString::fromLatin1(kDataLayoutMimeType), encodeDragPayload(p));
  return data;
}

class DataLayoutModelTest : public test::GuiTest {
 protected:
  DataLayoutModelTest() {
    src_ = dir_.path() / "src";
    fs::create_directories(src_ / "sub" / "deeper");
    fs::create_directories(src_ / "empty");
    test::writeFile(src_ / "a.txt", "0123456789");
    test::writeFile(src_ / "sub" / "b.doc", std::string(20, 'b'));
    test::writeFile(src_ / "sub" / "B2.DOC", std::string(7, 'c'));
    test::writeFile(src_ / "sub" / "deeper" / "c.txt", std::string(3000, 'c'));
  }

  QModelIndex rootIndex() const { return model_.index(0, 0); }

  // The node at a path of titles below the disc, or null.
  FS_Node* at(const std::string& relative) const {
    return nodeAtPath(model_.treeData(), relative);
  }

  bool dropOn(const QMimeData& data, const QModelIndex& parent, int row = -1) {
    return model_.dropMimeData(&data, Qt::CopyAction, row, 0, parent);
  }

  // Folders and files as the tree counts them; bytes as the files' own sizes (the tree's
  // totals are in allocation blocks).
  DiskTotals treeTotals() const {
    DiskTotals t;
    std::uint64_t blocks = 0;
    std::uint64_t rsrc = 0;
    EXPECT_EQ(TreeInfo(model_.treeData(), &t.folders, &t.files, &blocks, &rsrc, true), kNoErr);
    const auto addFile = [](FS_Node* node, bool*, void* context, std::uint16_t, bool*) {
      if (!IsFolderNode(node)) *static_cast<std::uint64_t*>(context) += dataActualSizeNode(node);
    };
    EXPECT_EQ(WalkWholeTree(model_.treeData(), addFile, &t.bytes, nullptr), kNoErr);
    return t;
  }

  test::ScopedBuiltInMessages messages_;
  test::TempDir dir_;
  fs::path src_;
  DataLayoutCtlr model_;
};

TEST_F(DataLayoutModelTest, ModelTesterFindsNothingWrongOverABuiltTreeAndItsChanges) {
  QAbstractItemModelTester tester(&model_, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  const QModelIndex src = model_.indexForNode(at("src"));
  ASSERT_TRUE(model_.setData(src, QStringLiteral("renamed")));
  auto drag = std::unique_ptr<QMimeData>(model_.mimeData({model_.indexForNode(at("renamed/sub"))}));
  ASSERT_TRUE(dropOn(*drag, rootIndex()));
  EXPECT_NE(at("sub/deeper/c.txt"), nullptr);
}

TEST_F(DataLayoutModelTest, AFolderDroppedOnTheDiscRowMatchesTheSourceTree) {
  ASSERT_EQ(model_.rowCount(), 1);
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  EXPECT_TRUE(model_.lastDropReport().empty());

  const DiskTotals disk = countOnDisk(src_);
  const DiskTotals tree = treeTotals();
  EXPECT_EQ(tree.files, disk.files);
  EXPECT_EQ(tree.folders, disk.folders);  // the disc itself is the one folder more
  EXPECT_EQ(tree.bytes, disk.bytes);

  // Rows under each folder are its entries on disk.
  const QModelIndex src = model_.indexForNode(at("src"));
  EXPECT_EQ(model_.rowCount(rootIndex()), 1);
  EXPECT_EQ(model_.rowCount(src), 3);
  EXPECT_EQ(model_.rowCount(model_.indexForNode(at("src/sub"))), 3);
  EXPECT_EQ(model_.data(model_.indexForNode(at("src/sub/b.doc"))).toString(), "b.doc");
  EXPECT_EQ(model_.parent(model_.indexForNode(at("src/sub/b.doc"))),
            model_.indexForNode(at("src/sub")));
}

TEST_F(DataLayoutModelTest, DropsOnAFileRowOrOnNothingAreRefused) {
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  const auto before = treeTotals();
  const auto drop = urlDrop({src_ / "sub"});
  const QModelIndex file = model_.indexForNode(at("src/a.txt"));
  EXPECT_FALSE(model_.canDropMimeData(drop.get(), Qt::CopyAction, -1, 0, file));
  EXPECT_FALSE(dropOn(*drop, file));
  EXPECT_FALSE(dropOn(*drop, QModelIndex(), -1));
  EXPECT_EQ(treeTotals().files, before.files);
  // Between the top-level rows means into the disc.
  EXPECT_TRUE(dropOn(*drop, QModelIndex(), 0));
  EXPECT_NE(at("sub/b.doc"), nullptr);
}

TEST_F(DataLayoutModelTest, AFolderIsNeverMovedIntoItsOwnDescendant) {
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  auto drag = std::unique_ptr<QMimeData>(model_.mimeData({model_.indexForNode(at("src"))}));
  EXPECT_FALSE(dropOn(*drag, model_.indexForNode(at("src/sub/deeper"))));
  EXPECT_FALSE(dropOn(*drag, model_.indexForNode(at("src"))));
  EXPECT_NE(at("src/sub/deeper"), nullptr);

  // A move elsewhere works and leaves no copy behind.
  ASSERT_TRUE(dropOn(*urlDrop({src_ / "empty"}), rootIndex()));
  drag.reset(model_.mimeData({model_.indexForNode(at("src/sub"))}));
  ASSERT_TRUE(dropOn(*drag, model_.indexForNode(at("empty"))));
  EXPECT_NE(at("empty/sub/deeper/c.txt"), nullptr);
  EXPECT_EQ(at("src/sub"), nullptr);
}

TEST_F(DataLayoutModelTest, ForeignDamagedAndStalePayloadsAreRefused) {
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  const QModelIndex target = rootIndex();
  auto good = std::unique_ptr<QMimeData>(model_.mimeData({model_.indexForNode(at("src/a.txt"))}));
  const auto payload = decodeDragPayload(good->data(QString::fromLatin1(kDataLayoutMimeType)));
  ASSERT_TRUE(payload.has_value());

  DragPayload otherProcess = *payload;
  otherProcess.processId += 1;
  EXPECT_FALSE(dropOn(*payloadDrop(otherProcess), target));
  DragPayload noModel = *payload;
  noModel.sourceId = ~0ull;
  EXPECT_FALSE(dropOn(*payloadDrop(noModel), target));
  DragPayload unknownToken = *payload;
  unknownToken.tokens.push_back(12345678);
  EXPECT_FALSE(dropOn(*payloadDrop(unknownToken), target));
  QMimeData garbage;
  garbage.setData(QString::fromLatin1(kDataLayoutMimeType), QByteArray("\x51\x44\x52\x47\x01", 5));
  EXPECT_FALSE(dropOn(garbage, target));
  QMimeData web;
  web.setUrls({QUrl(QStringLiteral("https://example.org/x.txt"))});
  EXPECT_FALSE(dropOn(web, target));

  // Removing the node behind the token from outside the model leaves the drag stale.
  ASSERT_EQ(RemoveTreeNode(model_.treeData(), at("src/a.txt"), true), kNoErr);
  model_.reloadData();
  EXPECT_FALSE(dropOn(*good, model_.indexForNode(at("src/empty"))));
  EXPECT_NE(at("src"), nullptr);
  EXPECT_EQ(at("src/empty/a.txt"), nullptr);

  // A drag from a model that is gone.
  std::unique_ptr<QMimeData> orphan;
  {
    DataLayoutCtlr other;
    orphan.reset(other.mimeData({other.index(0, 0)}));
  }
  EXPECT_FALSE(dropOn(*orphan, target));
}

TEST_F(DataLayoutModelTest, CopiesFromAnotherLayoutGoOnAfterAnImportedFolder) {
  DataLayoutCtlr other;
  FS_Tree* tree = other.treeData();
  FS_Node* imported = initNode(nullptr, "Old (Imported)", nullptr, false);
  SetISO9660ImportItem(imported, true);
  ASSERT_EQ(AddTreeNode(tree, imported, nullptr), kNoErr);
  FS_Node* oldFile = initNode(nullptr, "old.txt", nullptr, false);
  SetISO9660ImportItem(oldFile, true);
  ASSERT_EQ(AddTreeNode(tree, oldFile, imported), kNoErr);
  FS_Node* local = initNode((src_ / "a.txt").c_str(), "a.txt", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree, local, imported), kNoErr);
  FS_Node* made = initNode(nullptr, "Made", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree, made, nullptr), kNoErr);
  FS_Node* doc = initNode((src_ / "sub" / "b.doc").c_str(), "b.doc", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree, doc, made), kNoErr);
  other.reloadData();

  auto drag = std::unique_ptr<QMimeData>(
      other.mimeData({other.indexForNode(imported), other.indexForNode(made)}));
  ASSERT_TRUE(dropOn(*drag, rootIndex()));
  EXPECT_NE(at("Old (Imported)/a.txt"), nullptr);
  EXPECT_EQ(at("Old (Imported)/old.txt"), nullptr);
  EXPECT_NE(at("Made/b.doc"), nullptr);  // the node after the imported folder
  EXPECT_EQ(treeTotals().files, 2u);
  EXPECT_EQ(treeTotals().bytes, 30u);
  // The source keeps its nodes: a copy between windows.
  EXPECT_EQ(GetParentNode(doc), made);
}

TEST_F(DataLayoutModelTest, NamesThatDifferOnlyInCaseAreNumberedAndReported) {
  const fs::path clash = dir_.path() / "clash";
  fs::create_directories(clash / "docs");
  fs::create_directories(clash / "DOCS");
  test::writeFile(clash / "Readme.txt", "1");
  test::writeFile(clash / "README.txt", "22");
  test::writeFile(clash / "docs" / "x", "333");
  test::writeFile(clash / "DOCS" / "y", "4444");
  ASSERT_TRUE(dropOn(*urlDrop({clash}), rootIndex()));

  const DiskTotals disk = countOnDisk(clash);
  EXPECT_EQ(treeTotals().files, disk.files);
  EXPECT_EQ(treeTotals().bytes, disk.bytes);
  const auto& report = model_.lastDropReport();
  EXPECT_TRUE(report.refused.empty());
  ASSERT_EQ(report.renamed.size(), 2u);
  std::map<std::string, std::string> renamed;
  for (const auto& r : report.renamed)
    renamed[fs::path(r.path.toStdString()).filename().string()] = r.newTitle.toStdString();
  // Which of the two keeps its name is the folder listing's order.
  const std::string file = renamed.contains("README.txt") ? "README.txt" : "Readme.txt";
  const std::string folder = renamed.contains("DOCS") ? "DOCS" : "docs";
  EXPECT_EQ(renamed[file], file.substr(0, 6) + "1.txt");
  EXPECT_EQ(renamed[folder], folder + "1");
  EXPECT_NE(at("clash/" + renamed[folder]), nullptr);

  // The same folder dropped again is numbered as a whole.
  ASSERT_TRUE(dropOn(*urlDrop({clash}), rootIndex()));
  // The folder itself, and inside it the same two clashes as before.
  const auto& again = model_.lastDropReport().renamed;
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[0].newTitle, "clash1");
  EXPECT_EQ(fs::path(again[0].path.toStdString()), clash);
  EXPECT_EQ(treeTotals().files, 2 * disk.files);
}

TEST_F(DataLayoutModelTest, PathsLongerThanAThousandBytesAreRead) {
  fs::path deep = dir_.path() / "deep";
  const std::string part(100, 'd');
  for (int i = 0; i < 12; ++i) deep /= part + std::to_string(i);
  fs::create_directories(deep);
  test::writeFile(deep / "leaf.bin", "leaf");
  ASSERT_GT(deep.string().size(), 1024u);
  ASSERT_TRUE(dropOn(*urlDrop({dir_.path() / "deep"}), rootIndex()));
  EXPECT_TRUE(model_.lastDropReport().empty());
  std::string relative = "deep";
  for (int i = 0; i < 12; ++i) relative += "/" + part + std::to_string(i);
  FS_Node* leaf = at(relative + "/leaf.bin");
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(std::string(GetFullPathNameNode(leaf)), fs::canonical(deep / "leaf.bin").string());
  EXPECT_EQ(treeTotals().bytes, 4u);
}

TEST_F(DataLayoutModelTest, TheFilterKeepsFoldersAndOnlyMatchingFiles) {
  model_.setNewFilter(QStringLiteral("doc"));
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  EXPECT_NE(at("src/sub/b.doc"), nullptr);
  EXPECT_NE(at("src/sub/B2.DOC"), nullptr);
  EXPECT_NE(at("src/sub/deeper"), nullptr);
  EXPECT_NE(at("src/empty"), nullptr);
  EXPECT_EQ(at("src/a.txt"), nullptr);
  EXPECT_EQ(treeTotals().files, 2u);
  ASSERT_TRUE(dropOn(*urlDrop({src_ / "a.txt"}), rootIndex()));
  EXPECT_EQ(at("a.txt"), nullptr);
}

TEST_F(DataLayoutModelTest, WhatCannotBeAddedIsReportedNotSkipped) {
  ASSERT_EQ(::mkfifo((src_ / "sub" / "pipe").c_str(), 0600), 0);
  ASSERT_TRUE(dropOn(*urlDrop({src_, dir_.path() / "gone.txt"}), rootIndex()));
  const auto& refused = model_.lastDropReport().refused;
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(fs::path(refused[0].path.toStdString()).filename(), "pipe");
  EXPECT_EQ(refused[0].status, kErrTreeNotAFile);
  EXPECT_EQ(fs::path(refused[1].path.toStdString()).filename(), "gone.txt");
  EXPECT_EQ(refused[1].status, kErrFileAccess);
  EXPECT_EQ(treeTotals().files, countOnDisk(src_).files);  // every regular file

  // A file removed from disk after it was laid out is not copied into another layout.
  DataLayoutCtlr other;
  auto drag = std::unique_ptr<QMimeData>(model_.mimeData({model_.indexForNode(at("src"))}));
  fs::remove(src_ / "a.txt");
  ASSERT_TRUE(other.dropMimeData(drag.get(), Qt::CopyAction, -1, 0, other.index(0, 0)));
  ASSERT_EQ(other.lastDropReport().refused.size(), 1u);
  EXPECT_EQ(other.lastDropReport().refused[0].status, kErrFileAccess);
}

TEST_F(DataLayoutModelTest, ASingleFolderOnAnEmptyLayoutCanBecomeTheDisc) {
  model_.setFolderReplacesDisc(true);
  ASSERT_TRUE(dropOn(*urlDrop({src_}), rootIndex()));
  EXPECT_EQ(model_.data(rootIndex()).toString(), "src");
  EXPECT_STREQ(GetTreeTitle(model_.treeData()), "src");
  EXPECT_NE(at("sub/deeper/c.txt"), nullptr);
  EXPECT_EQ(treeTotals().files, countOnDisk(src_).files);
  // Once the layout holds something, a folder goes in as a folder.
  ASSERT_TRUE(dropOn(*urlDrop({src_ / "sub"}), rootIndex()));
  EXPECT_NE(at("sub1/b.doc"), nullptr);
}

struct VideoCase {
  bool oldHoldsFiles;
  bool answer;
  bool asked;
  bool replaced;
};

class VideoFolderDrop : public DataLayoutModelTest,
                        public ::testing::WithParamInterface<VideoCase> {};

TEST_P(VideoFolderDrop, ReplacesTheLayoutsFolderOnlyWhenAllowed) {
  const VideoCase c = GetParam();
  FS_Tree* tree = model_.treeData();
  FS_Node* old = initNode(nullptr, "VIDEO_TS", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree, old, nullptr), kNoErr);
  if (c.oldHoldsFiles) {
    FS_Node* file = initNode((src_ / "a.txt").c_str(), "a.txt", nullptr, false);
    ASSERT_EQ(AddTreeNode(tree, file, old), kNoErr);
  }
  model_.reloadData();
  model_.setIsDVDVideo(true);
  const fs::path video = dir_.path() / "disc" / "VIDEO_TS";
  fs::create_directories(video);
  test::writeFile(video / "VIDEO_TS.IFO", "ifo");
  QStringList asked;
  model_.setReplaceQuestion([&](const QString& title, const QString& message) {
    asked << title << message;
    return c.answer;
  });

  // Dropped on a subfolder, it still goes to the disc's own place.
  ASSERT_TRUE(dropOn(*urlDrop({video}), model_.indexForNode(old)));
  EXPECT_EQ(asked, c.asked ? QStringList({"Overwrite VIDEO_TS", "Overwrite VIDEO_TS Message"})
                           : QStringList());
  EXPECT_EQ(at("VIDEO_TS/VIDEO_TS.IFO") != nullptr, c.replaced);
  EXPECT_EQ(at("VIDEO_TS/a.txt") != nullptr, c.oldHoldsFiles && !c.replaced);
  EXPECT_EQ(at("VIDEO_TS/VIDEO_TS"), nullptr);
  EXPECT_EQ(model_.rowCount(rootIndex()), 1);

  // The layout's DVD-Video folders stay where they are.
  auto drag = std::unique_ptr<QMimeData>(model_.mimeData({model_.indexForNode(at("VIDEO_TS"))}));
  FS_Node* other = initNode(nullptr, "other", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree, other, nullptr), kNoErr);
  EXPECT_FALSE(dropOn(*drag, model_.indexForNode(other)));
}

INSTANTIATE_TEST_SUITE_P(Answers, VideoFolderDrop,
                         ::testing::Values(VideoCase{true, false, true, false},
                                           VideoCase{true, true, true, true},
                                           VideoCase{false, false, false, true}));

TEST_F(DataLayoutModelTest, ABusyLayoutTakesNoDrop) {
  model_.setLayoutIsBusy(true);
  EXPECT_FALSE(dropOn(*urlDrop({src_}), rootIndex()));
  EXPECT_EQ(model_.rowCount(rootIndex()), 0);
}

TEST_F(DataLayoutModelTest, RenamingTheDiscPostsTheRootChangeToo) {
  int changed = 0;
  int rootChanged = 0;
  QObject owner;
  auto& center = NotificationCenter::instance();
  center.observe(&owner, QString::fromLatin1(VUK_LayoutChangedNotification), &model_,
                 [&](const Notification&) { ++changed; });
  center.observe(&owner, QString::fromLatin1(VUK_DataRootNodeChangedNotification), &model_,
                 [&](const Notification&) { ++rootChanged; });
  EXPECT_FALSE(model_.setData(rootIndex(), model_.data(rootIndex())));
  EXPECT_EQ(changed + rootChanged, 0);
  ASSERT_TRUE(model_.setData(rootIndex(), QStringLiteral("Holiday")));
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(rootChanged, 1);
  EXPECT_EQ(model_.data(rootIndex()).toString(), "Holiday");
}

TEST_F(DataLayoutModelTest, ImportedItemsAreRedAndSizesBlue) {
  FS_Node* imported = initNode(nullptr, "Old", nullptr, false);
  SetISO9660ImportItem(imported, true);
  ASSERT_EQ(AddTreeNode(model_.treeData(), imported, nullptr), kNoErr);
  model_.reloadData();
  const QModelIndex row = model_.indexForNode(imported);
  EXPECT_EQ(model_.data(row, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
  EXPECT_EQ(model_.data(rootIndex(), Qt::ForegroundRole).value<QBrush>().color(),
            QColor(Qt::black));
  EXPECT_EQ(model_.data(row.siblingAtColumn(1), Qt::ForegroundRole).value<QBrush>().color(),
            QColor(Qt::blue));
  EXPECT_FALSE(model_.data(rootIndex(), Qt::DecorationRole).value<QIcon>().isNull());
}

}  // namespace
