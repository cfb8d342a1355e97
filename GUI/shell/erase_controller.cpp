// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/erase_controller.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWidget>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/cfmt.h"
#include "framework/main_thread.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "quillion/BP.h"
#include "quillion/GDT.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"

namespace quillion {

namespace erase_threads {

// Rewritable DVD and BD media are erased by writing over them through a job; its writer
// thread is started here and joined by the erase's worker once GDT_Erase has returned, so
// no thread of an erase outlives it.
std::mutex& mutex() {
  static std::mutex m;
  return m;
}

std::vector<std::thread>& started() {
  static std::vector<std::thread> threads;
  return threads;
}

std::int32_t create(std::int16_t /*flag*/, BP_ThreadRoutine routine,
                    BP_RuntimeSharedData* /*shared*/, std::uint32_t userData) {
  if (!routine) return 0;
  std::lock_guard lock(mutex());
  try {
    started().emplace_back([routine, userData] { routine(userData); });
  } catch (const std::system_error&) {
    return 0;  // the engine ends the job with an error
  }
  return 1;
}

void joinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex());
    threads.swap(started());
  }
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}

// A drive of the list, not an image writer or reader.
bool namesDrive(std::uint32_t ref) {
  return ref != 0 && ref != DeviceListManager::kImageRef && ref != DeviceListManager::kIsoImageRef;
}

}  // namespace erase_threads

EraseController::EraseController(DeviceListManager* devices, QObject* parent)
    : QObject(parent), devices_(devices) {}

EraseController::~EraseController() {
  cancel_ = true;
  worker_.cancelAndJoin();
}

bool EraseController::setDeviceRef(std::uint32_t ref) {
  if (erasing_) return false;
  ref_ = ref;
  if (window_) showDrive();
  return true;
}

QWidget* EraseController::window() {
  if (!window_) build();
  return window_.get();
}

void EraseController::showWindow() {
  QWidget* w = window();
  showDrive();
  w->show();
  w->raise();
  w->activateWindow();
}

void EraseController::build() {
  window_ = std::make_unique<QWidget>(nullptr, Qt::Window);
  window_->setObjectName(QStringLiteral("ErasePanel"));
  window_->setWindowTitle(Msg::gui(QStringLiteral("Erase Disc")));
  auto* layout = new QVBoxLayout(window_.get());
  driveField_ = new QLabel(window_.get());
  driveField_->setObjectName(QStringLiteral("EPdriveField"));
  quick_ = new QRadioButton(Msg::gui(QStringLiteral("Quick Erase")), window_.get());
  quick_->setObjectName(QStringLiteral("EPquickSwitch"));
  full_ = new QRadioButton(Msg::gui(QStringLiteral("Full Erase")), window_.get());
  full_->setObjectName(QStringLiteral("EPfullSwitch"));
  quick_->setChecked(true);
  progress_ = new QProgressBar(window_.get());
  progress_->setObjectName(QStringLiteral("EPprogressBar"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  statusField_ = new QLabel(window_.get());
  statusField_->setObjectName(QStringLiteral("EPstatusField"));
  eraseButton_ = new QPushButton(Msg::gui(QStringLiteral("Erase")), window_.get());
  eraseButton_->setObjectName(QStringLiteral("EPeraseButton"));
  eraseButton_->setDefault(true);
  closeButton_ = new QPushButton(Msg::gui(QStringLiteral("Close")), window_.get());
  closeButton_->setObjectName(QStringLiteral("EPcloseButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(closeButton_);
  buttons->addWidget(eraseButton_);
  for (QWidget* w : {static_cast<QWidget*>(driveField_), static_cast<QWidget*>(quick_),
                     static_cast<QWidget*>(full_), static_cast<QWidget*>(progress_),
                     static_cast<QWidget*>(statusField_)})
    layout->addWidget(w);
  layout->addLayout(buttons);
  connect(eraseButton_, &QPushButton::clicked, this, [this] { (void)startErase(); });
  connect(closeButton_, &QPushButton::clicked, window_.get(), &QWidget::close);
}

void EraseController::showDrive() {
  if (!driveField_) return;
  const bool known = devices_ && erase_threads::namesDrive(ref_);
  driveField_->setText(known ? devices_->titleOfDrive(ref_, true)
                             : Msg::gui(QStringLiteral("N/A")));
  if (!erasing_) eraseButton_->setEnabled(known);
}

void EraseController::setBusy(bool busy) {
  if (!window_) return;
  eraseButton_->setEnabled(!busy);
  quick_->setEnabled(!busy);
  full_->setEnabled(!busy);
  closeButton_->setEnabled(!busy);
}

bool EraseController::startErase() {
  if (erasing_ || !devices_ || !erase_threads::namesDrive(ref_)) return false;
  if (devices_->statusOfDevice(ref_) != kDriveReady) {
    if (statusField_) statusField_->setText(Msg::gui(QStringLiteral("Drive Busy")));
    return false;
  }
  const std::uint8_t blank = full_ && full_->isChecked() ? kFullBlank : kQuickBlank;
  erasing_ = true;
  erasingRef_ = ref_;
  cancel_ = false;
  devices_->updateStatus(erasingRef_, kDriveErasing);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  setBusy(true);
  if (progress_) progress_->setValue(0);
  if (statusField_) statusField_->setText(Msg::gui(QStringLiteral("Erasing Disc")));
  emit eraseStarted();

  struct Result {
    EngineStatus status;
    MMC_SenseData sense;
  };
  const std::uint32_t ref = erasingRef_;
  worker_.run(
      [this, ref, blank](std::stop_token) {
        const GDT_EraseController controller{&erase_threads::create,
                                             &EraseController::relayProgress, this, &cancel_};
        Result r{kNoErr, {}};
        r.status = GDT_Erase(ref, blank, &controller, &r.sense);
        erase_threads::joinAll();
        return r;
      },
      [this](Result r) { finished(r.status, r.sense); });
  return true;
}

void EraseController::relayProgress(void* self, std::uint32_t done, std::uint32_t total) {
  auto* controller = static_cast<EraseController*>(self);
  postToMain([controller, done, total] { controller->showProgress(done, total); }, controller);
}

void EraseController::showProgress(std::uint32_t done, std::uint32_t total) {
  if (!progress_ || !erasing_) return;
  const std::uint64_t percent = total == 0 ? 0 : std::uint64_t{done} * 100 / total;
  progress_->setValue(static_cast<int>(std::min<std::uint64_t>(percent, 100)));
}

void EraseController::finished(EngineStatus status, const MMC_SenseData& sense) {
  erasing_ = false;
  lastResult_ = status;
  lastSense_ = sense;
  if (devices_) {
    devices_->updateStatus(erasingRef_, kDriveReady);
    (void)devices_->refreshDiscStateNow(erasingRef_, true);
  }
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
  setBusy(false);
  if (statusField_) {
    if (status == kNoErr) {
      progress_->setValue(100);
      statusField_->setText(Msg::gui(QStringLiteral("Erase Complete")));
    } else {
      statusField_->setText(cfmt(QStringLiteral("%@ %@"), Msg::gui(QStringLiteral("Erase Failed")),
                                 Msg::engineError(status)));
    }
  }
  emit eraseFinished(status);
}

}  // namespace quillion
