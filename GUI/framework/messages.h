// SPDX-License-Identifier: GPL-2.0-or-later
// The application's two string tables: "GUIMsgs" (every text the user sees, by English key)
// and "EngineErrorMsgs" (engine error titles, by status number). Both are compiled into the
// binary; a file of the same name plus ".txt" in $XDG_DATA_HOME/quillion/ overrides single
// entries, so a user or translator can change texts without rebuilding.
#pragma once

#include <memory>

#include "framework/string_table.h"

namespace quillion {

class MessageCatalog {
 public:
  // The compiled-in tables, each with the entries of `overrideDir`/<name>.txt on top.
  static MessageCatalog load(const QString& overrideDir);

  const StringTable& gui() const { return gui_; }
  const StringTable& engineErrors() const { return engineErrors_; }

 private:
  StringTable gui_;
  StringTable engineErrors_;
};

namespace Msg {

// The "GUIMsgs" text of `key`, or `key` itself when the table has none.
QString gui(const QString& key);
// The "EngineErrorMsgs" title of an engine status. Only the low 16 bits count, read as a
// signed number, so 65536 - 1134 and -1134 name the same entry; without an entry the title
// is the number.
QString engineError(int status);

// The catalog is loaded from userDataDir() at first use. Installing one replaces it (the
// application at start-up, tests after pointing XDG_DATA_HOME elsewhere).
void install(std::shared_ptr<const MessageCatalog> catalog);
std::shared_ptr<const MessageCatalog> catalog();

}  // namespace Msg

}  // namespace quillion
