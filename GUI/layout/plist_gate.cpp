// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/plist_gate.h"

#include <QDateTime>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace quillion {

namespace {

class Gate {
 public:
  explicit Gate(const QByteArray& data) : xml_(data) {}

  bool run() {
    if (!nextElement()) return fail(QStringLiteral("no root element"));
    if (xml_.name() != QLatin1String("plist")) return fail(QStringLiteral("root is not plist"));
    if (!nextElement()) return fail(QStringLiteral("empty plist"));
    if (!value(1)) return false;
    if (!nextElement() && !xml_.hasError() && xml_.isEndElement() &&
        xml_.name() == QLatin1String("plist")) {
      // Nothing but comments and white space may follow the root.
      while (!xml_.atEnd()) {
        xml_.readNext();
        if (xml_.isStartElement() || (xml_.isCharacters() && !xml_.isWhitespace()))
          return fail(QStringLiteral("content after plist"));
      }
      if (xml_.hasError()) return fail(xml_.errorString());
      return true;
    }
    return fail(xml_.hasError() ? xml_.errorString() : QStringLiteral("more than one value"));
  }

  QString why;

 private:
  bool fail(const QString& reason) {
    if (why.isEmpty()) why = reason;
    return false;
  }

  // Moves to the next token that matters, skipping the prologue, comments and processing
  // instructions. Entity references the document does not declare are refused: the parser
  // behind this check would read them differently.
  bool next() {
    while (!xml_.atEnd()) {
      switch (xml_.readNext()) {
        case QXmlStreamReader::StartDocument:
          if (!xml_.documentEncoding().isEmpty() &&
              xml_.documentEncoding().compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
            return fail(QStringLiteral("declared encoding is not UTF-8"));
          continue;
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
          continue;
        case QXmlStreamReader::StartElement:
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::Characters:
          return true;
        case QXmlStreamReader::Invalid:
          return fail(xml_.errorString());
        default:
          return fail(QStringLiteral("unexpected content"));
      }
    }
    return fail(QStringLiteral("cut off"));
  }

  // Moves to the next start element; false at an end element or on an error. Only white
  // space may come in between.
  bool nextElement() {
    while (next()) {
      if (xml_.isStartElement()) return true;
      if (xml_.isEndElement()) return false;
      if (!xml_.isWhitespace()) return fail(QStringLiteral("stray text"));
    }
    return false;
  }

  // Reads the text of a leaf element up to its end element.
  bool leafText(QString& text) {
    text.clear();
    while (next()) {
      if (xml_.isEndElement()) return true;
      if (xml_.isStartElement()) return fail(QStringLiteral("element inside a value"));
      text += xml_.text();
    }
    return false;
  }

  // The current start element is a value; reads it through its end element.
  bool value(int depth) {
    if (depth > kMaxPlistDepth) return fail(QStringLiteral("nested too deep"));
    const QString name = xml_.name().toString();
    if (name == QLatin1String("dict")) return dict(depth);
    if (name == QLatin1String("array")) {
      while (nextElement())
        if (!value(depth + 1)) return false;
      return !xml_.hasError() || fail(xml_.errorString());
    }
    QString text;
    if (!leafText(text)) return false;
    if (name == QLatin1String("string")) return true;
    if (name == QLatin1String("true") || name == QLatin1String("false"))
      return text.isEmpty() || fail(QStringLiteral("text in a boolean"));
    if (name == QLatin1String("integer")) {
      bool ok = false;
      text.trimmed().toLongLong(&ok, 10);
      return ok || fail(QStringLiteral("integer out of range: ") + text);
    }
    if (name == QLatin1String("real")) {
      bool ok = false;
      text.trimmed().toDouble(&ok);
      return ok || fail(QStringLiteral("bad real: ") + text);
    }
    if (name == QLatin1String("date")) {
      // The writer behind the parser prints years below 1000 with fewer than four digits,
      // which no reader takes back: such a date is refused here rather than saved unreadable.
      const QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODate);
      return (date.isValid() && date.date().year() >= 1000) ||
             fail(QStringLiteral("bad date: ") + text);
    }
    if (name == QLatin1String("data")) {
      QByteArray compact = text.toLatin1();
      compact.replace(' ', "").replace('\n', "").replace('\t', "").replace('\r', "");
      return QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors) ||
             fail(QStringLiteral("bad base64"));
    }
    return fail(QStringLiteral("unknown element ") + name);
  }

  bool dict(int depth) {
    // The parser behind this check keeps one of two equal keys: which value a key holds must
    // not depend on the reader.
    QSet<QString> keys;
    while (nextElement()) {
      if (xml_.name() != QLatin1String("key")) return fail(QStringLiteral("value without key"));
      QString key;
      if (!leafText(key)) return false;
      if (keys.contains(key)) return fail(QStringLiteral("key twice: ") + key);
      keys.insert(key);
      if (!nextElement()) return fail(QStringLiteral("key without value"));
      if (!value(depth + 1)) return false;
    }
    return !xml_.hasError() || fail(xml_.errorString());
  }

  QXmlStreamReader xml_;
};

}  // namespace

bool isStrictXmlPlist(const QByteArray& data, QString* why) {
  // The parser behind this check reads bytes as UTF-8 whatever the document declares, while
  // the XML reader here honours the declaration: only where both are UTF-8 do they see the
  // same text. A NUL byte is no XML character, and it is how UTF-16 and UTF-32 begin.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
  (void)utf8.decode(data);
  if (utf8.hasError() || data.contains('\0')) {
    if (why) *why = QStringLiteral("not UTF-8");
    return false;
  }
  Gate gate(data);
  const bool ok = gate.run();
  if (why) *why = gate.why;
  return ok;
}

}  // namespace quillion
