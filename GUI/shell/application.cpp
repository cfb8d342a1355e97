// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/application.h"

#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenuBar>

#include "documents/layout_document_kinds.h"
#include "framework/document.h"
#include "framework/messages.h"
#include "framework/window_controller.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

constexpr char kStartType[] = "Data CD";

QString fileFilter() {
  QStringList patterns;
  for (const LayoutKind& k : layoutDocumentKinds())
    patterns << QStringLiteral("*.") + QLatin1String(k.extension);
  for (const QString& e : cdImageExtensions()) patterns << QStringLiteral("*.") + e;
  return Msg::gui(QStringLiteral("Layouts and Disc Images")) + QStringLiteral(" (") +
         patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

}  // namespace

Application::Application(const QString& settingsPath, QObject* parent)
    : QObject(parent),
      defaults_(std::make_unique<Defaults>(settingsPath.isEmpty() ? Defaults::standardFilePath()
                                                                  : settingsPath)),
      documents_(std::make_unique<DocumentController>(prompts_)) {
  // Defaults are registered before any window reads one.
  registerPreferenceDefaults(*defaults_);
  Defaults::setShared(defaults_.get());
  registerLayoutDocumentTypes(*documents_);
  documents_->setWindowSetup(
      [this](WindowController& wc) { buildMenus(wc.window()->menuBar(), wc); });
  // Without a start window, the application has nothing left to show.
  connect(documents_.get(), &DocumentController::lastDocumentClosed, this,
          [] { QCoreApplication::quit(); });
}

Application::~Application() {
  documents_.reset();
  Defaults::setShared(nullptr);
}

bool Application::start(const QStringList& files) {
  for (const QString& f : files) documents_->openDocumentWithContentsOfFile(f);
  // A window to work in, also when no file could be opened (its alert shows over it).
  if (documents_->documents().empty())
    documents_->openUntitledDocumentOfType(QString::fromLatin1(kStartType));
  return !documents_->documents().empty();
}

void Application::quit() {
  if (quitGuard_ && !quitGuard_()) return;
  documents_->closeAll([](bool allClosed) {
    if (allClosed) QCoreApplication::quit();
  });
}

void Application::openWithPanel(QWidget* parent) {
  auto* dialog = new QFileDialog(parent, Msg::gui(QStringLiteral("Open")), QString(), fileFilter());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& files) {
    for (const QString& f : files) documents_->openDocumentWithContentsOfFile(f);
  });
  dialog->open();
}

void Application::buildMenus(QMenuBar* bar, WindowController& window) {
  QMenu* file = bar->addMenu(Msg::gui(QStringLiteral("File")));
  QMenu* newMenu = file->addMenu(Msg::gui(QStringLiteral("New")));
  for (const LayoutKind& k : layoutDocumentKinds()) {
    const QString type = QString::fromLatin1(k.typeName);
    newMenu->addAction(Msg::gui(type), this,
                       [this, type] { documents_->openUntitledDocumentOfType(type); });
  }
  file->addAction(Msg::gui(QStringLiteral("Open...")), QKeySequence::Open, this,
                  [this, w = window.window()] { openWithPanel(w); });
  file->addSeparator();
  QPointer<Document> doc = window.document();
  file->addAction(Msg::gui(QStringLiteral("Close")), QKeySequence::Close, this, [doc] {
    if (doc) doc->tryClose();
  });
  file->addAction(Msg::gui(QStringLiteral("Save")), QKeySequence::Save, this, [doc] {
    if (doc) doc->saveDocument();
  });
  file->addAction(Msg::gui(QStringLiteral("Save As...")), QKeySequence::SaveAs, this, [doc] {
    if (doc) doc->saveDocumentAs();
  });
  file->addSeparator();
  file->addAction(Msg::gui(QStringLiteral("Quit")), QKeySequence::Quit, this, [this] { quit(); });
  if (extraMenus_) extraMenus_(bar);
}

}  // namespace quillion
