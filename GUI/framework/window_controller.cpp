// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/window_controller.h"

#include <QCloseEvent>
#include <QMainWindow>

#include "framework/document.h"
#include "framework/main_thread.h"
#include "framework/sheet_host.h"

namespace quillion {

WindowController::WindowController() = default;

WindowController::~WindowController() {
  if (window_) window_->removeEventFilter(this);
  sheets_.reset();
  window_.reset();
}

void WindowController::setDocument(Document* document) {
  if (document_) disconnect(document_, nullptr, this, nullptr);
  document_ = document;
  if (!document) return;
  connect(document, &Document::displayNameChanged, this,
          [this] { synchronizeWindowTitleWithDocumentName(); });
  connect(document, &Document::editedChanged, this, &WindowController::setDocumentEdited);
  if (window_) synchronizeWindowTitleWithDocumentName();
}

QMainWindow* WindowController::window() {
  Q_ASSERT(isMainThread());
  if (!window_) {
    window_ = makeWindow();
    sheets_ = std::make_unique<SheetHost>(window_.get());
    window_->installEventFilter(this);
    synchronizeWindowTitleWithDocumentName();
    if (Document* doc = document_.data()) window_->setWindowModified(doc->isDocumentEdited());
    windowDidLoad();
  }
  return window_.get();
}

SheetHost& WindowController::sheets() {
  window();
  return *sheets_;
}

std::unique_ptr<QMainWindow> WindowController::makeWindow() {
  return std::make_unique<QMainWindow>();
}

void WindowController::showWindow() {
  QMainWindow* w = window();
  w->show();
  w->raise();
  w->activateWindow();
}

void WindowController::closeWindow() {
  if (!window_ || closing_) return;
  closing_ = true;
  windowWillClose();
  window_->hide();
}

void WindowController::setDocumentEdited(bool edited) {
  if (window_) window_->setWindowModified(edited);
}

QString WindowController::windowTitleForDocumentDisplayName(const QString& displayName) const {
  return displayName;
}

void WindowController::synchronizeWindowTitleWithDocumentName() {
  if (!window_) return;
  const Document* doc = document_.data();
  const QString name = doc ? doc->displayName() : QString();
  // "[*]" is where the window shows its modified mark.
  window_->setWindowTitle(windowTitleForDocumentDisplayName(name) + QStringLiteral("[*]"));
}

bool WindowController::eventFilter(QObject* watched, QEvent* event) {
  Document* doc = document_.data();
  if (watched == window_.get() && event->type() == QEvent::Close && !closing_ && doc) {
    // The document decides: it may ask to save, and the answer comes later.
    event->ignore();
    doc->tryClose();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace quillion
