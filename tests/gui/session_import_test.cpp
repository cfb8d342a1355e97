// SPDX-License-Identifier: GPL-2.0-or-later
// Earlier sessions taken over by a data layout, against the real engine: a first session is
// written through the flat API to an emulated CD-R (or DVD+RW) left open, the session table
// lists it as isoinfo and xorriso read the disc, and its import, by drop or by call, gives the
// source tree's files again under a numbered folder or merged into the disc.
#include "layout/session_import.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QCoreApplication>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_environment.h"
#include "framework/notification_center.h"
#include "layout/data_layout_ctlr.h"
#include "layout/drag_payload.h"
#include "layout/session_drag.h"
#include "layout/session_import_ctlr.h"
#include "layout/session_table.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "quillion/TNC.h"
#include "run_support.h"
#include "shell/notification_names.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"

namespace fs = std::filesystem;
using namespace quillion;
using quillion::test::TestThreads;

namespace {

// The disc the first session is written to.
struct SessionMedium {
  const char* name;
  const char* preset;
  std::uint16_t profile;
  std::uint32_t capacity;
  // A disc rewritten in place has no second session: the volume at its start grows to
  // describe the old files and the new, and the disc keeps one session.
  bool grows;
};

constexpr SessionMedium kCdR{"cdr", "cd-writer", 0x09, 359'846, false};
constexpr SessionMedium kDvdPlusRw{"dvdplusrw", "dvd-writer", 0x1A, 2'295'104, true};

// Relative path -> size, -1 for a folder.
using Listing = std::map<std::string, long long>;

Listing listingOfFolder(const fs::path& top) {
  Listing out;
  for (const auto& e : fs::recursive_directory_iterator(top)) {
    const std::string rel = fs::relative(e.path(), top).generic_string();
    out[rel] = e.is_directory() ? -1 : static_cast<long long>(e.file_size());
  }
  return out;
}

void listNode(FS_Node* node, const std::string& prefix, Listing& out) {
  for (std::uint32_t i = 0; i < GetNumberOfChildren(node); ++i) {
    FS_Node* child = GetChildNodeAtIndex(node, i);
    const std::string rel = prefix + GetTitleNode(child);
    if (IsFolderNode(child)) {
      out[rel] = -1;
      listNode(child, rel + "/", out);
    } else {
      out[rel] = static_cast<long long>(dataActualSizeNode(child));
    }
  }
}

Listing listingOfNode(FS_Node* node) {
  Listing out;
  listNode(node, "", out);
  return out;
}

FS_Node* childTitled(FS_Node* parent, const std::string& title) {
  for (std::uint32_t i = 0; i < GetNumberOfChildren(parent); ++i) {
    FS_Node* child = GetChildNodeAtIndex(parent, i);
    if (title == GetTitleNode(child)) return child;
  }
  return nullptr;
}

std::vector<std::string> childTitles(FS_Node* parent) {
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < GetNumberOfChildren(parent); ++i)
    out.emplace_back(GetTitleNode(GetChildNodeAtIndex(parent, i)));
  return out;
}

class SessionImportTest : public test::GuiTest {
 protected:
  void SetUp() override {
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    test::writeFiles(source_, {{"a.txt", 1000},
                               {"docs/b.bin", 70'000},
                               {"docs/deeper/c.dat", 5'000},
                               {"big.dat", 300'000},
                               {"empty.txt", 0}});
    const SessionMedium m = medium();
    auto config = *emu::DriveConfig::preset(m.preset);
    config.name = config.product = "sessions";
    drive_ = emu::EmulatedBus::instance().plug(config);
    drive_->load(env_.blankDisc("sessions", m.profile, m.capacity));
    env_.start();
    ref_ = emu::DeviceEnvironment::refOf("sessions");
    ASSERT_NE(ref_, 0u);
    (void)MMC_TestUnitReady(ref_, nullptr);
    burnFirstSession();
    table_.setDropTargetId(layout_.dragTargetId());
  }
  void TearDown() override {
    if (job_ != 0) {
      EXPECT_EQ(BP_Delete(job_), kNoErr);
    }
    TestThreads::instance().reset();
    env_.stop();
    GuiTest::TearDown();
  }

  virtual SessionMedium medium() const { return kCdR; }

  // The source folder as a first session, the disc left open for more.
  void burnFirstSession() {
    test::TreePtr tree = test::treeFromFolder(source_);
    burnTree(tree.get());
  }

  void burnTree(FS_Tree* tree) {
    job_ = BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), &shared_, 1);
    ASSERT_NE(job_, 0u);
    ASSERT_EQ(BP_SetDataTree(job_, tree), kNoErr);
    ASSERT_EQ(BP_SetDataDiscFormat(job_, 512), kNoErr);
    ASSERT_EQ(BP_SetISO9660_XA(job_, false), kNoErr);
    ASSERT_EQ(BP_SetCloseDisc(job_, false), kNoErr);
    ASSERT_EQ(BP_SetDstDevice(job_, ref_), kNoErr);
    // A disc rewritten in place takes the new session after the blocks in use, as the data
    // window tells the job.
    GDT_DiscInfo* disc = nullptr;
    ASSERT_EQ(GDT_GetDiscInfo(ref_, &disc, nullptr), kNoErr);
    const bool inPlace = disc->discKind == 5 || disc->discKind == 7 || disc->discKind == 11;
    const std::uint32_t used = disc->usedBlocks;
    usedBeforeLastBurn_ = used;
    freeBeforeLastBurn_ = disc->freeBlocks;
    std::free(disc);
    if (inPlace) {
      ASSERT_EQ(BP_SetDVDPlusRWUsedBlocks(job_, used), kNoErr);
    }
    ASSERT_EQ(BP_SetThreadCreatorCallback(job_, TestThreads::create), kNoErr);
    ASSERT_EQ(BP_PrepareBurn(job_, nullptr, nullptr), kNoErr);
    ASSERT_EQ(BP_Burn(job_), kNoErr);
    ASSERT_TRUE(TestThreads::instance().join());
    ASSERT_TRUE(BP_RunFinished(shared_));
    ASSERT_EQ(shared_->writers[0].errorCode, 0);
    ASSERT_EQ(BP_Delete(job_), kNoErr);
    job_ = 0;
  }

  // The written disc as an image, for the outside readers.
  fs::path dumpDisc() {
    const fs::path iso = dir_.path() / "written.iso";
    bool dumped = false;
    EXPECT_TRUE(drive_->withMedium([&](emu::Medium& m) { dumped = m.dumpIso(iso); }));
    EXPECT_TRUE(dumped);
    return iso;
  }

  std::unique_ptr<QMimeData> sessionDrop(std::vector<int> rows, std::uint64_t target = 0) {
    SessionDrag drag;
    drag.drive = ref_;
    drag.targetModelId = target != 0 ? target : layout_.dragTargetId();
    drag.rows = std::move(rows);
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(kSessionImportMimeType), encodeSessionDrag(drag));
    return data;
  }

  FS_Node* root() { return GetRootTreeNode(layout_.treeData()); }
  QModelIndex discRow() { return layout_.index(0, 0); }

  test::ScopedBuiltInMessages messages_;
  test::TempDir dir_;
  emu::DeviceEnvironment env_;
  fs::path source_;
  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  BP_JobRef job_ = 0;
  BP_RuntimeSharedData* shared_ = nullptr;
  // The disc as the device list saw it before the last burn.
  std::uint32_t usedBeforeLastBurn_ = 0;
  std::uint32_t freeBeforeLastBurn_ = 0;
  DataLayoutCtlr layout_;
  SessionTableModel table_;
  QAbstractItemModelTester layoutTester_{&layout_,
                                         QAbstractItemModelTester::FailureReportingMode::Fatal};
  QAbstractItemModelTester tableTester_{&table_,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(SessionImportTest, TheTableListsTheWrittenSessionAsTheOutsideReadersSeeIt) {
  QUILLION_REQUIRE_TOOL("isoinfo");
  QUILLION_REQUIRE_TOOL("xorriso");
  EXPECT_EQ(table_.rowCount(), 0) << "nothing is shown before the list is read";
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  ASSERT_EQ(table_.rowCount(), 1);
  ASSERT_EQ(table_.columnCount(), 3);
  EXPECT_EQ(table_.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Session"));
  EXPECT_EQ(table_.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Title"));
  EXPECT_EQ(table_.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Date"));
  EXPECT_EQ(table_.data(table_.index(0, 0)).toInt(), 1);

  // isoinfo reads the volume's name from the dumped disc.
  const fs::path iso = dumpDisc();
  const auto info = test::runTool({"isoinfo", "-d", "-i", iso.string()});
  ASSERT_EQ(info.exitCode, 0) << info.output;
  const QRegularExpression volumeLine(QStringLiteral("^Volume id: (.*)$"),
                                      QRegularExpression::MultilineOption);
  const auto match = volumeLine.match(QString::fromStdString(info.output));
  ASSERT_TRUE(match.hasMatch()) << info.output;
  EXPECT_EQ(table_.data(table_.index(0, 1)).toString(), match.captured(1).trimmed());

  // The date column shows the volume's creation date as xorriso reads it.
  const auto pvd = test::runTool({"xorriso", "-indev", iso.string(), "-pvd_info"});
  const QRegularExpression dateLine(QStringLiteral("^Creation Time: (\\d{4})(\\d{2})(\\d{2})"),
                                    QRegularExpression::MultilineOption);
  const auto created = dateLine.match(QString::fromStdString(pvd.output));
  ASSERT_TRUE(created.hasMatch()) << pvd.output;
  std::tm expected{};
  expected.tm_year = created.captured(1).toInt() - 1900;
  expected.tm_mon = created.captured(2).toInt() - 1;
  expected.tm_mday = created.captured(3).toInt();
  char expectedText[32] = {};
  ASSERT_GT(std::strftime(expectedText, sizeof expectedText, "%b %d, %Y", &expected), 0u);
  const QString date = table_.data(table_.index(0, 2)).toString();
  EXPECT_EQ(date, QString::fromLatin1(expectedText));
  EXPECT_LE(date.size(), 15);
  EXPECT_EQ(table_.sessionAt(1), nullptr);
  EXPECT_EQ(table_.sessionAt(-1), nullptr);

  table_.clear();
  EXPECT_EQ(table_.rowCount(), 0);
}

TEST_F(SessionImportTest, ASessionDroppedTwiceGivesTheFolderThenTheNumberedFolder) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  ASSERT_EQ(table_.rowCount(), 1);
  int filesAdded = 0;
  QObject owner;
  NotificationCenter::instance().observe(&owner, QString::fromLatin1(VUK_FilesAddedNotification),
                                         NotificationCenter::AnySender,
                                         [&](const Notification&) { ++filesAdded; });

  // The table's own drag, dropped between the top rows: it goes into the disc.
  std::unique_ptr<QMimeData> drag(table_.mimeData({table_.index(0, 0), table_.index(0, 2)}));
  ASSERT_NE(drag, nullptr);
  ASSERT_TRUE(layout_.canDropMimeData(drag.get(), Qt::CopyAction, 0, 0, {}));
  ASSERT_TRUE(layout_.dropMimeData(drag.get(), Qt::CopyAction, 0, 0, {}));
  ASSERT_TRUE(layout_.dropMimeData(drag.get(), Qt::CopyAction, 0, 0, {}));
  EXPECT_EQ(filesAdded, 2);

  const std::string volume = table_.data(table_.index(0, 1)).toString().toStdString();
  EXPECT_EQ(childTitles(root()),
            (std::vector<std::string>{volume + " (Imported)", volume + " (Imported)1"}));
  const Listing source = listingOfFolder(source_);
  for (const std::string& title : childTitles(root())) {
    SCOPED_TRACE(title);
    FS_Node* folder = childTitled(root(), title);
    EXPECT_TRUE(IsISO9660ImportItem(folder));
    EXPECT_EQ(listingOfNode(folder), source);
  }
  // Imported items show in red.
  const QModelIndex first = layout_.index(0, 0, discRow());
  EXPECT_EQ(layout_.data(first, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
  EXPECT_TRUE(layout_.lastDropReport().empty());
}

TEST_F(SessionImportTest, ASecondSessionOfTheSameDropContinuesTheCount) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  // Row 0 twice and a row without a session: one count runs over the whole drop.
  const auto drop = sessionDrop({0, -1, 0});
  ASSERT_TRUE(layout_.dropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
  const std::string volume = table_.data(table_.index(0, 1)).toString().toStdString();
  EXPECT_EQ(childTitles(root()),
            (std::vector<std::string>{volume + " (Imported)", volume + " (Imported)1"}));
  const auto again = sessionDrop({0});
  ASSERT_TRUE(layout_.dropMimeData(again.get(), Qt::CopyAction, 0, 0, {}));
  EXPECT_NE(childTitled(root(), volume + " (Imported)2"), nullptr);
}

TEST_F(SessionImportTest, ForeignPayloadsAndSessionsTheDiscDoesNotHaveAreRefused) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  DataLayoutCtlr otherLayout;
  const auto raw = [](QByteArray bytes) {
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(kSessionImportMimeType), bytes);
    return data;
  };
  DragPayload otherProcess;
  otherProcess.processId = QCoreApplication::applicationPid() + 1;
  otherProcess.sourceId = layout_.dragTargetId();
  otherProcess.tokens = {ref_, 0};
  DragPayload rowTooLarge = otherProcess;
  rowTooLarge.processId = QCoreApplication::applicationPid();
  rowTooLarge.tokens = {ref_, 0x10000};
  DragPayload driveTooLarge = rowTooLarge;
  driveTooLarge.tokens = {0x1'0000'0000ull, 0};

  struct Case {
    const char* name;
    std::unique_ptr<QMimeData> data;
    bool validates;  // only the drop itself, reading the disc, can tell
  };
  std::vector<Case> cases;
  cases.push_back({"a row past the disc's sessions", sessionDrop({1}), true});
  cases.push_back({"a good row beside a bad one", sessionDrop({0, 7}), true});
  cases.push_back({"the last row a table may have", sessionDrop({0xFFFF}), true});
  cases.push_back(
      {"another window's outline", sessionDrop({0}, otherLayout.dragTargetId()), false});
  cases.push_back({"no rows", sessionDrop({}), false});
  cases.push_back({"another process", raw(encodeDragPayload(otherProcess)), false});
  cases.push_back({"a row no table has", raw(encodeDragPayload(rowTooLarge)), false});
  cases.push_back({"a drive past 32 bits", raw(encodeDragPayload(driveTooLarge)), false});
  cases.push_back({"bytes of another program", raw(QByteArray("file:///etc/passwd")), false});
  {
    SessionDrag noDrive;
    noDrive.targetModelId = layout_.dragTargetId();
    noDrive.rows = {0};
    cases.push_back({"no drive", raw(encodeSessionDrag(noDrive)), false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(layout_.canDropMimeData(c.data.get(), Qt::CopyAction, 0, 0, {}), c.validates);
    EXPECT_FALSE(layout_.dropMimeData(c.data.get(), Qt::CopyAction, 0, 0, {}));
    EXPECT_EQ(GetNumberOfChildren(root()), 0u);
  }
  // The same payload that was refused for the other window is taken by its own.
  const auto good = sessionDrop({0});
  EXPECT_FALSE(otherLayout.dropMimeData(good.get(), Qt::CopyAction, 0, 0, {}));
  EXPECT_TRUE(layout_.dropMimeData(good.get(), Qt::CopyAction, 0, 0, {}));
  EXPECT_EQ(GetNumberOfChildren(root()), 1u);
}

TEST_F(SessionImportTest, MergedIntoTheDiscAFolderOfTheSameNameJoinsTheLayoutsOwn) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  // The layout has a folder "docs" of its own, with a local file in it.
  const fs::path local = dir_.path() / "local.txt";
  test::writeFile(local, "local");
  FS_Node* docs = initNode(nullptr, "docs", nullptr, false);
  ASSERT_EQ(AddTreeNode(layout_.treeData(), docs, nullptr), kNoErr);
  ASSERT_EQ(
      AddTreeNode(layout_.treeData(), initNode(local.c_str(), "local.txt", nullptr, false), docs),
      kNoErr);
  layout_.reloadData();

  FS_Tree* imported = nullptr;
  ASSERT_EQ(TNC_ISO9660SessionToFSTree(table_.sessionAt(0), &imported), kNoErr);
  unsigned clashes = 0;
  const SessionImportOutcome outcome =
      layout_.importSession(imported, sessionVolumeName(*table_.sessionAt(0)), false, &clashes);
  EXPECT_EQ(outcome.status, kNoErr);
  EXPECT_TRUE(outcome.folderTitle.isEmpty());
  EXPECT_TRUE(outcome.notMerged.isEmpty());
  EXPECT_EQ(clashes, 0u);

  Listing expected = listingOfFolder(source_);
  expected["docs/local.txt"] = 5;
  EXPECT_EQ(listingOfNode(root()), expected);
  EXPECT_EQ(childTitled(root(), "docs"), docs);
  EXPECT_FALSE(IsISO9660ImportItem(docs));
  EXPECT_TRUE(IsISO9660ImportItem(childTitled(docs, "b.bin")));
}

TEST_F(SessionImportTest, RemovingImportsLeavesOnlyWhatCameFromDisk) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  const auto drop = sessionDrop({0});
  ASSERT_TRUE(layout_.dropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
  auto files = std::make_unique<QMimeData>();
  files->setUrls({QUrl::fromLocalFile(QString::fromStdString((source_ / "docs").string()))});
  ASSERT_TRUE(layout_.dropMimeData(files.get(), Qt::CopyAction, 0, 0, {}));
  ASSERT_EQ(GetNumberOfChildren(root()), 2u);

  EXPECT_EQ(layout_.removeImportedItems(), kNoErr);
  EXPECT_EQ(childTitles(root()), (std::vector<std::string>{"docs"}));
  Listing expected;
  for (const auto& [path, size] : listingOfFolder(source_))
    if (path.rfind("docs/", 0) == 0) expected[path.substr(5)] = size;
  EXPECT_EQ(listingOfNode(childTitled(root(), "docs")), expected);
  EXPECT_EQ(layout_.rowCount(discRow()), 1);
}

TEST_F(SessionImportTest, AFileOfTheLayoutKeepsItsNameAgainstAMergedFolder) {
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  // A local file "docs" where the session has a folder of that name.
  const fs::path local = dir_.path() / "docs";
  test::writeFile(local, "a file");
  ASSERT_EQ(
      AddTreeNode(layout_.treeData(), initNode(local.c_str(), "docs", nullptr, false), nullptr),
      kNoErr);
  layout_.reloadData();
  FS_Tree* imported = nullptr;
  ASSERT_EQ(TNC_ISO9660SessionToFSTree(table_.sessionAt(0), &imported), kNoErr);
  unsigned clashes = 0;
  const SessionImportOutcome outcome = layout_.importSession(imported, QString(), false, &clashes);
  EXPECT_EQ(outcome.notMerged, QStringList{QStringLiteral("docs")});
  Listing expected;
  for (const auto& [path, size] : listingOfFolder(source_))
    if (path.rfind("docs", 0) != 0) expected[path] = size;
  expected["docs"] = 6;
  EXPECT_EQ(listingOfNode(root()), expected);
  EXPECT_FALSE(IsISO9660ImportItem(childTitled(root(), "docs")));
}

// A session taken over into a layout with more files and burned: the outside reader, loading
// the tree at the last session's start, lists the files of both and gives each back with its
// source's bytes. On a CD-R that is a second session; on a DVD+RW the grown volume at the
// start of the disc.
class SessionAppend : public SessionImportTest,
                      public ::testing::WithParamInterface<SessionMedium> {
 protected:
  SessionMedium medium() const override { return GetParam(); }
};

TEST_P(SessionAppend, TheImportedSessionAndTheNewFilesAreReadBack) {
  QUILLION_REQUIRE_TOOL("xorriso");
  const SessionMedium& m = GetParam();
  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  ASSERT_EQ(table_.rowCount(), 1);
  FS_Tree* first = nullptr;
  ASSERT_EQ(TNC_ISO9660SessionToFSTree(table_.sessionAt(0), &first), kNoErr);
  const fs::path later = dir_.path() / "later";
  test::writeFiles(later, {{"later.txt", 12'345}, {"new/more.bin", 150'000}});
  test::TreePtr next = test::treeFromFolder(later);
  unsigned clashes = 0;
  ASSERT_EQ(importSessionTree(next.get(), first, QString(), false, &clashes).status, kNoErr);
  std::uint32_t lastStart = 0;
  if (!m.grows) {
    ASSERT_TRUE(drive_->withMedium([&](emu::Medium& d) { lastStart = d.nextWritable(); }));
  }
  burnTree(next.get());

  ASSERT_EQ(table_.readSessions(ref_), kNoErr);
  const int rows = m.grows ? 1 : 2;
  ASSERT_EQ(table_.rowCount(), rows);
  for (int row = 0; row < rows; ++row)
    EXPECT_EQ(table_.data(table_.index(row, 0)).toInt(), row + 1);
  ASSERT_EQ(table_.sessionAt(rows - 1)->startLBA, lastStart);

  const fs::path iso = dumpDisc();
  const std::string start = std::to_string(lastStart);
  // The volume xorriso finds at the start of the dump: on the CD-R the first session's, on
  // the DVD+RW the grown one, which reaches past the blocks in use before the second burn.
  const auto toc = test::runTool({"xorriso", "-indev", iso.string(), "-toc"});
  ASSERT_EQ(toc.exitCode, 0) << toc.output;
  const QRegularExpression sessionLine(
      QStringLiteral("^ISO session\\s*:\\s*1\\s*,\\s*0\\s*,\\s*(\\d+)s"),
      QRegularExpression::MultilineOption);
  const auto tocSession = sessionLine.match(QString::fromStdString(toc.output));
  ASSERT_TRUE(tocSession.hasMatch()) << toc.output;
  if (m.grows) {
    // Before the second burn the disc was free from the end of the first volume on.
    ASSERT_GT(usedBeforeLastBurn_, 0u);
    EXPECT_EQ(usedBeforeLastBurn_ + freeBeforeLastBurn_, m.capacity);
    EXPECT_GT(tocSession.captured(1).toULong(), usedBeforeLastBurn_) << toc.output;
  }

  const auto found = test::runTool(
      {"xorriso", "-indev", iso.string(), "-load", "sbsector", start, "-find", "/", "-type", "f"});
  ASSERT_EQ(found.exitCode, 0) << found.output;
  for (const char* file : {"'/later.txt'", "'/new/more.bin'", "'/a.txt'", "'/docs/deeper/c.dat'"})
    EXPECT_NE(found.output.find(file), std::string::npos) << file << found.output;
  const fs::path out = dir_.path() / "extracted";
  const auto extracted = test::runTool({"xorriso", "-indev", iso.string(), "-load", "sbsector",
                                        start, "-osirrox", "on", "-extract", "/", out.string()});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.output;
  std::map<std::string, std::string> wanted = test::filesBelow(source_);
  wanted.merge(test::filesBelow(later));
  const std::map<std::string, std::string> got = test::filesBelow(out);
  std::vector<std::string> wantedNames, gotNames;
  for (const auto& [path, bytes] : wanted) wantedNames.push_back(path);
  for (const auto& [path, bytes] : got) gotNames.push_back(path);
  EXPECT_EQ(gotNames, wantedNames);
  for (const auto& [path, bytes] : wanted) {
    const auto it = got.find(path);
    if (it != got.end()) {
      EXPECT_TRUE(it->second == bytes) << path << " differs from its source";
    }
  }

  // The last session, dropped on a new layout, gives the files of both again.
  std::unique_ptr<QMimeData> drag(table_.mimeData({table_.index(rows - 1, 0)}));
  ASSERT_TRUE(layout_.dropMimeData(drag.get(), Qt::CopyAction, 0, 0, {}));
  ASSERT_EQ(GetNumberOfChildren(root()), 1u);
  Listing expected = listingOfFolder(source_);
  for (const auto& [path, size] : listingOfFolder(later)) expected[path] = size;
  EXPECT_EQ(listingOfNode(GetChildNodeAtIndex(root(), 0)), expected);
}

INSTANTIATE_TEST_SUITE_P(Discs, SessionAppend, ::testing::Values(kCdR, kDvdPlusRw),
                         [](const auto& p) { return std::string(p.param.name); });

class SessionTabTest : public SessionImportTest {
 protected:
  SessionTabState shown(std::uint8_t discState = kGDT_DiscAppendable) {
    return SessionTabState{true, true, QStringLiteral("2"), 0, discState};
  }
  SessionImportCtlr ctlr_{&table_, &layout_};
};

TEST_F(SessionTabTest, TheListIsReadOnlyWhileTheSessionTabShowsAReadyDrive) {
  ctlr_.setDestinationDrive(ref_);
  struct Case {
    const char* name;
    SessionTabState tab;
    int rows;
  };
  const Case cases[] = {
      {"no drawer", {false, true, QStringLiteral("2"), 0, kGDT_DiscAppendable}, 0},
      {"drawer closed", {true, false, QStringLiteral("2"), 0, kGDT_DiscAppendable}, 0},
      {"another tab", {true, true, QStringLiteral("1"), 0, kGDT_DiscAppendable}, 0},
      {"drive busy", {true, true, QStringLiteral("2"), 1, kGDT_DiscAppendable}, 0},
      {"complete disc", shown(kGDT_DiscClosed), 0},
      {"open disc", shown(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table_.clear();
    ctlr_.updateSessionInfo(c.tab);
    EXPECT_EQ(table_.rowCount(), c.rows);
  }
  // A disc found complete on a selection change disables the import and empties the table.
  ctlr_.sessionSelectionChanged(0, kGDT_DiscAppendable);
  EXPECT_TRUE(ctlr_.importEnabled());
  ctlr_.sessionSelectionChanged(-1, kGDT_DiscAppendable);
  EXPECT_FALSE(ctlr_.importEnabled());
  ctlr_.sessionSelectionChanged(0, kGDT_DiscAppendable);
  ctlr_.sessionSelectionChanged(0, kGDT_DiscClosed);
  EXPECT_FALSE(ctlr_.importEnabled());
  EXPECT_EQ(table_.rowCount(), 0);
  ctlr_.updateSessionInfo(shown(kGDT_DiscClosed));
  EXPECT_FALSE(ctlr_.importEnabled());
}

TEST_F(SessionTabTest, TheImportButtonNumbersFoldersMergesAndTheRemoveButtonUndoesAll) {
  ctlr_.setDestinationDrive(ref_);
  ctlr_.updateSessionInfo(shown());
  ASSERT_EQ(table_.rowCount(), 1);
  int buttonChanges = 0;
  QObject::connect(&ctlr_, &SessionImportCtlr::buttonsChanged, [&] { ++buttonChanges; });
  EXPECT_TRUE(ctlr_.importToFolder());
  EXPECT_FALSE(ctlr_.removeImportEnabled());

  // No selection, or a row the list does not have: nothing happens.
  EXPECT_EQ(ctlr_.importSession(-1).status, kErrBadArgument);
  EXPECT_EQ(ctlr_.importSession(1).status, kErrBadArgument);
  EXPECT_EQ(GetNumberOfChildren(root()), 0u);
  EXPECT_FALSE(ctlr_.hasImportedData());

  const std::string volume = table_.data(table_.index(0, 1)).toString().toStdString();
  EXPECT_EQ(ctlr_.importSession(0).folderTitle.toStdString(), volume + " (Imported)");
  EXPECT_TRUE(ctlr_.hasImportedData());
  EXPECT_TRUE(ctlr_.removeImportEnabled());
  EXPECT_EQ(buttonChanges, 1);
  EXPECT_EQ(ctlr_.importSession(0).folderTitle.toStdString(), volume + " (Imported)1");

  ctlr_.toggleImportDestination(1);
  EXPECT_FALSE(ctlr_.importToFolder());
  const SessionImportOutcome merged = ctlr_.importSession(0);
  EXPECT_EQ(merged.status, kNoErr);
  EXPECT_TRUE(merged.folderTitle.isEmpty());
  const Listing source = listingOfFolder(source_);
  for (const auto& [path, size] : source) {
    SCOPED_TRACE(path);
    if (path.find('/') == std::string::npos) {
      EXPECT_NE(childTitled(root(), path), nullptr);
    }
  }
  EXPECT_EQ(listingOfNode(childTitled(root(), volume + " (Imported)1")), source);

  // A local folder dropped beside the imports stays when they go.
  auto files = std::make_unique<QMimeData>();
  files->setUrls({QUrl::fromLocalFile(QString::fromStdString((source_ / "docs").string()))});
  ASSERT_TRUE(layout_.dropMimeData(files.get(), Qt::CopyAction, 0, 0, {}));
  // The merged session holds "docs" already: the local folder is numbered, and said so.
  ASSERT_EQ(layout_.lastDropReport().renamed.size(), 1u);
  EXPECT_EQ(layout_.lastDropReport().renamed[0].newTitle, QStringLiteral("docs1"));
  EXPECT_EQ(ctlr_.removeImport(), kNoErr);
  EXPECT_FALSE(ctlr_.hasImportedData());
  EXPECT_FALSE(ctlr_.removeImportEnabled());
  EXPECT_EQ(childTitles(root()), (std::vector<std::string>{"docs1"}));
  EXPECT_FALSE(IsISO9660ImportItem(childTitled(root(), "docs1")));
}

}  // namespace
