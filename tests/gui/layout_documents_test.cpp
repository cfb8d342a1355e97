// SPDX-License-Identifier: GPL-2.0-or-later
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMainWindow>
#include <set>

#include "burn/data_edit_rules.h"
#include "documents/data_win_ctlr.h"
#include "documents/layout_document.h"
#include "documents/layout_document_kinds.h"
#include "framework/document_controller.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "layout/base_layout_win_ctlr.h"
#include "shell/notification_names.h"
#include "support/builtin_messages.h"
#include "support/gui_test_env.h"
#include "support/python_plist.h"
#include "support/scripted_prompts.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

// The layout-file keys each group of a kind writes (besides "Signature").
std::set<QString> keysOf(unsigned groups, const LayoutState& s) {
  std::set<QString> keys{QStringLiteral("Signature")};
  auto add = [&](std::initializer_list<const char*> names) {
    for (const char* n : names) keys.insert(QLatin1String(n));
  };
  if (groups & kKeysDestination) {
    add({"Destination Vendor", "Destination Model", "Destination Version", "Destination Path"});
    if (!s.destinationIsoPath.isNull()) add({"Destination ISO Path"});
  }
  if (groups & kKeysSource) add({"Source Vendor", "Source Model", "Source Version", "Source Path"});
  if (groups & kKeysTree) add({"FSTree Map"});
  if (groups & kKeysList) add({"FSList Map"});
  if (groups & kKeysTitleAndCdText) add({"Title", "CD Text"});
  if (groups & kKeysDataFilter) add({"Data Filter Key"});
  if (groups & kKeysIsoOptions)
    add({"Volume Set Name", "system Name", "Publisher Name", "Preparer Name", "Apple Extension",
         "Data File Format"});
  if (groups & kKeysCdRomXA) add({"CDROM XA"});
  if (groups & kKeysDiscSpan) add({"Enable Disc Span Key"});
  return keys;
}

// A state with every field set to something other than its starting value.
LayoutState filledState(int seed) {
  LayoutState s;
  const QString n = QString::number(seed);
  s.destination = {QStringLiteral("ACME"), QStringLiteral("Writer ") + n, QStringLiteral("1.0"),
                   QStringLiteral("")};
  s.destinationIsoPath = QStringLiteral("/tmp/out") + n + QStringLiteral(".iso");
  s.source = {QStringLiteral("Reader Co"), QStringLiteral("R") + n, QStringLiteral("2.0"),
              QStringLiteral("/tmp/src.wlt")};
  s.title = QStringLiteral("Title ") + n;
  s.treeMap = QByteArray("tree-") + n.toLatin1() + QByteArray("\x00\xff", 2);
  s.listMap = QByteArray("list-") + n.toLatin1();
  s.cdText.emplace();
  s.cdText->disc.emplace(CdTextFields{QStringLiteral("Album"), QStringLiteral("Band"), {}, {}, {}});
  s.cdText->tracks[1] = CdTextFields{QStringLiteral("One"), {}, {}, {}, {}};
  s.dataFilterIndex = 2;  // "txt" of the default filter list
  s.discSpan = true;
  s.writeXA = true;
  s.appendAppleExtension = false;
  s.volumeSetName = QStringLiteral("SET");
  s.systemName = QStringLiteral("SYS");
  s.publisherName = QStringLiteral("PUB");
  s.preparerName = QStringLiteral("PREP");
  s.fileFormat = 257;
  return s;
}

// What a window of `kind` holds after loading a layout saved from `saved`: the kind's groups
// from `saved`, everything else as a new window of that kind starts.
LayoutState projected(const LayoutState& saved, const LayoutKind& kind) {
  LayoutState s = BaseLayoutWinCtlr(kind).layoutState();
  const unsigned g = kind.keyGroups;
  if (g & kKeysDestination) {
    s.destination = saved.destination;
    s.destinationIsoPath = saved.destinationIsoPath;
  }
  if (g & kKeysSource) s.source = saved.source;
  if (g & kKeysTree) s.treeMap = saved.treeMap;
  if (g & kKeysList) s.listMap = saved.listMap;
  if (g & kKeysTitleAndCdText) {
    s.title = saved.title;
    s.cdText = saved.cdText;
  }
  if (g & kKeysDataFilter) s.dataFilterIndex = saved.dataFilterIndex;
  if (g & kKeysIsoOptions) {
    s.volumeSetName = saved.volumeSetName;
    s.systemName = saved.systemName;
    s.publisherName = saved.publisherName;
    s.preparerName = saved.preparerName;
    s.appendAppleExtension = saved.appendAppleExtension;
    s.fileFormat = saved.fileFormat;
  }
  if (g & kKeysCdRomXA) s.writeXA = saved.writeXA;
  if (g & kKeysDiscSpan) s.discSpan = saved.discSpan;
  // A window with a format pop-up applies the loaded format's rules: a hybrid with HFS is
  // never written as CD-ROM XA.
  if ((kind.views & kDataLayoutView) && kind.formatType != 0 &&
      formatControlsFor(static_cast<std::uint32_t>(s.fileFormat), kind.layoutType).xaForcedOff)
    s.writeXA = false;
  return s;
}

class LayoutDocumentsTest : public GuiTest {
 protected:
  void SetUp() override {
    registerLayoutDocumentTypes(controller);
    dir = test::makeTempDir(QStringLiteral("docs"));
  }

  LayoutDocument* newDocument(const char* type) {
    return qobject_cast<LayoutDocument*>(
        controller.openUntitledDocumentOfType(QLatin1String(type)));
  }
  static BaseLayoutWinCtlr* ctl(Document* d) {
    return static_cast<LayoutDocument*>(d)->layoutController();
  }
  // The window's own edit: change the state, then tell the world through the view.
  static void edit(LayoutDocument* d, const LayoutState& state) {
    BaseLayoutWinCtlr* c = d->layoutController();
    c->layoutState() = state;
    QAbstractItemView* view = c->dataLayoutView()    ? c->dataLayoutView()
                              : c->audioLayoutView() ? c->audioLayoutView()
                                                     : c->vcdLayoutView();
    if (view)
      NotificationCenter::instance().post(QLatin1String(VUK_LayoutChangedNotification), view);
    else  // the copy windows have no layout view; their controls mark the document directly
      d->updateChangeCount(Document::Change::Done);
  }
  bool saveAs(Document* d, const QString& path) {
    prompts.savePaths.push_back(path);
    bool saved = false;
    d->saveDocumentAs([&](bool ok) { saved = ok; });
    return saved;
  }
  static QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  test::ScopedBuiltInMessages messages;
  test::ScriptedPrompts prompts;
  DocumentController controller{prompts};
  QString dir;
};

TEST_F(LayoutDocumentsTest, EachTypeNameOpensTheWindowOfItsRow) {
  for (const LayoutKind& kind : layoutDocumentKinds()) {
    SCOPED_TRACE(kind.typeName);
    LayoutDocument* d = newDocument(kind.typeName);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(&d->kind(), &kind);
    // Three members have operations of their own; the others are the plain family class.
    const QByteArray cls(kind.documentClass);
    const bool own = cls == "DataDoc" || cls == "AudioDoc" || cls == "CDCopyDoc";
    EXPECT_EQ(QByteArray(d->metaObject()->className()),
              "quillion::" + (own ? cls : QByteArray("LayoutDocument")));
    BaseLayoutWinCtlr* c = d->layoutController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->currentLayoutType(), kind.layoutType);
    EXPECT_EQ(c->formatType(), kind.formatType);
    EXPECT_EQ(c->useSAO(), kind.useSAO);
    EXPECT_EQ(c->useCDXAFormat(), kind.useCDXAFormat);
    EXPECT_EQ(c->window()->objectName(), QLatin1String(kind.windowFile));
    EXPECT_TRUE(c->window()->isVisible());
    EXPECT_EQ(c->dataLayoutView() != nullptr, (kind.views & kDataLayoutView) != 0);
    EXPECT_EQ(c->audioLayoutView() != nullptr, (kind.views & kAudioLayoutView) != 0);
    EXPECT_EQ(c->vcdLayoutView() != nullptr, (kind.views & kVcdLayoutView) != 0);
    EXPECT_EQ(c->window()->windowTitle(), Msg::gui(QLatin1String(kind.titleKey)) +
                                              QStringLiteral(" - ") + d->displayName() +
                                              QStringLiteral("[*]"));
    d->close();
    test::processEvents();
  }
  EXPECT_TRUE(controller.documents().empty());
}

TEST_F(LayoutDocumentsTest, UntitledNamesCountUpAndReuseFreedNumbers) {
  Document* a = newDocument("Data CD");
  Document* b = newDocument("Audio CD");
  Document* c = newDocument("Data CD");
  EXPECT_EQ(a->displayName(), QStringLiteral("Untitled"));
  EXPECT_EQ(b->displayName(), QStringLiteral("Untitled 2"));
  EXPECT_EQ(c->displayName(), QStringLiteral("Untitled 3"));
  b->close();
  test::processEvents();
  EXPECT_EQ(newDocument("MP3 CD")->displayName(), QStringLiteral("Untitled 2"));
}

TEST_F(LayoutDocumentsTest, TypesWithoutADocumentClassOpenNothing) {
  for (const char* type : {"VCD Slide", "SVCD Slide", "CD Image", "No Such Type"})
    EXPECT_EQ(controller.openUntitledDocumentOfType(QLatin1String(type)), nullptr) << type;
  EXPECT_TRUE(controller.documents().empty());
}

TEST_F(LayoutDocumentsTest, OnlyTheWindowsOwnViewsMarkItEdited) {
  LayoutDocument* mine = newDocument("Mixed CD");
  LayoutDocument* other = newDocument("Data CD");
  auto& center = NotificationCenter::instance();
  const QString changed = QLatin1String(VUK_LayoutChangedNotification);
  center.post(changed, other->layoutController()->dataLayoutView());
  center.post(changed, nullptr);
  EXPECT_FALSE(mine->isDocumentEdited());
  EXPECT_FALSE(mine->layoutController()->window()->isWindowModified());
  EXPECT_TRUE(other->isDocumentEdited());

  center.post(changed, mine->layoutController()->audioLayoutView());
  EXPECT_TRUE(mine->isDocumentEdited());
  EXPECT_TRUE(mine->layoutController()->window()->isWindowModified());
}

TEST_F(LayoutDocumentsTest, EveryKindSavesItsKeysAndReopensWithTheSameLayout) {
  int seed = 0;
  for (const LayoutKind& kind : layoutDocumentKinds()) {
    SCOPED_TRACE(kind.typeName);
    // The data window saves its live tree and destination rather than the state's bytes,
    // and refuses a tree map that does not read back: its layout file has tests of its own.
    if (QLatin1String(kind.controllerClass) == QLatin1String("DataWinCtlr")) continue;
    LayoutDocument* d = newDocument(kind.typeName);
    ASSERT_NE(d, nullptr);
    const LayoutState state = filledState(++seed);
    edit(d, state);
    ASSERT_TRUE(d->isDocumentEdited());

    const QString requested = dir + QStringLiteral("/layout-%1").arg(seed);
    ASSERT_TRUE(saveAs(d, requested));
    const QString path = requested + QLatin1Char('.') + QLatin1String(kind.extension);
    EXPECT_EQ(d->filePath(), path);
    EXPECT_EQ(prompts.lastExtension, QLatin1String(kind.extension));
    EXPECT_FALSE(d->isDocumentEdited());
    EXPECT_EQ(d->displayName(), QFileInfo(path).fileName());

    // An independent reader sees exactly the keys this kind writes, with their types.
    const test::PythonPlist py = test::readPlistWithPython(path);
    ASSERT_TRUE(py.available) << py.error.toStdString();
    ASSERT_TRUE(py.parsed) << py.error.toStdString();
    const QJsonObject keys = py.value.toArray().at(1).toObject();
    std::set<QString> found;
    for (const QString& k : keys.keys()) found.insert(k);
    EXPECT_EQ(found, keysOf(kind.keyGroups, state));
    EXPECT_EQ(keys.value(QStringLiteral("Signature")).toArray().at(1).toString(),
              QStringLiteral("ZEB VUK 9988"));
    if (kind.keyGroups & kKeysTree) {
      EXPECT_EQ(keys.value(QStringLiteral("FSTree Map")).toArray().at(1).toString(),
                QString::fromLatin1(state.treeMap.toBase64()));
    }
    if (kind.keyGroups & kKeysIsoOptions) {
      EXPECT_EQ(keys.value(QStringLiteral("Data File Format")).toArray(),
                (QJsonArray{QStringLiteral("int"), 257}));
    }

    d->close();
    test::processEvents();

    Document* reopened = controller.openDocumentWithContentsOfFile(path);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(reopened->fileType(), QLatin1String(kind.typeName));
    EXPECT_FALSE(reopened->isDocumentEdited());
    EXPECT_EQ(ctl(reopened)->layoutState(), projected(state, kind))
        << "the reopened window holds what was saved, and a new window's values elsewhere";
    reopened->close();
    test::processEvents();
  }
}

TEST_F(LayoutDocumentsTest, EachSaveWritesTheStateOfThatMoment) {
  LayoutDocument* d = newDocument("Audio CD");
  LayoutState s = filledState(1);
  edit(d, s);
  ASSERT_TRUE(saveAs(d, dir + QStringLiteral("/twice.qlaudio")));
  const QByteArray first = contents(d->filePath());
  s.title = QStringLiteral("Second Title");
  edit(d, s);
  bool saved = false;
  d->saveDocument([&](bool ok) { saved = ok; });
  ASSERT_TRUE(saved);
  EXPECT_EQ(prompts.savePaths.size(), 0u);
  const LayoutFileIO second = LayoutFileIO::initWithXMLData(contents(d->filePath()));
  EXPECT_EQ(second.Title(), QStringLiteral("Second Title"));
  EXPECT_EQ(LayoutFileIO::initWithXMLData(first).Title(), QStringLiteral("Title 1"));
  EXPECT_EQ(d->layoutFile()->Title(), QStringLiteral("Second Title"))
      << "a fresh layout file per save";
}

TEST_F(LayoutDocumentsTest, DiscCopyLayoutsAlwaysSaveAsCdcp) {
  for (const char* name : {"copy.iso", "copy", "copy.tar.gz"}) {
    Document* d = newDocument("CD Copy");
    d->updateChangeCount(Document::Change::Done);
    ASSERT_TRUE(saveAs(d, dir + QLatin1Char('/') + QLatin1String(name)));
    const QString expected =
        dir + QLatin1Char('/') +
        (QLatin1String(name) == QLatin1String("copy.tar.gz") ? QStringLiteral("copy.tar.cdcp")
                                                             : QStringLiteral("copy.cdcp"));
    EXPECT_EQ(d->filePath(), expected) << name;
    EXPECT_EQ(d->fileType(), QStringLiteral("CD Copy"));
    EXPECT_TRUE(QFileInfo::exists(expected));
    EXPECT_FALSE(QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(name))) << name;
    d->close();
    test::processEvents();
  }
}

TEST_F(LayoutDocumentsTest, ADiscImageOpensAsTheSourceOfANewUntitledCopy) {
  const QString image = dir + QStringLiteral("/Disc.ISO");
  const QByteArray imageBytes("CD001 not read by the document");
  {
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(imageBytes);
  }
  Document* d = controller.openDocumentWithContentsOfFile(image);
  ASSERT_NE(d, nullptr);
  auto* copy = qobject_cast<CDCopyDoc*>(d);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(d->fileType(), QStringLiteral("CD Copy"));
  EXPECT_TRUE(d->isUntitled()) << "saving must never write over the image";
  EXPECT_EQ(copy->cdImageReaderPath(), image);
  EXPECT_EQ(ctl(d)->cdImageReaderPath(), image);

  d->updateChangeCount(Document::Change::Done);
  bool saved = false;
  prompts.savePaths.push_back(dir + QStringLiteral("/from-image"));
  d->saveDocument([&](bool ok) { saved = ok; });
  ASSERT_TRUE(saved);
  EXPECT_EQ(d->filePath(), dir + QStringLiteral("/from-image.cdcp"));
  EXPECT_EQ(contents(image), imageBytes);
  EXPECT_EQ(LayoutFileIO::initWithXMLData(contents(d->filePath())).SrcCDImagePath(), image);
}

TEST_F(LayoutDocumentsTest, ForwardingBeforeTheWindowControllerExistsDoesNothing) {
  const LayoutKind* data = findLayoutDocumentKind(QStringLiteral("Data CD"));
  const LayoutKind* audio = findLayoutDocumentKind(QStringLiteral("Audio CD"));
  DataDoc dataDoc(*data);
  AudioDoc audioDoc(*audio);
  dataDoc.setAsVideoTSDoc();
  audioDoc.loadPlayList({{QStringLiteral("Song"), QStringLiteral("/m/song.mp3"), QString()}});
  EXPECT_EQ(dataDoc.layoutController(), nullptr);

  auto* live = static_cast<DataDoc*>(newDocument("Data CD"));
  live->setAsVideoTSDoc();
  auto* ctlr = static_cast<DataWinCtlr*>(live->layoutController());
  EXPECT_TRUE(ctlr->isVideoTS());
  EXPECT_EQ(ctlr->formatType(), 64u);
  EXPECT_FALSE(ctlr->layoutState().discSpan);
}

TEST_F(LayoutDocumentsTest, ABadLayoutFileIsRefusedWholeAndLeftUntouched) {
  const QByteArray good = [] {
    LayoutFileIO l;
    l.SetTitle(QStringLiteral("x"));
    l.SetFSTreeMap(QByteArray("serialised tree records"));
    return l.XMLData();
  }();
  // The tree's base64 with one character no decoder accepts: read leniently, the layout
  // would open with an empty tree.
  QByteArray damagedTree = good;
  damagedTree[good.indexOf("<data>") + 8] = '!';
  const std::vector<std::pair<const char*, QByteArray>> bad = {
      {"cut after the dictionary", good.left(good.indexOf("</plist>"))},
      {"damaged tree data", damagedTree},
      {"empty file", QByteArray()},
      {"binary garbage", QByteArray("\x7f"
                                    "ELF\x02\x01\x01\x00\x00\xff\xfe",
                                    12)},
      {"truncated XML", good.left(good.size() - 12)},
      {"cut in the middle", good.left(good.size() / 2)},
      {"no signature",
       "<plist version=\"1.0\"><dict><key>Title</key><string>x</string></dict></plist>"},
      {"foreign property list",
       "<plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>"},
      {"wrong type",
       "<plist version=\"1.0\"><dict><key>Signature</key><string>ZEB VUK 9988</string>"
       "<key>FSList Map</key><integer>7</integer></dict></plist>"},
      {"root not a dictionary", "<plist version=\"1.0\"><array/></plist>"},
  };
  int n = 0;
  for (const auto& [what, data] : bad) {
    SCOPED_TRACE(what);
    const QString path = dir + QStringLiteral("/bad-%1.qldata").arg(++n);
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(data);
    }
    prompts.errors.clear();
    EXPECT_EQ(controller.openDocumentWithContentsOfFile(path), nullptr);
    EXPECT_TRUE(controller.documents().empty()) << "nothing half-loaded stays open";
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_EQ(prompts.errors[0].titleKey, QStringLiteral("Invalid Layout File"));
    EXPECT_EQ(prompts.errors[0].messageKey, QStringLiteral("Not A Valid Layout File!"));
    EXPECT_EQ(contents(path), data);
  }
  prompts.errors.clear();
  EXPECT_EQ(controller.openDocumentWithContentsOfFile(dir + QStringLiteral("/missing.qldata")),
            nullptr);
  ASSERT_EQ(prompts.errors.size(), 1u);
  EXPECT_EQ(prompts.errors[0].titleKey, QStringLiteral("Open Failed"));
}

TEST_F(LayoutDocumentsTest, OpeningAnOpenFileShowsTheSameDocument) {
  Document* d = newDocument("Picture CD");
  ASSERT_TRUE(saveAs(d, dir + QStringLiteral("/pics")));
  EXPECT_EQ(controller.openDocumentWithContentsOfFile(dir + QStringLiteral("/pics.qlpicture")), d);
  EXPECT_EQ(controller.documents().size(), 1u);
}

TEST_F(LayoutDocumentsTest, CloseAsksOnlyWhenEditedAndFollowsTheAnswer) {
  Document* clean = newDocument("VCD Movie");
  clean->tryClose();
  EXPECT_EQ(prompts.saveChangesAsked, 0);
  EXPECT_TRUE(clean->isClosed());

  LayoutDocument* d = newDocument("SVCD Movie");
  edit(d, filledState(7));
  bool closed = true;
  prompts.saveChoices = {SaveChoice::Cancel};
  d->tryClose([&](bool c) { closed = c; });
  EXPECT_FALSE(closed);
  EXPECT_FALSE(d->isClosed());

  // "Save" on an untitled document asks where; cancelling that keeps the document open.
  prompts.saveChoices = {SaveChoice::Save};
  prompts.savePaths = {QString()};
  d->tryClose([&](bool c) { closed = c; });
  EXPECT_FALSE(closed);

  prompts.saveChoices = {SaveChoice::Save};
  prompts.savePaths = {dir + QStringLiteral("/movie")};
  d->tryClose([&](bool c) { closed = c; });
  EXPECT_TRUE(closed);
  EXPECT_EQ(
      LayoutFileIO::initWithXMLData(contents(dir + QStringLiteral("/movie.qlsvcd"))).FSListMap(),
      filledState(7).listMap);

  LayoutDocument* dropped = newDocument("LiveAudio CD");
  edit(dropped, filledState(8));
  prompts.saveChoices = {SaveChoice::DontSave};
  dropped->tryClose([&](bool c) { closed = c; });
  EXPECT_TRUE(closed);
  test::processEvents();
  EXPECT_TRUE(controller.documents().empty());
  EXPECT_EQ(prompts.saveChangesAsked, 4);
}

TEST_F(LayoutDocumentsTest, CloseAllStopsAtTheFirstRefusal) {
  LayoutDocument* a = newDocument("Data CD");
  LayoutDocument* b = newDocument("Audio CD");
  LayoutDocument* c = newDocument("MP3 CD");
  edit(b, filledState(1));
  prompts.saveChoices = {SaveChoice::Cancel};
  bool all = true;
  controller.closeAll([&](bool ok) { all = ok; });
  EXPECT_FALSE(all);
  EXPECT_TRUE(a->isClosed());
  EXPECT_FALSE(b->isClosed());
  EXPECT_FALSE(c->isClosed());
  prompts.saveChoices = {SaveChoice::DontSave};
  controller.closeAll([&](bool ok) { all = ok; });
  EXPECT_TRUE(all);
  test::processEvents();
  EXPECT_TRUE(controller.documents().empty());
}

TEST_F(LayoutDocumentsTest, AFailedSaveKeepsTheEditsAndTheOldFile) {
  LayoutDocument* d = newDocument("Data CD");
  edit(d, filledState(1));
  ASSERT_TRUE(saveAs(d, dir + QStringLiteral("/kept")));
  const QByteArray before = contents(d->filePath());
  edit(d, filledState(2));
  EXPECT_FALSE(saveAs(d, dir + QStringLiteral("/no/such/folder/x")));
  EXPECT_TRUE(d->isDocumentEdited());
  EXPECT_EQ(d->filePath(), dir + QStringLiteral("/kept.qldata"));
  ASSERT_EQ(prompts.errors.size(), 1u);
  EXPECT_EQ(prompts.errors[0].titleKey, QStringLiteral("Save Failed"));
  EXPECT_EQ(contents(d->filePath()), before);
}

}  // namespace
