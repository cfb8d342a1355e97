// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/cfmt.h"

#include <algorithm>

namespace quillion {

namespace {

constexpr int kMaxField = 1000;

struct Spec {
  QString flags;
  int width = -1;
  int precision = -1;
  QChar conversion;
};

bool isLengthModifier(QChar c) {
  return c == QLatin1Char('h') || c == QLatin1Char('l') || c == QLatin1Char('q') ||
         c == QLatin1Char('z') || c == QLatin1Char('j') || c == QLatin1Char('t') ||
         c == QLatin1Char('L');
}

int readNumber(const QString& f, qsizetype& i) {
  int n = 0;
  while (i < f.size() && f[i].isDigit()) {
    n = std::min(kMaxField, n * 10 + f[i].digitValue());
    ++i;
  }
  return n;
}

// Parses the conversion that starts after a '%' at `i`; on success `i` is past it.
bool parseSpec(const QString& f, qsizetype& i, Spec& spec) {
  while (i < f.size() && QStringLiteral("-+ 0#").contains(f[i])) spec.flags.append(f[i++]);
  if (i < f.size() && f[i].isDigit()) spec.width = readNumber(f, i);
  if (i < f.size() && f[i] == QLatin1Char('.')) {
    ++i;
    spec.precision = readNumber(f, i);
  }
  while (i < f.size() && isLengthModifier(f[i])) ++i;
  if (i >= f.size()) return false;
  spec.conversion = f[i++];
  return true;
}

QByteArray cSpec(const Spec& spec, const char* length) {
  QByteArray out = "%" + spec.flags.toLatin1();
  if (spec.width >= 0) out += QByteArray::number(spec.width);
  if (spec.precision >= 0) out += '.' + QByteArray::number(spec.precision);
  return out + length + spec.conversion.toLatin1();
}

QString padText(QString text, const Spec& spec) {
  if (spec.precision >= 0) text.truncate(spec.precision);
  const bool left = spec.flags.contains(QLatin1Char('-'));
  if (spec.width > text.size())
    text = left ? text.leftJustified(spec.width) : text.rightJustified(spec.width);
  return text;
}

// The C format is assembled from parsed, known parts: flags from "-+ 0#", numbers, one
// length modifier matching the argument passed and one known conversion. The compiler cannot
// see that, hence the local exemption from its literal-format check.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
QString formatOne(const Spec& spec, const QVariant& arg) {
  switch (spec.conversion.unicode()) {
    case 'd':
    case 'i':
      return QString::asprintf(cSpec(spec, "ll").constData(), arg.toLongLong());
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      return QString::asprintf(cSpec(spec, "ll").constData(), arg.toULongLong());
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      return QString::asprintf(cSpec(spec, "").constData(), arg.toDouble());
    case 'c': {
      const char32_t code = arg.typeId() == QMetaType::QString
                                ? arg.toString().toUcs4().value(0)
                                : static_cast<char32_t>(arg.toUInt());
      return padText(QString::fromUcs4(&code, 1), Spec{spec.flags, spec.width, -1, {}});
    }
    default:  // 's' and '@'
      return padText(arg.toString(), spec);
  }
}
#pragma GCC diagnostic pop

bool isKnownConversion(QChar c) {
  return QStringLiteral("diuxXocfFeEgGs@").contains(c);
}

}  // namespace

QString cfmt(const QString& format, const QVariantList& args) {
  QString out;
  qsizetype next = 0;
  for (qsizetype i = 0; i < format.size();) {
    if (format[i] != QLatin1Char('%')) {
      out.append(format[i++]);
      continue;
    }
    const qsizetype start = i++;
    if (i < format.size() && format[i] == QLatin1Char('%')) {
      out.append(QLatin1Char('%'));
      ++i;
      continue;
    }
    Spec spec;
    if (!parseSpec(format, i, spec) || !isKnownConversion(spec.conversion)) {
      out.append(QStringView(format).mid(start, i - start));
      continue;
    }
    if (next < args.size()) out.append(formatOne(spec, args[next]));
    ++next;
  }
  return out;
}

}  // namespace quillion
