// SPDX-License-Identifier: GPL-2.0-or-later
// The erase panel: one shared panel of the application that blanks the rewritable disc in a
// chosen drive, quickly or whole, shows the progress and the result. The erase runs on a
// worker; the worker hands progress and result to the main thread and never touches a
// widget. While it runs, the drive's status in the device list is "erasing", so windows
// show the drive busy; afterwards it is ready again with its disc state read anew.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "framework/worker_runner.h"
#include "quillion/MMC.h"
#include "quillion/status.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace quillion {

class DeviceListManager;

class EraseController : public QObject {
  Q_OBJECT

 public:
  // The BLANK command's byte 1 of each choice.
  static constexpr std::uint8_t kQuickBlank = 0x11;
  static constexpr std::uint8_t kFullBlank = 0x10;

  explicit EraseController(DeviceListManager* devices, QObject* parent = nullptr);
  ~EraseController() override;  // stops a running erase where it can and waits for it

  // The drive to erase; refused (answers false) while an erase runs.
  bool setDeviceRef(std::uint32_t ref);
  std::uint32_t deviceRef() const { return ref_; }
  // Shows the panel (built on first use) with the chosen drive.
  void showWindow();
  QWidget* window();

  // The Erase button: blanks the chosen drive's disc in the chosen way. False when nothing
  // was started (no drive, a drive not ready, an erase already running).
  bool startErase();
  bool isErasing() const { return erasing_; }
  // The status of the last finished erase.
  std::optional<EngineStatus> lastResult() const { return lastResult_; }
  const MMC_SenseData& lastSense() const { return lastSense_; }

  // The panel's controls.
  QLabel* driveField() const { return driveField_; }
  QRadioButton* quickSwitch() const { return quick_; }
  QRadioButton* fullSwitch() const { return full_; }
  QPushButton* eraseButton() const { return eraseButton_; }
  QPushButton* closeButton() const { return closeButton_; }
  QProgressBar* progressBar() const { return progress_; }
  QLabel* statusField() const { return statusField_; }

 signals:
  void eraseStarted();
  void eraseFinished(int status);

 private:
  void build();
  void showDrive();
  void setBusy(bool busy);
  void showProgress(std::uint32_t done, std::uint32_t total);
  static void relayProgress(void* self, std::uint32_t done, std::uint32_t total);
  void finished(EngineStatus status, const MMC_SenseData& sense);

  QPointer<DeviceListManager> devices_;
  std::uint32_t ref_ = 0;
  std::uint32_t erasingRef_ = 0;
  bool erasing_ = false;
  std::optional<EngineStatus> lastResult_;
  MMC_SenseData lastSense_{};

  std::unique_ptr<QWidget> window_;
  QLabel* driveField_ = nullptr;
  QRadioButton* quick_ = nullptr;
  QRadioButton* full_ = nullptr;
  QPushButton* eraseButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* statusField_ = nullptr;

  // Declared last: the worker ends before anything above goes.
  std::atomic<bool> cancel_{false};
  WorkerRunner worker_;
};

}  // namespace quillion
