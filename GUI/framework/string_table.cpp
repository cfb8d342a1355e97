// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/string_table.h"

#include <QFile>

namespace quillion {

namespace {

QChar unescaped(QChar c) {
  switch (c.unicode()) {
    case 'n':
      return QLatin1Char('\n');
    case 't':
      return QLatin1Char('\t');
    default:
      return c;  // "\\", "\=", "\#" and anything else stand for themselves
  }
}

// Splits one line into key and value; false when the line has no unescaped "=".
bool splitEntry(QStringView line, QString& key, QString& value) {
  QString* out = &key;
  bool sawSeparator = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c == QLatin1Char('\\') && i + 1 < line.size()) {
      out->append(unescaped(line[++i]));
    } else if (c == QLatin1Char('=') && !sawSeparator) {
      sawSeparator = true;
      out = &value;
    } else {
      out->append(c);
    }
  }
  return sawSeparator;
}

}  // namespace

StringTable StringTable::parse(const QString& text, std::vector<int>* badLines) {
  StringTable table;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (qsizetype n = 0; n < lines.size(); ++n) {
    QStringView line = lines[n];
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    QString key, value;
    if (!splitEntry(line, key, value)) {
      if (badLines) badLines->push_back(static_cast<int>(n + 1));
      continue;
    }
    table.entries_.insert(key, value);
  }
  return table;
}

StringTable StringTable::fromFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return parse(QString::fromUtf8(file.readAll()));
}

void StringTable::mergeFrom(const StringTable& overrides) {
  for (auto it = overrides.entries_.begin(); it != overrides.entries_.end(); ++it)
    entries_.insert(it.key(), it.value());
}

std::optional<QString> StringTable::find(const QString& key) const {
  const auto it = entries_.constFind(key);
  if (it == entries_.constEnd()) return std::nullopt;
  return *it;
}

QString StringTable::lookup(const QString& key) const {
  return find(key).value_or(key);
}

}  // namespace quillion
