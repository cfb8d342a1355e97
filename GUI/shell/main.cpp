// SPDX-License-Identifier: GPL-2.0-or-later
#include <QApplication>

#include "shell/application.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillion"));
  QApplication::setOrganizationName(QStringLiteral("Quillion"));
  QApplication::setQuitOnLastWindowClosed(false);

  quillion::Application shell;
  QStringList files = QApplication::arguments();
  files.removeFirst();
  if (!shell.start(files)) return 1;
  return QApplication::exec();
}
