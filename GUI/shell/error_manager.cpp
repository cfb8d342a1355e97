// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/error_manager.h"

#include "framework/messages.h"
#include "framework/sheet_host.h"
#include "quillion/SCS.h"

namespace quillion::ErrorManager {

void returnErrorStrings(int status, const MMC_SenseData& sense, QString* title, QString* message) {
  if (!title || !message) return;
  char text[kSCS_TextCapacity] = {};
  SCS_GetStringFromSense(&sense, text);
  *title = Msg::engineError(status);
  *message = QString::fromUtf8(text);
}

void displayError(int status, SheetHost& host, const MMC_SenseData& sense) {
  QString title, message;
  returnErrorStrings(status, sense, &title, &message);
  // A text without a "GUIMsgs" entry shows itself, so the finished texts pass as keys.
  (void)host.alert(title, message, {QStringLiteral("OK")});
}

}  // namespace quillion::ErrorManager
