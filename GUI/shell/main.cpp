// SPDX-License-Identifier: GPL-2.0-or-later
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <csignal>
#include <functional>

#include "shell/about_panel.h"
#include "shell/app_controller.h"
#include "shell/application.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const char byte = 1;
  (void)!::write(g_signalPipe[0], &byte, 1);  // all a signal handler may safely do
}

// SIGTERM and SIGINT quit the way the Quit command does, so that a headless run (or a
// session ending) still gives every drive back.
void quitOnTerminationSignals(QObject* context, std::function<void()> quit) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [quit = std::move(quit)] {
    char byte = 0;
    (void)!::read(g_signalPipe[1], &byte, 1);
    quit();
  });
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillion"));
  QApplication::setOrganizationName(QStringLiteral("Quillion"));
  QApplication::setApplicationVersion(quillion::applicationVersion());
  QApplication::setQuitOnLastWindowClosed(false);

  // --help and --version answer and exit; an unknown option is an error, never a file name.
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Lays out and records CDs, DVDs and Blu-ray discs."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("files"),
                               QStringLiteral("Layouts or disc images to open."),
                               QStringLiteral("[files...]"));
  parser.process(app);

  quillion::Application shell;
  quillion::AppController controller(shell);
  shell.setQuitGuard([&controller] { return controller.numberOfDrivesErasing() == 0; });
  quitOnTerminationSignals(&shell, [&shell] { shell.quit(); });
  if (!controller.launch(parser.positionalArguments())) return 1;
  const int status = QApplication::exec();
  // Every drive is given back and device control stops before the process ends.
  (void)controller.shouldTerminate();
  return status;
}
