// SPDX-License-Identifier: GPL-2.0-or-later
// The application's command line, as a person types it: --help and --version answer and
// exit; an unknown option is an error on stderr, never a file to open.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "support/gui_test_env.h"

namespace {

struct AppRun {
  int exitCode = -1;
  QString out, err;
};

AppRun runApplication(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", quillion::test::makeTempDir("cli-home"));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("QUILLION_SYSTEM_DRIVES", "0");
  process.setProcessEnvironment(env);
  process.start(qEnvironmentVariable("QUILLION_BINARY_DIR") + "/GUI/quillion", arguments);
  AppRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return run;
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

}  // namespace

TEST(CommandLine, HelpAndVersionAnswerAndExit) {
  const AppRun version = runApplication({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.startsWith("Quillion 0.1")) << version.out.toStdString();

  const AppRun help = runApplication({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.contains("Usage:")) << help.out.toStdString();
  EXPECT_TRUE(help.out.contains("--version"));
  EXPECT_TRUE(help.out.contains("files"));
}

TEST(CommandLine, AnUnknownOptionIsAnErrorNotAFile) {
  const AppRun run = runApplication({"--burn-everything", "x.qldata"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("Unknown option 'burn-everything'")) << run.err.toStdString();
}
