// SPDX-License-Identifier: GPL-2.0-or-later
// Layout files: the strict gate, the property-list parser behind it, every typed getter, and
// saving and loading again. Whatever loads must save to a file that loads again with the same
// values and saves to the same bytes, and the gate's XML reader and the parser must have seen
// the same text in every key and string.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fuzz_support.h"
#include "layout/layout_file_io.h"
#include "layout/plist_gate.h"

namespace {

using quillion::LayoutFileIO;
using quillion::fuzz::check;

// Every value the getters answer, in one comparable record.
struct Snapshot {
  QStringList strings;
  QByteArray tree, list;
  std::optional<quillion::LayoutCdText> cdText;
  int filter = 0, format = 0;
  bool flags[4] = {};
  quillion::LayoutFileProblem problem = quillion::LayoutFileProblem::None;
  QString problemKey;

  bool operator==(const Snapshot& o) const {
    return strings == o.strings && tree == o.tree && list == o.list && cdText == o.cdText &&
           filter == o.filter && format == o.format && flags[0] == o.flags[0] &&
           flags[1] == o.flags[1] && flags[2] == o.flags[2] && flags[3] == o.flags[3] &&
           problem == o.problem && problemKey == o.problemKey;
  }
};

Snapshot snapshot(const LayoutFileIO& f) {
  Snapshot s;
  s.strings = {f.DstVendor(),       f.DstModel(),    f.DstVersion(),    f.DstCDImagePath(),
               f.DstISOImagePath(), f.SrcVendor(),   f.SrcModel(),      f.SrcVersion(),
               f.SrcCDImagePath(),  f.Title(),       f.VolumeSetName(), f.SystemName(),
               f.PublisherName(),   f.PreparerName()};
  s.tree = f.FSTreeMap();
  s.list = f.FSListMap();
  s.cdText = f.CdTextEntries();
  s.filter = f.dataFilterIndex();
  s.format = f.FileFormat();
  s.flags[0] = f.discSpan();
  s.flags[1] = f.writeXA();
  s.flags[2] = f.ignoreAlias();
  s.flags[3] = f.appendAppleExtension();
  const quillion::LayoutFileCheck c = f.check();
  s.problem = c.problem;
  s.problemKey = c.key;
  (void)f.IsValid();
  (void)f.IsDstCDImage();
  (void)f.IsSrcCDImage();
  return s;
}

// The text of every key and string element, in document order, as an XML reader sees it.
QStringList texts(const QByteArray& xml) {
  QStringList out;
  QXmlStreamReader reader(xml);
  while (!reader.atEnd()) {
    if (reader.readNext() != QXmlStreamReader::StartElement) continue;
    if (reader.name() == QLatin1String("key") || reader.name() == QLatin1String("string"))
      out << reader.readElementText();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const LayoutFileIO loaded = LayoutFileIO::initWithXMLData(file);
  const Snapshot first = snapshot(loaded);
  if (!loaded.hasDictionary()) return 0;
  check(quillion::isStrictXmlPlist(file), "only what passes the gate loads");

  const QByteArray saved = loaded.XMLData();
  QString why;
  check(quillion::isStrictXmlPlist(saved, &why), "a saved layout passes the gate");
  // The parser kept the gate's text: what it writes back holds the same keys and strings.
  check(texts(saved) == texts(file), "gate and parser read the same text");

  const LayoutFileIO again = LayoutFileIO::initWithXMLData(saved);
  check(again.hasDictionary(), "a saved layout loads again");
  check(snapshot(again) == first, "a saved layout loads with the same values");
  check(again.XMLData() == saved, "saving twice gives the same bytes");

  // A copy carries everything over.
  const LayoutFileIO copied(loaded);
  check(copied.XMLData() == saved, "a copy saves the same bytes");
  return 0;
}
