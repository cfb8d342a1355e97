// SPDX-License-Identifier: GPL-2.0-or-later
// Ownership of libplist nodes and the few typed reads and writes the layout file needs.
// libplist's own header stays out of this one, so users of the layout file do not see it.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace quillion::plist {

using Node = void*;  // a libplist plist_t

struct Free {
  void operator()(Node node) const;
};
using Owned = std::unique_ptr<void, Free>;

Owned newDict();
Owned copy(Node node);

// Parses `xml` once it passed isStrictXmlPlist(); null when the root is not a dictionary.
Owned parseDictionary(const QByteArray& xml);
QByteArray toXml(Node node);

bool has(Node dict, const QString& key);
// Each answers nullopt when the key is absent or holds another type.
std::optional<QString> stringAt(Node dict, const QString& key);
std::optional<QByteArray> dataAt(Node dict, const QString& key);
std::optional<qint64> integerAt(Node dict, const QString& key);
std::optional<bool> boolAt(Node dict, const QString& key);
Node dictAt(Node dict, const QString& key);  // not owned; null when absent or not a dictionary

enum class Kind { Absent, String, Data, Integer, Boolean, Dictionary, Other };
Kind kindAt(Node dict, const QString& key);

// Calls fn(key, kind) for every entry of a dictionary.
void forEachKey(Node dict, const std::function<void(const QString& key, Kind kind)>& fn);

// Every setter does nothing on a null dictionary.
void setString(Node dict, const QString& key, const QString& value);
void setData(Node dict, const QString& key, const QByteArray& value);
void setInteger(Node dict, const QString& key, qint64 value);
void setBool(Node dict, const QString& key, bool value);
void setNode(Node dict, const QString& key, Owned value);  // takes ownership
void remove(Node dict, const QString& key);

}  // namespace quillion::plist
