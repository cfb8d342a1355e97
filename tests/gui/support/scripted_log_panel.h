// SPDX-License-Identifier: GPL-2.0-or-later
// A save panel that answers OK with a path the test chose, at once, and records each request.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "framework/save_panel.h"

namespace quillion::test {

class ScriptedLogPanel final : public SavePanel {
 public:
  bool beginSheet(SheetHost&, const SavePanelRequest& request,
                  std::function<void(int, const QString&)> didEnd) override {
    asked.push_back(request);
    didEnd(kOK, path);
    return true;
  }
  std::vector<SavePanelRequest> asked;
  QString path;
};

}  // namespace quillion::test
