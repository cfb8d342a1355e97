// SPDX-License-Identifier: GPL-2.0-or-later
// The web pages the Internet menu opens, one per action. Each address is built in (empty
// unless the build names one) and a setting of its own can name another; a page without an
// address has its menu item disabled.
#pragma once

#include <QString>
#include <QUrl>
#include <span>

namespace quillion {

class Defaults;

struct WebPage {
  const char* action;      // the menu action's name
  const char* title;       // "GUIMsgs" key of the menu item
  const char* settingKey;  // the setting that overrides the built-in address
  const char* builtIn;     // the address the build was given, often ""
};

std::span<const WebPage> webPages();
// The page of `action`, or nullptr when no action has that name.
const WebPage* findWebPage(const QString& action);
// The setting when it holds an address, else the built-in one; empty when there is none.
QUrl webPageAddress(const WebPage& page, const Defaults& defaults);

}  // namespace quillion
