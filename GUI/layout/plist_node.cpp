// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/plist_node.h"

#include <plist/plist.h>

#include <QList>
#include <cstdlib>
#include <limits>

namespace quillion::plist {

namespace {

// libplist hands out strings and buffers allocated with malloc.
struct CFree {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CBuffer = std::unique_ptr<T, CFree>;

Node itemAt(Node dict, const QString& key) {
  if (dict == nullptr) return nullptr;
  return plist_dict_get_item(static_cast<plist_t>(dict), key.toUtf8().constData());
}

Kind kindOf(Node node) {
  if (node == nullptr) return Kind::Absent;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING:
      return Kind::String;
    case PLIST_DATA:
      return Kind::Data;
    case PLIST_UINT:
      return Kind::Integer;
    case PLIST_BOOLEAN:
      return Kind::Boolean;
    case PLIST_DICT:
      return Kind::Dictionary;
    default:
      return Kind::Other;
  }
}

// XML 1.0 cannot carry most control characters, not even escaped; a text holding one would
// make a file that no reader (ours included) accepts, so they are left out.
QByteArray xmlSafeUtf8(const QString& text) {
  QString safe;
  safe.reserve(text.size());
  for (const char32_t c : text.toUcs4()) {
    const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
    if (allowed) safe.append(QString::fromUcs4(&c, 1));
  }
  return safe.toUtf8();
}

// libplist 2.2 can only create unsigned integers; its parser marks a negative one, so a
// negative value is made by parsing it.
Node newInteger(qint64 value) {
  if (value >= 0) return plist_new_uint(static_cast<uint64_t>(value));
  const QByteArray xml =
      "<plist version=\"1.0\"><integer>" + QByteArray::number(value) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &node);
  return node;
}

}  // namespace

void Free::operator()(Node node) const {
  if (node) plist_free(static_cast<plist_t>(node));
}

Owned newDict() {
  return Owned(plist_new_dict());
}

Owned copy(Node node) {
  return Owned(node ? plist_copy(static_cast<plist_t>(node)) : nullptr);
}

Owned parseDictionary(const QByteArray& xml) {
  if (xml.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  plist_t root = nullptr;
  plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &root);
  Owned owned(root);
  if (kindOf(root) != Kind::Dictionary) return nullptr;
  return owned;
}

QByteArray toXml(Node node) {
  if (node == nullptr) return {};
  char* raw = nullptr;
  uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(node), &raw, &length);
  CBuffer<char> xml(raw);
  return raw ? QByteArray(raw, static_cast<qsizetype>(length)) : QByteArray();
}

bool has(Node dict, const QString& key) {
  return itemAt(dict, key) != nullptr;
}

Kind kindAt(Node dict, const QString& key) {
  return kindOf(itemAt(dict, key));
}

std::optional<QString> stringAt(Node dict, const QString& key) {
  Node item = itemAt(dict, key);
  if (kindOf(item) != Kind::String) return std::nullopt;
  char* raw = nullptr;
  plist_get_string_val(item, &raw);
  CBuffer<char> text(raw);
  // An empty string is a value, not an absent one.
  return raw ? QString::fromUtf8(raw) : QStringLiteral("");
}

std::optional<QByteArray> dataAt(Node dict, const QString& key) {
  Node item = itemAt(dict, key);
  if (kindOf(item) != Kind::Data) return std::nullopt;
  char* raw = nullptr;
  uint64_t length = 0;
  plist_get_data_val(item, &raw, &length);
  CBuffer<char> bytes(raw);
  // Built from a non-null pointer even when empty: empty data is a value, not an absent one.
  return QByteArray(raw ? raw : "", raw ? static_cast<qsizetype>(length) : 0);
}

std::optional<qint64> integerAt(Node dict, const QString& key) {
  Node item = itemAt(dict, key);
  if (kindOf(item) != Kind::Integer) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(item, &value);
  // Negative values come back in two's complement; the strict check in front of the parser
  // has made sure that every integer fits 64 signed bits.
  return static_cast<qint64>(value);
}

std::optional<bool> boolAt(Node dict, const QString& key) {
  Node item = itemAt(dict, key);
  if (kindOf(item) != Kind::Boolean) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(item, &value);
  return value != 0;
}

Node dictAt(Node dict, const QString& key) {
  Node item = itemAt(dict, key);
  return kindOf(item) == Kind::Dictionary ? item : nullptr;
}

void forEachKey(Node dict, const std::function<void(const QString&, Kind)>& fn) {
  if (kindOf(dict) != Kind::Dictionary) return;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(static_cast<plist_t>(dict), &iter);
  CBuffer<void> ownedIter(iter);
  while (true) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(static_cast<plist_t>(dict), iter, &rawKey, &value);
    CBuffer<char> key(rawKey);
    if (value == nullptr) break;
    fn(QString::fromUtf8(rawKey ? rawKey : ""), kindOf(value));
  }
}

void setNode(Node dict, const QString& key, Owned value) {
  if (dict == nullptr || !value) return;
  plist_dict_set_item(static_cast<plist_t>(dict), key.toUtf8().constData(), value.release());
}

void remove(Node dict, const QString& key) {
  if (has(dict, key)) plist_dict_remove_item(static_cast<plist_t>(dict), key.toUtf8().constData());
}

void setString(Node dict, const QString& key, const QString& value) {
  setNode(dict, key, Owned(plist_new_string(xmlSafeUtf8(value).constData())));
}

void setData(Node dict, const QString& key, const QByteArray& value) {
  setNode(dict, key, Owned(plist_new_data(value.constData(), static_cast<uint64_t>(value.size()))));
}

void setInteger(Node dict, const QString& key, qint64 value) {
  setNode(dict, key, Owned(newInteger(value)));
}

void setBool(Node dict, const QString& key, bool value) {
  setNode(dict, key, Owned(plist_new_bool(value ? 1 : 0)));
}

}  // namespace quillion::plist
