// SPDX-License-Identifier: GPL-2.0-or-later
// The shell's shared objects a layout window burns with: the device list model, the
// settings, the temporary folders and the burn log's facts. The shell fills them in when it
// starts; a test fills in its own. A window without a device list refuses to burn.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "shell/burn_log.h"

namespace quillion {

class DeviceListManager;
class EraseController;
class Defaults;
class TempFolderMgr;

struct LayoutServices {
  DeviceListManager* devices = nullptr;
  Defaults* defaults = nullptr;          // Defaults::shared() when null
  TempFolderMgr* tempFolders = nullptr;  // no burn log without it
  std::function<BurnLogFacts()> logFacts;
  QString burnLogPath;  // BurnLog::burnLogPath() when empty
  // The erase panel every window shares, made on first use.
  std::shared_ptr<EraseController> eraser;
};

LayoutServices& layoutServices();

}  // namespace quillion
