// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/messages.h"

#include <QLoggingCategory>
#include <QSet>
#include <cstdint>
#include <mutex>

#include "framework/xdg_paths.h"

namespace quillion {

namespace {

const char kGuiTable[] = "GUIMsgs";
const char kEngineErrorTable[] = "EngineErrorMsgs";

StringTable loadTable(const char* name, const QString& overrideDir) {
  const QString file = QLatin1String(name) + QStringLiteral(".txt");
  StringTable table = StringTable::fromFile(QStringLiteral(":/quillion/strings/") + file);
  if (!overrideDir.isEmpty())
    table.mergeFrom(StringTable::fromFile(overrideDir + QLatin1Char('/') + file));
  return table;
}

std::mutex g_mutex;
std::shared_ptr<const MessageCatalog> g_catalog;

#ifndef QT_NO_DEBUG
Q_LOGGING_CATEGORY(lcMessages, "quillion.messages")

// Each missing key is reported once, in debug builds, so that absent entries are easy to
// collect while the tables are completed.
void reportMiss(const char* tableName, const QString& key) {
  static std::mutex reportedMutex;
  static QSet<QString> reported;
  std::lock_guard lock(reportedMutex);
  if (reported.contains(key)) return;
  reported.insert(key);
  qCDebug(lcMessages) << "no entry in" << tableName << "for" << key;
}
#endif

QString lookupReportingMiss(const StringTable& table, const char* tableName, const QString& key) {
  if (auto text = table.find(key)) return *text;
#ifndef QT_NO_DEBUG
  reportMiss(tableName, key);
#else
  Q_UNUSED(tableName);
#endif
  return key;
}

}  // namespace

MessageCatalog MessageCatalog::load(const QString& overrideDir) {
  MessageCatalog catalog;
  catalog.gui_ = loadTable(kGuiTable, overrideDir);
  catalog.engineErrors_ = loadTable(kEngineErrorTable, overrideDir);
  return catalog;
}

namespace Msg {

void install(std::shared_ptr<const MessageCatalog> newCatalog) {
  std::lock_guard lock(g_mutex);
  g_catalog = std::move(newCatalog);
}

std::shared_ptr<const MessageCatalog> catalog() {
  std::lock_guard lock(g_mutex);
  if (!g_catalog)
    g_catalog = std::make_shared<const MessageCatalog>(MessageCatalog::load(userDataDir()));
  return g_catalog;
}

QString gui(const QString& key) {
  return lookupReportingMiss(catalog()->gui(), kGuiTable, key);
}

QString engineError(int status) {
  const auto code = static_cast<std::int16_t>(static_cast<std::uint16_t>(status & 0xFFFF));
  return lookupReportingMiss(catalog()->engineErrors(), kEngineErrorTable, QString::number(code));
}

}  // namespace Msg

}  // namespace quillion
