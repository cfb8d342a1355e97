// SPDX-License-Identifier: GPL-2.0-or-later
// The application shell: settings with their registered defaults, the string tables, the
// document controller with every layout document type, and the menus of each window.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "framework/defaults.h"
#include "framework/document_controller.h"
#include "framework/document_prompts.h"

class QMenuBar;

namespace quillion {

class Application : public QObject {
  Q_OBJECT

 public:
  // The settings file is Defaults::standardFilePath() unless one is given.
  explicit Application(const QString& settingsPath = QString(), QObject* parent = nullptr);
  ~Application() override;

  Defaults& defaults() { return *defaults_; }
  DocumentController& documents() { return *documents_; }

  // Opens the files given on the command line; a new data layout when none opened. Answers
  // whether a document is open.
  bool start(const QStringList& files);

  // Closes every document (each may ask to save), then leaves the event loop; nothing when
  // the quit guard refuses.
  void quit();
  void setQuitGuard(std::function<bool()> guard) { quitGuard_ = std::move(guard); }
  // Adds the shell's own menus after the File menu of every window built from now on; an
  // empty function removes them.
  void setExtraMenus(std::function<void(QMenuBar*)> build) { extraMenus_ = std::move(build); }

 private:
  void buildMenus(QMenuBar* bar, class WindowController& window);
  void openWithPanel(QWidget* parent);

  std::unique_ptr<Defaults> defaults_;
  SheetPrompts prompts_;
  std::unique_ptr<DocumentController> documents_;
  std::function<bool()> quitGuard_;
  std::function<void(QMenuBar*)> extraMenus_;
};

}  // namespace quillion
