// SPDX-License-Identifier: GPL-2.0-or-later
// The save panel a window shows as a sheet to ask for a file to write. Windows hold it
// through this interface, so that tests answer it from a script instead of a real dialog.
#pragma once

#include <QString>
#include <functional>

namespace quillion {

class SheetHost;

struct SavePanelRequest {
  QString prompt;        // the OK button's text; the platform's own when empty
  QString requiredType;  // extension without the dot; the chosen name always ends with it
  QString directory;     // the folder the panel starts in
  QString fileName;      // the name proposed in it
  bool canHideExtension = true;
};

class SavePanel {
 public:
  enum ReturnCode { kCancel = 0, kOK = 1 };
  virtual ~SavePanel() = default;

  // Shows the panel as a sheet of `host`'s window and returns at once; `didEnd` receives
  // kOK and the absolute chosen path, or kCancel and an empty path. Nothing is shown, and
  // `didEnd` is not called, while another sheet is attached: answers false then.
  virtual bool beginSheet(SheetHost& host, const SavePanelRequest& request,
                          std::function<void(int returnCode, const QString& path)> didEnd) = 0;

  // The file dialog of the platform.
  static SavePanel& platform();
};

// `path` with `.type` added unless it already ends with it (compared case-insensitively).
QString withRequiredType(const QString& path, const QString& type);

}  // namespace quillion
