// SPDX-License-Identifier: GPL-2.0-or-later
// The open panel a window shows as a sheet to ask for files and folders to add. Windows hold
// it through this interface, so that tests answer it from a script instead of a real dialog.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace quillion {

class SheetHost;

struct OpenPanelRequest {
  QString directory;  // the folder the panel starts in
  // Extensions without the dot that the panel shows; an empty list, or one of empty
  // entries only, shows every file.
  QStringList types;
  bool allowsMultipleSelection = true;
};

class OpenPanel {
 public:
  enum ReturnCode { kCancel = 0, kOK = 1 };
  virtual ~OpenPanel() = default;

  // Shows the panel as a sheet of `host`'s window and returns at once; `didEnd` receives kOK
  // and the chosen absolute paths in the order chosen, or kCancel and none. Nothing is shown,
  // and `didEnd` is not called, while another sheet is attached: answers false then.
  virtual bool beginSheet(SheetHost& host, const OpenPanelRequest& request,
                          std::function<void(int returnCode, const QStringList& paths)> didEnd) = 0;

  // The file dialog of the platform: files and folders may be chosen together.
  static OpenPanel& platform();
};

// The name filter of the platform's dialog for `types`, e.g. "*.doc *.DOC"; "*" for every
// file.
QString openPanelNameFilter(const QStringList& types);

}  // namespace quillion
