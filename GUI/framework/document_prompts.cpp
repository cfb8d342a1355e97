// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/document_prompts.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

#include "framework/cfmt.h"
#include "framework/document.h"
#include "framework/messages.h"
#include "framework/sheet_host.h"
#include "framework/window_controller.h"

namespace quillion {

namespace {

WindowController* windowOf(Document* document) {
  return document ? document->firstWindowController() : nullptr;
}

}  // namespace

void SheetPrompts::askSaveChanges(Document& document, std::function<void(SaveChoice)> answer) {
  WindowController* wc = windowOf(&document);
  if (wc == nullptr) return answer(SaveChoice::Cancel);
  wc->showWindow();
  auto* box = new QMessageBox(wc->window());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIcon(QMessageBox::Warning);
  box->setText(cfmt(Msg::gui(QStringLiteral("Do you want to save the changes you made in the "
                                            "document \"%@\"?")),
                    document.displayName()));
  box->setInformativeText(
      Msg::gui(QStringLiteral("Your changes will be lost if you don't save them.")));
  QAbstractButton* save = box->addButton(Msg::gui(QStringLiteral("Save")), QMessageBox::AcceptRole);
  QAbstractButton* dontSave =
      box->addButton(Msg::gui(QStringLiteral("Don't Save")), QMessageBox::DestructiveRole);
  QAbstractButton* cancel =
      box->addButton(Msg::gui(QStringLiteral("Cancel")), QMessageBox::RejectRole);
  box->setDefaultButton(qobject_cast<QPushButton*>(save));
  box->setEscapeButton(cancel);
  // A window busy with another sheet (a burn in progress) refuses to close.
  const bool shown = wc->sheets().beginSheet(box, [box, save, dontSave, answer](int) {
    QAbstractButton* pressed = box->clickedButton();
    answer(pressed == save       ? SaveChoice::Save
           : pressed == dontSave ? SaveChoice::DontSave
                                 : SaveChoice::Cancel);
  });
  if (!shown) {
    delete box;
    answer(SaveChoice::Cancel);
  }
}

void SheetPrompts::askSavePath(Document& document, const QString& proposedPath,
                               const QString& extension, std::function<void(QString)> answer) {
  WindowController* wc = windowOf(&document);
  if (wc == nullptr) return answer(QString());
  auto* dialog = new QFileDialog(wc->window(), Msg::gui(QStringLiteral("Save As")));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  if (!extension.isEmpty()) {
    dialog->setDefaultSuffix(extension);
    dialog->setNameFilter(cfmt(QStringLiteral("%@ (*.%@)"), document.fileType(), extension));
  }
  dialog->selectFile(proposedPath);
  const bool shown = wc->sheets().beginSheet(dialog, [dialog, answer](int code) {
    answer(code == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
  });
  if (!shown) {
    delete dialog;
    answer(QString());
  }
}

void SheetPrompts::reportError(Document* document, const QString& titleKey,
                               const QString& messageKey) {
  if (WindowController* wc = windowOf(document); wc && wc->isWindowLoaded()) {
    wc->sheets().alert(titleKey, messageKey);
    return;
  }
  // No window yet (a file that failed to open): an alert of the application.
  auto* box = new QMessageBox(QMessageBox::Warning, Msg::gui(titleKey), Msg::gui(titleKey));
  box->setInformativeText(Msg::gui(messageKey));
  box->addButton(Msg::gui(QStringLiteral("OK")), QMessageBox::AcceptRole);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->open();
}

}  // namespace quillion
