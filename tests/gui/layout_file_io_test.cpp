// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/layout_file_io.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <random>

#include "support/gui_test_env.h"
#include "support/python_plist.h"

using namespace quillion;
using quillion::test::GuiTest;

namespace {

QJsonValue tagged(const char* type, const QJsonValue& v) {
  return QJsonArray{QLatin1String(type), v};
}

class LayoutFileIOTest : public GuiTest {
 protected:
  // Writes `data` to a file and reads it back with python's plistlib.
  QJsonObject readWithPython(const QByteArray& data) {
    const QString path =
        test::makeTempDir(QStringLiteral("plist")) + QStringLiteral("/layout.plist");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    const test::PythonPlist read = test::readPlistWithPython(path);
    if (!read.available) {
      ADD_FAILURE() << "python3 could not run: " << read.error.toStdString();
      return {};
    }
    EXPECT_TRUE(read.parsed) << read.error.toStdString();
    EXPECT_EQ(read.value.toArray().at(0).toString(), QStringLiteral("dict"));
    return read.value.toArray().at(1).toObject();
  }

  static LayoutCdText sampleCdText() {
    LayoutCdText t;
    t.disc = CdTextFields{QStringLiteral("Album"), QStringLiteral("Band"), QStringLiteral("W"),
                          QStringLiteral("C"), QStringLiteral("A")};
    t.tracks[1] = CdTextFields{QStringLiteral("Intro"), QStringLiteral("Band"), {}, {}, {}};
    t.tracks[12] =
        CdTextFields{QStringLiteral("Coda & <End>"), {}, {}, {}, QStringLiteral("Ärranger")};
    return t;
  }
};

TEST_F(LayoutFileIOTest, NewLayoutHoldsOnlyTheSignatureAndAnswersAbsentValues) {
  const LayoutFileIO layout;
  EXPECT_TRUE(layout.IsValid());
  EXPECT_TRUE(layout.check().ok());
  EXPECT_EQ(layout.FileFormat(), 2) << "a layout saved without a format reads back format 2";
  EXPECT_EQ(layout.dataFilterIndex(), 0);
  EXPECT_FALSE(layout.discSpan() || layout.writeXA() || layout.ignoreAlias() ||
               layout.appendAppleExtension());
  EXPECT_TRUE(layout.DstVendor().isNull());
  EXPECT_TRUE(layout.Title().isNull());
  EXPECT_TRUE(layout.FSTreeMap().isNull());
  EXPECT_FALSE(layout.CdTextEntries().has_value());
  const QJsonObject py = readWithPython(layout.XMLData());
  EXPECT_EQ(py, (QJsonObject{{QStringLiteral("Signature"),
                              tagged("string", QStringLiteral("ZEB VUK 9988"))}}));
}

TEST_F(LayoutFileIOTest, DestinationAndSourceStoreOnlyWhatTheRulesAllow) {
  LayoutFileIO layout;
  layout.SetDstDevice(QStringLiteral(""), QString(), QStringLiteral("1.0"), QStringLiteral(""));
  EXPECT_TRUE(layout.DstVendor().isNull()) << "an empty vendor leaves the key out";
  EXPECT_TRUE(layout.DstModel().isNull());
  EXPECT_EQ(layout.DstVersion(), QStringLiteral("1.0"));
  EXPECT_FALSE(layout.DstCDImagePath().isNull()) << "an empty image path is stored";
  EXPECT_TRUE(layout.DstCDImagePath().isEmpty());

  layout.SetSrcDevice(QStringLiteral("CD Image File"), QStringLiteral(""), QString(),
                      QStringLiteral(""));
  EXPECT_TRUE(layout.IsSrcCDImage());
  EXPECT_FALSE(layout.IsDstCDImage());
  EXPECT_TRUE(layout.SrcCDImagePath().isNull()) << "the source path is stored only when not empty";

  layout.SetTitle(QStringLiteral("t"));
  layout.SetFSTreeMap(QByteArray("x"));
  layout.SetTitle(QString());  // a missing value takes the key away
  layout.SetFSTreeMap(QByteArray());
  EXPECT_TRUE(layout.Title().isNull());
  EXPECT_TRUE(layout.FSTreeMap().isNull());

  const QJsonObject py = readWithPython(layout.XMLData());
  EXPECT_EQ(py.value(QStringLiteral("Destination Path")), tagged("string", QString()));
  EXPECT_FALSE(py.contains(QStringLiteral("Destination Vendor")));
  EXPECT_FALSE(py.contains(QStringLiteral("Source Path")));
}

TEST_F(LayoutFileIOTest, EveryKeyRoundTripsAndAnIndependentReaderAgrees) {
  LayoutFileIO layout;
  layout.SetDstDevice(QStringLiteral("ACME"), QStringLiteral("Writer 52x"), QStringLiteral("1.02"),
                      QStringLiteral("/home/u/Disc Image.wlt"));
  layout.SetDstISOImagePath(QStringLiteral("/home/u/disc.iso"));
  layout.SetSrcDevice(QStringLiteral("CD Image File"), QStringLiteral("m"), QStringLiteral("v"),
                      QStringLiteral("/src.wlt"));
  layout.SetTitle(QStringLiteral("Mix – 2024 \U0001F3B5"));
  const QByteArray tree("\x00\x01\x02TMND\xff", 8);
  layout.SetFSTreeMap(tree);
  layout.SetFSListMap(QByteArray(""));  // empty, but present
  layout.SetCDTextEntries(sampleCdText());
  layout.setDataFilterIndex(-1);
  layout.SetFileFormat(514);
  layout.SetDiscSpan(true);
  layout.SetWriteXA(true);
  layout.SetIgnoreAlias(false);
  layout.SetAppendAppleExtension(true);
  layout.SetVolumeSetName(QStringLiteral("SET"));
  layout.SetSystemName(QStringLiteral(""));
  layout.SetPublisherName(QStringLiteral("Pub"));
  layout.SetPreparerName(QStringLiteral("Prep"));

  const LayoutFileIO back = LayoutFileIO::initWithXMLData(layout.XMLData());
  ASSERT_TRUE(back.check().ok());
  EXPECT_EQ(back.DstVendor(), QStringLiteral("ACME"));
  EXPECT_EQ(back.DstCDImagePath(), QStringLiteral("/home/u/Disc Image.wlt"));
  EXPECT_EQ(back.DstISOImagePath(), QStringLiteral("/home/u/disc.iso"));
  EXPECT_TRUE(back.IsSrcCDImage());
  EXPECT_EQ(back.Title(), QStringLiteral("Mix – 2024 \U0001F3B5"));
  EXPECT_EQ(back.FSTreeMap(), tree);
  EXPECT_FALSE(back.FSListMap().isNull());
  EXPECT_TRUE(back.FSListMap().isEmpty());
  EXPECT_EQ(back.CdTextEntries(), sampleCdText());
  EXPECT_EQ(back.dataFilterIndex(), -1);
  EXPECT_EQ(back.FileFormat(), 514);
  EXPECT_TRUE(back.discSpan() && back.writeXA() && back.appendAppleExtension());
  EXPECT_FALSE(back.ignoreAlias());
  EXPECT_EQ(back.SystemName(), QStringLiteral(""));
  EXPECT_EQ(back.PreparerName(), QStringLiteral("Prep"));

  const QJsonObject py = readWithPython(layout.XMLData());
  EXPECT_EQ(py.size(), 24);
  EXPECT_EQ(py.value(QStringLiteral("FSTree Map")),
            tagged("data", QString::fromLatin1(tree.toBase64())));
  EXPECT_EQ(py.value(QStringLiteral("FSList Map")), tagged("data", QString()));
  EXPECT_EQ(py.value(QStringLiteral("Data Filter Key")), tagged("int", -1));
  EXPECT_EQ(py.value(QStringLiteral("Data File Format")), tagged("int", 514));
  EXPECT_EQ(py.value(QStringLiteral("Enable Disc Span Key")), tagged("bool", true));
  EXPECT_EQ(py.value(QStringLiteral("Ignore Alias")), tagged("bool", false));
  EXPECT_EQ(py.value(QStringLiteral("Title")),
            tagged("string", QStringLiteral("Mix – 2024 \U0001F3B5")));
  const QJsonObject cd = py.value(QStringLiteral("CD Text")).toArray().at(1).toObject();
  EXPECT_EQ(cd.keys(), (QStringList{QStringLiteral("Disc"), QStringLiteral("Track 1"),
                                    QStringLiteral("Track 12")}));
  const QJsonObject track12 = cd.value(QStringLiteral("Track 12")).toArray().at(1).toObject();
  EXPECT_EQ(track12.value(QStringLiteral("Title")),
            tagged("string", QStringLiteral("Coda & <End>")));
  EXPECT_EQ(track12.value(QStringLiteral("Song Writer")), tagged("string", QString()));
  EXPECT_EQ(track12.value(QStringLiteral("Arranger")),
            tagged("string", QStringLiteral("Ärranger")));
}

TEST_F(LayoutFileIOTest, TextsThatXmlCannotCarryAreCleanedSoTheFileStaysReadable) {
  LayoutFileIO layout;
  layout.SetTitle(
      QStringLiteral("a\x01"
                     "b\x1f"
                     "c\td"));
  const QByteArray xml = layout.XMLData();
  EXPECT_EQ(LayoutFileIO::initWithXMLData(xml).Title(), QStringLiteral("abc\td"));
  EXPECT_EQ(readWithPython(xml).value(QStringLiteral("Title")),
            tagged("string", QStringLiteral("abc\td")));
}

TEST_F(LayoutFileIOTest, DataThatIsNoPropertyListGivesAnEmptyLayout) {
  for (const QByteArray& data : {QByteArray("not xml at all"), QByteArray(),
                                 QByteArray("<plist version=\"1.0\"><string>x</string></plist>")}) {
    LayoutFileIO layout = LayoutFileIO::initWithXMLData(data);
    EXPECT_FALSE(layout.hasDictionary());
    EXPECT_FALSE(layout.IsValid());
    EXPECT_TRUE(layout.XMLData().isNull());
    EXPECT_EQ(layout.check().problem, LayoutFileProblem::NotAPropertyList);
    layout.SetTitle(QStringLiteral("ignored"));
    layout.SetFileFormat(1);
    EXPECT_TRUE(layout.Title().isNull());
    EXPECT_EQ(layout.FileFormat(), 2);
  }
}

TEST_F(LayoutFileIOTest, CheckNamesTheFirstKeyOfTheWrongType) {
  const QByteArray head = "<plist version=\"1.0\"><dict>";
  const QByteArray sig = "<key>Signature</key><string>ZEB VUK 9988</string>";
  const QByteArray tail = "</dict></plist>";
  struct Case {
    const char* what;
    QByteArray body;
    LayoutFileProblem problem;
    const char* key;
  };
  const std::vector<Case> cases = {
      {"no signature", "<key>Title</key><string>x</string>", LayoutFileProblem::NoSignature, ""},
      {"other signature", "<key>Signature</key><string>ZEB VUK 9989</string>",
       LayoutFileProblem::NoSignature, ""},
      {"signature as data", "<key>Signature</key><data>WkVC</data>", LayoutFileProblem::NoSignature,
       ""},
      {"tree as text", sig + "<key>FSTree Map</key><string>AAEC</string>",
       LayoutFileProblem::WrongType, "FSTree Map"},
      {"format as text", sig + "<key>Data File Format</key><string>2</string>",
       LayoutFileProblem::WrongType, "Data File Format"},
      {"filter beyond int", sig + "<key>Data Filter Key</key><integer>4294967296</integer>",
       LayoutFileProblem::WrongType, "Data Filter Key"},
      {"switch as integer", sig + "<key>CDROM XA</key><integer>1</integer>",
       LayoutFileProblem::WrongType, "CDROM XA"},
      {"CD text as array", sig + "<key>CD Text</key><array/>", LayoutFileProblem::WrongType,
       "CD Text"},
      {"track entry as text",
       sig + "<key>CD Text</key><dict><key>Track 1</key><string>x</string></dict>",
       LayoutFileProblem::WrongType, "CD Text/Track 1"},
      {"field as number",
       sig + "<key>CD "
             "Text</key><dict><key>Disc</key><dict><key>Title</key><integer>1</integer></dict></"
             "dict>",
       LayoutFileProblem::WrongType, "CD Text/Disc/Title"},
      {"unknown keys are fine", sig + "<key>Audio Filter Key</key><integer>3</integer>",
       LayoutFileProblem::None, ""},
  };
  for (const Case& c : cases) {
    const LayoutFileCheck check = LayoutFileIO::initWithXMLData(head + c.body + tail).check();
    EXPECT_EQ(check.problem, c.problem) << c.what;
    EXPECT_EQ(check.key, QLatin1String(c.key)) << c.what;
  }
}

TEST_F(LayoutFileIOTest, RandomlyDamagedFilesNeverCrashAndNeverHalfLoad) {
  LayoutFileIO layout;
  layout.SetDstDevice(QStringLiteral("ACME"), QStringLiteral("W"), QStringLiteral("1"),
                      QStringLiteral(""));
  layout.SetFSTreeMap(QByteArray(300, '\x5a'));
  layout.SetCDTextEntries(sampleCdText());
  layout.setDataFilterIndex(2);
  layout.SetDiscSpan(true);
  const QByteArray good = layout.XMLData();
  std::mt19937 rng(20240607);  // fixed: a failure must repeat
  int refused = 0;
  for (int i = 0; i < 3000; ++i) {
    QByteArray damaged = good;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e)
      damaged[static_cast<qsizetype>(rng() % damaged.size())] = static_cast<char>(rng() % 256);
    if (rng() % 3 == 0) damaged.truncate(static_cast<qsizetype>(rng() % damaged.size()));
    const LayoutFileIO read = LayoutFileIO::initWithXMLData(damaged);
    if (!read.check().ok()) {
      ++refused;
      continue;
    }
    // What is accepted is whole: it writes out again and reads back the same.
    const LayoutFileIO again = LayoutFileIO::initWithXMLData(read.XMLData());
    ASSERT_TRUE(again.check().ok()) << i;
    EXPECT_EQ(again.CdTextEntries(), read.CdTextEntries()) << i;
    EXPECT_EQ(again.FSTreeMap(), read.FSTreeMap()) << i;
  }
  EXPECT_GT(refused, 1000);
}

}  // namespace
