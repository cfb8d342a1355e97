// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/xdg_paths.h"

#include <QDir>

namespace quillion {

namespace {

// The rules say a relative value is invalid and must be ignored.
QString baseDir(const char* variable, const char* fallbackUnderHome) {
  const QString value = qEnvironmentVariable(variable);
  if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
  return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
}

QString appDir(const char* variable, const char* fallbackUnderHome) {
  return baseDir(variable, fallbackUnderHome) + QStringLiteral("/quillion");
}

}  // namespace

QString userConfigDir() {
  return appDir("XDG_CONFIG_HOME", ".config");
}
QString userDataDir() {
  return appDir("XDG_DATA_HOME", ".local/share");
}
// Qt 6.4 has no state location, so the variable is read here.
QString userStateDir() {
  return appDir("XDG_STATE_HOME", ".local/state");
}

}  // namespace quillion
