// SPDX-License-Identifier: GPL-2.0-or-later
// The controller of one document window: builds the window on first use, keeps its title in
// step with the document's name and edited state, owns the window's sheets, and turns the
// window's close button into the document's close command (which may ask to save).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "framework/document.h"

class QMainWindow;

namespace quillion {

class SheetHost;

class WindowController : public QObject {
  Q_OBJECT

 public:
  WindowController();
  ~WindowController() override;

  Document* document() const { return document_; }
  void setDocument(Document* document);

  // The window, built by makeWindow() and wired by windowDidLoad() on first use.
  QMainWindow* window();
  bool isWindowLoaded() const { return window_ != nullptr; }
  SheetHost& sheets();

  void showWindow();
  // Hides the window for good (the document is closing).
  void closeWindow();

  // Marks the window as holding unsaved changes.
  void setDocumentEdited(bool edited);
  virtual QString windowTitleForDocumentDisplayName(const QString& displayName) const;
  void synchronizeWindowTitleWithDocumentName();

 protected:
  virtual std::unique_ptr<QMainWindow> makeWindow();
  virtual void windowDidLoad() {}
  virtual void windowWillClose() {}

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<Document> document_;
  std::unique_ptr<QMainWindow> window_;
  std::unique_ptr<SheetHost> sheets_;
  bool closing_ = false;
};

}  // namespace quillion
