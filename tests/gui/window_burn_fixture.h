// SPDX-License-Identifier: GPL-2.0-or-later
// What the window tests that burn headless share: a temporary folder, emulated drives, an
// executor that ends each pass by construction, manual timers on a virtual clock, settings of
// their own with the temporary-folder manager on a volume of its own, the device list and the
// services a layout window is made with, and the window itself (`Window`, a layout window
// controller). The test makes the window; the fixture takes it down before the device list
// and the drives go.
#pragma once

#include <QComboBox>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "device_environment.h"
#include "framework/defaults.h"
#include "framework/repeating_timer.h"
#include "layout/burn_panels.h"
#include "layout/layout_services.h"
#include "shell/device_list_manager.h"
#include "shell/preference_keys.h"
#include "shell/temp_folder_mgr.h"
#include "support/gui_test_env.h"
#include "support/inline_executor.h"
#include "support/temp_folders.h"
#include "tests/support/test_support.h"

namespace quillion::test {

// Chooses the destination `ref` in a layout window's pop-up, as a person would.
template <class Window>
void chooseDestinationIn(Window& window, std::uint32_t ref) {
  QComboBox* popup = window.driveBar()->layoutDstDriveButton;
  const int index = popup->findData(ref);
  ASSERT_GE(index, 0);
  popup->setCurrentIndex(index);
  ASSERT_EQ(window.burnSettings().dstDriveRef, ref);
}

template <class Window>
class WindowBurnTest : public GuiTest {
 protected:
  WindowBurnTest()
      : volume_(makeTempDir(QStringLiteral("burn-volume"))),
        logPath_(makeTempDir(QStringLiteral("burn-log")) + QStringLiteral("/vuklog.txt")),
        defaults_(makeTempDir(QStringLiteral("burn-settings")) + QStringLiteral("/quillion.conf")) {
    registerPreferenceDefaults(defaults_);
    defaults_.set(QString::fromLatin1(VUKCacheSizeKey), 2048);
    defaults_.set(QString::fromLatin1(VUKVerifyDataKey), false);
    temp_ = makeTestTempFolders(defaults_, volume_);
  }

  ~WindowBurnTest() override {
    window_.reset();
    layoutServices() = LayoutServices{};
    devices_.reset();
    env_.stop();
  }

  // A device list that has read the drives plugged in so far, and the services a layout
  // window made next uses.
  void makeDeviceList() {
    devices_ = std::make_unique<DeviceListManager>(
        QString(), [](QObject*, std::function<void()> fn) { fn(); });
    devices_->refreshDiscStateNow(0, true);
    layoutServices() = LayoutServices{devices_.get(), &defaults_,
                                      temp_.get(),    [] { return BurnLogFacts::fromSystem(0); },
                                      logPath_,       {}};
  }

  void chooseDestination(std::uint32_t ref) { chooseDestinationIn(*window_, ref); }

  // The disc in `drive` as an image file named after `name`.
  std::filesystem::path dumpDisc(emu::EmulatedDrive& drive, const std::string& name) {
    const std::filesystem::path iso = dir_.path() / (name + ".iso");
    bool dumped = false;
    EXPECT_TRUE(drive.withMedium([&](emu::Medium& m) { dumped = m.dumpIso(iso); }));
    EXPECT_TRUE(dumped);
    return iso;
  }

  TempDir dir_;
  emu::DeviceEnvironment env_;
  InlineExecutor executor_;
  VirtualClock timerClock_;
  ManualTimerSource timers_{timerClock_};
  ScopedTimerSourceOverride timerOverride_{timers_};
  QString volume_;
  QString logPath_;
  Defaults defaults_;
  std::unique_ptr<TempFolderMgr> temp_;
  std::unique_ptr<DeviceListManager> devices_;
  std::unique_ptr<Window> window_;
};

}  // namespace quillion::test
