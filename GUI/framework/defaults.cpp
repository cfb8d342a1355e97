// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/defaults.h"

#include "framework/xdg_paths.h"

namespace quillion {

namespace {
Defaults* g_installed = nullptr;
}

Defaults::Defaults(const QString& filePath, QObject* parent)
    : QObject(parent), settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

Defaults::~Defaults() {
  if (g_installed == this) g_installed = nullptr;
}

QString Defaults::standardFilePath() {
  return userConfigDir() + QStringLiteral("/quillion.conf");
}

Defaults& Defaults::shared() {
  if (g_installed) return *g_installed;
  static Defaults fallback(standardFilePath());
  return fallback;
}

void Defaults::setShared(Defaults* defaults) {
  g_installed = defaults;
}

void Defaults::registerDefaults(const QVariantMap& defaults) {
  for (auto it = defaults.begin(); it != defaults.end(); ++it)
    registered_.insert(it.key(), it.value());
}

bool Defaults::isStored(const QString& key) const {
  return settings_->contains(key);
}

QVariant Defaults::value(const QString& key) const {
  // An empty list is stored as an invalid variant by the INI writer; contains() still tells
  // a stored empty list from an absent key, so the registered default does not come back.
  if (settings_->contains(key)) return settings_->value(key);
  return registered_.value(key);
}

bool Defaults::boolValue(const QString& key) const {
  return value(key).toBool();
}
int Defaults::intValue(const QString& key) const {
  return value(key).toInt();
}
QString Defaults::stringValue(const QString& key) const {
  return value(key).toString();
}
QStringList Defaults::stringList(const QString& key) const {
  return value(key).toStringList();
}
QByteArray Defaults::dataValue(const QString& key) const {
  return value(key).toByteArray();
}

bool Defaults::set(const QString& key, const QVariant& newValue) {
  const QVariant before = value(key);
  settings_->setValue(key, newValue);
  const bool ok = syncAndReport();
  if (before != value(key)) emit changed(key);
  return ok;
}

bool Defaults::remove(const QString& key) {
  const QVariant before = value(key);
  settings_->remove(key);
  const bool ok = syncAndReport();
  if (before != value(key)) emit changed(key);
  return ok;
}

bool Defaults::syncAndReport() {
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

QString Defaults::filePath() const {
  return settings_->fileName();
}

}  // namespace quillion
