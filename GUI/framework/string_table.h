// SPDX-License-Identifier: GPL-2.0-or-later
// A table of user-visible texts keyed by an English phrase.
//
// File form (UTF-8): one entry a line, "key=value", split at the first "=" that is not
// escaped. Lines that are empty or start with "#" are skipped. Escapes in keys and values:
// "\\" backslash, "\n" line feed, "\t" tab, "\=" equals sign, "\#" number sign. Nothing is
// trimmed: a leading or trailing space belongs to the text.
#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace quillion {

class StringTable {
 public:
  // `badLines` receives the 1-based numbers of lines that hold no "=".
  static StringTable parse(const QString& text, std::vector<int>* badLines = nullptr);
  // An unreadable or missing file gives an empty table.
  static StringTable fromFile(const QString& path);

  // Entries of `overrides` replace entries of the same key.
  void mergeFrom(const StringTable& overrides);

  std::optional<QString> find(const QString& key) const;
  // The text of `key`, or the key itself when the table has no entry: a missing text shows
  // its key rather than nothing.
  QString lookup(const QString& key) const;

  qsizetype size() const { return entries_.size(); }

 private:
  QHash<QString, QString> entries_;
};

}  // namespace quillion
