// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/sheet_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "framework/main_thread.h"
#include "framework/messages.h"

namespace quillion {

SheetHost::SheetHost(QWidget* window) : window_(window) {}

SheetHost::~SheetHost() = default;

bool SheetHost::beginSheet(QDialog* sheet, std::function<void(int)> didEnd) {
  Q_ASSERT(isMainThread());
  if (sheet == nullptr || hasAttachedSheet() || window_.isNull()) return false;
  if (sheet->parentWidget() != window_)
    sheet->setParent(window_, sheet->windowFlags() | Qt::Dialog);
  sheet->setWindowModality(Qt::WindowModal);
  *current_ = sheet;
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection = QObject::connect(
      sheet, &QDialog::finished, sheet,
      [current = current_, sheet, connection, didEnd = std::move(didEnd)](int code) {
        QObject::disconnect(*connection);
        // Cleared before the callback, which may begin the next sheet.
        if (*current == sheet) *current = nullptr;
        if (didEnd) didEnd(code);
      });
  sheet->open();
  return true;
}

void SheetHost::endSheet(QDialog* sheet, int returnCode) {
  if (sheet != nullptr && sheet == *current_) sheet->done(returnCode);
}

bool SheetHost::alert(const QString& titleKey, const QString& messageKey,
                      const QStringList& buttonKeys, std::function<void(int)> didEnd) {
  QApplication::beep();
  if (hasAttachedSheet() || window_.isNull()) return false;
  auto* box = new QMessageBox(window_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIcon(QMessageBox::Warning);
  box->setText(Msg::gui(titleKey));
  box->setInformativeText(Msg::gui(messageKey));
  QList<QAbstractButton*> buttons;
  for (const QString& key : buttonKeys) {
    const auto role = buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
    buttons.append(box->addButton(Msg::gui(key), role));
  }
  if (!buttons.isEmpty()) box->setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
  return beginSheet(box, [box, buttons, didEnd = std::move(didEnd)](int) {
    if (didEnd) didEnd(static_cast<int>(buttons.indexOf(box->clickedButton())));
  });
}

int SheetHost::runModal(QDialog* dialog) {
  Q_ASSERT(isMainThread());
  if (dialog == nullptr || !isMainThread()) return QDialog::Rejected;
  dialog->setWindowModality(Qt::ApplicationModal);
  return dialog->exec();
}

}  // namespace quillion
