// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/gui_test_env.h"

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace quillion::test {

namespace {

struct Environment {
  TempDir dir;
  std::string root = dir.path().string();

  Environment() {
    for (const char* sub : {"home", "config", "data", "state", "cache", "runtime"})
      std::filesystem::create_directories(std::filesystem::path(root) / sub);
    std::filesystem::permissions(std::filesystem::path(root) / "runtime",
                                 std::filesystem::perms::owner_all);
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
};

Environment& environment() {
  static Environment env;
  return env;
}

}  // namespace

QApplication& guiApp() {
  environment();
  static int argc = 1;
  static char name[] = "quillion-gui-test";
  static char* argv[] = {name, nullptr};
  // Kept for the whole process: a QApplication cannot be made twice.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QString tempRoot() {
  return QString::fromStdString(environment().root);
}

QString makeTempDir(const QString& name) {
  static int counter = 0;
  const QString path = tempRoot() + QStringLiteral("/t%1-").arg(++counter) + name;
  QDir().mkpath(path);
  return path;
}

QString screenshotPath(const QString& name) {
  const QString build = qEnvironmentVariable("QUILLION_BINARY_DIR");
  const QString dir = build.isEmpty() ? makeTempDir(QStringLiteral("screenshots"))
                                      : build + QStringLiteral("/screenshots");
  QDir().mkpath(dir);
  return dir + QLatin1Char('/') + name;
}

void processEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

}  // namespace quillion::test
