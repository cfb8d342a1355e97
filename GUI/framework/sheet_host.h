// SPDX-License-Identifier: GPL-2.0-or-later
// Window-modal dialogs ("sheets") of one window. A window shows at most one sheet at a time;
// an alert asked for while a sheet is attached is not shown at all, as the layout windows
// expect.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

namespace quillion {

class SheetHost {
 public:
  explicit SheetHost(QWidget* window);
  ~SheetHost();
  SheetHost(const SheetHost&) = delete;
  SheetHost& operator=(const SheetHost&) = delete;

  bool hasAttachedSheet() const { return !current_->isNull(); }
  QDialog* currentSheet() const { return *current_; }

  // Shows `sheet` window-modal on the window and returns at once; `didEnd` receives the
  // dialog's result code when it finishes (by endSheet() or by its own buttons). Answers
  // false, and shows nothing, while another sheet is attached. The caller keeps ownership.
  bool beginSheet(QDialog* sheet, std::function<void(int returnCode)> didEnd = {});
  void endSheet(QDialog* sheet, int returnCode);

  // Beeps and shows a message sheet: title and message looked up in "GUIMsgs", one button per
  // key (the first is the default). `didEnd` receives the index of the pressed button, -1
  // when the sheet was closed without one. Does nothing, and answers false, while a sheet is
  // attached.
  bool alert(const QString& titleKey, const QString& messageKey,
             const QStringList& buttonKeys = {QStringLiteral("OK")},
             std::function<void(int button)> didEnd = {});

  // Runs `dialog` application-modal to its end. Main thread only.
  int runModal(QDialog* dialog);

 private:
  QPointer<QWidget> window_;
  // Shared with the sheet's end handler, which may run after this host is gone.
  std::shared_ptr<QPointer<QDialog>> current_ = std::make_shared<QPointer<QDialog>>();
};

}  // namespace quillion
